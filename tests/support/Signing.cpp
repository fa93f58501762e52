#include "Signing.h"

#include "TestSupport.h"
#include "platform/Signature.h"

#include <fstream>
#include <stdexcept>

namespace testsupport {

namespace {

std::string readKey(const char* path, size_t bytes) {
    auto key = platform::Signature::readHexFile(path, bytes);
    if (!key)
        throw std::runtime_error("the build's signing key is unreadable: " + key.failure().description);
    return *key;
}

} // namespace

std::string signingSecretKeyFile() {
    return QVT_SECRET_KEY_FILE;
}

std::string signingSecretKey() {
    static const std::string key = readKey(QVT_SECRET_KEY_FILE, platform::Signature::kSecretKeyBytes);
    return key;
}

std::string signingPublicKey() {
    static const std::string key = readKey(QVT_PUBLIC_KEY_FILE, platform::Signature::kPublicKeyBytes);
    return key;
}

std::string foreignSecretKey() {
    static const std::string key = platform::Signature::generate().secretKey;
    return key;
}

void signFile(const std::string& path, const std::string& secretKey) {
    const auto signature = platform::Signature::signFile(readFile(path), secretKey);
    if (!signature)
        throw std::runtime_error("not a secret key");
    std::ofstream(path + platform::Signature::kFileSignatureSuffix, std::ios::trunc)
        << platform::Signature::toHex(*signature) << "\n";
}

} // namespace testsupport
