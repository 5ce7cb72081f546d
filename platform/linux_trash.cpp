// The freedesktop trash on Linux: the home trash under $XDG_DATA_HOME, the per-mount trash at the top
// of any other mount, .trashinfo records reserved before the move.
//
// Ours rather than Qt 6.4's QFile::moveToTrash, which agrees on the sticky .Trash check, the per-mount
// .Trash-UID and bind mounts, but takes names as QString (a name that is not UTF-8 cannot be reached),
// loops for ever on a name too long for its .trashinfo record, and reports no error code.
#include "platform/linux_path.h"
#include "platform/trash.h"

#include "platform/errors.h"
#include "platform/linux_copy_data.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace zelo {

using linuxfs::BaseName;
using linuxfs::JoinPath;
using linuxfs::ParentOf;

namespace {

// The home trash: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when the variable is unset or relative.
std::string HomeTrash()
{
    const char* data = std::getenv("XDG_DATA_HOME");
    if (data && data[0] == '/') return JoinPath(data, "Trash");
    const char* home = std::getenv("HOME");
    return std::string(home ? home : "") + "/.local/share/Trash";
}

// The mount an entry is on: its device and, where the kernel tells it, the mount's own id. A bind
// mount of the home's file system is a mount of its own: a rename out of it fails as across devices.
struct MountId {
    dev_t device = 0;
    uint64_t mount = 0; // 0 where the kernel gives no mount id: the device alone decides
    bool operator==(const MountId&) const = default;
};

std::optional<MountId> MountOf(const std::string& path, bool followLink = true)
{
    struct statx sx { };
    if (::statx(AT_FDCWD, path.c_str(), followLink ? 0 : AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &sx) != 0)
        return std::nullopt;
    return MountId { makedev(sx.stx_dev_major, sx.stx_dev_minor), (sx.stx_mask & STATX_MNT_ID) ? sx.stx_mnt_id : 0 };
}

// The mount of a path, or of the nearest directory above it that exists.
std::optional<MountId> NearestMountOf(std::string path)
{
    for (;;) {
        if (const auto id = MountOf(path)) return id;
        if (path == "/" || path == ".") return std::nullopt;
        path = ParentOf(path);
    }
}

// Makes every missing directory of path with mode 0700 (the trash is private to its owner).
bool MakeDirectories(const std::string& path)
{
    struct stat st { };
    if (::lstat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return true;
        SetLastErrorFromErrno(ENOTDIR);
        return false;
    }
    if (path != "/" && !MakeDirectories(ParentOf(path))) return false;
    if (::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST) return true;
    SetLastErrorFromErrno(errno, ErrnoCall::MakeDirectory);
    return false;
}

// A trash directory is used only when it is a real directory (no link) owned by the user.
bool OwnDirectory(const std::string& path)
{
    if (!MakeDirectories(path)) return false;
    struct stat st { };
    if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid()) {
        SetLastError(err::AccessDenied);
        return false;
    }
    return MakeDirectories(JoinPath(path, "files")) && MakeDirectories(JoinPath(path, "info"));
}

// The top directory of the mount that holds dir (a real path): the last directory upwards on its mount.
std::string MountTop(std::string dir, const MountId& mount)
{
    while (dir != "/") {
        const std::string parent = ParentOf(dir);
        if (MountOf(parent) != mount) break;
        dir = parent;
    }
    return dir;
}

struct Target {
    std::string trashDir;
    std::string infoPath; // the Path= value: absolute in the home trash, relative to the mount top elsewhere
};

std::optional<Target> FindTrash(const std::string& linuxPath)
{
    char resolved[PATH_MAX];
    if (!::realpath(ParentOf(linuxPath).c_str(), resolved)) {
        SetLastErrorFromErrno(errno, ErrnoCall::Generic, true);
        return std::nullopt;
    }
    const std::string parent = resolved;
    const std::string absolute = JoinPath(parent, std::string(BaseName(linuxPath)));
    const std::optional<MountId> mount = MountOf(absolute, false);
    if (!mount) {
        SetLastErrorFromErrno(errno);
        return std::nullopt;
    }
    const std::string home = HomeTrash();
    if (NearestMountOf(home) == mount) {
        if (!OwnDirectory(home)) return std::nullopt;
        return Target { home, absolute };
    }
    const std::string top = MountTop(parent, *mount);
    const std::string relative = absolute.substr(top == "/" ? 1 : top.size() + 1);
    const std::string uid = std::to_string(::getuid());
    // An administrator's shared .Trash counts only when it is a sticky directory and not a link.
    const std::string shared = JoinPath(top, ".Trash");
    struct stat sharedStat { };
    if (::lstat(shared.c_str(), &sharedStat) == 0 && S_ISDIR(sharedStat.st_mode) && (sharedStat.st_mode & S_ISVTX)
        && OwnDirectory(JoinPath(shared, uid)))
        return Target { JoinPath(shared, uid), relative };
    const std::string own = JoinPath(top, ".Trash-" + uid);
    if (!OwnDirectory(own)) return std::nullopt;
    return Target { own, relative };
}

constexpr std::string_view kInfoSuffix = ".trashinfo";

// The longest name in the trash whose record's name still fits the file system of info.
size_t LongestTrashName(const std::string& info)
{
    long most = ::pathconf(info.c_str(), _PC_NAME_MAX);
    if (most <= 0 || most > NAME_MAX) most = NAME_MAX;
    return std::max<size_t>(size_t(most) - std::min(size_t(most), kInfoSuffix.size()), 16);
}

// The n-th name tried in the trash: the name itself, then "stem.2.ext", "stem.3.ext", ...; the stem is
// cut at a character's start to at most most bytes in all (the record keeps the original path).
std::string TrashName(const std::string& name, int n, size_t most)
{
    const size_t dot = name.find_last_of('.');
    std::string extension = dot != std::string::npos && dot > 0 ? name.substr(dot) : std::string();
    const std::string number = n == 1 ? std::string() : "." + std::to_string(n);
    if (extension.size() + number.size() > most / 2) extension.clear(); // a long "extension" is cut as the stem
    std::string stem = name.substr(0, name.size() - extension.size());
    const size_t room = most - extension.size() - number.size();
    if (stem.size() > room) {
        size_t cut = room;
        for (int back = 0; back < 3 && cut > 1 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80; ++back)
            --cut;
        stem.resize(cut);
    }
    return stem + number + extension;
}

std::string DeletionDate()
{
    const time_t now = ::time(nullptr);
    struct tm local { };
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

class LinuxTrash : public Trash {
public:
    bool MoveToTrash(const std::string& linuxPath) override
    {
        const std::optional<Target> target = FindTrash(linuxPath);
        if (!target) return false;
        const std::string files = JoinPath(target->trashDir, "files");
        const std::string info = JoinPath(target->trashDir, "info");
        const std::string record
            = "[Trash Info]\nPath=" + TrashInfoPath(target->infoPath) + "\nDeletionDate=" + DeletionDate() + "\n";
        const std::string name(BaseName(linuxPath));
        const size_t most = LongestTrashName(info);
        for (int n = 1; n < 10000; ++n) {
            const std::string candidate = TrashName(name, n, most);
            const std::string infoFile = JoinPath(info, candidate + std::string(kInfoSuffix));
            // The record is made first and exclusively: it reserves the name against other programs.
            const int fd = ::open(infoFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            if (fd < 0) {
                if (errno == EEXIST) continue;
                SetLastErrorFromErrno(errno);
                return false;
            }
            const bool written = linuxfs::writeFull(fd, record.data(), record.size()) >= 0;
            const uint32_t writeError = GetLastError();
            if (::close(fd) != 0 || !written) {
                if (written)
                    SetLastErrorFromErrno(errno);
                else
                    SetLastError(writeError);
                ::unlink(infoFile.c_str());
                return false;
            }
            const std::string inFiles = JoinPath(files, candidate);
            if (::renameat2(AT_FDCWD, linuxPath.c_str(), AT_FDCWD, inFiles.c_str(), RENAME_NOREPLACE) == 0) return true;
            int e = errno;
            // A file system without the no-replace flag (NFS, some FUSE): the name is free, as the
            // exclusive record shows, unless a stray file holds it.
            if ((e == EINVAL || e == ENOSYS) && ::access(inFiles.c_str(), F_OK) != 0 && errno == ENOENT) {
                if (::rename(linuxPath.c_str(), inFiles.c_str()) == 0) return true;
                e = errno;
            }
            ::unlink(infoFile.c_str());
            if (e == EEXIST) continue; // a stray file without its record holds the name
            SetLastErrorFromErrno(e, ErrnoCall::Move);
            return false;
        }
        SetLastError(err::AlreadyExists);
        return false;
    }
};

} // namespace

std::optional<std::string> TrashDirectoryFor(const std::string& linuxPath)
{
    const std::optional<Target> target = FindTrash(linuxPath);
    if (!target) return std::nullopt;
    return target->trashDir;
}

std::string TrashInfoPath(const std::string& path)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : path) {
        const auto b = static_cast<unsigned char>(c);
        const bool keep = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9') || b == '/'
            || b == '-' || b == '_' || b == '.' || b == '~';
        if (keep) {
            out += c;
        } else {
            out += '%';
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    return out;
}

Trash& trash()
{
    static LinuxTrash instance;
    return instance;
}

} // namespace zelo
