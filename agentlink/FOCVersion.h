// The application's version texts, read from the main bundle's information
// dictionary on every call, so the build alone decides what is shown.
#pragma once

#include <optional>
#include <string>

class FOCVersion {
public:
    FOCVersion() = delete;

    /// "<CFBundleShortVersionString>  (<com.quorvantis.source.revision>)"; a
    /// missing value is written as "(null)".
    static std::string fullVersionInfo();
    /// CFBundleVersion, or nothing.
    static std::optional<std::string> versionInfo();
    /// com.quorvantis.source.revision, or nothing.
    static std::optional<std::string> sourceRevision();
};
