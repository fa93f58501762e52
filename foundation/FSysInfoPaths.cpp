#include "FSysInfoPaths.h"

#include "FSysFile.h"
#include "FTypeApp.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace FSpace {

namespace {

/// The log directory set by setUserLogDirW, ending in "/"; empty while the
/// default applies. Written at start-up, read afterwards without a lock.
FGStr<wchar_t> customLogDirW;

/// The name of the default log folder inside the home folder.
constexpr wchar_t kDefaultLogFolder[] = L"QvLogs";
constexpr wchar_t kDefaultTempFolder[] = L"/tmp";

/// The environment variable's value, or \p fallback when it is unset or empty,
/// ending in "/".
FMStr<wchar_t> folderFrom(char const* variable, wchar_t const* fallback) {
    FMStr<wchar_t> folder = FAppContext::getEnv(variable);
    if (folder.isEmpty()) {
        folder = fallback;
    }
    if (folder[-1] != L'/') {
        folder << L'/';
    }
    return folder;
}

FGStr<char> narrowed(wchar_t const* text) {
    FGStr<char> narrow;
    narrow.appendValueOf(text);
    return narrow;
}

/// Whether the existing \p dir may hold the log: a real directory (not a
/// symbolic link to one) owned by root or by the effective user. A directory
/// this process has just \p created is made sticky and world-writable first.
/// Checked and changed through one descriptor, so the path cannot be swapped
/// in between.
bool acceptLogDirectory(wchar_t const* dir, bool created) {
    FGStr<char> path = narrowed(dir);
    // With a trailing "/" the last component would be followed even if it is a link.
    while (path.length() > 1 && path[-1] == '/') {
        path.remove(-1, 1);
    }
    int const fd = ::open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    bool accepted =
        ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && (info.st_uid == 0 || info.st_uid == ::geteuid());
    if (accepted && created) {
        // After creation, so the creation mask cannot take bits away.
        accepted = ::fchmod(fd, 01777) == 0;
    }
    ::close(fd);
    return accepted;
}

} // namespace

int FSysInfoPaths::getKeys(FSysInfoKeyMap& out) const {
    out.add(FSysInfoPath_Paths, FSysInfoPath_NPaths);
    out.add(FSysInfoPath_Paths_HomeFolder, FSysInfoPath_NPaths_HomeFolder);
    out.add(FSysInfoPath_Paths_TempFolder, FSysInfoPath_NPaths_TempFolder);
    return 0;
}

int FSysInfoPaths::getObject(wchar_t const* key, FSysInfoObjectRef& out) {
    FStrToken<wchar_t> const wanted(key);
    if (wanted == FSysInfoPath_Paths) {
        FSysInfoKeyMap keys;
        keys.add(FSysInfoPath_Paths_HomeFolder, FSysInfoPath_NPaths_HomeFolder);
        keys.add(FSysInfoPath_Paths_TempFolder, FSysInfoPath_NPaths_TempFolder);
        out = createObject(FSysInfoPath_Paths, FSysInfoPath_NPaths, keys);
    } else if (wanted == FSysInfoPath_Paths_HomeFolder) {
        out = createObject(FSysInfoPath_Paths_HomeFolder, FSysInfoPath_NPaths_HomeFolder,
                           FSysInfoValueRef(new TFValueBase<FTypeId>(getHomeFolderW())));
    } else if (wanted == FSysInfoPath_Paths_TempFolder) {
        out = createObject(FSysInfoPath_Paths_TempFolder, FSysInfoPath_NPaths_TempFolder,
                           FSysInfoValueRef(new TFValueBase<FTypeId>(getTempFolderW())));
    } else {
        return -1;
    }
    return 0;
}

FMStr<wchar_t> FSysInfoPaths::getHomeFolder() noexcept {
    return folderFrom(F_SYS_ENV_HOMEDIR, F_SYS_ALT_HOMEDIR);
}

FGStr<wchar_t> FSysInfoPaths::getHomeFolderW() noexcept {
    return FGStr<wchar_t>(getHomeFolder());
}

FGStr<char> FSysInfoPaths::getHomeFolderA() noexcept {
    return narrowed(getHomeFolder());
}

FMStr<wchar_t> FSysInfoPaths::getTempFolder() noexcept {
    return folderFrom(F_SYS_ENV_TEMPDIR, kDefaultTempFolder);
}

FGStr<wchar_t> FSysInfoPaths::getTempFolderW() noexcept {
    return FGStr<wchar_t>(getTempFolder());
}

FGStr<char> FSysInfoPaths::getTempFolderA() noexcept {
    return narrowed(getTempFolder());
}

void FSysInfoPaths::setUserLogDirW(wchar_t const* dir) noexcept {
    customLogDirW = FGStr<wchar_t>();
    if (FGStr<wchar_t>::isEmpty(dir)) {
        return;
    }
    bool created = false;
    if (!TFSysFile<wchar_t>::exists(dir)) {
        if (TFSysFile<wchar_t>::makeDirectory(dir) != 0) {
            return;
        }
        created = true;
    }
    if (!acceptLogDirectory(dir, created)) {
        return;
    }
    FGStr<wchar_t> stored(dir);
    if (stored[-1] != L'/') {
        stored << L'/';
    }
    customLogDirW = stored;
}

FGStr<wchar_t> FSysInfoPaths::getUserLogDirW() noexcept {
    if (!customLogDirW.isEmpty()) {
        return customLogDirW;
    }
    FMStr<wchar_t> dir = getHomeFolder();
    dir << kDefaultLogFolder;
    if (!TFSysFile<wchar_t>::exists(dir)) {
        TFSysFile<wchar_t>::makeDirectory(dir);
    }
    dir << L'/';
    return FGStr<wchar_t>(dir);
}

FGStr<wchar_t> FSysInfoPaths::getNewLogFileNameW(char const* prefix, char const* ext) noexcept {
    FTime now;
    now.setNow();
    FGStr<wchar_t> stamp = now.toWStringEx();
    stamp.replace(L':', L'-');
    FGStr<wchar_t> name = getUserLogDirW();
    name.appendValueOf(prefix);
    name << stamp;
    name.appendValueOf(ext);
    return name;
}

} // namespace FSpace
