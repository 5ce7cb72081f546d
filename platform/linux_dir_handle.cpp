// The tree walks' directory handle on Linux: openat/unlinkat relative to an open directory, one statx per
// entry (none in KindOnly listings) and no extended attribute. Walks over tens of thousands of entries
// spend their time here.
#include "platform/dir_handle.h"
#include "platform/dosattrib.h"
#include "platform/fd.h"
#include "platform/filesystem.h"
#include "platform/linux_fs_internal.h"

#include <atomic>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zelo {

namespace {

constexpr int kOpenDirectoryFlags = O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY;

// Makes the open file Archive only: its ReadOnly (mode) and Hidden/System (user.DOSATTRIB) go. Raw calls
// only: the last error of the copy is left as it is.
void markArchiveOnly(int fd, bool maybeReadOnly)
{
    if (fd < 0) return;
    struct stat st { };
    if (maybeReadOnly && ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && linuxfs::isReadOnlyMode(st.st_mode))
        ::fchmod(fd, (st.st_mode & 07777) | S_IWUSR);
    // Hidden and System live in user.DOSATTRIB; without it the file is Archive already.
    char blob[256];
    const ssize_t n = ::fgetxattr(fd, dosattrib::kName, blob, sizeof blob);
    if (n > 0) {
        auto value = dosattrib::parse(blob, size_t(n));
        if (value && (value->attributes & (kAttrHidden | kAttrSystem | kAttrReadOnly))) {
            value->attributes = kAttrArchive;
            const std::string encoded = dosattrib::encode(*value);
            ::fsetxattr(fd, dosattrib::kName, encoded.data(), encoded.size(), 0);
        }
    }
}

bool isDotOrDotDot(const char* name)
{
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

class LinuxDirHandle final : public DirHandle {
public:
    LinuxDirHandle(UniqueDir dir, const struct stat& st, ListDetail detail)
        : m_dir(std::move(dir))
        , m_fd(::dirfd(m_dir.get()))
        , m_kindOnly(detail == ListDetail::KindOnly)
        , m_detail(detail)
        , m_identity { uint64_t(st.st_dev), uint64_t(st.st_ino) }
    {
    }

    ~LinuxDirHandle() override { TakeBackWrite(); }

    // Takes over an open directory descriptor.
    static std::unique_ptr<DirHandle> fromFd(UniqueFd fd, ListDetail detail)
    {
        struct stat st { };
        if (::fstat(fd.get(), &st) != 0) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        UniqueDir dir(::fdopendir(fd.get()));
        if (!dir.get()) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        fd.release(); // owned by the directory stream now
        return std::make_unique<LinuxDirHandle>(std::move(dir), st, detail);
    }

    bool Next(FindData& out) override
    {
        for (;;) {
            const struct dirent* entry = linuxfs::readEntry(m_dir.get());
            if (!entry) {
                if (GetLastError() == err::Success && m_listError != 0) SetLastErrorFromErrno(m_listError);
                return false;
            }
            const char* name = entry->d_name;
            if (isDotOrDotDot(name)) continue;
            const std::string_view view(name);
            // A file system without inode numbers in its listing (some FUSE ones give 0 or -1) has each
            // entry's identity looked up, so that the check of an opened child holds there too.
            if (m_kindOnly && entry->d_type != DT_UNKNOWN && entry->d_ino != 0 && entry->d_ino != kUnknownInode) {
                // The kind from the directory itself, without a stat (a link still has its target looked at).
                out = FindData {};
                uint32_t attributes = entry->d_type == DT_DIR ? kAttrDirectory : kAttrArchive;
                if (entry->d_type == DT_LNK) attributes = kAttrReparsePoint | linkTargetKind(name);
                if (name[0] == '.') attributes |= kAttrHidden;
                out.attributes = attributes;
                out.fileId = entry->d_ino;
                out.special = entry->d_type == DT_FIFO || entry->d_type == DT_SOCK || entry->d_type == DT_CHR
                    || entry->d_type == DT_BLK;
                out.name.clear();
                AppendDriveName(out.name, view);
                return true;
            }
            if (Fill(name, out)) return true;
            // Only an entry gone since readdir may be passed over; any other failure (a directory that can
            // be listed but not searched, a lookup a network or FUSE file system refuses) makes the
            // listing incomplete, so that nothing is ever taken for missing on its account.
            if (errno != ENOENT && m_listError == 0) m_listError = errno;
        }
    }

    bool Lookup(const std::string& name, FindData& out) override
    {
        // A "\" in a drive-form name is a separator: no entry of this directory.
        if (name.empty() || name.find('/') != std::string::npos || name.find('\\') != std::string::npos || name == "."
            || name == "..")
            return linuxfs::failCode(err::FileNotFound);
        if (Fill(linuxfs::LinuxName(name).c_str(), out)) return true;
        SetLastErrorFromErrno(errno);
        return false;
    }

    // An entry (Linux name) as a full listing reports it, from one statx; false (errno set) when it is gone.
    bool Fill(const char* name, FindData& out) const
    {
        struct statx sx { };
        if (::statx(m_fd, name, linuxfs::kStatxFlags, linuxfs::kStatxMask | STATX_INO, &sx) != 0) return false;
        uint32_t attributes = 0;
        if (S_ISLNK(sx.stx_mode)) {
            attributes = kAttrReparsePoint | linkTargetKind(name);
        } else {
            attributes = S_ISDIR(sx.stx_mode) ? kAttrDirectory : kAttrArchive;
            if (linuxfs::isReadOnlyMode(sx.stx_mode)) attributes |= kAttrReadOnly;
        }
        if (name[0] == '.') attributes |= kAttrHidden;
        out.attributes = attributes;
        out.mountPoint = S_ISDIR(sx.stx_mode) && isMountRoot(sx);
        out.fileId = sx.stx_ino;
        out.special = !S_ISREG(sx.stx_mode) && !S_ISDIR(sx.stx_mode) && !S_ISLNK(sx.stx_mode);
        linuxfs::fillStatFields(sx, out);
        out.name.clear();
        AppendDriveName(out.name, name);
        return true;
    }

    bool Rewind() override
    {
        ::rewinddir(m_dir.get());
        m_listError = 0;
        return true;
    }

    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override
    {
        status = ChildOpen::Failed;
        UniqueFd fd(::openat(m_fd, linuxfs::LinuxName(entry.name).c_str(), kOpenDirectoryFlags | O_NOFOLLOW));
        if (!fd.valid()) {
            const int e = errno;
            // A link or a file where the listing saw a directory: swapped since, never followed.
            if (e == ELOOP || e == ENOTDIR) {
                status = ChildOpen::Changed;
                linuxfs::failCode(err::PathNotFound);
            } else {
                SetLastErrorFromErrno(e, ErrnoCall::Generic, e == ENOENT);
            }
            return nullptr;
        }
        struct statx sx { };
        if (::statx(fd.get(), "", AT_EMPTY_PATH | AT_STATX_SYNC_AS_STAT, STATX_INO | STATX_TYPE, &sx) != 0) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        // Another file system, or a bind mount of this one (same device): another drive's, never entered.
        const bool mountRoot
            = (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
        if (uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor)) != m_identity.device || mountRoot) {
            status = ChildOpen::MountPoint;
            linuxfs::failCode(err::SharingViolation);
            return nullptr;
        }
        if (entry.fileId != 0 && uint64_t(sx.stx_ino) != entry.fileId) {
            status = ChildOpen::Changed;
            linuxfs::failCode(err::PathNotFound);
            return nullptr;
        }
        auto child = fromFd(std::move(fd), m_detail);
        if (child) status = ChildOpen::Opened;
        return child;
    }

    std::unique_ptr<DirHandle> OpenParent(const DirIdentity& expected) override
    {
        UniqueFd fd(::openat(m_fd, "..", kOpenDirectoryFlags));
        struct stat st { };
        if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
            SetLastErrorFromErrno(errno);
            return nullptr;
        }
        // Moved away since the walk came down: the walk does not go on somewhere else.
        if (expected.inode != 0 && DirIdentity { uint64_t(st.st_dev), uint64_t(st.st_ino) } != expected) {
            linuxfs::failCode(err::PathNotFound);
            return nullptr;
        }
        return fromFd(std::move(fd), m_detail);
    }

    DirIdentity Identity() const override { return m_identity; }

    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        const bool realDirectory = (entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint);
        if (realDirectory) return linuxfs::failCode(err::AccessDenied);
        const linuxfs::LinuxName name(entry.name);
        if (!allowReadOnly) {
            // unlink ignores a file's mode: ReadOnly is checked here, for root as well.
            bool readOnly = entry.attributes & kAttrReadOnly;
            if (m_kindOnly) {
                struct stat st { };
                if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno(errno);
                readOnly = linuxfs::isReadOnlyMode(st.st_mode);
            }
            if (readOnly) return linuxfs::failCode(err::AccessDenied);
        }
        if (::unlinkat(m_fd, name.c_str(), 0) != 0) return failErrno(errno);
        return true;
    }

    bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) override
    {
        const linuxfs::LinuxName name(entry.name);
        struct stat st { };
        if (::fstatat(m_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return failErrno(errno);
        if (!S_ISDIR(st.st_mode)) return linuxfs::failCode(err::NotADirectory);
        // Only the very directory that was walked (fileId from its open handle), not one put in its place.
        if (entry.fileId != 0 && uint64_t(st.st_ino) != entry.fileId) return linuxfs::failCode(err::PathNotFound);
        if (!allowReadOnly && linuxfs::isReadOnlyMode(st.st_mode)) return linuxfs::failCode(err::AccessDenied);
        // Linux would remove the process's current directory; the system refuses.
        struct stat current { };
        if (::stat(".", &current) == 0 && current.st_dev == st.st_dev && current.st_ino == st.st_ino)
            return linuxfs::failCode(err::CurrentDirectory);
        if (::unlinkat(m_fd, name.c_str(), AT_REMOVEDIR) != 0) return failErrno(errno, ErrnoCall::RemoveDirectory);
        return true;
    }

    bool CreateSubdirectory(const std::string& name) override
    {
        if (::mkdirat(m_fd, linuxfs::LinuxName(name).c_str(), 0777) == 0) return true;
        const int e = errno;
        // "No such entry" from a directory that is still there is its refusal of the name (exFAT through
        // FUSE answers so for ":" or "?"), as EINVAL is elsewhere.
        struct stat st { };
        if (e == ENOENT && ::fstat(m_fd, &st) == 0 && st.st_nlink > 0) return linuxfs::failCode(err::InvalidName);
        if ((e == EPERM || e == EACCES) && !linuxfs::FatHoldsName(linuxfs::LinuxName(name).c_str()))
            return linuxfs::failCode(err::InvalidName);
        return failErrno(e, ErrnoCall::MakeDirectory);
    }

    bool CopyLinkTo(const FindData& entry, DirHandle& destination) override
    {
        const int to = destination.NativeHandle();
        // A destination without a descriptor is a share reached directly: it keeps no links.
        if (to < 0) return linuxfs::failCode(err::NotSupported);
        const linuxfs::LinuxName name(entry.name);
        std::string target(256, '\0');
        for (;;) {
            const ssize_t n = ::readlinkat(m_fd, name.c_str(), target.data(), target.size());
            if (n < 0) return failErrno(errno);
            if (size_t(n) < target.size()) {
                target.resize(size_t(n));
                break;
            }
            target.resize(target.size() * 2);
        }
        // Made under a hidden name and renamed into place, so an earlier file of that name stays until the
        // link is complete; rename never puts a link in place of a directory.
        std::string temporary;
        for (int attempt = 0;; ++attempt) {
            temporary = ".zelo-link-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
            if (::symlinkat(target.c_str(), to, temporary.c_str()) == 0) break;
            // A file system without links (a network share, FAT) refuses every one of them.
            if (errno == EOPNOTSUPP || errno == EPERM) return linuxfs::failCode(err::NotSupported);
            if (errno != EEXIST || attempt >= 100) return failErrno(errno, ErrnoCall::CreateNoReplace);
        }
        struct stat existing { };
        if (::fstatat(to, name.c_str(), &existing, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(existing.st_mode)) {
            ::unlinkat(to, temporary.c_str(), 0);
            return linuxfs::failCode(err::AccessDenied);
        }
        if (::renameat(to, temporary.c_str(), to, name.c_str()) != 0) {
            const int e = errno;
            ::unlinkat(to, temporary.c_str(), 0);
            return failErrno(e, ErrnoCall::CreateNoReplace);
        }
        const timespec times[2]
            = { linuxfs::toTimespec(&entry.lastAccessTime), linuxfs::toTimespec(&entry.lastWriteTime) };
        ::utimensat(to, name.c_str(), times, AT_SYMLINK_NOFOLLOW); // a file system without link times keeps its own
        return true;
    }

    // Asked once per directory, by whichever copy thread comes first.
    bool PlainModes()
    {
        int plain = m_plainModes.load(std::memory_order_relaxed);
        if (plain < 0) {
            plain = linuxfs::withoutDefaultAcl(m_fd) ? 1 : 0;
            m_plainModes.store(plain, std::memory_order_relaxed);
        }
        return plain == 1;
    }

    std::unique_ptr<File> OpenForCopy(const FindData& entry) override
    {
        return linuxfs::openForCopyAt(m_fd, linuxfs::LinuxName(entry.name).str());
    }

    std::unique_ptr<File> CreateReplacement(const std::string& name, bool listedFree) override
    {
        // The file uses this handle's descriptor: it is committed or dropped while the handle is open.
        return linuxfs::createReplacementIn(m_fd, linuxfs::pathAt(m_fd, linuxfs::LinuxName(name).str()), listedFree,
            static_cast<dev_t>(m_identity.device), PlainModes(), &m_traits);
    }

    bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override
    {
        return linuxfs::commitReplacement(
            std::move(file), linuxfs::pathAt(m_fd, linuxfs::LinuxName(name).str()), options, false);
    }

    void MarkArchiveOnly(const FindData& entry, File& opened) override
    {
        // ReadOnly as the listing saw it (a listing without it looks again).
        markArchiveOnly(opened.NativeHandle(), (entry.attributes & kAttrReadOnly) || m_kindOnly);
    }

    bool MoveEntryTo(const FindData& entry, DirHandle& target) override
    {
        const int to = target.NativeHandle();
        if (to < 0) return Unsupported();
        const linuxfs::LinuxName linuxName(entry.name);
        const char* name = linuxName.c_str();
        if (!StillListed(entry)) return false;
        if (::renameat2(m_fd, name, to, name, RENAME_NOREPLACE) == 0) return true;
        if (errno != EINVAL && errno != ENOSYS) return failErrno(errno, ErrnoCall::Move);
        // Without the flag (NFS, some FUSE): refused when the name is taken, then a plain rename.
        struct stat taken { };
        if (::fstatat(to, name, &taken, AT_SYMLINK_NOFOLLOW) == 0) return linuxfs::failCode(err::AlreadyExists);
        if (::renameat(m_fd, name, to, name) != 0) return failErrno(errno, ErrnoCall::Move);
        return true;
    }

    bool LinkEntryTo(const FindData& entry, DirHandle& target) override
    {
        const int to = target.NativeHandle();
        if (to < 0) return Unsupported();
        if (!StillListed(entry)) return false;
        const linuxfs::LinuxName name(entry.name);
        if (::linkat(m_fd, name.c_str(), to, name.c_str(), 0) != 0) return failErrno(errno, ErrnoCall::CreateNoReplace);
        return true;
    }

    int NativeHandle() const override { return m_fd; }

    bool IsReadOnly() override
    {
        struct stat st { };
        return ::fstat(m_fd, &st) == 0 && linuxfs::isReadOnlyMode(st.st_mode);
    }

    bool LendWrite() override
    {
        struct stat st { };
        if (m_lent || ::fstat(m_fd, &st) != 0 || !linuxfs::isReadOnlyMode(st.st_mode)) return false;
        if (::fchmod(m_fd, (st.st_mode & 07777) | S_IWUSR) != 0) return false;
        m_lentFrom = st.st_mode & 07777;
        m_lent = true;
        return true;
    }

    void TakeBackWrite() override
    {
        if (!m_lent) return;
        const KeepLastError keep;
        ::fchmod(m_fd, m_lentFrom);
        m_lent = false;
    }

    bool IsSystemRoot() override
    {
        struct stat root { };
        return ::stat("/", &root) == 0 && uint64_t(root.st_dev) == m_identity.device
            && uint64_t(root.st_ino) == m_identity.inode;
    }

private:
    // Whether the name still holds the entry listed (by inode, where the listing knew it).
    bool StillListed(const FindData& entry) const
    {
        struct stat st { };
        if (::fstatat(m_fd, linuxfs::LinuxName(entry.name).c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return failErrno(errno);
        if (entry.fileId != 0 && uint64_t(st.st_ino) != entry.fileId) return linuxfs::failCode(err::PathNotFound);
        return true;
    }

    static bool failErrno(int e, ErrnoCall call = ErrnoCall::Generic)
    {
        SetLastErrorFromErrno(e, call, e == ENOENT);
        return false;
    }

    // Directory when a link points at a directory (looked at once, never entered).
    uint32_t linkTargetKind(const char* name) const
    {
        struct stat target { };
        return ::fstatat(m_fd, name, &target, 0) == 0 && S_ISDIR(target.st_mode) ? kAttrDirectory : kAttrArchive;
    }

    // The root of another mount: the kernel says so where it can, else the device differs.
    bool isMountRoot(const struct statx& sx) const
    {
        if (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
        return uint64_t(makedev(sx.stx_dev_major, sx.stx_dev_minor)) != m_identity.device;
    }

    // What readdir gives where the file system has no inode number for an entry.
    static constexpr uint64_t kUnknownInode = 0xFFFFFFFFu;

    UniqueDir m_dir;
    int m_fd;
    int m_listError = 0; // the first lookup of this listing that failed for another cause than "gone"
    bool m_kindOnly;
    ListDetail m_detail;
    DirIdentity m_identity;
    std::atomic<int> m_plainModes { -1 }; // no default ACL here: 1, one: 0, not asked yet: -1
    linuxfs::DirectoryTraits m_traits; // what the copies made here learn of the file system
    bool m_lent = false;
    mode_t m_lentFrom = 0;
};

} // namespace

void MarkArchiveOnly(File& opened)
{
    markArchiveOnly(opened.NativeHandle(), true);
}

std::unique_ptr<DirHandle> linuxfs::LinuxFileSystem::OpenTreeDirectory(
    const std::string& dirWithSep, ListDetail detail, bool followLink)
{
    const auto linuxPath = linuxfs::toLinuxPath(dirWithSep);
    if (!linuxPath) return nullptr;
    std::string path = *linuxPath;
    // Without its trailing "/": that would make the kernel follow a link.
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    // A drive's own directory may be given through a link; any other root of a walk is never a link.
    const bool driveRoot = linuxfs::isDriveRoot(dirWithSep, path) || linuxfs::isDriveRoot(dirWithSep, *linuxPath);
    UniqueFd fd(::open(path.c_str(), kOpenDirectoryFlags | (driveRoot || followLink ? 0 : O_NOFOLLOW)));
    if (!fd.valid()) {
        const int e = errno;
        if (e == ELOOP || e == ENOTDIR) {
            linuxfs::failCode(err::PathNotFound);
        } else {
            // The directory itself is missing: "path not found".
            SetLastErrorFromErrno(e, ErrnoCall::Generic, e == ENOENT);
        }
        return nullptr;
    }
    return LinuxDirHandle::fromFd(std::move(fd), detail);
}

} // namespace zelo
