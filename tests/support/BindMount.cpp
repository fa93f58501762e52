#include "BindMount.h"

#include <cerrno>
#include <cstring>
#include <sys/mount.h>

namespace testsupport {

BindMount::BindMount(const std::string& source, const std::string& target) : m_target(target) {
    if (::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0)
        m_mounted = true;
    else
        m_problem = "cannot mount " + source + " over " + target + ": " + std::strerror(errno);
}

BindMount::~BindMount() {
    if (m_mounted)
        ::umount2(m_target.c_str(), MNT_DETACH);
}

} // namespace testsupport
