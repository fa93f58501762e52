#include "FTransferLog.h"

namespace FSpace {

namespace {

using TransferLogRef = FRef<FTransferLog, TFRefCounter<int>>;

// The process-wide transfer log. The lock is held only to copy or replace the
// reference, so a thread that logs keeps its own share of the transfer log (and
// through it of the book) while it writes, and a removal never pulls either
// away underneath it.
//
// The reference is never destroyed: threads may still log while the process
// exits, and the book stays open until the very end (every line was flushed
// when it was written).
pthread_mutex_t g_theLogLock = PTHREAD_MUTEX_INITIALIZER;
TransferLogRef& g_theLog = *new TransferLogRef();

TransferLogRef theLog() {
    pthread_mutex_lock(&g_theLogLock);
    TransferLogRef log = g_theLog;
    pthread_mutex_unlock(&g_theLogLock);
    return log;
}

} // namespace

FTransferLog::~FTransferLog() = default;

void FTransferLog::useLogBook(FLogBookRef book) {
    if (book) {
        TransferLogRef log = theLog();
        if (log) {
            log->attachLogBook(book);
            return;
        }
        TransferLogRef fresh(new FTransferLog());
        fresh->attachLogBook(book);
        pthread_mutex_lock(&g_theLogLock);
        std::swap(g_theLog, fresh);
        pthread_mutex_unlock(&g_theLogLock);
        return; // `fresh` now holds whatever was installed meanwhile, and drops it
    }
    // Removal drops the process-wide share only. The book is released with the
    // transfer log's last share: at once when nobody is logging, otherwise when
    // the message being written has reached it. (Detaching the book here would
    // let such a message report success and reach no book.)
    TransferLogRef removed;
    pthread_mutex_lock(&g_theLogLock);
    std::swap(g_theLog, removed);
    pthread_mutex_unlock(&g_theLogLock);
}

bool FTransferLog::log(char const* text) {
    TransferLogRef const log = theLog();
    if (!log) {
        return false;
    }
    // One look at the book serves the activity test and the record (this runs
    // for every message of the program). An empty book stops the process, as
    // isInactive() does.
    FLogBookRef const book = log->logBook();
    if (book->isInactive()) {
        return false;
    }
    FLogRecord record;
    record.add(text);
    addLogRecordTo(book, record);
    return true;
}

bool FTransferLog::isOn() {
    TransferLogRef const log = theLog();
    return log && !log->isInactive();
}

bool FTransferLog::isInactive() {
    return logBook()->isInactive();
}

} // namespace FSpace
