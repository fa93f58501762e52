#include "platform/Signature.h"

#include "platform/Sha256.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sodium.h>
#include <unistd.h>

namespace platform {

namespace {

/// libsodium must be initialised once before its random numbers are used;
/// sodium_init() is safe to call from several threads.
bool sodiumReady() {
    static const bool ready = sodium_init() >= 0;
    return ready;
}

const unsigned char* bytes(std::string_view text) {
    return reinterpret_cast<const unsigned char*>(text.data());
}

} // namespace

Signature::KeyPair Signature::generate() {
    sodiumReady();
    KeyPair pair{std::string(kPublicKeyBytes, '\0'), std::string(kSecretKeyBytes, '\0')};
    crypto_sign_keypair(reinterpret_cast<unsigned char*>(pair.publicKey.data()),
                        reinterpret_cast<unsigned char*>(pair.secretKey.data()));
    return pair;
}

std::optional<std::string> Signature::publicKeyOf(std::string_view secretKey) {
    if (secretKey.size() != kSecretKeyBytes)
        return std::nullopt;
    std::string publicKey(kPublicKeyBytes, '\0');
    crypto_sign_ed25519_sk_to_pk(reinterpret_cast<unsigned char*>(publicKey.data()), bytes(secretKey));
    return publicKey;
}

std::optional<std::string> Signature::sign(std::string_view message, std::string_view secretKey) {
    if (secretKey.size() != kSecretKeyBytes)
        return std::nullopt;
    std::string signature(kSignatureBytes, '\0');
    crypto_sign_detached(reinterpret_cast<unsigned char*>(signature.data()), nullptr, bytes(message),
                         message.size(), bytes(secretKey));
    return signature;
}

bool Signature::verify(std::string_view message, std::string_view signature, std::string_view publicKey) {
    if (signature.size() != kSignatureBytes || publicKey.size() != kPublicKeyBytes)
        return false;
    return crypto_sign_verify_detached(bytes(signature), bytes(message), message.size(), bytes(publicKey)) ==
           0;
}

std::string Signature::fileMessage(std::string_view content) {
    return "qvt-signed-file 1 sha256 " + toHex(Sha256::of(content)) + " " + std::to_string(content.size()) +
           "\n";
}

std::optional<std::string> Signature::signFile(std::string_view content, std::string_view secretKey) {
    return sign(fileMessage(content), secretKey);
}

bool Signature::verifyFile(std::string_view content, std::string_view signature, std::string_view publicKey) {
    return verify(fileMessage(content), signature, publicKey);
}

std::string Signature::toHex(std::string_view raw) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(raw.size() * 2);
    for (const unsigned char byte : raw) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xf];
    }
    return text;
}

std::optional<std::string> Signature::fromHex(std::string_view text) {
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    if (text.size() % 2 != 0)
        return std::nullopt;
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string raw;
    raw.reserve(text.size() / 2);
    for (size_t i = 0; i < text.size(); i += 2) {
        const int high = digit(text[i]);
        const int low = digit(text[i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        raw += static_cast<char>(high << 4 | low);
    }
    return raw;
}

Result<std::string> Signature::readHexFile(const std::string& path, size_t size) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return Failure{kErrorDomain, errno, path + ": " + std::strerror(errno)};
    // Room for one byte too many, so an over-long file is noticed.
    std::string text(size * 2 + 2, '\0');
    size_t length = 0;
    while (length < text.size()) {
        const ssize_t got = ::read(fd, text.data() + length, text.size() - length);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            break;
        length += static_cast<size_t>(got);
    }
    ::close(fd);
    text.resize(length);
    std::optional<std::string> raw = fromHex(text);
    if (!raw || raw->size() != size)
        return Failure{kErrorDomain, EINVAL,
                       path + ": not a key or signature of " + std::to_string(size) + " bytes in hex"};
    return std::move(*raw);
}

} // namespace platform
