#include "agent/CommandRequest.h"

#include "agentlink/AgentProtocol.h"

#include <climits>

namespace {

using namespace AgentProtocol;

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

bool readPackagePath(const AgentMessage& message, std::string& path, std::string& problem) {
    const AgentValue* value = message.find(Key::kInstallerPackage);
    if (!value) {
        problem = quoted(Key::kInstallerPackage) + " is missing";
        return false;
    }
    const std::string* text = value->text();
    if (!text) {
        problem = quoted(Key::kInstallerPackage) + " is " + kindName(*value) + "; a text is expected";
        return false;
    }
    if (text->empty() || text->front() != '/') {
        problem = quoted(Key::kInstallerPackage) + " is not an absolute path";
        return false;
    }
    if (text->find('\0') != std::string::npos) {
        problem = quoted(Key::kInstallerPackage) + " holds a NUL byte";
        return false;
    }
    if (text->size() > PATH_MAX) {
        problem = quoted(Key::kInstallerPackage) + " is longer than a path can be";
        return false;
    }
    path = *text;
    return true;
}

bool readUser(const AgentMessage& message, std::optional<uint32_t>& user, std::string& problem) {
    const AgentValue* value = message.find(Key::kLoggedInUser);
    if (!value) {
        problem = quoted(Key::kLoggedInUser) + " is missing";
        return false;
    }
    const auto number = value->integer();
    if (!number) {
        problem = quoted(Key::kLoggedInUser) + " is " + kindName(*value) + "; an integer is expected";
        return false;
    }
    // (uid_t)-1 means "no user" to the system calls.
    if (*number < 0 || *number >= int64_t{UINT32_MAX}) {
        problem = quoted(Key::kLoggedInUser) + " " + std::to_string(*number) + " is no user id";
        return false;
    }
    user = static_cast<uint32_t>(*number);
    return true;
}

bool readRemoveBackups(const AgentMessage& message, bool& removeBackups, std::string& problem) {
    const AgentValue* value = message.find(Key::kRemoveBackups);
    if (!value) {
        problem = quoted(Key::kRemoveBackups) + " is missing";
        return false;
    }
    const auto number = value->integer();
    if (!number) {
        problem =
            quoted(Key::kRemoveBackups) + " is " + kindName(*value) + "; the integer 1 or 0 is expected";
        return false;
    }
    if (*number != 0 && *number != 1) {
        problem = quoted(Key::kRemoveBackups) + " is " + std::to_string(*number) + "; 1 or 0 is expected";
        return false;
    }
    removeBackups = *number == 1;
    return true;
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

std::optional<CommandRequest> CommandRequest::parse(const AgentMessage& message, std::string& problem) {
    const AgentValue* name = message.find(Key::kCommand);
    if (!name || !name->text()) {
        problem =
            quoted(Key::kCommand) + " is " + (name ? kindName(*name) : "missing") + "; a text is expected";
        return std::nullopt;
    }
    const auto kind = kindNamed(*name->text());
    if (!kind) {
        problem = "\"" + *name->text() + "\" is no command";
        return std::nullopt;
    }
    CommandRequest request(*kind);
    switch (*kind) {
    case Kind::Install:
        if (!readPackagePath(message, request.m_packagePath, problem) ||
            !readUser(message, request.m_loggedInUser, problem))
            return std::nullopt;
        break;
    case Kind::Update:
        if (!readPackagePath(message, request.m_packagePath, problem))
            return std::nullopt;
        break;
    case Kind::Uninstall:
        if (!readUser(message, request.m_loggedInUser, problem) ||
            !readRemoveBackups(message, request.m_removeBackups, problem))
            return std::nullopt;
        break;
    case Kind::Reboot:
    case Kind::UninstallInstallerAgent:
        break;
    }
    return request;
}
