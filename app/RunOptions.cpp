#include "app/RunOptions.h"

#include <cerrno>

platform::Result<RunOptions> RunOptions::read(const platform::UserDefaults& defaults) {
    RunOptions options;
    const auto refuse = [](const std::string& why) { return platform::Failure{kErrorDomain, EINVAL, why}; };
    if (const auto timeout = defaults.stringForKey("timeout")) {
        // Whole seconds only: a sign, blanks or a unit are mistakes worth reporting.
        const bool digits = !timeout->empty() && timeout->size() <= 7 &&
                            timeout->find_first_not_of("0123456789") == std::string::npos;
        const long seconds = digits ? std::stol(*timeout) : 0;
        if (seconds < 1 || seconds > kLongestTimeLimit.count())
            return refuse("-timeout takes a whole number of seconds from 1 to " +
                          std::to_string(kLongestTimeLimit.count()) + ", not \"" + *timeout + "\"");
        options.timeLimit = std::chrono::seconds(seconds);
    }
    if (const auto progress = defaults.stringForKey("progress")) {
        if (*progress != "json")
            return refuse("-progress takes \"json\", not \"" + *progress + "\"");
        options.jsonProgress = true;
    }
    return options;
}
