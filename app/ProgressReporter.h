// How an unattended run shows its progress outside the log: as JSON lines on
// standard output for tools (-progress json), or as a one-line bar on a
// terminal. Calls come from the main thread and the flow's worker; each line
// is written whole, under a lock.
#pragma once

#include "app/ExitStatus.h"

#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <string_view>

class ProgressReporter {
public:
    enum class Style {
        /// Nothing is shown (a window run, or standard error is no terminal).
        None,
        /// One JSON object per line, flushed per line.
        Json,
        /// One line redrawn in place: bar, percentage and info text.
        TerminalBar,
    };

    /// Json writes to \p lines, TerminalBar to \p terminal; neither is closed.
    explicit ProgressReporter(Style style, std::FILE* lines = stdout, std::FILE* terminal = stderr);
    ProgressReporter(const ProgressReporter&) = delete;
    ProgressReporter& operator=(const ProgressReporter&) = delete;

    /// The style of an unattended run: Json when asked for, else the bar when
    /// \p terminalFd is a terminal, else None.
    static Style styleFor(bool json, int terminalFd);

    /// A phase without details: "authorizing", "installing-helper".
    void phase(std::string_view name);
    void connected(const std::string& agentVersion);
    void progress(double percent, const std::string& info);
    /// The agent's completion: its \p status (0 success) and whether the
    /// system must be restarted.
    void completed(int64_t status, bool rebootRequired);
    /// The last line of a run.
    void exited(ExitStatus status);

private:
    /// Writes \p line and a line feed, and flushes them.
    void writeLine(const std::string& line);
    void drawBar(double percent, const std::string& info, bool last);

    std::mutex m_lock;
    Style m_style;
    std::FILE* m_lines;
    std::FILE* m_terminal;
    double m_lastPercent = 0;
};
