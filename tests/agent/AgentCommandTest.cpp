// The installer agent's commands: the real RInstallerAgent runs as root inside
// the test sandbox (tests/sandbox: private /run, /opt, /var/lib and /etc) and
// real clients talk to it over its socket with the agent link's protocol
// handler. Nothing is mocked.
#include "AgentProcess.h"
#include "PackageBuilder.h"
#include "TestSupport.h"

#include "agent/CommandEvents.h"
#include "agent/CommandGrant.h"
#include "agent/CommandRequest.h"
#include "agent/InstallResult.h"
#include "agent/PackageReceipt.h"
#include "agentlink/AgentCodec.h"
#include "agentlink/PHClientProtocolHandler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr const char* kIdentifier = "com.quorvantis.remote.RInstallerAgent";
constexpr const char* kSocket = "/var/run/com.quorvantis.remote.RInstallerAgent.socket";
const std::string kLocation = "/opt/quorvantis-remote";
const std::string kDataFolder = "/var/lib/com.quorvantis.remote";
const std::string kReceipt = kDataFolder + "/receipts/com.quorvantis.remote.service.plist";
const std::string kBackups = kDataFolder + "/backups/com.quorvantis.remote.service";
const std::string kRebootStamp = "/run/qvt-reboot-stamp";

bool inSandbox() {
    const char* flag = std::getenv("QVT_SANDBOX");
    return flag && std::string(flag) == "1";
}

template <class Predicate>
bool waitFor(Predicate done, std::chrono::milliseconds timeout = 10s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string demoFile(const std::string& relative) {
    return readFile(std::string(QVT_DEMO_PACKAGE) + "/Payload/" + relative);
}

size_t count(const std::string& text, const std::string& what) {
    size_t found = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size()))
        ++found;
    return found;
}

/// Counts the failure reports of a client's protocol handler.
class CountingDelegate : public PHConnectionDelegate {
public:
    void connctionFailedWithError(PHProtocolHandler&, const ErrorRef&) override { ++failures; }
    void connectionClosed(PHProtocolHandler&) override { ++closes; }

    std::atomic<int> failures{0};
    std::atomic<int> closes{0};
};

/// A client as the installer application is one: connects, asks the version,
/// sends commands and reads the events.
class Client {
public:
    Client() { m_handler.setDelegate(m_delegate); }

    /// Connects and exchanges the version; false when that fails.
    bool connect() {
        if (!m_handler.connectPrivilegedAgent(kIdentifier))
            return false;
        // No test waits forever for an agent that stopped answering.
        timeval timeout{60, 0};
        ::setsockopt(m_handler.conFd(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        return true;
    }
    bool send(const AgentMessage& message) { return m_handler.sendMessage(message); }
    std::optional<AgentMessage> read() { return m_handler.readMessage(); }
    std::optional<std::string> version() { return m_handler.getAgentVersion(); }
    void close() { m_handler.closeConnection(); }

    /// Reads events up to and including the first "CommandCompleted"; stops
    /// early when the connection fails.
    std::vector<AgentMessage> eventsUntilCompletion() {
        std::vector<AgentMessage> events;
        while (auto event = read()) {
            events.push_back(*event);
            if (event->text("Event") == "CommandCompleted")
                break;
        }
        return events;
    }

    /// Sends \p command and returns the "status" of its completion, which
    /// may follow progress events; -1000 without a completion, -1001 when the
    /// status is no integer.
    int64_t completionStatus(const AgentMessage& command) {
        if (!send(command))
            return -1000;
        const auto events = eventsUntilCompletion();
        if (events.empty() || events.back().text("Event") != "CommandCompleted")
            return -1000;
        return events.back().integer("status").value_or(-1001);
    }

    /// As completionStatus(), for a command refused before it ran: the
    /// completion must be the only event (-1002 otherwise).
    int64_t refusalStatus(const AgentMessage& command) {
        if (!send(command))
            return -1000;
        const auto events = eventsUntilCompletion();
        if (events.empty() || events.back().text("Event") != "CommandCompleted")
            return -1000;
        if (events.size() != 1)
            return -1002;
        return events.back().integer("status").value_or(-1001);
    }

private:
    std::shared_ptr<CountingDelegate> m_delegate = std::make_shared<CountingDelegate>();
    PHClientProtocolHandler m_handler{-1, false};
};

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

/// Checks the events of one successful or failed package command: progress
/// only, percent a real from 0 to 100 never going down, info a text without
/// ","; then exactly one completion, last. Returns its status (-1 without).
int64_t checkEvents(const std::vector<AgentMessage>& events) {
    double last = 0;
    size_t completions = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const auto& event = events[i];
        const auto name = event.text("Event");
        if (name == "CommandCompleted") {
            ++completions;
            EXPECT_EQ(i, events.size() - 1) << "the completion is not the last event";
            EXPECT_TRUE(event.integer("status").has_value()) << "status is no integer";
            continue;
        }
        EXPECT_EQ(name, "Progress") << "event " << i;
        const auto percent = event.real("percentCompleted");
        EXPECT_TRUE(percent.has_value()) << "percentCompleted is no number in event " << i;
        if (percent) {
            EXPECT_GE(*percent, last) << "percent went down at event " << i;
            EXPECT_LE(*percent, 100.0);
            last = *percent;
        }
        const auto info = event.text("info");
        EXPECT_TRUE(info.has_value()) << "info is no text in event " << i;
        if (info) {
            EXPECT_EQ(info->find(','), std::string::npos) << *info;
        }
    }
    EXPECT_EQ(completions, 1u);
    if (events.empty() || completions != 1)
        return -1;
    return events.back().integer("status").value_or(-1);
}

/// A copy of the demo package with another version, configuration and scripts.
class DemoVariant {
public:
    DemoVariant(const std::string& path, const std::string& version, const std::string& settingsNote)
        : m_builder(path, "com.quorvantis.remote.service", version, kLocation) {
        m_builder.file("bin/qvt-remote-service", demoFile("bin/qvt-remote-service"), 0755)
            .file("etc/service.conf", demoFile("etc/service.conf") + settingsNote)
            .file("README.txt", demoFile("README.txt"));
        ::chmod(path.c_str(), 0755);
    }
    DemoVariant& script(const std::string& name, const std::string& body) {
        m_builder.script(name, body);
        return *this;
    }
    const std::string& path() const { return m_builder.path(); }

private:
    PackageBuilder m_builder;
};

/// The real agent, started as root from a root-only copy (it refuses to run
/// from a place others could change, which a build tree may be), with its
/// console log in a file. System paths are cleared before each test.
class AgentCommands : public testing::Test {
protected:
    void SetUp() override {
        if (!inSandbox())
            GTEST_SKIP() << "needs the test sandbox (tests/sandbox): the agent runs as root on system paths";
        if (::geteuid() != 0)
            GTEST_SKIP() << "the sandbox did not make this process root";
        for (const std::string& path :
             {kLocation, kDataFolder, std::string("/etc/com.quorvantis.remote"), kRebootStamp})
            fs::remove_all(path);
        startAgent();
    }

    void TearDown() override {
        if (m_agent.running())
            stopAgent();
        // A sanitizer build of the agent reports into its log.
        EXPECT_EQ(agentLog().find("Sanitizer"), std::string::npos) << agentLog();
    }

    void startAgent() {
        ASSERT_TRUE(m_agent.start(QVT_AGENT_PATH, "qvt-command-test"));
        ASSERT_TRUE(waitFor([&] { return fs::exists(kSocket); })) << agentLog();
    }

    /// Stops the agent with SIGTERM; its exit status.
    int stopAgent() { return m_agent.stop(); }

    bool agentAlive() const { return m_agent.running(); }

    std::string agentLog() const { return m_agent.log(); }

    std::optional<PackageReceipt> receipt() const {
        std::string error;
        return PackageReceipt::read(kReceipt, error);
    }

    /// Installs the demo package on a connection of its own.
    void installDemo() {
        Client client;
        ASSERT_TRUE(client.connect()) << agentLog();
        ASSERT_TRUE(client.send(installCommand(QVT_DEMO_PACKAGE)));
        ASSERT_EQ(checkEvents(client.eventsUntilCompletion()), 0) << agentLog();
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
    testsupport::AgentProcess m_agent;
};

// ---- Install, Update, Uninstall ------------------------------------------------

TEST_F(AgentCommands, InstallOfTheDemoPackageReportsProgressThenOneSuccessAndInstallsIt) {
    Client client;
    ASSERT_TRUE(client.connect()) << agentLog();
    ASSERT_TRUE(client.send(installCommand(QVT_DEMO_PACKAGE)));
    const auto events = client.eventsUntilCompletion();
    EXPECT_EQ(checkEvents(events), 0) << agentLog();
    ASSERT_GE(events.size(), 3u) << "no progress was reported";
    EXPECT_EQ(events[events.size() - 2].real("percentCompleted"), 100.0) << "progress did not end at 100";
    // Nothing more follows the completion: the next message answers the version request.
    EXPECT_EQ(client.version(), QVT_PROJECT_VERSION);

    for (const char* file : {"bin/qvt-remote-service", "etc/service.conf", "README.txt"})
        EXPECT_EQ(readFile(kLocation + "/" + file), demoFile(file)) << file;
    const auto installed = receipt();
    ASSERT_TRUE(installed) << "no valid receipt at " << kReceipt;
    EXPECT_EQ(installed->version, "3.2.0");
    EXPECT_EQ(installed->installLocation, kLocation);
    EXPECT_NE(agentLog().find("Install for user " + std::to_string(::getuid())), std::string::npos)
        << agentLog();
}

TEST_F(AgentCommands, UpdateInstallsANewerVersionAndRefusesAnOlderOne) {
    installDemo();
    DemoVariant newer(m_folder.path() + "/newer", "99.0", "# newer\n");
    Client client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.send(updateCommand(newer.path())));
    EXPECT_EQ(checkEvents(client.eventsUntilCompletion()), 0) << agentLog();
    const auto updated = receipt();
    ASSERT_TRUE(updated);
    EXPECT_EQ(updated->version, "99.0");
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), demoFile("etc/service.conf") + "# newer\n");

    // Going back to the demo's 3.2.0 by "Update" is refused and changes nothing.
    ASSERT_TRUE(client.send(updateCommand(QVT_DEMO_PACKAGE)));
    EXPECT_EQ(checkEvents(client.eventsUntilCompletion()), InstallResult::DowngradeRefused);
    const auto kept = receipt();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->version, "99.0");
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), demoFile("etc/service.conf") + "# newer\n");
}

class UninstallBackups : public AgentCommands, public testing::WithParamInterface<bool> {};

TEST_P(UninstallBackups, RemovesTheInstallationAndTheBackupsOnlyWhenAsked) {
    const bool removeBackups = GetParam();
    installDemo();
    DemoVariant newer(m_folder.path() + "/newer", "99.0", "# newer\n");
    {
        Client updating;
        ASSERT_TRUE(updating.connect());
        ASSERT_TRUE(updating.send(updateCommand(newer.path())));
        ASSERT_EQ(checkEvents(updating.eventsUntilCompletion()), 0) << agentLog();
    }
    ASSERT_TRUE(fs::exists(kBackups)) << "the update made no backup";
    ASSERT_FALSE(fs::is_empty(kBackups));

    Client client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.send(uninstallCommand(removeBackups)));
    EXPECT_EQ(checkEvents(client.eventsUntilCompletion()), 0) << agentLog();
    EXPECT_FALSE(fs::exists(kLocation));
    EXPECT_FALSE(fs::exists(kReceipt));
    EXPECT_EQ(fs::exists(kBackups), !removeBackups);
    if (!removeBackups) {
        EXPECT_FALSE(fs::is_empty(kBackups));
    }

    // Nothing is installed any more.
    ASSERT_TRUE(client.send(uninstallCommand(false)));
    EXPECT_EQ(checkEvents(client.eventsUntilCompletion()), InstallResult::NotInstalled);
}

INSTANTIATE_TEST_SUITE_P(AgentCommands, UninstallBackups, testing::Bool(),
                         [](const auto& info) { return info.param ? "RemoveBackups1" : "RemoveBackups0"; });

TEST_F(AgentCommands, AFailingPostinstallReportsItsStatusAndKeepsThePreviousInstallation) {
    installDemo();
    DemoVariant failing(m_folder.path() + "/failing", "4.0", "# failing\n");
    failing.script("postinstall", "exit 3");
    Client client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.send(installCommand(failing.path())));
    EXPECT_EQ(checkEvents(client.eventsUntilCompletion()), InstallResult::PostinstallFailed) << agentLog();
    const auto kept = receipt();
    ASSERT_TRUE(kept);
    EXPECT_EQ(kept->version, "3.2.0");
    EXPECT_EQ(readFile(kLocation + "/etc/service.conf"), demoFile("etc/service.conf"));
    EXPECT_EQ(client.version(), QVT_PROJECT_VERSION) << "the connection did not stay usable";
}

TEST_F(AgentCommands, AMissingPackageReportsPackageMissing) {
    Client client;
    ASSERT_TRUE(client.connect());
    EXPECT_EQ(client.completionStatus(installCommand(m_folder.path() + "/absent")),
              InstallResult::PackageMissing);
    EXPECT_FALSE(fs::exists(kLocation));
}

// ---- Malformed commands ----------------------------------------------------------

struct MalformedCase {
    const char* name;
    AgentMessage command;
};

class MalformedCommands : public AgentCommands, public testing::WithParamInterface<MalformedCase> {};

TEST_P(MalformedCommands, GetOneCompletionWithCommandMalformedAndChangeNothing) {
    Client client;
    ASSERT_TRUE(client.connect());
    EXPECT_EQ(client.refusalStatus(GetParam().command), InstallResult::CommandMalformed) << agentLog();
    EXPECT_EQ(client.version(), QVT_PROJECT_VERSION) << "a second event followed, or the connection ended";
    EXPECT_FALSE(fs::exists(kLocation));
    EXPECT_FALSE(fs::exists(kReceipt));
    EXPECT_NE(agentLog().find("malformed command refused: "), std::string::npos) << agentLog();
    EXPECT_TRUE(agentAlive());
}

const std::string kDemo = QVT_DEMO_PACKAGE;

INSTANTIATE_TEST_SUITE_P(
    AgentCommands, MalformedCommands,
    testing::Values(MalformedCase{"InstallWithoutPackage", {{"Cmd", "Install"}, {"LoggedInUser", 0}}},
                    MalformedCase{"InstallWithoutUser", {{"Cmd", "Install"}, {"InstallerPackage", kDemo}}},
                    MalformedCase{"InstallPackageAsInteger",
                                  {{"Cmd", "Install"}, {"InstallerPackage", 7}, {"LoggedInUser", 0}}},
                    MalformedCase{"InstallRelativePackage",
                                  {{"Cmd", "Install"},
                                   {"InstallerPackage", "package/InstallerPackage"},
                                   {"LoggedInUser", 0}}},
                    MalformedCase{"InstallUserAsText",
                                  {{"Cmd", "Install"}, {"InstallerPackage", kDemo}, {"LoggedInUser", "0"}}},
                    MalformedCase{"InstallNegativeUser",
                                  {{"Cmd", "Install"}, {"InstallerPackage", kDemo}, {"LoggedInUser", -1}}},
                    MalformedCase{"UpdateWithoutPackage", {{"Cmd", "Update"}}},
                    MalformedCase{"UpdatePackageAsReal", {{"Cmd", "Update"}, {"InstallerPackage", 1.5}}},
                    MalformedCase{"UninstallWithoutBackupsFlag", {{"Cmd", "Uninstall"}, {"LoggedInUser", 0}}},
                    MalformedCase{"UninstallBackupsFlagTwo",
                                  {{"Cmd", "Uninstall"}, {"LoggedInUser", 0}, {"RemoveBackups", 2}}},
                    MalformedCase{"UninstallBackupsFlagAsText",
                                  {{"Cmd", "Uninstall"}, {"LoggedInUser", 0}, {"RemoveBackups", "1"}}},
                    MalformedCase{"UninstallWithoutUser", {{"Cmd", "Uninstall"}, {"RemoveBackups", 1}}},
                    MalformedCase{"CommandNameAsInteger", {{"Cmd", 5}}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- One command at a time -------------------------------------------------------

TEST_F(AgentCommands, ACommandOnASecondConnectionWhileOneRunsIsRefusedAsBusyAtOnce) {
    configureReboot();
    DemoVariant slow(m_folder.path() + "/slow", "3.3", "# slow\n");
    slow.script("preinstall", "sleep 3");
    Client first;
    ASSERT_TRUE(first.connect());
    ASSERT_TRUE(first.send(installCommand(slow.path())));
    auto firstEvents = std::vector<AgentMessage>{};
    const auto started = first.read();
    ASSERT_TRUE(started);
    ASSERT_EQ(started->text("Event"), "Progress") << "the command did not start";
    firstEvents.push_back(*started);

    Client second;
    ASSERT_TRUE(second.connect());
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_EQ(second.refusalStatus(installCommand(QVT_DEMO_PACKAGE)), InstallResult::Busy);
    EXPECT_EQ(second.refusalStatus(uninstallCommand(true)), InstallResult::Busy);
    EXPECT_EQ(second.refusalStatus({{"Cmd", "Reboot"}}), InstallResult::Busy);
    EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s) << "the refusals waited for the running command";

    // The first command goes on undisturbed and ends with its own single completion.
    for (auto& event : first.eventsUntilCompletion())
        firstEvents.push_back(event);
    EXPECT_EQ(checkEvents(firstEvents), 0) << agentLog();
    const auto installed = receipt();
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->version, "3.3");
    EXPECT_FALSE(fs::exists(kRebootStamp)) << "the refused reboot ran";

    // Right after the completion the second connection may run a command; it
    // received nothing else meanwhile.
    ASSERT_TRUE(second.send(uninstallCommand(false)));
    EXPECT_EQ(checkEvents(second.eventsUntilCompletion()), 0) << agentLog();
    EXPECT_EQ(second.version(), QVT_PROJECT_VERSION);
    EXPECT_NE(agentLog().find("Install refused: another command is running"), std::string::npos)
        << agentLog();
}

TEST_F(AgentCommands, AStopRequestWaitsForTheRunningCommandToComplete) {
    DemoVariant slow(m_folder.path() + "/slow", "3.3", "# slow\n");
    slow.script("preinstall", "sleep 2");
    Client client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.send(installCommand(slow.path())));
    ASSERT_TRUE(client.read());
    EXPECT_EQ(stopAgent(), 0);
    const auto installed = receipt();
    ASSERT_TRUE(installed) << "the installation was cut short: " << agentLog();
    EXPECT_EQ(installed->version, "3.3");
    for (const auto& file : installed->files)
        EXPECT_TRUE(fs::exists(kLocation + "/" + file)) << file;
    EXPECT_NE(agentLog().find("Stopping: waiting for the running command to complete"), std::string::npos)
        << agentLog();
}

// ---- The client going away -------------------------------------------------------

TEST_F(AgentCommands, AClientClosingMidCommandLeavesAConsistentInstallationAndAFreeAgent) {
    DemoVariant slow(m_folder.path() + "/slow", "3.3", "# slow\n");
    slow.script("preinstall", "sleep 1");
    {
        Client leaving;
        ASSERT_TRUE(leaving.connect());
        ASSERT_TRUE(leaving.send(installCommand(slow.path())));
        ASSERT_TRUE(leaving.read());
        leaving.close();
    }
    ASSERT_TRUE(
        waitFor([&] { return agentLog().find("Install completed with status") != std::string::npos; }, 30s))
        << agentLog();
    const std::string log = agentLog();
    EXPECT_NE(log.find("Install completed with status 0"), std::string::npos) << log;
    EXPECT_EQ(count(log, "client gone"), 1u) << "every undelivered event was reported:\n" << log;
    const auto installed = receipt();
    ASSERT_TRUE(installed);
    EXPECT_EQ(installed->version, "3.3");
    for (const auto& file : installed->files)
        EXPECT_TRUE(fs::exists(kLocation + "/" + file)) << file;

    Client next;
    ASSERT_TRUE(next.connect());
    ASSERT_TRUE(next.send(uninstallCommand(true)));
    EXPECT_EQ(checkEvents(next.eventsUntilCompletion()), 0) << agentLog();
    EXPECT_FALSE(fs::exists(kLocation));
    EXPECT_TRUE(agentAlive());
}

// ---- Reboot ----------------------------------------------------------------------

TEST_F(AgentCommands, RebootRunsTheConfiguredCommandAndSendsNothing) {
    configureReboot();
    Client client;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(client.send({{"Cmd", "Reboot"}}));
    EXPECT_TRUE(waitFor([&] { return fs::exists(kRebootStamp); })) << agentLog();
    EXPECT_EQ(readFile(kRebootStamp), "rebooted\n");
    EXPECT_EQ(client.version(), QVT_PROJECT_VERSION) << "Reboot was answered";
}

TEST_F(AgentCommands, RebootRunsAlsoWhenTheClientClosesRightAfterSendingIt) {
    configureReboot();
    {
        Client client;
        ASSERT_TRUE(client.connect());
        ASSERT_TRUE(client.send({{"Cmd", "Reboot"}}));
    }
    EXPECT_TRUE(waitFor([&] { return fs::exists(kRebootStamp); })) << agentLog();
}

TEST_F(AgentCommands, AFailingRebootCommandIsReportedAsRebootFailed) {
    configureReboot("/bin/false");
    Client client;
    ASSERT_TRUE(client.connect());
    EXPECT_EQ(client.refusalStatus({{"Cmd", "Reboot"}}), InstallResult::RebootFailed) << agentLog();
}

// ---- Who may send commands ---------------------------------------------------------

TEST_F(AgentCommands, AUserWhoIsNoAdministratorGetsTheVersionButNoCommand) {
    configureReboot();
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    const std::string demo = QVT_DEMO_PACKAGE;
    // The child's own checks: its exit status names the first that failed.
    const int status = testsupport::runAsUser("qvtuser", [&] {
        Client client;
        if (!client.connect() || client.version() != QVT_PROJECT_VERSION)
            return 10;
        if (client.refusalStatus(installCommand(demo)) != InstallResult::NotPermitted)
            return 11;
        if (client.refusalStatus(updateCommand(demo)) != InstallResult::NotPermitted)
            return 12;
        if (client.refusalStatus(uninstallCommand(true)) != InstallResult::NotPermitted)
            return 13;
        if (client.refusalStatus({{"Cmd", "Reboot"}}) != InstallResult::NotPermitted)
            return 14;
        if (client.refusalStatus({{"Cmd", "UninstallInstallerAgent"}}) != InstallResult::NotPermitted)
            return 15;
        if (client.refusalStatus({{"Cmd", "Install"}}) != InstallResult::NotPermitted)
            return 16; // refused before its keys are looked at
        if (!client.send({{"Ctrl", "bye"}}) || client.version() != QVT_PROJECT_VERSION)
            return 17;
        return 0;
    });
    EXPECT_EQ(status, 0) << agentLog();
    EXPECT_FALSE(fs::exists(kLocation));
    EXPECT_FALSE(fs::exists(kRebootStamp));
    EXPECT_TRUE(agentAlive()) << "the agent removed itself for a user";
    EXPECT_TRUE(fs::exists(kSocket));
    EXPECT_NE(
        agentLog().find("command refused: uid " + std::to_string(testsupport::userId("qvtuser")) + " pid "),
        std::string::npos)
        << agentLog();
}

/// Who is served when an administrator authorized one installer process: the
/// grant is recorded for a process of its user (as the blessing step does),
/// then a client process connects and sends "Uninstall" (nothing is
/// installed, so a client that is served gets NotInstalled).
struct GrantCase {
    const char* name;
    const char* client;   ///< the user whose process sends the command
    bool clientIsGrantee; ///< the granted process itself, or another one
    int issuedMinutesAgo; ///< when the grant was issued
    int64_t first;        ///< the status of its first command
    int64_t afterSession; ///< of a command on a second connection of the same process
};

class Grants : public AgentCommands, public testing::WithParamInterface<GrantCase> {};

TEST_P(Grants, ServeOnlyTheAuthorizedInstallerProcessForOneSession) {
    const GrantCase& c = GetParam();
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    ASSERT_NE(testsupport::makeSandboxUser("qvtadmin", "sudo"), static_cast<uid_t>(-1));
    const auto commandFromAnotherConnection = [] {
        Client client;
        if (!client.connect())
            return int64_t{-1};
        return client.completionStatus(uninstallCommand(false));
    };
    const auto asClient = [&] {
        if (commandFromAnotherConnection() != c.first)
            return 10;
        return commandFromAnotherConnection() == c.afterSession ? 0 : 11;
    };
    testsupport::UserProcess grantee(
        "qvtuser", c.clientIsGrantee ? std::function<int()>(asClient) : [] { return 0; });
    const auto grant = CommandGrant::forProcess(testsupport::userId("qvtuser"), grantee.pid(),
                                                CommandGrant::now() - c.issuedMinutesAgo * 60000);
    ASSERT_TRUE(grant);
    std::string problem;
    ASSERT_TRUE(CommandGrant::record(kIdentifier, *grant, problem)) << problem;
    if (c.clientIsGrantee) {
        EXPECT_EQ(grantee.wait(), 0) << c.name << "\n" << agentLog();
    } else {
        EXPECT_EQ(testsupport::runAsUser(c.client, asClient), 0) << c.name << "\n" << agentLog();
    }
    // Root is served whatever grants there are.
    EXPECT_EQ(commandFromAnotherConnection(), InstallResult::NotInstalled);
}

INSTANTIATE_TEST_SUITE_P(AgentCommands, Grants,
                         testing::Values(GrantCase{"the authorized process", "qvtuser", true, 0,
                                                   InstallResult::NotInstalled, InstallResult::NotPermitted},
                                         GrantCase{"another process of the same user", "qvtuser", false, 0,
                                                   InstallResult::NotPermitted, InstallResult::NotPermitted},
                                         GrantCase{"a process of an administrator", "qvtadmin", false, 0,
                                                   InstallResult::NotPermitted, InstallResult::NotPermitted},
                                         GrantCase{"the authorized process after ten minutes", "qvtuser",
                                                   true, 10, InstallResult::NotPermitted,
                                                   InstallResult::NotPermitted}),
                         [](const testing::TestParamInfo<GrantCase>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c; ++c)
                                 if (std::isalnum(static_cast<unsigned char>(*c)))
                                     name += *c;
                             return name;
                         });

TEST(CommandGrantFile, OnlyARootOnlyFileHoldsGrants) {
    if (!inSandbox() || ::geteuid() != 0)
        GTEST_SKIP() << "needs root inside the test sandbox: the grants live in /var/run";
    const std::string label = "com.quorvantis.tests.grants";
    const std::string path = CommandGrant::path(label);
    const auto own = CommandGrant::forProcess(::getuid(), ::getpid());
    ASSERT_TRUE(own);
    std::string problem;
    for (mode_t unsafe : {0644, 0660, 0606}) {
        ::unlink(path.c_str());
        std::ofstream(path) << "";
        ::chmod(path.c_str(), unsafe);
        EXPECT_FALSE(CommandGrant::record(label, *own, problem)) << std::oct << unsafe;
        EXPECT_FALSE(CommandGrant::claim(label, ::getuid(), ::getpid())) << std::oct << unsafe;
    }
    ::unlink(path.c_str());
    ASSERT_EQ(::symlink("/etc/passwd", path.c_str()), 0);
    EXPECT_FALSE(CommandGrant::record(label, *own, problem)) << "a planted link is not followed";
    ::unlink(path.c_str());

    // Lines that are not four numbers are no grants; a good one among them is.
    ASSERT_TRUE(CommandGrant::record(label, *own, problem)) << problem;
    std::ofstream(path, std::ios::app) << "x y z w\n0 -5 1 2\n" << ::getuid() << " " << ::getpid() << "\n";
    EXPECT_TRUE(CommandGrant::claim(label, ::getuid(), ::getpid()));
    EXPECT_FALSE(CommandGrant::claim(label, ::getuid(), ::getpid())) << "a grant is taken once";
    ::unlink(path.c_str());
}

// ---- Events, without the agent -----------------------------------------------------

TEST(CommandEventText, InfoLinesAreMadeSafeForTheMessageText) {
    EXPECT_EQ(CommandEvents::safeInfo("Copying a,b,c"), "Copying a b c");
    EXPECT_EQ(CommandEvents::safeInfo("say \"hi\"\tnow\n"), "say 'hi' now ");
    EXPECT_EQ(CommandEvents::safeInfo("bad \xff\xfe byte"), "bad ?? byte");
    EXPECT_EQ(CommandEvents::safeInfo("Kopiere Dateien \xc3\xa4"), "Kopiere Dateien \xc3\xa4");
    // A cut never splits a character.
    EXPECT_EQ(CommandEvents::safeInfo("ab\xc3\xa4", 3), "ab");
    const std::string longPath = "Copying /" + std::string(2000, 'x');
    EXPECT_EQ(CommandEvents::safeInfo(longPath).size(), CommandEvents::kMaxInfoBytes);
}

TEST(CommandEventText, TheLongestProgressEventFitsAFrame) {
    const auto event = CommandEvents::progressEvent(100, std::string(CommandEvents::kMaxInfoBytes * 2, 'x'));
    EXPECT_LE(serialize(event).size(), kMaxFrameBodySize);
    const auto parsed = deserialize(serialize(event));
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, event);
}

TEST(CommandEventText, ProgressIsSentOnlyOnChangeNeverGoesDownAndOneCompletionAtMost) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    PHProtocolHandler agentSide(fds[0], false);
    PHProtocolHandler clientSide(fds[1], false);
    timeval timeout{5, 0};
    ::setsockopt(fds[1], SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    {
        CommandEvents events(agentSide, 1);
        events.progress(10.2, "Copying files");
        events.progress(10.9, "Copying files"); // same whole percent
        events.progress(5, "Copying files");    // never down
        events.progress(250, "Writing receipt");
        EXPECT_TRUE(events.completed(0));
        EXPECT_FALSE(events.completed(9));
        events.progress(100, "late");
    }
    const auto first = clientSide.readMessage();
    ASSERT_TRUE(first);
    EXPECT_EQ(*first, CommandEvents::progressEvent(10, "Copying files"));
    const auto second = clientSide.readMessage();
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, CommandEvents::progressEvent(100, "Writing receipt"));
    const auto third = clientSide.readMessage();
    ASSERT_TRUE(third);
    EXPECT_EQ(*third, CommandEvents::completedEvent(0));
    agentSide.closeConnection();
    EXPECT_FALSE(clientSide.readMessage()) << "a message followed the completion";
}

TEST(CommandEventText, SendingAfterTheClientLeftFailsQuietly) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds), 0);
    PHProtocolHandler agentSide(fds[0], false);
    ::close(fds[1]);
    CommandEvents events(agentSide, 1);
    events.progress(1, "one");
    events.progress(2, "two");
    EXPECT_FALSE(events.completed(0));
    EXPECT_FALSE(agentSide.isConnected());
}

// ---- Command keys, without the agent ----------------------------------------------

TEST(CommandKeys, AWellFormedUninstallCarriesUserAndBackupsFlag) {
    std::string problem;
    const auto command =
        CommandRequest::parse({{"Cmd", "Uninstall"}, {"LoggedInUser", 501}, {"RemoveBackups", 1}}, problem);
    ASSERT_TRUE(command) << problem;
    EXPECT_EQ(command->kind(), CommandRequest::Kind::Uninstall);
    EXPECT_EQ(command->loggedInUser(), 501u);
    EXPECT_TRUE(command->removeBackups());
}

TEST(CommandKeys, PackagePathsWithBlanksStayAsTheyAreAndNulBytesAreRefused) {
    std::string problem;
    const auto command =
        CommandRequest::parse({{"Cmd", "Update"}, {"InstallerPackage", "/a b/Installer Package"}}, problem);
    ASSERT_TRUE(command) << problem;
    EXPECT_EQ(command->packagePath(), "/a b/Installer Package");
    EXPECT_FALSE(
        CommandRequest::parse({{"Cmd", "Update"}, {"InstallerPackage", std::string("/a\0b", 4)}}, problem));
    EXPECT_NE(problem.find("NUL"), std::string::npos) << problem;
    EXPECT_FALSE(CommandRequest::parse(
        {{"Cmd", "Install"}, {"InstallerPackage", "/p"}, {"LoggedInUser", int64_t{4294967295}}}, problem));
    EXPECT_NE(problem.find("no user id"), std::string::npos) << problem;
}

} // namespace
