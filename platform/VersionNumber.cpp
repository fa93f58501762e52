#include "platform/VersionNumber.h"

#include <cstdint>

namespace platform {
namespace {

/// The component starting at \p start (up to the next "." or the end) and
/// where the next one starts (past the end when there is none).
int64_t component(std::string_view text, size_t& start) {
    int64_t value = 0;
    size_t i = start;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        value = value > (INT64_MAX - 9) / 10 ? INT64_MAX : value * 10 + (text[i] - '0');
    const size_t dot = text.find('.', i);
    start = dot == std::string_view::npos ? text.size() + 1 : dot + 1;
    return value;
}

} // namespace

int VersionNumber::compare(std::string_view left, std::string_view right) {
    size_t l = 0;
    size_t r = 0;
    while (l <= left.size() || r <= right.size()) {
        const int64_t x = l <= left.size() ? component(left, l) : 0;
        const int64_t y = r <= right.size() ? component(right, r) : 0;
        if (x != y)
            return x < y ? -1 : 1;
    }
    return 0;
}

} // namespace platform
