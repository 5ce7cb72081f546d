// A file system that behaves like the Linux one until told to fail: a full disk after N bytes written,
// a read failure after N bytes read, access denied on opening. Install it with ScopedFileSystem.
#pragma once

#include "platform/filesystem.h"

#include <cstdint>
#include <string>

namespace zelo::test {

class FaultyFileSystem : public FileSystem {
public:
    explicit FaultyFileSystem(FileSystem& inner);

    // Writes (and copies) fail with code once this many bytes have been written in all; -1 never.
    int64_t failWriteAfter = -1;
    uint32_t writeError = 112;
    // Reads fail with code once this many bytes have been read in all; -1 never.
    int64_t failReadAfter = -1;
    uint32_t readError = 5;
    // Open of a path that contains this text fails with 5 (empty: never).
    std::string denyOpenContaining;
    // SyncFileSystem fails with this code (0: never), as a disk that cannot write back does.
    uint32_t failSyncWith = 0;

    int64_t bytesWritten = 0;
    int64_t bytesRead = 0;

    std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) override;
    uint32_t GetAttributes(const std::string& path) override;
    bool SetAttributes(const std::string& path, uint32_t attributes) override;
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override;
    std::unique_ptr<File> CreateTempBeside(const std::string& destination, std::string& tempPath) override;
    bool ReplaceWithTemp(const std::string& tempPath, const std::string& destination) override;
    bool ReplaceWithTempAs(
        const std::string& tempPath, const std::string& destination, const ReplaceOptions& options) override;
    bool DeleteFile(const std::string& path) override;
    bool MoveFile(const std::string& from, const std::string& to) override;
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override;
    bool CreateDirectory(const std::string& path) override;
    bool RemoveDirectory(const std::string& path) override;
    bool SetCurrentDirectory(const std::string& path) override;
    std::string GetCurrentDirectory() override;
    bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
        const FileTime* lastWrite) override;
    bool SyncFileSystem(const std::string& path) override;

private:
    std::unique_ptr<File> Wrap(std::unique_ptr<File> file);
    FileSystem& m_inner;
};

} // namespace zelo::test
