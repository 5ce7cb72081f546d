#include "platform/errors.h"

#include <cerrno>

namespace zelo {

namespace {

thread_local uint32_t t_lastError = err::Success;

// errno values whose own number is a code the messages give another meaning to
// (EIO would read as "access denied", EHOSTDOWN as "disk full"): they get a code of their own.
struct Collision {
    int errnoValue;
    uint32_t code;
};
constexpr Collision kCollisions[] = {
    { EIO, err::DeviceError },
    { ENODEV, err::NotReady },
    { EPIPE, err::BrokenPipe },
    { EHOSTDOWN, err::BadNetPath },
    { ENOPKG, err::GeneralFailure },
    { ELIBBAD, err::GeneralFailure },
    // A file system that does not offer the call (a share refusing modes or links): said in words.
    { EOPNOTSUPP, err::NotSupported },
};

} // namespace

uint32_t GetLastError()
{
    return t_lastError;
}

void SetLastError(uint32_t code)
{
    t_lastError = code;
}

uint32_t MapErrno(int errnoValue, ErrnoCall call, bool parentMissing, bool isCurrentDir)
{
    switch (errnoValue) {
    case 0:
        return err::Success;
    case ENOENT:
        return parentMissing ? err::PathNotFound : err::FileNotFound;
    case ENOTDIR:
        return err::PathNotFound;
    case EACCES:
    case EPERM:
        return err::AccessDenied;
    case EBUSY:
        return (call == ErrnoCall::RemoveDirectory && isCurrentDir) ? err::CurrentDirectory : err::SharingViolation;
    case ETXTBSY:
        return err::SharingViolation;
    case EROFS:
        return err::WriteProtect;
    case EEXIST:
        switch (call) {
        case ErrnoCall::Move:
        case ErrnoCall::MakeDirectory:
            return err::AlreadyExists;
        case ErrnoCall::RemoveDirectory:
            return err::DirNotEmpty;
        case ErrnoCall::CreateNoReplace:
        case ErrnoCall::Generic:
            return err::FileExists;
        }
        return err::FileExists;
    case ENOSPC:
    case EDQUOT:
        return err::DiskFull;
    case ENOTEMPTY:
        return err::DirNotEmpty;
    case EINVAL:
        // Creating a name is refused by the destination's own rule for names (FAT, exFAT, SMB).
        return call == ErrnoCall::CreateNoReplace || call == ErrnoCall::MakeDirectory ? err::InvalidName
                                                                                      : err::BadPathName;
    case EILSEQ:
        // Bytes the file system cannot hold in a name (exFAT, FAT and SMB take only valid UTF-8).
        return err::InvalidName;
    case ENAMETOOLONG:
        return err::FilenameTooLong;
    case EXDEV:
        return err::NotSameDevice;
    default:
        break;
    }
    for (const Collision& c : kCollisions) {
        if (c.errnoValue == errnoValue) return c.code;
    }
    return errnoValue > 0 ? uint32_t(errnoValue) : err::GeneralFailure;
}

uint32_t SetLastErrorFromErrno(int errnoValue, ErrnoCall call, bool parentMissing, bool isCurrentDir)
{
    uint32_t code = MapErrno(errnoValue, call, parentMissing, isCurrentDir);
    SetLastError(code);
    return code;
}

} // namespace zelo
