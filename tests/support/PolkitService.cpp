#include "PolkitService.h"

#include "TestSupport.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {

const char* const kRulesFile = "/etc/polkit-1/rules.d/10-qvt-test.rules";
const char* const kBusSocket = "/run/dbus/system_bus_socket";

/// Starts \p argv with its output in /run/qvt-polkit.log.
pid_t start(const std::vector<std::string>& argv) {
    const pid_t child = ::fork();
    if (child == 0) {
        const int log = ::open("/run/qvt-polkit.log", O_WRONLY | O_CREAT | O_APPEND, 0600);
        ::dup2(log, STDOUT_FILENO);
        ::dup2(log, STDERR_FILENO);
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    return child;
}

void stop(pid_t pid) {
    if (pid > 0 && ::kill(pid, SIGTERM) == 0)
        ::waitpid(pid, nullptr, 0);
}

} // namespace

std::string PolkitService::blessingRule(const std::string& user, const std::string& program,
                                        const std::string& answer) {
    return "polkit.addRule(function(action, subject) {\n"
           "    if (action.id == \"org.freedesktop.policykit.exec\" && subject.user == \"" +
           user + "\" &&\n        action.lookup(\"program\") == \"" + program + "\"" +
           " &&\n        action.lookup(\"command_line\").indexOf(\" --bless-job \") >= 0)\n"
           "        return polkit.Result." +
           answer + ";\n});\n";
}

PolkitService::PolkitService(const std::string& rules) {
    namespace fs = std::filesystem;
    using namespace std::chrono_literals;
    std::error_code ignored;
    fs::create_directories("/run/dbus", ignored);
    fs::create_directories(fs::path(kRulesFile).parent_path(), ignored);
    std::ofstream(kRulesFile) << rules;
    fs::remove(kBusSocket, ignored);

    m_bus = start({"/usr/bin/dbus-daemon", "--system", "--nofork", "--nopidfile"});
    for (int i = 0; i < 200 && !fs::exists(kBusSocket); ++i)
        std::this_thread::sleep_for(10ms);
    if (!fs::exists(kBusSocket)) {
        m_problem = "the system bus did not start (is dbus-daemon installed?)";
        return;
    }
    m_polkit = start({"/usr/lib/polkit-1/polkitd", "--no-debug"});
    for (int i = 0; i < 200; ++i) {
        const auto asked =
            runProcess({"/usr/bin/dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.DBus",
                        "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                        "string:org.freedesktop.PolicyKit1"},
                       {}, 5);
        if (asked.output.find("boolean true") != std::string::npos)
            return;
        std::this_thread::sleep_for(20ms);
    }
    m_problem = "polkitd did not take its name on the system bus (is polkitd installed?)";
}

PolkitService::~PolkitService() {
    stop(m_polkit);
    stop(m_bus);
    std::error_code ignored;
    std::filesystem::remove(kRulesFile, ignored);
    std::filesystem::remove(kBusSocket, ignored);
}

} // namespace testsupport
