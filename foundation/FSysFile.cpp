#include "FSysFile.h"

#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace FSpace {

namespace {

/// The 8-bit text the system calls get for \p path (null counts as ""). False
/// for a wide path with an element whose low 8 bits are zero: narrowed, it
/// would end early and name another file.
bool toNative(char const* path, std::string& out) {
    out = path == nullptr ? "" : path;
    return true;
}

bool toNative(wchar_t const* path, std::string& out) {
    FGStr<char> narrow;
    if (!FNarrowPath(path, narrow)) {
        return false;
    }
    out = narrow.isEmpty() ? "" : static_cast<char const*>(narrow);
    return true;
}

template <typename T>
bool statOf(T const* path, struct stat& info) {
    std::string native;
    return toNative(path, native) && ::stat(native.c_str(), &info) == 0;
}

/// A stat time as an FTime: whole seconds from 1970-01-01 00:00:00.000, added
/// as an unsigned 32-bit number.
FTime timeOf(time_t seconds) noexcept {
    FTime time(1970, 1, 1, 0, 0, 0, 0);
    time += static_cast<unsigned int>(seconds);
    return time;
}

/// rename of two paths: 0, or errno.
template <typename T>
int renamePath(T const* source, T const* destination) {
    std::string from;
    std::string to;
    if (!toNative(source, from) || !toNative(destination, to)) {
        return EINVAL;
    }
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

/// A system name as text of the instantiation's type (bytes zero-extended).
template <typename T>
FMStr<T> nameText(char const* name) {
    FMStr<T> text;
    text.appendValueOf(name);
    return text;
}

/// Runs \p onName for every name in the directory \p path (after "/" is
/// appended when missing), in the system's order. 0, or errno.
template <typename T, typename F>
int forEachName(T const* path, F&& onName) {
    std::string dir;
    if (!toNative(path, dir)) {
        return EINVAL;
    }
    if (dir.empty()) {
        return ENOENT; // "" + "/" would list the root directory
    }
    if (dir.back() != '/') {
        dir.push_back('/');
    }
    DIR* const handle = ::opendir(dir.c_str());
    if (handle == nullptr) {
        return errno;
    }
    int result = 0;
    for (;;) {
        errno = 0; // readdir reports an error only through errno
        dirent const* const entry = ::readdir(handle);
        if (entry == nullptr) {
            result = errno;
            break;
        }
        onName(entry->d_name);
    }
    ::closedir(handle);
    return result;
}

} // namespace

bool FNarrowPath(wchar_t const* path, FGStr<char>& out) {
    long const length = FGStr<wchar_t>::length(path);
    out.clear();
    out.appendValueOf(path, length);
    return out.length() == length;
}

// ---------------------------------------------------------------------------
// Tests, size and times

template <typename T>
bool TFSysFile<T>::exists(T const* path) noexcept {
    struct stat info;
    return statOf(path, info);
}

template <typename T>
bool TFSysFile<T>::isFile(T const* path) noexcept {
    struct stat info;
    return statOf(path, info) && S_ISREG(info.st_mode);
}

template <typename T>
bool TFSysFile<T>::isDirectory(T const* path) noexcept {
    struct stat info;
    return statOf(path, info) && S_ISDIR(info.st_mode);
}

template <typename T>
unsigned long long TFSysFile<T>::sizeOf(T const* path) noexcept {
    struct stat info;
    return statOf(path, info) ? static_cast<unsigned long long>(info.st_size) : ~0ULL;
}

template <typename T>
int TFSysFile<T>::lastAccessTimeOf(T const* path, FTime& time) noexcept {
    struct stat info;
    if (!statOf(path, info)) {
        return -1;
    }
    time = timeOf(info.st_atime);
    return 0;
}

template <typename T>
int TFSysFile<T>::lastChangeTimeOf(T const* path, FTime& time) noexcept {
    struct stat info;
    if (!statOf(path, info)) {
        return -1;
    }
    time = timeOf(info.st_mtime);
    return 0;
}

template <typename T>
int TFSysFile<T>::creationTimeOf(T const*, FTime&) noexcept {
    return ResultNotSupported;
}

template <typename T>
int TFSysFile<T>::getAttributes(T const*, unsigned long long&) noexcept {
    return ResultNotSupported;
}

template <typename T>
int TFSysFile<T>::setAttributes(T const*, unsigned long long) noexcept {
    return ResultNotSupported;
}

template <typename T>
int TFSysFile<T>::setLastAccessTimeOf(T const*, FTime const&) noexcept {
    return ResultNotSupported;
}

template <typename T>
int TFSysFile<T>::setLastChangeTimeOf(T const*, FTime const&) noexcept {
    return ResultNotSupported;
}

template <typename T>
int TFSysFile<T>::setCreationTimeOf(T const*, FTime const&) noexcept {
    return 0;
}

// ---------------------------------------------------------------------------
// Copy, move, delete, directories

template <typename T>
int TFSysFile<T>::copyFile(T const* source, T const* destination) noexcept {
    std::string from;
    std::string to;
    if (!toNative(source, from)) {
        return ResultInvalidSource;
    }
    std::FILE* const in = std::fopen(from.c_str(), "rbe");
    if (in == nullptr) {
        return ResultInvalidSource;
    }
    // Opening the source itself as the destination would truncate it before a
    // single byte is read.
    struct stat sourceInfo;
    struct stat destinationInfo;
    bool usable = toNative(destination, to);
    if (usable && ::fstat(::fileno(in), &sourceInfo) == 0 && ::stat(to.c_str(), &destinationInfo) == 0) {
        usable = sourceInfo.st_dev != destinationInfo.st_dev || sourceInfo.st_ino != destinationInfo.st_ino;
    }
    std::FILE* const out = usable ? std::fopen(to.c_str(), "wbe") : nullptr;
    if (out == nullptr) {
        std::fclose(in);
        return ResultInvalidDestination;
    }
    // Only a regular file is removed after a failure; a device opened as the
    // destination stays.
    bool const removable = ::fstat(::fileno(out), &destinationInfo) == 0 && S_ISREG(destinationInfo.st_mode);

    int result = 0;
    char buffer[4096];
    while (result == 0 && !std::feof(in)) {
        std::size_t const got = std::fread(buffer, 1, sizeof buffer, in);
        if (got < sizeof buffer && std::ferror(in)) {
            result = ResultError;
        } else if (std::fwrite(buffer, 1, got, out) < got) {
            result = ResultError;
        }
    }
    // Bytes still buffered are written here; a failure now is a failed copy too.
    if (std::fclose(out) != 0) {
        result = ResultError;
    }
    if (result != 0 && removable) {
        ::unlink(to.c_str());
    }
    std::fclose(in);
    return result;
}

template <typename T>
int TFSysFile<T>::moveFile(T const* source, T const* destination) noexcept {
    return renamePath(source, destination);
}

template <typename T>
int TFSysFile<T>::moveDirectory(T const* source, T const* destination) noexcept {
    return renamePath(source, destination);
}

template <typename T>
int TFSysFile<T>::renameDirectory(T const* source, T const* destination) noexcept {
    return renamePath(source, destination);
}

template <typename T>
int TFSysFile<T>::removeFile(T const* path) noexcept {
    std::string native;
    if (!toNative(path, native)) {
        return EINVAL;
    }
    return ::unlink(native.c_str()) == 0 ? 0 : errno;
}

template <typename T>
int TFSysFile<T>::changeDirectory(T const* path) noexcept {
    std::string native;
    if (!toNative(path, native)) {
        return EINVAL;
    }
    return ::chdir(native.c_str()) == 0 ? 0 : errno;
}

template <typename T>
int TFSysFile<T>::makeDirectory(T const* path) noexcept {
    std::string native;
    return toNative(path, native) && ::mkdir(native.c_str(), 0777) == 0 ? 0 : -1;
}

template <typename T>
int TFSysFile<T>::removeDirectory(T const* path, bool) noexcept {
    std::string native;
    return toNative(path, native) && ::rmdir(native.c_str()) == 0 ? 0 : -1;
}

template <typename T>
FMStr<T> TFSysFile<T>::getCurrentDirectory() noexcept {
    char buffer[1025];
    if (::getcwd(buffer, 1024) == nullptr) {
        return FMStr<T>();
    }
    return nameText<T>(buffer);
}

template <typename T>
FMStr<T> TFSysFile<T>::getCurrentVolume() noexcept {
    return nameText<T>("/");
}

template <typename T>
int TFSysFile<T>::getVolumes(FList<FMStr<T>>& volumes) noexcept {
    volumes.add(getCurrentVolume());
    return 0;
}

// ---------------------------------------------------------------------------
// Parent, name and listings

template <typename T>
FMStr<T> TFSysFile<T>::getParentOf(T const* path) noexcept {
    FStrToken<T> text(path);
    if (!text.isEmpty() && text.at(text.Length() - 1) == T('/')) {
        text = text.left(text.Length() - 1);
    }
    long const slash = text.lastIndexOf(T('/'));
    return FMStr<T>(slash < 0 ? text : text.left(slash));
}

template <typename T>
FMStr<T> TFSysFile<T>::getNameOf(T const* path) noexcept {
    FStrToken<T> text(path);
    if (!text.isEmpty() && text.at(text.Length() - 1) == T('/')) {
        text = text.left(text.Length() - 1);
    }
    long const slash = text.lastIndexOf(T('/'));
    return FMStr<T>(slash < 0 ? text : text.subString(slash + 1));
}

template <typename T>
int TFSysFile<T>::readDirectory(T const* path, FList<FMStr<T>>& names) noexcept {
    return forEachName(path, [&names](char const* name) {
        std::string_view const n(name);
        if (n != "." && n != ".." && n != ".DS_Store") {
            names.add(nameText<T>(name));
        }
    });
}

template <typename T>
int TFSysFile<T>::readDirectory(T const* path, FList<TFSysFile>& entries) noexcept {
    FMStr<T> prefix(path);
    if (prefix.isEmpty() || prefix[-1] != T('/')) {
        prefix << T('/');
    }
    return forEachName(path, [&entries, &prefix](char const* name) {
        entries.il_add(new TFSysFile(prefix + nameText<T>(name), -1));
    });
}

template <typename T>
int TFSysFile<T>::readDirectory(T const*, T const*, FList<TFSysFile>&) noexcept {
    return -1;
}

// ---------------------------------------------------------------------------
// The entry value

template <typename T>
TFSysFile<T>::TFSysFile(T const* path, FTRISTATE directory, unsigned long long attributes, long long size,
                        FTime const& created, FTime const& accessed, FTime const& modified)
    : m_path(path), m_directory(directory == 0 || directory == 1 ? directory == 1 : isDirectory(path)),
      m_attributes(attributes), m_size(size), m_created(created), m_accessed(accessed), m_modified(modified) {
}

template <typename T>
TFSysFile<T>::TFSysFile(TFSysFile const& other)
    : m_path(other.m_path), m_directory(other.m_directory), m_attributes(other.m_attributes),
      m_size(other.m_size), m_created(other.m_created), m_modified(other.m_modified) {}

template <typename T>
TFSysFile<T>& TFSysFile<T>::operator=(TFSysFile const& other) {
    if (this != &other) {
        m_path = other.m_path;
        m_directory = other.m_directory;
        m_attributes = other.m_attributes;
        m_size = other.m_size;
        m_created = other.m_created;
        m_accessed.clear();
        m_modified = other.m_modified;
    }
    return *this;
}

template <typename T>
TFSysFile<T> TFSysFile<T>::Parent() const {
    return TFSysFile(ParentPath(), -1);
}

template <typename T>
long long TFSysFile<T>::Size() noexcept {
    if (m_size <= 0) {
        m_size = static_cast<long long>(sizeOf(m_path));
    }
    return m_size;
}

template <typename T>
FTime TFSysFile<T>::TimeAccessed() noexcept {
    if (m_accessed.isCleared()) {
        lastAccessTimeOf(m_path, m_accessed);
    }
    return m_accessed;
}

template <typename T>
FTime TFSysFile<T>::TimeModified() noexcept {
    if (m_modified.isCleared()) {
        lastChangeTimeOf(m_path, m_modified);
    }
    return m_modified;
}

template <typename T>
int TFSysFile<T>::TimeCreated(FTime const&) noexcept {
    m_created.clear();
    return 0;
}

template <typename T>
int TFSysFile<T>::TimeAccessed(FTime const&) noexcept {
    m_accessed.clear();
    return 0;
}

template <typename T>
int TFSysFile<T>::TimeModified(FTime const&) noexcept {
    m_modified.clear();
    return 0;
}

template <typename T>
int TFSysFile<T>::moveTo(T const* destination) const noexcept {
    return moveFile(m_path, destination);
}

template <typename T>
int TFSysFile<T>::renameTo(T const* name) const noexcept {
    FMStr<T> target = ParentPath();
    target << T('/') << name;
    return moveFile(m_path, target);
}

template <typename T>
FList<TFSysFile<T>> TFSysFile<T>::listing(bool directories) const {
    FList<TFSysFile> entries;
    if (readDirectory(m_path, entries) != 0) {
        return FList<TFSysFile>();
    }
    for (long i = entries.Count() - 1; i >= 0; --i) {
        if (entries[i].m_directory != directories) {
            entries.il_removeAt(i);
        }
    }
    return entries;
}

template <typename T>
FList<FMStr<T>> TFSysFile<T>::namesOf(FList<TFSysFile> const& entries) {
    FList<FMStr<T>> names;
    for (long i = 0; i < entries.Count(); ++i) {
        names.add(entries[i].Name());
    }
    return names;
}

template <typename T>
FList<TFSysFile<T>> TFSysFile<T>::Files() const {
    return listing(false);
}

template <typename T>
FList<TFSysFile<T>> TFSysFile<T>::SubDirectories() const {
    return listing(true);
}

template <typename T>
FList<FMStr<T>> TFSysFile<T>::FileNames() const {
    return namesOf(Files());
}

template <typename T>
FList<FMStr<T>> TFSysFile<T>::SubDirNames() const {
    return namesOf(SubDirectories());
}

template class TFSysFile<char>;
template class TFSysFile<wchar_t>;

} // namespace FSpace
