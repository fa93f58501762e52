// The information list embedded in an executable: written by the build into the
// ELF section __info_plist, read back by platform::ExecutableInfo. Damaged files
// must yield nothing and never crash the reader.
#include "LinkTestSupport.h"

#include "agentlink/PHAgentClient.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <random>

namespace {

using testsupport::readFile;
using testsupport::TemporaryFolder;

// This test program embeds its own list (see tests/agentlink/CMakeLists.txt); the
// real agent's is read back by the client's test at the end.
const std::string& selfImage() {
    static const std::string image = readFile("/proc/self/exe");
    return image;
}

std::string withSectionTableAt(uint64_t offset) {
    std::string image = selfImage();
    std::memcpy(image.data() + 0x28, &offset, sizeof offset); // e_shoff of a 64-bit ELF header
    return image;
}

TEST(ExecutableInfo, DamagedFilesYieldNoInformation) {
    const std::pair<const char*, std::string> cases[] = {
        {"empty", ""},
        {"text", "#!/bin/sh\necho hello\n"},
        {"ELF magic only", "\x7f"
                           "ELF"},
        {"truncated to the header", selfImage().substr(0, 64)},
        {"truncated to half", selfImage().substr(0, selfImage().size() / 2)},
        {"truncated by one byte", selfImage().substr(0, selfImage().size() - 1)},
        {"section table beyond the end", withSectionTableAt(uint64_t(1) << 40)},
        {"section table inside the header", withSectionTableAt(8)},
    };
    TemporaryFolder dir;
    for (const auto& [name, bytes] : cases) {
        const std::string path = dir.write("file", bytes);
        EXPECT_FALSE(platform::ExecutableInfo::sectionBytes(path)) << name;
    }
    // Nor do missing files, folders and executables without the section.
    for (const char* path : {"/nonexistent/agent", "/tmp", "/bin/sh"})
        EXPECT_FALSE(platform::ExecutableInfo::read(path)) << path;
}

TEST(ExecutableInfo, RandomDamageNeverCrashesTheReader) {
    // Byte flips all over the headers and the section table: each result is
    // either nothing or the list as embedded.
    TemporaryFolder dir;
    const std::string& image = selfImage();
    uint64_t sectionTable;
    std::memcpy(&sectionTable, image.data() + 0x28, sizeof sectionTable);
    std::mt19937_64 random(42);
    for (int round = 0; round < 60; ++round) {
        std::string damaged = image;
        for (int flip = 0; flip < 8; ++flip) {
            const bool inTable = random() % 2 && sectionTable < damaged.size();
            const size_t base = inTable ? sectionTable : 0;
            const size_t span = inTable ? damaged.size() - sectionTable : 64;
            damaged[base + random() % span] = static_cast<char>(random());
        }
        const std::string path = dir.write("damaged", damaged);
        const auto info = platform::ExecutableInfo::read(path);
        if (info) {
            EXPECT_EQ(info->string("CFBundleIdentifier"), "com.quorvantis.tests.agentlink");
        }
    }
}

TEST(PHAgentClient, ReadsTheShippedAgentsIdentityFromTheBundle) {
    TemporaryFolder dir;
    const std::string bundle = dir.path() + "/Installer.app";
    const std::string agentPath = "Library/LaunchServices/com.quorvantis.remote.RInstallerAgent";
    dir.write("Installer.app/Contents/" + agentPath, readFile(QVT_AGENT_PATH));
    const platform::Bundle previous = platform::Bundle::main();
    platform::Bundle::setMain(platform::Bundle(bundle + "/Contents/MacOS/Installer"));

    auto client = std::make_shared<PHAgentClient>(-1, agentPath, false);
    EXPECT_EQ(client->agentBundleId(), "com.quorvantis.remote.RInstallerAgent");
    EXPECT_EQ(client->embeddedToolVersion(), QVT_PROJECT_VERSION);
    EXPECT_EQ(PHAgentClient::agentExecutablePath(agentPath), bundle + "/Contents/" + agentPath);

    std::shared_ptr<PHAgentClient> missing;
    const auto lines = logLines(
        [&] { missing = std::make_shared<PHAgentClient>(-1, "Library/LaunchServices/missing", false); });
    platform::Bundle::setMain(previous);
    EXPECT_EQ(missing->agentBundleId(), "");
    EXPECT_EQ(missing->embeddedToolVersion(), "");
    EXPECT_EQ(lines, std::vector<std::string>{"No information list in agent executable: " + bundle +
                                              "/Contents/Library/LaunchServices/missing"});
}

} // namespace
