// The package engine with the real system paths, as root inside the test
// sandbox: packages go to /opt/quorvantis-remote, receipts and backups to
// /var/lib/com.quorvantis.remote. A full disk is a small tmpfs mounted over the
// install location or the data folder. (The agent's command tests cover the
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

class PackageInstallerSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
    }
    void TearDown() override {
        if (!testsupport::rootInSandbox())
            return;
        for (const std::string& folder : {kLocation, std::string(PackageInstaller::kDataFolder)}) {
            ::umount2(folder.c_str(), MNT_DETACH);
            std::error_code ignored;
            fs::remove_all(folder, ignored);
        }
    }

    /// A folder the size of \p size made full by mounting a tmpfs over it.
    static void mountSmall(const std::string& folder, const char* size) {
        fs::create_directories(folder);
        ASSERT_EQ(
            ::mount("qvt-full", folder.c_str(), "tmpfs", 0, (std::string("mode=0755,size=") + size).c_str()),
            0)
            << strerror(errno);
    }

    /// The service package at \p version with a configuration and a data file of \p dataBytes.
    std::unique_ptr<PackageBuilder> package(const std::string& version, const std::string& conf,
                                            size_t dataBytes) {
        auto result = std::make_unique<PackageBuilder>(m_folder.path() + "/" + version,
                                                       "com.quorvantis.remote.service", version, kLocation);
        result->file("etc/service.conf", conf).file("share/data.bin", std::string(dataBytes, version[0]));
        return result;
    }

    testsupport::TemporaryFolder m_folder;
};

TEST_F(PackageInstallerSandboxTest, AFullDiskRestoresThePreviousInstallation) {
    ASSERT_NO_FATAL_FAILURE(mountSmall(kLocation, "256k"));
    PackageInstaller installer;
    ASSERT_TRUE(installer.install(QVT_DEMO_PACKAGE).ok());
    const std::string receiptBefore = readFile(kReceipt);
    const std::string confBefore = readFile(kLocation + "/etc/service.conf");
    const std::string serviceBefore = readFile(kLocation + "/bin/qvt-remote-service");

    const auto result = installer.update(package("4.0", "changed\n", 1 << 20)->path());

    EXPECT_EQ(result.status(), InstallResult::DiskFull) << result.reason();
    EXPECT_EQ(readFile(kReceipt), receiptBefore);
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), confBefore);
    EXPECT_EQ(readFile(kLocation + "/bin/qvt-remote-service"), serviceBefore);
    EXPECT_FALSE(fs::exists(kLocation + "/share"));
    const auto status = testsupport::runProcess({kLocation + "/bin/qvt-remote-service", "--check"});
    EXPECT_EQ(status.exitStatus, 0) << status.errors;
}

TEST_F(PackageInstallerSandboxTest, NoRoomForTheBackupsRestoresThePreviousInstallation) {
    ASSERT_NO_FATAL_FAILURE(mountSmall(PackageInstaller::kDataFolder, "128k"));
    PackageInstaller installer;
    ASSERT_TRUE(installer.install(package("1.0", "one\n", 512 << 10)->path()).ok());

    const auto result = installer.update(package("2.0", "two\n", 512 << 10)->path());

    EXPECT_EQ(result.status(), InstallResult::DiskFull) << result.reason();
    EXPECT_EQ(readFile(kLocation + "/share/data.bin"), std::string(512 << 10, '1'));
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), "one\n");
}

} // namespace
