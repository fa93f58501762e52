// The shipped installer from end to end, inside the test sandbox: the real bundle, started as a management
// tool would start it, runs the headless automatic update, which installs the real agent through the real
// service manager, which installs the package: as root, as an unprivileged user who cannot elevate, as a
// desktop user who elevates through the real pkexec and polkit daemon, and where systemd manages the jobs.
// Started as a user would start it, it shows its window.
#include "BindMount.h"
#include "PolkitService.h"
#include "Signing.h"
#include "SystemdStandIn.h"
#include "TestSupport.h"
#include "platform/Authorization.h"
#include "platform/PropertyList.h"
#include "platform/ServiceManager.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <pty.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using platform::ServiceManager;

namespace {

using testsupport::count;
using testsupport::readFile;

const std::string kBuildDir = QVT_BUILD_DIR;
const std::string kLabel = "com.quorvantis.remote.RInstallerAgent";
const std::string kReceipt = "/var/lib/com.quorvantis.remote/receipts/com.quorvantis.remote.service.plist";
const std::string kService = "/opt/quorvantis-remote/bin/qvt-remote-service";
const std::string kFailed = "Installation failed with error: ";
const std::string kLogDir = "/var/log/com.quorvantis.remote";
// The start of every log file line: UTC time with milliseconds, thread mark.
const std::string kLinePrefix = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\\.\\d{3} Thread\\[[0-9a-f]+\\]:";

/// Whether \p text contains \p part, showing the text should the expectation fail.
::testing::AssertionResult includes(const std::string& text, const std::string& part) {
    auto result =
        text.find(part) != std::string::npos ? ::testing::AssertionSuccess() : ::testing::AssertionFailure();
    return result << "\"" << part << "\" in:\n" << text;
}

/// The launch line's text of the installer in \p bundle, version and revision, as a regular expression.
std::string launchText(const std::string& bundle) {
    const auto info = platform::PropertyList::fromFile(bundle + "/Contents/Info.plist");
    const std::string revision = info ? info->string("com.quorvantis.source.revision").value_or("?") : "?";
    return "Launched: QvtRSInstaller version: 3\\.2\\.0  \\(" + revision + "\\)";
}

/// Whether \p log, a log file, starts with the launch line of the installer in \p bundle.
bool startsWithLaunchLine(const std::string& log, const std::string& bundle) {
    return std::regex_search(log, std::regex("^" + kLinePrefix + "\t" + launchText(bundle) + "\n"));
}

/// The files in \p folder named \p name, "_", a UTC time with milliseconds and ".txt".
std::set<std::string> logFiles(const std::string& folder, const std::string& name) {
    std::set<std::string> found;
    std::error_code error;
    const std::regex pattern(name + "_\\d{4}-\\d\\d-\\d\\dT\\d\\d-\\d\\d-\\d\\d\\.\\d{3}\\.txt");
    for (const auto& entry : fs::directory_iterator(folder, error))
        if (std::regex_match(entry.path().filename().string(), pattern))
            found.insert(entry.path().string());
    return found;
}

/// Everything the agents wrote into their log files.
std::string agentLog() {
    std::string all;
    for (const std::string& file : logFiles(kLogDir, "RInstallerAgent"))
        all += readFile(file);
    return all;
}

/// The pid of the running agent, from its pid file (0: none).
pid_t agentPid() {
    pid_t agent = 0;
    std::ifstream(ServiceManager::pidFilePath(kLabel)) >> agent;
    return agent;
}

class HeadlessFlow : public ::testing::Test {
protected:
    void SetUp() override {
        if (!testsupport::rootInSandbox())
            GTEST_SKIP() << "installs for real: runs only as root inside tests/sandbox";
    }

    void TearDown() override {
        if (IsSkipped())
            return;
        m_polkit.reset();
        ServiceManager::stopJobAsRoot(kLabel); // through the systemctl stand-in if there is one
        ServiceManager::removeJobFilesAsRoot(kLabel);
        m_systemd.reset();
        std::error_code ignored;
        for (const char* path : {"/opt/quorvantis-remote", "/var/lib/com.quorvantis.remote", "/opt/bundles"})
            fs::remove_all(path, ignored);
        fs::remove(ServiceManager::consoleLogPath(kLabel), ignored);
        fs::remove_all(kLogDir, ignored);
    }

    /// A headless run: its exit status, standard error, and the log files the installer made (in the shared
    /// folder or in the user's default folder) with their content.
    struct Run {
        int exitStatus = -1;
        std::string output;
        std::string errors;
        std::set<std::string> logFiles;
        std::string log;
    };

    /// A copy of the built installer bundle below /opt/bundles, as a user would have downloaded it.
    static std::string bundleAt(const std::string& folder) {
        const std::string bundle = "/opt/bundles/" + folder + "/QvtRSInstaller.app";
        fs::create_directories(fs::path(bundle).parent_path());
        fs::copy(kBuildDir + "/QvtRSInstaller.app", bundle, fs::copy_options::recursive);
        ::chmod("/opt/bundles", 0755);
        ::chmod(("/opt/bundles/" + folder).c_str(), 0755);
        return bundle;
    }

    /// Replaces a script of the bundle's package and signs the package again, as the vendor would.
    static void script(const std::string& bundle, const std::string& name, const std::string& body) {
        const std::string package = bundle + "/Contents/InstallerPackage";
        const std::string path = package + "/Scripts/" + name;
        fs::create_directories(fs::path(path).parent_path());
        std::ofstream(path) << "#!/bin/sh\n" << body;
        ::chmod(path.c_str(), 0755);
        const auto signing = testsupport::runProcess(
            {kBuildDir + "/tools/qvt-sign", "package", package, testsupport::signingSecretKeyFile()});
        ASSERT_EQ(signing.exitStatus, 0) << signing.errors;
    }

    /// Runs the bundle's installer headless without a display, as root or as \p user (its home and runtime
    /// folder /run/<user>), with \p changes to the environment and \p options after "-gui NO".
    static Run runHeadless(const std::string& bundle, const std::string& user = "",
                           const std::map<std::string, std::string>& changes = {},
                           const std::vector<std::string>& options = {}) {
        std::map<std::string, std::string> environment = {
            {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}, {"LANG", "C.UTF-8"}};
        if (!user.empty())
            environment["HOME"] = environment["XDG_RUNTIME_DIR"] = "/run/" + user;
        for (const auto& [name, value] : changes)
            environment[name] = value;
        std::vector<std::string> argv = {bundle + "/Contents/MacOS/QvtRSInstaller", "-gui", "NO"};
        argv.insert(argv.end(), options.begin(), options.end());
        const auto logs = [&] {
            auto found = logFiles(kLogDir, "QvtRSInstaller");
            found.merge(
                logFiles((user.empty() ? "/root" : environment["HOME"]) + "/QvLogs", "QvtRSInstaller"));
            return found;
        };
        const auto before = logs();
        const std::string errors = user.empty() ? "/run/qvt-root-errors" : "/run/" + user + "/errors";
        const std::string output = errors + ".output";
        fs::remove(errors);
        fs::remove(output);
        Run result;
        result.exitStatus = testsupport::runAsUser(user.empty() ? "root" : user, [&] {
            const auto ran = testsupport::runProcess(argv, environment, 120);
            std::ofstream(errors) << ran.errors;
            std::ofstream(output) << ran.output;
            return ran.exitStatus;
        });
        result.errors = readFile(errors);
        result.output = readFile(output);
        for (const std::string& file : logs())
            if (!before.count(file)) {
                result.logFiles.insert(file);
                result.log += readFile(file);
            }
        return result;
    }

    /// A bundle for the unprivileged desktop user qvtpk, whose request to bless its agent (the bundle's,
    /// or the installed one checking a later bundle's) a polkit rule answers with \p answer, as an
    /// administrator would in the dialog.
    std::string desktopUserBundle(const std::string& answer) {
        EXPECT_NE(testsupport::makeSandboxUser("qvtpk"), static_cast<uid_t>(-1));
        const std::string bundle = bundleAt("desktop user");
        using testsupport::PolkitService;
        m_polkit = std::make_unique<PolkitService>(
            PolkitService::blessingRule("qvtpk", bundle + "/Contents/Library/LaunchServices/" + kLabel,
                                        answer) +
            PolkitService::blessingRule("qvtpk", ServiceManager::installedExecutablePath(kLabel), answer));
        EXPECT_TRUE(m_polkit->ok()) << m_polkit->problem();
        return bundle;
    }

    /// A run that failed with \p exitStatus, reported once, and left nothing installed.
    static void expectFailedLeavingNothing(const Run& result, int exitStatus) {
        EXPECT_EQ(result.exitStatus, exitStatus) << result.log << result.errors;
        EXPECT_EQ(count(result.log, kFailed), 1u) << result.log;
        EXPECT_FALSE(fs::exists("/opt/quorvantis-remote"));
        EXPECT_FALSE(ServiceManager::copyJobDictionary(kLabel));
        EXPECT_FALSE(fs::exists(ServiceManager::installedExecutablePath(kLabel)));
        EXPECT_FALSE(fs::exists(ServiceManager::pidFilePath(kLabel)));
    }

    std::unique_ptr<testsupport::PolkitService> m_polkit;
    std::unique_ptr<testsupport::SystemdStandIn> m_systemd;
};

} // namespace

TEST_F(HeadlessFlow, UpdateInstallsTheDemoPackageAndEveryRunLogsIntoItsOwnFileInTheSharedFolder) {
    const std::string bundle = bundleAt("My Apps");
    const auto result = runHeadless(bundle);
    const std::string& log = result.log;
    ASSERT_EQ(result.exitStatus, 0) << log << result.errors;
    for (const char* file : {"bin/qvt-remote-service", "etc/service.conf", "README.txt"})
        EXPECT_TRUE(fs::exists(std::string("/opt/quorvantis-remote/") + file)) << file;
    EXPECT_TRUE(platform::PropertyList::fromFile(kReceipt)) << "no receipt";

    EXPECT_TRUE(startsWithLaunchLine(log, bundle)) << log;
    // The authorization and the helper's version lines: the agent installation tests.
    EXPECT_TRUE(includes(log, ":\tHelper tool not yet installed: " + kLabel + "\n"));
    // The package path is the plain bundle path, blanks and all.
    const std::regex sent("Sending Message: \\{[^\n]*\"Cmd\":\"Update\"[^\n]*\"InstallerPackage\":\"" +
                          bundle + "/Contents/InstallerPackage\"");
    EXPECT_TRUE(std::regex_search(log, sent)) << log;
    EXPECT_TRUE(includes(log, "Received Message: {\"Event\":\"Progress\""));
    EXPECT_EQ(count(log, "\"Event\":\"CommandCompleted\""), 1u) << log;
    EXPECT_FALSE(includes(log, "Installation failed"));
    ASSERT_EQ(result.logFiles.size(), 1u) << "one new file per run";
    EXPECT_EQ(fs::path(*result.logFiles.begin()).parent_path(), kLogDir);
    EXPECT_TRUE(includes(agentLog(), "\"Cmd\":\"Update\"")) << "the agent's own file next to it";

    // Every line has the file layout; only the authorization prompt, which the log quotes whole, spans lines.
    std::istringstream lines(log);
    std::string recordStart;
    for (std::string line; std::getline(lines, line);)
        if (std::regex_match(line, std::regex(kLinePrefix + "\t[^\n]*")))
            recordStart = line;
        else
            EXPECT_TRUE(includes(recordStart, ":\tAuthorizationCopyRights: ")) << "stray line: " << line;
    // Debug messages are on, so each record is echoed on standard error.
    const std::regex echo(kLinePrefix + " Launched: QvtRSInstaller version: 3\\.2\\.0  \\([^\n]*\\)\t\n");
    EXPECT_TRUE(std::regex_search(result.errors, echo)) << result.errors;
    EXPECT_EQ(count(result.errors, "\"Event\":\"CommandCompleted\""), 1u) << result.errors;

    // A second run makes a second file and leaves the first alone; it finds the same agent running and
    // keeps it.
    const pid_t agent = agentPid();
    const auto again = runHeadless(bundle);
    EXPECT_EQ(again.exitStatus, 0) << again.log;
    EXPECT_TRUE(includes(again.log, "The privileged helper " + kLabel +
                                        " is already installed and running at version 3.2.0; kept\n"));
    EXPECT_EQ(agentPid(), agent) << "the agent was not restarted";
    EXPECT_EQ(again.logFiles.size(), 1u);
    EXPECT_EQ(again.logFiles.count(*result.logFiles.begin()), 0u);
    EXPECT_EQ(readFile(*result.logFiles.begin()), log);
}

TEST_F(HeadlessFlow, AFailingScriptKeepsThePreviousInstallationReleasesTheAgentAndExitsOne) {
    ASSERT_EQ(runHeadless(bundleAt("good")).exitStatus, 0);
    const std::string installed = readFile(kService);
    const std::string bad = bundleAt("bad");
    script(bad, "postinstall", "echo 'the new version does not start' >&2\nexit 3\n");
    const auto result = runHeadless(bad);
    EXPECT_EQ(result.exitStatus, 1) << "the agent's command failed\n" << result.log;
    EXPECT_EQ(count(result.log, kFailed + "Error Domain=MyInstallerErrorDomain Code=-1 "), 1u) << result.log;
    EXPECT_TRUE(includes(result.log, "/var/log/com.quorvantis.remote"));
    EXPECT_FALSE(includes(result.log, "{LOG_DIR}"));
    EXPECT_EQ(readFile(kService), installed);
    // The application released the agent after the failure; the agent may log it a moment after the run
    // ended.
    for (int i = 0; i < 100 && !includes(agentLog(), "\"Ctrl\":\"bye\""); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_TRUE(includes(agentLog(), "\"Ctrl\":\"bye\""));
}

TEST_F(HeadlessFlow, TheAgentDyingWhileItWorksIsAFailure) {
    const std::string bundle = bundleAt("slow");
    script(bundle, "preinstall", "touch /run/qvt-preinstall-started\nsleep 60\n");
    ::unlink("/run/qvt-preinstall-started");
    std::thread killer([] {
        for (int i = 0; i < 600 && !fs::exists("/run/qvt-preinstall-started"); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (const pid_t agent = agentPid(); agent > 1)
            ::kill(agent, SIGKILL);
    });
    const auto result = runHeadless(bundle);
    killer.join();
    EXPECT_EQ(result.exitStatus, 4) << "the connection was lost\n" << result.log;
    EXPECT_TRUE(includes(result.log, kFailed + "Error Domain=MyInstallerErrorDomain Code=-2 "));
    EXPECT_TRUE(includes(result.log, "/var/log/com.quorvantis.remote"));
}

TEST_F(HeadlessFlow, NeverConnectsToADisplayEvenWhenOneIsConfigured) {
    // A display that does not exist: a run that tried to open a window would abort. Without an agent in the
    // bundle the run fails fast, and says so.
    const std::string bundle = bundleAt("no-agent");
    fs::remove(bundle + "/Contents/Library/LaunchServices/" + kLabel);
    const auto result = runHeadless(bundle, "", {{"DISPLAY", ":97"}});
    EXPECT_TRUE(startsWithLaunchLine(result.log, bundle)) << result.log;
    EXPECT_FALSE(includes(result.errors, "could not connect to display"));
    expectFailedLeavingNothing(result, 3); // the agent cannot be installed
}

TEST_F(HeadlessFlow, AUserWhoCannotElevateFailsWithinTheTimeLimitAndLogsIntoItsHome) {
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    // pkexec is there, but no polkit daemon answers it; or there is no pkexec at all.
    for (const bool hidePkexec : {false, true}) {
        SCOPED_TRACE(hidePkexec ? "no pkexec" : "no polkit daemon");
        // Hidden, in this mount namespace only.
        std::optional<testsupport::BindMount> noPkexec;
        if (hidePkexec) {
            noPkexec.emplace("/dev/null", platform::Authorization::kPkexecPaths[0]);
            ASSERT_TRUE(noPkexec->ok()) << noPkexec->problem();
            ASSERT_EQ(platform::Authorization::findPkexec(), "");
        }
        const auto started = std::chrono::steady_clock::now();
        const auto result = runHeadless(bundleAt(hidePkexec ? "no pkexec" : "no polkitd"), "qvtuser",
                                        {{"PATH", "/nonexistent"}}, {"-timeout", "20"});
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
        expectFailedLeavingNothing(result, 2); // authorization impossible
        // The user may not make the shared log folder, so the run logs into the default folder in its home.
        EXPECT_FALSE(fs::exists(kLogDir));
        ASSERT_EQ(result.logFiles.size(), 1u) << result.errors;
        EXPECT_EQ(fs::path(*result.logFiles.begin()).parent_path(), "/run/qvtuser/QvLogs");
    }
}

TEST_F(HeadlessFlow, ARunThatCannotOpenALogFileLogsToTheConsole) {
    // Neither the shared folder nor a default folder in "/" can be made by the user: every message goes to
    // standard error, and the run goes on.
    ASSERT_NE(testsupport::makeSandboxUser("qvtuser"), static_cast<uid_t>(-1));
    const std::string bundle = bundleAt("console");
    const auto result = runHeadless(bundle, "qvtuser", {{"PATH", "/nonexistent"}, {"HOME", "/"}});
    EXPECT_TRUE(result.logFiles.empty());
    EXPECT_FALSE(fs::exists("/QvLogs"));
    // In the console layout: time stamp, process and thread, text.
    const std::regex launch(
        "(^|\\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} QvtRSInstaller\\[\\d+:[0-9a-f]+\\] " +
        launchText(bundle) + "\\n");
    EXPECT_TRUE(std::regex_search(result.errors, launch)) << result.errors;
    EXPECT_EQ(count(result.errors, kFailed), 1u) << result.errors;
    EXPECT_EQ(result.exitStatus, 2) << result.errors;
}

TEST_F(HeadlessFlow, ADesktopUserAnAdministratorAuthorizesGetsTheRootAgentWhichChecksLaterBundles) {
    const auto result = runHeadless(desktopUserBundle("YES"), "qvtpk");
    ASSERT_EQ(result.exitStatus, 0) << result.log << result.errors;
    EXPECT_TRUE(includes(result.log, ":\tPrivileged helper " + kLabel + " is up-to-date, version: 3.2.0\n"));
    EXPECT_TRUE(fs::exists(kService));
    EXPECT_TRUE(platform::PropertyList::fromFile(kReceipt)) << "no receipt";
    const pid_t agent = agentPid();
    const std::string status = readFile("/proc/" + std::to_string(agent) + "/status");
    EXPECT_TRUE(includes(status, "\nUid:\t0\t0\t0\t0\n")) << "the agent runs as root";
    // The agent served the installer because an administrator authorized it.
    EXPECT_TRUE(includes(agentLog(), " holds an administrator's grant for this connection"));

    // Polkit lets pkexec run only the installed agent for later bundles, not their own helpers: the
    // installed agent keeps itself for the signed one and refuses the one changed after signing.
    const std::string installed = readFile(ServiceManager::installedExecutablePath(kLabel));
    const auto later = runHeadless(bundleAt("later"), "qvtpk");
    EXPECT_EQ(later.exitStatus, 0) << later.log;
    EXPECT_TRUE(includes(later.log, "is already installed and running at version 3.2.0; kept"));
    EXPECT_EQ(agentPid(), agent);

    const std::string modified = bundleAt("modified");
    const std::string helper = modified + "/Contents/Library/LaunchServices/" + kLabel;
    std::ofstream(helper, std::ios::app | std::ios::binary) << '\0';
    const auto refused = runHeadless(modified, "qvtpk");
    EXPECT_NE(refused.exitStatus, 0) << refused.log;
    EXPECT_EQ(count(refused.log, kFailed), 1u) << refused.log;
    EXPECT_TRUE(
        includes(agentLog(), "Refusing the helper " + helper +
                                 ": its signature does not verify with the key of the installed helper " +
                                 ServiceManager::installedExecutablePath(kLabel) + "\n"));
    EXPECT_EQ(readFile(ServiceManager::installedExecutablePath(kLabel)), installed);
    EXPECT_EQ(agentPid(), agent) << "the installed agent was not stopped";
    EXPECT_EQ(::kill(agent, 0), 0);
    EXPECT_TRUE(ServiceManager::waitForListener(ServiceManager::socketPath(kLabel), std::chrono::seconds(1)));
}

TEST_F(HeadlessFlow, ADesktopUserAnAdministratorRefusesFailsAndLeavesNothingBehind) {
    const auto result = runHeadless(desktopUserBundle("NO"), "qvtpk");
    EXPECT_TRUE(includes(result.log, ":\tpkexec: the administrator authorization was refused\n"));
    expectFailedLeavingNothing(result, 2);
}

TEST_F(HeadlessFlow, UnderSystemdARootRunInstallsThroughSystemctlAndExitsZero) {
    // systemd's runtime folder is there and the systemctl stand-in (systemd itself cannot run in the sandbox)
    // is on systemctl's fixed path. The installer runs as in use, so it ignores SIGCHLD.
    m_systemd = std::make_unique<testsupport::SystemdStandIn>();
    ASSERT_TRUE(m_systemd->ok()) << m_systemd->problem();
    const auto result = runHeadless(bundleAt("systemd"));
    EXPECT_EQ(result.exitStatus, 0) << result.log << result.errors;
    EXPECT_TRUE(fs::exists(kService));
    EXPECT_EQ(testsupport::SystemdStandIn::calls(), "daemon-reload\nstart " + kLabel + ".service\n");
    EXPECT_FALSE(fs::exists(ServiceManager::pidFilePath(kLabel))) << "no detached daemon was started";
}

/// The JSON objects of a run's progress stream, one per line; a line that is not one fails the test.
std::vector<nlohmann::json> progressLines(const std::string& output) {
    std::vector<nlohmann::json> lines;
    std::istringstream in(output);
    for (std::string line; std::getline(in, line);) {
        auto parsed = nlohmann::json::parse(line, nullptr, false);
        EXPECT_TRUE(parsed.is_object()) << "not a JSON object: " << line;
        if (parsed.is_object())
            lines.push_back(std::move(parsed));
    }
    return lines;
}

TEST_F(HeadlessFlow, TheJsonProgressStreamFollowsARealInstallationPhaseByPhase) {
    const auto result = runHeadless(bundleAt("json"), "", {}, {"-progress", "json"});
    ASSERT_EQ(result.exitStatus, 0) << result.log << result.errors;
    const auto lines = progressLines(result.output);
    std::vector<std::string> phases; // repeated progress lines counted once
    size_t progress = 0;
    for (const auto& line : lines) {
        const std::string phase = line.value("phase", "");
        if (phase == "progress") {
            ++progress;
            EXPECT_TRUE(line["percent"].is_number() && line["info"].is_string()) << line.dump();
        }
        if (phases.empty() || phases.back() != phase || phase != "progress")
            phases.push_back(phase);
    }
    EXPECT_EQ(phases, (std::vector<std::string>{"authorizing", "installing-helper", "connected", "progress",
                                                "completed", "exit"}))
        << result.output;
    EXPECT_GT(progress, 2u);
    ASSERT_GE(lines.size(), 3u);
    EXPECT_EQ(lines[2].value("agentVersion", ""), "3.2.0");
    EXPECT_EQ(lines[lines.size() - 2].value("status", -1), 0);
    EXPECT_EQ(lines[lines.size() - 2].value("rebootRequired", true), false);
    EXPECT_EQ(lines.back().value("exitStatus", -1), 0);
    EXPECT_EQ(lines.back().value("meaning", ""), "succeeded");
    // Standard error is no terminal here: no progress bar is drawn into it.
    EXPECT_FALSE(includes(result.errors, "\r["));
}

TEST_F(HeadlessFlow, OnATerminalTheProgressIsOneLineRedrawnInPlace) {
    // Started from an administrator's terminal: standard error is a terminal (a pseudo-terminal here).
    const std::string program = bundleAt("terminal") + "/Contents/MacOS/QvtRSInstaller";
    int terminal = -1;
    const pid_t child = ::forkpty(&terminal, nullptr, nullptr, nullptr);
    ASSERT_GE(child, 0) << std::strerror(errno);
    if (child == 0) {
        ::setenv("DISPLAY", "", 1);
        ::setenv("WAYLAND_DISPLAY", "", 1);
        ::unsetenv("QT_QPA_PLATFORM");
        ::execl(program.c_str(), program.c_str(), "-gui", "NO", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = ::read(terminal, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR);)
        if (n > 0)
            shown.append(buffer, static_cast<size_t>(n));
    ::close(terminal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << shown;
    // Each drawing starts at the line's start and clears the rest; the last one keeps its line.
    EXPECT_TRUE(std::regex_search(shown, std::regex("\r\\[#*-+\\] +[0-9]+% Copying files\033\\[K\r")))
        << shown;
    EXPECT_TRUE(includes(shown, "\r[##############################] 100% Completed\033[K\r\n"));
}

TEST_F(HeadlessFlow, ARestartTheSystemAsksForIsReportedNeverDone) {
    fs::create_directories("/etc/com.quorvantis.remote");
    std::ofstream("/etc/com.quorvantis.remote/agent.plist")
        << testsupport::plistWithStrings({{"RebootCommand", "/usr/bin/touch /run/qvt-rebooted"}});
    ::unlink("/run/qvt-rebooted");
    const std::string bundle = bundleAt("reboot");
    // As a Debian package's maintainer script says a restart is due.
    script(bundle, "postinstall", "echo '*** System restart required ***' > /run/reboot-required\n");
    const auto result = runHeadless(bundle, "", {}, {"-progress", "json"});
    ::unlink("/run/reboot-required");
    EXPECT_EQ(result.exitStatus, 10) << result.log << result.errors;
    const auto lines = progressLines(result.output);
    ASSERT_GE(lines.size(), 2u) << result.output;
    EXPECT_EQ(lines[lines.size() - 2].value("rebootRequired", false), true) << result.output;
    EXPECT_EQ(lines.back().value("meaning", ""), "succeeded-reboot-required");
    EXPECT_TRUE(fs::exists(kService));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_FALSE(fs::exists("/run/qvt-rebooted")) << "an unattended run never restarts the system";
    EXPECT_FALSE(includes(agentLog(), "\"Cmd\":\"Reboot\""));
}

TEST_F(HeadlessFlow, TheTimeLimitEndsARunThatHangsReleasesTheAgentAndSaysSo) {
    const std::string bundle = bundleAt("hangs");
    script(bundle, "preinstall", "sleep 60\n");
    const auto started = std::chrono::steady_clock::now();
    const auto result = runHeadless(bundle, "", {}, {"-timeout", "2", "-progress", "json"});
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10));
    EXPECT_EQ(result.exitStatus, 5) << result.log << result.errors;
    EXPECT_TRUE(includes(result.log, "The time limit of 2 seconds has passed before the command completed"));
    const auto lines = progressLines(result.output);
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().value("exitStatus", -1), 5);
    // The agent is released; it reads "bye" once the script it is running has ended, and finishes or rolls
    // back the installation on its own.
    EXPECT_TRUE(includes(result.log, "Sending Message: {\"Ctrl\":\"bye\"}"));
}

TEST(CommandLine, HelpVersionMistakesAndAWindowRunWithoutDisplayAnswerAtOnceWithTheirStatus) {
    const std::string program = kBuildDir + "/QvtRSInstaller.app/Contents/MacOS/QvtRSInstaller";
    const std::string hint = ". For an unattended update without a window, run: QvtRSInstaller -gui NO\n";
    const std::map<std::string, std::string> noDisplay = {
        {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}, {"QT_QPA_PLATFORM", ""}};
    const struct {
        std::vector<std::string> arguments;
        int exitStatus;
        std::string output;
        std::string errors; ///< standard error holds it once (the log echo is not the same line)
        std::map<std::string, std::string> environment = {};
    } cases[] = {
        {{"--help"}, 0, "-progress json", ""},
        {{"-h"}, 0, "Usage: QvtRSInstaller [-gui YES|NO]", ""},
        {{"-gui", "NO", "--version"}, 0, "QvtRSInstaller 3.2.0  (", ""},
        {{"--verbose"}, 64, "", "unknown option --verbose\nUsage: QvtRSInstaller "},
        {{"-gui", "NO", "-timeout", "0"}, 64, "", "QvtRSInstaller: -timeout takes a whole number of seconds"},
        {{"-gui", "NO", "-timeout", "10s"},
         64,
         "",
         "QvtRSInstaller: -timeout takes a whole number of seconds"},
        {{"-gui", "NO", "-progress", "xml"}, 64, "", "QvtRSInstaller: -progress takes \"json\""},
        // A value that looks like an option is the key's value, as user defaults read it.
        {{"-uninstall", "--help", "-gui", "NO", "-progress", "yaml"},
         64,
         "",
         "QvtRSInstaller: -progress takes"},
        {{"-uninstall", "NO", "-gui", "YES"},
         6,
         "",
         "QvtRSInstaller: No window can be shown: neither DISPLAY nor WAYLAND_DISPLAY is set" + hint},
        // A display is named but nobody serves it: Qt's platform plugin cannot connect.
        {{"-uninstall", "NO", "-gui", "YES"},
         6,
         "",
         "QvtRSInstaller: No window can be shown: the display cannot be reached (DISPLAY=:97)" + hint,
         {{"DISPLAY", ":97"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.errors.empty() ? c.output : c.errors);
        std::vector<std::string> argv = {program};
        argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
        auto environment = c.environment;
        environment.merge(std::map(noDisplay));
        const auto started = std::chrono::steady_clock::now();
        const auto result = testsupport::runProcess(argv, environment, 10);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(1));
        EXPECT_EQ(result.exitStatus, c.exitStatus) << result.errors;
        EXPECT_TRUE(includes(result.output, c.output));
        EXPECT_TRUE(c.errors.empty() || count(result.errors, c.errors) == 1)
            << "once: " << c.errors << "\nin: " << result.errors;
    }
}
