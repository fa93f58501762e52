#include "app/CommandLine.h"

#include "app/ExitStatus.h"

#include <cstdio>
#include <cstring>

CommandLine CommandLine::parse(int argc, const char* const* argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i] ? argv[i] : "";
        if (argument == "--help" || argument == "-h") {
            line.m_action = Action::ShowHelp;
            return line;
        }
        if (argument == "--version") {
            line.m_action = Action::ShowVersion;
            return line;
        }
        if (argument.size() > 2 && argument.substr(0, 2) == "--") {
            line.m_action = Action::Refuse;
            line.m_problem = "unknown option " + std::string(argument);
            return line;
        }
        // "-key value": the value is the key's, whatever it looks like.
        if (argument.size() > 1 && argument[0] == '-')
            ++i;
    }
    return line;
}

std::string CommandLine::usage(std::string_view program) {
    return "Usage: " + std::string(program) +
           " [-gui YES|NO] [-uninstall YES] [-progress json] [-timeout <seconds>] | --help | --version";
}

std::string CommandLine::help(std::string_view program) {
    std::string text =
        usage(program) +
        "\n\n"
        "Installs the Quorvantis remote-support service through its privileged installer agent,\n"
        "or removes it (with -uninstall, or started from the uninstaller bundle).\n\n"
        "  -gui NO             unattended update without a window, for scripts and management tools\n"
        "  -uninstall YES      show the uninstaller (the option's presence alone selects it)\n"
        "  -progress json      unattended runs: one JSON object per line on standard output\n"
        "  -timeout <seconds>  unattended runs: give up after this many seconds\n"
        "  -h, --help          show this help and exit\n"
        "  --version           show the version and exit\n\n"
        "The -key value options may also be kept in $XDG_CONFIG_HOME/<bundle identifier>.plist.\n\n"
        "Exit statuses of unattended runs:\n";
    for (const auto& described : kExitStatuses) {
        char code[8];
        std::snprintf(code, sizeof code, "%4d  ", exitCode(described.status));
        text += code + std::string(described.meaning) + "\n";
    }
    return text;
}

std::string CommandLine::programName(const char* argv0) {
    if (!argv0 || !*argv0)
        return "QvtRSInstaller";
    const char* slash = std::strrchr(argv0, '/');
    return slash ? slash + 1 : argv0;
}
