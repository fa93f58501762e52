// Log records, log books, loggables and the last-error list of the FSpace
// library.
//
//  - FLogRecord: one log entry, an ordered list of shared typed values. It has
//    no time, thread or level of its own; a book adds them when it renders the
//    record as a line (FLogLinePrefix, FLogRecord::render).
//  - FLogBook: where records end up. Abstract; it keeps the list of last errors
//    (FLogLastError) under its recursive lock. FLogBookDummy swallows
//    everything, FLogBookHoster fans out to up to eight hosted books, the file
//    book (FLogFile.h) writes a report file.
//  - FLoggable: what logs. It holds a counted reference to one book, forwards
//    records and last errors to it and, while the facade's debug messages are
//    on, echoes every record to standard error.
//
// Two line layouts exist. The report line (FLogLayout::Report), as a file book
// writes it:
//     <time> Thread[<tid hex>]:\t<value>\t<value>\n      (every value, even empty)
// and the console echo (FLogLayout::Console):
//     <time> Thread[<tid hex>]: <value>\t<value>\t\n     (empty values skipped)
// with <time> the UTC time as 2026-12-05T14:42:08.123 and <tid hex> the calling
// thread's kernel thread id in lower-case hexadecimal.
//
// Thread safety: records are filled by one thread; their values are counted
// atomically, so copies may die anywhere. Books serialise their output and
// their last-error list with their own lock. A loggable may have its book
// replaced while other threads log through it: each record goes whole to
// either the old or the new book.
#pragma once

#include "FTypeValue.h"

#include <pthread.h>

namespace FSpace {

class FLogBook;
class FLogLastError;

using FLogValueRef = FRef<TFValueBase<FTypeId>, TFRefCounter<int>>;
using FLogBookRef = FRef<FLogBook, TFRefCounter<int>>;
using FLogLastErrorRef = FRef<FLogLastError, TFRefCounter<int>>;
using FLogLastErrorList = FList<FLogLastErrorRef>;

/// The two text forms of a record.
enum class FLogLayout {
    Report,  ///< prefix ":" then a tab before every value; what files hold
    Console, ///< prefix ": " then every non-empty value followed by a tab
};

/// The start of a log line: the UTC time with milliseconds, one space and the
/// thread mark.
class FLogLinePrefix {
public:
    /// The current time and the calling thread's mark.
    FLogLinePrefix() noexcept;
    /// A fixed time and mark (marks longer than 63 bytes are cut).
    FLogLinePrefix(FTime const& time, char const* threadMark) noexcept;
    FLogLinePrefix(FLogLinePrefix const&) noexcept = default;
    FLogLinePrefix& operator=(FLogLinePrefix const&) noexcept = default;

    char const* text() const noexcept { return m_text; }
    long Length() const noexcept { return m_length; }

private:
    void setTime(FTime const& time) noexcept;

    // "YYYY-MM-DDThh:mm:ss.mmm" (23), a space, and a mark of at most 63 bytes.
    char m_text[24 + 64];
    long m_length = 0;
};

/// A line being rendered: bytes kept on the stack up to a limit, on the heap
/// beyond it. Not copyable: it is a scratch buffer of one rendering.
class FLogLine {
public:
    FLogLine() noexcept = default;
    FLogLine(FLogLine const&) = delete;
    FLogLine& operator=(FLogLine const&) = delete;
    ~FLogLine();

    void append(char const* bytes, long count) noexcept;
    void append(char c) noexcept { append(&c, 1); }
    void clear() noexcept { m_length = 0; }

    char const* data() const noexcept { return m_pData; }
    long Length() const noexcept { return m_length; }

private:
    static constexpr long kInline = 1024;

    char m_inline[kInline];
    char* m_pData = m_inline;
    long m_length = 0;
    long m_capacity = kInline;
};

/// One log entry: an ordered list of values. Copies share the values.
class FLogRecord {
public:
    FLogRecord() noexcept = default;
    /// Shares every value of \p other (each count goes up by one).
    FLogRecord(FLogRecord const& other);
    FLogRecord& operator=(FLogRecord const& other);
    // Moving is copying: copies only share values, so nothing is gained.
    ~FLogRecord() = default;

    /// Each appends one value and returns the record. The two pointer kinds keep
    /// only the address: the text must outlive the record and all its copies.
    FLogRecord& add(bool value);
    FLogRecord& add(unsigned char value);
    FLogRecord& add(signed char value);
    FLogRecord& add(unsigned short value);
    FLogRecord& add(short value);
    FLogRecord& add(unsigned int value);
    FLogRecord& add(int value);
    FLogRecord& add(unsigned long long value);
    FLogRecord& add(long long value);
    FLogRecord& add(char value);
    FLogRecord& add(wchar_t value);
    FLogRecord& add(char const* text);
    FLogRecord& add(wchar_t const* text);
    FLogRecord& add(FGStr<char> const& text);
    FLogRecord& add(FGStr<wchar_t> const& text);
    FLogRecord& add(FTime const& time);
    FLogRecord& add(FGUID const& guid);
    FLogRecord& add(TFValueBase<FTypeId> const& value);

    template <typename T>
    FLogRecord& operator<<(T const& value) {
        return add(value);
    }
    /// A string literal or array is a text pointer, not an array value.
    FLogRecord& operator<<(char const* text) { return add(text); }
    FLogRecord& operator<<(wchar_t const* text) { return add(text); }
    /// A growable string is stored as a copy of its text.
    FLogRecord& operator<<(FMStr<char> const& text) { return add(FGStr<char>(text)); }
    FLogRecord& operator<<(FMStr<wchar_t> const& text) { return add(FGStr<wchar_t>(text)); }

    long long Count() const noexcept { return m_values.Count(); }
    /// A new reference to the value at \p index: a negative index counts from
    /// the end, an index past the end gives the last value; empty when the
    /// record has no values.
    FLogValueRef itemAt(long index) const;

    /// Appends the whole line of \p layout, line feed included, to \p out.
    void render(FLogLayout layout, FLogLinePrefix const& prefix, FLogLine& out) const noexcept;

private:
    FLogRecord& addValue(TFValueBase<FTypeId>* value);

    FArray<FLogValueRef, FAllocationBuf<FLogValueRef>> m_values;
};

/// One recorded error: which function called which and what came back.
class FLogLastError {
public:
    /// Null texts give empty strings; the calling thread is stored.
    FLogLastError(int op, char const* caller, char const* callee, int code, char const* text);
    /// The same with the texts narrowed to their low 8 bits.
    FLogLastError(int op, wchar_t const* caller, wchar_t const* callee, int code, wchar_t const* text);
    FLogLastError(FLogLastError const&) = default;
    FLogLastError& operator=(FLogLastError const&) = default;
    ~FLogLastError() = default;

    /// "Error #<code>[<text>] in [<callee> < <caller>]  Thread=1 Op=<op>"; the
    /// bracketed text only when there is one, " Op=" only for op != 0.
    FGStr<char> toString() const;

    int op() const noexcept { return m_op; }
    FGStr<char> const& caller() const noexcept { return m_caller; }
    FGStr<char> const& callee() const noexcept { return m_callee; }
    int code() const noexcept { return m_code; }
    FGStr<char> const& text() const noexcept { return m_text; }
    pthread_t thread() const noexcept { return m_thread; }

private:
    int m_op;
    FGStr<char> m_caller;
    FGStr<char> m_callee;
    int m_code;
    FGStr<char> m_text;
    pthread_t m_thread;
};

/// Where records end up. The recursive lock (the thread that holds it may take
/// it again) guards the last-error list; derived books use it for their output.
///
/// In every selecting operation an op of 0 and a null thread (0) mean "any".
class FLogBook : protected FThreadLock_T<pthread_mutex_t> {
public:
    FLogBook() = default;
    FLogBook(FLogBook const&) = delete;
    FLogBook& operator=(FLogBook const&) = delete;
    virtual ~FLogBook();

    /// Writes one record.
    virtual void add(FLogRecord const& record) = 0;
    /// Takes a binary chunk with a caller-chosen byte and integer.
    virtual void writeStream(unsigned char kind, int tag, void const* data, long size) = 0;
    /// Appends a new entry under the lock, then (lock released) adds the record
    /// "SetLastError(<op>): [<caller>] has invoked [<callee>] which returned:
    /// <code>", followed by " - <text>" when \p text is not null.
    virtual void setLastError(int op, char const* caller, char const* callee, int code, char const* text);
    /// The newest matching entry into \p out; false (out untouched) when none.
    virtual bool getLastError(FLogLastErrorRef& out, int op, pthread_t thread);
    /// Entries recorded by \p thread, oldest first.
    virtual FLogLastErrorList getLastThreadErrors(pthread_t thread);
    /// Entries whose op equals \p op (0 selects op 0 here), oldest first.
    virtual FLogLastErrorList getLastOpErrors(int op);
    /// All entries, oldest first.
    virtual FLogLastErrorList getLastErrors();
    virtual bool hasLastError(int op, pthread_t thread);
    /// Removes the matching entries; when any went, adds "ClearLastError(<op>)".
    virtual void clearLastError(int op, pthread_t thread);
    /// False for every book of this library.
    virtual bool isInactive();
    /// Fills \p out with the session's transfer log where a book keeps one.
    virtual bool getSessionTransferLog(FGStr<wchar_t>& out) = 0;

    void writeStream(unsigned char kind, int tag, TFBinary<unsigned char> const& data);
    /// Every entry's text followed by "\r\n", oldest first, appended to \p out;
    /// false when the list is empty.
    bool getLastErrorString(FGStr<wchar_t>& out);
    static FLogRecord create() { return FLogRecord(); }
    /// Adds \p record, as add() does.
    FLogBook& operator<<(FLogRecord const& record);

private:
    FLogLastErrorList m_lastErrors;
};

/// Swallows records and chunks; keeps last errors like every book.
class FLogBookDummy : public FLogBook {
public:
    FLogBookDummy() = default;
    ~FLogBookDummy() override = default;

    using FLogBook::writeStream;
    void add(FLogRecord const&) override {}
    void writeStream(unsigned char, int, void const*, long) override {}
    bool getSessionTransferLog(FGStr<wchar_t>&) override { return false; }
};

/// Forwards everything to the books it hosts, in the order they were given.
/// Abstract: a derived class says what its session transfer log is.
class FLogBookHoster : public FLogBook {
public:
    /// Hosts each non-null book, in parameter order, and owns it from now on.
    explicit FLogBookHoster(FLogBook* b1, FLogBook* b2 = nullptr, FLogBook* b3 = nullptr,
                            FLogBook* b4 = nullptr, FLogBook* b5 = nullptr, FLogBook* b6 = nullptr,
                            FLogBook* b7 = nullptr, FLogBook* b8 = nullptr);
    ~FLogBookHoster() override = default;

    using FLogBook::writeStream;
    void add(FLogRecord const& record) override;
    void writeStream(unsigned char kind, int tag, void const* data, long size) override;
    /// Records the entry here without its text (so this book's own
    /// "SetLastError(" record, which every hosted book receives, has no text),
    /// then passes the full error to every hosted book.
    void setLastError(int op, char const* caller, char const* callee, int code, char const* text) override;
    void clearLastError(int op, pthread_t thread) override;

    FList<FLogBookRef> const& hostedBooks() const noexcept { return m_books; }

private:
    FList<FLogBookRef> m_books;
};

/// Something that logs through an attached book. Starts with a dummy book.
class FLoggable {
public:
    FLoggable();
    FLoggable(FLoggable const&) = delete;
    FLoggable& operator=(FLoggable const&) = delete;

    virtual void onLogBookAttached(FLogBookRef book);
    virtual void onLogBookDetached();
    /// Forwards to the book, when one is attached.
    virtual void writeStream(unsigned char kind, int tag, void const* data, long size);
    virtual ~FLoggable();
    /// Replaces the book (the previous one loses this reference), then calls
    /// onLogBookAttached.
    virtual void attachLogBook(FLogBookRef book);
    /// Leaves no book at all, then calls onLogBookDetached.
    virtual void detachLogBook();
    /// Hands the record to the book, then echoes it on standard error (one
    /// write per line) while the facade's debug messages are on.
    virtual void addLogRecord(FLogRecord const& record);

    /// "Thread[<kernel thread id in hex>]" for the calling thread.
    static FGStr<char> getLogThreadId();
    FLogRecord createLogRecord() const { return FLogRecord(); }

    void setLastError(int op, char const* caller, char const* callee, int code, char const* text);
    /// Uses this loggable's operation number; does nothing while it is 0.
    void setLastError(char const* caller, char const* callee, int code, char const* text);
    bool getLastError(FLogLastErrorRef& out, int op, pthread_t thread);
    bool hasLastError(int op, pthread_t thread);
    FLogLastErrorList getLastThreadErrors(pthread_t thread);
    FLogLastErrorList getLastOpErrors(int op);
    FLogLastErrorList getLastErrors();
    void clearLastError(int op, pthread_t thread);
    void writeStream(unsigned char kind, int tag, TFBinary<unsigned char> const& data);

    int operation() const noexcept { return m_operation; }
    void setOperation(int op) noexcept { m_operation = op; }

protected:
    /// The attached book at this moment (empty when detached). The copy keeps
    /// the book alive while the caller uses it, even if another thread attaches
    /// a new one meanwhile.
    FLogBookRef logBook() const;
    /// What addLogRecord does, with the book already taken (may be empty).
    static void addLogRecordTo(FLogBookRef const& book, FLogRecord const& record);

private:
    // Guards m_book only; held just long enough to copy or swap the reference.
    mutable pthread_mutex_t m_bookLock = PTHREAD_MUTEX_INITIALIZER;
    FLogBookRef m_book;
    int m_operation = 0;
};

} // namespace FSpace
