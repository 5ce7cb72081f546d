// Open files: reads and writes that move every byte, copies into them from another open file.
#include "platform/linux_file.h"

#include "platform/linux_fs_internal.h"
#include "platform/time.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zelo::linuxfs {

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

int64_t LinuxFile::Read(void* buffer, size_t count)
{
    m_untouched = false;
    return readFull(m_fd.get(), buffer, count);
}

int64_t LinuxFile::Write(const void* buffer, size_t count)
{
    return writeFull(m_fd.get(), buffer, count);
}

int64_t LinuxFile::CopyFrom(File& source, size_t count)
{
    const int in = source.NativeHandle();
    // A source without a descriptor (a share reached directly) is read through its own calls.
    if (in < 0) return CopyThroughBuffer(source, *this, count);
    if (in != m_copy.source) {
        LinuxFile* linuxSource = of(source);
        beginCopy(
            m_copy, in, linuxSource ? linuxSource->statAtOpen() : nullptr, linuxSource && linuxSource->m_untouched);
        if (linuxSource) linuxSource->m_untouched = false; // the copy moves its position from here on
    }
    return copyRange(m_copy, in, m_fd.get(), count);
}

bool LinuxFile::Seek(int64_t position)
{
    if (position == 0 && m_untouched) return true;
    m_untouched = false;
    if (::lseek(m_fd.get(), off_t(position), SEEK_SET) < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

int64_t LinuxFile::Size()
{
    struct stat st { };
    if (::fstat(m_fd.get(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        return -1;
    }
    return int64_t(st.st_size);
}

bool LinuxFile::SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite)
{
    const timespec times[2] = { toTimespec(lastAccess), toTimespec(lastWrite) };
    if (::futimens(m_fd.get(), times) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool LinuxFile::Flush()
{
    if (::fdatasync(m_fd.get()) != 0 && errno != EINVAL) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

bool LinuxFile::Close()
{
    if (!m_fd.valid()) return true;
    if (::close(m_fd.release()) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    return true;
}

namespace {

bool isSpecial(mode_t mode)
{
    return !S_ISREG(mode) && !S_ISDIR(mode);
}

} // namespace

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

std::string pathAt(int dirFd, std::string_view name)
{
    // Made for every copy: built in one allocation.
    static constexpr std::string_view kPrefix = "/proc/self/fd/";
    char digits[16];
    const auto written = std::to_chars(digits, digits + sizeof digits, dirFd);
    std::string path;
    path.reserve(kPrefix.size() + size_t(written.ptr - digits) + 1 + name.size());
    path.append(kPrefix).append(digits, written.ptr).append(1, '/').append(name);
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
    const LinuxFile* linuxFile = LinuxFile::of(file);
    return linuxFile ? linuxFile->statAtOpen() : nullptr;
}

} // namespace zelo::linuxfs

namespace zelo {

bool File::Facts(SourceFacts& out)
{
    struct stat st { };
    if (const struct stat* atOpen = linuxfs::statAtOpen(*this))
        st = *atOpen;
    else if (::fstat(NativeHandle(), &st) != 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    out = { uint32_t(st.st_mode), st.st_atim.tv_sec, st.st_atim.tv_nsec, st.st_mtim.tv_sec, st.st_mtim.tv_nsec };
    return true;
}

int64_t CopyThroughBuffer(File& source, File& target, size_t count)
{
    // At most 1 MiB a call, so a stop between two calls is seen soon.
    std::string buffer(std::min<size_t>(count, size_t(1) << 20), '\0');
    const int64_t got = source.Read(buffer.data(), buffer.size());
    if (got <= 0) return got;
    return target.Write(buffer.data(), size_t(got)) == got ? got : -1;
}

using namespace linuxfs;

std::unique_ptr<File> LinuxFileSystem::Open(const std::string& path, OpenMode mode)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return nullptr;
    return openLinux(*linuxPath, mode);
}

} // namespace zelo
