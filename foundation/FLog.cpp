#include "FLog.h"

#include "CNSLog.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

namespace FSpace {

namespace {

// The calling thread's mark, made once per thread: the kernel thread id is the
// number tools such as ps, top and gdb show for a thread.
struct ThreadMark {
    char text[64];
    int length;
};

ThreadMark const& threadMark() noexcept {
    thread_local ThreadMark mark = [] {
        ThreadMark m{};
        int const n = std::snprintf(m.text, sizeof m.text - 1, "Thread[%lx]",
                                    static_cast<unsigned long>(syscall(SYS_gettid)));
        m.length = n < 0 ? 0 : n;
        return m;
    }();
    return mark;
}

char* putDigits(char* out, unsigned value, int width) noexcept {
    for (int i = width - 1; i >= 0; --i) {
        out[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
    return out + width;
}

void writeWhole(int fd, char const* bytes, long count) noexcept {
    while (count > 0) {
        ssize_t const n = ::write(fd, bytes, static_cast<size_t>(count));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        bytes += n;
        count -= n;
    }
}

// Appends the 8-bit text of one value. Texts that the value already holds are
// copied straight from it; other kinds go through the value's own text form.
void appendValueText(TFValueBase<FTypeId> const& value, FLogLine& out) noexcept {
    switch (value.typeId()) {
    case FTypeCharPtr: {
        auto const* cell = static_cast<char const* const*>(value.content());
        if (cell != nullptr && *cell != nullptr) {
            out.append(*cell, static_cast<long>(std::strlen(*cell)));
        }
        return;
    }
    case FTypeString: {
        auto const* cell = static_cast<FGStr<char> const*>(value.content());
        char const* text = cell != nullptr ? static_cast<char const*>(*cell) : nullptr;
        if (text != nullptr) {
            out.append(text, static_cast<long>(std::strlen(text)));
        }
        return;
    }
    default: {
        FGStr<char> const text = value.toCString();
        char const* p = text;
        if (p != nullptr) {
            out.append(p, static_cast<long>(std::strlen(p)));
        }
        return;
    }
    }
}

bool matches(FLogLastError const& entry, int op, pthread_t thread) noexcept {
    bool const anyThread = thread == 0;
    if (op == 0 && anyThread) {
        return true;
    }
    if (anyThread) {
        return entry.op() == op;
    }
    bool const sameThread = pthread_equal(entry.thread(), thread) != 0;
    return op == 0 ? sameThread : sameThread && entry.op() == op;
}

FGStr<char> narrow(wchar_t const* text) {
    FGStr<char> result;
    if (text != nullptr) {
        result.appendValueOf(text);
    }
    return result;
}

} // namespace

// ---------------------------------------------------------------------------
// FLogLinePrefix

FLogLinePrefix::FLogLinePrefix() noexcept {
    // The date and clock time up to the second change once a second: each
    // thread keeps the text of its last second and renders only the
    // milliseconds anew. The result is the text of FTime(true).
    struct Second {
        long long seconds = -1;
        char text[20]; // "YYYY-MM-DDThh:mm:ss."
    };
    thread_local Second last;
    timeval now{};
    gettimeofday(&now, nullptr);
    if (now.tv_sec != last.seconds) {
        setTime(FTime(static_cast<unsigned int>(now.tv_sec)));
        std::memcpy(last.text, m_text, sizeof last.text);
        last.seconds = now.tv_sec;
    } else {
        std::memcpy(m_text, last.text, sizeof last.text);
    }
    char* p = m_text + 20;
    p = putDigits(p, static_cast<unsigned>(now.tv_usec / 1000), 3);
    *p++ = ' ';
    m_length = p - m_text;
    ThreadMark const& mark = threadMark();
    std::memcpy(m_text + m_length, mark.text, static_cast<size_t>(mark.length));
    m_length += mark.length;
    m_text[m_length] = '\0';
}

FLogLinePrefix::FLogLinePrefix(FTime const& time, char const* mark) noexcept {
    setTime(time);
    size_t n = mark != nullptr ? std::strlen(mark) : 0;
    if (n > 63) {
        n = 63;
    }
    std::memcpy(m_text + m_length, mark, n);
    m_length += static_cast<long>(n);
    m_text[m_length] = '\0';
}

// The same text as FTime::toCStringEx, written straight into the buffer: this
// runs for every log line.
void FLogLinePrefix::setTime(FTime const& time) noexcept {
    char* p = m_text;
    p = putDigits(p, time.Year(), 4);
    *p++ = '-';
    p = putDigits(p, time.Month(), 2);
    *p++ = '-';
    p = putDigits(p, time.Day(), 2);
    *p++ = 'T';
    p = putDigits(p, time.Hour(), 2);
    *p++ = ':';
    p = putDigits(p, time.Minute(), 2);
    *p++ = ':';
    p = putDigits(p, time.Second(), 2);
    *p++ = '.';
    p = putDigits(p, time.MilliSeconds(), 3);
    *p++ = ' ';
    m_length = p - m_text;
}

// ---------------------------------------------------------------------------
// FLogLine

FLogLine::~FLogLine() {
    if (m_pData != m_inline) {
        std::free(m_pData);
    }
}

void FLogLine::append(char const* bytes, long count) noexcept {
    if (count < 1) {
        return;
    }
    if (m_length + count > m_capacity) {
        long capacity = m_capacity * 2;
        while (capacity < m_length + count) {
            capacity *= 2;
        }
        char* grown = static_cast<char*>(std::malloc(static_cast<size_t>(capacity)));
        if (grown == nullptr) {
            std::terminate(); // the library's rule for allocation failures in noexcept code
        }
        std::memcpy(grown, m_pData, static_cast<size_t>(m_length));
        if (m_pData != m_inline) {
            std::free(m_pData);
        }
        m_pData = grown;
        m_capacity = capacity;
    }
    std::memcpy(m_pData + m_length, bytes, static_cast<size_t>(count));
    m_length += count;
}

// ---------------------------------------------------------------------------
// FLogRecord

FLogRecord::FLogRecord(FLogRecord const& other) : m_values(other.m_values) {}

FLogRecord& FLogRecord::operator=(FLogRecord const& other) {
    if (this != &other) {
        m_values = other.m_values;
    }
    return *this;
}

FLogRecord& FLogRecord::addValue(TFValueBase<FTypeId>* value) {
    m_values.add(FLogValueRef(value));
    return *this;
}

FLogRecord& FLogRecord::add(bool value) {
    return addValue(new FValue<bool>(value));
}
FLogRecord& FLogRecord::add(unsigned char value) {
    return addValue(new FValue<unsigned char>(value));
}
FLogRecord& FLogRecord::add(signed char value) {
    return addValue(new FValue<signed char>(value));
}
FLogRecord& FLogRecord::add(unsigned short value) {
    return addValue(new FValue<unsigned short>(value));
}
FLogRecord& FLogRecord::add(short value) {
    return addValue(new FValue<short>(value));
}
FLogRecord& FLogRecord::add(unsigned int value) {
    return addValue(new FValue<unsigned int>(value));
}
FLogRecord& FLogRecord::add(int value) {
    return addValue(new FValue<int>(value));
}
FLogRecord& FLogRecord::add(unsigned long long value) {
    return addValue(new FValue<unsigned long long>(value));
}
FLogRecord& FLogRecord::add(long long value) {
    return addValue(new FValue<long long>(value));
}
FLogRecord& FLogRecord::add(char value) {
    return addValue(new FValue<char>(value));
}
FLogRecord& FLogRecord::add(wchar_t value) {
    return addValue(new FValue<wchar_t>(value));
}
FLogRecord& FLogRecord::add(char const* text) {
    return addValue(new FValue<char const*>(text));
}
FLogRecord& FLogRecord::add(wchar_t const* text) {
    return addValue(new FValue<wchar_t const*>(text));
}
FLogRecord& FLogRecord::add(FGStr<char> const& text) {
    return addValue(new TFValueBase<FTypeId>(text));
}
FLogRecord& FLogRecord::add(FGStr<wchar_t> const& text) {
    return addValue(new TFValueBase<FTypeId>(text));
}
FLogRecord& FLogRecord::add(FTime const& time) {
    return addValue(new FValue<FTime>(time));
}
FLogRecord& FLogRecord::add(FGUID const& guid) {
    return addValue(new FValue<FGUID>(guid));
}
FLogRecord& FLogRecord::add(TFValueBase<FTypeId> const& value) {
    return addValue(new TFValueBase<FTypeId>(value));
}

FLogValueRef FLogRecord::itemAt(long index) const {
    if (m_values.isEmpty()) {
        return FLogValueRef();
    }
    return m_values[index];
}

void FLogRecord::render(FLogLayout layout, FLogLinePrefix const& prefix, FLogLine& out) const noexcept {
    out.append(prefix.text(), prefix.Length());
    long const count = m_values.Count();
    FLogValueRef const* values = m_values.data();
    if (layout == FLogLayout::Report) {
        out.append(':');
        for (long i = 0; i < count; ++i) {
            out.append('\t');
            appendValueText(*values[i], out);
        }
    } else {
        out.append(": ", 2);
        for (long i = 0; i < count; ++i) {
            long const before = out.Length();
            appendValueText(*values[i], out);
            if (out.Length() > before) {
                out.append('\t');
            }
        }
    }
    out.append('\n');
}

// ---------------------------------------------------------------------------
// FLogLastError

FLogLastError::FLogLastError(int op, char const* caller, char const* callee, int code, char const* text)
    : m_op(op), m_caller(caller), m_callee(callee), m_code(code), m_text(text), m_thread(pthread_self()) {}

FLogLastError::FLogLastError(int op, wchar_t const* caller, wchar_t const* callee, int code,
                             wchar_t const* text)
    : m_op(op), m_caller(narrow(caller)), m_callee(narrow(callee)), m_code(code), m_text(narrow(text)),
      m_thread(pthread_self()) {}

FGStr<char> FLogLastError::toString() const {
    FGStr<char> s;
    s << "Error #" << m_code;
    if (!m_text.isEmpty()) {
        s << "[" << m_text << "]";
    }
    s << " in [" << m_callee << " < " << m_caller << "] ";
    s << " Thread=" << (m_thread != 0 ? "1" : "0");
    if (m_op != 0) {
        s << " Op=" << m_op;
    }
    return s;
}

// ---------------------------------------------------------------------------
// FLogBook

FLogBook::~FLogBook() = default;

void FLogBook::setLastError(int op, char const* caller, char const* callee, int code, char const* text) {
    FLogLastErrorRef entry(new FLogLastError(op, caller, callee, code, text));
    lock();
    m_lastErrors.add(entry);
    unlock();

    // The record is written after the lock is released: a book's add may take
    // the same lock for its output.
    FGStr<char> message;
    message << "SetLastError(" << op << "): [";
    if (caller != nullptr) {
        message << caller;
    }
    message << "] has invoked [";
    if (callee != nullptr) {
        message << callee;
    }
    message << "] which returned: " << code;
    if (text != nullptr) {
        message << " - " << text;
    }
    FLogRecord record;
    record.add(message);
    add(record);
}

bool FLogBook::getLastError(FLogLastErrorRef& out, int op, pthread_t thread) {
    FThreadLockGuard const guard(*this);
    for (long i = m_lastErrors.Count() - 1; i >= 0; --i) {
        if (matches(*m_lastErrors[i], op, thread)) {
            out = m_lastErrors[i];
            return true;
        }
    }
    return false;
}

FLogLastErrorList FLogBook::getLastThreadErrors(pthread_t thread) {
    FThreadLockGuard const guard(*this);
    FLogLastErrorList result;
    for (long i = 0; i < m_lastErrors.Count(); ++i) {
        if (pthread_equal(m_lastErrors[i]->thread(), thread) != 0) {
            result.add(m_lastErrors[i]);
        }
    }
    return result;
}

FLogLastErrorList FLogBook::getLastOpErrors(int op) {
    FThreadLockGuard const guard(*this);
    FLogLastErrorList result;
    for (long i = 0; i < m_lastErrors.Count(); ++i) {
        if (m_lastErrors[i]->op() == op) {
            result.add(m_lastErrors[i]);
        }
    }
    return result;
}

FLogLastErrorList FLogBook::getLastErrors() {
    FThreadLockGuard const guard(*this);
    return m_lastErrors;
}

bool FLogBook::hasLastError(int op, pthread_t thread) {
    FThreadLockGuard const guard(*this);
    for (long i = 0; i < m_lastErrors.Count(); ++i) {
        if (matches(*m_lastErrors[i], op, thread)) {
            return true;
        }
    }
    return false;
}

void FLogBook::clearLastError(int op, pthread_t thread) {
    bool removed = false;
    lock();
    if (op == 0 && thread == 0) {
        removed = m_lastErrors.il_removeAll();
    } else {
        for (long i = m_lastErrors.Count() - 1; i >= 0; --i) {
            if (matches(*m_lastErrors[i], op, thread)) {
                m_lastErrors.il_removeAt(i);
                removed = true;
            }
        }
    }
    unlock();
    if (!removed) {
        return;
    }
    FGStr<char> message;
    message << "ClearLastError(" << op << ")";
    FLogRecord record;
    record.add(message);
    add(record);
}

bool FLogBook::isInactive() {
    return false;
}

void FLogBook::writeStream(unsigned char kind, int tag, TFBinary<unsigned char> const& data) {
    writeStream(kind, tag, data.data(), data.size());
}

bool FLogBook::getLastErrorString(FGStr<wchar_t>& out) {
    FLogLastErrorList const errors = getLastErrors();
    for (long i = 0; i < errors.Count(); ++i) {
        out.appendValueOf(static_cast<char const*>(errors[i]->text()));
        out << L"\r\n";
    }
    return errors.Count() > 0;
}

FLogBook& FLogBook::operator<<(FLogRecord const& record) {
    add(record);
    return *this;
}

// ---------------------------------------------------------------------------
// FLogBookHoster

FLogBookHoster::FLogBookHoster(FLogBook* b1, FLogBook* b2, FLogBook* b3, FLogBook* b4, FLogBook* b5,
                               FLogBook* b6, FLogBook* b7, FLogBook* b8) {
    for (FLogBook* book : {b1, b2, b3, b4, b5, b6, b7, b8}) {
        if (book != nullptr) {
            m_books.add(FLogBookRef(book));
        }
    }
}

void FLogBookHoster::add(FLogRecord const& record) {
    for (long i = 0; i < m_books.Count(); ++i) {
        m_books[i]->add(record);
    }
}

void FLogBookHoster::writeStream(unsigned char kind, int tag, void const* data, long size) {
    for (long i = 0; i < m_books.Count(); ++i) {
        m_books[i]->writeStream(kind, tag, data, size);
    }
}

void FLogBookHoster::setLastError(int op, char const* caller, char const* callee, int code,
                                  char const* text) {
    FLogBook::setLastError(op, caller, callee, code, nullptr);
    for (long i = 0; i < m_books.Count(); ++i) {
        m_books[i]->setLastError(op, caller, callee, code, text);
    }
}

void FLogBookHoster::clearLastError(int op, pthread_t thread) {
    FLogBook::clearLastError(op, thread);
    for (long i = 0; i < m_books.Count(); ++i) {
        m_books[i]->clearLastError(op, thread);
    }
}

// ---------------------------------------------------------------------------
// FLoggable

FLoggable::FLoggable() : m_book(new FLogBookDummy()) {}

FLoggable::~FLoggable() {
    m_book.release();
    pthread_mutex_destroy(&m_bookLock);
}

void FLoggable::onLogBookAttached(FLogBookRef) {}

void FLoggable::onLogBookDetached() {}

FLogBookRef FLoggable::logBook() const {
    pthread_mutex_lock(&m_bookLock);
    FLogBookRef book = m_book;
    pthread_mutex_unlock(&m_bookLock);
    return book;
}

void FLoggable::attachLogBook(FLogBookRef book) {
    FLogBookRef previous = book;
    pthread_mutex_lock(&m_bookLock);
    std::swap(m_book, previous);
    pthread_mutex_unlock(&m_bookLock);
    // The previous book is released here, outside the lock: closing a file book
    // must not hold up threads that log meanwhile.
    previous.release();
    onLogBookAttached(book);
}

void FLoggable::detachLogBook() {
    FLogBookRef previous;
    pthread_mutex_lock(&m_bookLock);
    std::swap(m_book, previous);
    pthread_mutex_unlock(&m_bookLock);
    previous.release();
    onLogBookDetached();
}

void FLoggable::addLogRecord(FLogRecord const& record) {
    addLogRecordTo(logBook(), record);
}

void FLoggable::addLogRecordTo(FLogBookRef const& book, FLogRecord const& record) {
    if (book) {
        book->add(record);
    }
    if (CNSDbgLogEnabled()) {
        FLogLine line;
        record.render(FLogLayout::Console, FLogLinePrefix(), line);
        writeWhole(STDERR_FILENO, line.data(), line.Length());
    }
}

FGStr<char> FLoggable::getLogThreadId() {
    ThreadMark const& mark = threadMark();
    return FGStr<char>(mark.text, mark.length);
}

void FLoggable::writeStream(unsigned char kind, int tag, void const* data, long size) {
    if (FLogBookRef const book = logBook()) {
        book->writeStream(kind, tag, data, size);
    }
}

void FLoggable::writeStream(unsigned char kind, int tag, TFBinary<unsigned char> const& data) {
    writeStream(kind, tag, data.data(), data.size());
}

void FLoggable::setLastError(int op, char const* caller, char const* callee, int code, char const* text) {
    if (FLogBookRef const book = logBook()) {
        book->setLastError(op, caller, callee, code, text);
    }
}

void FLoggable::setLastError(char const* caller, char const* callee, int code, char const* text) {
    if (m_operation != 0) {
        setLastError(m_operation, caller, callee, code, text);
    }
}

bool FLoggable::getLastError(FLogLastErrorRef& out, int op, pthread_t thread) {
    FLogBookRef const book = logBook();
    return book && book->getLastError(out, op, thread);
}

bool FLoggable::hasLastError(int op, pthread_t thread) {
    FLogBookRef const book = logBook();
    return book && book->hasLastError(op, thread);
}

FLogLastErrorList FLoggable::getLastThreadErrors(pthread_t thread) {
    FLogBookRef const book = logBook();
    return book ? book->getLastThreadErrors(thread) : FLogLastErrorList();
}

FLogLastErrorList FLoggable::getLastOpErrors(int op) {
    FLogBookRef const book = logBook();
    return book ? book->getLastOpErrors(op) : FLogLastErrorList();
}

FLogLastErrorList FLoggable::getLastErrors() {
    FLogBookRef const book = logBook();
    return book ? book->getLastErrors() : FLogLastErrorList();
}

void FLoggable::clearLastError(int op, pthread_t thread) {
    if (FLogBookRef const book = logBook()) {
        book->clearLastError(op, thread);
    }
}

} // namespace FSpace
