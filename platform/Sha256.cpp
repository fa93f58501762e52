#include "platform/Sha256.h"

#include <cassert>
#include <openssl/evp.h>

namespace platform {

struct Sha256::Context {
    Context() : md(EVP_MD_CTX_new()) {
        // Only allocation can fail here; a digest we cannot compute is our bug.
        [[maybe_unused]] const bool started = md && EVP_DigestInit_ex(md, EVP_sha256(), nullptr) == 1;
        assert(started);
    }
    ~Context() { EVP_MD_CTX_free(md); }
    Context(const Context&) = delete;
    Context& operator=(const Context&) = delete;

    EVP_MD_CTX* md;
};

Sha256::Sha256() : m_context(std::make_unique<Context>()) {}
Sha256::~Sha256() = default;
Sha256::Sha256(Sha256&&) noexcept = default;
Sha256& Sha256::operator=(Sha256&&) noexcept = default;

void Sha256::update(std::string_view bytes) {
    update(bytes.data(), bytes.size());
}

void Sha256::update(const void* data, size_t size) {
    if (size > 0)
        EVP_DigestUpdate(m_context->md, data, size);
}

std::string Sha256::finish() {
    std::string digest(kDigestBytes, '\0');
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->md, reinterpret_cast<unsigned char*>(digest.data()), &length);
    EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr);
    return digest;
}

std::string Sha256::of(std::string_view bytes) {
    Sha256 digest;
    digest.update(bytes);
    return digest.finish();
}

} // namespace platform
