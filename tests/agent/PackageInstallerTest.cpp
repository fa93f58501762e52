// The package engine with its install root and data folder moved into a temporary folder: real files, scripts
// and processes, the system untouched.
#include "agent/package/PackageInstaller.h"
#include "agent/package/PackageFiles.h"
#include "agent/package/PackageReceipt.h"

#include "PackageBuilder.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using testsupport::readFile;

namespace {

const std::string kId = "com.quorvantis.test.pkg";
const std::string kLocation = "/opt/qvt-test";

bool exists(const std::string& path) {
    return fs::exists(fs::symlink_status(path));
}

/// Nothing an unfinished operation leaves: no temporary file, no journal.
void expectNoLeftovers(const std::map<std::string, std::string>& state, const std::string& where) {
    for (const auto& [path, value] : state)
        EXPECT_TRUE(path.find(".qvt-") == std::string::npos && path.find("journal") == std::string::npos)
            << path << ", " << where;
}

class PackageInstallerTest : public ::testing::Test {
protected:
    // The install root and the data folder in memory where it can: syncs on a busy disk take long.
    void SetUp() override {
        char pattern[] = "/dev/shm/qvt-engine.XXXXXX";
        const char* made = ::mkdtemp(pattern);
        m_system = made ? made : m_folder.path();
        fs::create_directories(root());
    }
    void TearDown() override {
        if (m_system != m_folder.path())
            fs::remove_all(m_system);
    }

    std::string root() const { return m_system + "/root"; }
    std::string data() const { return m_system + "/data"; }
    std::string installed(const std::string& relative) const { return root() + kLocation + "/" + relative; }
    std::string receipt() const { return data() + "/receipts/" + kId + ".plist"; }
    std::string backupSet(const std::string& name) const { return data() + "/backups/" + kId + "/" + name; }

    PackageInstaller installer(std::function<void(const char*)> afterStep = {}) {
        return PackageInstaller(
            {data(), root(), std::chrono::seconds(3), std::move(afterStep), testsupport::signingPublicKey()},
            [this](double percent, const std::string& info) { m_progress.emplace_back(percent, info); });
    }

    platform::Result<PackageReceipt> readReceipt() const {
        auto result = PackageReceipt::read(receipt());
        EXPECT_TRUE(result) << result.failure().description;
        return result;
    }

    /// Version 1 (or \p version): bin/tool, etc/tool.conf and doc/old.txt; version 2 changes the
    /// configuration, adds share/new.txt and drops doc/old.txt.
    std::unique_ptr<PackageBuilder> version1(const std::string& name = "v1",
                                             const std::string& version = "1.0") {
        auto p =
            std::make_unique<PackageBuilder>(m_folder.path() + "/packages/" + name, kId, version, kLocation);
        const bool two = version == "2.0";
        const std::string n = two ? "2" : "1";
        p->file("bin/tool", "#!/bin/sh\necho tool " + n + "\n", 0755)
            .file("etc/tool.conf", "setting=" + n + "\n", 0640)
            .file(two ? "share/new.txt" : "doc/old.txt", two ? "new in version 2\n" : "only in version 1\n");
        return p;
    }
    std::unique_ptr<PackageBuilder> version2(const std::string& name = "v2") { return version1(name, "2.0"); }

    /// The install root and the whole data folder but its lock, for before/after comparisons.
    std::map<std::string, std::string> systemState() const { return ::systemState(root(), data()); }
    void clearSystem() {
        fs::remove_all(root() + "/opt");
        fs::remove_all(data());
    }

    testsupport::TemporaryFolder m_folder;
    std::string m_system;
    std::vector<std::pair<double, std::string>> m_progress;
};

TEST_F(PackageInstallerTest, InstallIntoAnEmptySystemCopiesThePayloadWritesTheReceiptAndReportsProgress) {
    auto package = version1();
    package->link("bin/tool-link", "tool").link("etc/abs-link", kLocation + "/etc/tool.conf");
    // Two large files: progress shows between them even where a file is placed at once (a hard link).
    package->file("share/big.bin", std::string(10 << 20, 'x'))
        .file("share/big2.bin", std::string(10 << 20, 'y'));
    package->script("postinstall", "true");

    const auto result = installer().install(package->sign());

    ASSERT_TRUE(result.ok()) << result.reason();
    EXPECT_EQ(snapshot(root() + kLocation), snapshot(package->path() + "/Payload"));
    const auto written = readReceipt();
    ASSERT_TRUE(written);
    EXPECT_EQ(written->version, "1.0");
    EXPECT_EQ(written->installLocation, kLocation);
    EXPECT_EQ(written->files,
              (std::vector<std::string>{"bin/tool", "bin/tool-link", "doc/old.txt", "etc/abs-link",
                                        "etc/tool.conf", "share/big.bin", "share/big2.bin"}));
    EXPECT_EQ(written->folders, (std::vector<std::string>{"bin", "doc", "etc", "share"}));
    EXPECT_EQ(written->createdLocations, (std::vector<std::string>{"/opt", "/opt/qvt-test"}));
    // Nothing replaced, nothing backed up; no temporary file and no journal left.
    expectNoLeftovers(systemState(), "install");
    EXPECT_FALSE(exists(data() + "/backups"));
    EXPECT_FALSE(exists(data() + "/staging"));
    struct stat placed {};
    ASSERT_EQ(::stat(installed("share/big.bin").c_str(), &placed), 0);
    EXPECT_EQ(placed.st_nlink, 1u) << "an installed file still shares its bytes with the staged copy";

    ASSERT_FALSE(m_progress.empty());
    EXPECT_EQ(m_progress.front().first, 0);
    EXPECT_EQ(m_progress.back(), std::make_pair(100.0, std::string("Installation complete")));
    EXPECT_LE(m_progress.size(), 110u) << "about one call per percent, not per chunk or byte";
    const auto saw = [&](auto match) { return std::any_of(m_progress.begin(), m_progress.end(), match); };
    EXPECT_TRUE(saw([](auto& c) { return c.second == "Copying files" && c.first > 0 && c.first < 100; }));
    EXPECT_TRUE(saw([](auto& c) { return c.second == "Running postinstall script"; }));
}

TEST_F(PackageInstallerTest, UpdateReplacesFilesKeepsBackupsAndRewritesTheReceipt) {
    const auto previous = version1();
    ASSERT_TRUE(installer().install(previous->sign()).ok());
    const auto result = installer().update(version2()->sign());

    ASSERT_TRUE(result.ok()) << result.reason();
    EXPECT_EQ(readFile(installed("etc/tool.conf")), "setting=2\n");
    EXPECT_EQ(readFile(installed("share/new.txt")), "new in version 2\n");
    EXPECT_FALSE(exists(installed("doc/old.txt"))) << "a file version 2 no longer has is removed";
    const auto written = readReceipt();
    ASSERT_TRUE(written);
    EXPECT_EQ(written->version, "2.0");
    EXPECT_EQ(written->files, (std::vector<std::string>{"bin/tool", "etc/tool.conf", "share/new.txt"}));
    // The folder version 1 made stays listed, so the uninstall still removes it.
    EXPECT_NE(std::find(written->folders.begin(), written->folders.end(), "doc"), written->folders.end());
    EXPECT_NE(written->backup.find("-1.0"), std::string::npos)
        << "the set is named after the version it saved";
    EXPECT_EQ(snapshot(backupSet(written->backup), true), snapshot(previous->path() + "/Payload", true))
        << "exactly version 1, with modes";
}

TEST_F(PackageInstallerTest, AnUpdateToANewInstallLocationCleansUpTheOldOneAndTheUninstallEverything) {
    ASSERT_TRUE(installer().install(version1()->sign()).ok());
    PackageBuilder moved(m_folder.path() + "/packages/moved", kId, "3.0", "/opt/qvt-moved");
    moved.file("bin/tool", "#!/bin/sh\necho tool 3\n", 0755);

    const auto result = installer().update(moved.sign());

    ASSERT_TRUE(result.ok()) << result.reason();
    EXPECT_EQ(readFile(root() + "/opt/qvt-moved/bin/tool"), "#!/bin/sh\necho tool 3\n");
    EXPECT_FALSE(exists(root() + kLocation)) << "the old files and the folders they needed are gone";
    ASSERT_TRUE(installer().uninstall(false).ok());
    EXPECT_FALSE(exists(root() + "/opt")) << "nothing left behind by either version";
}

TEST_F(PackageInstallerTest, UpdateRefusesAnOlderVersionByNumberButInstallAcceptsIt) {
    ASSERT_TRUE(installer().update(version1("installed", "1.10")->sign()).ok())
        << "update of nothing installs";
    const auto before = systemState();
    const auto older = version1("older", "1.9.9");

    const auto refused = installer().update(older->sign());
    EXPECT_EQ(refused.status(), InstallResult::DowngradeRefused);
    EXPECT_NE(refused.reason().find("1.10"), std::string::npos) << refused.reason();
    EXPECT_EQ(systemState(), before);

    EXPECT_TRUE(installer().update(version1("same", "1.10.0-beta")->sign()).ok())
        << "the same version by number";
    EXPECT_TRUE(installer().install(older->sign()).ok());
    EXPECT_EQ(readReceipt()->version, "1.9.9");
}

TEST_F(PackageInstallerTest, AFailureAfterAnyStepLeavesThePreviousInstallationByteIdentical) {
    const char* steps[] = {"check-package",    "preinstall",  "make-location", "copy-payload",
                           "remove-old-files", "postinstall", "write-receipt"};
    for (const bool update : {false, true}) {
        clearSystem();
        if (update) {
            ASSERT_TRUE(installer().install(version1()->sign()).ok());
        }
        const auto before = systemState();
        for (const char* failing : steps) {
            auto package = version2(std::string("after-") + failing);
            package->script("preinstall", "true").script("postinstall", "true");
            const auto result = installer([&](const char* step) {
                                    if (std::string(step) == failing)
                                        throw std::runtime_error("injected");
                                }).update(package->sign());
            EXPECT_EQ(result.status(), InstallResult::InternalError) << failing;
            EXPECT_EQ(systemState(), before)
                << (update ? "update" : "first install") << ", after " << failing;
        }
    }
}

/// Each run is cut short in a child process right before its N-th change to the file system, as a crash
/// would; recovery must leave the old or the new installation. The failing update is cut short while it rolls
/// back, too.
TEST_F(PackageInstallerTest, RecoveryAfterACrashAtAnyPointLeavesTheOldOrTheNewInstallation) {
    const auto previous = version1();
    const auto package = version2();
    const auto failing = version2("failing");
    failing->script("postinstall", "exit 1");
    ASSERT_TRUE(installer().install(previous->sign()).ok());
    ASSERT_TRUE(installer().update(package->sign()).ok());
    const auto updatedTree = snapshot(root());
    static int changesLeft = 0;
    std::set<PackageInstaller::Recovery> recoveries;
    for (const auto* offered : {package.get(), failing.get()}) {
        int exitStatus = 0;
        for (int crashAt = 1; exitStatus == 0 && crashAt < 500; ++crashAt) {
            clearSystem();
            ASSERT_TRUE(installer().install(previous->sign()).ok());
            const auto before = systemState();
            const pid_t child = ::fork();
            if (child == 0) {
                changesLeft = crashAt;
                PackageFiles::setChangeHook([] {
                    if (--changesLeft == 0)
                        ::_exit(0);
                });
                ::_exit(installer().update(offered->sign()).ok() ? 1 : 2);
            }
            ::waitpid(child, &exitStatus, 0);
            exitStatus = WEXITSTATUS(exitStatus); // 0 when cut short
            recoveries.insert(installer().recover());
            const std::string where = "crash at change " + std::to_string(crashAt);
            if (systemState() != before) { // then exactly the new installation
                EXPECT_EQ(snapshot(root()), updatedTree) << where;
                const auto written = readReceipt();
                ASSERT_TRUE(written && written->version == "2.0" && offered == package.get()) << where;
                EXPECT_EQ(snapshot(backupSet(written->backup), true),
                          snapshot(previous->path() + "/Payload", true))
                    << "the set labelled 1.0 holds version 1 only, " << where;
            }
            expectNoLeftovers(systemState(), where);
            ASSERT_TRUE(installer().update(package->sign()).ok()) << where;
        }
    }
    EXPECT_EQ(recoveries, (std::set<PackageInstaller::Recovery>{PackageInstaller::Recovery::Nothing,
                                                                PackageInstaller::Recovery::RolledBack,
                                                                PackageInstaller::Recovery::Finished}));
}

TEST_F(PackageInstallerTest, ScriptsGetACleanEnvironmentTheirArgumentsAndLogTheirOutput) {
    auto package = version1();
    const std::string envFile = m_folder.path() + "/env.txt";
    package->script("preinstall",
                    "echo preinstall-output-line; env > " + envFile + "; echo \"$1|$2|$3\" >> " + envFile);
    ::setenv("QVT_INHERITED_SECRET", "leak", 1);
    InstallResult result;
    const std::string log =
        testsupport::captureStandardError([&] { result = installer().install(package->sign()); });
    ::unsetenv("QVT_INHERITED_SECRET");

    ASSERT_TRUE(result.ok()) << result.reason();
    const std::string env = readFile(envFile);
    EXPECT_EQ(env.find("QVT_INHERITED_SECRET"), std::string::npos) << env;
    for (const std::string& present :
         {std::string("PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin\n"),
          std::string("QVT_PACKAGE_VERSION=1.0\n"), std::string("QVT_INSTALL_ACTION=install\n"),
          data() + "/staging/package.", "|" + root() + kLocation + "|" + root()})
        EXPECT_NE(env.find(present), std::string::npos) << present << "\n" << env;
    EXPECT_EQ(env.find(package->path()), std::string::npos) << "scripts run from the verified copy";
    EXPECT_NE(log.find("preinstall: preinstall-output-line"), std::string::npos) << log;
}

using Spoil = std::function<void(PackageBuilder&)>;

Spoil withInfo(const std::string& text) {
    return [text](PackageBuilder& p) { p.raw("PackageInfo", text); };
}
Spoil linkTo(const char* at, const char* target) {
    return [=](PackageBuilder& p) { p.link(at, target); };
}
Spoil script(const char* name, std::string body) {
    return [=](PackageBuilder& p) { p.script(name, body); };
}

TEST_F(PackageInstallerTest, BrokenPackagesAndFailingScriptsLeaveThePreviousInstallationExactly) {
    using P = PackageBuilder;
    using R = InstallResult;
    const std::string id = P::entry("identifier", "a.b"), v2 = P::entry("version", "2");
    const std::tuple<const char*, Spoil, InstallResult::Status, const char*> cases[] = {
        {"PackageInfoNotAPlist", withInfo("identifier=x\n"), R::PackageMalformed, ""},
        {"PackageInfoTruncated", withInfo(P::info("<key>identifier</key><str")), R::PackageMalformed, ""},
        {"NoIdentifier", withInfo(P::info(v2)), R::PackageMalformed, ""},
        {"IdentifierClimbsOut", withInfo(P::info(P::entry("identifier", "../../etc/x") + v2)),
         R::PackageMalformed, ""},
        {"VersionNotText", withInfo(P::info(id + "<key>version</key><integer>2</integer>")),
         R::PackageMalformed, ""},
        {"VersionWithComma", withInfo(P::info(id + P::entry("version", "2,0"))), R::PackageMalformed, ""},
        {"RelativeInstallLocation", withInfo(P::info(id + v2 + P::entry("install-location", "opt/x"))),
         R::PackageMalformed, ""},
        {"InstallLocationWithDotDot",
         withInfo(P::info(id + v2 + P::entry("install-location", "/opt/../etc"))), R::PackageMalformed, ""},
        {"NoPayload", [](P& p) { fs::remove_all(p.path() + "/Payload"); }, R::PackageMalformed, ""},
        {"ScriptNotExecutable", [](P& p) { p.raw("Scripts/postinstall", "#!/bin/sh\n", 0644); },
         R::PackageMalformed, ""},
        {"RelativeLinkClimbsOut", linkTo("bin/passwd", "../../../etc/passwd"), R::UnsafePayload, ""},
        {"DotDotAfterAName", linkTo("bin/x", "tool/../../../../etc"), R::UnsafePayload, ""},
        {"AbsoluteLinkOutside", linkTo("etc/shadow", "/etc/shadow"), R::UnsafePayload, ""},
        {"FolderLinkOutside", linkTo("lib", "/usr/lib"), R::UnsafePayload, ""},
        {"PreinstallFails", script("preinstall", "exit 3"), R::PreinstallFailed, "exited with status 3"},
        {"PostinstallKilled", script("postinstall", "kill -9 $$"), R::PostinstallFailed, "signal 9"},
        {"PostinstallHangs", script("postinstall", "sleep 60"), R::PostinstallFailed, "time limit"},
    };
    ASSERT_TRUE(installer().install(version1()->sign()).ok());
    const auto before = systemState();
    for (const auto& [name, spoil, status, reasonPart] : cases) {
        auto package = version2(name);
        spoil(*package);
        const auto result = installer().install(package->sign());
        EXPECT_EQ(result.status(), status) << name << ": " << result.reason();
        EXPECT_NE(result.reason().find(reasonPart), std::string::npos) << name << ": " << result.reason();
        EXPECT_EQ(systemState(), before) << name;
    }
}

// Everything the vendor did not sign is refused by the staging copy (the agent command tests refuse a changed
// script through the real agent).
TEST_F(PackageInstallerTest, PackagesThatAreNotExactlyWhatTheVendorSignedInstallNothing) {
    using P = PackageBuilder;
    using R = InstallResult;
    const auto write = [](const std::string& path, const std::string& text) {
        fs::remove(path);
        std::ofstream(path, std::ios::binary) << text;
    };
    const std::tuple<const char*, Spoil, InstallResult::Status> cases[] = {
        {"NoPackageFolder", [](P& p) { fs::remove_all(p.path()); }, R::PackageMissing},
        {"NoManifest", [](P& p) { fs::remove(p.path() + "/Manifest"); }, R::PackageUnsigned},
        {"NoSignature", [](P& p) { fs::remove(p.path() + "/Manifest.sig"); }, R::PackageUnsigned},
        {"SignedByAnotherVendor", [](P& p) { p.sign(testsupport::foreignSecretKey()); }, R::SignatureInvalid},
        {"ManifestEdited",
         [](P& p) { std::ofstream(p.path() + "/Manifest", std::ios::app) << "folder 755 Payload/x\n"; },
         R::SignatureInvalid},
        {"PayloadFileGrew", [&](P& p) { write(p.path() + "/Payload/etc/tool.conf", "setting=22\n"); },
         R::PackageTampered},
        {"LinkRetargeted",
         [](P& p) {
             fs::remove(p.path() + "/Payload/bin/tool-link");
             fs::create_symlink("../etc/tool.conf", p.path() + "/Payload/bin/tool-link");
         },
         R::PackageTampered},
        {"ExtraFileBesidePackageInfo", [&](P& p) { write(p.path() + "/README", "x"); }, R::PackageExtraEntry},
        {"MissingPackageInfo", [](P& p) { fs::remove(p.path() + "/PackageInfo"); }, R::PackageIncomplete},
        // An entry not of its listed kind is refused before it is opened, a link without being followed.
        {"FileSwappedForALink",
         [](P& p) {
             fs::remove(p.path() + "/Payload/etc/tool.conf");
             fs::create_symlink("/etc/passwd", p.path() + "/Payload/etc/tool.conf");
         },
         R::PackageEntryRefused},
        {"FileSwappedForAFifo",
         [](P& p) {
             fs::remove(p.path() + "/Payload/etc/tool.conf");
             ::mkfifo((p.path() + "/Payload/etc/tool.conf").c_str(), 0644);
         },
         R::PackageEntryRefused},
        {"FolderSwappedForALink",
         [](P& p) {
             fs::remove_all(p.path() + "/Payload/etc");
             fs::create_directory_symlink("/etc", p.path() + "/Payload/etc");
         },
         R::PackageEntryRefused},
    };
    ASSERT_TRUE(installer().install(version1()->sign()).ok());
    const auto before = systemState();
    for (const auto& [name, spoil, status] : cases) {
        auto package = version2(name);
        package->link("bin/tool-link", "tool").script("postinstall", "true").sign();
        spoil(*package);
        const auto result = installer().update(package->path());
        EXPECT_EQ(result.status(), status) << name << ": " << result.reason();
        EXPECT_EQ(systemState(), before) << name << ": nothing is installed, nothing staged is left";
    }
    PackageInstaller unkeyed({data(), root(), std::chrono::seconds(3), {}, ""});
    EXPECT_EQ(unkeyed.update(version2("unkeyed")->sign()).status(), R::PackageUnsigned)
        << "an agent without a key installs nothing";
}

TEST_F(PackageInstallerTest, ANameFromAPackageIsLoggedEscapedOnItsOwnLine) {
    auto package = version2();
    package->sign();
    std::ofstream(package->path() + "/Payload/bin/x\nFORGED: Install completed\x1b[2K");
    InstallResult result;
    const std::string log =
        testsupport::captureStandardError([&] { result = installer().update(package->path()); });
    EXPECT_EQ(result.status(), InstallResult::PackageExtraEntry);
    EXPECT_NE(log.find("bin/x\\nFORGED: Install completed\\x1b[2K is not listed"), std::string::npos) << log;
    EXPECT_EQ(log.find("\nFORGED"), std::string::npos) << log;
}

TEST_F(PackageInstallerTest, APackageChangedWhileItIsInstalledIsInstalledWhollyOrRefused) {
    auto package = version2();
    package->file("share/big.bin", std::string(4 << 20, 'a')).sign();
    const std::string big = package->path() + "/Payload/share/big.bin";
    const pid_t changer = ::fork();
    ASSERT_GE(changer, 0);
    if (changer == 0) { // flips the file between its signed content and another of the same size
        for (unsigned n = 0;; ++n) {
            const std::string next = m_folder.path() + "/big.next";
            std::ofstream(next, std::ios::binary) << std::string(4 << 20, n % 2 ? 'a' : 'b');
            ::rename(next.c_str(), big.c_str());
        }
    }
    const auto signedPayload = [&] {
        auto expected = snapshot(m_folder.path() + "/packages/v2/Payload");
        expected["share/big.bin"] = "file:420:" + std::string(4 << 20, 'a');
        return expected;
    }();
    int installed = 0, refused = 0;
    for (int round = 0; round < 12; ++round) {
        clearSystem();
        const auto result = installer().install(package->path());
        if (result.ok()) {
            ++installed;
            auto tree = snapshot(root() + kLocation);
            EXPECT_EQ(tree, signedPayload) << "round " << round << ": not the signed package";
        } else {
            ++refused;
            EXPECT_EQ(result.status(), InstallResult::PackageTampered) << result.reason();
            EXPECT_FALSE(exists(root() + "/opt")) << "round " << round << ": half installed";
        }
    }
    ::kill(changer, SIGKILL);
    ::waitpid(changer, nullptr, 0);
    EXPECT_GT(refused, 0) << installed << " installs and no refusal: the changes never hit one";
}

TEST_F(PackageInstallerTest, LinksAndFoldersInTheWayAreNotFollowedAndTheInstallLeavesNothing) {
    // Of the same length as the package's etc/tool.conf, so a size check cannot tell them apart.
    const std::string outside = m_folder.path() + "/outside";
    fs::create_directories(outside);
    std::ofstream(outside + "/tool.conf") << "secret=11\n";
    const auto outsideBefore = snapshot(outside);
    const std::tuple<const char*, Spoil, InstallResult::Status> cases[] = {
        // A script swaps Payload/etc of the package it runs from for a link after the package was checked.
        {"PayloadFolderSwappedForALink",
         script("preinstall", ("rm -rf \"$1/Payload/etc\" && ln -s '" + outside + "' \"$1/Payload/etc\"")),
         InstallResult::PayloadUnreadable},
        {"InstalledFolderLinkLeadingOutside",
         [&](PackageBuilder&) {
             fs::create_directories(root() + kLocation);
             fs::create_directory_symlink(outside, root() + kLocation + "/etc");
         },
         InstallResult::DestinationConflict},
        {"FolderWhereThePackageHasAFile",
         [&](PackageBuilder&) { fs::create_directories(installed("etc/tool.conf/keep")); },
         InstallResult::DestinationConflict},
    };
    for (const auto& [name, spoil, status] : cases) {
        fs::remove_all(root() + "/opt");
        auto package = version1(name);
        spoil(*package);
        const auto before = systemState();
        const auto result = installer().install(package->sign());
        EXPECT_EQ(result.status(), status) << name << ": " << result.reason();
        EXPECT_EQ(systemState(), before) << name << ": files copied before the failure are removed again";
        EXPECT_EQ(snapshot(outside), outsideBefore) << name << ": written through a link";
    }
}

TEST_F(PackageInstallerTest, UninstallRemovesWhatThePackageInstalledAndTheBackupsOnlyWhenAsked) {
    EXPECT_EQ(installer().uninstall(true).status(), InstallResult::NotInstalled);
    for (const bool removeBackups : {false, true}) {
        ASSERT_TRUE(installer().install(version1()->sign()).ok());
        ASSERT_TRUE(installer().update(version2()->sign()).ok());
        // A file the package never installed, in a folder it made, and one beside the install location.
        std::ofstream(installed("etc/local.conf")) << "mine\n";
        fs::create_directories(root() + "/opt/other");

        const auto result = installer().uninstall(removeBackups);

        ASSERT_TRUE(result.ok()) << result.reason();
        for (const char* gone : {"bin/tool", "share/new.txt", "bin", "doc"})
            EXPECT_FALSE(exists(installed(gone)))
                << gone << ": emptied folders go, also an earlier version's";
        EXPECT_EQ(readFile(installed("etc/local.conf")), "mine\n")
            << "what the package did not install stays";
        EXPECT_TRUE(exists(root() + "/opt/other"));
        EXPECT_FALSE(exists(receipt()));
        EXPECT_EQ(exists(data() + "/backups/" + kId), !removeBackups);
        EXPECT_EQ(m_progress.back().first, 100);
        fs::remove_all(root() + "/opt");
        if (!removeBackups) { // only backups left: not installed, but they go when asked
            EXPECT_EQ(installer().uninstall(false).status(), InstallResult::NotInstalled);
            EXPECT_TRUE(exists(data() + "/backups"));
            EXPECT_TRUE(installer().uninstall(true).ok());
            EXPECT_FALSE(exists(data() + "/backups"));
        }
    }
}

TEST_F(PackageInstallerTest, AReceiptListingUnsafePathsIsKeptAndNothingOutsideIsRemoved) {
    const std::string victim = root() + "/victim.txt";
    std::ofstream(victim) << "keep\n";
    fs::create_directories(data() + "/receipts");
    PackageReceipt forged;
    forged.identifier = kId;
    forged.version = "1.0";
    forged.installLocation = kLocation;
    forged.files = {"../../victim.txt"};
    ASSERT_TRUE(forged.write(receipt()).ok());

    EXPECT_EQ(installer().uninstall(true).status(), InstallResult::ReceiptInvalid);
    EXPECT_EQ(readFile(victim), "keep\n");
    EXPECT_TRUE(exists(receipt()));
}

TEST_F(PackageInstallerTest, ASecondOperationWhileOneRunsIsRefusedAsBusy) {
    fs::create_directories(data());
    const int fd = ::open((data() + "/.lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_EQ(::flock(fd, LOCK_EX), 0);

    EXPECT_EQ(installer().install(version1()->sign()).status(), InstallResult::Busy);
    EXPECT_EQ(installer().uninstall(false).status(), InstallResult::Busy);
    EXPECT_FALSE(exists(root() + "/opt"));
    EXPECT_EQ(installer().recover(), PackageInstaller::Recovery::Busy);

    ::close(fd);
    EXPECT_TRUE(installer().install(version1()->sign()).ok());
}

} // namespace
