#include "agentlink/ProgressNormaliser.h"

#include "agentlink/AgentCodec.h"

#include <algorithm>
#include <cmath>

namespace {

/// The length of the well-formed UTF-8 character at \p at, or 0.
size_t characterAt(std::string_view text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    const size_t length = lead < 0x80           ? 1
                          : (lead >> 5) == 0x6  ? 2
                          : (lead >> 4) == 0xE  ? 3
                          : (lead >> 3) == 0x1E ? 4
                                                : 0;
    if (length == 0 || at + length > text.size())
        return 0;
    return isValidUtf8(text.substr(at, length)) ? length : 0;
}

} // namespace

std::optional<ProgressNormaliser::Step> ProgressNormaliser::next(double percent, std::string_view info) {
    if (!std::isfinite(percent))
        percent = m_lastPercent < 0 ? 0 : m_lastPercent;
    percent = std::floor(std::clamp(percent, std::max(m_lastPercent, 0.0), 100.0));
    std::string text = safeText(info);
    if (percent == m_lastPercent && text == m_lastInfo)
        return std::nullopt;
    m_lastPercent = percent;
    m_lastInfo = text;
    return Step{percent, std::move(text)};
}

std::string ProgressNormaliser::safeText(std::string_view text, size_t maxBytes) {
    std::string safe;
    safe.reserve(std::min(text.size(), maxBytes));
    for (size_t at = 0; at < text.size();) {
        const size_t length = characterAt(text, at);
        std::string_view piece = length ? text.substr(at, length) : std::string_view("?");
        if (length == 1) {
            const char c = text[at];
            if (c == ',' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                piece = " ";
            else if (c == '"')
                piece = "'";
        }
        if (safe.size() + piece.size() > maxBytes)
            break;
        safe.append(piece);
        at += length ? length : 1;
    }
    return safe;
}
