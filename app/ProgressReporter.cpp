#include "app/ProgressReporter.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Insertion order: "phase" first, as a reader scanning the stream expects.
using json = nlohmann::ordered_json;

std::string serialised(const json& object) {
    // Info texts come from the agent and from packages: a byte that is not
    // UTF-8 is replaced rather than ending the run with an exception.
    return object.dump(-1, ' ', false, json::error_handler_t::replace);
}

double clampedPercent(double percent) {
    return std::isfinite(percent) ? std::clamp(percent, 0.0, 100.0) : 0.0;
}

size_t terminalWidth(std::FILE* terminal) {
    winsize size{};
    if (::ioctl(::fileno(terminal), TIOCGWINSZ, &size) == 0 && size.ws_col >= 20)
        return size.ws_col;
    return 80;
}

/// \p text cut to at most \p width bytes without splitting a UTF-8 sequence.
std::string cutToWidth(const std::string& text, size_t width) {
    if (text.size() <= width)
        return text;
    size_t end = width;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

} // namespace

ProgressReporter::ProgressReporter(Style style, std::FILE* lines, std::FILE* terminal)
    : m_style(style), m_lines(lines), m_terminal(terminal) {}

ProgressReporter::Style ProgressReporter::styleFor(bool json, int terminalFd) {
    if (json)
        return Style::Json;
    return ::isatty(terminalFd) ? Style::TerminalBar : Style::None;
}

void ProgressReporter::phase(std::string_view name) {
    if (m_style == Style::Json)
        writeLine(serialised({{"phase", name}}));
}

void ProgressReporter::connected(const std::string& agentVersion) {
    if (m_style == Style::Json)
        writeLine(serialised({{"phase", "connected"}, {"agentVersion", agentVersion}}));
}

void ProgressReporter::progress(double percent, const std::string& info) {
    const double shown = clampedPercent(percent);
    if (m_style == Style::Json)
        writeLine(serialised({{"phase", "progress"}, {"percent", shown}, {"info", info}}));
    else if (m_style == Style::TerminalBar)
        drawBar(shown, info, false);
}

void ProgressReporter::completed(int64_t status, bool rebootRequired) {
    if (m_style == Style::Json)
        writeLine(serialised({{"phase", "completed"},
                              {"status", status},
                              {"succeeded", status == 0},
                              {"rebootRequired", rebootRequired}}));
    else if (m_style == Style::TerminalBar)
        drawBar(status == 0 ? 100.0 : m_lastPercent, status == 0 ? "Completed" : "Failed", true);
}

void ProgressReporter::exited(ExitStatus status) {
    if (m_style == Style::Json)
        writeLine(serialised(
            {{"phase", "exit"}, {"exitStatus", exitCode(status)}, {"meaning", exitStatusName(status)}}));
}

void ProgressReporter::writeLine(const std::string& line) {
    std::lock_guard lock(m_lock);
    std::fputs(line.c_str(), m_lines);
    std::fputc('\n', m_lines);
    std::fflush(m_lines);
}

void ProgressReporter::drawBar(double percent, const std::string& info, bool last) {
    std::lock_guard lock(m_lock);
    m_lastPercent = percent;
    constexpr int kCells = 30;
    const int filled = static_cast<int>(percent / 100.0 * kCells + 0.5);
    std::string line = "[" + std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kCells - filled), '-') + "] ";
    char number[8];
    std::snprintf(number, sizeof number, "%3d%%", static_cast<int>(percent + 0.5));
    line += number;
    if (!info.empty())
        line += " " + info;
    // Control characters of the info text would move the cursor.
    std::replace_if(
        line.begin(), line.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20; }, ' ');
    // Log records are echoed on the same terminal: the bar is drawn from the
    // line's start, the rest of the line cleared, and the cursor put back at the
    // start, so the next record overwrites it instead of running on after it.
    // The last drawing stays, on a line of its own.
    const std::string shown = cutToWidth(line, terminalWidth(m_terminal) - 1);
    std::fprintf(m_terminal, "\r%s\033[K%s", shown.c_str(), last ? "\n" : "\r");
    std::fflush(m_terminal);
}
