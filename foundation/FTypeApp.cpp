#include "FTypeApp.h"

#include "FSysFile.h"

#include <cstdlib>
#include <unistd.h>

namespace FSpace {

FAppContext::FAppContext() {
    loadProcessData();
    loadThreadData();
}

FAppContext::FAppContext(int argc, char** argv) {
    loadProcessData();
    initArguments(argc, argv);
    loadThreadData();
}

FAppContext::~FAppContext() = default;

void FAppContext::loadProcessData() {
    m_mainThread = ::pthread_self();
    // Replaced, not appended to, so that loading again does not repeat the path.
    m_path.clear();
    char buffer[1024];
    ssize_t const n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    // readlink fills the whole buffer when the path is too long for it.
    if (n > 0 && static_cast<std::size_t>(n) < sizeof buffer) {
        m_path.appendValueOf(buffer, static_cast<long>(n));
    }
    m_result = 0;
}

void FAppContext::loadThreadData() noexcept {
    m_processId = static_cast<int>(::getpid());
}

void FAppContext::initArguments(int argc, char** argv) {
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        FMStr<wchar_t> argument;
        argument.appendValueOf(argv[i]);
        m_arguments.add(argument);
    }
}

void FAppContext::initArguments(int argc, wchar_t** argv) {
    for (int i = 1; argv != nullptr && i < argc; ++i) {
        m_arguments.add(FMStr<wchar_t>(argv[i]));
    }
}

FMStr<wchar_t> FAppContext::Arg(long index) const {
    return m_arguments.isEmpty() ? FMStr<wchar_t>() : m_arguments[index];
}

FGStr<wchar_t> FAppContext::ArgW(long index) const {
    return FGStr<wchar_t>(Arg(index));
}

bool FAppContext::isMainThread() const noexcept {
    return ::pthread_equal(::pthread_self(), m_mainThread) != 0;
}

FMStr<wchar_t> FAppContext::getEnv(char const* name) {
    FMStr<wchar_t> value;
    char const* const text = name == nullptr ? nullptr : std::getenv(name);
    if (text != nullptr) {
        value.appendValueOf(text);
    }
    return value;
}

FMStr<wchar_t> FAppContext::getEnv(wchar_t const* name) {
    // A name with an element of zero low bits would be cut short and read
    // another variable.
    FGStr<char> narrow;
    return FNarrowPath(name, narrow) ? getEnv(static_cast<char const*>(narrow)) : FMStr<wchar_t>();
}

FMStr<wchar_t> FAppContext::getEnv(FMStr<wchar_t> const& name) {
    return getEnv(static_cast<wchar_t const*>(name));
}

} // namespace FSpace
