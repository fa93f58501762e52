// File-system entries of the FSpace library.
//
// TFSysFile<T> is two things in one class template, for T = char (8-bit paths)
// and T = wchar_t (wide paths):
//  - static operations on paths: tests, size and times, copy, move, delete,
//    directories and directory listings, each a thin layer over POSIX;
//  - a small value describing one entry, which caches its size and times.
//
// The wide instantiation hands every path to the system as 8-bit text, element
// by element (each wide element keeps its low 8 bits), and widens names coming
// back from the system by zero extension. A wide path with an element whose low
// 8 bits are zero cannot be passed: it would end the 8-bit path early and name a
// different file. Such a path counts as invalid (EINVAL where an error number is
// returned, otherwise the operation's own failure result).
//
// Result conventions (each operation says which one it uses): 0 is success;
// otherwise the system's error number (errno), the raw -1 of the system call,
// one of the Result constants below, or ResultNotSupported for what this platform
// does not offer. Nothing here throws for a file-system failure.
#pragma once

#include "FType.h"

namespace FSpace {

/// The 8-bit path the system gets for the wide \p path: each element keeps its
/// low 8 bits (null counts as ""). False when an element's low 8 bits are zero:
/// the narrowed path would end early and name another file.
bool FNarrowPath(wchar_t const* path, FGStr<char>& out);

/// A yes/no answer that may be undetermined: 0 no, 1 yes, any other value
/// (the library passes -1) not determined.
using FTRISTATE = int;

template <typename T>
class TFSysFile {
public:
    // Attribute bits.
    static constexpr unsigned long long AttribReadOnly = 0x1;
    static constexpr unsigned long long AttribHidden = 0x2;
    static constexpr unsigned long long AttribSystem = 0x4;
    static constexpr unsigned long long AttribDirectory = 0x10;
    static constexpr unsigned long long AttribArchive = 0x20;
    static constexpr unsigned long long AttribDevice = 0x40;
    static constexpr unsigned long long AttribTemporary = 0x100;
    static constexpr unsigned long long AttribSparseFile = 0x200;
    static constexpr unsigned long long AttribReparsePoint = 0x400;
    static constexpr unsigned long long AttribCompressed = 0x800;
    static constexpr unsigned long long AttribOffline = 0x1000;
    static constexpr unsigned long long AttribNotIndexed = 0x2000;
    static constexpr unsigned long long AttribEncrypted = 0x4000;
    static constexpr unsigned long long AttribOwnerExecute = 0x10000;
    static constexpr unsigned long long AttribOwnerRead = 0x20000;
    static constexpr unsigned long long AttribOwnerWrite = 0x40000;
    static constexpr unsigned long long AttribGroupExecute = 0x100000;
    static constexpr unsigned long long AttribGroupRead = 0x200000;
    static constexpr unsigned long long AttribGroupWrite = 0x400000;
    static constexpr unsigned long long AttribOtherExecute = 0x1000000;
    static constexpr unsigned long long AttribOtherRead = 0x2000000;
    static constexpr unsigned long long AttribOtherWrite = 0x4000000;
    static constexpr unsigned long long AttribSticky = 0x10000000;
    static constexpr unsigned long long AttribSetUID = 0x20000000;
    static constexpr unsigned long long AttribSetGID = 0x40000000;

    // Result codes.
    /// A read or write failed while copying (also: the copy could not be completed on disk).
    static constexpr int ResultError = 0xF000000;
    static constexpr int ResultAccessDenied = 0xF000001;    ///< declared, not produced here
    static constexpr int ResultInvalidPath = 0xF000002;     ///< declared, not produced here
    static constexpr int ResultInvalidFileType = 0xF000003; ///< declared, not produced here
    /// The copy source cannot be opened.
    static constexpr int ResultInvalidSource = 0xF000004;
    /// The copy destination cannot be opened (or is the source itself).
    static constexpr int ResultInvalidDestination = 0xF000005;
    /// What the operations this platform does not support return (0x80000000).
    static constexpr int ResultNotSupported = static_cast<int>(0x80000000u);

    // ---- Static operations; paths are null-terminated (null counts as "") ----

    /// True when stat succeeds.
    static bool exists(T const* path) noexcept;
    /// True for a regular file; false when stat fails.
    static bool isFile(T const* path) noexcept;
    /// True for a directory; false when stat fails.
    static bool isDirectory(T const* path) noexcept;
    /// Size in bytes; all bits set when stat fails.
    static unsigned long long sizeOf(T const* path) noexcept;
    /// 0 with \p time set to the access / modification time (whole seconds);
    /// -1 when stat fails, \p time untouched.
    static int lastAccessTimeOf(T const* path, FTime& time) noexcept;
    static int lastChangeTimeOf(T const* path, FTime& time) noexcept;
    /// Not supported: ResultNotSupported, nothing read or changed.
    static int creationTimeOf(T const* path, FTime& time) noexcept;
    static int getAttributes(T const* path, unsigned long long& attributes) noexcept;
    static int setAttributes(T const* path, unsigned long long attributes) noexcept;
    static int setLastAccessTimeOf(T const* path, FTime const& time) noexcept;
    static int setLastChangeTimeOf(T const* path, FTime const& time) noexcept;
    /// Does nothing and returns 0.
    static int setCreationTimeOf(T const* path, FTime const& time) noexcept;

    /// Copies the bytes of \p source to \p destination (created or truncated);
    /// no permissions, owner or times. 0 on success; ResultInvalidSource when
    /// the source cannot be opened (nothing is created); ResultInvalidDestination
    /// when the destination cannot be opened or is the source file itself
    /// (nothing is changed); ResultError when a read or write fails, in which
    /// case the destination file is removed again (unless it is not a regular
    /// file, such as a device).
    static int copyFile(T const* source, T const* destination) noexcept;
    /// rename: 0, or errno.
    static int moveFile(T const* source, T const* destination) noexcept;
    static int moveDirectory(T const* source, T const* destination) noexcept;
    static int renameDirectory(T const* source, T const* destination) noexcept;
    /// unlink: 0, or errno.
    static int removeFile(T const* path) noexcept;
    /// chdir: 0, or errno.
    static int changeDirectory(T const* path) noexcept;
    /// mkdir with mode 0777 (before the process's creation mask), no parents:
    /// 0, or -1 (not errno).
    static int makeDirectory(T const* path) noexcept;
    /// rmdir (never recursive; \p recursive is ignored): 0, or -1 (not errno).
    static int removeDirectory(T const* path, bool recursive) noexcept;
    /// The working directory (at most 1024 bytes); empty on failure.
    static FMStr<T> getCurrentDirectory() noexcept;
    /// "/".
    static FMStr<T> getCurrentVolume() noexcept;
    /// Appends "/" to \p volumes; 0.
    static int getVolumes(FList<FMStr<T>>& volumes) noexcept;
    /// Text only: one trailing "/" is dropped, then the text before / after the
    /// last "/"; without a "/" both give the whole (trimmed) text. So
    /// "/var/log/x/" gives "/var/log" and "x"; "/a" gives "" and "a"; "a" gives
    /// "a" and "a"; "/" gives "" and "".
    static FMStr<T> getParentOf(T const* path) noexcept;
    static FMStr<T> getNameOf(T const* path) noexcept;
    /// Appends the names in \p path, in the system's order, skipping ".", ".."
    /// and ".DS_Store". 0, or errno when the directory cannot be opened or read
    /// (an empty path names no directory: ENOENT).
    static int readDirectory(T const* path, FList<FMStr<T>>& names) noexcept;
    /// Appends one entry per name in \p path, "." and ".." included, each with
    /// the path "<path>/<name>" (one "/" whether or not \p path ends with one)
    /// and an undetermined directory flag (one stat per entry). 0, or errno.
    static int readDirectory(T const* path, FList<TFSysFile>& entries) noexcept;
    /// Not supported: -1.
    static int readDirectory(T const* path, T const* pattern, FList<TFSysFile>& entries) noexcept;

    // ---- The entry value ----

    /// Stores everything as given. \p directory 0 or 1 is taken as it is; any
    /// other value asks the file system (isDirectory(path)). A size not above 0
    /// and cleared times mean "not determined yet".
    explicit TFSysFile(T const* path, FTRISTATE directory = -1, unsigned long long attributes = 0,
                       long long size = -1, FTime const& created = FTime(), FTime const& accessed = FTime(),
                       FTime const& modified = FTime());
    /// Copies everything but the cached access time, which starts cleared.
    TFSysFile(TFSysFile const& other);
    /// As the copy constructor; the target's cached access time is cleared, as
    /// it belonged to the entry it described before. Self-assignment does
    /// nothing. There are no move operations: moving copies.
    TFSysFile& operator=(TFSysFile const& other);
    ~TFSysFile() = default;

    FMStr<T> Path() const { return m_path; }
    FMStr<T> Name() const { return getNameOf(m_path); }
    FMStr<T> ParentPath() const { return getParentOf(m_path); }
    /// A new entry for ParentPath(), directory flag undetermined, nothing cached.
    TFSysFile Parent() const;
    bool exists() const noexcept { return exists(m_path); }
    /// The directory flag fixed at construction.
    bool isDirectory() const noexcept { return m_directory; }
    /// Not the directory flag; so also true for a path that does not exist.
    bool isFile() const noexcept { return !m_directory; }
    unsigned long long Attributes() const noexcept { return m_attributes; }
    /// The cached size when above 0; otherwise sizeOf(path), cached and returned
    /// (so an empty or missing file asks the file system on every call; a
    /// missing one gives -1).
    long long Size() noexcept;
    /// The stored creation time (never read from the file).
    FTime TimeCreated() const noexcept { return m_created; }
    /// The cached time, first read from the file when it is cleared.
    FTime TimeAccessed() noexcept;
    FTime TimeModified() noexcept;
    /// Clear the cached time (the argument and the file are left alone); 0.
    int TimeCreated(FTime const& time) noexcept;
    int TimeAccessed(FTime const& time) noexcept;
    int TimeModified(FTime const& time) noexcept;
    /// moveFile(path, destination). The entry keeps its old path.
    int moveTo(T const* destination) const noexcept;
    /// moveFile(path, ParentPath() + "/" + name). The entry keeps its old path.
    int renameTo(T const* name) const noexcept;
    /// removeFile(path).
    int remove() const noexcept { return removeFile(m_path); }
    /// The listing's entries whose directory flag is clear / set (so
    /// SubDirectories() holds "." and ".."); empty when the directory cannot be read.
    FList<TFSysFile> Files() const;
    FList<TFSysFile> SubDirectories() const;
    /// The Name() of each entry of Files() / SubDirectories(), in the same order.
    FList<FMStr<T>> FileNames() const;
    FList<FMStr<T>> SubDirNames() const;

private:
    FList<TFSysFile> listing(bool directories) const;
    static FList<FMStr<T>> namesOf(FList<TFSysFile> const& entries);

    FMStr<T> m_path;
    bool m_directory = false;
    unsigned long long m_attributes = 0;
    long long m_size = -1;
    FTime m_created;
    FTime m_accessed;
    FTime m_modified;
};

extern template class TFSysFile<char>;
extern template class TFSysFile<wchar_t>;

} // namespace FSpace
