// An application bundle: a folder with Contents/Info.plist, the executable in
// Contents/MacOS and its resources in Contents/Resources.
#pragma once

#include "platform/StringTable.h"

#include <memory>
#include <optional>
#include <string>

namespace platform {

class Bundle {
public:
    /// The bundle of the executable at \p executablePath: the folder two levels
    /// above the executable's folder when that folder is Contents/MacOS,
    /// otherwise the executable's own folder (a bare build tree still runs).
    explicit Bundle(std::string executablePath);

    Bundle(const Bundle&) = default;
    Bundle& operator=(const Bundle&) = default;
    Bundle(Bundle&&) = default;
    Bundle& operator=(Bundle&&) = default;

    /// The process's main bundle, made from its executable path on first use.
    /// Set it up before other threads exist.
    static Bundle& main();
    /// Replaces the main bundle (tests, and a start from another location).
    static void setMain(Bundle bundle);

    const std::string& path() const { return m_path; }
    const std::string& executablePath() const { return m_executablePath; }
    std::string infoPlistPath() const { return m_path + "/Contents/Info.plist"; }
    std::string resourcesPath() const { return m_path + "/Contents/Resources"; }

    /// The text value of \p key in the information dictionary, read afresh
    /// from Info.plist on every call; nothing when the file or key is missing.
    std::optional<std::string> infoValue(const std::string& key) const;

    /// The localised text for \p key. A key the table lacks yields
    /// \p defaultValue when that is not empty, otherwise the key itself.
    std::string localizedString(const std::string& key, const std::string& defaultValue = {}) const;
    void setStringTable(std::shared_ptr<const StringTable> table) { m_strings = std::move(table); }

private:
    std::string m_executablePath;
    std::string m_path;
    std::shared_ptr<const StringTable> m_strings;
};

/// The path of the running executable (/proc/self/exe), or empty.
std::string currentExecutablePath();

} // namespace platform
