// The vocabulary of the installer agent's socket protocol, in one place: the
// keys of a message, the names of the commands, link-control messages and
// events, and the status numbers a command ends with. The application, the
// agent link and the agent use these names instead of writing the texts
// themselves, so a key is spelled, and can be changed, once.
//
// Every text here travels on the wire: changing one breaks every installed
// agent or application of another version. Status numbers are only ever
// appended, never renumbered.
#pragma once

namespace AgentProtocol {

/// Where the agent listens: "%@" is its bundle identifier.
inline constexpr const char* kSocketPathFormat = "/var/run/%@.socket";

/// Keys of a message.
namespace Key {
inline constexpr const char* kCommand = "Cmd";
inline constexpr const char* kControl = "Ctrl";
inline constexpr const char* kEvent = "Event";
inline constexpr const char* kStatus = "status";
inline constexpr const char* kVersion = "version";
inline constexpr const char* kInstallerPackage = "InstallerPackage";
inline constexpr const char* kLoggedInUser = "LoggedInUser";
inline constexpr const char* kRemoveBackups = "RemoveBackups";
inline constexpr const char* kPercentCompleted = "percentCompleted";
inline constexpr const char* kInfo = "info";
} // namespace Key

/// Values of "Cmd".
namespace Command {
inline constexpr const char* kInstall = "Install";
inline constexpr const char* kUninstall = "Uninstall";
inline constexpr const char* kUpdate = "Update";
inline constexpr const char* kReboot = "Reboot";
inline constexpr const char* kUninstallInstallerAgent = "UninstallInstallerAgent";
} // namespace Command

/// Values of "Ctrl": the agent link's own exchanges.
namespace Control {
inline constexpr const char* kGetVersion = "getVersion";
inline constexpr const char* kBye = "bye";
} // namespace Control

/// Values of "Event".
namespace Event {
inline constexpr const char* kProgress = "Progress";
inline constexpr const char* kCommandCompleted = "CommandCompleted";
} // namespace Event

/// The "status" of "CommandCompleted" (and of the reply to
/// "UninstallInstallerAgent"): 0 on success.
enum Status : int {
    Success = 0,
    PackageMissing = 1,       ///< no package at the given path, or no PackageInfo in it
    PackageMalformed = 2,     ///< PackageInfo unreadable or invalid, Payload missing, bad script
    UnsafePayload = 3,        ///< a payload entry would land outside the install location
    DowngradeRefused = 4,     ///< Update with a version older than the installed one
    PreinstallFailed = 5,     ///< the preinstall script failed, was killed or timed out
    PostinstallFailed = 6,    ///< the postinstall script failed, was killed or timed out
    DiskFull = 7,             ///< no space left while copying, backing up or writing the receipt
    PayloadUnreadable = 8,    ///< a payload file or folder could not be read
    WriteFailed = 9,          ///< any other failure to write below the install location or data folder
    DestinationConflict = 10, ///< the installed tree has a folder where the payload has a file, or
                              ///< the other way round, or a folder link leading outside
    ReceiptInvalid = 11,      ///< a receipt could not be read or lists unsafe paths
    NotInstalled = 12,        ///< Uninstall found no receipt: nothing was removed
    Busy = 13,                ///< another package operation is running
    RebootFailed = 14,        ///< the reboot command is misconfigured, could not start or failed
    InternalError = 15,       ///< an unexpected failure inside the agent
    NotPermitted = 16,        ///< the client may not send commands: not root, and holds no grant
    CommandMalformed = 17,    ///< a command key is missing, of the wrong type or out of range
    PackageUnsigned = 18,     ///< no Manifest or Manifest.sig, or the agent holds no signing key
    SignatureInvalid = 19,    ///< the manifest's signature is not the vendor key's
    PackageTampered = 20,     ///< a file's size or digest, or a link's target, differs from the manifest
    PackageIncomplete = 21,   ///< an entry the manifest lists is missing
    PackageExtraEntry = 22,   ///< the package holds an entry the manifest does not list
    PackageEntryRefused = 23, ///< a FIFO, socket or device, or an entry of another kind than listed
};

} // namespace AgentProtocol
