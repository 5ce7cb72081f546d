// A file system that behaves like the Linux one until told to fail: a full disk after N bytes written in all
// (by every thread that copies),
// a read failure after N bytes read, a failing close, access denied on opening. It decorates what the
// file system underneath hands out, so the replacements and their commits are the ones that ship.
// Install it with ScopedFileSystem.
#pragma once

#include "tests/support/forwarding_fs.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>

namespace zelo::test {

class FaultyFileSystem : public ForwardingFileSystem {
public:
    explicit FaultyFileSystem(FileSystem& inner);

    // Writes (and copies) fail with code once this many bytes have been written in all; -1 never.
    int64_t failWriteAfter = -1;
    uint32_t writeError = 112;
    // Reads (and copies) fail with code once this many bytes have been read in all; -1 never.
    int64_t failReadAfter = -1;
    uint32_t readError = 5;
    // The close inside a commit fails with this errno (0: never), as a network file system reports a
    // lost write: the kernel refuses the commit's close() calls.
    int closeErrno = 0;
    // Open (and a new replacement or rewrite) by a path that contains this text fails with 5 (empty: never).
    std::string denyOpenContaining;
    // SyncFileSystem fails with this code (0: never), as a disk that cannot write back does.
    uint32_t failSyncWith = 0;

    // Called before each kernel copy step, on the thread that copies, with the file copied from; false
    // fails the step with readError.
    std::function<bool(File& source)> beforeCopy;
    // Called before each write (not a copy step); false fails it with writeError.
    std::function<bool()> beforeWrite;
    // Called before a walk opens a subdirectory it listed (so a test can swap it at the worst moment).
    std::function<void(const FindData& entry)> beforeOpenChild;
    // Called before a file or link is deleted through an open directory, on the thread that deletes it.
    std::function<void(const FindData& entry)> beforeDelete;

    // Counted by every copying thread, one read, write or copy step at a time.
    std::atomic<int64_t> bytesWritten = 0;
    std::atomic<int64_t> bytesRead = 0;
    std::mutex counting;

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
    std::unique_ptr<File> CreateReplacement(const std::string& destination) override;
    bool SyncFileSystem(const std::string& path) override;
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override;

    std::unique_ptr<File> MakeFile(std::unique_ptr<File> owned, File& inner) override;
    std::unique_ptr<DirHandle> MakeDir(std::unique_ptr<DirHandle> inner) override;
    bool Commit(const std::function<bool()>& commit) override;

private:
    bool Denied(const std::string& path);
};

} // namespace zelo::test
