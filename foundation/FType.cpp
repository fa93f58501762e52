#include "FType.h"

#include <cstdio>
#include <cstdlib>

namespace FSpace {

// ---------------------------------------------------------------------------
// Exceptions

FException& FException::operator=(FException const& other) noexcept {
    if (this != &other) {
        m_what = other.m_what;
        m_where = other.where();
        m_why = other.why();
    }
    return *this;
}

char const* FException::what() const noexcept {
    return m_what != nullptr ? m_what : "";
}

FXCNotImplemented::FXCNotImplemented(char const* where, char const* why) noexcept
    : FException(1025, "Not implemented", where, why) {}

FXCOutOfBounds::FXCOutOfBounds(char const* where, char const* why) noexcept
    : FException(1026, "Out of bounds", where, why) {}

// ---------------------------------------------------------------------------
// Threads

FThreadLock_T<pthread_mutex_t>::FThreadLock_T() noexcept {
    pthread_mutexattr_t attributes;
    pthread_mutexattr_init(&attributes);
    pthread_mutexattr_settype(&attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&m_mutex, &attributes);
    pthread_mutexattr_destroy(&attributes);
}

FThreadLock_T<pthread_mutex_t>::~FThreadLock_T() {
    pthread_mutex_destroy(&m_mutex);
}

void FThreadLock_T<pthread_mutex_t>::lock() noexcept {
    pthread_mutex_lock(&m_mutex);
}

void FThreadLock_T<pthread_mutex_t>::unlock() noexcept {
    pthread_mutex_unlock(&m_mutex);
}

bool FThreadLock_T<pthread_mutex_t>::tryLock() noexcept {
    return pthread_mutex_trylock(&m_mutex) == 0;
}

// ---------------------------------------------------------------------------
// Debug facility

FArray<void*, FAllocationBuf<void*>> g_eventregistrations;
FThreadLock_T<pthread_mutex_t> g_eventreg_cs;
FExceptionHandlerRef g_ref_Exception_Handler_Delegate;

void f_dbg_error(char const* expression, char const* file, unsigned int line, bool fatal) {
    std::printf("%s - File: %s - Line: %u\n", expression != nullptr ? expression : "",
                file != nullptr ? file : "", line);
    std::fflush(stdout);
    if (fatal) {
        std::abort();
    }
}

void f_dbg_breakpoint() noexcept {}

void f_dbg_trace(char const*) noexcept {}

namespace {

long findRegistration(void* p) noexcept {
    for (long i = 0; i < g_eventregistrations.Count(); ++i) {
        if (g_eventregistrations.data()[i] == p) {
            return i;
        }
    }
    return -1;
}

} // namespace

void f_dbg_add_eventreg(void* p) {
    FThreadLockGuard guard(g_eventreg_cs);
    g_eventregistrations.add(p);
}

void f_dbg_rem_eventreg(void* p) {
    long index;
    {
        FThreadLockGuard guard(g_eventreg_cs);
        index = findRegistration(p);
        if (index >= 0) {
            g_eventregistrations.remove(index, 1);
        }
    }
    if (index < 0) {
        throw -1;
    }
}

void f_dbg_check_eventreg(void* p) {
    long index;
    {
        FThreadLockGuard guard(g_eventreg_cs);
        index = findRegistration(p);
    }
    if (index >= 0) {
        throw -1;
    }
}

void g_setExceptionHandler(FExceptionHandlerRef handler) noexcept {
    g_ref_Exception_Handler_Delegate = handler;
}

// ---------------------------------------------------------------------------
// Objects

FDispatchable<FThreadLock_T<pthread_mutex_t>>::~FDispatchable() {
    m_lock.lock();
    for (long i = m_methods.Count() - 1; i >= 0; --i) {
        delete m_methods[i];
    }
    m_methods.il_removeAll();
    m_lock.unlock();
}

void FDispatchable<FThreadLock_T<pthread_mutex_t>>::addInvokableMethod(FInvokableMethod* method) {
    FThreadLockGuard guard(m_lock);
    m_methods.add(method);
}

FInvokableMethod* FDispatchable<FThreadLock_T<pthread_mutex_t>>::findInvokable(char const* name,
                                                                               long& index) {
    FThreadLockGuard guard(m_lock);
    for (long i = 0; i < m_methods.Count(); ++i) {
        if (m_methods[i]->name() == name) {
            index = i;
            return m_methods[i];
        }
    }
    throw FInvalidOperationException();
}

// ---------------------------------------------------------------------------
// Libraries

FLibraryResource::FLibraryResource(wchar_t const* library, wchar_t const* resource)
    : m_library(library), m_resource(resource) {}

FLibraryResource::~FLibraryResource() = default;

int FLibrary::load(wchar_t const*, wchar_t const*, int (*&entry)()) noexcept {
    entry = nullptr;
    return 0;
}

void FLibrary::clone(int (*)()) noexcept {}

void FLibrary::release(wchar_t const*, wchar_t const*) noexcept {}

void FLibrary::release(int (*)()) noexcept {}

} // namespace FSpace
