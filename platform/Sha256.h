// SHA-256 digests (OpenSSL's implementation, which uses the processor's SHA
// instructions where there are any).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

class Sha256 {
public:
    static constexpr size_t kDigestBytes = 32;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;
    Sha256(Sha256&&) noexcept;
    Sha256& operator=(Sha256&&) noexcept;

    /// Adds \p bytes to the digested data.
    void update(std::string_view bytes);
    void update(const void* data, size_t size);
    /// The digest of everything added (kDigestBytes raw bytes); the object then
    /// starts over with no data.
    std::string finish();

    /// The digest of \p bytes.
    static std::string of(std::string_view bytes);

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace platform
