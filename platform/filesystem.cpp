// The file system every layer uses, and its replacement by tests. Paths on an SMB share that the direct
// client reaches go to it, everything else to Linux.
#include "platform/filesystem.h"

#include "platform/errors.h"
#include "platform/smb_filesystem.h"

namespace zelo {

namespace {

FileSystem* g_installed = nullptr;

FileSystem& For(const std::string& path)
{
    return UsesDirectSmb(path) ? smbFileSystem() : linuxFileSystem();
}

// Sends each call to the file system of its path. A walk's handles and open files stay with the file
// system that made them.
class RoutingFileSystem final : public FileSystem {
public:
    std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) override
    {
        return linuxFileSystem().FindFirst(pattern, attrMask, first);
    }
    std::unique_ptr<DirHandle> OpenTreeDirectory(
        const std::string& dirWithSep, ListDetail detail, bool followLink) override
    {
        return For(dirWithSep).OpenTreeDirectory(dirWithSep, detail, followLink);
    }
    uint32_t GetAttributes(const std::string& path) override { return For(path).GetAttributes(path); }
    bool SetAttributes(const std::string& path, uint32_t attributes) override
    {
        return For(path).SetAttributes(path, attributes);
    }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override { return For(path).Open(path, mode); }
    std::unique_ptr<File> CreateReplacement(const std::string& destination) override
    {
        return For(destination).CreateReplacement(destination);
    }
    bool CommitReplacement(
        std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options) override
    {
        return For(destination).CommitReplacement(std::move(file), destination, options);
    }
    bool DeleteFile(const std::string& path) override { return For(path).DeleteFile(path); }
    bool MoveFile(const std::string& from, const std::string& to) override
    {
        FileSystem& source = For(from);
        if (&source != &For(to)) {
            SetLastError(err::NotSameDevice); // the callers copy and delete instead
            return false;
        }
        return source.MoveFile(from, to);
    }
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override
    {
        if (UsesDirectSmb(from) || UsesDirectSmb(to)) return CopyFileAcross(from, to, failIfExists);
        return linuxFileSystem().CopyFile(from, to, failIfExists);
    }
    bool CreateDirectory(const std::string& path) override { return For(path).CreateDirectory(path); }
    bool RemoveDirectory(const std::string& path) override { return For(path).RemoveDirectory(path); }
    bool SetCurrentDirectory(const std::string& path) override { return linuxFileSystem().SetCurrentDirectory(path); }
    std::string GetCurrentDirectory() override { return linuxFileSystem().GetCurrentDirectory(); }
    bool SetFileTimes(const std::string& path, const FileTime* creation, const FileTime* lastAccess,
        const FileTime* lastWrite) override
    {
        return For(path).SetFileTimes(path, creation, lastAccess, lastWrite);
    }
    bool SyncFileSystem(const std::string& path) override { return For(path).SyncFileSystem(path); }
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override
    {
        return linuxFileSystem().OpenForRewrite(path);
    }
};

} // namespace

FileSystem& fs()
{
    static RoutingFileSystem routing;
    return g_installed ? *g_installed : routing;
}

ScopedFileSystem::ScopedFileSystem(FileSystem& replacement)
    : m_previous(g_installed)
{
    g_installed = &replacement;
}

ScopedFileSystem::~ScopedFileSystem()
{
    g_installed = m_previous;
}

} // namespace zelo
