// Open files: reads and writes that move every byte, kernel copies between two files.
#include "platform/fd.h"
#include "platform/linux_fs_internal.h"
#include "platform/time.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <limits>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>
#include <vector>

namespace zelo::linuxfs {

namespace {

constexpr size_t kCopyChunk = 8u << 20; // bytes per copy_file_range call
constexpr size_t kBufferSize = 1u << 20; // bytes per read/write round when the kernel cannot copy
constexpr off_t kHoleStep = off_t(1) << 30; // bytes of a hole passed in one call at most

} // namespace

timespec toTimespec(const FileTime* time)
{
    timespec ts {};
    if (!time || time->value == 0) {
        ts.tv_nsec = UTIME_OMIT;
        return ts;
    }
    int64_t seconds = 0, nanoseconds = 0;
    FileTimeToUnix(*time, seconds, nanoseconds);
    ts.tv_sec = time_t(seconds);
    ts.tv_nsec = long(nanoseconds);
    return ts;
}

namespace {

// ".zelo-XXXXXX.tmp", as mkstemp names its files.
std::string randomTempName()
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
        const auto seed = uint64_t(::getpid()) * 2654435761u ^ uint64_t(::time(nullptr)) ^ uint64_t(std::rand());
        for (size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(seed >> (i * 8));
    }
    std::string name = ".zelo-";
    for (unsigned char r : random)
        name += kLetters[r % (sizeof kLetters - 1)];
    return name + ".tmp";
}

// Whether the directory lies on a FUSE file system. GVfs's SMB shares among them keep the time of the
// last write the server saw over times set on the descriptor before the close. Asked of the file
// system once per device.
bool onFuse(int dir)
{
    static constexpr long kFuseMagic = 0x65735546;
    thread_local dev_t lastDevice = 0;
    thread_local bool lastFuse = false;
    struct stat st { };
    if (::fstat(dir, &st) != 0) return false;
    if (st.st_dev != lastDevice) {
        struct statfs fs { };
        lastFuse = ::fstatfs(dir, &fs) == 0 && long(fs.f_type) == kFuseMagic;
        lastDevice = st.st_dev;
    }
    return lastFuse;
}

class LinuxFile final : public File {
public:
    explicit LinuxFile(UniqueFd fd)
        : m_fd(std::move(fd))
    {
    }

    // A file opened for a copy, with what fstat said of it then.
    LinuxFile(UniqueFd fd, const struct stat& atOpen)
        : m_fd(std::move(fd))
        , m_atOpen(atOpen)
        , m_haveAtOpen(true)
        , m_untouched(true)
    {
    }

    // Still at its start, nothing read yet: the position needs no call to know.
    bool untouched() const { return m_untouched; }
    void touch() { m_untouched = false; }

    const struct stat* statAtOpen() const { return m_haveAtOpen ? &m_atOpen : nullptr; }

    int64_t SizeAtOpen() override { return m_haveAtOpen ? int64_t(m_atOpen.st_size) : Size(); }
    // Whether the destination's name was free when this replacement was made.
    void setDestinationWasFree(bool free) { m_destinationWasFree = free; }

    // A replacement: fd lives in the directory dirFd; tempName is its hidden name there, empty while
    // it has none (O_TMPFILE).
    LinuxFile(UniqueFd fd, UniqueFd dirFd, std::string tempName)
        : m_fd(std::move(fd))
        , m_dirFd(std::move(dirFd))
        , m_dir(m_dirFd.get())
        , m_tempName(std::move(tempName))
        , m_replacement(true)
    {
    }

    // A replacement that was not committed leaves nothing: an unnamed file vanishes with its
    // descriptor, a named one is removed.
    ~LinuxFile() override
    {
        m_fd.reset();
        if (!m_tempName.empty()) ::unlinkat(m_dir, m_tempName.c_str(), 0);
    }

    int64_t Read(void* buffer, size_t count) override
    {
        m_untouched = false;
        return readFull(m_fd.get(), buffer, count);
    }

    int64_t Write(const void* buffer, size_t count) override { return writeFull(m_fd.get(), buffer, count); }

    int64_t CopyFrom(File& source, size_t count) override
    {
        const int in = source.NativeHandle();
        if (in != m_extentSource) startExtents(source);
        if (m_sparse) {
            // Holes stay holes: a run without data is skipped on both sides, as cp does.
            const off_t position = ::lseek(in, 0, SEEK_CUR);
            if (position >= m_dataEnd && position >= m_holeEnd) locateExtent(in, position);
            // A hole costs no I/O: it is passed in steps larger than count.
            if (position >= 0 && position < m_holeEnd)
                return skipHole(in, position, std::min(std::max(off_t(count), kHoleStep), m_holeEnd - position));
            if (position >= 0 && position < m_dataEnd) count = std::min(count, size_t(m_dataEnd - position));
        }
        return copyData(source, count);
    }

    bool Flush() override
    {
        if (::fdatasync(m_fd.get()) != 0 && errno != EINVAL) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        return true;
    }

    bool Close() override
    {
        if (!m_fd.valid()) return true;
        if (::close(m_fd.release()) != 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        return true;
    }

    // CommitReplacement on Linux: the new file gets its modes, owner, attributes and times, is
    // flushed, named, closed (a failing close fails it) and renamed over the destination.
    bool commit(const std::string& linuxDestination, const ReplaceOptions& options)
    {
        const std::string name(baseName(linuxDestination));
        m_timesAfterClose = options.source && onFuse(m_dir);
        // An unnamed file whose destination was free when it was made takes the name with one link. A
        // link never replaces: a name that appeared meanwhile (a FIFO too) makes it fail, and the file
        // then goes the checked way below, which also keeps what an existing file hands on.
        if (m_tempName.empty() && m_destinationWasFree) {
            if (!prepareReplacement(m_fd.get(), nullptr, linuxDestination, options, !m_timesAfterClose)) return false;
            if (linkTo(name)) {
                if (Close()) return keepTimesByName(name, options);
                // The close failed: the name goes again, the destination is free as it was.
                const uint32_t code = GetLastError();
                ::unlinkat(m_dir, name.c_str(), 0);
                return failCode(code);
            }
        }
        struct stat old { };
        old.st_mode = 0;
        // Looked at again: the destination may have become a FIFO or a directory while the bytes moved.
        if (!replaceableEntry(m_dir, name, linuxDestination, &old)) return false;
        if (!prepareReplacement(
                m_fd.get(), S_ISREG(old.st_mode) ? &old : nullptr, linuxDestination, options, !m_timesAfterClose))
            return false;
        if (m_tempName.empty() && !giveName(linuxDestination)) return false;
        if (!Close()) return false;
        if (::renameat(m_dir, m_tempName.c_str(), m_dir, name.c_str()) != 0) return fail(errno, linuxDestination);
        m_tempName.clear();
        return keepTimesByName(name, options);
    }

    // The exclusive form, for a copy that must not overwrite: the file takes a free name or fails
    // with 80, whatever the name holds.
    bool commitNew(const std::string& linuxDestination, const ReplaceOptions& options)
    {
        const std::string name(baseName(linuxDestination));
        m_timesAfterClose = options.source && onFuse(m_dir);
        if (!prepareReplacement(m_fd.get(), nullptr, linuxDestination, options, !m_timesAfterClose)) return false;
        if (m_tempName.empty() && !giveName(linuxDestination)) return false;
        if (!Close()) return false;
        const int from = m_dir;
        if (::renameat2(from, m_tempName.c_str(), from, name.c_str(), RENAME_NOREPLACE) == 0) {
            m_tempName.clear();
            return keepTimesByName(name, options);
        }
        if (errno != EINVAL && errno != ENOSYS) return fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
        // Without the flag (NFS, some FUSE) a link refuses an existing name as well; the hidden name
        // goes with the File.
        if (::linkat(from, m_tempName.c_str(), from, name.c_str(), 0) == 0) return keepTimesByName(name, options);
        if (errno != EPERM && errno != EOPNOTSUPP) return fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
        struct stat st { };
        if (::fstatat(from, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return failCode(err::FileExists);
        if (::renameat(from, m_tempName.c_str(), from, name.c_str()) != 0) return fail(errno, linuxDestination);
        m_tempName.clear();
        return keepTimesByName(name, options);
    }

    bool isReplacement() const { return m_replacement; }
    // A replacement in a directory the caller keeps open for the file's lifetime.
    void borrowDirectory(int dir)
    {
        m_dirFd.reset();
        m_dir = dir;
    }

    bool Seek(int64_t position) override
    {
        if (position == 0 && m_untouched) return true;
        m_untouched = false;
        if (::lseek(m_fd.get(), off_t(position), SEEK_SET) < 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        return true;
    }

    int64_t Size() override
    {
        struct stat st { };
        if (::fstat(m_fd.get(), &st) != 0) {
            SetLastErrorFromErrno(errno);
            return -1;
        }
        return int64_t(st.st_size);
    }

    bool SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) override
    {
        const timespec times[2] = { toTimespec(lastAccess), toTimespec(lastWrite) };
        if (::futimens(m_fd.get(), times) != 0) {
            SetLastErrorFromErrno(errno);
            return false;
        }
        return true;
    }

    int NativeHandle() const override { return m_fd.get(); }

private:
    // On FUSE (an SMB share keeps the time of the last write the server saw, not the one set on the
    // descriptor before the close) the source's times are given by name once the file is in place.
    // The copy is complete either way, so a refusal here changes nothing.
    bool keepTimesByName(const std::string& name, const ReplaceOptions& options)
    {
        if (!m_timesAfterClose) return true;
        struct stat model { };
        if (const struct stat* atOpen = linuxfs::statAtOpen(*options.source))
            model = *atOpen;
        else if (::fstat(options.source->NativeHandle(), &model) != 0)
            return true;
        const timespec times[2] = { model.st_atim, model.st_mtim };
        ::utimensat(m_dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return true;
    }

    // Whether the source has holes worth keeping (fewer blocks than its size needs); files
    // without holes are copied without looking for them.
    void startExtents(File& source)
    {
        const int in = source.NativeHandle();
        m_extentSource = in;
        m_dataEnd = 0;
        m_holeEnd = 0;
        m_trailingHole = false;
        m_inAfterLookup = -1;
        struct stat st { };
        const struct stat* atOpen = linuxfs::statAtOpen(source);
        if (atOpen) st = *atOpen;
        const bool known = (atOpen || ::fstat(in, &st) == 0) && S_ISREG(st.st_mode);
        m_sparse = known && off_t(st.st_blocks) * 512 < st.st_size;
        // Where the source ends and where it is read from: a copy that reaches the end needs no call
        // that returns 0 to learn it.
        // (A size of 0 says nothing: /proc and similar files report 0 and still have bytes.)
        m_sourceSize = known && st.st_size > 0 ? st.st_size : -1;
        auto* linuxSource = dynamic_cast<LinuxFile*>(&source);
        const bool atStart = linuxSource && linuxSource->untouched();
        if (linuxSource) linuxSource->touch(); // the copy moves its position from here on
        m_sourcePos = m_sourceSize > 0 ? (atStart ? 0 : ::lseek(in, 0, SEEK_CUR)) : -1;
    }

    // At position, outside the runs known so far: finds whether data or a hole starts there and
    // where it ends (m_dataEnd or m_holeEnd). The source's position is left as it was.
    void locateExtent(int in, off_t position)
    {
        if (position < 0) {
            m_sparse = false;
            return;
        }
        const off_t data = ::lseek(in, position, SEEK_DATA);
        struct stat st { };
        if (data > position) {
            m_holeEnd = data;
            m_inAfterLookup = data;
            return;
        }
        if (data < 0 && errno == ENXIO && ::fstat(in, &st) == 0) {
            // Only a hole up to the end (or the end itself).
            m_holeEnd = st.st_size;
            m_trailingHole = true;
        } else if (data < 0) {
            m_sparse = false; // no hole lookup on this file system: every byte is copied
        } else {
            const off_t hole = ::lseek(in, position, SEEK_HOLE);
            m_dataEnd = hole > position ? hole : std::numeric_limits<off_t>::max();
        }
        ::lseek(in, position, SEEK_SET);
    }

    // Skips skip bytes of a hole on both sides; the destination grows by a trailing hole by its size.
    int64_t skipHole(int in, off_t position, off_t skip)
    {
        // The hole lookup may have left the source there already.
        const bool inPlace = m_inAfterLookup == position + skip;
        m_inAfterLookup = -1;
        const off_t end = ::lseek(m_fd.get(), skip, SEEK_CUR);
        if (end < 0 || (!inPlace && ::lseek(in, position + skip, SEEK_SET) < 0)) {
            SetLastErrorFromErrno(errno);
            return -1;
        }
        struct stat st { };
        if (m_trailingHole && position + skip == m_holeEnd
            && (::fstat(m_fd.get(), &st) != 0 || (st.st_size < end && ::ftruncate(m_fd.get(), end) != 0))) {
            SetLastErrorFromErrno(errno);
            return -1;
        }
        return int64_t(skip);
    }

    // Gives an unnamed replacement a hidden name in its directory, so that a rename can put it in
    // place in one step.
    // Gives the unnamed file a name in its directory; false (errno set) when that fails.
    bool linkTo(const std::string& name)
    {
        if (::linkat(m_fd.get(), "", m_dir, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        if (errno != ENOENT && errno != EPERM) return false;
        // Without the privilege to link a descriptor, through its /proc entry.
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd.get());
        return ::linkat(AT_FDCWD, self.c_str(), m_dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }

    bool giveName(const std::string& linuxDestination)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = randomTempName();
            if (linkTo(name)) {
                m_tempName = std::move(name);
                return true;
            }
            if (errno != EEXIST) return fail(errno, linuxDestination);
        }
        return fail(EEXIST, linuxDestination);
    }

    int64_t copyData(File& source, size_t count)
    {
        const int in = source.NativeHandle();
        size_t done = 0;
        // The whole size the file had when the copy began is there: the copy ends at it, without a
        // call that returns 0 to say so.
        if (m_sourcePos >= 0 && m_sourcePos >= m_sourceSize && !m_sparse) return 0;
        while (done < count && m_kernelCopy) {
            const size_t chunk = std::min(count - done, kCopyChunk);
            const ssize_t n = ::copy_file_range(in, nullptr, m_fd.get(), nullptr, chunk, 0);
            if (n > 0) {
                done += size_t(n);
                if (m_sourcePos >= 0) m_sourcePos += n;
                // At the size the file had: done for this call (a file that grows meanwhile is read
                // on by the next one).
                if (m_sourcePos >= 0 && m_sourcePos >= m_sourceSize && !m_sparse) return int64_t(done);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            // 0 at or past the known end is the end, not a file system that cannot copy.
            if (n == 0 && m_sourcePos >= 0 && m_sourcePos >= m_sourceSize && !m_sparse) return int64_t(done);
            if (n < 0 && errno != EXDEV && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOSYS
                && errno != EBADF) {
                SetLastErrorFromErrno(errno);
                return -1;
            }
            // Not offered here (or 0 bytes, which some file systems report for files they cannot
            // copy): read and write from now on. A real end of file is confirmed by the read below.
            m_kernelCopy = false;
        }
        if (done == count) return int64_t(done);
        return copyByBuffer(source, done, count);
    }

    int64_t copyByBuffer(File& source, size_t done, size_t count)
    {
        // Not zeroed: only what a read fills is ever written.
        if (!m_buffer) m_buffer.reset(new char[kBufferSize]);
        while (done < count) {
            const int64_t n = source.Read(m_buffer.get(), std::min(count - done, kBufferSize));
            if (n < 0) return -1;
            if (n == 0) break;
            if (Write(m_buffer.get(), size_t(n)) < 0) return -1;
            done += size_t(n);
            if (m_sourcePos >= 0) m_sourcePos += n;
        }
        return int64_t(done);
    }

    UniqueFd m_fd;
    UniqueFd m_dirFd; // owned directory (invalid when it is borrowed)
    int m_dir = -1; // the directory the file lives in, owned or borrowed
    std::string m_tempName;
    bool m_replacement = false;
    bool m_kernelCopy = true;
    int m_extentSource = -1;
    bool m_sparse = false;
    off_t m_dataEnd = 0; // the source's data run known to go on up to here
    off_t m_holeEnd = 0; // the source's hole known to go on up to here
    bool m_trailingHole = false; // that hole reaches the end of the source
    off_t m_inAfterLookup = -1; // where the last hole lookup left the source's position
    struct stat m_atOpen { };
    bool m_haveAtOpen = false;
    bool m_destinationWasFree = false;
    bool m_untouched = false;
    bool m_timesAfterClose = false; // the source's times are given by name once the file is in place
    off_t m_sourceSize = -1; // the source's size when the copy began (-1: not known)
    off_t m_sourcePos = -1; // where the source is read from (-1: not known)
    std::unique_ptr<char[]> m_buffer;
};

bool isSpecial(mode_t mode)
{
    return !S_ISREG(mode) && !S_ISDIR(mode);
}

} // namespace

int64_t readFull(int fd, void* buffer, size_t count)
{
    auto* out = static_cast<char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno(errno);
            return -1;
        }
        if (n == 0) break;
        done += size_t(n);
    }
    return int64_t(done);
}

int64_t writeFull(int fd, const void* buffer, size_t count)
{
    const auto* in = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < count) {
        const ssize_t n = ::write(fd, in + done, count - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            SetLastErrorFromErrno(errno);
            return -1;
        }
        if (n == 0) { // nothing written and no error: the medium takes no more
            SetLastError(err::DiskFull);
            return -1;
        }
        done += size_t(n);
    }
    return int64_t(done);
}

std::unique_ptr<File> openLinux(const std::string& linuxPath, OpenMode mode)
{
    const char* p = linuxPath.c_str();
    // Look first: a FIFO or device must never be opened, a directory is not a file, and a
    // ReadOnly file refuses writing even to root.
    struct stat st { };
    const bool exists = ::stat(p, &st) == 0;
    if (exists) {
        if (S_ISDIR(st.st_mode)) {
            failCode(err::AccessDenied);
            return nullptr;
        }
        // Any other name that exists, a FIFO or device too, refuses an exclusive create.
        if (mode == OpenMode::CreateNew) {
            failCode(err::FileExists);
            return nullptr;
        }
        if (isSpecial(st.st_mode)) {
            failCode(err::CannotAccessFile);
            return nullptr;
        }
        if (mode != OpenMode::Read && isReadOnlyMode(st.st_mode)) {
            failCode(err::AccessDenied);
            return nullptr;
        }
    }

    int flags = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    switch (mode) {
    case OpenMode::Read:
        flags |= O_RDONLY;
        break;
    case OpenMode::ReadWrite:
        flags |= O_RDWR;
        break;
    case OpenMode::CreateAlways:
        flags |= O_RDWR | O_CREAT | O_TRUNC;
        break;
    case OpenMode::CreateNew:
        flags |= O_RDWR | O_CREAT | O_EXCL;
        break;
    case OpenMode::OpenAlways:
        flags |= O_RDWR | O_CREAT;
        break;
    }
    UniqueFd fd(::open(p, flags, 0666));
    if (!fd.valid()) {
        fail(errno, linuxPath, mode == OpenMode::CreateNew ? ErrnoCall::CreateNoReplace : ErrnoCall::Generic);
        return nullptr;
    }
    // The name may have changed between the look and the open.
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        failCode(S_ISDIR(st.st_mode) ? err::AccessDenied : err::CannotAccessFile);
        return nullptr;
    }
    ::fcntl(fd.get(), F_SETFL, ::fcntl(fd.get(), F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<LinuxFile>(std::move(fd));
}

std::unique_ptr<File> createReplacement(const std::string& linuxDestination)
{
    UniqueFd dirFd(::open(parentOf(linuxDestination).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.valid()) {
        fail(errno, linuxDestination);
        return nullptr;
    }
    return createReplacementAt(std::move(dirFd), linuxDestination);
}

std::string pathAt(int dirFd, std::string_view name)
{
    std::string path = "/proc/self/fd/" + std::to_string(dirFd) + "/";
    path.append(name);
    return path;
}

std::unique_ptr<File> openForCopyAt(int dirFd, const std::string& name)
{
    UniqueFd fd(::openat(dirFd, name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW));
    if (!fd.valid()) {
        // A link where the listing saw a file: never followed.
        if (errno == ELOOP) {
            failCode(err::CannotAccessFile);
        } else {
            SetLastErrorFromErrno(errno);
        }
        return nullptr;
    }
    struct stat st { };
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        // A FIFO or device opened without blocking is closed at once, unread.
        failCode(S_ISDIR(st.st_mode) ? err::AccessDenied : err::CannotAccessFile);
        return nullptr;
    }
    // O_NONBLOCK stays: it changes nothing for a regular file.
    return std::make_unique<LinuxFile>(std::move(fd), st);
}

const struct stat* statAtOpen(File& file)
{
    const auto* linuxFile = dynamic_cast<const LinuxFile*>(&file);
    return linuxFile ? linuxFile->statAtOpen() : nullptr;
}

namespace {

// A replacement in dir, which owner owns (or, when owner is empty, the caller keeps open for the
// file's lifetime).
std::unique_ptr<File> makeReplacement(
    int dir, UniqueFd owner, const std::string& linuxDestination, bool listedFree = false)
{
    struct stat existing { };
    existing.st_mode = 0;
    const auto made = [&](UniqueFd fd, std::string name) {
        const bool borrowed = !owner.valid();
        auto file = std::make_unique<LinuxFile>(std::move(fd), std::move(owner), std::move(name));
        if (borrowed) file->borrowDirectory(dir);
        file->setDestinationWasFree(existing.st_mode == 0);
        return file;
    };
    if (!listedFree && !replaceableEntry(dir, std::string(baseName(linuxDestination)), linuxDestination, &existing))
        return nullptr;
    // Unnamed until it is complete: a killed process leaves no temporary file behind. Naming it later
    // needs /proc (or a privilege); without /proc, as in a bare chroot, it is named from the start.
    static const bool canNameLater = ::access("/proc/self/fd", F_OK) == 0;
    UniqueFd fd(canNameLater ? ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600) : -1);
    if (fd.valid()) return made(std::move(fd), std::string());
    if (canNameLater && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        fail(errno, linuxDestination);
        return nullptr;
    }
    // A file system without unnamed files: a hidden temporary file, removed unless committed.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = randomTempName();
        fd.reset(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd.valid()) return made(std::move(fd), std::move(name));
        if (errno != EEXIST) break;
    }
    fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
    return nullptr;
}

} // namespace

std::unique_ptr<File> createReplacementAt(UniqueFd dirFd, const std::string& linuxDestination)
{
    const int dir = dirFd.get();
    return makeReplacement(dir, std::move(dirFd), linuxDestination);
}

std::unique_ptr<File> createReplacementIn(int dirFd, const std::string& linuxDestination, bool listedFree)
{
    return makeReplacement(dirFd, UniqueFd(), linuxDestination, listedFree);
}

bool commitReplacement(
    std::unique_ptr<File> file, const std::string& linuxDestination, const ReplaceOptions& options, bool exclusive)
{
    auto* replacement = dynamic_cast<LinuxFile*>(file.get());
    if (!replacement || !replacement->isReplacement()) return failCode(err::InvalidParameter);
    return exclusive ? replacement->commitNew(linuxDestination, options)
                     : replacement->commit(linuxDestination, options);
}

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

std::unique_ptr<File> LinuxFileSystem::Open(const std::string& path, OpenMode mode)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return nullptr;
    return openLinux(*linuxPath, mode);
}

std::unique_ptr<File> LinuxFileSystem::CreateReplacement(const std::string& destination)
{
    const auto linuxPath = toLinuxPath(destination);
    if (!linuxPath) return nullptr;
    return createReplacement(*linuxPath);
}

bool LinuxFileSystem::CommitReplacement(
    std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options)
{
    const auto linuxPath = toLinuxPath(destination);
    if (!linuxPath) return false;
    return commitReplacement(std::move(file), *linuxPath, options);
}

} // namespace zelo
