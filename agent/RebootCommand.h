// The agent's "Reboot": the command configured under "RebootCommand" in
// /etc/com.quorvantis.remote/agent.plist, "/sbin/shutdown -r now" when the file
// or the key is absent. The text is split into arguments here (blanks separate
// them; single and double quotes and backslashes work as in a shell) and the
// program is started directly, never through a shell.
#pragma once

#include "agent/package/InstallResult.h"
#include "platform/Result.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

class RebootCommand {
public:
    static constexpr const char* kConfigPath = "/etc/com.quorvantis.remote/agent.plist";
    static constexpr const char* kKey = "RebootCommand";
    static constexpr const char* kDefault = "/sbin/shutdown -r now";

    /// Failure domain of configured; the code is an errno (EINVAL: a broken setting).
    static constexpr const char* kDomain = "RebootCommand";

    RebootCommand() = delete;

    /// The configured command split into arguments. A failure when the file
    /// exists but cannot be read as a property list, or the key holds
    /// something other than a text that splits into at least one argument: a
    /// broken setting is reported, not replaced by a real reboot.
    static platform::Result<std::vector<std::string>> configured(const std::string& configPath);

    /// Splits \p text into arguments. Nothing for an unterminated quote or a
    /// trailing backslash.
    static std::optional<std::vector<std::string>> split(const std::string& text);

    /// Reads the setting and runs the command (clean environment, output into
    /// the log, at most \p limit). Success when it exits with status 0;
    /// RebootFailed with the reason otherwise.
    static InstallResult run(const std::string& configPath = kConfigPath,
                             std::chrono::milliseconds limit = std::chrono::seconds(60));
};
