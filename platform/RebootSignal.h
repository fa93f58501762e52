// Whether the system itself says it must be restarted, in the distributions'
// own terms rather than by a version number: Debian and Ubuntu packages touch
// /run/reboot-required when an update needs a restart; on Red Hat's family
// `needs-restarting -r` exits with 1 when updated core packages (kernel, glibc,
// systemd, ...) are newer than the running system.
#pragma once

#include <chrono>

namespace platform {

class RebootSignal {
public:
    /// The Debian and Ubuntu flag file.
    static constexpr const char* kRebootRequiredFile = "/run/reboot-required";
    /// Where dnf's and yum's utilities install needs-restarting.
    static constexpr const char* kNeedsRestartingPaths[] = {"/usr/bin/needs-restarting",
                                                            "/bin/needs-restarting"};
    /// needs-restarting reads the package database; a stuck one is given up on.
    static constexpr std::chrono::milliseconds kNeedsRestartingTimeLimit{30000};

    RebootSignal() = delete;

    /// True when kRebootRequiredFile exists, or the first executable of
    /// kNeedsRestartingPaths, run with "-r", exits with 1. Any other outcome of
    /// needs-restarting (missing, failing, timed out) counts as no signal and
    /// is logged. Blocks while needs-restarting runs.
    static bool systemRequiresReboot();
};

} // namespace platform
