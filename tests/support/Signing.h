// The build's signing key pair (see tools/CMakeLists.txt), for tests that
// make signed packages and helpers, and a key pair no agent trusts.
#pragma once

#include <string>

namespace testsupport {

/// The file of the build's secret key, for the qvt-sign tool.
std::string signingSecretKeyFile();
/// The build's secret key (raw bytes); the tests fail when it cannot be read.
std::string signingSecretKey();
/// The build's public key (raw bytes), the one every agent of this build embeds.
std::string signingPublicKey();
/// A secret key of another vendor, made once per process.
std::string foreignSecretKey();
/// Writes \p path's detached signature ("<path>.sig") made with \p secretKey.
void signFile(const std::string& path, const std::string& secretKey = signingSecretKey());

} // namespace testsupport
