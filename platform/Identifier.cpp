#include "platform/Identifier.h"

namespace platform {

bool Identifier::isValid(std::string_view identifier) {
    if (identifier.empty() || identifier.size() > kMaxLength || identifier.front() == '.')
        return false;
    for (const char c : identifier) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '.' || c == '-' || c == '_';
        if (!plain)
            return false;
    }
    return true;
}

} // namespace platform
