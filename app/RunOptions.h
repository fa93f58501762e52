// The options of an unattended run, read from the user defaults (command line
// first, then the persistent domain): -timeout <seconds> and -progress json.
#pragma once

#include "platform/Result.h"
#include "platform/UserDefaults.h"

#include <chrono>
#include <optional>

class RunOptions {
public:
    /// The longest time limit accepted: a week.
    static constexpr std::chrono::seconds kLongestTimeLimit{7 * 24 * 3600};
    static constexpr const char* kErrorDomain = "RunOptionsErrorDomain";

    /// The options in \p defaults. A value that is not understood fails, with
    /// a description naming the option and what it takes.
    static platform::Result<RunOptions> read(const platform::UserDefaults& defaults);

    /// The time limit of an unattended run; nothing: no limit.
    std::optional<std::chrono::seconds> timeLimit;
    /// One JSON object per line on standard output.
    bool jsonProgress = false;
};
