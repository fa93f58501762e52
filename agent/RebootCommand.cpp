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

std::optional<std::vector<std::string>> RebootCommand::configured(const std::string& configPath,
                                                                  std::string& error) {
    std::string text = kDefault;
    struct stat info {};
    if (::stat(configPath.c_str(), &info) == 0) {
        const auto list = platform::PropertyList::fromFile(configPath);
        if (!list) {
            error = "the agent settings " + configPath + " cannot be read as a property list";
            return std::nullopt;
        }
        if (list->values().count(kKey)) {
            const auto value = list->string(kKey);
            if (!value) {
                error = std::string("\"") + kKey + "\" in " + configPath + " is not a text";
                return std::nullopt;
            }
            text = *value;
        }
    } else if (errno != ENOENT) {
        error = "the agent settings " + configPath + " cannot be read";
        return std::nullopt;
    }
    auto args = split(text);
    if (!args || args->empty()) {
        error = std::string("\"") + kKey + "\" (" + text + ") is empty or has an unterminated quote";
        return std::nullopt;
    }
    return args;
}

InstallResult RebootCommand::run(const std::string& configPath, std::chrono::milliseconds limit) {
    std::string error;
    const auto args = configured(configPath, error);
    if (!args) {
        OCNSLog("Reboot: %@", error);
        return {InstallResult::RebootFailed, error};
    }
    OCNSLog("Reboot: running %@", (*args)[0]);
    const auto outcome = CommandRunner::run(*args, {}, limit, "reboot");
    if (outcome.succeeded())
        return InstallResult::success();
    const std::string reason = "the reboot command " + (*args)[0] + " " + outcome.describe();
    OCNSLog("Reboot: %@", reason);
    return {InstallResult::RebootFailed, reason};
}
