// The information list embedded in an executable: written by the build into the
// ELF section __info_plist, read back by platform::ExecutableInfo. Damaged files
// must yield nothing and never crash the reader.
#include "LogCapture.h"

#include "agentlink/PHAgentClient.h"
#include "platform/Bundle.h"
#include "platform/ExecutableInfo.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

namespace {

namespace fs = std::filesystem;

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/agentlink-info-XXXXXX";
        m_path = ::mkdtemp(pattern);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir() { fs::remove_all(m_path); }
    const std::string& path() const { return m_path; }
    std::string write(const std::string& name, const std::string& bytes) const {
        const std::string file = m_path + "/" + name;
        fs::create_directories(fs::path(file).parent_path());
        std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::string m_path;
};

// This test program embeds its own list (see tests/agentlink/CMakeLists.txt).
const std::string& selfImage() {
    static const std::string image = readFile("/proc/self/exe");
    return image;
}

TEST(ExecutableInfo, ReadsTheListEmbeddedByTheBuild) {
    const auto info = platform::ExecutableInfo::read("/proc/self/exe");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->string("CFBundleIdentifier"), "com.quorvantis.tests.agentlink");
    EXPECT_EQ(info->string("CFBundleVersion"), "9.8.7");
}

TEST(ExecutableInfo, ReadsTheRealAgentsIdentityAndVersion) {
    const auto info = platform::ExecutableInfo::read(QVT_AGENT_PATH);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->string("CFBundleIdentifier"), "com.quorvantis.remote.RInstallerAgent");
    EXPECT_EQ(info->string("CFBundleVersion"), QVT_PROJECT_VERSION);
}

struct DamagedCase {
    const char* name;
    std::string bytes;
};

class DamagedFiles : public testing::TestWithParam<DamagedCase> {};

TEST_P(DamagedFiles, YieldNoInformation) {
    TempDir dir;
    const std::string path = dir.write("file", GetParam().bytes);
    EXPECT_FALSE(platform::ExecutableInfo::sectionBytes(path));
    EXPECT_FALSE(platform::ExecutableInfo::read(path));
}

std::string withSectionTableAt(uint64_t offset) {
    std::string image = selfImage();
    std::memcpy(image.data() + 0x28, &offset, sizeof offset); // e_shoff of a 64-bit ELF header
    return image;
}

INSTANTIATE_TEST_SUITE_P(
    ExecutableInfo, DamagedFiles,
    testing::Values(DamagedCase{"empty", ""}, DamagedCase{"text", "#!/bin/sh\necho hello\n"},
                    DamagedCase{"elfMagicOnly", "\x7f"
                                                "ELF"},
                    DamagedCase{"truncatedToHeader", selfImage().substr(0, 64)},
                    DamagedCase{"truncatedToHalf", selfImage().substr(0, selfImage().size() / 2)},
                    DamagedCase{"truncatedByOneByte", selfImage().substr(0, selfImage().size() - 1)},
                    DamagedCase{"sectionTableBeyondEnd", withSectionTableAt(uint64_t(1) << 40)},
                    DamagedCase{"sectionTableInsideHeader", withSectionTableAt(8)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ExecutableInfo, MissingFilesAndFoldersYieldNoInformation) {
    EXPECT_FALSE(platform::ExecutableInfo::read("/nonexistent/agent"));
    EXPECT_FALSE(platform::ExecutableInfo::read("/tmp"));
}

TEST(ExecutableInfo, AnExecutableWithoutTheSectionYieldsNoInformation) {
    EXPECT_FALSE(platform::ExecutableInfo::read("/bin/sh"));
}

TEST(ExecutableInfo, RandomDamageNeverCrashesTheReader) {
    // Byte flips all over the headers and the section table: each result is
    // either nothing or the list as embedded.
    TempDir dir;
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
    TempDir dir;
    const std::string bundle = dir.path() + "/Installer.app";
    const std::string agentPath = "Library/LaunchServices/com.quorvantis.remote.RInstallerAgent";
    dir.write("Installer.app/Contents/" + agentPath, readFile(QVT_AGENT_PATH));
    const platform::Bundle previous = platform::Bundle::main();
    platform::Bundle::setMain(platform::Bundle(bundle + "/Contents/MacOS/Installer"));

    auto client = std::make_shared<PHAgentClient>(-1, agentPath, false);
    EXPECT_EQ(client->agentBundleId(), "com.quorvantis.remote.RInstallerAgent");
    EXPECT_EQ(client->embeddedToolVersion(), QVT_PROJECT_VERSION);
    EXPECT_EQ(client->agentName(), agentPath);
    EXPECT_EQ(PHAgentClient::agentExecutablePath(agentPath), bundle + "/Contents/" + agentPath);

    LogCapture log;
    auto missing = std::make_shared<PHAgentClient>(-1, "Library/LaunchServices/missing", false);
    log.restore();
    platform::Bundle::setMain(previous);
    EXPECT_EQ(missing->agentBundleId(), "");
    EXPECT_EQ(missing->embeddedToolVersion(), "");
    EXPECT_EQ(log.lines(), std::vector<std::string>{"No information list in agent executable: " + bundle +
                                                    "/Contents/Library/LaunchServices/missing"});
}

} // namespace
