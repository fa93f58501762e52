// The one check for the reverse-DNS names this project joins to system paths
// and unit names: job labels, bundle identifiers and package identifiers.
// They come from outside (an information list, a package any user can build,
// a receipt on disk), so each is checked before it becomes part of a path.
#pragma once

#include <string_view>

namespace platform {

class Identifier {
public:
    Identifier() = delete;

    /// 1 to kMaxLength characters of ASCII letters, digits, ".", "-" and "_",
    /// not starting with ".".
    static bool isValid(std::string_view identifier);

    static constexpr size_t kMaxLength = 200;
};

} // namespace platform
