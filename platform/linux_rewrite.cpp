// A file opened once for a rewrite of its contents (the text conversions). The path is followed one
// component at a time from open directories, links included, so the file that is read, the file that
// is written and the directory its replacement goes into are the ones found once, whatever names
// change meanwhile.
#include "platform/dosattrib.h"
#include "platform/fd.h"
#include "platform/linux_copy_data.h"
#include "platform/linux_fs_internal.h"

#include <algorithm>
#include <climits>
#include <deque>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <vector>

namespace zelo::linuxfs {

namespace {

constexpr int kMaxLinks = 40; // links followed in one path, as the kernel allows

// Puts the components of path in front of parts, in order.
void PushComponents(std::deque<std::string>& parts, std::string_view path)
{
    std::vector<std::string> components;
    size_t at = 0;
    while (at < path.size()) {
        size_t slash = path.find('/', at);
        if (slash == std::string_view::npos) slash = path.size();
        if (slash > at) components.emplace_back(path.substr(at, slash - at));
        at = slash + 1;
    }
    parts.insert(parts.begin(), components.begin(), components.end());
}

UniqueFd OpenRoot()
{
    return UniqueFd(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
}

// Where a path leads: the entry (never a link), its name and the directory that holds it, each held
// open so that nothing is looked up by text again.
struct Resolved {
    UniqueFd dir;
    std::string name;
    UniqueFd entry; // O_PATH
    struct stat st { };
};

bool Resolve(const std::string& linuxPath, Resolved& out)
{
    std::deque<std::string> parts;
    PushComponents(parts, linuxPath);
    UniqueFd dir = linuxPath.starts_with('/') ? OpenRoot() : UniqueFd(::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dir.valid()) return fail(errno, linuxPath);
    int links = 0;
    while (!parts.empty()) {
        const std::string part = std::move(parts.front());
        parts.pop_front();
        if (part == ".") continue;
        UniqueFd entry(::openat(dir.get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
        struct stat st { };
        if (!entry.valid() || ::fstat(entry.get(), &st) != 0) return fail(errno, linuxPath);
        if (S_ISLNK(st.st_mode)) {
            if (++links > kMaxLinks) return fail(ELOOP, linuxPath);
            std::string target(PATH_MAX, '\0');
            const ssize_t n = ::readlinkat(entry.get(), "", target.data(), target.size());
            if (n < 0) return fail(errno, linuxPath);
            target.resize(size_t(n));
            if (target.starts_with('/')) {
                dir = OpenRoot();
                if (!dir.valid()) return fail(errno, linuxPath);
            }
            PushComponents(parts, target);
            continue;
        }
        const bool last = std::all_of(parts.begin(), parts.end(), [](const std::string& p) { return p == "."; });
        if (S_ISDIR(st.st_mode)) {
            dir = std::move(entry);
            continue;
        }
        if (!last) return fail(ENOTDIR, linuxPath);
        out.dir = std::move(dir);
        out.name = part;
        out.entry = std::move(entry);
        out.st = st;
        return true;
    }
    return failCode(err::AccessDenied); // a directory is no file to rewrite
}

// The resolved file opened with flags: through its /proc entry, which opens that very file; without
// /proc, its name once more, never followed, and only if it is still the same file.
UniqueFd Reopen(const Resolved& r, int flags)
{
    const std::string self = "/proc/self/fd/" + std::to_string(r.entry.get());
    UniqueFd fd(::open(self.c_str(), flags | O_CLOEXEC | O_NOCTTY));
    if (fd.valid() || errno != ENOENT) return fd;
    fd.reset(::openat(r.dir.get(), r.name.c_str(), flags | O_CLOEXEC | O_NOCTTY | O_NOFOLLOW | O_NONBLOCK));
    struct stat st { };
    if (fd.valid() && (::fstat(fd.get(), &st) != 0 || st.st_dev != r.st.st_dev || st.st_ino != r.st.st_ino)) {
        fd.reset();
        errno = EBUSY;
    }
    return fd;
}

// What a file system that keeps no modes or extended attributes answers: the rewrite goes on.
bool Refused(int e)
{
    return e == ENOSYS || e == EPERM || e == EOPNOTSUPP || e == ENOTSUP;
}

// The open file of a rewrite, read and (in place) written through its one descriptor.
class DescriptorFile final : public File {
public:
    explicit DescriptorFile(int fd)
        : m_fd(fd)
    {
    }

    int64_t Read(void* buffer, size_t count) override { return linuxfs::readFull(m_fd, buffer, count); }

    int64_t Write(const void* buffer, size_t count) override { return linuxfs::writeFull(m_fd, buffer, count); }

    int64_t CopyFrom(File&, size_t) override
    {
        SetLastError(err::InvalidParameter);
        return -1;
    }

    bool Seek(int64_t position) override
    {
        if (::lseek(m_fd, off_t(position), SEEK_SET) >= 0) return true;
        SetLastErrorFromErrno(errno);
        return false;
    }

    int64_t Size() override
    {
        struct stat st { };
        if (::fstat(m_fd, &st) == 0) return int64_t(st.st_size);
        SetLastErrorFromErrno(errno);
        return -1;
    }

    bool SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) override
    {
        const timespec times[2] = { toTimespec(lastAccess), toTimespec(lastWrite) };
        if (::futimens(m_fd, times) == 0) return true;
        SetLastErrorFromErrno(errno);
        return false;
    }

    int NativeHandle() const override { return m_fd; }

    bool Flush() override
    {
        if (::fdatasync(m_fd) == 0 || errno == EINVAL) return true;
        SetLastErrorFromErrno(errno);
        return false;
    }

private:
    int m_fd;
};

class LinuxRewriteTarget final : public RewriteTarget {
public:
    LinuxRewriteTarget(Resolved where, UniqueFd fd, const Facts& facts, std::string linuxPath, bool contentReadOnly)
        : m_where(std::move(where))
        , m_fd(std::move(fd))
        , m_content(m_fd.get())
        , m_facts(facts)
        , m_linuxPath(std::move(linuxPath))
        , m_contentReadOnly(contentReadOnly)
    {
    }

    const Facts& Info() const override { return m_facts; }
    File& Content() override { return m_content; }

    std::unique_ptr<File> CreateReplacement() override
    {
        UniqueFd dir(::fcntl(m_where.dir.get(), F_DUPFD_CLOEXEC, 0));
        if (!dir.valid()) {
            fail(errno, m_linuxPath);
            return nullptr;
        }
        auto file = createReplacementAt(std::move(dir), pathAt(m_where.dir.get(), m_where.name));
        // Content opened for reading only cannot take the text back in place.
        if (!file && m_contentReadOnly && GetLastError() == err::AccessDenied) failCode(err::NotSupported);
        return file;
    }

    bool CommitReplacement(std::unique_ptr<File> file) override
    {
        if (!file) return failCode(err::InvalidParameter);
        const int out = file->NativeHandle();
        struct stat now { };
        if (::fstat(m_fd.get(), &now) != 0) return fail(errno, m_linuxPath);
        // The permission bits and Hidden/System/Archive of the file that was read.
        if (::fchmod(out, now.st_mode & 0777) != 0 && !Refused(errno)) return fail(errno, m_linuxPath);
        char blob[256];
        const ssize_t n = ::fgetxattr(m_fd.get(), dosattrib::kName, blob, sizeof blob);
        if (n >= 0 && ::fsetxattr(out, dosattrib::kName, blob, size_t(n), 0) != 0 && !Refused(errno))
            return fail(errno, m_linuxPath);
        // Another file under the name by now: it is not the one that was converted.
        struct stat named { };
        if (::fstatat(m_where.dir.get(), m_where.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno, m_linuxPath);
        if (named.st_dev != now.st_dev || named.st_ino != now.st_ino) return failCode(err::SharingViolation);
        return commitReplacement(std::move(file), pathAt(m_where.dir.get(), m_where.name), ReplaceOptions {});
    }

private:
    Resolved m_where;
    UniqueFd m_fd;
    DescriptorFile m_content;
    Facts m_facts;
    std::string m_linuxPath;
    bool m_contentReadOnly; // opened for reading only, where the file system opens no file for both
};

} // namespace

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

bool File::Truncate(int64_t size)
{
    if (::ftruncate(NativeHandle(), off_t(size)) == 0) return true;
    SetLastErrorFromErrno(errno);
    return false;
}

std::unique_ptr<RewriteTarget> LinuxFileSystem::OpenForRewrite(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return nullptr;
    Resolved where;
    if (!Resolve(*linuxPath, where)) return nullptr;
    // A FIFO, socket or device is never opened.
    if (!S_ISREG(where.st.st_mode)) {
        failCode(err::CannotAccessFile);
        return nullptr;
    }
    RewriteTarget::Facts facts;
    facts.readOnly = isReadOnlyMode(where.st.st_mode);
    UniqueFd fd;
    bool contentReadOnly = false;
    if (facts.readOnly) {
        facts.writeError = err::AccessDenied;
    } else {
        fd = Reopen(where, O_RDWR);
        // Some FUSE file systems (an SMB share through GVfs) open a file for reading or for writing, never
        // both: a file of one name is read here and converted into a replacement all the same.
        if (!fd.valid() && errno == EOPNOTSUPP && where.st.st_nlink == 1) {
            fd = Reopen(where, O_RDONLY);
            contentReadOnly = fd.valid();
        }
        // Readable but not writable here (another user's file, a read-only mount, a running program):
        // read it all the same, the rewrite then says why it cannot write.
        if (!fd.valid() && errno != EACCES && errno != EPERM && errno != EROFS && errno != ETXTBSY) {
            fail(errno, *linuxPath);
            return nullptr;
        }
        if (!fd.valid()) facts.writeError = SetLastErrorFromErrno(errno);
    }
    if (!fd.valid()) fd = Reopen(where, O_RDONLY);
    struct stat st { };
    if (!fd.valid() || ::fstat(fd.get(), &st) != 0) {
        fail(errno, *linuxPath);
        return nullptr;
    }
    facts.size = uint64_t(st.st_size);
    facts.links = uint64_t(st.st_nlink);
    return std::make_unique<LinuxRewriteTarget>(std::move(where), std::move(fd), facts, *linuxPath, contentReadOnly);
}

} // namespace zelo
