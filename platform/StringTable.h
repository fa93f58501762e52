// A localisation table: the translated text for a key, or nothing.
#pragma once

#include <optional>
#include <string>

namespace platform {

class StringTable {
public:
    StringTable() = default;
    StringTable(const StringTable&) = delete;
    StringTable& operator=(const StringTable&) = delete;
    virtual ~StringTable() = default;

    /// The text for \p key, or nothing when the table lacks it.
    virtual std::optional<std::string> lookup(const std::string& key) const = 0;
};

} // namespace platform
