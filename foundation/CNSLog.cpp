#include "CNSLog.h"

#include "FLogFile.h"
#include "FSysInfoPaths.h"
#include "FTransferLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <execinfo.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <syslog.h>
#include <unistd.h>

namespace {

// Process-wide values, zero at load time; written only by CNSInitLog.
bool g_debugLogEnabled = false;
bool g_sysLogOpen = false;
// openlog keeps the pointer it is given, so the identity must outlive the process.
char g_sysLogIdent[256];

constexpr size_t kMessageBufferSize = 4096;
constexpr size_t kStackTraceMessageBufferSize = 8192;
constexpr int kNoticeLevel = 5;

bool processIsTraced() {
    int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char buffer[4096];
    ssize_t n = ::read(fd, buffer, sizeof buffer - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    const char* line = std::strstr(buffer, "TracerPid:");
    if (!line)
        return false;
    return std::strtol(line + std::strlen("TracerPid:"), nullptr, 10) != 0;
}

void writeAll(int fd, const char* bytes, size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        bytes += n;
        count -= static_cast<size_t>(n);
    }
}

// The console destination: one line on standard error,
// "YYYY-MM-DD hh:mm:ss.mmm <process>[<pid>:<tid hex>] <text>", written with one
// write(2) so lines of concurrent threads do not interleave.
void consoleLog(const char* text) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm utc{};
    gmtime_r(&now.tv_sec, &utc);
    OCTextSink line;
    line.appendFormat("%04d-%02d-%02d %02d:%02d:%02d.%03ld %s[%d:%lx] ", utc.tm_year + 1900, utc.tm_mon + 1,
                      utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, now.tv_nsec / 1000000L,
                      program_invocation_short_name, static_cast<int>(getpid()),
                      static_cast<unsigned long>(syscall(SYS_gettid)));
    line.append(text);
    if (line.size() == 0 || line.text()[line.size() - 1] != '\n')
        line.appendChar('\n');
    writeAll(STDERR_FILENO, line.text(), line.size());
}

// Step 1 of the routing: the attached log file, through the transfer log.
// False when no file is attached.
bool routeToLogFile(const char* text) {
    return FSpace::FTransferLog::log(text);
}

// Makes \p dir the folder for new log files (created when missing). Failures
// leave the default folder in place.
void useLogDirectory(const char* dir) noexcept {
    try {
        FSpace::FGStr<wchar_t> wide;
        wide.appendValueOf(dir);
        FSpace::FSysInfoPaths::setUserLogDirW(wide);
    } catch (...) {
    }
}

// Creates the log file "<name>_<UTC time>.txt" in the log folder and attaches
// it. A file that cannot be made leaves logging without one.
void attachNewLogFile(const char* name) noexcept {
    try {
        FSpace::FGStr<char> prefix;
        if (name != nullptr)
            prefix << name;
        prefix << "_";
        const FSpace::FGStr<wchar_t> path = FSpace::FSysInfoPaths::getNewLogFileNameW(prefix, ".txt");
        FSpace::FLogBookRef book(new FSpace::FLogBookFile(path));
        FSpace::FTransferLog::useLogBook(book);
    } catch (...) {
    }
}

void route(const char* text) {
    if (routeToLogFile(text))
        return;
    if (g_sysLogOpen) {
        syslog(kNoticeLevel, "%s", text);
        return;
    }
    consoleLog(text);
}

// Appends the stack-trace block: a header line, one line per frame of the
// calling thread (innermost first), and a closing line of 27 dashes.
void appendStackTrace(OCTextSink& text) {
    void* frames[128];
    int count = backtrace(frames, 128);
    char** symbols = backtrace_symbols(frames, count);
    text.append("\n------- stack trace -------\n");
    for (int i = 0; i < count; ++i) {
        if (symbols)
            text.append(symbols[i]);
        else
            text.appendFormat("%p", frames[i]);
        text.appendChar('\n');
    }
    text.append("---------------------------\n");
    std::free(symbols);
}

} // namespace

void CNSInitLog(int flags, int selector, const char* logName, const char* logDir) {
    const bool traced = processIsTraced();
    if ((flags & CNSLogFlagDebug) || traced)
        g_debugLogEnabled = true;

    if (logDir != nullptr && std::strlen(logDir) >= 2)
        useLogDirectory(logDir);
    if (flags & CNSLogFlagNewFile)
        attachNewLogFile(logName);

    if (selector == 1) {
        std::snprintf(g_sysLogIdent, sizeof g_sysLogIdent, "%s", logName ? logName : "");
        openlog(g_sysLogIdent, LOG_PID | (traced ? LOG_PERROR : 0), LOG_USER);
        g_sysLogOpen = true;
    }
}

void CNSDisableFileLogging() {
    FSpace::FTransferLog::useLogBook(FSpace::FLogBookRef());
}

bool CNSDbgLogEnabled() {
    return g_debugLogEnabled;
}

void CLogV(const char* format, va_list args) {
    char buffer[kMessageBufferSize];
    buffer[kMessageBufferSize - 1] = '\0';
    // The formatter is given one byte less than the buffer: 4094 bytes of text at most.
    std::vsnprintf(buffer, kMessageBufferSize - 1, format, args);
    route(buffer);
}

void CNSLog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    CLogV(format, args);
    va_end(args);
}

void CNSDbgLog(const char* format, ...) {
    if (!g_debugLogEnabled)
        return;
    va_list args;
    va_start(args, format);
    CLogV(format, args);
    va_end(args);
}

void CNSLogWithStackTrace(const char* format, ...) {
    char buffer[kStackTraceMessageBufferSize];
    buffer[kStackTraceMessageBufferSize - 1] = '\0';
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, kStackTraceMessageBufferSize - 1, format, args);
    va_end(args);
    OCTextSink text;
    text.append(buffer);
    appendStackTrace(text);
    route(text.text());
}

void CNSLogMsg(const char* text) {
    if (text)
        route(text);
}

void CNSSysLog(int level, const char* format, ...) {
    char buffer[kMessageBufferSize];
    buffer[kMessageBufferSize - 1] = '\0';
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, kMessageBufferSize - 1, format, args);
    va_end(args);
    if (g_sysLogOpen)
        syslog(level & 7, "%s", buffer);
    else
        consoleLog(buffer);
}

void OCLogV(const char* format, const OCArg* args, size_t count) {
    OCTextSink text;
    OCFormatV(text, format, args, count);
    route(text.text());
}

void OCLogWithStackTraceV(const char* format, const OCArg* args, size_t count) {
    OCTextSink text;
    OCFormatV(text, format, args, count);
    appendStackTrace(text);
    route(text.text());
}

// ---------------------------------------------------------------------------
// OCTextSink

OCTextSink::OCTextSink(OCTextSink&& other) noexcept
    : m_data(other.m_data), m_size(other.m_size), m_capacity(other.m_capacity) {
    other.m_data = nullptr;
    other.m_size = other.m_capacity = 0;
}

OCTextSink& OCTextSink::operator=(OCTextSink&& other) noexcept {
    if (this != &other) {
        std::free(m_data);
        m_data = other.m_data;
        m_size = other.m_size;
        m_capacity = other.m_capacity;
        other.m_data = nullptr;
        other.m_size = other.m_capacity = 0;
    }
    return *this;
}

OCTextSink::~OCTextSink() {
    std::free(m_data);
}

void OCTextSink::reserve(size_t capacity) {
    if (capacity <= m_capacity)
        return;
    size_t grown = m_capacity ? m_capacity * 2 : 64;
    if (grown < capacity)
        grown = capacity;
    char* data = static_cast<char*>(std::realloc(m_data, grown));
    if (!data)
        std::abort(); // out of memory while logging: nothing sensible is left to do
    m_data = data;
    m_capacity = grown;
}

void OCTextSink::append(const char* bytes, size_t count) {
    reserve(m_size + count + 1);
    if (count)
        std::memcpy(m_data + m_size, bytes, count);
    m_size += count;
    m_data[m_size] = '\0';
}

void OCTextSink::append(const char* text) {
    if (text)
        append(text, std::strlen(text));
}

void OCTextSink::appendFormat(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    char small[256];
    int n = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        append(small, static_cast<size_t>(n));
    } else if (n >= 0) {
        reserve(m_size + static_cast<size_t>(n) + 1);
        std::vsnprintf(m_data + m_size, static_cast<size_t>(n) + 1, format, again);
        m_size += static_cast<size_t>(n);
    }
    va_end(again);
}

// ---------------------------------------------------------------------------
// OCArg

int64_t OCArg::asSigned() const {
    switch (m_kind) {
    case Kind::Signed:
        return m_signed;
    case Kind::Unsigned:
        return static_cast<int64_t>(m_unsigned);
    case Kind::Double:
        return static_cast<int64_t>(m_double);
    default:
        return 0;
    }
}

uint64_t OCArg::asUnsigned() const {
    switch (m_kind) {
    case Kind::Signed:
        return static_cast<uint64_t>(m_signed);
    case Kind::Unsigned:
        return m_unsigned;
    case Kind::Double:
        return static_cast<uint64_t>(static_cast<int64_t>(m_double));
    case Kind::Pointer:
        return reinterpret_cast<uintptr_t>(m_pointer);
    default:
        return 0;
    }
}

double OCArg::asDouble() const {
    switch (m_kind) {
    case Kind::Signed:
        return static_cast<double>(m_signed);
    case Kind::Unsigned:
        return static_cast<double>(m_unsigned);
    case Kind::Double:
        return m_double;
    default:
        return 0.0;
    }
}

void OCArg::describe(OCTextSink& sink) const {
    switch (m_kind) {
    case Kind::Signed:
        sink.appendFormat("%lld", static_cast<long long>(m_signed));
        break;
    case Kind::Unsigned:
        sink.appendFormat("%llu", static_cast<unsigned long long>(m_unsigned));
        break;
    case Kind::Double:
        sink.appendFormat("%g", m_double);
        break;
    case Kind::Text:
        sink.append(m_text, m_textSize);
        break;
    case Kind::Pointer:
        sink.appendFormat("%p", m_pointer);
        break;
    case Kind::Object:
        m_describe(sink, m_object);
        break;
    case Kind::Null:
        sink.append("(null)");
        break;
    }
}

// ---------------------------------------------------------------------------
// Object formats

namespace {

bool isFlag(char c) {
    return c == '-' || c == '+' || c == ' ' || c == '#' || c == '0' || c == '\'';
}

// Pads \p text to \p width (left-aligned with '-') and appends it.
void appendPadded(OCTextSink& out, const char* text, size_t size, int width, bool leftAlign) {
    size_t pad = width > 0 && static_cast<size_t>(width) > size ? static_cast<size_t>(width) - size : 0;
    if (!leftAlign)
        for (size_t i = 0; i < pad; ++i)
            out.appendChar(' ');
    out.append(text, size);
    if (leftAlign)
        for (size_t i = 0; i < pad; ++i)
            out.appendChar(' ');
}

} // namespace

void OCFormatV(OCTextSink& out, const char* format, const OCArg* args, size_t count) {
    if (!format)
        return;
    size_t next = 0;
    auto take = [&]() -> const OCArg* { return next < count ? &args[next++] : nullptr; };

    const char* p = format;
    while (*p) {
        const char* percent = std::strchr(p, '%');
        if (!percent) {
            out.append(p);
            break;
        }
        out.append(p, static_cast<size_t>(percent - p));
        const char* q = percent + 1;
        if (*q == '%') {
            out.appendChar('%');
            p = q + 1;
            continue;
        }

        // %[flags][width][.precision][length]conversion
        char flags[8];
        size_t flagCount = 0;
        bool leftAlign = false;
        while (isFlag(*q)) {
            if (*q == '-')
                leftAlign = true;
            if (flagCount < sizeof flags - 1)
                flags[flagCount++] = *q;
            ++q;
        }
        flags[flagCount] = '\0';
        int width = -1;
        if (*q == '*') {
            const OCArg* a = take();
            width = a ? static_cast<int>(a->asSigned()) : 0;
            if (width < 0) {
                leftAlign = true;
                width = -width;
            }
            ++q;
        } else if (*q >= '0' && *q <= '9') {
            width = 0;
            while (*q >= '0' && *q <= '9') {
                width = width < 100000 ? width * 10 + (*q - '0') : width;
                ++q;
            }
        }
        int precision = -1;
        if (*q == '.') {
            ++q;
            precision = 0;
            if (*q == '*') {
                const OCArg* a = take();
                precision = a ? static_cast<int>(a->asSigned()) : 0;
                if (precision < 0)
                    precision = -1;
                ++q;
            } else {
                while (*q >= '0' && *q <= '9') {
                    precision = precision < 100000 ? precision * 10 + (*q - '0') : precision;
                    ++q;
                }
            }
        }
        while (*q == 'h' || *q == 'l' || *q == 'q' || *q == 'L' || *q == 'z' || *q == 'j' || *q == 't')
            ++q;
        const char conversion = *q;
        if (conversion == '\0') {
            // A dangling '%' at the end: written as it stands.
            out.append(percent);
            break;
        }
        p = q + 1;

        // The printf directive with '*' resolved, without length modifiers: the argument is
        // always passed at its widest type below.
        char directive[64];
        int directiveLength = std::snprintf(directive, sizeof directive, "%%%s", flags);
        if (width >= 0)
            directiveLength +=
                std::snprintf(directive + directiveLength, sizeof directive - directiveLength, "%d", width);
        if (precision >= 0)
            directiveLength += std::snprintf(directive + directiveLength, sizeof directive - directiveLength,
                                             ".%d", precision);

        const OCArg* arg = nullptr;
        switch (conversion) {
        case '@': {
            arg = take();
            OCTextSink description;
            if (arg)
                arg->describe(description);
            else
                description.append("(null)");
            appendPadded(out, description.text(), description.size(), width, leftAlign);
            break;
        }
        case 's': {
            arg = take();
            OCTextSink description;
            if (arg)
                arg->describe(description);
            else
                description.append("(null)");
            size_t size = description.size();
            if (precision >= 0 && static_cast<size_t>(precision) < size)
                size = static_cast<size_t>(precision);
            appendPadded(out, description.text(), size, width, leftAlign);
            break;
        }
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X':
        case 'c': {
            arg = take();
            if (!arg) {
                out.append("(null)");
                break;
            }
            if (arg->kind() == OCArg::Kind::Object || arg->kind() == OCArg::Kind::Text) {
                // A text or object given to a number conversion: its description
                // is the only safe thing to print.
                arg->describe(out);
                break;
            }
            if (conversion == 'd' || conversion == 'i') {
                std::snprintf(directive + directiveLength, sizeof directive - directiveLength, "ll%c",
                              conversion);
                out.appendFormat(directive, static_cast<long long>(arg->asSigned()));
            } else if (conversion == 'c') {
                std::snprintf(directive + directiveLength, sizeof directive - directiveLength, "c");
                out.appendFormat(directive, static_cast<int>(static_cast<unsigned char>(arg->asSigned())));
            } else {
                std::snprintf(directive + directiveLength, sizeof directive - directiveLength, "ll%c",
                              conversion);
                out.appendFormat(directive, static_cast<unsigned long long>(arg->asUnsigned()));
            }
            break;
        }
        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
            arg = take();
            if (!arg) {
                out.append("(null)");
                break;
            }
            if (arg->kind() == OCArg::Kind::Object || arg->kind() == OCArg::Kind::Text) {
                arg->describe(out);
                break;
            }
            std::snprintf(directive + directiveLength, sizeof directive - directiveLength, "%c", conversion);
            out.appendFormat(directive, arg->asDouble());
            break;
        }
        case 'p': {
            arg = take();
            if (!arg) {
                out.append("(null)");
                break;
            }
            out.appendFormat("%p", reinterpret_cast<const void*>(static_cast<uintptr_t>(arg->asUnsigned())));
            break;
        }
        case 'n':
            // Never write through an argument: consume it and print nothing.
            take();
            break;
        default:
            // Unknown conversion: written as it stands.
            out.append(percent, static_cast<size_t>(p - percent));
            break;
        }
    }
}
