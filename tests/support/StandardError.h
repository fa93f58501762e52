// Reading what code under test writes to standard error: the one way every test binary does it. Header-only,
// so the foundation tests use it without linking the rest of the test support.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {
namespace detail {

inline std::string readAll(FILE* file) {
    std::string content;
    if (file == nullptr)
        return content;
    std::rewind(file);
    char buffer[8192];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        content.append(buffer, n);
    std::fclose(file);
    return content;
}

} // namespace detail

/// Runs \p body with standard error going to a temporary file and returns what arrived there.
inline std::string captureStandardError(const std::function<void()>& body) {
    FILE* file = std::tmpfile();
    const int saved = file != nullptr ? ::dup(STDERR_FILENO) : -1;
    EXPECT_GE(saved, 0) << "cannot redirect standard error";
    if (saved >= 0)
        ::dup2(::fileno(file), STDERR_FILENO);
    body();
    if (saved >= 0) {
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
    }
    return detail::readAll(file);
}

/// As captureStandardError, but runs \p body in a forked child, so that what it changes process-wide for good
/// (the logging facade's set-up) stays away from the other tests. The child must end normally.
inline std::string standardErrorOfChild(const std::function<void()>& body) {
    FILE* file = std::tmpfile();
    const pid_t child = file != nullptr ? ::fork() : -1;
    if (child == 0) {
        ::dup2(::fileno(file), STDERR_FILENO);
        try {
            body();
        } catch (...) {
            ::_exit(2); // never unwind into the test runner's copy in the child
        }
        ::_exit(0);
    }
    int status = 0;
    EXPECT_TRUE(child > 0 && ::waitpid(child, &status, 0) == child && WIFEXITED(status) &&
                WEXITSTATUS(status) == 0)
        << "child " << child << " status " << status;
    return detail::readAll(file);
}

} // namespace testsupport
