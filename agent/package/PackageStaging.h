// The root-owned copy an install or update works from. A package is named by
// its path, and whoever can write there could change it while the agent reads
// it; so the agent copies it first into a folder only root can reach,
// "<data folder>/staging/package.XXXXXX" (the staging folder is 0700), and
// checks the copy against the package's signed manifest (see
// PackageManifest.h): the manifest's signature by the vendor key, then every
// entry as it is copied, digests computed on the bytes written. Only the
// staged copy is opened, installed and run from afterwards.
//
// Every entry is opened below an open folder with O_NOFOLLOW | O_NONBLOCK and
// checked with fstat on the open descriptor: a FIFO, socket or device is
// refused at once and never waited on, and an entry swapped for a link or
// another kind between listing and opening is refused too. Staged files and
// folders get the manifest's permission bits, not the package's.
#pragma once

#include "platform/Result.h"

#include <string>
#include <string_view>

class PackageStaging {
public:
    PackageStaging() = delete;

    /// Copies the package folder \p packagePath below \p stagingRoot (made 0700
    /// when missing) and verifies it with \p publicKey (raw Ed25519 key). The
    /// staged folder's path; failures are of InstallResult's domain:
    /// PackageMissing, PackageUnsigned, SignatureInvalid, PackageMalformed (a
    /// signed manifest that does not parse), PackageTampered,
    /// PackageIncomplete, PackageExtraEntry, PackageEntryRefused,
    /// PayloadUnreadable, DiskFull or WriteFailed. Nothing staged is left
    /// behind on failure.
    static platform::Result<std::string> stage(const std::string& packagePath, const std::string& stagingRoot,
                                               std::string_view publicKey);

    /// Removes everything below \p stagingRoot: copies a crash left behind.
    static void clear(const std::string& stagingRoot);
};
