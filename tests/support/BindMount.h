// A file mounted over another one for the life of the object, inside the test sandbox's own mount namespace
// (the real system never sees it): a program stand-in on the fixed path the code uses, or /dev/null over a
// program to take it away.
#pragma once

#include <string>

namespace testsupport {

class BindMount {
public:
    /// Mounts \p source over \p target; check ok().
    BindMount(const std::string& source, const std::string& target);
    BindMount(const BindMount&) = delete;
    BindMount& operator=(const BindMount&) = delete;
    /// Unmounts it again.
    ~BindMount();

    bool ok() const { return m_mounted; }
    /// Why the mount failed.
    const std::string& problem() const { return m_problem; }

private:
    std::string m_target;
    std::string m_problem;
    bool m_mounted = false;
};

} // namespace testsupport
