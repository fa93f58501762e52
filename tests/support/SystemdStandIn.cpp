#include "SystemdStandIn.h"

#include "TestSupport.h"

#include "platform/ServiceManager.h"

#include <filesystem>

namespace testsupport {

SystemdStandIn::SystemdStandIn() {
    using platform::ServiceManager;
    if (ServiceManager::systemctlPath() != ServiceManager::kSystemctlPaths[0]) {
        m_problem = "systemd's systemctl is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    m_mount = std::make_unique<BindMount>(QVT_SYSTEMCTL_STANDIN, ServiceManager::systemctlPath());
    if (!m_mount->ok()) {
        m_problem = m_mount->problem();
        return;
    }
    std::filesystem::create_directories("/run/systemd/system");
    std::filesystem::remove_all("/run/qvt-systemctl");
}

SystemdStandIn::~SystemdStandIn() {
    m_mount.reset();
    std::error_code ignored;
    std::filesystem::remove_all("/run/systemd", ignored);
}

std::string SystemdStandIn::calls() {
    return readFile("/run/qvt-systemctl/calls");
}

} // namespace testsupport
