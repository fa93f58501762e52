// The one way this project copies a file's bytes: from one open descriptor to
// another, in the kernel where it can (copy_file_range), by read and write
// where it cannot (across file systems on old kernels, pipes, ...).
#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <functional>

namespace platform {

class FileCopy {
public:
    /// Failure domains: which side of the copy failed. The code is the errno.
    static constexpr const char* kReadDomain = "FileCopyReadDomain";
    static constexpr const char* kWriteDomain = "FileCopyWriteDomain";
    /// Bytes per step, and so how often onChunk is called.
    static constexpr size_t kChunk = 1 << 20;

    FileCopy() = delete;

    /// Copies \p size bytes from the current offset of \p in to that of \p out,
    /// calling \p onChunk with the bytes done so far after each step. A source
    /// that ends early (it shrank while being copied) fails on the read side
    /// with ENODATA; a full disk fails on the write side with ENOSPC or EDQUOT.
    static Result<void> copy(int in, int out, uint64_t size,
                             const std::function<void(uint64_t done)>& onChunk = {});
};

} // namespace platform
