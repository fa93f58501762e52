// The installer agent's commands: the real RInstallerAgent as root inside the test sandbox (private /run,
// /opt, /var/lib and /etc), real clients over its socket.
#include "PackageBuilder.h"
#include "RealAgent.h"
#include "TestSupport.h"

#include "agent/CommandGrant.h"
#include "agent/package/InstallResult.h"
#include "agent/package/PackageReceipt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string kDemo = QVT_DEMO_PACKAGE;
const std::string kLocation = "/opt/quorvantis-remote";
const std::string kDataFolder = "/var/lib/com.quorvantis.remote";
const std::string kReceipt = kDataFolder + "/receipts/com.quorvantis.remote.service.plist";
const std::string kBackups = kDataFolder + "/backups/com.quorvantis.remote.service";
const std::string kRebootStamp = "/run/qvt-reboot-stamp";
const AgentMessage kReboot{{"Cmd", "Reboot"}};

using testsupport::count;
using testsupport::readFile;

std::string demoFile(const std::string& relative) {
    return readFile(kDemo + "/Payload/" + relative);
}

AgentMessage installCommand(const std::string& package) {
    return {{"Cmd", "Install"}, {"InstallerPackage", package}, {"LoggedInUser", int64_t{::getuid()}}};
}
AgentMessage updateCommand(const std::string& package) {
    return {{"Cmd", "Update"}, {"InstallerPackage", package}};
}
AgentMessage uninstallCommand(bool removeBackups) {
    return {{"Cmd", "Uninstall"},
            {"LoggedInUser", int64_t{::getuid()}},
            {"RemoveBackups", removeBackups ? 1 : 0}};
}

/// Checks the events of one successful or failed package command: progress only, percent a real from 0 to 100
/// never going down, info a text without ","; then exactly one completion, last. Returns its status (-1
/// without).
int64_t checkEvents(const std::vector<AgentMessage>& events) {
    double last = 0;
    for (size_t i = 0; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].text("Event"), "Progress") << "event " << i;
        const auto percent = events[i].real("percentCompleted");
        EXPECT_TRUE(percent && *percent >= last && *percent <= 100.0) << "percent of event " << i;
        last = percent.value_or(last);
        const auto info = events[i].text("info");
        EXPECT_TRUE(info && info->find(',') == std::string::npos) << "info of event " << i;
    }
    const bool completed = !events.empty() && events.back().text("Event") == "CommandCompleted";
    EXPECT_TRUE(completed && events.back().integer("status")) << "no completion with a status last";
    return completed ? events.back().integer("status").value_or(-1) : -1;
}

/// The real agent; system paths are cleared before each test.
class AgentCommands : public RealAgentTest {
protected:
    void SetUp() override {
        startAgent("qvt-command-test", {kLocation, kDataFolder, "/etc/com.quorvantis.remote", kRebootStamp});
    }

    /// The installation at \p version is complete: its receipt and every file it lists.
    void expectInstalled(const std::string& version) const {
        const auto installed = PackageReceipt::read(kReceipt);
        ASSERT_TRUE(installed) << "no complete installation: " << installed.failure().description << "\n"
                               << agentLog();
        EXPECT_EQ(installed->version, version);
        for (const auto& file : installed->files)
            EXPECT_TRUE(fs::exists(kLocation + "/" + file)) << file;
    }

    /// A copy of the demo package at \p version, its configuration ending in "# <version>", with the script
    /// \p script when one is named; its path.
    std::string variant(const std::string& version, const std::string& script = "",
                        const std::string& body = "") {
        PackageBuilder package(m_folder.path() + "/" + version, "com.quorvantis.remote.service", version,
                               kLocation);
        package.file("bin/qvt-remote-service", demoFile("bin/qvt-remote-service"), 0755)
            .file("etc/service.conf", demoFile("etc/service.conf") + "# " + version + "\n")
            .file("README.txt", demoFile("README.txt"));
        if (!script.empty())
            package.script(script, body);
        ::chmod(package.path().c_str(), 0755);
        return package.sign();
    }

    /// RebootCommand set to a script that writes the stamp file, or to \p command.
    void configureReboot(const std::string& command = "") {
        fs::create_directories("/etc/com.quorvantis.remote");
        const std::string script = "/etc/com.quorvantis.remote/reboot-stand-in";
        std::ofstream(script) << "#!/bin/sh\necho rebooted > " << kRebootStamp << "\n";
        ::chmod(script.c_str(), 0755);
        std::ofstream("/etc/com.quorvantis.remote/agent.plist")
            << testsupport::plistWithStrings({{"RebootCommand", command.empty() ? script : command}});
    }

    testsupport::TemporaryFolder m_folder;
};

TEST_F(AgentCommands, InstallUpdateAndUninstallReportTheirStatusAndOnlyASuccessChangesTheInstallation) {
    Client client;
    ASSERT_TRUE(client.connect()) << agentLog();
    const auto events = client.run(installCommand(kDemo));
    EXPECT_EQ(checkEvents(events), 0) << agentLog();
    ASSERT_GE(events.size(), 3u) << "no progress was reported";
    EXPECT_EQ(events[events.size() - 2].real("percentCompleted"), 100.0) << "progress did not end at 100";
    for (const char* file : {"bin/qvt-remote-service", "etc/service.conf", "README.txt"})
        EXPECT_EQ(readFile(kLocation + "/" + file), demoFile(file)) << file;
    expectInstalled("3.2.0");
    EXPECT_TRUE(logHas("Install for user " + std::to_string(::getuid()))) << agentLog();

    // After the update to 99.0 nothing else changes the installation: going back by "Update" is refused, a
    // failed install restores it, a changed script is refused (the package engine's tests refuse every other
    // change the vendor did not sign).
    const std::string changedScript = variant("5.0", "postinstall", "true");
    std::ofstream(changedScript + "/Scripts/postinstall", std::ios::app) << "id\n";
    const std::pair<AgentMessage, int64_t> rows[] = {
        {updateCommand(variant("99.0")), InstallResult::Success},
        {updateCommand(kDemo), InstallResult::DowngradeRefused},
        {installCommand(variant("4.0", "postinstall", "exit 3")), InstallResult::PostinstallFailed},
        {installCommand(m_folder.path() + "/absent"), InstallResult::PackageMissing},
        {updateCommand(changedScript), InstallResult::PackageTampered}};
    for (const auto& [command, status] : rows) {
        const std::string row = command.text("InstallerPackage").value_or("");
        const auto before = systemState(kLocation, kDataFolder);
        EXPECT_EQ(checkEvents(client.run(command)), status) << row << "\n" << agentLog();
        if (status != InstallResult::Success) {
            EXPECT_EQ(systemState(kLocation, kDataFolder), before) << row;
        }
        expectInstalled("99.0");
        EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), demoFile("etc/service.conf") + "# 99.0\n")
            << row;
        // Nothing followed the completion: the next message answers the version request.
        EXPECT_EQ(client.version(), QVT_PROJECT_VERSION) << row;
    }

    // Uninstall keeps the update's backups unless asked; with only backups left nothing is installed.
    ASSERT_TRUE(fs::exists(kBackups) && !fs::is_empty(kBackups)) << "the update made no backup";
    EXPECT_EQ(checkEvents(client.run(uninstallCommand(false))), 0) << agentLog();
    EXPECT_FALSE(fs::exists(kLocation) || fs::exists(kReceipt));
    EXPECT_FALSE(fs::is_empty(kBackups));
    EXPECT_EQ(client.status(uninstallCommand(false)), InstallResult::NotInstalled);
    EXPECT_EQ(checkEvents(client.run(uninstallCommand(true))), 0) << agentLog();
    EXPECT_FALSE(fs::exists(kBackups));
}

TEST_F(AgentCommands, MalformedCommandsGetOneCompletionWithCommandMalformedAndChangeNothing) {
    // Which keys make a command malformed: CommandRequest's own table test.
    const std::pair<const char*, AgentMessage> cases[] = {
        {"install without user", {{"Cmd", "Install"}, {"InstallerPackage", kDemo}}},
        {"relative package",
         {{"Cmd", "Install"}, {"InstallerPackage", "package/InstallerPackage"}, {"LoggedInUser", 0}}},
        {"backups flag 2", {{"Cmd", "Uninstall"}, {"LoggedInUser", 0}, {"RemoveBackups", 2}}},
        {"command name as integer", {{"Cmd", 5}}},
    };
    Client client;
    ASSERT_TRUE(client.connect());
    for (const auto& [name, command] : cases) {
        EXPECT_EQ(client.status(command, true), InstallResult::CommandMalformed) << name << "\n"
                                                                                 << agentLog();
        EXPECT_EQ(client.version(), QVT_PROJECT_VERSION) << name << ": a second event followed, or the end";
    }
    EXPECT_FALSE(fs::exists(kLocation) || fs::exists(kReceipt));
    EXPECT_EQ(count(agentLog(), "malformed command refused: "), std::size(cases)) << agentLog();
    EXPECT_TRUE(m_agent.running());
}

TEST_F(AgentCommands, ACommandOnASecondConnectionWhileOneRunsIsRefusedAsBusyAtOnce) {
    configureReboot();
    const auto slow = variant("3.3", "preinstall", "sleep 3");
    Client first;
    ASSERT_TRUE(first.connect());
    ASSERT_TRUE(first.send(installCommand(slow)));
    std::vector<AgentMessage> firstEvents{first.read().value_or(AgentMessage{})};
    ASSERT_EQ(firstEvents[0].text("Event"), "Progress") << "the command did not start";

    Client second;
    ASSERT_TRUE(second.connect());
    const auto asked = std::chrono::steady_clock::now();
    for (const AgentMessage& command : {installCommand(kDemo), uninstallCommand(true), kReboot})
        EXPECT_EQ(second.status(command, true), InstallResult::Busy) << command.text("Cmd").value_or("");
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s) << "the refusals waited for the running command";

    // The first command goes on undisturbed and ends with its own single completion.
    for (auto& event : first.eventsUntilCompletion())
        firstEvents.push_back(event);
    EXPECT_EQ(checkEvents(firstEvents), 0) << agentLog();
    expectInstalled("3.3");
    EXPECT_FALSE(fs::exists(kRebootStamp)) << "the refused reboot ran";

    // Right after the completion the second connection may run a command; it received nothing else meanwhile.
    EXPECT_EQ(checkEvents(second.run(uninstallCommand(false))), 0) << agentLog();
    EXPECT_EQ(second.version(), QVT_PROJECT_VERSION);
    EXPECT_TRUE(logHas("Install refused: another command is running")) << agentLog();
}

TEST_F(AgentCommands, ACommandRunsToItsEndWhenItsClientLeavesOrTheAgentIsAskedToStop) {
    const auto slow = variant("3.3", "preinstall", "sleep 1");
    {
        Client leaving;
        ASSERT_TRUE(leaving.connect() && leaving.send(installCommand(slow)) && leaving.read());
    }
    ASSERT_TRUE(waitFor([&] { return logHas("Install completed with status"); }, 30s)) << agentLog();
    EXPECT_TRUE(logHas("Install completed with status 0")) << agentLog();
    EXPECT_EQ(count(agentLog(), "client gone"), 1u) << "reported once, not per undelivered event";
    expectInstalled("3.3");
    // The agent is free again.
    Client client;
    ASSERT_TRUE(client.connect()) << agentLog();
    EXPECT_EQ(checkEvents(client.run(uninstallCommand(true))), 0) << agentLog();
    EXPECT_FALSE(fs::exists(kLocation));

    ASSERT_TRUE(client.send(installCommand(slow)) && client.read());
    EXPECT_EQ(m_agent.stop(), 0);
    expectInstalled("3.3");
    EXPECT_TRUE(logHas("Stopping: waiting for the running command to complete")) << agentLog();
}

TEST_F(AgentCommands, StoppingAsClientsLeaveEndsTheAgentWithStatusZero) {
    // Each client's session thread has verified a package (OpenSSL's digests keep state per thread) and
    // ends while the agent stops: the ending process must not free that state under the ending threads.
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        if (round > 0) {
            ASSERT_TRUE(m_agent.start(QVT_AGENT_PATH, "qvt-command-test") &&
                        waitFor([&] { return logHas("Listening at "); }))
                << agentLog();
        }
        std::vector<std::unique_ptr<Client>> clients;
        for (int i = 0; i < 3; ++i) {
            clients.push_back(std::make_unique<Client>());
            ASSERT_TRUE(clients.back()->connect()) << agentLog();
            ASSERT_EQ(clients.back()->status(updateCommand(kDemo)), 0) << agentLog();
        }
        std::thread leaving([&] { clients.clear(); });
        const int status = m_agent.stop();
        leaving.join();
        ASSERT_EQ(status, 0) << agentLog();
        ASSERT_EQ(agentLog().find("Sanitizer"), std::string::npos) << agentLog();
    }
}

TEST_F(AgentCommands, RebootRunsTheConfiguredCommandAlsoForAClientThatLeftAndAnswersOnlyAFailure) {
    configureReboot();
    {
        Client leaving; // closes right after sending
        ASSERT_TRUE(leaving.connect());
        ASSERT_TRUE(leaving.send(kReboot));
    }
    // The stamp appears before the command ends; until then the agent is busy.
    EXPECT_TRUE(waitFor([&] { return fs::exists(kRebootStamp) && logHas("the reboot command ran"); }))
        << agentLog();
    fs::remove(kRebootStamp);

    Client client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.send(kReboot));
    // The shell makes the file before it writes the line.
    EXPECT_TRUE(waitFor([&] { return readFile(kRebootStamp) == "rebooted\n"; })) << agentLog();
    EXPECT_EQ(client.version(), QVT_PROJECT_VERSION) << "Reboot was answered";

    configureReboot("/bin/false");
    EXPECT_EQ(client.status(kReboot, true), InstallResult::RebootFailed) << agentLog();
}

TEST_F(AgentCommands, OnlyTheInstallerProcessAnAdministratorAuthorizedIsServedForOneSessionOfTenMinutes) {
    configureReboot();
    const uid_t user = testsupport::makeSandboxUser("qvtuser");
    ASSERT_NE(user, static_cast<uid_t>(-1));
    ASSERT_NE(testsupport::makeSandboxUser("qvtadmin", "sudo"), static_cast<uid_t>(-1));
    const auto servedUninstall = [] {
        Client client;
        return client.connect() && client.status(uninstallCommand(false)) == InstallResult::NotInstalled;
    };
    // A client not served gets the version, and NotPermitted for every command, also one with keys missing.
    const auto refusedEverything = [] {
        Client client;
        if (!client.connect() || client.version() != QVT_PROJECT_VERSION)
            return false;
        for (const AgentMessage& command :
             {installCommand(kDemo), updateCommand(kDemo), uninstallCommand(true), kReboot,
              AgentMessage{{"Cmd", "UninstallInstallerAgent"}}, AgentMessage{{"Cmd", "Install"}}})
            if (client.status(command, true) != InstallResult::NotPermitted)
                return false;
        return client.send({{"Ctrl", "bye"}}) && client.version() == QVT_PROJECT_VERSION;
    };
    // A grant is recorded for a process of qvtuser; a client process then connects: served, its first
    // connection may uninstall (NotInstalled), and its next connection is no longer served.
    const struct {
        const char* name;
        const char* client;   ///< the user whose process sends the commands
        bool clientIsGrantee; ///< the granted process itself, or another one
        int issuedMinutesAgo; ///< -1: no grant is recorded
        bool served;
    } cases[] = {
        {"a user without any grant", "qvtuser", false, -1, false},
        {"the authorized process", "qvtuser", true, 0, true},
        {"another process of the same user", "qvtuser", false, 0, false},
        {"a process of an administrator", "qvtadmin", false, 0, false},
        {"the authorized process after ten minutes", "qvtuser", true, 10, false},
    };
    for (const auto& c : cases) {
        const auto asClient = [&] { return (!c.served || servedUninstall()) && refusedEverything() ? 0 : 1; };
        testsupport::UserProcess grantee(
            "qvtuser", c.clientIsGrantee ? std::function<int()>(asClient) : [] { return 0; });
        if (c.issuedMinutesAgo >= 0) {
            const auto grant = CommandGrant::forProcess(user, grantee.pid(),
                                                        CommandGrant::now() - c.issuedMinutesAgo * 60000);
            ASSERT_TRUE(grant);
            const auto recorded = CommandGrant::record(kAgentIdentifier, *grant);
            ASSERT_TRUE(recorded) << recorded.failure().description;
        }
        const int status = c.clientIsGrantee ? grantee.wait() : testsupport::runAsUser(c.client, asClient);
        EXPECT_EQ(status, 0) << c.name << "\n" << agentLog();
        // Root is served whatever grants there are.
        EXPECT_TRUE(servedUninstall()) << c.name;
    }
    EXPECT_FALSE(fs::exists(kLocation) || fs::exists(kRebootStamp));
    EXPECT_TRUE(m_agent.running() && fs::exists(kAgentSocket)) << "the agent removed itself for a user";
    EXPECT_TRUE(logHas("command refused: uid " + std::to_string(user) + " pid ")) << agentLog();
}

TEST(CommandGrantFile, OnlyARootOnlyFileHoldsGrants) {
    if (!testsupport::rootInSandbox())
        GTEST_SKIP() << "needs root inside the test sandbox: the grants live in /var/run";
    const std::string label = "com.quorvantis.tests.grants";
    const std::string path = CommandGrant::path(label);
    const auto own = CommandGrant::forProcess(::getuid(), ::getpid());
    ASSERT_TRUE(own);
    for (mode_t unsafe : {0644, 0660, 0606}) {
        ::unlink(path.c_str());
        std::ofstream(path) << "";
        ::chmod(path.c_str(), unsafe);
        EXPECT_FALSE(CommandGrant::record(label, *own)) << std::oct << unsafe;
        EXPECT_FALSE(CommandGrant::claim(label, ::getuid(), ::getpid())) << std::oct << unsafe;
    }
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink("/etc/passwd", path.c_str()), 0);
    EXPECT_FALSE(CommandGrant::record(label, *own)) << "a planted link is not followed";
    ::unlink(path.c_str());

    // Lines that are not four numbers are no grants; a good one among them is.
    ASSERT_TRUE(CommandGrant::record(label, *own));
    std::ofstream(path, std::ios::app) << "x y z w\n0 -5 1 2\n" << ::getuid() << " " << ::getpid() << "\n";
    EXPECT_TRUE(CommandGrant::claim(label, ::getuid(), ::getpid()));
    EXPECT_FALSE(CommandGrant::claim(label, ::getuid(), ::getpid())) << "a grant is taken once";
    ::unlink(path.c_str());
}

} // namespace
