// The signed list of an installer package's contents: every file, folder and
// link of PackageInfo, Payload/ and Scripts/ with its permission bits, and for
// files the size and SHA-256 digest, for links the target. The package carries
// it as "Manifest" beside PackageInfo, and its detached Ed25519 signature (hex,
// see platform::Signature) as "Manifest.sig"; neither lists itself.
//
// The text form, one entry per line, fields separated by one space:
//
//   qvt-package-manifest 1
//   folder 755 Payload
//   file 644 12 <64 hex digits> Payload/README.txt
//   link Payload/current <target>
//
// Paths are relative to the package folder, parents listed before their
// children; a path or target byte that is a control character, a space, '%'
// or 0x7f is written as %XX (two upper-case hex digits). Modes are octal
// permission bits (07777 at most).
#pragma once

#include "platform/Result.h"

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <sys/types.h>

class PackageManifest {
public:
    struct Entry {
        enum class Kind { Folder, File, Link };
        Kind kind = Kind::File;
        mode_t mode = 0;        ///< folders and files
        uint64_t size = 0;      ///< files
        std::string digest;     ///< files: SHA-256, raw bytes
        std::string linkTarget; ///< links
    };

    static constexpr const char* kFileName = "Manifest";
    static constexpr const char* kSignatureFileName = "Manifest.sig";
    static constexpr const char* kHeader = "qvt-package-manifest 1";
    /// Larger manifests are refused unread.
    static constexpr uint64_t kMaxBytes = 16 * 1024 * 1024;
    /// Failure domain of parse(); the code is EINVAL.
    static constexpr const char* kDomain = "PackageManifest";

    PackageManifest() = default;
    PackageManifest(const PackageManifest&) = default;
    PackageManifest& operator=(const PackageManifest&) = default;
    PackageManifest(PackageManifest&&) noexcept = default;
    PackageManifest& operator=(PackageManifest&&) noexcept = default;
    ~PackageManifest() = default;

    /// Reads the text form. Refuses anything else: a wrong header, an unknown
    /// kind, a malformed field, a path that is absolute, has an empty, "." or
    /// ".." component, lies outside PackageInfo, Payload and Scripts, repeats,
    /// or whose parent is not a folder listed before it. The failure names the line.
    static platform::Result<PackageManifest> parse(std::string_view text);
    /// The manifest of the package folder at \p folder, digests computed;
    /// fails (errno code) when something cannot be read or is neither a
    /// regular file, a folder nor a link.
    static platform::Result<PackageManifest> ofFolder(const std::string& folder);

    /// The text form; parse(text()) gives an equal manifest.
    std::string text() const;

    /// Adds or replaces the entry at \p path; the caller keeps parents first.
    void add(const std::string& path, Entry entry);
    const std::map<std::string, Entry>& entries() const { return m_entries; }
    const Entry* find(const std::string& path) const;

    bool operator==(const PackageManifest&) const = default;

private:
    std::map<std::string, Entry> m_entries;
};

inline bool operator==(const PackageManifest::Entry& a, const PackageManifest::Entry& b) {
    return a.kind == b.kind && a.mode == b.mode && a.size == b.size && a.digest == b.digest &&
           a.linkTarget == b.linkTarget;
}
