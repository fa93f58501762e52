// An error object: a domain, a signed code and a user-information map from text
// keys to texts. Shared as ErrorRef (immutable once made), so it can be handed
// from the thread that noticed a failure to any other.
//
// The agent link makes errors in the domains "IO" (system-level failures) and
// "PH" (protocol failures), always with the key "reason". The application makes
// its own with a localised description under "NSLocalizedDescription".
#pragma once

#include "CNSLog.h"

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>

class Error {
public:
    using UserInfo = std::map<std::string, std::string>;

    static constexpr const char* kReasonKey = "reason";
    static constexpr const char* kLocalizedDescriptionKey = "NSLocalizedDescription";

    Error(std::string domain, int64_t code, UserInfo userInfo = {});

    Error(const Error&) = default;
    Error& operator=(const Error&) = default;
    Error(Error&&) noexcept = default;
    Error& operator=(Error&&) noexcept = default;
    ~Error() = default;

    static std::shared_ptr<const Error> make(std::string domain, int64_t code, UserInfo userInfo = {});
    /// An error whose user information is "reason" = \p reason.
    static std::shared_ptr<const Error> withReason(std::string domain, int64_t code, std::string reason);
    /// An error whose user information is "NSLocalizedDescription" = \p description.
    static std::shared_ptr<const Error> withLocalizedDescription(std::string domain, int64_t code,
                                                                 std::string description);

    const std::string& domain() const { return m_domain; }
    int64_t code() const { return m_code; }
    const UserInfo& userInfo() const { return m_userInfo; }
    std::optional<std::string> userInfoValue(const std::string& key) const;
    /// The "reason" text, empty when there is none.
    std::string reason() const;

    /// The "NSLocalizedDescription" value when present, otherwise
    /// "The operation couldn’t be completed. (<domain> error <code>.)".
    std::string localizedDescription() const;
    /// What "%@" prints: Error Domain=<domain> Code=<code> "<localized
    /// description>" UserInfo={<key>=<value>, …}
    std::string description() const;

private:
    std::string m_domain;
    int64_t m_code;
    UserInfo m_userInfo;
};

using ErrorRef = std::shared_ptr<const Error>;

void OCDescribe(OCTextSink& sink, const Error& error);
/// An empty reference prints "(null)".
void OCDescribe(OCTextSink& sink, const ErrorRef& error);
