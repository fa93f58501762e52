// User defaults: options read by key, first from the argument domain (the
// "-key value" pairs of the command line), then from the persistent domain
// file $XDG_CONFIG_HOME/<bundle identifier>.plist.
#pragma once

#include "platform/PropertyList.h"

#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class UserDefaults {
public:
    /// \p argv[0] is the program; every later argument "-key" followed by
    /// another argument sets key to that argument. \p persistentDomainPath may
    /// be empty or name a missing file.
    UserDefaults(int argc, const char* const* argv, const std::string& persistentDomainPath);

    /// The persistent domain file of \p bundleIdentifier:
    /// $XDG_CONFIG_HOME (else $HOME/.config) / <identifier>.plist; empty when
    /// neither variable is set.
    static std::string persistentDomainPath(const std::string& bundleIdentifier);

    /// The value of \p key as text, or nothing.
    std::optional<std::string> stringForKey(const std::string& key) const;

    /// The platform's boolean reading of a text: after leading blanks, an
    /// optional sign and leading zeros, true when the first character is Y, y,
    /// T, t or a digit 1 to 9; false otherwise (also for the empty text).
    static bool boolValue(std::string_view text);

private:
    std::map<std::string, std::string> m_arguments;
    PropertyList m_persistent;
};

} // namespace platform
