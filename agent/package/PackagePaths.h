// Checks for the paths and versions an installer package and a receipt carry
// (identifiers: platform::Identifier).
// They come from outside the agent (a bundle any user can build, a file on
// disk), so every one is checked before it is joined to a system path.
#pragma once

#include <string>
#include <string_view>

class PackagePaths {
public:
    PackagePaths() = delete;

    /// A version text: 1 to 64 characters of letters, digits, ".", "-", "_", "+" and "~".
    static bool isValidVersion(std::string_view version);
    /// An absolute, normalised folder path: starts with "/", no empty, "." or
    /// ".." component, no trailing "/" except for "/" itself, no NUL.
    static bool isValidInstallLocation(std::string_view location);
    /// A relative path that stays below its base: not empty, not absolute, no
    /// empty, "." or ".." component, no NUL.
    static bool isSafeRelative(std::string_view path);
    /// \p base joined with \p relative ("/" joined with "a" is "/a").
    static std::string join(const std::string& base, std::string_view relative);
    /// The absolute \p location seen below the folder \p root ("/" on a real system).
    static std::string rooted(const std::string& root, const std::string& location);
    /// True when \p path is \p folder or lies below it (both absolute and normalised).
    static bool isWithin(std::string_view path, std::string_view folder);
    /// Lexically resolves the target of a symbolic link found at \p linkPath
    /// (relative to its install location). Empty when the target is absolute,
    /// climbs above the install location or has a ".." after a name; otherwise the normalised relative path
    /// it names
    /// ("" for the install location itself is returned as ".").
    static std::string resolveLinkTarget(std::string_view linkPath, std::string_view target);
};
