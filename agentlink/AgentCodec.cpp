#include "agentlink/AgentCodec.h"
#include "agentlink/RejectedInputLog.h"
#include "platform/LogText.h"

#include <charconv>
#include <climits>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <locale.h>

namespace {

// The length in bytes of the white-space character that starts at \p at, or 0.
// The trimming set holds tab to carriage return, the blank, U+0085 and the
// Unicode space and separator characters. The regular-expression class used for
// trace lines (\s) is the same without the vertical tab and U+0085.
size_t spaceAt(std::string_view s, size_t at, bool regexClass) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(s[i]); };
    if (at >= s.size())
        return 0;
    const unsigned char c = byte(at);
    if (c == ' ' || c == '\t' || c == '\n' || c == '\f' || c == '\r')
        return 1;
    if (c == '\v')
        return regexClass ? 0 : 1;
    if (c == 0xC2 && at + 1 < s.size()) {
        const unsigned char d = byte(at + 1);
        if (d == 0xA0 || (d == 0x85 && !regexClass))
            return 2;
        return 0;
    }
    if (at + 2 >= s.size())
        return 0;
    const unsigned char d = byte(at + 1), e = byte(at + 2);
    if (c == 0xE1 && d == 0x9A && e == 0x80) // U+1680
        return 3;
    if (c == 0xE2 && d == 0x80 && ((e >= 0x80 && e <= 0x8A) || e == 0xA8 || e == 0xA9 || e == 0xAF))
        return 3;                            // U+2000-200A, U+2028, U+2029, U+202F
    if (c == 0xE2 && d == 0x81 && e == 0x9F) // U+205F
        return 3;
    if (c == 0xE3 && d == 0x80 && e == 0x80) // U+3000
        return 3;
    return 0;
}

// The length of the white-space character that ends right before \p end, or 0.
size_t spaceBefore(std::string_view s, size_t end) {
    for (size_t width = 1; width <= 3 && width <= end; ++width)
        if (spaceAt(s, end - width, false) == width)
            return width;
    return 0;
}

size_t skipSpace(std::string_view s, size_t at) {
    // Printable ASCII is never white space: the common case needs no table.
    while (at < s.size()) {
        const auto c = static_cast<unsigned char>(s[at]);
        if (c > ' ' && c < 0x80)
            break;
        const size_t n = spaceAt(s, at, false);
        if (n == 0)
            break;
        at += n;
    }
    return at;
}

std::string_view trimSpace(std::string_view s) {
    s.remove_prefix(skipSpace(s, 0));
    while (!s.empty()) {
        const auto c = static_cast<unsigned char>(s.back());
        if (c > ' ' && c < 0x80)
            break;
        const size_t n = spaceBefore(s, s.size());
        if (n == 0)
            break;
        s.remove_suffix(n);
    }
    return s;
}

// \p s without any leading or trailing \p a or \p b characters.
std::string_view trimChars(std::string_view s, char a, char b) {
    size_t first = 0, last = s.size();
    while (first < last && (s[first] == a || s[first] == b))
        ++first;
    while (last > first && (s[last - 1] == a || s[last - 1] == b))
        --last;
    return s.substr(first, last - first);
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// Leading white space, an optional sign, decimal digits; 0 without digits.
// Values beyond the 64-bit range are clamped to its ends.
int64_t readInteger(std::string_view text) {
    size_t i = skipSpace(text, 0);
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint64_t magnitude = 0;
    const uint64_t limit = negative ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
    bool clamped = false;
    for (; i < text.size() && isDigit(text[i]); ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (!clamped && magnitude <= (limit - digit) / 10) {
            magnitude = magnitude * 10 + digit;
        } else {
            clamped = true;
            magnitude = limit;
        }
    }
    if (negative)
        return magnitude == uint64_t(INT64_MAX) + 1 ? INT64_MIN : -static_cast<int64_t>(magnitude);
    return static_cast<int64_t>(magnitude);
}

// The longest prefix (after leading white space) that reads as a decimal
// floating-point number; 0.0 when there is none. Only decimal notation counts:
// "inf", "nan" and hexadecimal forms do not. Out-of-range values become
// infinity or zero, as strtod gives them.
double readReal(std::string_view text) {
    size_t i = skipSpace(text, 0);
    const size_t start = i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        ++i;
    size_t digits = 0;
    for (; i < text.size() && isDigit(text[i]); ++i)
        ++digits;
    if (i < text.size() && text[i] == '.') {
        ++i;
        for (; i < text.size() && isDigit(text[i]); ++i)
            ++digits;
    }
    if (digits == 0)
        return 0.0;
    if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
        size_t j = i + 1;
        if (j < text.size() && (text[j] == '+' || text[j] == '-'))
            ++j;
        if (j < text.size() && isDigit(text[j])) {
            while (j < text.size() && isDigit(text[j]))
                ++j;
            i = j;
        }
    }
    // from_chars ignores the process locale (the decimal point is always ".")
    // but takes no "+" sign.
    std::string_view number = text.substr(start, i - start);
    if (number.front() == '+')
        number.remove_prefix(1);
    double value = 0.0;
    const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
    if (result.ec == std::errc())
        return value;
    // Out of range: strtod_l (C locale) gives infinity or zero with the sign.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
    const std::string copy(number);
    return strtod_l(copy.c_str(), nullptr, cLocale);
}

// Reads one piece of the body. False when the whole message must be rejected.
bool readPiece(std::string_view piece, std::string_view wholeText, AgentMessage& message) {
    const size_t keyStart = skipSpace(piece, 0);
    const size_t colon = piece.find(':', keyStart);
    const size_t keyEnd = colon == std::string_view::npos ? piece.size() : colon;
    if (keyEnd == keyStart)
        return true; // empty or blank piece, or one that starts with ":": ignored
    if (keyEnd + 1 >= piece.size()) {
        if (RejectedInputLog::enabled())
            OCNSLog("PHProtocolHandler: Invalid key/value pair found: %@ in message: %@",
                    platform::LogText::escaped(piece), platform::LogText::escaped(wholeText));
        return false;
    }
    const std::string_view valueText = piece.substr(keyEnd + 1);
    // A later pair with the same key replaces the value in place.
    AgentValue& value = message.slot(trimChars(piece.substr(keyStart, keyEnd - keyStart), '"', '"'));
    if (valueText.front() == '"')
        value.setText(trimChars(valueText, '"', '"'));
    else if (valueText.find('.') != std::string_view::npos)
        value.setReal(readReal(valueText));
    else
        value.setInteger(readInteger(valueText));
    return true;
}

} // namespace

namespace {

// "F71" and the length in upper-case hexadecimal, at least five digits.
size_t formatFrameHeader(char (&header)[24], size_t length) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    char digits[16];
    size_t count = 0;
    do {
        digits[count++] = kDigits[length & 0xF];
        length >>= 4;
    } while (length != 0);
    while (count < 5)
        digits[count++] = '0';
    header[0] = 'F';
    header[1] = '7';
    header[2] = '1';
    for (size_t i = 0; i < count; ++i)
        header[3 + i] = digits[count - 1 - i];
    return 3 + count;
}

} // namespace

void appendNumberText(std::string& out, const AgentValue& value) {
    char buffer[400]; // the longest fixed-notation double has 309 integer digits
    std::to_chars_result result{buffer, std::errc()};
    if (auto integer = value.integer())
        result = std::to_chars(buffer, buffer + sizeof buffer, *integer);
    else if (auto real = value.real())
        result = std::to_chars(buffer, buffer + sizeof buffer, *real, std::chars_format::fixed, 6);
    if (result.ec == std::errc())
        out.append(buffer, result.ptr);
}

namespace {

void serializeInto(std::string& body, const AgentMessage& message) {
    body += '{';
    bool first = true;
    for (const auto& [key, value] : message) {
        if (!first)
            body += ',';
        first = false;
        switch (value.kind()) {
        case AgentValue::Kind::Text:
            body += '"';
            body += key;
            body += "\":\"";
            body += *value.text();
            body += '"';
            break;
        case AgentValue::Kind::Integer:
        case AgentValue::Kind::Real:
            body += '"';
            body += key;
            body += "\":";
            appendNumberText(body, value);
            break;
        case AgentValue::Kind::None:
            OCNSLog("Unsupported value type in message: %@", value);
            break;
        }
    }
    body += '}';
}

} // namespace

std::string serialize(const AgentMessage& message) {
    std::string body;
    body.reserve(256);
    serializeInto(body, message);
    return body;
}

std::string serializeFrame(const AgentMessage& message) {
    std::string frame;
    frame.reserve(256);
    frame.append(kFrameHeaderSize, '0');
    serializeInto(frame, message);
    char header[24];
    const size_t n = formatFrameHeader(header, frame.size() - kFrameHeaderSize);
    // Bodies beyond 0xFFFFF bytes take more than five digits.
    frame.replace(0, kFrameHeaderSize, header, n);
    return frame;
}

std::optional<AgentMessage> deserialize(std::string_view text) {
    const std::string_view inner = trimChars(trimSpace(text), '{', '}');
    AgentMessage message;
    message.reserve(6);
    size_t start = 0;
    for (;;) {
        const size_t comma = inner.find(',', start);
        const std::string_view piece =
            inner.substr(start, comma == std::string_view::npos ? std::string_view::npos : comma - start);
        if (!readPiece(piece, text, message))
            return std::nullopt;
        if (comma == std::string_view::npos)
            break;
        start = comma + 1;
    }
    return message;
}

std::string writeFrame(std::string_view body) {
    char header[24];
    const size_t n = formatFrameHeader(header, body.size());
    std::string frame;
    frame.reserve(n + body.size());
    frame.append(header, n);
    frame.append(body);
    return frame;
}

FrameHeader readFrameHeader(std::string_view header) {
    FrameHeader result;
    const size_t end = header.size() < kFrameHeaderSize ? header.size() : kFrameHeaderSize;
    for (size_t i = 3; i < end; ++i) {
        const char c = header[i];
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else
            break;
        result.bodyLength = result.bodyLength * 16 + digit;
    }
    return result;
}

bool isValidUtf8(std::string_view bytes) {
    size_t i = 0;
    const size_t n = bytes.size();
    while (i < n) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t length;
        uint32_t code;
        if (c >= 0xC2 && c <= 0xDF) {
            length = 2;
            code = c & 0x1F;
        } else if (c >= 0xE0 && c <= 0xEF) {
            length = 3;
            code = c & 0x0F;
        } else if (c >= 0xF0 && c <= 0xF4) {
            length = 4;
            code = c & 0x07;
        } else {
            return false;
        }
        if (i + length > n)
            return false;
        for (size_t k = 1; k < length; ++k) {
            const auto d = static_cast<unsigned char>(bytes[i + k]);
            if ((d & 0xC0) != 0x80)
                return false;
            code = (code << 6) | (d & 0x3F);
        }
        if ((length == 3 && code < 0x800) || (length == 4 && (code < 0x10000 || code > 0x10FFFF)) ||
            (code >= 0xD800 && code <= 0xDFFF))
            return false;
        i += length;
    }
    return true;
}

std::string removeWhiteSpace(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        if (size_t n = spaceAt(text, i, true)) {
            i += n;
            continue;
        }
        result += text[i++];
    }
    return result;
}
