// systemd as the service manager sees it, inside the test sandbox where systemd cannot run as PID 1: its
// runtime folder /run/systemd/system, and systemctl-standin mounted over systemctl's fixed path; the stand-in
// notes every call in /run/qvt-systemctl/calls and starts and stops the unit's program itself.
#pragma once

#include "BindMount.h"

#include <memory>
#include <string>

namespace testsupport {

class SystemdStandIn {
public:
    /// Mounts the stand-in and makes the runtime folder; check ok().
    SystemdStandIn();
    SystemdStandIn(const SystemdStandIn&) = delete;
    SystemdStandIn& operator=(const SystemdStandIn&) = delete;
    /// Unmounts the stand-in and removes the runtime folder: stop the jobs first.
    ~SystemdStandIn();

    bool ok() const { return m_problem.empty(); }
    const std::string& problem() const { return m_problem; }
    /// The calls so far, one line each ("daemon-reload", "start <unit>", ...).
    static std::string calls();

private:
    std::unique_ptr<BindMount> m_mount;
    std::string m_problem;
};

} // namespace testsupport
