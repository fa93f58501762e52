// The rules by which a sender turns raw progress (a percent and a line of text
// from whatever does the work) into "Progress" events: the percent stays within
// 0 to 100, never goes down and counts whole percents; an event is due only
// when the whole percent or the text changed; and the text is made safe for the
// message text, which has no escaping: no "," (it would split the pair), no
// double quote or control character, only well-formed UTF-8 (a reader drops a
// connection that sends anything else), and short enough that the whole
// event stays within one frame.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

class ProgressNormaliser {
public:
    /// Longest text in bytes; with the rest of a "Progress" event it fits a frame.
    static constexpr size_t kMaxInfoBytes = 400;

    /// One progress report as it is sent.
    struct Step {
        double percent;
        std::string info;
    };

    ProgressNormaliser() = default;
    ProgressNormaliser(const ProgressNormaliser&) = default;
    ProgressNormaliser& operator=(const ProgressNormaliser&) = default;
    ProgressNormaliser(ProgressNormaliser&&) noexcept = default;
    ProgressNormaliser& operator=(ProgressNormaliser&&) noexcept = default;
    ~ProgressNormaliser() = default;

    /// The report to send for the raw \p percent and \p info, or nothing when
    /// it would repeat the last one. A percent that is not finite repeats the
    /// last one (0 before any).
    std::optional<Step> next(double percent, std::string_view info);

    /// \p text made safe for a text value, at most \p maxBytes long: "," and
    /// control characters become blanks, double quotes single quotes, bytes
    /// that are not well-formed UTF-8 "?"; a cut never splits a character.
    static std::string safeText(std::string_view text, size_t maxBytes = kMaxInfoBytes);

private:
    double m_lastPercent = -1;
    std::string m_lastInfo;
};
