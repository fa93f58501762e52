#include "agent/RebootCommand.h"

#include "agent/package/CommandRunner.h"
#include "platform/PropertyList.h"

#include "CNSLog.h"

#include <cerrno>
#include <sys/stat.h>

std::optional<std::vector<std::string>> RebootCommand::split(const std::string& text) {
    std::vector<std::string> args;
    std::string current;
    bool inWord = false;
    char quote = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quote == '\'') {
            if (c == '\'')
                quote = 0;
            else
                current += c;
        } else if (quote == '"') {
            if (c == '"') {
                quote = 0;
            } else if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '"' || text[i + 1] == '\\')) {
                current += text[++i];
            } else {
                current += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord)
                args.push_back(std::move(current));
            current.clear();
            inWord = false;
        } else if (c == '\'' || c == '"') {
            quote = c;
            inWord = true;
        } else if (c == '\\') {
            if (i + 1 >= text.size())
                return std::nullopt;
            current += text[++i];
            inWord = true;
        } else {
            current += c;
            inWord = true;
        }
    }
    if (quote)
        return std::nullopt;
    if (inWord)
        args.push_back(std::move(current));
    return args;
}

namespace {

platform::Failure broken(std::string description, int code = EINVAL) {
    return {RebootCommand::kDomain, code, std::move(description)};
}

} // namespace

platform::Result<std::vector<std::string>> RebootCommand::configured(const std::string& configPath) {
    std::string text = kDefault;
    struct stat info {};
    if (::stat(configPath.c_str(), &info) == 0) {
        const auto list = platform::PropertyList::fromFile(configPath);
        if (!list)
            return broken("the agent settings " + configPath + " cannot be read as a property list");
        if (list->values().count(kKey)) {
            const auto value = list->string(kKey);
            if (!value)
                return broken(std::string("\"") + kKey + "\" in " + configPath + " is not a text");
            text = *value;
        }
    } else if (errno != ENOENT)
        return broken("the agent settings " + configPath + " cannot be read", errno);
    auto args = split(text);
    if (!args || args->empty())
        return broken(std::string("\"") + kKey + "\" (" + text + ") is empty or has an unterminated quote");
    return std::move(*args);
}

InstallResult RebootCommand::run(const std::string& configPath, std::chrono::milliseconds limit) {
    const auto args = configured(configPath);
    if (!args) {
        OCNSLog("Reboot: %@", args.failure().description);
        return {InstallResult::RebootFailed, args.failure().description};
    }
    OCNSLog("Reboot: running %@", (*args)[0]);
    const auto outcome = CommandRunner::run(*args, {}, limit, "reboot");
    if (outcome.succeeded())
        return InstallResult::success();
    const std::string reason = "the reboot command " + (*args)[0] + " " + outcome.describe();
    OCNSLog("Reboot: %@", reason);
    return {InstallResult::RebootFailed, reason};
}
