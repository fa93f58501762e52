#include "platform/FileCopy.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

Failure failed(const char* domain, int error) {
    return Failure{domain, error, std::strerror(error)};
}

} // namespace

Result<void> FileCopy::copy(int in, int out, uint64_t size, const std::function<void(uint64_t)>& onChunk) {
    uint64_t done = 0;
    bool kernelCopy = true;
    std::vector<char> buffer;
    while (done < size) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kChunk, size - done));
        ssize_t n = -1;
        if (kernelCopy) {
            n = ::copy_file_range(in, nullptr, out, nullptr, want, 0);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                if (errno == ENOSPC || errno == EDQUOT)
                    return failed(kWriteDomain, errno);
                kernelCopy = false; // not possible here, or an error whose side the plain copy will tell
                continue;
            }
        } else {
            // The first chunk is the largest: one allocation, no larger than the file.
            if (buffer.size() < want)
                buffer.resize(want);
            n = ::read(in, buffer.data(), want);
            if (n < 0) {
                if (errno == EINTR)
                    continue;
                return failed(kReadDomain, errno);
            }
            for (ssize_t written = 0; written < n;) {
                const ssize_t w = ::write(out, buffer.data() + written, static_cast<size_t>(n - written));
                if (w < 0) {
                    if (errno == EINTR)
                        continue;
                    return failed(kWriteDomain, errno);
                }
                written += w;
            }
        }
        if (n == 0)
            return failed(kReadDomain, ENODATA); // the file got shorter while being copied
        done += static_cast<uint64_t>(n);
        if (onChunk)
            onChunk(done);
    }
    return {};
}

} // namespace platform
