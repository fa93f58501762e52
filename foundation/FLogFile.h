// Byte streams of the FSpace library and the file stream the file log book
// writes through.
//
// The stream family separates reading (FInStream) from writing (FOutStream) and
// joins them in FStream; FStreamAsync adds operations that run on worker
// threads and report through completion delegates; FStreamEx owns those worker
// threads; FIOGFile<FILE*, char, ...> is the one concrete stream, over a stdio
// file. Results follow the library's file conventions: 0 for success, the
// system's error number or a stdio result otherwise, and -1 for every
// positioning, reading and writing operation while no file is open.
//
// The transaction policy in use is a pseudo lock: no operation of a stream is
// synchronised. A stream shared between threads must be serialised by its
// owner, and an asynchronous read or write must not overlap other use of the
// same stream.
//
// FLogBookFile, the log book that writes the log file, is at the end.
#pragma once

#include <atomic>
#include <cstdio>
#include <pthread.h>

#include "FLog.h"
#include "FType.h"

namespace FSpace {

// ---------------------------------------------------------------------------
// Transaction policy

template <typename TMutex>
class FThreadPseudoLock_T;

/// A lock that does nothing, for objects whose owner serialises them.
template <>
class FThreadPseudoLock_T<pthread_mutex_t> {
public:
    FThreadPseudoLock_T() noexcept = default;
    FThreadPseudoLock_T(FThreadPseudoLock_T const&) = delete;
    FThreadPseudoLock_T& operator=(FThreadPseudoLock_T const&) = delete;
    ~FThreadPseudoLock_T() = default;

    void lock() noexcept {}
    void unlock() noexcept {}
    /// Always succeeds.
    bool tryLock() noexcept { return true; }
};

/// Transaction policy of the stream classes: names the lock type a stream's
/// transactions would use and holds no state of its own.
template <typename TLock>
class TFThreadSafeTransaction {
public:
    using TransactionLock = TLock;
};

/// The policy of every stream in this library.
using FStreamTransaction = TFThreadSafeTransaction<FThreadPseudoLock_T<pthread_mutex_t>>;

// ---------------------------------------------------------------------------
// Delegates and jobs

/// A callable taking three arguments (same layout as FDelegate2).
template <typename R, typename A1, typename A2, typename A3>
class FDelegate3 {
public:
    FDelegate3() = default;
    FDelegate3(FDelegate3 const&) = default;
    FDelegate3& operator=(FDelegate3 const&) = default;

    virtual int ParamCount() const { return 3; }
    /// True when unbound.
    virtual bool operator!() const = 0;
    virtual void* Object() const = 0;
    virtual ~FDelegate3() = default;
    virtual R operator()(A1 a1, A2 a2, A3 a3) = 0;
    virtual FDelegate3* clone() const = 0;
    virtual bool operator==(FDelegate3 const& other) const = 0;
    virtual bool operator==(void const* object) const = 0;
};

/// A callable taking four arguments (same layout as FDelegate2).
template <typename R, typename A1, typename A2, typename A3, typename A4>
class FDelegate4 {
public:
    FDelegate4() = default;
    FDelegate4(FDelegate4 const&) = default;
    FDelegate4& operator=(FDelegate4 const&) = default;

    virtual int ParamCount() const { return 4; }
    /// True when unbound.
    virtual bool operator!() const = 0;
    virtual void* Object() const = 0;
    virtual ~FDelegate4() = default;
    virtual R operator()(A1 a1, A2 a2, A3 a3, A4 a4) = 0;
    virtual FDelegate4* clone() const = 0;
    virtual bool operator==(FDelegate4 const& other) const = 0;
    virtual bool operator==(void const* object) const = 0;
};

/// A callable taking five arguments (same layout as FDelegate2).
template <typename R, typename A1, typename A2, typename A3, typename A4, typename A5>
class FDelegate5 {
public:
    FDelegate5() = default;
    FDelegate5(FDelegate5 const&) = default;
    FDelegate5& operator=(FDelegate5 const&) = default;

    virtual int ParamCount() const { return 5; }
    /// True when unbound.
    virtual bool operator!() const = 0;
    virtual void* Object() const = 0;
    virtual ~FDelegate5() = default;
    virtual R operator()(A1 a1, A2 a2, A3 a3, A4 a4, A5 a5) = 0;
    virtual FDelegate5* clone() const = 0;
    virtual bool operator==(FDelegate5 const& other) const = 0;
    virtual bool operator==(void const* object) const = 0;
};

/// A two-argument delegate bound to one object and one of its member functions
/// returning nothing. The object is not owned and must outlive every call.
template <typename TObject, typename A1, typename A2>
class FDelegator2V : public FDelegate2<void, A1, A2> {
public:
    using Method = void (TObject::*)(A1, A2);

    /// Bound to \p object and \p method; either may be null (unbound).
    FDelegator2V(TObject* object, Method method) noexcept : m_object(object), m_method(method) {}
    FDelegator2V(FDelegator2V const&) = default;
    FDelegator2V& operator=(FDelegator2V const&) = default;

    int ParamCount() const override { return 2; }
    bool operator!() const override { return m_object == nullptr || m_method == nullptr; }
    void* Object() const override { return m_object; }
    ~FDelegator2V() override = default;
    /// Calls the member on the object; an unbound delegate does nothing.
    void operator()(A1 a1, A2 a2) override {
        if (!*this) {
            return;
        }
        (m_object->*m_method)(a1, a2);
    }
    FDelegator2V* clone() const override { return new FDelegator2V(*this); }
    /// Equal when \p other is bound to the same object and member.
    bool operator==(FDelegate2<void, A1, A2> const& other) const override {
        auto const* same = dynamic_cast<FDelegator2V const*>(&other);
        return same != nullptr && same->m_object == m_object && same->m_method == m_method;
    }
    /// True when bound to \p object.
    bool operator==(void const* object) const override { return m_object == object; }

private:
    TObject* m_object;
    Method m_method;
};

/// Something that can be run once or more, for example on a worker thread.
template <typename R>
class FInvokable {
public:
    FInvokable() = default;
    FInvokable(FInvokable const&) = delete;
    FInvokable& operator=(FInvokable const&) = delete;

    virtual R invoke() = 0;
    virtual ~FInvokable() = default;
};

/// A job: a delegate with its stored arguments. invoke() runs execute().
template <typename R>
class FExecutor : public FInvokable<R> {
public:
    FExecutor() = default;

    R invoke() override { return execute(); }
    ~FExecutor() override = default;
    virtual int ParamCount() const = 0;
    /// Calls the delegate with the stored arguments.
    virtual R execute() = 0;
    /// A new job with a copy of the delegate and of the arguments.
    virtual FExecutor* clone() const = 0;
};

/// A job calling a two-argument delegate with two stored arguments. The job owns
/// its delegate; the arguments are stored by value, so a pointer argument stays
/// the caller's and a counted reference keeps its object alive until the job is
/// destroyed.
template <typename A1, typename A2>
class FExecutor2V : public FExecutor<void> {
public:
    using Delegate = FDelegate2<void, A1, A2>;

    /// Takes ownership of \p delegate (which may be null: the job then does nothing).
    FExecutor2V(Delegate* delegate, A1 a1, A2 a2) noexcept : m_delegate(delegate), m_a1(a1), m_a2(a2) {}
    FExecutor2V(FExecutor2V const&) = delete;
    FExecutor2V& operator=(FExecutor2V const&) = delete;

    ~FExecutor2V() override { delete m_delegate; }
    int ParamCount() const override { return 2; }
    void execute() override {
        if (m_delegate != nullptr) {
            (*m_delegate)(m_a1, m_a2);
        }
    }
    FExecutor2V* clone() const override {
        return new FExecutor2V(m_delegate != nullptr ? m_delegate->clone() : nullptr, m_a1, m_a2);
    }

private:
    Delegate* m_delegate;
    A1 m_a1;
    A2 m_a2;
};

// ---------------------------------------------------------------------------
// Worker threads

template <typename THandle>
class FThreadObject_T;

/// The state of a worker-thread object: an attached platform thread and
/// whether a job runs on it. Every field is guarded by the object's recursive
/// mutex; the running flag itself is shared with the thread, which clears it
/// when its job is done, so it is atomic.
template <>
class FThreadObject_T<pthread_t> {
public:
    FThreadObject_T() noexcept;
    FThreadObject_T(FThreadObject_T const&) = delete;
    FThreadObject_T& operator=(FThreadObject_T const&) = delete;
    virtual ~FThreadObject_T();

    /// True while a thread is attached and its job (with the hooks) has not
    /// finished. The flag is set by a successful start and cleared by the
    /// thread once the job is done, or by a successful join.
    bool isRunning() const noexcept;
    /// The most recently started thread, also after it was detached or joined.
    /// Meaningless before the first start.
    pthread_t lastThread() const noexcept;

protected:
    /// Set by a successful start, cleared by the thread after its job (and by join).
    using RunFlag = FRef<std::atomic<bool>, TFRefCounter<int>>;

    mutable FThreadLock_T<pthread_mutex_t> m_lock;
    pthread_t m_thread{};
    bool m_attached = false;
    pthread_t m_threadCopy{};
    RunFlag m_running;
};

template <typename THandle>
class FThread_T;

/// A worker-thread object: runs one job at a time on a new platform thread.
/// The job is owned by the thread object from the call to execute() on and is
/// deleted by the thread after it ran, or at once when no thread could be made.
/// A job must not throw. The hooks and the job run on the new thread in the
/// order before-hook, job, after-hook.
template <>
class FThread_T<pthread_t> : public FThreadObject_T<pthread_t> {
public:
    using Job = FInvokable<void>;
    using Hook = FRef<FInvokable<void>, TFRefCounter<int>>;

    FThread_T() noexcept = default;
    FThread_T(FThread_T const&) = delete;
    FThread_T& operator=(FThread_T const&) = delete;
    /// Detaches a thread that is still attached; its job runs on to its end.
    ~FThread_T() override;

    /// Detaches any attached thread (close()), then starts \p job on a new
    /// thread with default attributes. True when the thread was created; false
    /// when it could not be, in which case \p job has been deleted without
    /// running.
    bool execute(Job* job) noexcept;
    /// As execute(), but only when no job runs (isRunning() false), decided
    /// under the object's mutex; otherwise \p job is deleted and the answer is
    /// false.
    bool executeWhenIdle(Job* job) noexcept;
    /// Waits for the attached thread and forgets it. Clears the running flag
    /// when there was no thread or the wait succeeded. Called on the attached
    /// thread itself it does not wait and answers EDEADLK. Returns 0 or the
    /// error number of the wait.
    int join() noexcept;
    /// Detaches the attached thread and forgets it; the thread runs on.
    void close() noexcept;
    /// Hooks run before and after every later job; empty references for none.
    void setHooks(Hook before, Hook after) noexcept;

private:
    struct StartRecord;
    static void* threadEntry(void* record) noexcept;

    Hook m_before;
    Hook m_after;
};

// ---------------------------------------------------------------------------
// Streams

/// Root of the stream family: positioning and state. Streams are not copied
/// (clone() makes a second stream over the same data).
template <typename T, typename TPolicy>
class FStreamBase : public TPolicy {
public:
    FStreamBase() = default;
    FStreamBase(FStreamBase const&) = delete;
    FStreamBase& operator=(FStreamBase const&) = delete;

    virtual ~FStreamBase() = default;
    /// Size of one item in bytes.
    virtual int ItemSize() = 0;
    /// Size in bytes; the position is kept. -1 when closed.
    virtual long long Size() = 0;
    /// At the beginning (position 0); false when closed.
    virtual bool BOS() = 0;
    /// The end was hit by a read; true when closed.
    virtual bool EOS() = 0;
    /// Byte offset from the start; -1 when closed.
    virtual long long Position() = 0;
    virtual int moveBegin() = 0;
    virtual int moveEnd() = 0;
    /// To \p offset from the start.
    virtual int moveTo(long long offset) = 0;
    /// By \p offset from the current position.
    virtual int move(long long offset) = 0;
    /// 0 closed, 2 readable, 4 writable, 6 both.
    virtual int State() const = 0;
    /// Closes the stream; 0.
    virtual int close() = 0;
    /// Transactions do nothing in this family.
    virtual void beginTransaction() {}
    virtual void endTransaction() {}
};

/// The reading side.
template <typename T, typename TPolicy>
class FInStream : public virtual FStreamBase<T, TPolicy> {
public:
    /// Reads up to \p count items into \p buffer; \p got receives the number
    /// read. Returns 0 when fine, otherwise a non-zero status.
    virtual int read(T* buffer, long count, long& got) = 0;
    /// The number of items read, or -1 on a non-zero status.
    virtual long read(T* buffer, long count) {
        long got = 0;
        return read(buffer, count, got) == 0 ? got : -1;
    }
};

/// The writing side.
template <typename T, typename TPolicy>
class FOutStream : public virtual FStreamBase<T, TPolicy> {
public:
    /// Writes \p count items from \p data; \p written receives the number
    /// written. A negative count means the null-terminated length of \p data.
    /// Returns 0 when fine, otherwise a non-zero status.
    virtual int write(T const* data, long count, long& written) = 0;
    /// The number of items written, or -1 on a non-zero status. A negative
    /// count means the null-terminated length of \p data (0 for null).
    virtual long write(T const* data, long count) {
        if (count < 0) {
            count = 0;
            while (data != nullptr && data[count] != 0) {
                ++count;
            }
        }
        long written = 0;
        return write(data, count, written) == 0 ? written : -1;
    }
};

/// A stream that reads and writes.
template <typename T, typename TPolicy>
class FStream : public virtual FInStream<T, TPolicy>, public virtual FOutStream<T, TPolicy> {
public:
    int ItemSize() override { return static_cast<int>(sizeof(T)); }
    /// A new stream over the same data, owned by the caller; null when none
    /// can be made.
    virtual FStream* clone() = 0;
};

/// Operations that run on a worker thread and report through a completion
/// delegate, which runs on that thread.
template <typename T, typename TPolicy>
class FStreamAsync : public FStream<T, TPolicy> {
public:
    using LongLongDone = FDelegate2<void, FStreamAsync*, long long>;
    using BoolDone = FDelegate2<void, FStreamAsync*, bool>;
    using IntDone = FDelegate2<void, FStreamAsync*, int>;
    using MoveDone = FDelegate3<void, FStreamAsync*, int, long long>;
    /// done(stream, status, count asked for, buffer, items read).
    using ReadDone = FDelegate5<void, FStreamAsync*, int, long, T const*, long>;
    using Bytes = FRef<FArray<T, FAllocation<T>>, TFRefCounter<int>>;
    /// done(stream, status of the last write, data, total written).
    using WriteDone = FDelegate4<void, FStreamAsync*, int, Bytes, long>;

    virtual bool SizeAsync(LongLongDone* done) = 0;
    virtual bool BOSAsync(BoolDone* done) = 0;
    virtual bool EOSAsync(BoolDone* done) = 0;
    virtual bool PositionAsync(LongLongDone* done) = 0;
    virtual bool moveBeginAsync(IntDone* done) = 0;
    virtual bool moveEndAsync(IntDone* done) = 0;
    virtual bool moveToAsync(MoveDone* done, long long offset) = 0;
    virtual bool moveAsync(MoveDone* done, long long offset) = 0;
    virtual bool StateAsync(IntDone* done) = 0;
    virtual bool closeAsync(IntDone* done) = 0;
    virtual bool readAsync(ReadDone* done, long count) = 0;
    virtual bool writeAsync(WriteDone* done, Bytes data) = 0;
};

/// The asynchronous layer with its twelve worker-thread objects. Only reading
/// and writing have an asynchronous form; the other ten operations start
/// nothing.
///
/// A class deriving from this one must call joinWorkers() first thing in its
/// destructor: a running read or write calls the stream's virtual operations.
template <typename T, typename TPolicy>
class FStreamEx : public FStreamAsync<T, TPolicy> {
public:
    using typename FStreamAsync<T, TPolicy>::LongLongDone;
    using typename FStreamAsync<T, TPolicy>::BoolDone;
    using typename FStreamAsync<T, TPolicy>::IntDone;
    using typename FStreamAsync<T, TPolicy>::MoveDone;
    using typename FStreamAsync<T, TPolicy>::ReadDone;
    using typename FStreamAsync<T, TPolicy>::Bytes;
    using typename FStreamAsync<T, TPolicy>::WriteDone;

    FStreamEx() = default;
    ~FStreamEx() override = default;

    /// No asynchronous form: each returns false, starts nothing and never calls
    /// \p done, which stays the caller's.
    bool SizeAsync(LongLongDone*) override { return false; }
    bool BOSAsync(BoolDone*) override { return false; }
    bool EOSAsync(BoolDone*) override { return false; }
    bool PositionAsync(LongLongDone*) override { return false; }
    bool moveBeginAsync(IntDone*) override { return false; }
    bool moveEndAsync(IntDone*) override { return false; }
    bool moveToAsync(MoveDone*, long long) override { return false; }
    bool moveAsync(MoveDone*, long long) override { return false; }
    bool StateAsync(IntDone*) override { return false; }
    bool closeAsync(IntDone*) override { return false; }
    /// Reads \p count items on the read worker into a buffer of its own and
    /// calls done(this, status, count, buffer, got) there; the buffer lives only
    /// during that call. Returns false, starting nothing, while an earlier read
    /// runs or when no thread could be made; \p done then stays the caller's.
    /// On true the stream owns \p done and deletes it after calling it. A null
    /// \p done reads without reporting.
    bool readAsync(ReadDone* done, long count) override;
    /// Writes all of \p data on the write worker, as often as needed, stopping
    /// at the first failure or when nothing more is taken, and calls
    /// done(this, status of the last write, data, total written) there. The job
    /// holds its own reference to \p data. Returns false, starting nothing,
    /// while an earlier write runs or when no thread could be made; \p done then
    /// stays the caller's. On true the stream owns \p done and deletes it after
    /// calling it. A null \p done writes without reporting.
    bool writeAsync(WriteDone* done, Bytes data) override;

protected:
    /// Waits for a running read and write to finish.
    void joinWorkers() noexcept;

private:
    enum Worker {
        SizeWorker,
        BOSWorker,
        EOSWorker,
        PositionWorker,
        MoveBeginWorker,
        MoveEndWorker,
        MoveToWorker,
        MoveWorker,
        StateWorker,
        CloseWorker,
        ReadWorker,
        WriteWorker,
        WorkerCount
    };

    void readRoutine(ReadDone* done, long count);
    void writeRoutine(WriteDone* done, Bytes data);

    FThread_T<pthread_t> m_workers[WorkerCount];
};

extern template class FStreamEx<char, FStreamTransaction>;

template <typename THandle, typename T, typename TPolicy>
class FIOGFile;

/// A stream over a stdio file. Closed after construction; open after a
/// successful open(); opening an open stream closes it first.
///
/// Open modes: 2 reads an existing file ("r"); 4 creates or empties a file
/// for writing ("w"); 6 reads and writes an existing file ("r+"); 8 reads and
/// appends, creating the file when missing ("a+"). Modes 4 and 8 refuse a
/// symbolic link as the last component of the path (ELOOP), so a link planted
/// in a shared folder cannot redirect the output; created files get the
/// permissions 0666 less the umask. Descriptors are closed on exec.
template <>
class FIOGFile<FILE*, char, FStreamTransaction> : public FStreamEx<char, FStreamTransaction> {
public:
    using Stream = FStream<char, FStreamTransaction>;
    using FInStream<char, FStreamTransaction>::read;
    using FOutStream<char, FStreamTransaction>::write;

    enum Mode { ModeRead = 2, ModeWrite = 4, ModeReadWrite = 6, ModeAppend = 8 };

    FIOGFile() noexcept = default;
    FIOGFile(FIOGFile const&) = delete;
    FIOGFile& operator=(FIOGFile const&) = delete;
    /// Waits for a running asynchronous read and write, then closes the file.
    ~FIOGFile() override;

    /// The path narrowed element by element (low 8 bits); otherwise as below.
    virtual int open(wchar_t const* path, int mode);
    /// Closes the stream, then opens \p path with \p mode. 0, or the error
    /// number: EINVAL for a null path or a mode other than 2, 4, 6 and 8. The
    /// stream stays closed on failure.
    virtual int open(char const* path, int mode);
    /// fflush's result; -1 when closed.
    virtual int flush();

    long long Size() override;
    bool BOS() override;
    bool EOS() override;
    long long Position() override;
    int moveBegin() override;
    int moveEnd() override;
    int moveTo(long long offset) override;
    int move(long long offset) override;
    int State() const override;
    int close() override;
    void beginTransaction() override {}
    void endTransaction() override {}
    /// ferror's value after the read (0 when fine); EINVAL for a negative
    /// count or a null buffer with a positive count; -1 when closed.
    int read(char* buffer, long count, long& got) override;
    /// 0 when at least one byte was written, otherwise ferror's value; 0 with
    /// nothing written for a count of 0 or empty data; EINVAL for null data
    /// with a positive count; -1 when closed.
    int write(char const* data, long count, long& written) override;
    /// A second stream on a duplicate of the file descriptor, with the same
    /// flags, sharing the file position with this one. A closed stream gives a
    /// closed stream; null when the duplicate cannot be made.
    Stream* clone() override;

private:
    FILE* m_file = nullptr;
    bool m_readable = false;
    bool m_writable = false;
};

/// The file stream used throughout the library.
using FFileStream = FIOGFile<FILE*, char, FStreamTransaction>;

// ---------------------------------------------------------------------------
// The file log book

/// A log book that ends up on disk: every record becomes one line of the
/// report file (the report layout of FLogRecord::render), written and flushed
/// under the book's lock before add() returns, so a line that was added is in
/// the operating system's hands and lines of concurrent threads never mix.
///
/// The reserved stream file (for binary chunks) is never opened; chunks are
/// dropped.
class FLogBookFile : public virtual FLogBook {
public:
    /// Appends to the report file at \p path (narrowed element by element),
    /// creating it when missing and refusing a symbolic link at its name. A
    /// file that already has content gets "\r\n\r\n" before the new lines.
    /// Throws FException "Report file could not be opened" (place
    /// "FLogBookFile()") when the file cannot be opened.
    explicit FLogBookFile(wchar_t const* path);
    /// A new report file "<home>transfer.<UTC time, '-' for ':'>_p<pid>.report.txt",
    /// emptied when it exists. Throws as above.
    FLogBookFile();
    FLogBookFile(FLogBookFile const&) = delete;
    FLogBookFile& operator=(FLogBookFile const&) = delete;
    /// Closes the report file under the book's lock.
    ~FLogBookFile() override;

    using FLogBook::writeStream;
    void add(FLogRecord const& record) override;
    void writeStream(unsigned char, int, void const*, long) override {}
    /// The last error and its "SetLastError(" line, then a second line with
    /// "Set LastError:", 4294967295, op, caller, callee, code and text.
    void setLastError(int op, char const* caller, char const* callee, int code, char const* text) override;
    bool getSessionTransferLog(FGStr<wchar_t>&) override { return false; }

    /// The name reserved for the stream file.
    FGStr<char> const& streamFileName() const noexcept { return m_streamName; }

private:
    void openReport(char const* path, int mode);

    FFileStream m_report;
    FFileStream m_stream;
    FGStr<char> m_streamName;
};

/// One entry of a stream file: a time stamp (the packed UTC time), the byte and
/// the integer that came with a chunk, and a second integer.
struct FLogBookFileEntry {
    FLogBookFileEntry() noexcept = default;
    /// Stamped with the current time.
    FLogBookFileEntry(unsigned char kind, int tag, int extra) noexcept;

    unsigned long long time = 0;
    unsigned char kind = 0;
    int tag = 0;
    int extra = 0;
};

} // namespace FSpace
