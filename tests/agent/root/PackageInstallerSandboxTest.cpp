// The package engine with the real system paths, as root inside the test
// sandbox: the demo package goes to /opt/quorvantis-remote, receipts and
// backups to /var/lib/com.quorvantis.remote, the reboot setting comes from
// /etc/com.quorvantis.remote/agent.plist. A full disk is a small tmpfs mounted
// over the install location.
#include "agent/PackageInstaller.h"
#include "agent/PackageReceipt.h"
#include "agent/RebootCommand.h"
#include "platform/PropertyList.h"

#include "../PackageBuilder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string kLocation = "/opt/quorvantis-remote";
const std::string kReceipt = "/var/lib/com.quorvantis.remote/receipts/com.quorvantis.remote.service.plist";

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class PackageInstallerSandboxTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "runs only as root inside tests/sandbox: it installs into system paths";
    }
    void TearDown() override {
        if (!testsupport::rootInSandbox())
            return;
        ::umount2(kLocation.c_str(), MNT_DETACH);
        std::error_code ignored;
        fs::remove_all(kLocation, ignored);
        fs::remove_all(PackageInstaller::kDataFolder, ignored);
        fs::remove_all("/etc/com.quorvantis.remote", ignored);
    }
    testsupport::TemporaryFolder m_folder;
};

TEST_F(PackageInstallerSandboxTest, InstallsUpdatesAndUninstallsTheDemoPackageAtTheRealPaths) {
    PackageInstaller installer;
    const auto installed = installer.install(QVT_DEMO_PACKAGE);
    ASSERT_TRUE(installed.ok()) << installed.reason();
    EXPECT_TRUE(fs::exists(kLocation + "/bin/qvt-remote-service"));
    EXPECT_TRUE(fs::exists(kLocation + "/etc/service.conf"));
    EXPECT_TRUE(fs::exists(kLocation + "/README.txt"));
    std::string error;
    const auto receipt = PackageReceipt::read(kReceipt, error);
    ASSERT_TRUE(receipt) << error;
    EXPECT_EQ(receipt->installLocation, kLocation);

    // A newer version with a changed configuration: the old one is backed up.
    PackageBuilder newer(m_folder.path() + "/newer", "com.quorvantis.remote.service", "99.0", kLocation);
    newer
        .file("bin/qvt-remote-service",
              readFile(std::string(QVT_DEMO_PACKAGE) + "/Payload/bin/qvt-remote-service"), 0755)
        .file("etc/service.conf",
              readFile(std::string(QVT_DEMO_PACKAGE) + "/Payload/etc/service.conf") + "# changed\n");
    const auto updated = installer.update(newer.path());
    ASSERT_TRUE(updated.ok()) << updated.reason();
    const auto after = PackageReceipt::read(kReceipt, error);
    ASSERT_TRUE(after) << error;
    EXPECT_EQ(after->version, "99.0");
    EXPECT_FALSE(fs::exists(kLocation + "/README.txt"));
    const std::string backups =
        "/var/lib/com.quorvantis.remote/backups/com.quorvantis.remote.service/" + after->backup;
    EXPECT_EQ(readFile(backups + "/etc/service.conf"),
              readFile(std::string(QVT_DEMO_PACKAGE) + "/Payload/etc/service.conf"));

    const auto removed = installer.uninstall(false);
    ASSERT_TRUE(removed.ok()) << removed.reason();
    EXPECT_FALSE(fs::exists(kLocation));
    EXPECT_FALSE(fs::exists(kReceipt));
    EXPECT_TRUE(fs::exists(backups + "/etc/service.conf"));
    EXPECT_EQ(installer.uninstall(true).status(), InstallResult::Success)
        << "the leftover backups are removed";
    EXPECT_FALSE(fs::exists("/var/lib/com.quorvantis.remote/backups"));
}

TEST_F(PackageInstallerSandboxTest, AFullDiskRestoresThePreviousInstallation) {
    fs::create_directories(kLocation);
    ASSERT_EQ(::mount("qvt-full", kLocation.c_str(), "tmpfs", 0, "size=256k,mode=0755"), 0)
        << strerror(errno);
    PackageInstaller installer;
    ASSERT_TRUE(installer.install(QVT_DEMO_PACKAGE).ok());
    const std::string receiptBefore = readFile(kReceipt);
    const std::string confBefore = readFile(kLocation + "/etc/service.conf");
    const std::string serviceBefore = readFile(kLocation + "/bin/qvt-remote-service");

    PackageBuilder big(m_folder.path() + "/big", "com.quorvantis.remote.service", "4.0", kLocation);
    big.file("etc/service.conf", "changed\n").file("share/data.bin", std::string(1 << 20, 'd'));
    const auto result = installer.update(big.path());

    EXPECT_EQ(result.status(), InstallResult::DiskFull) << result.reason();
    EXPECT_EQ(readFile(kReceipt), receiptBefore);
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), confBefore);
    EXPECT_EQ(readFile(kLocation + "/bin/qvt-remote-service"), serviceBefore);
    EXPECT_FALSE(fs::exists(kLocation + "/share"));
    const auto status = testsupport::runProcess({kLocation + "/bin/qvt-remote-service", "--check"});
    EXPECT_EQ(status.exitStatus, 0) << status.errors;
}

TEST_F(PackageInstallerSandboxTest, NoRoomForTheBackupsRestoresThePreviousInstallation) {
    const std::string data = PackageInstaller::kDataFolder;
    fs::create_directories(data);
    ASSERT_EQ(::mount("qvt-full", data.c_str(), "tmpfs", 0, "size=128k,mode=0755"), 0) << strerror(errno);
    PackageBuilder first(m_folder.path() + "/first", "com.quorvantis.remote.service", "1.0", kLocation);
    first.file("share/data.bin", std::string(512 << 10, '1')).file("etc/service.conf", "one\n");
    PackageInstaller installer;
    ASSERT_TRUE(installer.install(first.path()).ok());
    const std::string receiptBefore = readFile(kReceipt);

    PackageBuilder second(m_folder.path() + "/second", "com.quorvantis.remote.service", "2.0", kLocation);
    second.file("share/data.bin", std::string(512 << 10, '2')).file("etc/service.conf", "two\n");
    const auto result = installer.update(second.path());
    ::umount2(data.c_str(), MNT_DETACH);

    EXPECT_EQ(result.status(), InstallResult::DiskFull) << result.reason();
    EXPECT_EQ(readFile(kLocation + "/share/data.bin"), std::string(512 << 10, '1'));
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), "one\n");
}

TEST_F(PackageInstallerSandboxTest, RebootRunsTheCommandConfiguredInTheAgentSettings) {
    const std::string stamp = "/run/qvt-reboot-stamp";
    fs::create_directories("/etc/com.quorvantis.remote");
    platform::PropertyList settings;
    settings.set("RebootCommand", "/usr/bin/touch " + stamp);
    ASSERT_TRUE(settings.writeFile(RebootCommand::kConfigPath));

    const auto result = RebootCommand::run();

    EXPECT_TRUE(result.ok()) << result.reason();
    EXPECT_TRUE(fs::exists(stamp));
}

} // namespace
