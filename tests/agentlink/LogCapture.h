// Captures what the logging facade writes to the console (standard error) while
// an instance lives, so tests can check log lines and their order.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

class LogCapture {
public:
    LogCapture() {
        std::fflush(stderr);
        char path[] = "/tmp/agentlink-log-XXXXXX";
        m_file = ::mkstemp(path);
        if (m_file < 0)
            std::abort();
        ::unlink(path);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file, STDERR_FILENO);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    ~LogCapture() {
        restore();
        ::close(m_file);
    }

    /// Puts standard error back; lines() still reads what was captured.
    void restore() {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, STDERR_FILENO);
        ::close(m_saved);
        m_saved = -1;
    }

    /// The message texts captured so far, without the console prefix
    /// "YYYY-MM-DD hh:mm:ss.mmm <process>[<pid>:<tid>] ".
    std::vector<std::string> lines() const {
        std::string all;
        char buffer[4096];
        off_t offset = 0;
        for (;;) {
            ssize_t n = ::pread(m_file, buffer, sizeof buffer, offset);
            if (n <= 0)
                break;
            all.append(buffer, static_cast<size_t>(n));
            offset += n;
        }
        std::vector<std::string> result;
        size_t start = 0;
        while (start < all.size()) {
            size_t end = all.find('\n', start);
            if (end == std::string::npos)
                end = all.size();
            std::string line = all.substr(start, end - start);
            const size_t mark = line.find("] ");
            result.push_back(mark == std::string::npos ? line : line.substr(mark + 2));
            start = end + 1;
        }
        return result;
    }

    /// Lines that contain \p part.
    std::vector<std::string> linesWith(const std::string& part) const {
        std::vector<std::string> result;
        for (auto& line : lines())
            if (line.find(part) != std::string::npos)
                result.push_back(line);
        return result;
    }

private:
    int m_file = -1;
    int m_saved = -1;
};
