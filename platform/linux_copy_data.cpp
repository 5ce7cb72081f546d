// Moving a file's bytes between two descriptors: holes via SEEK_DATA/SEEK_HOLE, copy_file_range in
// large chunks, read and write where the kernel cannot copy.
#include "platform/linux_copy_data.h"

#include "platform/errors.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <limits>
#include <unistd.h>

namespace zelo::linuxfs {

namespace {

constexpr size_t kCopyChunk = 8u << 20; // bytes per copy_file_range call
constexpr size_t kBufferSize = 1u << 20; // bytes per read/write round when the kernel cannot copy
constexpr off_t kHoleStep = off_t(1) << 30; // bytes of a hole passed in one call at most

int64_t failErrno()
{
    SetLastErrorFromErrno(errno);
    return -1;
}

// The whole size the source had when the copy began has been moved: the copy ends there, without a
// call that returns 0 to say so (a file that grows meanwhile is read on by the next copy).
bool reachedSizeAtBegin(const CopyExtents& s)
{
    return s.sourcePos >= 0 && s.sourcePos >= s.sourceSize && !s.sparse;
}

// At position, outside the runs known so far: finds whether data or a hole starts there and where
// it ends (dataEnd or holeEnd). The source's position is left as it was.
void locateExtent(CopyExtents& s, int in, off_t position)
{
    if (position < 0) {
        s.sparse = false;
        return;
    }
    const off_t data = ::lseek(in, position, SEEK_DATA);
    struct stat st { };
    if (data > position) {
        s.holeEnd = data;
        s.inAfterLookup = data;
        return;
    }
    if (data < 0 && errno == ENXIO && ::fstat(in, &st) == 0) {
        // Only a hole up to the end (or the end itself).
        s.holeEnd = st.st_size;
        s.trailingHole = true;
    } else if (data < 0) {
        s.sparse = false; // no hole lookup on this file system: every byte is copied
    } else {
        const off_t hole = ::lseek(in, position, SEEK_HOLE);
        s.dataEnd = hole > position ? hole : std::numeric_limits<off_t>::max();
    }
    ::lseek(in, position, SEEK_SET);
}

// Skips skip bytes of a hole on both sides; the destination grows by a trailing hole by its size.
int64_t skipHole(CopyExtents& s, int in, int out, off_t position, off_t skip)
{
    // The hole lookup may have left the source there already.
    const bool inPlace = s.inAfterLookup == position + skip;
    s.inAfterLookup = -1;
    const off_t end = ::lseek(out, skip, SEEK_CUR);
    if (end < 0 || (!inPlace && ::lseek(in, position + skip, SEEK_SET) < 0)) return failErrno();
    struct stat st { };
    if (s.trailingHole && position + skip == s.holeEnd
        && (::fstat(out, &st) != 0 || (st.st_size < end && ::ftruncate(out, end) != 0)))
        return failErrno();
    return int64_t(skip);
}

int64_t copyByBuffer(CopyExtents& s, int in, int out, size_t done, size_t count)
{
    // Not zeroed: only what a read fills is ever written.
    if (!s.buffer) s.buffer.reset(new char[kBufferSize]);
    while (done < count) {
        const int64_t n = readFull(in, s.buffer.get(), std::min(count - done, kBufferSize));
        if (n < 0) return -1;
        if (n == 0) break;
        if (writeFull(out, s.buffer.get(), size_t(n)) < 0) return -1;
        done += size_t(n);
        if (s.sourcePos >= 0) s.sourcePos += n;
    }
    return int64_t(done);
}

int64_t copyData(CopyExtents& s, int in, int out, size_t count)
{
    size_t done = 0;
    if (reachedSizeAtBegin(s)) return 0;
    while (done < count && s.kernelCopy) {
        const size_t chunk = std::min(count - done, kCopyChunk);
        const ssize_t n = ::copy_file_range(in, nullptr, out, nullptr, chunk, 0);
        if (n > 0) {
            done += size_t(n);
            if (s.sourcePos >= 0) s.sourcePos += n;
            if (reachedSizeAtBegin(s)) return int64_t(done);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        // 0 at or past the known end is the end, not a file system that cannot copy.
        if (n == 0 && reachedSizeAtBegin(s)) return int64_t(done);
        if (n < 0 && errno != EXDEV && errno != EOPNOTSUPP && errno != EINVAL && errno != ENOSYS && errno != EBADF)
            return failErrno();
        // Not offered here (or 0 bytes, which some file systems report for files they cannot copy):
        // read and write from now on. A real end of file is confirmed by the read below.
        s.kernelCopy = false;
    }
    if (done == count) return int64_t(done);
    return copyByBuffer(s, in, out, done, count);
}

} // namespace

void beginCopy(CopyExtents& s, int in, const struct stat* atOpen, bool atStart)
{
    s.source = in;
    s.dataEnd = 0;
    s.holeEnd = 0;
    s.trailingHole = false;
    s.inAfterLookup = -1;
    struct stat st { };
    if (atOpen) st = *atOpen;
    const bool known = (atOpen || ::fstat(in, &st) == 0) && S_ISREG(st.st_mode);
    s.sparse = known && off_t(st.st_blocks) * 512 < st.st_size;
    // Where the source ends and where it is read from: a copy that reaches the end needs no call that
    // returns 0 to learn it. (A size of 0 says nothing: /proc and similar files report 0 and still have
    // bytes.)
    s.sourceSize = known && st.st_size > 0 ? st.st_size : -1;
    s.sourcePos = s.sourceSize > 0 ? (atStart ? 0 : ::lseek(in, 0, SEEK_CUR)) : -1;
}

int64_t copyRange(CopyExtents& s, int in, int out, size_t count)
{
    if (s.sparse) {
        // Holes stay holes: a run without data is skipped on both sides, as cp does.
        const off_t position = ::lseek(in, 0, SEEK_CUR);
        if (position >= s.dataEnd && position >= s.holeEnd) locateExtent(s, in, position);
        // A hole costs no I/O: it is passed in steps larger than count.
        if (position >= 0 && position < s.holeEnd)
            return skipHole(s, in, out, position, std::min(std::max(off_t(count), kHoleStep), s.holeEnd - position));
        if (position >= 0 && position < s.dataEnd) count = std::min(count, size_t(s.dataEnd - position));
    }
    return copyData(s, in, out, count);
}

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

} // namespace zelo::linuxfs
