// Worker threads, the asynchronous stream layer and the stdio file stream.
#include "FLogFile.h"

#include "FSysFile.h"
#include "FSysInfoPaths.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <string>
#include <unistd.h>
#include <utility>

namespace FSpace {

// ---------------------------------------------------------------------------
// Worker threads

FThreadObject_T<pthread_t>::FThreadObject_T() noexcept = default;

FThreadObject_T<pthread_t>::~FThreadObject_T() = default;

bool FThreadObject_T<pthread_t>::isRunning() const noexcept {
    FThreadLockGuard guard(m_lock);
    return m_attached && m_running && m_running->load();
}

pthread_t FThreadObject_T<pthread_t>::lastThread() const noexcept {
    FThreadLockGuard guard(m_lock);
    return m_threadCopy;
}

// What the new thread needs. It holds its own shares of the hooks and of the
// running flag, so the thread never touches the thread object, which may be
// gone (detached) before the job ends.
struct FThread_T<pthread_t>::StartRecord {
    Hook before;
    Hook after;
    Job* job;
    RunFlag running;
};

FThread_T<pthread_t>::~FThread_T() {
    close();
}

bool FThread_T<pthread_t>::execute(Job* job) noexcept {
    if (job == nullptr) {
        return false;
    }
    close();
    FThreadLockGuard guard(m_lock);
    // The flag is set before the thread exists, so that a job finishing at
    // once cannot have its clearing overwritten.
    RunFlag running(new std::atomic<bool>(true));
    auto* record = new StartRecord{m_before, m_after, job, running};
    pthread_t thread{};
    if (pthread_create(&thread, nullptr, &FThread_T::threadEntry, record) != 0) {
        running->store(false);
        delete record->job;
        delete record;
        return false;
    }
    m_thread = thread;
    m_threadCopy = thread;
    m_attached = true;
    m_running = std::move(running);
    return true;
}

bool FThread_T<pthread_t>::executeWhenIdle(Job* job) noexcept {
    FThreadLockGuard guard(m_lock);
    if (isRunning()) {
        delete job;
        return false;
    }
    return execute(job);
}

int FThread_T<pthread_t>::join() noexcept {
    pthread_t thread{};
    bool attached = false;
    RunFlag running;
    {
        FThreadLockGuard guard(m_lock);
        attached = m_attached;
        thread = m_thread;
        running = m_running;
        if (attached) {
            if (pthread_equal(thread, pthread_self()) != 0) {
                return EDEADLK;
            }
            // Forgotten before the wait: a joined handle must never be
            // detached or joined again. The mutex is not held while waiting,
            // so the job itself may still ask about this object.
            m_attached = false;
        }
    }
    int const result = attached ? pthread_join(thread, nullptr) : 0;
    if (result == 0 && running) {
        running->store(false);
    }
    return result;
}

void FThread_T<pthread_t>::close() noexcept {
    FThreadLockGuard guard(m_lock);
    if (m_attached) {
        pthread_detach(m_thread);
        m_attached = false;
    }
}

void FThread_T<pthread_t>::setHooks(Hook before, Hook after) noexcept {
    FThreadLockGuard guard(m_lock);
    m_before = std::move(before);
    m_after = std::move(after);
}

void* FThread_T<pthread_t>::threadEntry(void* p) noexcept {
    auto* record = static_cast<StartRecord*>(p);
    if (record->before) {
        record->before->invoke();
    }
    record->job->invoke();
    if (record->after) {
        record->after->invoke();
    }
    delete record->job;
    RunFlag running = std::move(record->running);
    delete record;
    running->store(false);
    return nullptr;
}

// ---------------------------------------------------------------------------
// Asynchronous layer

template <typename T, typename TPolicy>
bool FStreamEx<T, TPolicy>::readAsync(ReadDone* done, long count) {
    auto* job = new FExecutor2V<ReadDone*, long>(
        new FDelegator2V<FStreamEx, ReadDone*, long>(this, &FStreamEx::readRoutine), done, count);
    return m_workers[ReadWorker].executeWhenIdle(job);
}

template <typename T, typename TPolicy>
bool FStreamEx<T, TPolicy>::writeAsync(WriteDone* done, Bytes data) {
    auto* job = new FExecutor2V<WriteDone*, Bytes>(
        new FDelegator2V<FStreamEx, WriteDone*, Bytes>(this, &FStreamEx::writeRoutine), done, data);
    return m_workers[WriteWorker].executeWhenIdle(job);
}

template <typename T, typename TPolicy>
void FStreamEx<T, TPolicy>::joinWorkers() noexcept {
    m_workers[ReadWorker].join();
    m_workers[WriteWorker].join();
}

// Runs on the read worker.
template <typename T, typename TPolicy>
void FStreamEx<T, TPolicy>::readRoutine(ReadDone* done, long count) {
    T* buffer = count > 0 ? new (std::nothrow) T[static_cast<std::size_t>(count)] : nullptr;
    long got = 0;
    int const status = count > 0 && buffer == nullptr ? ENOMEM : this->read(buffer, count, got);
    if (done != nullptr) {
        (*done)(this, status, count, buffer, got);
    }
    // Nothing of the stream is touched after the call: the delegate may have
    // destroyed it.
    delete[] buffer;
    delete done;
}

// Runs on the write worker.
template <typename T, typename TPolicy>
void FStreamEx<T, TPolicy>::writeRoutine(WriteDone* done, Bytes data) {
    T const* bytes = data ? data->data() : nullptr;
    long remaining = data ? data->Count() : 0;
    long total = 0;
    int status = 0;
    for (;;) {
        long written = 0;
        status = this->write(bytes + total, remaining, written);
        if (status != 0) {
            break;
        }
        long const before = remaining;
        total += written;
        remaining -= written;
        // A step that took nothing would be repeated for ever.
        if (written <= 0 || before <= written) {
            break;
        }
    }
    if (done != nullptr) {
        (*done)(this, status, data, total);
    }
    delete done;
}

template class FStreamEx<char, FStreamTransaction>;

// ---------------------------------------------------------------------------
// The stdio file stream

FIOGFile<FILE*, char, FStreamTransaction>::~FIOGFile() {
    // The workers first: a running write still uses the file.
    joinWorkers();
    close();
}

int FIOGFile<FILE*, char, FStreamTransaction>::open(wchar_t const* path, int mode) {
    if (path == nullptr) {
        close();
        return EINVAL;
    }
    FGStr<char> narrow;
    if (!FNarrowPath(path, narrow)) {
        close();
        return EINVAL;
    }
    return open(narrow.isEmpty() ? "" : static_cast<char const*>(narrow), mode);
}

int FIOGFile<FILE*, char, FStreamTransaction>::open(char const* path, int mode) {
    close();
    if (path == nullptr) {
        return EINVAL;
    }
    FILE* file = nullptr;
    switch (mode) {
    case ModeRead:
        file = std::fopen(path, "re");
        break;
    case ModeReadWrite:
        file = std::fopen(path, "r+e");
        break;
    case ModeWrite:
    case ModeAppend: {
        // Created files are opened without following a link at the last
        // component, then handed to stdio.
        bool const append = mode == ModeAppend;
        int const flags =
            (append ? O_RDWR | O_CREAT | O_APPEND : O_WRONLY | O_CREAT | O_TRUNC) | O_NOFOLLOW | O_CLOEXEC;
        int const fd = ::open(path, flags, 0666);
        if (fd < 0) {
            return errno;
        }
        file = fdopen(fd, append ? "a+" : "w");
        if (file == nullptr) {
            int const error = errno;
            ::close(fd);
            return error;
        }
        break;
    }
    default:
        return EINVAL;
    }
    if (file == nullptr) {
        return errno;
    }
    m_file = file;
    m_readable = mode != ModeWrite;
    m_writable = mode != ModeRead;
    return 0;
}

int FIOGFile<FILE*, char, FStreamTransaction>::flush() {
    return m_file == nullptr ? -1 : std::fflush(m_file);
}

long long FIOGFile<FILE*, char, FStreamTransaction>::Size() {
    long long const here = Position();
    if (here < 0) {
        return -1;
    }
    moveEnd();
    long long const size = Position();
    moveTo(here);
    return size;
}

bool FIOGFile<FILE*, char, FStreamTransaction>::BOS() {
    return m_file != nullptr && Position() == 0;
}

bool FIOGFile<FILE*, char, FStreamTransaction>::EOS() {
    return m_file == nullptr || std::feof(m_file) != 0;
}

long long FIOGFile<FILE*, char, FStreamTransaction>::Position() {
    return m_file == nullptr ? -1 : static_cast<long long>(ftello(m_file));
}

int FIOGFile<FILE*, char, FStreamTransaction>::moveBegin() {
    return m_file == nullptr ? -1 : fseeko(m_file, 0, SEEK_SET);
}

int FIOGFile<FILE*, char, FStreamTransaction>::moveEnd() {
    return m_file == nullptr ? -1 : fseeko(m_file, 0, SEEK_END);
}

int FIOGFile<FILE*, char, FStreamTransaction>::moveTo(long long offset) {
    return m_file == nullptr ? -1 : fseeko(m_file, static_cast<off_t>(offset), SEEK_SET);
}

int FIOGFile<FILE*, char, FStreamTransaction>::move(long long offset) {
    return m_file == nullptr ? -1 : fseeko(m_file, static_cast<off_t>(offset), SEEK_CUR);
}

int FIOGFile<FILE*, char, FStreamTransaction>::State() const {
    return (m_readable ? 2 : 0) | (m_writable ? 4 : 0);
}

int FIOGFile<FILE*, char, FStreamTransaction>::close() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    m_readable = false;
    m_writable = false;
    return 0;
}

int FIOGFile<FILE*, char, FStreamTransaction>::read(char* buffer, long count, long& got) {
    got = 0;
    if (m_file == nullptr) {
        return -1;
    }
    if (count < 0 || (buffer == nullptr && count > 0)) {
        return EINVAL;
    }
    got = static_cast<long>(std::fread(buffer, 1, static_cast<std::size_t>(count), m_file));
    return std::ferror(m_file);
}

int FIOGFile<FILE*, char, FStreamTransaction>::write(char const* data, long count, long& written) {
    written = 0;
    if (m_file == nullptr) {
        return -1;
    }
    if (count < 0) {
        count = data == nullptr ? 0 : static_cast<long>(std::strlen(data));
    }
    if (count == 0) {
        return 0;
    }
    if (data == nullptr) {
        return EINVAL;
    }
    written = static_cast<long>(std::fwrite(data, 1, static_cast<std::size_t>(count), m_file));
    return written > 0 ? 0 : std::ferror(m_file);
}

FIOGFile<FILE*, char, FStreamTransaction>::Stream* FIOGFile<FILE*, char, FStreamTransaction>::clone() {
    auto* copy = new FIOGFile();
    if (m_file == nullptr) {
        return copy;
    }
    int const fd = fileno(m_file);
    if (fd < 0 || (!m_readable && !m_writable)) {
        delete copy;
        return nullptr;
    }
    // Buffered output reaches the file first, and a reading stream's file
    // offset is brought back to what was consumed, so that both streams go on
    // from the same position.
    std::fflush(m_file);
    int const duplicate = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    char const* mode = m_readable && m_writable ? "r+" : m_readable ? "r" : "w";
    FILE* file = duplicate < 0 ? nullptr : fdopen(duplicate, mode);
    if (file == nullptr) {
        if (duplicate >= 0) {
            ::close(duplicate);
        }
        delete copy;
        return nullptr;
    }
    copy->m_file = file;
    copy->m_readable = m_readable;
    copy->m_writable = m_writable;
    return copy;
}

// ---------------------------------------------------------------------------
// FLogBookFile

void FLogBookFile::openReport(char const* path, int mode) {
    if (m_report.open(path, mode) != 0) {
        throw FException("Report file could not be opened", "FLogBookFile()");
    }
}

FLogBookFile::FLogBookFile(wchar_t const* path) {
    FGStr<char> narrowed;
    if (path != nullptr) {
        narrowed.appendValueOf(path);
    }
    m_streamName = narrowed;
    m_streamName << ".bin";
    openReport(narrowed, FFileStream::ModeAppend);
    long long const size = m_report.Size();
    if (size > 0) {
        m_report.moveEnd();
        m_report.write("\r\n\r\n", -1);
    }
}

FLogBookFile::FLogBookFile() {
    FGStr<char> base = FSysInfoPaths::getHomeFolderA();
    FGStr<char> time = FTime(true).toCString();
    for (long i = 0; i < time.length(); ++i) {
        if (time[i] == ':') {
            time[i] = '-';
        }
    }
    base << "transfer." << time << "_p" << static_cast<int>(getpid());
    m_streamName = base;
    m_streamName << ".stream.bin";
    FGStr<char> report = base;
    report << ".report.txt";
    openReport(report, FFileStream::ModeWrite);
}

FLogBookFile::~FLogBookFile() {
    lock();
    m_report.close();
    unlock();
}

void FLogBookFile::add(FLogRecord const& record) {
    // Rendered before the lock is taken: only the write and the flush are
    // serialised.
    FLogLine line;
    record.render(FLogLayout::Report, FLogLinePrefix(), line);
    lock();
    long written = 0;
    m_report.write(line.data(), line.Length(), written);
    m_report.flush();
    unlock();
}

void FLogBookFile::setLastError(int op, char const* caller, char const* callee, int code, char const* text) {
    FLogBook::setLastError(op, caller, callee, code, text);
    FLogRecord record;
    record.add("Set LastError:").add(4294967295u).add(op).add(caller).add(callee).add(code).add(text);
    add(record);
}

FLogBookFileEntry::FLogBookFileEntry(unsigned char kind, int tag, int extra) noexcept
    : time(static_cast<unsigned long long>(FTime(true))), kind(kind), tag(tag), extra(extra) {}

} // namespace FSpace
