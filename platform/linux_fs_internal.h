// Private pieces of the Linux file system shared by its source files.
#pragma once

#include "platform/drive_path.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/filesystem.h"
#include "platform/linux_path.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <optional>
#include <string>
#include <string_view>

namespace zelo::linuxfs {

// Drive path -> Linux path; sets 3 and returns nullopt for a path on no drive.
std::optional<std::string> toLinuxPath(const std::string& drivePath);
// The Linux bytes of a name handed down in drive form (a walk's entry, a name to create); an ordinary
// name is used as it is, without a copy. Lives no longer than the name it was made from.
class LinuxName {
public:
    explicit LinuxName(const std::string& driveName)
        : m_name(&driveName)
    {
        if (MayHoldStandIn(driveName)) {
            m_mapped = LinuxNameFromDrive(driveName);
            m_name = &m_mapped;
        }
    }
    LinuxName(const LinuxName&) = delete;
    LinuxName& operator=(const LinuxName&) = delete;
    const char* c_str() const { return m_name->c_str(); }
    const std::string& str() const { return *m_name; }

private:
    const std::string* m_name;
    std::string m_mapped;
};

// True when linuxPath, mapped from drivePath, is its drive's own directory ("C:\", but also "C:\a\..").
bool isDriveRoot(const std::string& drivePath, const std::string& linuxPath);
// True when the directory that would hold linuxPath does not exist (ENOENT then reads as 3).
bool parentMissing(const std::string& linuxPath);
// Sets the last error for errno after a call on linuxPath; returns false for "return fail(...)".
bool fail(int errnoValue, const std::string& linuxPath, ErrnoCall call = ErrnoCall::Generic);
bool failCode(uint32_t code);

// ReadOnly is the absence of the owner's write permission (never for a symbolic link).
inline bool isReadOnlyMode(mode_t mode)
{
    return !S_ISLNK(mode) && (mode & S_IWUSR) == 0;
}

// Reads user.DOSATTRIB of linuxPath. Returns false when there is none (or the file system keeps
// no extended attributes: xattrUnsupported is then set so a search stops asking).
bool readDosAttributes(const std::string& linuxPath, uint32_t& attributes, bool* xattrUnsupported = nullptr);

// The attribute word of an entry from its lstat mode. For a symbolic link the target is looked at
// once more (Directory when it points at a directory).
uint32_t attributesOf(
    const std::string& linuxPath, std::string_view name, mode_t mode, bool* xattrUnsupported = nullptr);

// A time for utimensat/futimens; a null pointer or a zero time leaves that time alone (UTIME_OMIT).
timespec toTimespec(const FileTime* time);

// What the searches ask statx for, on the entry itself (never a link's target).
inline constexpr unsigned kStatxMask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_ATIME | STATX_MTIME | STATX_BTIME;
inline constexpr int kStatxFlags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;

// The next raw entry of a directory stream; null at its end (last error 0) or on a failure.
inline const struct dirent* readEntry(DIR* dir)
{
    errno = 0;
    const struct dirent* entry = ::readdir(dir);
    if (!entry) SetLastErrorFromErrno(errno);
    return entry;
}

// Opens a directory stream for a search; null with the last error set (3 when the directory is missing).
UniqueDir openDirectoryStream(const std::string& linuxDir);
// Hands out a new search with its first entry read, or null with 2 when it has none.
std::unique_ptr<DirSearch> withFirstEntry(std::unique_ptr<DirSearch> search, FindData& first);

// Size halves and the three times of a search entry from its statx (no creation time where the
// file system keeps none).
void fillStatFields(const struct statx& sx, FindData& out);

// Entries a search with attrMask passes.
inline bool passesMask(uint32_t attributes, uint32_t attrMask)
{
    constexpr uint32_t kSelective = kAttrHidden | kAttrSystem | kAttrDirectory | kAttrVolumeLabel;
    return (attributes & kSelective & ~attrMask) == 0;
}

class LinuxFileSystem final : public FileSystem {
public:
    std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) override;
    uint32_t GetAttributes(const std::string& path) override;
    bool SetAttributes(const std::string& path, uint32_t attributes) override;
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
    std::unique_ptr<File> CreateReplacement(const std::string& destination) override;
    bool CommitReplacement(
        std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
    bool CreateDirectory(const std::string& path) override;
    bool RemoveDirectory(const std::string& path) override;
    bool SetCurrentDirectory(const std::string& path) override;
    std::string GetCurrentDirectory() override;
    bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
        const FileTime* lastWrite) override;
    bool SyncFileSystem(const std::string& path) override;
    std::unique_ptr<DirHandle> OpenTreeDirectory(
        const std::string& dirWithSep, ListDetail detail, bool followLink = false) override;
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override;
};

// Opens linuxPath as Open does (the checks included); also used by CopyFile.
std::unique_ptr<File> openLinux(const std::string& linuxPath, OpenMode mode);

// The kind of entry a replacement may take the place of: a regular file that is not ReadOnly, a
// symbolic link (replaced itself) or nothing. Fails with 5 for a directory or a ReadOnly file and
// with 1920 for a FIFO, socket or device. existing receives the entry's lstat when there is one.
bool replaceableEntry(int dirFd, const std::string& name, const std::string& linuxPath, struct stat* existing);
// A new file beside linuxDestination, unnamed where the file system allows, for CommitReplacement.
std::unique_ptr<File> createReplacement(const std::string& linuxDestination);
// The same in an open directory: dirFd is taken over (a duplicate of the caller's), linuxDestination
// names the entry for messages and for reading an old file's attributes (pathAt gives such a name).
std::unique_ptr<File> createReplacementAt(UniqueFd dirFd, const std::string& linuxDestination);
// The same in a directory the caller keeps open for the file's lifetime (no descriptor of its own).
// What the copies made in one directory learn of its file system, kept by the directory's handle.
struct DirectoryTraits {
    // The file system refused to set a new file's permission bits: later copies there do not ask again
    // (on a share each refusal is a round trip to the server).
    std::atomic<bool> modesRefused { false };
};
// device: the directory's, where the caller knows it (0: looked up when needed); plainModes: the
// directory has no default ACL, so a new file's mode is what the process's umask leaves of the one asked;
// traits: the directory's, kept as long as the file (null: none).
std::unique_ptr<File> createReplacementIn(int dirFd, const std::string& linuxDestination, bool listedFree = false,
    dev_t device = 0, bool plainModes = false, DirectoryTraits* traits = nullptr);
// Whether a name is one FAT, exFAT and SMB can hold: UTF-8, none of \\ : * ? " < > | and no control
// character. fusefat refuses any other as "not permitted", which is the name's fault, not the user's rights.
bool FatHoldsName(std::string_view name);

// Whether a directory has no default ACL, which would decide its new files' modes instead of the umask.
bool withoutDefaultAcl(int dirFd);
// A name of an entry of an open directory that the kernel resolves through the descriptor.
std::string pathAt(int dirFd, std::string_view name);
// Opens an entry of an open directory for reading a copy: never a link's target, never a FIFO,
// socket or device (1920).
std::unique_ptr<File> openForCopyAt(int dirFd, const std::string& name);
// What fstat said of a file opened by openForCopyAt when it was opened (null for any other file):
// a copy takes the mode and times the source had when its bytes began to be read.
const struct stat* statAtOpen(File& file);
// Commits a file of createReplacement (CommitReplacement on Linux paths); exclusive: only to a free
// name, else it fails with 80.
bool commitReplacement(std::unique_ptr<File> file, const std::string& linuxDestination, const ReplaceOptions& options,
    bool exclusive = false);
// Gives the open file fd what options name and, when it replaces the regular file old (null for
// none), that file's owner, group and extended attributes but user.DOSATTRIB; then flushes it when
// options.flush. Refusals of modes, owners or attributes by the file system do not fail it. Without
// setTimes the source's times are left to the caller (given after the close). madeWith: the permission
// bits the file was made with, where they are known for certain (0: not known); the mode is only set when
// it differs. traits: the directory's, where a refusal of the mode is noted and not asked again.
bool prepareReplacement(int fd, const struct stat* old, const std::string& linuxDestination,
    const ReplaceOptions& options, bool setTimes = true, mode_t madeWith = 0, DirectoryTraits* traits = nullptr);

} // namespace zelo::linuxfs
