// The system paths: the one information provider of this system, and the
// static path functions that the logging uses (home and temporary folders, the
// process-wide log directory and the names of new log files).
//
// The path functions do not throw for file-system failures: missing
// environment variables fall back to fixed folders, and a log directory that
// cannot be used falls back to the default one.
#pragma once

#include "FSysInfo.h"

namespace FSpace {

// Keys and captions of the provider's objects.
inline constexpr wchar_t FSysInfoPath_Paths[] = L"system.paths";
inline constexpr wchar_t FSysInfoPath_Paths_HomeFolder[] = L"system.paths.homefolder";
inline constexpr wchar_t FSysInfoPath_Paths_TempFolder[] = L"system.paths.tempfolder";
inline constexpr wchar_t FSysInfoPath_NPaths[] = L"System paths";
inline constexpr wchar_t FSysInfoPath_NPaths_HomeFolder[] = L"Home folder";
inline constexpr wchar_t FSysInfoPath_NPaths_TempFolder[] = L"Temp folder";

// Path constants.
inline constexpr char F_SYS_ENV_HOMEDIR[] = "HOME";   ///< environment variable of the home folder
inline constexpr char F_SYS_ENV_TEMPDIR[] = "TMPDIR"; ///< environment variable of the temporary folder
inline constexpr char F_SYS_ENV_PATH_SEP[] = "/";
inline constexpr wchar_t F_SYS_ENV_PATH_SEPW[] = L"/";
inline constexpr char F_SYS_ENV_PATH_SELF[] = "./";
inline constexpr wchar_t F_SYS_ENV_PATH_SELFW[] = L"./";
/// The home folder when HOME is unset or empty.
inline constexpr wchar_t F_SYS_ALT_HOMEDIR[] = L"./";

/// Provider of "system.paths": the map of its two keys to their captions, and
/// the home and temporary folders as wide-string values (computed at each call).
class FSysInfoPaths : public FSysInfoProvider {
public:
    FSysInfoPaths() = default;
    FSysInfoPaths(FSysInfoPaths const&) = delete;
    FSysInfoPaths& operator=(FSysInfoPaths const&) = delete;
    ~FSysInfoPaths() override = default;

    /// "system.paths" and "System paths".
    wchar_t const* Key() const override { return FSysInfoPath_Paths; }
    wchar_t const* Name() const override { return FSysInfoPath_NPaths; }
    /// Nothing to refresh or release: 0.
    int refreshInfo() override { return 0; }
    int releaseInfo() override { return 0; }
    /// Adds the (key, caption) pairs of the paths, the home folder and the
    /// temporary folder, in that order; 0.
    int getKeys(FSysInfoKeyMap& out) const override;
    /// The object for one of the three keys (compared exactly, case-sensitive)
    /// and 0; -1 for any other key, \p out untouched.
    int getObject(wchar_t const* key, FSysInfoObjectRef& out) override;

    /// HOME ("./" when unset or empty), ending in "/".
    static FMStr<wchar_t> getHomeFolder() noexcept;
    static FGStr<wchar_t> getHomeFolderW() noexcept;
    /// Narrowed element by element.
    static FGStr<char> getHomeFolderA() noexcept;
    /// TMPDIR ("/tmp" when unset or empty), ending in "/".
    static FMStr<wchar_t> getTempFolder() noexcept;
    static FGStr<wchar_t> getTempFolderW() noexcept;
    static FGStr<char> getTempFolderA() noexcept;

    /// Makes \p dir (with a "/" appended when missing) the directory for new log
    /// files. Null or empty text goes back to the default directory. A missing
    /// directory is created with mode 01777 (sticky and world-writable: the
    /// folder is shared by a user's application and a root daemon, and nobody
    /// may remove or replace another's files). An existing directory keeps its
    /// mode. A directory that cannot be created, or a path that is a symbolic
    /// link, not a directory, or owned by someone other than root or the
    /// effective user, is not used: the default directory applies.
    static void setUserLogDirW(wchar_t const* dir) noexcept;
    /// The directory set by setUserLogDirW; otherwise the home folder + "QvLogs"
    /// (created when missing, its mode left to the creation mask) + "/",
    /// computed again at each call.
    static FGStr<wchar_t> getUserLogDirW() noexcept;
    /// getUserLogDirW() + prefix + the current UTC time as
    /// YYYY-MM-DDThh-mm-ss.mmm + ext, both 8-bit texts widened element by
    /// element (null counts as empty). Calls within one millisecond give one name.
    static FGStr<wchar_t> getNewLogFileNameW(char const* prefix, char const* ext) noexcept;
};

} // namespace FSpace
