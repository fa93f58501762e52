// The one rule by which this project orders version texts, used by the
// application's downgrade test of the installer agent and by the agent's
// check of an update package, so the two always agree on which is newer.
//
// The rule: split both texts at "."; each component counts as the integer
// its leading decimal digits spell (a component without leading digits, such
// as "beta" or "", counts as 0; "2rc1" counts as 2; absurdly long numbers
// saturate instead of overflowing); a missing component counts as 0. The
// first component that differs decides. So "3.1" equals "3.1.0", "3.10" is
// newer than "3.9", and "1.0-beta" equals "1.0".
#pragma once

#include <string_view>

namespace platform {

class VersionNumber {
public:
    VersionNumber() = delete;

    /// Negative when \p left is older than \p right, 0 when they are the
    /// same version, positive when \p left is newer.
    static int compare(std::string_view left, std::string_view right);
};

} // namespace platform
