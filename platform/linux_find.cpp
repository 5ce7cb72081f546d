// The directory search: opendir over the directory part, the wildcard over the last component.
#include "platform/fd.h"
#include "platform/linux_fs_internal.h"
#include "platform/time.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace zelo::linuxfs {

namespace {

FileTime toFileTime(const struct statx_timestamp& t)
{
    return FileTimeFromUnix(t.tv_sec, t.tv_nsec);
}

} // namespace

UniqueDir openDirectoryStream(const std::string& linuxDir)
{
    UniqueFd fd(::open(linuxDir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd.valid()) {
        const int e = errno;
        // The directory itself is missing: "path not found".
        SetLastErrorFromErrno(e, ErrnoCall::Generic, e == ENOENT);
        return UniqueDir();
    }
    UniqueDir dir(::fdopendir(fd.get()));
    if (!dir.get()) {
        SetLastErrorFromErrno(errno);
        return dir;
    }
    fd.release(); // owned by the directory stream now
    return dir;
}

std::unique_ptr<DirSearch> withFirstEntry(std::unique_ptr<DirSearch> search, FindData& first)
{
    if (!search->Next(first)) {
        if (GetLastError() == err::Success) SetLastError(err::FileNotFound);
        return nullptr;
    }
    return search;
}

void fillStatFields(const struct statx& sx, FindData& out)
{
    out.creationTime = (sx.stx_mask & STATX_BTIME) ? toFileTime(sx.stx_btime) : FileTime {};
    out.lastAccessTime = toFileTime(sx.stx_atime);
    out.lastWriteTime = toFileTime(sx.stx_mtime);
    out.sizeHigh = uint32_t(sx.stx_size >> 32);
    out.sizeLow = uint32_t(sx.stx_size & 0xFFFFFFFFu);
}

namespace {

bool hasWildcard(std::string_view name)
{
    return name.find_first_of("*?") != std::string_view::npos;
}

// Fills out from one statx; false when the entry is filtered out by the mask. name: the Linux name,
// handed on in drive form.
bool fillEntry(const std::string& linuxPath, std::string_view name, const struct statx& sx, uint32_t attrMask,
    bool* xattrUnsupported, FindData& out)
{
    const uint32_t attributes = attributesOf(linuxPath, name, sx.stx_mode, xattrUnsupported);
    if (!passesMask(attributes, attrMask)) return false;
    out.attributes = attributes;
    fillStatFields(sx, out);
    out.name.clear();
    AppendDriveName(out.name, name);
    return true;
}

class LinuxDirSearch final : public DirSearch {
public:
    LinuxDirSearch(UniqueDir dir, std::string linuxDir, std::string pattern, uint32_t attrMask, bool driveRoot)
        : m_dir(std::move(dir))
        , m_linuxDir(std::move(linuxDir))
        , m_pattern(std::move(pattern))
        , m_attrMask(attrMask)
        , m_driveRoot(driveRoot)
        , m_matchAll(m_pattern == "*" || m_pattern == "*.*")
    {
        if (m_linuxDir.empty() || m_linuxDir.back() != '/') m_linuxDir += '/';
        m_prefixSize = m_linuxDir.size();
    }

    bool Next(FindData& out) override
    {
        for (;;) {
            const struct dirent* entry = readEntry(m_dir.get());
            if (!entry) return false;
            const std::string_view name(entry->d_name);
            if (m_driveRoot && (name == "." || name == "..")) continue;
            // The pattern is matched against the name as the drive path shows it.
            if (!m_matchAll) {
                m_name.clear();
                AppendDriveName(m_name, name);
                if (!MatchWildcard(m_pattern, m_name)) continue;
            }
            struct statx sx { };
            if (::statx(::dirfd(m_dir.get()), entry->d_name, kStatxFlags, kStatxMask, &sx) != 0)
                continue; // gone since readdir
            m_linuxDir.resize(m_prefixSize);
            m_linuxDir.append(name);
            const bool passed = fillEntry(m_linuxDir, name, sx, m_attrMask, &m_xattrUnsupported, out);
            m_linuxDir.resize(m_prefixSize);
            if (passed) return true;
        }
    }

private:
    UniqueDir m_dir;
    std::string m_linuxDir; // with a trailing "/", an entry's path is built in place behind it
    size_t m_prefixSize = 0;
    std::string m_pattern;
    uint32_t m_attrMask;
    bool m_driveRoot;
    bool m_matchAll; // "*" and "*.*" take every name: no per-entry match
    bool m_xattrUnsupported = false;
    std::string m_name; // reused buffer for the match
};

// A search for one exact name: it has found everything with its first entry.
class SingleSearch final : public DirSearch {
public:
    bool Next(FindData&) override
    {
        SetLastError(err::Success);
        return false;
    }
};

} // namespace

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

std::unique_ptr<DirSearch> LinuxFileSystem::FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first)
{
    const size_t separator = pattern.rfind('\\');
    if (separator == std::string::npos) {
        failCode(err::PathNotFound);
        return nullptr;
    }
    std::string directory = pattern.substr(0, separator);
    const std::string last = pattern.substr(separator + 1);
    if (directory.size() == 2 && directory[1] == ':') directory += '\\';
    const auto linuxDir = toLinuxPath(directory);
    if (!linuxDir) return nullptr;
    // Resolved, so "C:\a\..\*.*" is the root too: its ".." would lead out of the drive.
    const bool driveRoot = isDriveRoot(directory, *linuxDir);
    if (last.empty()) {
        failCode(err::FileNotFound);
        return nullptr;
    }

    if (!hasWildcard(last)) {
        const std::string linuxName = LinuxNameFromDrive(last);
        const std::string linuxPath = JoinPath(*linuxDir, linuxName);
        struct statx sx { };
        if (::statx(AT_FDCWD, linuxPath.c_str(), kStatxFlags, kStatxMask, &sx) != 0) {
            const int e = errno;
            struct stat dirStat { };
            const bool dirMissing = ::stat(linuxDir->c_str(), &dirStat) != 0 || !S_ISDIR(dirStat.st_mode);
            SetLastErrorFromErrno(e, ErrnoCall::Generic, dirMissing);
            return nullptr;
        }
        if ((driveRoot && (last == "." || last == ".."))
            || !fillEntry(linuxPath, linuxName, sx, attrMask, nullptr, first)) {
            failCode(err::FileNotFound);
            return nullptr;
        }
        return std::make_unique<SingleSearch>();
    }

    UniqueDir dir = openDirectoryStream(*linuxDir);
    if (!dir.get()) return nullptr;
    return withFirstEntry(
        std::make_unique<LinuxDirSearch>(std::move(dir), *linuxDir, last, attrMask, driveRoot), first);
}

} // namespace zelo
