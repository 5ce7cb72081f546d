// A file system that behaves like the Linux one until told to fail: a full disk after N bytes written,
// a read failure after N bytes read, a failing close, access denied on opening. Install it with ScopedFileSystem.
#pragma once

#include "tests/support/forwarding_fs.h"

#include <cstdint>
#include <string>

namespace zelo::test {

class FaultyFileSystem : public ForwardingFileSystem {
public:
    explicit FaultyFileSystem(FileSystem& inner);

    // Writes (and copies) fail with code once this many bytes have been written in all; -1 never.
    int64_t failWriteAfter = -1;
    uint32_t writeError = 112;
    // Reads fail with code once this many bytes have been read in all; -1 never.
    int64_t failReadAfter = -1;
    uint32_t readError = 5;
    // Closing a file fails with this code (0: never), as a network file system reports a lost write.
    uint32_t closeError = 0;
    // Open of a path that contains this text fails with 5 (empty: never).
    std::string denyOpenContaining;
    // SyncFileSystem fails with this code (0: never), as a disk that cannot write back does.
    uint32_t failSyncWith = 0;

    int64_t bytesWritten = 0;
    int64_t bytesRead = 0;

    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
    std::unique_ptr<File> CreateTempBeside(const std::string& destination, std::string& tempPath) override;
    bool SyncFileSystem(const std::string& path) override;
    // The opened file and its replacements see the same faults.
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override;

private:
    std::unique_ptr<File> Wrap(std::unique_ptr<File> file);
};

} // namespace zelo::test
