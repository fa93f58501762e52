// The command-line conventions around the user-defaults options: --help (-h),
// --version, and refusing any other "--option", decided before anything else
// runs. The "-key value" options themselves are read through UserDefaults.
#pragma once

#include <string>
#include <string_view>

class CommandLine {
public:
    enum class Action { Run, ShowHelp, ShowVersion, Refuse };

    /// Reads \p argv (argv[0] the program). Arguments are taken in the
    /// user-defaults way: "-key value" pairs, whose value is never read as an
    /// option. The first --help, -h, --version or unknown "--option" decides.
    static CommandLine parse(int argc, const char* const* argv);

    Action action() const { return m_action; }
    /// Why the command line is refused; empty unless action() is Refuse.
    const std::string& problem() const { return m_problem; }

    /// "Usage: <program> [-gui YES|NO] ...": one line.
    static std::string usage(std::string_view program);
    /// The usage line, what each option does and the exit statuses.
    static std::string help(std::string_view program);
    /// The name \p argv0 was started as, without its folder.
    static std::string programName(const char* argv0);

private:
    Action m_action = Action::Run;
    std::string m_problem;
};
