// The Linux file system with the system's semantics: names that never replace, ReadOnly that holds
// even for root, error codes the messages are keyed by.
#include "platform/dosattrib.h"
#include "platform/drives.h"
#include "platform/fd.h"
#include "platform/linux_fs_internal.h"
#include "platform/text.h"
#include "platform/time.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

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

std::string_view baseName(std::string_view linuxPath)
{
    while (linuxPath.size() > 1 && linuxPath.back() == '/')
        linuxPath.remove_suffix(1);
    const size_t slash = linuxPath.rfind('/');
    return slash == std::string_view::npos ? linuxPath : linuxPath.substr(slash + 1);
}

std::string joinPath(const std::string& dir, std::string_view name)
{
    std::string out = dir;
    if (out.empty() || out.back() != '/') out += '/';
    out.append(name);
    return out;
}

namespace {

std::string parentOf(const std::string& linuxPath)
{
    std::string_view view(linuxPath);
    while (view.size() > 1 && view.back() == '/')
        view.remove_suffix(1);
    const size_t slash = view.rfind('/');
    if (slash == std::string_view::npos) return ".";
    return slash == 0 ? "/" : std::string(view.substr(0, slash));
}

bool sameEntry(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

} // namespace

bool parentMissing(const std::string& linuxPath)
{
    struct stat st { };
    return ::stat(parentOf(linuxPath).c_str(), &st) != 0 || !S_ISDIR(st.st_mode);
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

// Gives a finished temporary file the permission bits and user.DOSATTRIB the caller asked for.
bool applyReplaceOptions(const std::string& linuxTemp, const ReplaceOptions& options)
{
    if (options.permissionsFrom.empty()) return true;
    const auto model = toLinuxPath(options.permissionsFrom);
    if (!model) return false;
    struct stat st { };
    if (::stat(model->c_str(), &st) != 0) return fail(errno, *model);
    mode_t mode = st.st_mode & 07777;
    if (options.addOwnerWrite) mode |= S_IWUSR;
    // The attribute first: writing it needs the write permission the mode may take away.
    if (options.keepDosAttributes) {
        char blob[256];
        const ssize_t n = ::lgetxattr(model->c_str(), dosattrib::kName, blob, sizeof blob);
        if (n >= 0 && ::lsetxattr(linuxTemp.c_str(), dosattrib::kName, blob, size_t(n), 0) != 0 && errno != ENOTSUP)
            return fail(errno, linuxTemp);
    }
    if (::chmod(linuxTemp.c_str(), mode) != 0) return fail(errno, linuxTemp);
    return true;
}

// ReplaceWithTemp's check: a ReadOnly file or a directory is never replaced.
bool replaceableDestination(const std::string& linuxDestination)
{
    struct stat st { };
    if (::lstat(linuxDestination.c_str(), &st) != 0) return errno == ENOENT ? true : fail(errno, linuxDestination);
    if (S_ISDIR(st.st_mode) || isReadOnlyMode(st.st_mode)) return failCode(err::AccessDenied);
    return true;
}

void copyDosAttributes(int from, int to)
{
    char blob[256];
    const ssize_t n = ::fgetxattr(from, dosattrib::kName, blob, sizeof blob);
    if (n >= 0)
        ::fsetxattr(to, dosattrib::kName, blob, size_t(n), 0); // a file system without xattrs keeps what it derives
}

} // namespace

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

namespace {
FileSystem* g_installed = nullptr;
} // namespace

FileSystem& linuxFileSystem()
{
    static LinuxFileSystem instance;
    return instance;
}

FileSystem& fs()
{
    return g_installed ? *g_installed : linuxFileSystem();
}

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement)
    : m_previous(g_installed)
{
    g_installed = &replacement;
}

ScopedFileSystem::~ScopedFileSystem()
{
    g_installed = m_previous;
}

bool LinuxFileSystem::ReplaceWithTemp(const std::string& tempPath, const std::string& destination)
{
    return ReplaceWithTempAs(tempPath, destination, ReplaceOptions {});
}

bool LinuxFileSystem::ReplaceWithTempAs(
    const std::string& tempPath, const std::string& destination, const ReplaceOptions& options)
{
    const auto linuxTemp = toLinuxPath(tempPath);
    const auto linuxDestination = linuxTemp ? toLinuxPath(destination) : std::nullopt;
    if (!linuxTemp || !linuxDestination) return false;
    if (!replaceableDestination(*linuxDestination) || !applyReplaceOptions(*linuxTemp, options)) return false;
    if (::rename(linuxTemp->c_str(), linuxDestination->c_str()) != 0) return fail(errno, *linuxDestination);
    return true;
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

bool LinuxFileSystem::MoveFile(const std::string& from, const std::string& to)
{
    const auto source = toLinuxPath(from);
    const auto target = source ? toLinuxPath(to) : std::nullopt;
    if (!source || !target) return false;
    struct stat sourceStat { };
    if (::lstat(source->c_str(), &sourceStat) != 0) return fail(errno, *source);
    if (*source == *target) return true;

    // The same entry under another case (a case-insensitive file system) is renamed in place.
    struct stat targetStat { };
    if (::lstat(target->c_str(), &targetStat) == 0 && sameEntry(sourceStat, targetStat)
        && parentOf(*source) == parentOf(*target)
        && ToUpperText(std::string(baseName(*source))) == ToUpperText(std::string(baseName(*target)))) {
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
    struct stat st { };
    if (::fstat(in->NativeHandle(), &st) != 0) return fail(errno, *source);

    // Without overwrite the target is created exclusively; with it, a temporary file takes the
    // bytes and replaces the target only when complete, so a failure leaves the old file as it was.
    std::string written;
    std::unique_ptr<File> out;
    if (failIfExists) {
        out = openLinux(*target, OpenMode::CreateNew);
        written = *target;
    } else {
        if (!replaceableDestination(*target)) return false;
        out = createTempIn(parentOf(*target), written);
    }
    if (!out) return false;

    auto abandon = [&]() {
        const uint32_t code = GetLastError();
        out.reset();
        ::unlink(written.c_str());
        SetLastError(code);
        return false;
    };
    for (;;) {
        const int64_t n = out->CopyFrom(*in, size_t(1) << 30);
        if (n < 0) return abandon();
        if (n == 0) break;
    }
    // The attribute first: writing it needs the write permission the mode may take away.
    copyDosAttributes(in->NativeHandle(), out->NativeHandle());
    const timespec times[2] = { st.st_atim, st.st_mtim };
    if (::fchmod(out->NativeHandle(), st.st_mode & 07777) != 0 || ::futimens(out->NativeHandle(), times) != 0) {
        SetLastErrorFromErrno(errno);
        return abandon();
    }
    if (!failIfExists && ::rename(written.c_str(), target->c_str()) != 0) {
        fail(errno, *target);
        return abandon();
    }
    return true;
}

bool LinuxFileSystem::CreateDirectory(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    if (::mkdir(linuxPath->c_str(), 0777) != 0) {
        const int e = errno;
        // mkdir's ENOENT always means a missing parent.
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
    if (!fd.valid()) fd.reset(::open(parentOf(*linuxPath).c_str(), O_RDONLY | O_CLOEXEC | O_DIRECTORY));
    if (!fd.valid()) return fail(errno, *linuxPath);
    if (::syncfs(fd.get()) != 0) return fail(errno, *linuxPath);
    return true;
}

} // namespace zelo
