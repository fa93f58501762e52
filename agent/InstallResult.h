// The outcome of one package operation of the installer agent: a status number
// that travels to the application as the "status" of "CommandCompleted" (0 on
// success), and a reason in plain words for the agent's log.
#pragma once

#include <string>
#include <utility>

class InstallResult {
public:
    /// Status numbers. They are part of the agent's contract with its clients:
    /// never renumber, only append.
    enum Status : int {
        Success = 0,
        PackageMissing = 1,       ///< no package at the given path, or no PackageInfo in it
        PackageMalformed = 2,     ///< PackageInfo unreadable or invalid, Payload missing, bad script
        UnsafePayload = 3,        ///< a payload entry would land outside the install location
        DowngradeRefused = 4,     ///< Update with a version older than the installed one
        PreinstallFailed = 5,     ///< the preinstall script failed, was killed or timed out
        PostinstallFailed = 6,    ///< the postinstall script failed, was killed or timed out
        DiskFull = 7,             ///< no space left while copying, backing up or writing the receipt
        PayloadUnreadable = 8,    ///< a payload file or folder could not be read
        WriteFailed = 9,          ///< any other failure to write below the install location or data folder
        DestinationConflict = 10, ///< the installed tree has a folder where the payload has a file, or
                                  ///< the other way round, or a folder link leading outside
        ReceiptInvalid = 11,      ///< a receipt could not be read or lists unsafe paths
        NotInstalled = 12,        ///< Uninstall found no receipt: nothing was removed
        Busy = 13,                ///< another package operation is running
        RebootFailed = 14,        ///< the reboot command is misconfigured, could not start or failed
        InternalError = 15,       ///< an unexpected failure inside the agent
        NotPermitted = 16,        ///< the client may not send commands: not root, and holds no grant
        CommandMalformed = 17,    ///< a command key is missing, of the wrong type or out of range
    };

    InstallResult() = default;
    InstallResult(Status status, std::string reason) : m_status(status), m_reason(std::move(reason)) {}
    static InstallResult success() { return {}; }

    InstallResult(const InstallResult&) = default;
    InstallResult& operator=(const InstallResult&) = default;
    InstallResult(InstallResult&&) noexcept = default;
    InstallResult& operator=(InstallResult&&) noexcept = default;
    ~InstallResult() = default;

    Status status() const { return m_status; }
    /// The status as the integer sent with "CommandCompleted".
    int code() const { return static_cast<int>(m_status); }
    bool ok() const { return m_status == Success; }
    /// What failed, in plain words; "success" when nothing did.
    const std::string& reason() const { return m_reason; }
    /// A short fixed name of \p status, e.g. "DiskFull".
    static const char* statusName(Status status);

private:
    Status m_status = Success;
    std::string m_reason = "success";
};
