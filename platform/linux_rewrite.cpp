// A file opened once for a rewrite of its contents (the text conversions). The path is followed one
// component at a time from open directories, links included, so the file that is read, the file that
// is written and the directory its replacement goes into are the ones found once, whatever names
// change meanwhile. Before a write-back in place, the original is copied into a kept copy, named and
// flushed with its directory, so a crash during the write-back leaves it whole.
#include "platform/dosattrib.h"
#include "platform/drives.h"
#include "platform/fd.h"
#include "platform/linux_copy_data.h"
#include "platform/linux_file.h"
#include "platform/linux_fs_internal.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <deque>
#include <functional>
#include <optional>
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

// A copy of a file's original bytes, kept while the file is written back in place: unnamed until it is
// complete (a hidden temporary name where the file system makes no unnamed files), then named for good.
class KeptCopyFile final : public LinuxFile {
public:
    KeptCopyFile(UniqueFd fd, UniqueFd dir, std::string tempName)
        : LinuxFile(std::move(fd))
        , m_dir(std::move(dir))
        , m_tempName(std::move(tempName))
    {
    }
    ~KeptCopyFile() override
    {
        closeQuietly();
        if (!m_tempName.empty()) ::unlinkat(m_dir.get(), m_tempName.c_str(), 0);
    }

    int Dir() const { return m_dir.get(); }

    // Gives the copy the first free name of candidate(0), candidate(1)...; never replaces anything.
    // False with errno set.
    bool Name(const std::function<std::string(int)>& candidate, std::string& named)
    {
        for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
            const std::string name = candidate(attempt);
            if (LinkAs(name)) {
                if (!m_tempName.empty()) ::unlinkat(m_dir.get(), m_tempName.c_str(), 0);
                m_tempName.clear();
                named = name;
                return true;
            }
            if (errno != EEXIST) return false;
        }
        errno = EEXIST;
        return false;
    }

private:
    static constexpr int kNameAttempts = 100;

    bool LinkAs(const std::string& name)
    {
        const int dir = m_dir.get();
        if (!m_tempName.empty()) {
            if (::linkat(dir, m_tempName.c_str(), dir, name.c_str(), 0) == 0) return true;
            if (errno != EPERM && errno != EOPNOTSUPP) return false;
            // A file system without hard links: a rename, to a name seen free just before.
            struct stat st { };
            if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
                errno = EEXIST;
                return false;
            }
            if (::renameat(dir, m_tempName.c_str(), dir, name.c_str()) != 0) return false;
            m_tempName.clear();
            return true;
        }
        if (::linkat(NativeHandle(), "", dir, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        if (errno != ENOENT && errno != EPERM) return false;
        // Without the privilege to link a descriptor, through its /proc entry.
        const std::string self = "/proc/self/fd/" + std::to_string(NativeHandle());
        return ::linkat(AT_FDCWD, self.c_str(), dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }

    UniqueFd m_dir;
    std::string m_tempName;
};

// A new kept copy in dir, readable by its owner only; null with errno set.
std::unique_ptr<KeptCopyFile> MakeKeptCopy(UniqueFd dir)
{
    UniqueFd fd(::openat(dir.get(), ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd.valid()) return std::make_unique<KeptCopyFile>(std::move(fd), std::move(dir), std::string());
    if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) return nullptr;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = ".zelo-kept-" + std::to_string(::getpid()) + "-" + std::to_string(attempt) + ".tmp";
        fd.reset(::openat(dir.get(), name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd.valid()) return std::make_unique<KeptCopyFile>(std::move(fd), std::move(dir), std::move(name));
        if (errno != EEXIST) break;
    }
    return nullptr;
}

// $XDG_STATE_HOME/zelo, or ~/.local/state/zelo (a relative XDG_STATE_HOME is ignored, as the XDG base
// directory rules ask); made where missing, for its owner only.
std::optional<std::string> StateFolder()
{
    std::string base;
    const char* state = std::getenv("XDG_STATE_HOME");
    const char* home = std::getenv("HOME");
    if (state && state[0] == '/')
        base = state;
    else if (home && home[0] == '/')
        base = JoinPath(home, ".local/state");
    else
        return std::nullopt;
    const std::string folder = JoinPath(base, "zelo");
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return std::nullopt;
        if (slash == std::string::npos) break;
    }
    return folder;
}

// The path an open directory has now.
std::string PathOf(int dir)
{
    std::string path(PATH_MAX, '\0');
    const ssize_t n = ::readlink(("/proc/self/fd/" + std::to_string(dir)).c_str(), path.data(), path.size());
    path.resize(n > 0 ? size_t(n) : 0);
    return path;
}

constexpr std::string_view kKeptSuffix = ".zelo-original";
constexpr size_t kNameMax = 255;

// The first bytes of text, at most max, never part of a UTF-8 character.
std::string_view Head(std::string_view text, size_t max)
{
    if (text.size() <= max) return text;
    while (max > 0 && (uint8_t(text[max]) & 0xC0) == 0x80)
        --max;
    return text.substr(0, max);
}

// The name of a kept copy beside the file: ".NAME.zelo-original", then "-2", "-3"...
std::string BesideName(std::string_view name, int attempt)
{
    const std::string number = attempt == 0 ? "" : "-" + std::to_string(attempt + 1);
    const size_t room = kNameMax - 1 - kKeptSuffix.size() - number.size();
    return "." + std::string(Head(name, room)) + std::string(kKeptSuffix) + number;
}

// The name of a kept copy in the state folder: the file's path without its first "/", "%" as "%25" and
// "/" as "%2F"; a path too long for a name keeps its last components.
std::string StateName(std::string_view linuxPath, int attempt)
{
    std::string escaped;
    for (char c : linuxPath.substr(linuxPath.starts_with('/') ? 1 : 0)) {
        if (c == '%')
            escaped += "%25";
        else if (c == '/')
            escaped += "%2F";
        else
            escaped += c;
    }
    const std::string number = attempt == 0 ? "" : "-" + std::to_string(attempt + 1);
    const size_t room = kNameMax - kKeptSuffix.size() - number.size();
    if (escaped.size() > room) {
        const size_t from = escaped.find("%2F", escaped.size() - (room - 3));
        escaped = from != std::string::npos
            ? "..." + escaped.substr(from)
            : std::string(Head(std::string(BaseName(linuxPath)), room)); // one long name: the name alone
        if (escaped.size() > room) escaped = std::string(Head(escaped, room));
    }
    return escaped + std::string(kKeptSuffix) + number;
}

bool SyncDirectory(int dir)
{
    UniqueFd readable(::openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    return readable.valid() && (::fsync(readable.get()) == 0 || errno == EINVAL);
}

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

    std::unique_ptr<File> CreateKeptCopy() override
    {
        UniqueFd dir(::fcntl(m_where.dir.get(), F_DUPFD_CLOEXEC, 0));
        if (!dir.valid()) {
            fail(errno, m_linuxPath);
            return nullptr;
        }
        m_keptInState = false;
        auto copy = MakeKeptCopy(std::move(dir));
        if (copy || (errno != EACCES && errno != EPERM && errno != EROFS)) {
            if (!copy) fail(errno, m_linuxPath);
            return copy;
        }
        // A folder that may not be written: the user's state folder keeps the copy.
        const auto folder = StateFolder();
        UniqueFd state(folder ? ::open(folder->c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC) : -1);
        if (state.valid()) copy = MakeKeptCopy(std::move(state));
        if (!copy) fail(errno, folder.value_or(m_linuxPath));
        m_keptInState = true;
        return copy;
    }

    bool KeepCopy(File& copy) override
    {
        auto* kept = dynamic_cast<KeptCopyFile*>(&copy);
        if (!kept) return failCode(err::InvalidParameter);
        if (!copy.Flush()) return false;
        const std::string file = JoinPath(PathOf(m_where.dir.get()), m_where.name);
        const auto candidate
            = [&](int attempt) { return m_keptInState ? StateName(file, attempt) : BesideName(m_where.name, attempt); };
        std::string name;
        if (!kept->Name(candidate, name)) return fail(errno, m_linuxPath);
        // The name survives a power loss only with its directory.
        if (!SyncDirectory(kept->Dir())) {
            const int error = errno;
            ::unlinkat(kept->Dir(), name.c_str(), 0);
            return fail(error, m_linuxPath);
        }
        m_keptDir.reset(::fcntl(kept->Dir(), F_DUPFD_CLOEXEC, 0));
        m_keptName = name;
        return true;
    }

    std::string KeptCopyPath() const override
    {
        if (m_keptName.empty()) return std::string();
        const std::string linuxPath = JoinPath(PathOf(m_keptDir.get()), m_keptName);
        return driveMap().fromLinux(linuxPath).value_or(linuxPath);
    }

    bool DropKeptCopy() override
    {
        if (m_keptName.empty()) return true;
        if (::unlinkat(m_keptDir.get(), m_keptName.c_str(), 0) != 0) return fail(errno, m_linuxPath);
        m_keptName.clear();
        return true;
    }

private:
    Resolved m_where;
    UniqueFd m_fd;
    DescriptorFile m_content;
    Facts m_facts;
    std::string m_linuxPath;
    bool m_contentReadOnly; // opened for reading only, where the file system opens no file for both
    bool m_keptInState = false; // the kept copy goes into the user's state folder
    UniqueFd m_keptDir; // where the named kept copy is
    std::string m_keptName; // empty while there is none
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
