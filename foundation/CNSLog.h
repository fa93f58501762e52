// The process-wide logging facade.
//
// Every part of the program logs through these free functions and never learns
// where the text ends up. One call to CNSInitLog, first thing in the process
// entry, picks the destinations; each message then goes to exactly one of them,
// tried in this order: the attached log file, the system log (syslog), the
// console (one line on standard error).
//
// Two families of formats exist:
//  - CNS… functions take printf formats (8-bit text, checked by the compiler);
//  - OCNS… functions take object formats: printf conversions plus "%@", which
//    prints an object's description. Arguments are type-checked at compile time
//    and converted at run time, so a mismatched conversion never reads garbage.
//
// Any thread may log at any time. The facade has no lock: its process-wide
// values are written once by CNSInitLog before other threads exist.
#pragma once

#include <concepts>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <type_traits>

/// Flag bits of CNSInitLog.
enum : int {
    CNSLogFlagDebug = 0x002,   ///< debug messages on
    CNSLogFlagNewFile = 0x100, ///< log to a new log file
};

/// Initialises the destinations. \p logDir, when at least 2 bytes long, becomes
/// the folder for new log files (made when missing); with CNSLogFlagNewFile a
/// new file "<logName>_<UTC time>.txt" is made there and attached. \p selector
/// 1 opens the system-log client with \p logName as its identity; any other
/// value leaves it closed. Never throws: a folder or file that cannot be made
/// leaves the messages to the system log or the console.
void CNSInitLog(int flags, int selector, const char* logName, const char* logDir);

/// Detaches the log file: later messages go to the system log or the console.
void CNSDisableFileLogging();

/// True once debug messages are on (set by CNSInitLog, never cleared).
bool CNSDbgLogEnabled();

/// Formats into a 4096-byte buffer (at most 4094 bytes kept) and routes the text.
void CLogV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));
void CNSLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// CNSLog, only while debug messages are on.
void CNSDbgLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// The message (at most 8190 bytes) followed by the caller's stack trace, routed
/// as one text.
void CNSLogWithStackTrace(const char* format, ...) __attribute__((format(printf, 1, 2)));
/// Routes \p text unchanged, without formatting. A null text does nothing.
void CNSLogMsg(const char* text);
/// Formats (at most 4094 bytes) and writes to the system log at \p level (0-7),
/// or to the console when no system-log client is open. Never to the log file.
void CNSSysLog(int level, const char* format, ...) __attribute__((format(printf, 2, 3)));

/// A growable byte buffer that object formats write into. Always null-terminated.
class OCTextSink {
public:
    OCTextSink() = default;
    OCTextSink(const OCTextSink&) = delete;
    OCTextSink& operator=(const OCTextSink&) = delete;
    OCTextSink(OCTextSink&& other) noexcept;
    OCTextSink& operator=(OCTextSink&& other) noexcept;
    ~OCTextSink();

    void append(const char* bytes, size_t count);
    void append(const char* text);
    void appendChar(char c) { append(&c, 1); }
    /// printf-style append.
    void appendFormat(const char* format, ...) __attribute__((format(printf, 2, 3)));
    void clear() { m_size = 0; }

    /// The text so far; never null, always null-terminated.
    const char* text() const { return m_data ? m_data : ""; }
    size_t size() const { return m_size; }

private:
    void reserve(size_t capacity);

    char* m_data = nullptr;
    size_t m_size = 0;
    size_t m_capacity = 0;
};

/// One argument of an object format, made implicitly from any value.
///
/// Numbers, texts (C strings and anything with a char data() and size()) and
/// raw pointers are kept as such. Any other value is an object: "%@" prints it
/// through OCDescribe(OCTextSink&, const T&), an overload the value's own code
/// provides in its namespace or the global one. A null pointer to an object
/// prints "(null)".
class OCArg {
public:
    enum class Kind { Signed, Unsigned, Double, Text, Pointer, Object, Null };

    OCArg() : m_kind(Kind::Null) {}

    template <class T>
    OCArg(const T& value) { // NOLINT: implicit on purpose, it is an argument list
        using U = std::remove_cv_t<T>;
        if constexpr (std::is_same_v<U, bool>) {
            m_kind = Kind::Signed;
            m_signed = value ? 1 : 0;
        } else if constexpr (std::is_integral_v<U> && std::is_signed_v<U>) {
            m_kind = Kind::Signed;
            m_signed = value;
        } else if constexpr (std::is_integral_v<U>) {
            m_kind = Kind::Unsigned;
            m_unsigned = value;
        } else if constexpr (std::is_enum_v<U>) {
            m_kind = Kind::Signed;
            m_signed = static_cast<int64_t>(value);
        } else if constexpr (std::is_floating_point_v<U>) {
            m_kind = Kind::Double;
            m_double = static_cast<double>(value);
        } else if constexpr (std::is_same_v<U, std::nullptr_t>) {
            m_kind = Kind::Null;
        } else if constexpr (std::is_array_v<U> &&
                             std::is_same_v<std::remove_cv_t<std::remove_extent_t<U>>, char>) {
            setText(value, textLength(value, sizeof(U)));
        } else if constexpr (std::is_pointer_v<U> &&
                             std::is_same_v<std::remove_cv_t<std::remove_pointer_t<U>>, char>) {
            if (value)
                setText(value, textLength(value, SIZE_MAX));
            else
                m_kind = Kind::Null;
        } else if constexpr (requires(const U& v) {
                                 { v.data() } -> std::convertible_to<const char*>;
                                 { v.size() } -> std::convertible_to<size_t>;
                             }) {
            setText(value.data(), value.size());
        } else if constexpr (std::is_pointer_v<U> &&
                             requires(OCTextSink & s, const U& p) { OCDescribe(s, *p); }) {
            if (value) {
                m_kind = Kind::Object;
                m_object = value;
                m_describe = [](OCTextSink& sink, const void* object) {
                    OCDescribe(sink, *static_cast<U>(object));
                };
            } else {
                m_kind = Kind::Null;
            }
        } else if constexpr (std::is_pointer_v<U>) {
            m_kind = Kind::Pointer;
            m_pointer = reinterpret_cast<const void*>(value);
        } else {
            m_kind = Kind::Object;
            m_object = &value;
            m_describe = [](OCTextSink& sink, const void* object) {
                OCDescribe(sink, *static_cast<const U*>(object));
            };
        }
    }

    Kind kind() const { return m_kind; }
    int64_t asSigned() const;
    uint64_t asUnsigned() const;
    double asDouble() const;
    /// Writes what "%@" prints for this argument.
    void describe(OCTextSink& sink) const;
    /// The text of a Text argument (not null-terminated), else null.
    const char* textData() const { return m_kind == Kind::Text ? m_text : nullptr; }
    size_t textSize() const { return m_kind == Kind::Text ? m_textSize : 0; }
    const void* pointer() const { return m_kind == Kind::Pointer ? m_pointer : nullptr; }

private:
    static size_t textLength(const char* text, size_t limit) {
        size_t n = 0;
        while (n < limit && text[n] != '\0')
            ++n;
        return n;
    }
    void setText(const char* text, size_t size) {
        m_kind = Kind::Text;
        m_text = text;
        m_textSize = size;
    }

    Kind m_kind = Kind::Null;
    union {
        int64_t m_signed;
        uint64_t m_unsigned;
        double m_double;
        const char* m_text;
        const void* m_pointer;
        const void* m_object = nullptr;
    };
    size_t m_textSize = 0;
    void (*m_describe)(OCTextSink&, const void*) = nullptr;
};

/// Appends \p format with \p args to \p out. "%@" describes an object; "%%" is a
/// percent sign; "%n" is never honoured. A conversion without an argument
/// prints "(null)"; surplus arguments are ignored.
void OCFormatV(OCTextSink& out, const char* format, const OCArg* args, size_t count);

template <class... A>
void OCFormat(OCTextSink& out, const char* format, const A&... args) {
    const OCArg list[sizeof...(A) + 1] = {OCArg(args)...};
    OCFormatV(out, format, list, sizeof...(A));
}

/// Formats with an object format (no length limit) and routes the UTF-8 text.
void OCLogV(const char* format, const OCArg* args, size_t count);
/// The object-format message followed by the stack trace, as one text.
void OCLogWithStackTraceV(const char* format, const OCArg* args, size_t count);

template <class... A>
void OCNSLog(const char* format, const A&... args) {
    const OCArg list[sizeof...(A) + 1] = {OCArg(args)...};
    OCLogV(format, list, sizeof...(A));
}

template <class... A>
void OCNSDbgLog(const char* format, const A&... args) {
    if (!CNSDbgLogEnabled())
        return;
    const OCArg list[sizeof...(A) + 1] = {OCArg(args)...};
    OCLogV(format, list, sizeof...(A));
}

template <class... A>
void OCNSLogWithStackTrace(const char* format, const A&... args) {
    const OCArg list[sizeof...(A) + 1] = {OCArg(args)...};
    OCLogWithStackTraceV(format, list, sizeof...(A));
}
