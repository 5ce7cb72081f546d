// The search of the tree walks: one statx per entry and no extended attribute, deletion through the
// open directory. Walks over tens of thousands of entries spend their time here.
#include "platform/fd.h"
#include "platform/filesystem.h"
#include "platform/linux_fs_internal.h"
#include "platform/time.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace zelo {

namespace {

// The default search's entries without "." and "..".
class NoDotSearch final : public DirSearch {
public:
    explicit NoDotSearch(std::unique_ptr<DirSearch> inner)
        : m_inner(std::move(inner))
    {
    }
    bool Next(FindData& out) override
    {
        while (m_inner->Next(out)) {
            if (out.name != "." && out.name != "..") return true;
        }
        return false;
    }

private:
    std::unique_ptr<DirSearch> m_inner;
};

class LinuxTreeSearch final : public DirSearch {
public:
    LinuxTreeSearch(UniqueDir dir, TreeSearchDetail detail)
        : m_dir(std::move(dir))
        , m_kindOnly(detail == TreeSearchDetail::KindOnly)
    {
        struct stat st { };
        if (::fstat(::dirfd(m_dir.get()), &st) == 0) m_device = st.st_dev;
    }

    bool Next(FindData& out) override
    {
        const int dirFd = ::dirfd(m_dir.get());
        for (;;) {
            const struct dirent* entry = linuxfs::readEntry(m_dir.get());
            if (!entry) return false;
            const char* name = entry->d_name;
            if ((name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))) continue;
            const std::string_view view(name);
            // A name with "\" cannot be written as a drive path.
            if (view.find('\\') != std::string_view::npos) continue;
            if (m_kindOnly && entry->d_type != DT_UNKNOWN) {
                // The kind from the directory itself, without a stat (a link still has its target looked at).
                out = FindData {};
                uint32_t attributes = entry->d_type == DT_DIR ? kAttrDirectory : kAttrArchive;
                if (entry->d_type == DT_LNK) {
                    struct stat target { };
                    const bool toDirectory = ::fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
                    attributes = kAttrReparsePoint | (toDirectory ? kAttrDirectory : kAttrArchive);
                }
                if (name[0] == '.') attributes |= kAttrHidden;
                out.attributes = attributes;
                if (entry->d_type == DT_DIR) {
                    struct statx sx { };
                    out.mountPoint
                        = ::statx(dirFd, name, linuxfs::kStatxFlags, STATX_TYPE, &sx) == 0 && isMountRoot(sx);
                }
                out.name.assign(view.data(), view.size());
                return true;
            }
            struct statx sx { };
            if (::statx(dirFd, name, linuxfs::kStatxFlags, linuxfs::kStatxMask, &sx) != 0)
                continue; // gone since readdir
            uint32_t attributes = 0;
            if (S_ISLNK(sx.stx_mode)) {
                struct stat target { };
                const bool toDirectory = ::fstatat(dirFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode);
                attributes = kAttrReparsePoint | (toDirectory ? kAttrDirectory : kAttrArchive);
            } else {
                attributes = S_ISDIR(sx.stx_mode) ? kAttrDirectory : kAttrArchive;
                if (linuxfs::isReadOnlyMode(sx.stx_mode)) attributes |= kAttrReadOnly;
            }
            if (name[0] == '.') attributes |= kAttrHidden;
            out.attributes = attributes;
            out.mountPoint = S_ISDIR(sx.stx_mode) && isMountRoot(sx);
            linuxfs::fillStatFields(sx, out);
            out.name.assign(view.data(), view.size());
            return true;
        }
    }

    bool DeleteFound(const std::string& path, const FindData& entry) override
    {
        // unlink ignores a file's mode: ReadOnly is checked here, for root as well.
        const bool realDirectory = (entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint);
        if ((entry.attributes & kAttrReadOnly) || realDirectory) {
            SetLastError(err::AccessDenied);
            return false;
        }
        if (::unlinkat(::dirfd(m_dir.get()), entry.name.c_str(), 0) != 0) {
            (void)path;
            SetLastErrorFromErrno(errno);
            return false;
        }
        return true;
    }

private:
    // The root of another mount: the kernel says so where it can, else the device differs.
    bool isMountRoot(const struct statx& sx) const
    {
        if (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) return (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT) != 0;
        return makedev(sx.stx_dev_major, sx.stx_dev_minor) != m_device;
    }

    UniqueDir m_dir;
    bool m_kindOnly;
    dev_t m_device = 0;
};

} // namespace

bool DirSearch::DeleteFound(const std::string& path, const FindData&)
{
    return fs().DeleteFile(path);
}

// Other file systems (test doubles, wrappers) walk with their own full search.
std::unique_ptr<DirSearch> FileSystem::FindFirstInTree(const std::string& dirWithSep, FindData& first, TreeSearchDetail)
{
    auto inner = FindFirst(dirWithSep + "*.*", kAttrMaskAll, first);
    if (!inner) return nullptr;
    auto search = std::make_unique<NoDotSearch>(std::move(inner));
    if (first.name == "." || first.name == "..") {
        if (!search->Next(first)) {
            if (GetLastError() == err::Success) SetLastError(err::FileNotFound);
            return nullptr;
        }
    }
    return search;
}

std::unique_ptr<DirSearch> linuxfs::LinuxFileSystem::FindFirstInTree(
    const std::string& dirWithSep, FindData& first, TreeSearchDetail detail)
{
    const auto linuxDir = linuxfs::toLinuxPath(dirWithSep);
    if (!linuxDir) return nullptr;
    UniqueDir dir = linuxfs::openDirectoryStream(*linuxDir);
    if (!dir.get()) return nullptr;
    return linuxfs::withFirstEntry(std::make_unique<LinuxTreeSearch>(std::move(dir), detail), first);
}

} // namespace zelo
