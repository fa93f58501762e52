#include "platform/LogText.h"

namespace platform::LogText {

std::string escaped(std::string_view text) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (byte) {
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\\':
            out += "\\\\";
            break;
        default:
            if (byte < 0x20 || byte == 0x7f) {
                out += "\\x";
                out += kDigits[byte >> 4];
                out += kDigits[byte & 0xf];
            } else {
                out += c;
            }
        }
    }
    return out;
}

} // namespace platform::LogText
