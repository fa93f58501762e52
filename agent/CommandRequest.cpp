#include "agent/CommandRequest.h"

#include "agentlink/AgentProtocol.h"

#include <cerrno>
#include <climits>

namespace {

using namespace AgentProtocol;
using platform::Result;

constexpr std::pair<const char*, CommandRequest::Kind> kNames[] = {
    {Command::kInstall, CommandRequest::Kind::Install},
    {Command::kUpdate, CommandRequest::Kind::Update},
    {Command::kUninstall, CommandRequest::Kind::Uninstall},
    {Command::kReboot, CommandRequest::Kind::Reboot},
    {Command::kUninstallInstallerAgent, CommandRequest::Kind::UninstallInstallerAgent},
};

// A key as the problem texts name it: in double quotes.
std::string quoted(const char* key) {
    return std::string("\"") + key + "\"";
}

platform::Failure malformed(std::string problem) {
    return {CommandRequest::kDomain, EINVAL, std::move(problem)};
}

const char* kindName(const AgentValue& value) {
    switch (value.kind()) {
    case AgentValue::Kind::Text:
        return "a text";
    case AgentValue::Kind::Integer:
        return "an integer";
    case AgentValue::Kind::Real:
        return "a real number";
    case AgentValue::Kind::None:
        break;
    }
    return "no value";
}

Result<std::string> readPackagePath(const AgentMessage& message) {
    const AgentValue* value = message.find(Key::kInstallerPackage);
    if (!value)
        return malformed(quoted(Key::kInstallerPackage) + " is missing");
    const std::string* text = value->text();
    if (!text)
        return malformed(quoted(Key::kInstallerPackage) + " is " + kindName(*value) + "; a text is expected");
    if (text->empty() || text->front() != '/')
        return malformed(quoted(Key::kInstallerPackage) + " is not an absolute path");
    if (text->find('\0') != std::string::npos)
        return malformed(quoted(Key::kInstallerPackage) + " holds a NUL byte");
    if (text->size() > PATH_MAX)
        return malformed(quoted(Key::kInstallerPackage) + " is longer than a path can be");
    return *text;
}

Result<uint32_t> readUser(const AgentMessage& message) {
    const AgentValue* value = message.find(Key::kLoggedInUser);
    if (!value)
        return malformed(quoted(Key::kLoggedInUser) + " is missing");
    const auto number = value->integer();
    if (!number)
        return malformed(quoted(Key::kLoggedInUser) + " is " + kindName(*value) + "; an integer is expected");
    // (uid_t)-1 means "no user" to the system calls.
    if (*number < 0 || *number >= int64_t{UINT32_MAX})
        return malformed(quoted(Key::kLoggedInUser) + " " + std::to_string(*number) + " is no user id");
    return static_cast<uint32_t>(*number);
}

Result<bool> readRemoveBackups(const AgentMessage& message) {
    const AgentValue* value = message.find(Key::kRemoveBackups);
    if (!value)
        return malformed(quoted(Key::kRemoveBackups) + " is missing");
    const auto number = value->integer();
    if (!number)
        return malformed(quoted(Key::kRemoveBackups) + " is " + kindName(*value) +
                         "; the integer 1 or 0 is expected");
    if (*number != 0 && *number != 1)
        return malformed(quoted(Key::kRemoveBackups) + " is " + std::to_string(*number) +
                         "; 1 or 0 is expected");
    return *number == 1;
}

} // namespace

std::optional<CommandRequest::Kind> CommandRequest::kindNamed(std::string_view name) {
    for (const auto& [text, kind] : kNames)
        if (name == text)
            return kind;
    return std::nullopt;
}

const char* CommandRequest::nameOf(Kind kind) {
    for (const auto& [text, each] : kNames)
        if (each == kind)
            return text;
    return "?";
}

platform::Result<CommandRequest> CommandRequest::parse(const AgentMessage& message) {
    const AgentValue* name = message.find(Key::kCommand);
    if (!name || !name->text())
        return malformed(quoted(Key::kCommand) + " is " + (name ? kindName(*name) : "missing") +
                         "; a text is expected");
    const auto kind = kindNamed(*name->text());
    if (!kind)
        return malformed("\"" + *name->text() + "\" is no command");
    CommandRequest request(*kind);
    const bool needsPath = *kind == Kind::Install || *kind == Kind::Update;
    const bool needsUser = *kind == Kind::Install || *kind == Kind::Uninstall;
    if (needsPath) {
        auto path = readPackagePath(message);
        if (!path)
            return path.failure();
        request.m_packagePath = std::move(*path);
    }
    if (needsUser) {
        const auto user = readUser(message);
        if (!user)
            return user.failure();
        request.m_loggedInUser = *user;
    }
    if (*kind == Kind::Uninstall) {
        const auto removeBackups = readRemoveBackups(message);
        if (!removeBackups)
            return removeBackups.failure();
        request.m_removeBackups = *removeBackups;
    }
    return request;
}
