#include "agent/CommandRequest.h"

#include <climits>

namespace {

constexpr std::pair<const char*, CommandRequest::Kind> kNames[] = {
    {"Install", CommandRequest::Kind::Install},
    {"Update", CommandRequest::Kind::Update},
    {"Uninstall", CommandRequest::Kind::Uninstall},
    {"Reboot", CommandRequest::Kind::Reboot},
    {"UninstallInstallerAgent", CommandRequest::Kind::UninstallInstallerAgent},
};

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
    const AgentValue* value = message.find("InstallerPackage");
    if (!value) {
        problem = "\"InstallerPackage\" is missing";
        return false;
    }
    const std::string* text = value->text();
    if (!text) {
        problem = std::string("\"InstallerPackage\" is ") + kindName(*value) + "; a text is expected";
        return false;
    }
    if (text->empty() || text->front() != '/') {
        problem = "\"InstallerPackage\" is not an absolute path";
        return false;
    }
    if (text->find('\0') != std::string::npos) {
        problem = "\"InstallerPackage\" holds a NUL byte";
        return false;
    }
    if (text->size() > PATH_MAX) {
        problem = "\"InstallerPackage\" is longer than a path can be";
        return false;
    }
    path = *text;
    return true;
}

bool readUser(const AgentMessage& message, std::optional<uint32_t>& user, std::string& problem) {
    const AgentValue* value = message.find("LoggedInUser");
    if (!value) {
        problem = "\"LoggedInUser\" is missing";
        return false;
    }
    const auto number = value->integer();
    if (!number) {
        problem = std::string("\"LoggedInUser\" is ") + kindName(*value) + "; an integer is expected";
        return false;
    }
    // (uid_t)-1 means "no user" to the system calls.
    if (*number < 0 || *number >= int64_t{UINT32_MAX}) {
        problem = "\"LoggedInUser\" " + std::to_string(*number) + " is no user id";
        return false;
    }
    user = static_cast<uint32_t>(*number);
    return true;
}

bool readRemoveBackups(const AgentMessage& message, bool& removeBackups, std::string& problem) {
    const AgentValue* value = message.find("RemoveBackups");
    if (!value) {
        problem = "\"RemoveBackups\" is missing";
        return false;
    }
    const auto number = value->integer();
    if (!number) {
        problem =
            std::string("\"RemoveBackups\" is ") + kindName(*value) + "; the integer 1 or 0 is expected";
        return false;
    }
    if (*number != 0 && *number != 1) {
        problem = "\"RemoveBackups\" is " + std::to_string(*number) + "; 1 or 0 is expected";
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
    const AgentValue* name = message.find("Cmd");
    if (!name || !name->text()) {
        problem = std::string("\"Cmd\" is ") + (name ? kindName(*name) : "missing") + "; a text is expected";
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
