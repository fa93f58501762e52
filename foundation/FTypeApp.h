// The application context: what the FSpace library knows about the running
// process (its arguments, the path of its executable, its process id, the
// thread that built the context and a result code), and the static access to
// the process environment that the system paths use.
//
// Text conversion is element by element: 8-bit arguments, paths and environment
// values are widened by zero extension, wide names keep their low 8 bits. No
// UTF-8 decoding takes place.
//
// A context is filled at construction and read afterwards without a lock. The
// static getEnv functions read the environment without a lock: nothing may
// change the environment at the same time.
#pragma once

#include "FType.h"

#include <pthread.h>

namespace FSpace {

class FAppContext {
public:
    /// No arguments; loadProcessData(), then loadThreadData().
    FAppContext();
    /// loadProcessData(), initArguments(argc, argv), then loadThreadData().
    FAppContext(int argc, char** argv);
    /// Copy result code, main thread, process id, arguments and path.
    FAppContext(FAppContext const& other) = default;
    FAppContext& operator=(FAppContext const& other) = default;
    // No move operations: moving copies.
    virtual ~FAppContext();

    /// Main thread := the calling thread; path := the executable's path
    /// (readlink of /proc/self/exe into a 1024-byte buffer; empty when that
    /// fails or the path does not fit); result code := 0.
    void loadProcessData();
    /// Process id := getpid().
    void loadThreadData() noexcept;
    /// Appends argv[1] .. argv[argc - 1] (widened) to the arguments; nothing for
    /// argc below 2 or a null argv. A null element is stored as empty text. The
    /// list is not cleared first.
    void initArguments(int argc, char** argv);
    void initArguments(int argc, wchar_t** argv);

    long ArgCount() const noexcept { return m_arguments.Count(); }
    /// A copy of argument \p index: a negative index counts from the end (-1 is
    /// the last), an index at or beyond the count gives the last argument.
    /// Empty text when there are no arguments.
    FMStr<wchar_t> Arg(long index) const;
    FGStr<wchar_t> ArgW(long index) const;
    /// The executable's full path; empty when it could not be found.
    FMStr<wchar_t> Path() const { return m_path; }
    /// True on the thread that built (or last loaded) the context.
    bool isMainThread() const noexcept;
    /// The value of the environment variable, widened; empty when it is not set
    /// (or the name is null, or a wide name narrows to a shorter text).
    static FMStr<wchar_t> getEnv(char const* name);
    /// Narrows the name, then as above.
    static FMStr<wchar_t> getEnv(wchar_t const* name);
    static FMStr<wchar_t> getEnv(FMStr<wchar_t> const& name);
    /// The result code.
    operator int() const noexcept { return m_result; }

private:
    int m_result = 0;
    pthread_t m_mainThread{};
    int m_processId = 0;
    FList<FMStr<wchar_t>> m_arguments;
    FMStr<wchar_t> m_path;
};

} // namespace FSpace
