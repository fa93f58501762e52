// The file-system operations of the package engine, each returning a
// platform::Result whose failure code is the errno.
//
// Every change the engine makes to the file system goes through here, so a
// test build can stop the process between any two of them (setChangeHook).
// The engine's temporary files end in ".qvt-new" or ".qvt-restore" and start
// with ".", so recovery recognises and removes them.
#pragma once

#include "platform/Result.h"

#include <string>
#include <sys/types.h>
#include <vector>

class PackageFiles {
public:
    /// Failure domain of the functions below; the code is the errno.
    static constexpr const char* kDomain = "PackageFiles";
    static constexpr const char* kNewSuffix = ".qvt-new";
    static constexpr const char* kRestoreSuffix = ".qvt-restore";

    PackageFiles() = delete;

    /// Test builds only: \p hook runs before every change to the file system
    /// (nullptr: none). Set once, before any operation starts.
    static void setChangeHook(void (*hook)());

    /// The temporary file beside \p path: "<folder>/.<name><suffix>".
    static std::string temporaryBeside(const std::string& path, const char* suffix = kNewSuffix);
    static std::string parentOf(const std::string& path);
    static std::string nameOf(const std::string& path);
    /// The path with every link resolved; empty when it does not exist.
    static std::string realPath(const std::string& path);

    /// Makes \p path and its missing parents with \p mode; the folders made,
    /// outermost first. Fails with ENOTDIR when something else is in the way.
    static platform::Result<std::vector<std::string>> makeFolders(const std::string& path, mode_t mode);
    /// The folders makeFolders(\p path) would make, outermost first; nothing changes.
    static std::vector<std::string> missingFolders(const std::string& path);
    static platform::Result<void> makeFolder(const std::string& path, mode_t mode);
    /// Removes the empty folder \p path; a missing one counts as removed.
    static platform::Result<void> removeFolder(const std::string& path);
    /// Removes the file or link \p path; a missing one counts as removed.
    static platform::Result<void> remove(const std::string& path);
    static platform::Result<void> rename(const std::string& from, const std::string& to);
    /// Creates the new file \p path (mode 0600) for writing; the descriptor.
    static platform::Result<int> create(const std::string& path);
    static platform::Result<void> makeLink(const std::string& target, const std::string& at);
    /// Gives the file \p relative below the open folder \p folder the second
    /// name \p at (a hard link; \p relative's last component is not followed).
    /// Fails with EXDEV when \p at is on another file system.
    static platform::Result<void> linkBelow(int folder, const std::string& relative, const std::string& at);
    /// Removes \p path with everything below it; a missing one counts as removed.
    static platform::Result<void> removeTree(const std::string& path);

    /// Copies the file or link \p from to \p to (which must not exist), keeping
    /// permissions, times and, where allowed, the owner. Read-side failures
    /// carry platform::FileCopy::kReadDomain.
    static platform::Result<void> copyEntry(const std::string& from, const std::string& to);
    /// Puts the copy \p backup back at \p path through a temporary file and a
    /// rename; when there is no room for both, the current \p path goes first.
    static platform::Result<void> restore(const std::string& backup, const std::string& path);
    /// Replaces \p path by \p content: temporary file, fsync, rename, fsync of the folder.
    static platform::Result<void> writeDurably(const std::string& path, const std::string& content);
    /// Makes every change to the file system holding \p path durable (syncfs).
    static platform::Result<void> syncFileSystem(const std::string& path);
    /// Makes the entries of the folder \p path durable (fsync of the folder).
    static platform::Result<void> syncFolder(const std::string& path);
    /// Opens \p relative below the open folder \p folder for reading, following
    /// no link on the way; the descriptor.
    static platform::Result<int> openBelow(int folder, const std::string& relative);
};
