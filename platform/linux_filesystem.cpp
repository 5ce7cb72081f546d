// The Linux file system with the system's semantics: names that never replace, ReadOnly that holds
// even for root, error codes the messages are keyed by.
#include "platform/dosattrib.h"
#include "platform/drives.h"
#include "platform/fd.h"
#include "platform/linux_fs_internal.h"
#include "platform/text.h"
#include "platform/time.h"

#include <attr/error_context.h>
#include <attr/libattr.h>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <utility>

namespace zelo::linuxfs {

std::optional<std::string> toLinuxPath(const std::string& drivePath)
{
    auto linuxPath = driveMap().toLinux(drivePath);
    if (!linuxPath) SetLastError(err::PathNotFound);
    return linuxPath;
}

bool isDriveRoot(const std::string& drivePath, const std::string& linuxPath)
{
    const Drive* drive = drivePath.empty() ? nullptr : driveMap().find(drivePath[0]);
    return drive && drive->directory == linuxPath;
}

namespace {

bool sameEntry(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

bool parentMissing(const std::string& linuxPath)
{
    struct stat st { };
    return ::stat(ParentOf(linuxPath).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
}

bool fail(int errnoValue, const std::string& linuxPath, ErrnoCall call)
{
    const bool missingParent = errnoValue == ENOENT && parentMissing(linuxPath);
    SetLastErrorFromErrno(errnoValue, call, missingParent);
    return false;
}

bool failCode(uint32_t code)
{
    SetLastError(code);
    return false;
}

namespace {

// What a file system answers when it keeps no Unix modes, owners or extended attributes
// (FAT and exFAT through FUSE, some network shares): the copy goes on without them.
bool refusedByFileSystem(int e)
{
    return e == ENOSYS || e == EPERM || e == EOPNOTSUPP || e == ENOTSUP;
}

// Extended attributes of the file being replaced that the new file does not take over: Hidden,
// System and Archive belong to the new file (a copy is Archive), and file capabilities are
// privileges, which a copy never carries (as setuid is never carried).
bool keptOnReplace(std::string_view name)
{
    return name != dosattrib::kName && name != "security.capability";
}

// libattr's copy, told which failures count: it reports every one through the context, which sees the
// errno of the call that failed and, through quote, whether the message names the new file (a write).
struct AttributeCopy {
    error_context context; // first: libattr hands the context back to the callbacks
    const char* destination; // the name the new file has in libattr's messages
    bool namesDestination = false; // the message being made names the new file
    int failure = 0; // the first failure that fails the replacement
};

const char* noteQuoted(error_context* context, const char* name)
{
    auto* copy = reinterpret_cast<AttributeCopy*>(context);
    if (name == copy->destination) copy->namesDestination = true;
    return name;
}

// A full medium or an I/O error in writing fails; what the file system or the process may not write,
// and what cannot be read of the old file, is left out.
void noteFailure(error_context* context, const char*, ...)
{
    const int e = errno;
    auto* copy = reinterpret_cast<AttributeCopy*>(context);
    const bool writing = std::exchange(copy->namesDestination, false);
    if (copy->failure == 0 && (e == ENOSPC || e == EDQUOT || (e == EIO && writing))) copy->failure = e;
}

int passedOn(const char* name, error_context*)
{
    return keptOnReplace(name);
}

// Copies the extended attributes of the file old at linuxPath to fd. The attributes are the old file's
// extras (ACLs, labels, user data); what the file system or the process may not write is left out,
// a lack of space or an I/O error fails.
bool keepExtendedAttributes(const std::string& linuxPath, const struct stat& old, int fd)
{
    // Most files have none: asked by name, the old file is only opened when there is something to copy.
    if (::llistxattr(linuxPath.c_str(), nullptr, 0) <= 0) return true;
    UniqueFd from(::open(linuxPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    struct stat opened { };
    if (!from.valid() || ::fstat(from.get(), &opened) != 0 || !sameEntry(opened, old)) return true;
    AttributeCopy copy { { noteFailure, noteQuoted, nullptr }, "replacement" };
    if (::attr_copy_fd(linuxPath.c_str(), from.get(), copy.destination, fd, passedOn, &copy.context) == 0
        || copy.failure == 0)
        return true;
    SetLastErrorFromErrno(copy.failure);
    return false;
}

// Hands a replaced file's owner and group on where the process may set them (root, or a group
// the user belongs to), so that its owner can still write the new file.
void keepOwner(int fd, const struct stat& old)
{
    struct stat own { };
    if (::fstat(fd, &own) != 0 || (own.st_uid == old.st_uid && own.st_gid == old.st_gid)) return;
    // Failing both, the file keeps the user's own owner and group: nothing more can be done.
    if (::fchown(fd, old.st_uid, old.st_gid) != 0 && ::fchown(fd, uid_t(-1), old.st_gid) != 0) return;
}

bool copyDosAttributes(int from, int to)
{
    char blob[256];
    const ssize_t n = ::fgetxattr(from, dosattrib::kName, blob, sizeof blob);
    // A file system without extended attributes keeps what it derives.
    if (n >= 0 && ::fsetxattr(to, dosattrib::kName, blob, size_t(n), 0) != 0 && !refusedByFileSystem(errno)) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

} // namespace

bool replaceableEntry(int dirFd, const std::string& name, const std::string& linuxPath, struct stat* existing)
{
    struct stat st { };
    if (::fstatat(dirFd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? true : fail(errno, linuxPath);
    if (S_ISDIR(st.st_mode) || isReadOnlyMode(st.st_mode)) return failCode(err::AccessDenied);
    // A FIFO, socket or device is never written or replaced (a copy onto /dev/null must not
    // turn it into a file).
    if (!S_ISREG(st.st_mode) && !S_ISLNK(st.st_mode)) return failCode(err::CannotAccessFile);
    if (existing) *existing = st;
    return true;
}

bool prepareReplacement(int fd, const struct stat* old, const std::string& linuxDestination,
    const ReplaceOptions& options, bool setTimes, mode_t madeWith, DirectoryTraits* traits)
{
    struct stat model { };
    bool haveModel = false;
    std::optional<std::string> modelPath;
    if (options.source) {
        // Through the file's own facts: a source on a share reached directly has no descriptor.
        SourceFacts facts;
        if (!options.source->Facts(facts)) return false;
        model.st_mode = mode_t(facts.mode);
        model.st_atim = { time_t(facts.accessSeconds), long(facts.accessNanoseconds) };
        model.st_mtim = { time_t(facts.writeSeconds), long(facts.writeNanoseconds) };
        haveModel = true;
    } else if (!options.permissionsFrom.empty()) {
        modelPath = toLinuxPath(options.permissionsFrom);
        if (!modelPath) return false;
        if (::stat(modelPath->c_str(), &model) != 0) return fail(errno, *modelPath);
        haveModel = true;
    }

    // The attributes first: writing them needs the write permission the mode may take away.
    if (old && S_ISREG(old->st_mode) && !keepExtendedAttributes(linuxDestination, *old, fd)) return false;
    if (options.keepDosAttributes && modelPath) {
        char blob[256];
        const ssize_t n = ::lgetxattr(modelPath->c_str(), dosattrib::kName, blob, sizeof blob);
        if (n >= 0 && ::fsetxattr(fd, dosattrib::kName, blob, size_t(n), 0) != 0 && !refusedByFileSystem(errno))
            return fail(errno, linuxDestination);
    }
    const bool replacesFile = old && S_ISREG(old->st_mode);
    if (replacesFile) keepOwner(fd, *old);
    if (haveModel) {
        // Never setuid, setgid or sticky: a copy of another user's program must not run as its copier.
        mode_t mode = model.st_mode & 0777;
        if (options.addOwnerWrite) mode |= S_IWUSR;
        // An old file's access ACL, handed on above, changes the mode: it is set again then.
        const bool hasMode = madeWith != 0 && !replacesFile && mode == madeWith;
        const bool refused = traits && traits->modesRefused.load(std::memory_order_relaxed);
        if (!hasMode && !refused && ::fchmod(fd, mode) != 0) {
            if (!refusedByFileSystem(errno)) return fail(errno, linuxDestination);
            if (traits) traits->modesRefused.store(true, std::memory_order_relaxed);
        }
    }
    if (options.source && setTimes) {
        // The source's exact times, nanoseconds included, from the descriptor that was copied.
        const timespec times[2] = { model.st_atim, model.st_mtim };
        if (::futimens(fd, times) != 0 && !refusedByFileSystem(errno)) return fail(errno, linuxDestination);
    }
    if (options.flush && ::fdatasync(fd) != 0 && errno != EINVAL) return fail(errno, linuxDestination);
    return true;
}

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

FileSystem& linuxFileSystem()
{
    static LinuxFileSystem instance;
    return instance;
}

bool LinuxFileSystem::DeleteFile(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    struct stat st { };
    if (::lstat(linuxPath->c_str(), &st) != 0) return fail(errno, *linuxPath);
    // unlink ignores a file's mode: ReadOnly is checked here, for root as well.
    if (S_ISDIR(st.st_mode) || isReadOnlyMode(st.st_mode)) return failCode(err::AccessDenied);
    if (::unlink(linuxPath->c_str()) != 0) return fail(errno, *linuxPath);
    return true;
}

namespace {

// Whether the directory lists an entry of exactly this name (bytes compared, not case).
bool listsExactly(const std::string& linuxDirectory, std::string_view name)
{
    UniqueDir dir(::opendir(linuxDirectory.empty() ? "/" : linuxDirectory.c_str()));
    if (!dir.get()) return true; // not known: taken as there, so nothing is ever replaced
    while (const struct dirent* entry = ::readdir(dir.get())) {
        if (name == entry->d_name) return true;
    }
    return false;
}

} // namespace

bool LinuxFileSystem::MoveFile(const std::string& from, const std::string& to)
{
    const auto source = toLinuxPath(from);
    const auto target = source ? toLinuxPath(to) : std::nullopt;
    if (!source || !target) return false;
    struct stat sourceStat { };
    if (::lstat(source->c_str(), &sourceStat) != 0) return fail(errno, *source);
    if (*source == *target) return true;

    // The same entry under another case (a case-insensitive file system) is renamed in place. Where the
    // file system numbers each name it is looked up by on its own (FUSE exFAT), the entry is the same when
    // the directory holds no entry of exactly the new name.
    struct stat targetStat { };
    const bool caseOnly = ParentOf(*source) == ParentOf(*target)
        && ToUpperText(std::string(BaseName(*source))) == ToUpperText(std::string(BaseName(*target)));
    if (caseOnly && ::lstat(target->c_str(), &targetStat) == 0
        && (sameEntry(sourceStat, targetStat)
            || ((sourceStat.st_mode & S_IFMT) == (targetStat.st_mode & S_IFMT)
                && !listsExactly(std::string(ParentOf(*target)), BaseName(*target))))) {
        if (::rename(source->c_str(), target->c_str()) != 0) return fail(errno, *target, ErrnoCall::Move);
        return true;
    }

    if (::renameat2(AT_FDCWD, source->c_str(), AT_FDCWD, target->c_str(), RENAME_NOREPLACE) == 0) return true;
    const int e = errno;
    if (e != EINVAL && e != ENOSYS) return fail(e, *target, ErrnoCall::Move);
    // The file system rejects the flag (NFS, some FUSE): a file is linked and unlinked, which
    // refuses an existing target just as well; otherwise a checked rename.
    if (!S_ISDIR(sourceStat.st_mode)) {
        if (::link(source->c_str(), target->c_str()) == 0) {
            if (::unlink(source->c_str()) == 0) return true;
            // The old name stays: take the new one back rather than leave the file under two names.
            const int unlinkError = errno;
            ::unlink(target->c_str());
            return fail(unlinkError, *source, ErrnoCall::Move);
        }
        if (errno == EEXIST || errno == EXDEV || errno == ENOENT) return fail(errno, *target, ErrnoCall::Move);
    }
    if (::lstat(target->c_str(), &targetStat) == 0) return failCode(err::AlreadyExists);
    if (::rename(source->c_str(), target->c_str()) != 0) return fail(errno, *target, ErrnoCall::Move);
    return true;
}

bool LinuxFileSystem::CopyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    const auto source = toLinuxPath(from);
    const auto target = source ? toLinuxPath(to) : std::nullopt;
    if (!source || !target) return false;
    auto in = openLinux(*source, OpenMode::Read);
    if (!in) return false;

    // The bytes go to a new file (unnamed where the file system allows) that takes the target's name
    // only when complete: without overwrite only a free name, with it in one step over the old file.
    struct stat existing { };
    if (failIfExists && ::lstat(target->c_str(), &existing) == 0) return failCode(err::FileExists);
    auto out = createReplacement(*target);
    if (!out) return false;
    for (;;) {
        const int64_t n = out->CopyFrom(*in, size_t(1) << 30);
        if (n < 0) return false;
        if (n == 0) break;
    }
    // The attribute first: writing it needs the write permission the mode may take away.
    if (!copyDosAttributes(in->NativeHandle(), out->NativeHandle())) return false;
    ReplaceOptions options;
    options.source = in.get();
    return commitReplacement(std::move(out), *target, options, failIfExists);
}

bool LinuxFileSystem::CreateDirectory(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    if (::mkdir(linuxPath->c_str(), 0777) != 0) {
        const int e = errno;
        // mkdir's ENOENT means a missing parent, or, where the parent is there, its refusal of the name
        // (exFAT through FUSE answers so for ":" or "?").
        if (e == ENOENT && !parentMissing(*linuxPath)) return failCode(err::InvalidName);
        if ((e == EPERM || e == EACCES) && !FatHoldsName(BaseName(*linuxPath))) return failCode(err::InvalidName);
        SetLastErrorFromErrno(e, ErrnoCall::MakeDirectory, e == ENOENT);
        return false;
    }
    return true;
}

bool LinuxFileSystem::RemoveDirectory(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    struct stat st { };
    if (::lstat(linuxPath->c_str(), &st) != 0) return fail(errno, *linuxPath);
    if (S_ISLNK(st.st_mode)) {
        // A link to a directory goes as the link; the directory it points at is left alone.
        struct stat target { };
        if (::stat(linuxPath->c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) return failCode(err::NotADirectory);
        if (::unlink(linuxPath->c_str()) != 0) return fail(errno, *linuxPath);
        return true;
    }
    if (!S_ISDIR(st.st_mode)) return failCode(err::NotADirectory);
    if (isReadOnlyMode(st.st_mode)) return failCode(err::AccessDenied);
    // Linux would remove the process's current directory; the system refuses.
    struct stat current { };
    if (::stat(".", &current) == 0 && sameEntry(st, current)) return failCode(err::CurrentDirectory);
    if (::rmdir(linuxPath->c_str()) != 0) return fail(errno, *linuxPath, ErrnoCall::RemoveDirectory);
    return true;
}

bool LinuxFileSystem::SetCurrentDirectory(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    if (::chdir(linuxPath->c_str()) != 0) return fail(errno, *linuxPath);
    return true;
}

std::string LinuxFileSystem::GetCurrentDirectory()
{
    char buffer[PATH_MAX];
    if (!::getcwd(buffer, sizeof buffer)) {
        SetLastErrorFromErrno(errno);
        return {};
    }
    auto drivePath = driveMap().fromLinux(buffer);
    if (!drivePath) {
        SetLastError(err::PathNotFound);
        return {};
    }
    return *drivePath;
}

bool LinuxFileSystem::SetFileTimes(
    const std::string& path, const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    const timespec times[2] = { toTimespec(lastAccess), toTimespec(lastWrite) };
    if (::utimensat(AT_FDCWD, linuxPath->c_str(), times, AT_SYMLINK_NOFOLLOW) != 0) return fail(errno, *linuxPath);
    return true;
}

bool LinuxFileSystem::SyncFileSystem(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    // Only directories are opened: a FIFO or device at the path is never opened, its directory is synced.
    UniqueFd fd(::open(linuxPath->c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!fd.valid()) fd.reset(::open(ParentOf(*linuxPath).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!fd.valid()) return fail(errno, *linuxPath);
    if (::syncfs(fd.get()) != 0) return fail(errno, *linuxPath);
    return true;
}

} // namespace zelo
