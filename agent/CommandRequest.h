// A command message of the application ("Cmd"), checked key by key before the
// agent acts on it. Every byte of it came from the socket:
//
//   "Install"                  "InstallerPackage" text, "LoggedInUser" integer
//   "Update"                   "InstallerPackage" text
//   "Uninstall"                "LoggedInUser" integer, "RemoveBackups" integer 1 or 0
//   "Reboot"                   no further keys
//   "UninstallInstallerAgent"  no further keys
//
// "InstallerPackage" must be an absolute path without NUL bytes and at most
// PATH_MAX bytes long; "LoggedInUser" a user id (0 to 4294967294). Other keys
// are ignored.
#pragma once

#include "agentlink/AgentMessage.h"
#include "platform/Result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

class CommandRequest {
public:
    enum class Kind { Install, Update, Uninstall, Reboot, UninstallInstallerAgent };

    /// The kind named by \p name; nothing for a name that is no command.
    static std::optional<Kind> kindNamed(std::string_view name);
    static const char* nameOf(Kind kind);

    /// Failure domain of parse; the code is EINVAL.
    static constexpr const char* kDomain = "CommandRequest";

    /// The checked command of \p message, whose "Cmd" names a known command.
    /// A failure saying what is wrong when a key is missing, of the wrong type
    /// or out of range.
    static platform::Result<CommandRequest> parse(const AgentMessage& message);

    CommandRequest(const CommandRequest&) = default;
    CommandRequest& operator=(const CommandRequest&) = default;
    CommandRequest(CommandRequest&&) noexcept = default;
    CommandRequest& operator=(CommandRequest&&) noexcept = default;
    ~CommandRequest() = default;

    Kind kind() const { return m_kind; }
    const char* name() const { return nameOf(m_kind); }
    /// "InstallerPackage" (Install, Update); empty otherwise.
    const std::string& packagePath() const { return m_packagePath; }
    /// "LoggedInUser" (Install, Uninstall).
    std::optional<uint32_t> loggedInUser() const { return m_loggedInUser; }
    /// "RemoveBackups" is 1 (Uninstall).
    bool removeBackups() const { return m_removeBackups; }

private:
    explicit CommandRequest(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    std::string m_packagePath;
    std::optional<uint32_t> m_loggedInUser;
    bool m_removeBackups = false;
};
