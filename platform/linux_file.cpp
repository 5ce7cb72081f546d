// Open files: reads and writes that move every byte, kernel copies between two files.
#include "platform/fd.h"
#include "platform/linux_fs_internal.h"
#include "platform/time.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace zelo::linuxfs {

namespace {

constexpr size_t kCopyChunk = 8u << 20; // bytes per copy_file_range call
constexpr size_t kBufferSize = 1u << 20; // bytes per read/write round when the kernel cannot copy

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

class LinuxFile final : public File {
public:
    explicit LinuxFile(UniqueFd fd)
        : m_fd(std::move(fd))
    {
    }

    int64_t Read(void* buffer, size_t count) override
    {
        auto* out = static_cast<char*>(buffer);
        size_t done = 0;
        while (done < count) {
            const ssize_t n = ::read(m_fd.get(), out + done, count - done);
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

    int64_t Write(const void* buffer, size_t count) override
    {
        const auto* in = static_cast<const char*>(buffer);
        size_t done = 0;
        while (done < count) {
            const ssize_t n = ::write(m_fd.get(), in + done, count - done);
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

    int64_t CopyFrom(File& source, size_t count) override
    {
        const int in = source.NativeHandle();
        size_t done = 0;
        while (done < count && m_kernelCopy) {
            const size_t chunk = std::min(count - done, kCopyChunk);
            const ssize_t n = ::copy_file_range(in, nullptr, m_fd.get(), nullptr, chunk, 0);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
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

    bool Seek(int64_t position) override
    {
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
    int64_t copyByBuffer(File& source, size_t done, size_t count)
    {
        if (m_buffer.empty()) m_buffer.resize(kBufferSize);
        while (done < count) {
            const int64_t n = source.Read(m_buffer.data(), std::min(count - done, m_buffer.size()));
            if (n < 0) return -1;
            if (n == 0) break;
            if (Write(m_buffer.data(), size_t(n)) < 0) return -1;
            done += size_t(n);
        }
        return int64_t(done);
    }

    UniqueFd m_fd;
    bool m_kernelCopy = true;
    std::vector<char> m_buffer;
};

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

std::unique_ptr<File> createTempIn(const std::string& linuxDir, std::string& linuxName)
{
    std::string name = joinPath(linuxDir, ".zelo-XXXXXX.tmp");
    UniqueFd fd(::mkostemps(name.data(), 4, O_CLOEXEC));
    if (!fd.valid()) {
        fail(errno, name, ErrnoCall::CreateNoReplace);
        return nullptr;
    }
    linuxName = name;
    return std::make_unique<LinuxFile>(std::move(fd));
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

std::unique_ptr<File> LinuxFileSystem::CreateTempBeside(const std::string& destination, std::string& tempPath)
{
    const size_t separator = destination.rfind('\\');
    if (separator == std::string::npos) {
        failCode(err::PathNotFound);
        return nullptr;
    }
    std::string directory = destination.substr(0, separator);
    if (directory.size() == 2 && directory[1] == ':') directory += '\\';
    const auto linuxDir = toLinuxPath(directory);
    if (!linuxDir) return nullptr;
    std::string linuxName;
    auto file = createTempIn(*linuxDir, linuxName);
    if (!file) return nullptr;
    const std::string_view name = baseName(linuxName);
    tempPath = destination.substr(0, separator + 1);
    tempPath.append(name);
    return file;
}

} // namespace zelo
