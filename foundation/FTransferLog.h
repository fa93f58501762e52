// The bridge from the logging facade to the log books.
//
// The facade holds no book itself. At start-up it installs one process-wide
// book with FTransferLog::useLogBook; every message then goes through
// FTransferLog::log, which makes it a one-value record and hands it to that
// book. With no book installed, log answers false and the facade falls back to
// the system log or the console.
//
// Books may be installed, replaced or removed while other threads log: a
// message that is being written goes whole to the book that was installed
// when it started, and that book lives until the message is written.
#pragma once

#include "FLog.h"

namespace FSpace {

class FTransferLog : public FLoggable {
public:
    FTransferLog(FTransferLog const&) = delete;
    FTransferLog& operator=(FTransferLog const&) = delete;
    ~FTransferLog() override;

    /// Installs \p book as the process-wide book (the transfer log is made on
    /// first use and keeps the only long-lived reference to it), replaces the
    /// installed one (which loses that reference), or, for an empty reference,
    /// removes it.
    static void useLogBook(FLogBookRef book);
    /// Adds \p text (the pointer only; a null text renders empty) as a
    /// one-value record. False when no book is installed or it is inactive;
    /// true otherwise, whatever the book did with the record.
    static bool log(char const* text);
    /// A book is installed and active.
    static bool isOn();
    /// The attached book's answer. A transfer log without a book is a broken
    /// invariant and stops the process.
    bool isInactive();

private:
    FTransferLog() = default;
};

} // namespace FSpace
