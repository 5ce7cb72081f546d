// Moving a file's bytes from one descriptor to another: holes stay holes, the kernel copies where it
// can, a buffer carries them where it cannot. Functions over two descriptors, for platform code only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <sys/stat.h>
#include <sys/types.h>

namespace zelo::linuxfs {

// What a destination knows of the copy into it between two calls: the source it looked at, the
// source's data and hole runs found so far, and whether the kernel still copies.
struct CopyExtents {
    int source = -1; // the descriptor the facts below are of (-1: no copy begun)
    bool kernelCopy = true; // copy_file_range is offered; once refused, read and write for good
    bool sparse = false; // the source has holes worth keeping
    off_t dataEnd = 0; // the source's data run known to go on up to here
    off_t holeEnd = 0; // the source's hole known to go on up to here
    bool trailingHole = false; // that hole reaches the end of the source
    off_t inAfterLookup = -1; // where the last hole lookup left the source's position
    off_t sourceSize = -1; // the source's size when the copy began (-1: not known)
    off_t sourcePos = -1; // where the source is read from (-1: not known)
    std::unique_ptr<char[]> buffer; // the read/write buffer, made at the first need
};

// Begins a copy from in into the destination that keeps state: whether in has holes worth keeping
// (fewer blocks than its size needs) and where it ends. atOpen is in's fstat from when it was opened
// (null: asked now); atStart says in is known to be at its start, so its position needs no call.
void beginCopy(CopyExtents& state, int in, const struct stat* atOpen, bool atStart);

// Moves up to count bytes from in's position to out's (File::CopyFrom after beginCopy). A hole is
// passed on both sides without I/O, in one call up to 1 GiB beyond count. Bytes moved (0 at in's end),
// or -1 with the last error set.
int64_t copyRange(CopyExtents& state, int in, int out, size_t count);

// Reads up to count bytes (fewer only at the end of the file) and writes all count bytes of a
// descriptor, going on after EINTR; -1 with the last error set (a write that takes nothing is a full disk).
int64_t readFull(int fd, void* buffer, size_t count);
int64_t writeFull(int fd, const void* buffer, size_t count);

} // namespace zelo::linuxfs
