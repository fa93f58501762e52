// The information list embedded in a single-file executable: an XML property
// list (CFBundleIdentifier, CFBundleVersion) in the ELF section "__info_plist".
// Reading never trusts the file: a missing, foreign, corrupt or truncated file
// yields nothing.
#pragma once

#include "platform/PropertyList.h"

#include <optional>
#include <string>

namespace platform {

class ExecutableInfo {
public:
    ExecutableInfo() = delete;

    static constexpr const char* kSectionName = "__info_plist";
    /// Larger sections are not read (an information list is a few hundred bytes).
    static constexpr size_t kMaxSectionSize = 1 << 20;

    /// The bytes of the section in the ELF file at \p path, or nothing.
    static std::optional<std::string> sectionBytes(const std::string& path);
    /// The parsed information list of the executable at \p path, or nothing.
    static std::optional<PropertyList> read(const std::string& path);
};

} // namespace platform
