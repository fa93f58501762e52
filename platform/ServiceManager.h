// Privileged jobs: the stand-in for the system's service manager.
//
// Installing ("blessing") a helper for a label, as root:
//   1. read the helper once, through one descriptor, and decide whether it may
//      be installed (below); copy exactly the bytes read beside
//      /usr/local/libexec/<label>, owned by root, mode 0755;
//   2. stop a running job of the label (systemd unit, or the pid in
//      /var/run/<label>.pid) and put the new executable in place, keeping the
//      previous one until the new job answers;
//   3. record the job in /etc/privileged-helpers/<label>.plist (Label, ProgramArguments);
//   4. start it: through systemd (/etc/systemd/system/<label>.service, with
//      systemctl) when systemd runs, otherwise as a detached daemon with
//      /var/run/<label>.pid whose output goes to its console log (below);
//   5. return once it accepts connections on /var/run/<label>.socket.
// When the new job cannot be started or reached, its record and executable are
// removed and the previous job, if there was one, is put back and started
// again: a failed attempt leaves nothing of itself behind.
//
// Blessing the helper that already runs keeps it: when, after step 1 accepted
// the helper, the installed executable holds exactly the bytes read (root's,
// mode 0755), the job record names it, the job runs it (its systemd unit is
// active, or the process in the pid file runs that file) and the job answers
// the caller's VersionProbe with the version embedded in the helper
// ("CFBundleVersion"), nothing is stopped, copied, written or restarted. In
// any other state, a job that accepts connections but does not answer
// included, it is replaced as above. Without a probe it is always replaced.
//
// Which helper may be installed: where the installed agent carries the signing
// key (Signature::kPublicKeyInfoKey in its embedded information list), only a
// helper whose detached signature ("<helper>.sig") that key verifies over the
// bytes read; otherwise failure EBADMSG. Where no agent is installed, or one
// from before signing, the helper the administrator chose to run is trusted,
// unless it or a folder above it can be changed by someone other than root and
// the invoking user (PKEXEC_UID under pkexec, else the real user): failure
// EPERM. Either refusal is logged and changes nothing; a running job goes on.
//
// The console log of a daemon started without systemd, /var/log/<label>.log,
// is used only when it is a regular file owned by root with a single name; a
// link planted there is not followed, and the daemon's output is then
// discarded. One that has reached kConsoleLogRotationSize is moved to
// "<path>.1" before the daemon starts.
//
// A caller without root rights runs these steps through pkexec (its fixed
// path, never one found on PATH), which asks for an administrator's password
// once. Where an agent carrying the signing key is installed, pkexec runs
// that agent, root's own file, so that trusted code checks the new helper:
// `pkexec <installed agent> --bless-job <label> <helper>`; otherwise (a first
// installation, or an agent from before signing) the helper itself:
// `pkexec <helper> --bless-job <label>`. Either calls installAsRoot with the
// helper's path. pkexec's exit status tells what happened: 0 the
// step ran and succeeded, 126 the dialog was dismissed, 127 not authorized
// (pkexec says "Not authorized"), or no authentication agent could ask.
//
// systemctl and pkexec run through ChildProcess, with time limits, so their
// exit status is read correctly even in a process that ignores SIGCHLD, and a
// hanging one ends the call with ETIMEDOUT.
#pragma once

#include "platform/Authorization.h"
#include "platform/PropertyList.h"
#include "platform/Result.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>

namespace platform {

class ServiceManager {
public:
    /// What went wrong, for the caller's error object.
    using Failure = platform::Failure;

    static constexpr const char* kErrorDomain = "ServiceManagerErrorDomain";
    /// How long a started job has to accept connections on its socket.
    static constexpr std::chrono::milliseconds kStartTimeout{5000};
    /// How long one systemctl call may take (a unit's stop is limited to 10 s).
    static constexpr std::chrono::milliseconds kSystemctlTimeLimit{30000};
    /// How long pkexec may take: an administrator types a password meanwhile.
    static constexpr std::chrono::milliseconds kAuthorizationTimeLimit{300000};
    /// Larger helpers are not read.
    static constexpr size_t kMaxHelperSize = size_t{256} << 20;
    /// A console log this large is moved aside before a daemon starts.
    static constexpr size_t kConsoleLogRotationSize = size_t{10} << 20;
    /// Where distributions install systemctl.
    static constexpr const char* kSystemctlPaths[] = {"/usr/bin/systemctl", "/bin/systemctl"};

    /// The time limits in force for systemctl and pkexec.
    struct TimeLimits {
        std::chrono::milliseconds systemctl{kSystemctlTimeLimit};
        std::chrono::milliseconds authorization{kAuthorizationTimeLimit};
    };
    static TimeLimits timeLimits();
    /// Replaces the time limits (kSystemctlTimeLimit and kAuthorizationTimeLimit
    /// until then) for the whole process: for tests, which cannot wait for
    /// the real ones to pass.
    static void setTimeLimits(const TimeLimits& limits);

    /// Asks the running job \p label for its version over its socket; nothing
    /// when it does not answer. The caller brings it, as only the agent link
    /// speaks the agent's protocol.
    using VersionProbe = std::function<std::optional<std::string>(const std::string& label)>;

    ServiceManager() = delete;

    /// Installs the helper at \p helperPath as the privileged job \p label and
    /// waits until it listens. Needs \p authorization to hold the bless right;
    /// without it nothing changes. Through pkexec the failure's code is
    /// Authorization::Canceled when the administrator dismissed the dialog,
    /// Denied when polkit refused, InteractionNotAllowed when nobody could be
    /// asked, and ETIMEDOUT when pkexec outlived its time limit. \p probe lets
    /// a root caller keep the identical job that runs and answers (see above);
    /// through pkexec the root step brings its own.
    static Result<void> bless(const std::string& label, const std::string& helperPath,
                              const Authorization* authorization, const VersionProbe& probe = {});

    /// The installed job's record (Label, ProgramArguments), or nothing when no
    /// job of \p label is installed.
    static std::optional<PropertyList> copyJobDictionary(const std::string& label);

    /// The root side of bless. The caller must be root. A helper refused (see
    /// above) fails with EBADMSG (signature) or EPERM (its location), a helper
    /// that is no regular file with EINVAL, one larger than kMaxHelperSize or
    /// empty with EFBIG. With \p probe, the identical job that runs and answers
    /// with the helper's version is kept (see above).
    static Result<void> installAsRoot(const std::string& label, const std::string& helperPath,
                                      const VersionProbe& probe = {});

    /// Stops the job \p label if it runs, waiting for it to end (not when
    /// \p selfPid is the job itself).
    static void stopJobAsRoot(const std::string& label, pid_t selfPid = 0);

    /// Removes the job record, the installed executable, the unit, the pid
    /// file and the socket of \p label. False when something could not be removed.
    static bool removeJobFilesAsRoot(const std::string& label);

    static std::string installedExecutablePath(const std::string& label);
    static std::string jobRecordPath(const std::string& label);
    static std::string pidFilePath(const std::string& label);
    /// Where a daemon started without systemd writes its standard output and error.
    static std::string consoleLogPath(const std::string& label);
    static std::string socketPath(const std::string& label);
    static std::string unitPath(const std::string& label);

    /// True when systemd manages this system (/run/systemd/system exists).
    static bool systemdRunning();
    /// The first of kSystemctlPaths that is an executable file; empty when none is.
    static std::string systemctlPath();
    /// The systemd unit that runs \p executable as the job \p label.
    static std::string unitText(const std::string& label, const std::string& executable);

    /// True once a connection to the Unix socket at \p path succeeds within \p timeout.
    static bool waitForListener(const std::string& path, std::chrono::milliseconds timeout);
};

} // namespace platform
