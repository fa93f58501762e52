// Ed25519 signatures (libsodium) of the vendor: the build signs every
// installer package (its manifest, see PackageManifest) and the installer
// agent's executable with the vendor's secret key; the agent carries the
// public key in its embedded information list (key kPublicKeyInfoKey) and
// installs only what that key signed.
//
// A signed file (the agent) has its detached signature beside it, made over
// the file's SHA-256 digest and size (fileMessage). Keys and signatures travel
// as lower-case hexadecimal text: a public key file
// holds 64 hex digits, a secret key file 128 (libsodium's 64-byte secret key:
// seed and public key), a signature file 128, each optionally followed by a
// line feed.
#pragma once

#include "platform/Result.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class Signature {
public:
    static constexpr size_t kPublicKeyBytes = 32;
    static constexpr size_t kSecretKeyBytes = 64;
    static constexpr size_t kSignatureBytes = 64;
    /// The key of an executable's information list that holds the public key (hex).
    static constexpr const char* kPublicKeyInfoKey = "QVTSigningPublicKey";
    /// The detached signature of a signed file lies beside it, named with this suffix.
    static constexpr const char* kFileSignatureSuffix = ".sig";
    static constexpr const char* kErrorDomain = "Signature";

    Signature() = delete;

    struct KeyPair {
        std::string publicKey; ///< kPublicKeyBytes raw bytes
        std::string secretKey; ///< kSecretKeyBytes raw bytes
    };
    /// A new random key pair.
    static KeyPair generate();
    /// The public half of \p secretKey; nothing when it is not a secret key.
    static std::optional<std::string> publicKeyOf(std::string_view secretKey);

    /// The detached signature (kSignatureBytes raw bytes) of \p message;
    /// nothing when \p secretKey is not kSecretKeyBytes long.
    static std::optional<std::string> sign(std::string_view message, std::string_view secretKey);
    /// True only when \p signature is a valid signature of \p message by
    /// \p publicKey; false for any malformed argument.
    static bool verify(std::string_view message, std::string_view signature, std::string_view publicKey);

    /// What is signed for a whole file of \p content (an executable): not the
    /// bytes themselves, which Ed25519 would hash with its slow SHA-512, but
    /// the short text "qvt-signed-file 1 sha256 <hex digest> <size>\n".
    static std::string fileMessage(std::string_view content);
    /// sign(fileMessage(\p content), \p secretKey).
    static std::optional<std::string> signFile(std::string_view content, std::string_view secretKey);
    /// verify(fileMessage(\p content), \p signature, \p publicKey).
    static bool verifyFile(std::string_view content, std::string_view signature, std::string_view publicKey);

    /// \p bytes as lower-case hex digits.
    static std::string toHex(std::string_view bytes);
    /// The bytes \p text spells in hex digits (either case), ignoring one
    /// trailing line feed; nothing for any other character or an odd count.
    static std::optional<std::string> fromHex(std::string_view text);

    /// Reads a hex key or signature file of exactly \p bytes bytes (see
    /// above). Fails with EINVAL when the file holds anything else.
    static Result<std::string> readHexFile(const std::string& path, size_t bytes);
};

} // namespace platform
