// qvt-sign: the vendor's signing tool. Makes Ed25519 key pairs, signs
// installer packages (their manifest, see agent/package/PackageManifest.h) and
// single files (the installer agent), and checks such signatures.
//
//   qvt-sign keygen <secret key file> <public key file>
//   qvt-sign public-key <secret key file> <public key file>
//   qvt-sign package <package folder> <secret key file>
//   qvt-sign file <file> <secret key file>
//   qvt-sign verify-package <package folder> <public key file>
//   qvt-sign verify-file <file> <public key file>
//
// Exit status: 0 done, 1 failed (a line on standard error says why), 64 bad
// command line.
#include "agent/package/PackageManifest.h"
#include "platform/Signature.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::Signature;

constexpr int kFailed = 1;
constexpr int kUsage = 64;

int fail(const std::string& why) {
    std::fprintf(stderr, "qvt-sign: %s\n", why.c_str());
    return kFailed;
}

/// Writes \p text to \p path with \p mode through a temporary file and a rename.
bool writeFile(const std::string& path, const std::string& text, mode_t mode) {
    const std::string temporary = path + ".tmp";
    ::unlink(temporary.c_str());
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0)
        return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) &&
                         ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    return true;
}

bool readFile(const std::string& path, std::string& into) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    into.clear();
    struct stat info {};
    if (::fstat(fd, &info) == 0 && info.st_size > 0)
        into.reserve(static_cast<size_t>(info.st_size));
    char buffer[1 << 16];
    ssize_t got = 0;
    while ((got = ::read(fd, buffer, sizeof buffer)) > 0)
        into.append(buffer, static_cast<size_t>(got));
    ::close(fd);
    return got == 0;
}

platform::Result<std::string> key(const std::string& path, size_t bytes) {
    return Signature::readHexFile(path, bytes);
}

int keygen(const std::string& secretPath, const std::string& publicPath) {
    if (::access(secretPath.c_str(), F_OK) == 0)
        return fail(secretPath + " exists; a key is never overwritten");
    const auto pair = Signature::generate();
    if (!writeFile(secretPath, Signature::toHex(pair.secretKey) + "\n", 0600) ||
        !writeFile(publicPath, Signature::toHex(pair.publicKey) + "\n", 0644))
        return fail("cannot write the keys: " + std::string(std::strerror(errno)));
    return 0;
}

int publicKey(const std::string& secretPath, const std::string& publicPath) {
    const auto secret = key(secretPath, Signature::kSecretKeyBytes);
    if (!secret)
        return fail(secret.failure().description);
    const auto publicHalf = Signature::publicKeyOf(*secret);
    if (!writeFile(publicPath, Signature::toHex(*publicHalf) + "\n", 0644))
        return fail("cannot write " + publicPath + ": " + std::strerror(errno));
    return 0;
}

int signPackage(const std::string& folder, const std::string& secretPath) {
    const auto secret = key(secretPath, Signature::kSecretKeyBytes);
    if (!secret)
        return fail(secret.failure().description);
    const auto manifest = PackageManifest::ofFolder(folder);
    if (!manifest)
        return fail("cannot sign " + folder + ": " + manifest.failure().description);
    const std::string text = manifest->text();
    const auto signature = Signature::sign(text, *secret);
    if (!writeFile(folder + "/" + PackageManifest::kFileName, text, 0644) ||
        !writeFile(folder + "/" + PackageManifest::kSignatureFileName, Signature::toHex(*signature) + "\n",
                   0644))
        return fail("cannot write the manifest of " + folder + ": " + std::strerror(errno));
    return 0;
}

int signFile(const std::string& file, const std::string& secretPath) {
    const auto secret = key(secretPath, Signature::kSecretKeyBytes);
    if (!secret)
        return fail(secret.failure().description);
    std::string content;
    if (!readFile(file, content))
        return fail("cannot read " + file + ": " + std::strerror(errno));
    const auto signature = Signature::signFile(content, *secret);
    if (!writeFile(file + Signature::kFileSignatureSuffix, Signature::toHex(*signature) + "\n", 0644))
        return fail("cannot write the signature of " + file + ": " + std::strerror(errno));
    return 0;
}

/// Checks that \p signatureFile holds a signature of \p content (with \p asFile, of the file whose
/// content it is; see Signature::fileMessage) by the key in \p publicPath.
int verify(const std::string& content, bool asFile, const std::string& signatureFile,
           const std::string& publicPath, const std::string& what) {
    const auto publicHalf = key(publicPath, Signature::kPublicKeyBytes);
    if (!publicHalf)
        return fail(publicHalf.failure().description);
    const auto signature = Signature::readHexFile(signatureFile, Signature::kSignatureBytes);
    if (!signature)
        return fail(what + " is not signed: " + signature.failure().description);
    if (!(asFile ? Signature::verifyFile(content, *signature, *publicHalf)
                 : Signature::verify(content, *signature, *publicHalf)))
        return fail(what + ": the signature is not made with this key, or the content changed");
    return 0;
}

int verifyPackage(const std::string& folder, const std::string& publicPath) {
    std::string text;
    if (!readFile(folder + "/" + PackageManifest::kFileName, text))
        return fail(folder + " has no manifest: " + std::strerror(errno));
    if (const int status =
            verify(text, false, folder + "/" + PackageManifest::kSignatureFileName, publicPath, folder))
        return status;
    const auto listed = PackageManifest::parse(text);
    if (!listed)
        return fail(listed.failure().description);
    const auto actual = PackageManifest::ofFolder(folder);
    if (!actual)
        return fail(actual.failure().description);
    if (!(*actual == *listed))
        return fail(folder + ": the contents differ from the signed manifest");
    return 0;
}

int verifyFile(const std::string& file, const std::string& publicPath) {
    std::string content;
    if (!readFile(file, content))
        return fail("cannot read " + file + ": " + std::strerror(errno));
    return verify(content, true, file + Signature::kFileSignatureSuffix, publicPath, file);
}

int usage() {
    std::fputs("usage: qvt-sign keygen <secret key file> <public key file>\n"
               "       qvt-sign public-key <secret key file> <public key file>\n"
               "       qvt-sign package <package folder> <secret key file>\n"
               "       qvt-sign file <file> <secret key file>\n"
               "       qvt-sign verify-package <package folder> <public key file>\n"
               "       qvt-sign verify-file <file> <public key file>\n",
               stderr);
    return kUsage;
}

} // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (args.size() != 3)
        return usage();
    const std::string& command = args[0];
    if (command == "keygen")
        return keygen(args[1], args[2]);
    if (command == "public-key")
        return publicKey(args[1], args[2]);
    if (command == "package")
        return signPackage(args[1], args[2]);
    if (command == "file")
        return signFile(args[1], args[2]);
    if (command == "verify-package")
        return verifyPackage(args[1], args[2]);
    if (command == "verify-file")
        return verifyFile(args[1], args[2]);
    return usage();
}
