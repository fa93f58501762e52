// The outcome of one package operation of the installer agent: a status number
// that travels to the application as the "status" of "CommandCompleted" (0 on
// success), and a reason in plain words for the agent's log.
#pragma once

#include "agentlink/AgentProtocol.h"
#include "platform/Result.h"

#include <string>
#include <utility>

class InstallResult {
public:
    /// The status numbers are the agent protocol's (AgentProtocol::Status);
    /// their names are usable here too, as in InstallResult::Busy.
    using Status = AgentProtocol::Status;
    using enum AgentProtocol::Status;

    InstallResult() = default;
    InstallResult(Status status, std::string reason) : m_status(status), m_reason(std::move(reason)) {}
    static InstallResult success() { return {}; }

    /// The domain of failures that carry an InstallResult: the code is the status.
    static constexpr const char* kDomain = "InstallResult";
    /// The result \p failure stands for: its own status when it is of kDomain,
    /// otherwise \p otherwise with the failure's description.
    static InstallResult from(const platform::Failure& failure, Status otherwise = InternalError);
    /// A file-system failure (\p failure's code an errno) while doing \p what:
    /// DiskFull for ENOSPC and EDQUOT, WriteFailed otherwise; the reason is
    /// \p what and the errno's text.
    static InstallResult writeFailure(const platform::Failure& failure, const std::string& what);
    /// This result as a failure of kDomain; only for a failed result.
    platform::Failure failure() const { return {kDomain, code(), m_reason}; }

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
