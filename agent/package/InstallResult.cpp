#include "agent/package/InstallResult.h"

#include <cerrno>
#include <cstring>

InstallResult InstallResult::from(const platform::Failure& failure, Status otherwise) {
    if (failure.domain == kDomain)
        return {static_cast<Status>(failure.code), failure.description};
    return {otherwise, failure.description};
}

InstallResult InstallResult::writeFailure(const platform::Failure& failure, const std::string& what) {
    const bool full = failure.code == ENOSPC || failure.code == EDQUOT;
    return {full ? DiskFull : WriteFailed, what + ": " + std::strerror(failure.code)};
}

const char* InstallResult::statusName(Status status) {
    switch (status) {
    case Success:
        return "Success";
    case PackageMissing:
        return "PackageMissing";
    case PackageMalformed:
        return "PackageMalformed";
    case UnsafePayload:
        return "UnsafePayload";
    case DowngradeRefused:
        return "DowngradeRefused";
    case PreinstallFailed:
        return "PreinstallFailed";
    case PostinstallFailed:
        return "PostinstallFailed";
    case DiskFull:
        return "DiskFull";
    case PayloadUnreadable:
        return "PayloadUnreadable";
    case WriteFailed:
        return "WriteFailed";
    case DestinationConflict:
        return "DestinationConflict";
    case ReceiptInvalid:
        return "ReceiptInvalid";
    case NotInstalled:
        return "NotInstalled";
    case Busy:
        return "Busy";
    case RebootFailed:
        return "RebootFailed";
    case InternalError:
        return "InternalError";
    case NotPermitted:
        return "NotPermitted";
    case CommandMalformed:
        return "CommandMalformed";
    case PackageUnsigned:
        return "PackageUnsigned";
    case SignatureInvalid:
        return "SignatureInvalid";
    case PackageTampered:
        return "PackageTampered";
    case PackageIncomplete:
        return "PackageIncomplete";
    case PackageExtraEntry:
        return "PackageExtraEntry";
    case PackageEntryRefused:
        return "PackageEntryRefused";
    }
    return "Unknown";
}
