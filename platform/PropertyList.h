// A flat property list: a dictionary from text keys to texts, integers, reals,
// booleans and arrays of texts, read and written with libplist (XML or binary
// on input, XML on output). Nested dictionaries and arrays of other values are
// not needed by this program and are skipped when read.
#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace platform {

class PropertyList {
public:
    using Value = std::variant<std::string, int64_t, double, bool, std::vector<std::string>>;

    PropertyList() = default;

    /// Parses \p bytes; nothing when they are not a property list whose root is
    /// a dictionary.
    static std::optional<PropertyList> fromBytes(std::string_view bytes);
    /// Reads and parses the file at \p path; nothing when it cannot be read or parsed.
    static std::optional<PropertyList> fromFile(const std::string& path);

    /// Failure domain of writeFile; the code is an errno.
    static constexpr const char* kErrorDomain = "PropertyListErrorDomain";

    /// The value under \p key when it is a text.
    std::optional<std::string> string(const std::string& key) const;
    /// The value under \p key in text form: a text as it is, an integer in
    /// decimal, a real with up to 17 significant digits, a boolean as 1 or 0.
    /// Nothing for arrays and missing keys.
    std::optional<std::string> text(const std::string& key) const;
    /// The value under \p key when it is an array of texts.
    std::optional<std::vector<std::string>> stringArray(const std::string& key) const;

    void set(const std::string& key, Value value) { m_values[key] = std::move(value); }
    void remove(const std::string& key) { m_values.erase(key); }
    const std::map<std::string, Value>& values() const { return m_values; }

    /// The XML form.
    std::string toXml() const;
    /// Writes the XML form to \p path through a temporary file and a rename, so
    /// a reader never sees half a file.
    Result<void> writeFile(const std::string& path) const;

private:
    std::map<std::string, Value> m_values;
};

} // namespace platform
