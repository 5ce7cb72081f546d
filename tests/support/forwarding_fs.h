// A file system that hands every call to another one, so a test double overrides only what it changes.
// The calls with defaults built on the others (replacements, tree directories) are left to those
// defaults, so they go through the double's overrides too.
#pragma once

#include "platform/filesystem.h"

namespace zelo::test {

class ForwardingFileSystem : public FileSystem {
public:
    explicit ForwardingFileSystem(FileSystem& inner)
        : m_inner(inner)
    {
    }

    std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) override
    {
        return m_inner.FindFirst(pattern, attrMask, first);
    }
    uint32_t GetAttributes(const std::string& path) override { return m_inner.GetAttributes(path); }
    bool SetAttributes(const std::string& path, uint32_t attributes) override
    {
        return m_inner.SetAttributes(path, attributes);
    }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override { return m_inner.Open(path, mode); }
    std::unique_ptr<File> CreateTempBeside(const std::string& destination, std::string& tempPath) override
    {
        return m_inner.CreateTempBeside(destination, tempPath);
    }
    bool ReplaceWithTemp(const std::string& tempPath, const std::string& destination) override
    {
        return m_inner.ReplaceWithTemp(tempPath, destination);
    }
    bool ReplaceWithTempAs(
        const std::string& tempPath, const std::string& destination, const ReplaceOptions& options) override
    {
        return m_inner.ReplaceWithTempAs(tempPath, destination, options);
    }
    bool DeleteFile(const std::string& path) override { return m_inner.DeleteFile(path); }
    bool MoveFile(const std::string& from, const std::string& to) override { return m_inner.MoveFile(from, to); }
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override
    {
        return m_inner.CopyFile(from, to, failIfExists);
    }
    bool CreateDirectory(const std::string& path) override { return m_inner.CreateDirectory(path); }
    bool RemoveDirectory(const std::string& path) override { return m_inner.RemoveDirectory(path); }
    bool SetCurrentDirectory(const std::string& path) override { return m_inner.SetCurrentDirectory(path); }
    std::string GetCurrentDirectory() override { return m_inner.GetCurrentDirectory(); }
    bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
        const FileTime* lastWrite) override
    {
        return m_inner.SetFileTimes(path, creation, lastAccess, lastWrite);
    }
    bool SyncFileSystem(const std::string& path) override { return m_inner.SyncFileSystem(path); }
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override
    {
        return m_inner.OpenForRewrite(path);
    }

protected:
    FileSystem& inner() { return m_inner; }

private:
    FileSystem& m_inner;
};

} // namespace zelo::test
