// The package engine with the real system paths, as root inside the test sandbox: a full disk is a small
// tmpfs mounted over the install location or the data folder. (The agent's command and crash tests cover the
// rest at these paths.)
#include "agent/package/PackageInstaller.h"

#include "../PackageBuilder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/mount.h>

namespace fs = std::filesystem;

namespace {

using testsupport::readFile;

const std::string kLocation = "/opt/quorvantis-remote";
const std::string kReceipt = "/var/lib/com.quorvantis.remote/receipts/com.quorvantis.remote.service.plist";

TEST(PackageInstallerSandboxTest, AFullDiskRestoresThePreviousInstallation) {
    if (!testsupport::rootInSandbox())
        GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
    testsupport::TemporaryFolder packages;
    const std::tuple<std::string, const char*, size_t> cases[] = {
        // the folder made small, its size, the bytes of the data file of versions 1.0 and 2.0
        {kLocation, "256k", 1 << 10},
        {std::string(PackageInstaller::kDataFolder) + "/backups", "128k",
         512 << 10},                                      // no room for the backups
        {PackageInstaller::kDataFolder, "512k", 1 << 10}, // no room for the verified copy of version 2.0
    };
    for (const auto& [folder, size, dataBytes] : cases) {
        fs::create_directories(folder);
        ASSERT_EQ(
            ::mount("qvt-full", folder.c_str(), "tmpfs", 0, (std::string("mode=0755,size=") + size).c_str()),
            0)
            << std::strerror(errno);
        for (const char* version : {"1.0", "2.0"})
            PackageBuilder(packages.path() + "/" + version, "com.quorvantis.remote.service", version,
                           kLocation)
                .file("etc/service.conf", version)
                .file("share/data.bin", std::string(version[0] == '1' ? dataBytes : 1 << 20, version[0]))
                .sign();
        PackageInstaller::Options options;
        options.publicKey = testsupport::signingPublicKey();
        PackageInstaller installer(options);
        ASSERT_TRUE(installer.install(packages.path() + "/1.0").ok()) << folder;
        const std::string receiptBefore = readFile(kReceipt);

        const auto result = installer.update(packages.path() + "/2.0");

        EXPECT_EQ(result.status(), InstallResult::DiskFull) << result.reason();
        EXPECT_EQ(readFile(kReceipt), receiptBefore) << folder;
        EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), "1.0") << folder;
        EXPECT_EQ(readFile(kLocation + "/share/data.bin"), std::string(dataBytes, '1')) << folder;
        ::umount2(folder.c_str(), MNT_DETACH);
        for (const std::string& used : {kLocation, std::string(PackageInstaller::kDataFolder)})
            fs::remove_all(used);
    }
}

} // namespace
