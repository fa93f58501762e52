#include "agent/package/PackageManifest.h"

#include "platform/Sha256.h"
#include "platform/Signature.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using platform::Failure;
using Entry = PackageManifest::Entry;

bool needsEscape(unsigned char c) {
    return c <= 0x20 || c == 0x7f || c == '%';
}

std::string escaped(std::string_view text) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const unsigned char c : text) {
        if (needsEscape(c)) {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 0xf];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

/// The text \p field stands for; nothing when an escape is malformed, a byte
/// that must be escaped is not, or the result is empty or holds a NUL.
std::optional<std::string> unescaped(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(field[i]);
        if (c != '%') {
            if (needsEscape(c))
                return std::nullopt;
            out += static_cast<char>(c);
            continue;
        }
        if (i + 2 >= field.size())
            return std::nullopt;
        auto byte = platform::Signature::fromHex(field.substr(i + 1, 2));
        if (!byte || byte->size() != 1 || (*byte)[0] == '\0')
            return std::nullopt;
        out += (*byte)[0];
        i += 2;
    }
    if (out.empty())
        return std::nullopt;
    return out;
}

/// True for a relative path without empty, "." or ".." components.
bool plainPath(std::string_view path) {
    if (path.empty() || path.front() == '/' || path.back() == '/')
        return false;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        const std::string_view part = path.substr(start, end - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        start = end + 1;
    }
    return true;
}

std::string_view topOf(std::string_view path) {
    return path.substr(0, path.find('/'));
}

template <typename T>
bool number(std::string_view field, T& into, int base) {
    if (field.empty() || field.size() > 20)
        return false;
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), into, base);
    return error == std::errc() && end == field.data() + field.size();
}

std::vector<std::string_view> fieldsOf(std::string_view line) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= line.size()) {
        size_t end = line.find(' ', start);
        if (end == std::string_view::npos)
            end = line.size();
        fields.push_back(line.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

/// The entry a line describes, with its path; a text saying what is wrong otherwise.
std::optional<std::string> parseLine(std::string_view line, std::string& path, Entry& entry) {
    const auto fields = fieldsOf(line);
    const std::string_view kind = fields[0];
    std::string_view pathField;
    if (kind == "folder" && fields.size() == 3) {
        entry.kind = Entry::Kind::Folder;
        pathField = fields[2];
    } else if (kind == "file" && fields.size() == 5) {
        entry.kind = Entry::Kind::File;
        auto digest = platform::Signature::fromHex(fields[3]);
        if (fields[3].size() != 2 * platform::Sha256::kDigestBytes || !digest)
            return "a malformed digest";
        entry.digest = std::move(*digest);
        if (!number(fields[2], entry.size, 10))
            return "a malformed size";
        pathField = fields[4];
    } else if (kind == "link" && fields.size() == 3) {
        entry.kind = Entry::Kind::Link;
        auto target = unescaped(fields[2]);
        if (!target)
            return "a malformed link target";
        entry.linkTarget = std::move(*target);
        pathField = fields[1];
    } else {
        return "an unknown entry";
    }
    if (entry.kind != Entry::Kind::Link) {
        unsigned mode = 0;
        if (!number(fields[1], mode, 8) || mode > 07777)
            return "a malformed mode";
        entry.mode = static_cast<mode_t>(mode);
    }
    auto decoded = unescaped(pathField);
    if (!decoded || !plainPath(*decoded))
        return "a malformed path";
    path = std::move(*decoded);
    return std::nullopt;
}

} // namespace

platform::Result<PackageManifest> PackageManifest::parse(std::string_view text) {
    if (text.size() > kMaxBytes)
        return Failure{kDomain, EINVAL,
                       "the manifest is larger than " + std::to_string(kMaxBytes) + " bytes"};
    PackageManifest manifest;
    size_t lineNumber = 0;
    size_t start = 0;
    const auto refuse = [&](const std::string& what) {
        return Failure{kDomain, EINVAL, "manifest line " + std::to_string(lineNumber) + ": " + what};
    };
    while (start < text.size()) {
        ++lineNumber;
        const size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            return refuse("no line feed at the end");
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (lineNumber == 1) {
            if (line != kHeader)
                return refuse("not a package manifest");
            continue;
        }
        std::string path;
        Entry entry;
        if (auto wrong = parseLine(line, path, entry))
            return refuse(*wrong);
        const std::string_view top = topOf(path);
        const bool topLevel = top.size() == path.size();
        if (top != "PackageInfo" && top != "Payload" && top != "Scripts")
            return refuse("a path outside PackageInfo, Payload and Scripts");
        if (topLevel && (top == "PackageInfo") != (entry.kind == Entry::Kind::File))
            return refuse("PackageInfo must be a file, Payload and Scripts folders");
        if (manifest.m_entries.count(path))
            return refuse("a path listed twice");
        if (!topLevel) {
            const Entry* parent = manifest.find(path.substr(0, path.rfind('/')));
            if (!parent || parent->kind != Entry::Kind::Folder)
                return refuse("a path whose folder is not listed before it");
        }
        manifest.m_entries.emplace(std::move(path), std::move(entry));
    }
    if (lineNumber == 0)
        return Failure{kDomain, EINVAL, "the manifest is empty"};
    return manifest;
}

std::string PackageManifest::text() const {
    std::string out = std::string(kHeader) + "\n";
    char mode[16];
    for (const auto& [path, entry] : m_entries) {
        std::snprintf(mode, sizeof mode, "%o", static_cast<unsigned>(entry.mode));
        switch (entry.kind) {
        case Entry::Kind::Folder:
            out += std::string("folder ") + mode + " " + escaped(path) + "\n";
            break;
        case Entry::Kind::File:
            out += std::string("file ") + mode + " " + std::to_string(entry.size) + " " +
                   platform::Signature::toHex(entry.digest) + " " + escaped(path) + "\n";
            break;
        case Entry::Kind::Link:
            out += "link " + escaped(path) + " " + escaped(entry.linkTarget) + "\n";
            break;
        }
    }
    return out;
}

void PackageManifest::add(const std::string& path, Entry entry) {
    m_entries[path] = std::move(entry);
}

const PackageManifest::Entry* PackageManifest::find(const std::string& path) const {
    const auto found = m_entries.find(path);
    return found == m_entries.end() ? nullptr : &found->second;
}

namespace {

platform::Result<void> addTree(PackageManifest& manifest, const std::string& root,
                               const std::string& relative) {
    const std::string full = root + "/" + relative;
    struct stat info {};
    if (::lstat(full.c_str(), &info) != 0)
        return Failure{PackageManifest::kDomain, errno, full + ": " + std::strerror(errno)};
    Entry entry;
    entry.mode = info.st_mode & 07777;
    if (S_ISLNK(info.st_mode)) {
        entry.kind = Entry::Kind::Link;
        entry.mode = 0;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(full.c_str(), target.data(), target.size());
        if (length < 0)
            return Failure{PackageManifest::kDomain, errno, full + ": " + std::strerror(errno)};
        target.resize(static_cast<size_t>(length));
        entry.linkTarget = std::move(target);
    } else if (S_ISREG(info.st_mode)) {
        const int fd = ::open(full.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            return Failure{PackageManifest::kDomain, errno, full + ": " + std::strerror(errno)};
        platform::Sha256 digest;
        std::vector<char> buffer(1 << 20);
        ssize_t got = 0;
        while ((got = ::read(fd, buffer.data(), buffer.size())) > 0 || (got < 0 && errno == EINTR)) {
            if (got > 0) {
                digest.update(buffer.data(), static_cast<size_t>(got));
                entry.size += static_cast<uint64_t>(got);
            }
        }
        const int error = errno;
        ::close(fd);
        if (got < 0)
            return Failure{PackageManifest::kDomain, error, full + ": " + std::strerror(error)};
        entry.kind = Entry::Kind::File;
        entry.digest = digest.finish();
    } else if (S_ISDIR(info.st_mode)) {
        entry.kind = Entry::Kind::Folder;
    } else {
        return Failure{PackageManifest::kDomain, EINVAL, full + ": neither a file, a folder nor a link"};
    }
    const bool folder = entry.kind == Entry::Kind::Folder;
    manifest.add(relative, std::move(entry));
    if (!folder)
        return {};
    DIR* listing = ::opendir(full.c_str());
    if (!listing)
        return Failure{PackageManifest::kDomain, errno, full + ": " + std::strerror(errno)};
    std::vector<std::string> names;
    while (const dirent* item = ::readdir(listing))
        if (std::strcmp(item->d_name, ".") != 0 && std::strcmp(item->d_name, "..") != 0)
            names.emplace_back(item->d_name);
    ::closedir(listing);
    for (const auto& name : names)
        if (auto added = addTree(manifest, root, relative + "/" + name); !added)
            return added;
    return {};
}

} // namespace

platform::Result<PackageManifest> PackageManifest::ofFolder(const std::string& folder) {
    PackageManifest manifest;
    for (const char* top : {"PackageInfo", "Payload", "Scripts"}) {
        const bool optional = std::strcmp(top, "PackageInfo") != 0;
        if (optional && ::access((folder + "/" + top).c_str(), F_OK) != 0 && errno == ENOENT)
            continue;
        if (auto added = addTree(manifest, folder, top); !added)
            return added.failure();
    }
    return manifest;
}
