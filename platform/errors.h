// The last error code, in the codes the program's messages are keyed by, and its mapping from errno.
#pragma once

#include <cstdint>

namespace zelo {

namespace err {
inline constexpr uint32_t Success = 0;
inline constexpr uint32_t FileNotFound = 2;
inline constexpr uint32_t PathNotFound = 3;
inline constexpr uint32_t AccessDenied = 5;
inline constexpr uint32_t CurrentDirectory = 16;
inline constexpr uint32_t NotSameDevice = 17;
inline constexpr uint32_t WriteProtect = 19;
inline constexpr uint32_t SharingViolation = 32;
inline constexpr uint32_t NetworkAccessDenied = 65;
inline constexpr uint32_t FileExists = 80;
inline constexpr uint32_t DiskFull = 112;
inline constexpr uint32_t DirNotEmpty = 145;
inline constexpr uint32_t BadPathName = 161;
inline constexpr uint32_t AlreadyExists = 183;
inline constexpr uint32_t FilenameTooLong = 206;
// A name the destination refuses to create (FAT, exFAT, SMB: ":", "?", a trailing dot...).
inline constexpr uint32_t InvalidName = 123;
// Codes for Linux failures whose own errno number would read as another message.
inline constexpr uint32_t NotReady = 21; // ENODEV
inline constexpr uint32_t GeneralFailure = 31; // errno values without a better code
inline constexpr uint32_t BadNetPath = 53; // EHOSTDOWN
inline constexpr uint32_t InvalidParameter = 87; // a time or value out of range
inline constexpr uint32_t NotEnoughMemory = 8;
inline constexpr uint32_t BadNetName = 67; // a share that cannot be reached
inline constexpr uint32_t AlreadyAssigned = 85; // a letter already in use
inline constexpr uint32_t SemTimeout = 121; // a remote drive that does not answer in time
inline constexpr uint32_t NotConnected = 2250; // not a network connection
inline constexpr uint32_t OpenFiles = 2401; // files are open on the connection
inline constexpr uint32_t LogonFailure = 1326; // a share that refuses the login given, or a guest
inline constexpr uint32_t BrokenPipe = 109; // EPIPE
inline constexpr uint32_t NotADirectory = 267; // RemoveDirectory on a file
inline constexpr uint32_t DeviceError = 1117; // EIO
inline constexpr uint32_t NotSupported = 50; // a call the file system does not offer
inline constexpr uint32_t ReadFault = 30; // a file that ended before the size it had when it was opened
// A FIFO, socket or device: never opened for reading or writing.
inline constexpr uint32_t CannotAccessFile = 1920;
} // namespace err

// What kind of call failed: some errno values map differently by call.
enum class ErrnoCall {
    Generic,
    CreateNoReplace, // exclusive create, copy without overwrite, naming a new entry: EEXIST -> 80, EINVAL -> 123
    Move, // EEXIST -> 183
    MakeDirectory, // EEXIST -> 183, EINVAL -> 123
    RemoveDirectory, // EEXIST -> 145, EBUSY on the current directory -> 16
};

// The calling thread's last error code, as every failing platform call leaves it.
uint32_t GetLastError();
void SetLastError(uint32_t code);

// Keeps the last error across clean-up that may change it (removing a temporary file, giving back a
// mode): the code of the failure being reported survives the scope.
class KeepLastError {
public:
    KeepLastError()
        : m_code(GetLastError())
    {
    }
    ~KeepLastError() { SetLastError(m_code); }
    KeepLastError(const KeepLastError&) = delete;
    KeepLastError& operator=(const KeepLastError&) = delete;
    uint32_t code() const { return m_code; }

private:
    uint32_t m_code;
};

// Table-driven errno mapping. parentMissing turns ENOENT into 3; isCurrentDir turns EBUSY from rmdir into 16.
// An errno without an entry keeps its own number, unless that number is a code with a message of its
// own (EIO is 5, EHOSTDOWN 112, ...): those get the dedicated codes above.
uint32_t MapErrno(
    int errnoValue, ErrnoCall call = ErrnoCall::Generic, bool parentMissing = false, bool isCurrentDir = false);

// Sets the last error from errno with MapErrno; returns the code.
uint32_t SetLastErrorFromErrno(
    int errnoValue, ErrnoCall call = ErrnoCall::Generic, bool parentMissing = false, bool isCurrentDir = false);

} // namespace zelo
