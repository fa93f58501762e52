#include "platform/UserDefaults.h"

#include <cstdlib>

namespace platform {

UserDefaults::UserDefaults(int argc, const char* const* argv, const std::string& persistentDomainPath) {
    for (int i = 1; i < argc; ++i) {
        const char* argument = argv[i];
        if (!argument || argument[0] != '-' || argument[1] == '\0' || i + 1 >= argc || !argv[i + 1])
            continue;
        // A later pair of the same key wins, as the last word on a command line should.
        m_arguments[argument + 1] = argv[i + 1];
        ++i;
    }
    if (!persistentDomainPath.empty())
        if (auto list = PropertyList::fromFile(persistentDomainPath))
            m_persistent = std::move(*list);
}

std::string UserDefaults::persistentDomainPath(const std::string& bundleIdentifier) {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config && config[0] == '/')
        return std::string(config) + "/" + bundleIdentifier + ".plist";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.config/" + bundleIdentifier + ".plist";
    return {};
}

std::optional<std::string> UserDefaults::stringForKey(const std::string& key) const {
    auto it = m_arguments.find(key);
    if (it != m_arguments.end())
        return it->second;
    return m_persistent.text(key);
}

bool UserDefaults::boolValue(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r'))
        ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    while (i < text.size() && text[i] == '0')
        ++i;
    if (i >= text.size())
        return false;
    const char c = text[i];
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

} // namespace platform
