// Administrator authorization: the stand-in for the system's authorization
// services, with their status numbers and flags.
//
// Who holds a right:
//  - a process with effective uid 0 holds every right;
//  - otherwise a user name and password given in the environment are checked
//    with PAM, and the user must be root or in the group sudo, wheel or admin;
//  - otherwise, when interaction is allowed, the right is granted for
//    elevation through pkexec (/usr/bin/pkexec, never one found on PATH): the
//    desktop's polkit agent asks for the password when the privileged step
//    runs (ServiceManager), once. Without pkexec, or without interaction, the
//    status says interaction is not possible.
//
// The password is only ever handed to PAM: it never reaches a log line, an
// argument list or a file.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class Authorization {
public:
    /// Status numbers of the authorization services.
    enum : int32_t {
        Success = 0,
        Denied = -60005,
        Canceled = -60006,
        InteractionNotAllowed = -60007,
    };

    /// Flag bits.
    enum : uint32_t {
        FlagInteractionAllowed = 1,
        FlagExtendRights = 2,
        FlagPreAuthorize = 16,
    };

    /// The right to install a privileged helper.
    static constexpr const char* kBlessHelperRight = "com.apple.ServiceManagement.blesshelper";

    /// One item of an authorization environment ("username", "password", "prompt").
    struct Item {
        std::string name;
        std::string value;
        uint32_t flags = 0;
    };
    using Environment = std::vector<Item>;

    /// How the rights this reference holds may be used.
    enum class Elevation {
        None,        ///< no right granted
        AlreadyRoot, ///< the process runs as root
        Verified,    ///< a user name and password were verified
        Pkexec,      ///< a non-root process elevates through pkexec
    };

    Authorization(const Authorization&) = delete;
    Authorization& operator=(const Authorization&) = delete;

    /// Creates a reference. \p environment may be null. Creation itself never
    /// asks anything; it fails only on an unusable environment (an item
    /// without a name).
    static int32_t create(const Environment* environment, uint32_t flags,
                          std::shared_ptr<Authorization>& result);

    /// Obtains \p right for this reference (Success when obtained). An unknown
    /// right is denied.
    int32_t copyRights(const std::string& right, const Environment* environment, uint32_t flags);

    /// True once \p right was obtained through copyRights.
    bool holdsRight(const std::string& right) const;
    Elevation elevation() const { return m_elevation; }
    /// The prompt given at creation or when copying rights, without its line feeds.
    const std::string& prompt() const { return m_prompt; }

    /// The address printed in log lines.
    uintptr_t handle() const { return reinterpret_cast<uintptr_t>(this); }

    /// Checks \p user's \p password with PAM and that the user may administer
    /// this computer. Success, Denied, or InteractionNotAllowed when PAM
    /// cannot be used.
    static int32_t verifyAdministrator(const std::string& user, const std::string& password);

    /// The system's pkexec: the first of kPkexecPaths that is a regular file
    /// owned by root with the set-user-id bit; empty when there is none. It is
    /// never looked up on PATH, so a caller's PATH cannot choose the program
    /// that runs the privileged step.
    static std::string findPkexec();

    /// Where distributions install pkexec.
    static constexpr const char* kPkexecPaths[] = {"/usr/bin/pkexec", "/bin/pkexec"};

private:
    Authorization() = default;

    std::string m_prompt;
    std::vector<std::string> m_rights;
    Elevation m_elevation = Elevation::None;
};

} // namespace platform
