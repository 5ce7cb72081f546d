// The tree walks' directory handle of file systems other than the Linux one (test doubles, wrappers):
// it works through the file system's own calls by drive path, so a double's faults reach the walks.
#include "platform/dir_handle.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

namespace zelo {

namespace {

class PathDirHandle final : public DirHandle {
public:
    PathDirHandle(FileSystem& files, std::string dirWithSep)
        : m_files(files)
        , m_path(std::move(dirWithSep))
    {
    }

    bool Next(FindData& out) override
    {
        for (;;) {
            if (!m_search) {
                if (m_started) {
                    SetLastError(err::Success);
                    return false;
                }
                m_started = true;
                m_search = m_files.FindFirst(m_path + "*.*", kAttrMaskAll, out);
                if (!m_search) {
                    // An empty directory is the end of the listing, not a failure.
                    if (GetLastError() == err::FileNotFound) SetLastError(err::Success);
                    return false;
                }
            } else if (!m_search->Next(out)) {
                return false;
            }
            if (out.name != "." && out.name != "..") return true;
        }
    }

    bool Lookup(const std::string& name, FindData& out) override
    {
        // The exact name only: a search pattern would take "*" and "?" in it as wildcards.
        auto search = m_files.FindFirst(m_path + name, kAttrMaskAll, out);
        while (search && out.name != name) {
            if (!search->Next(out)) search.reset();
        }
        if (!search) SetLastError(err::FileNotFound);
        return search != nullptr;
    }

    bool Rewind() override
    {
        m_search.reset();
        m_started = false;
        return true;
    }

    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override
    {
        const uint32_t attributes = m_files.GetAttributes(m_path + entry.name);
        if (attributes == kInvalidAttributes) {
            status = ChildOpen::Failed;
            return nullptr;
        }
        if (!(attributes & kAttrDirectory) || (attributes & kAttrReparsePoint)) {
            status = ChildOpen::Changed;
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        status = ChildOpen::Opened;
        return std::make_unique<PathDirHandle>(m_files, m_path + entry.name + "\\");
    }

    std::unique_ptr<DirHandle> OpenParent(const DirIdentity&) override
    {
        const size_t end = m_path.size() - 1; // the trailing separator
        const size_t sep = m_path.rfind('\\', end - 1);
        if (sep == std::string::npos || end <= 2) {
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        return std::make_unique<PathDirHandle>(m_files, m_path.substr(0, sep + 1));
    }

    DirIdentity Identity() const override { return {}; }

    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        const std::string path = m_path + entry.name;
        if (allowReadOnly && (entry.attributes & kAttrReadOnly) && !(entry.attributes & kAttrReparsePoint))
            m_files.SetAttributes(path, kAttrArchive);
        return m_files.DeleteFile(path);
    }

    bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) override
    {
        const std::string path = m_path + entry.name;
        const uint32_t attributes = m_files.GetAttributes(path);
        if (allowReadOnly && attributes != kInvalidAttributes && (attributes & kAttrReadOnly))
            m_files.SetAttributes(path, kAttrDirectory);
        return m_files.RemoveDirectory(path);
    }

    bool CreateSubdirectory(const std::string& name) override { return m_files.CreateDirectory(m_path + name); }

    bool CopyLinkTo(const FindData&, DirHandle&) override
    {
        // Links are copied relative to open directories only.
        SetLastError(err::CannotAccessFile);
        return false;
    }

    std::unique_ptr<File> OpenForCopy(const FindData& entry) override
    {
        return m_files.Open(m_path + entry.name, OpenMode::Read);
    }

    std::unique_ptr<File> CreateReplacement(const std::string& name, bool) override
    {
        return m_files.CreateReplacement(m_path + name);
    }

    bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override
    {
        return m_files.CommitReplacement(std::move(file), m_path + name, options);
    }

    void MarkArchiveOnly(const FindData& entry, File&) override
    {
        const KeepLastError keep;
        m_files.SetAttributes(m_path + entry.name, kAttrArchive);
    }

    bool IsReadOnly() override { return (attributes() & kAttrReadOnly) && attributes() != kInvalidAttributes; }

    bool LendWrite() override
    {
        const uint32_t now = attributes();
        if (m_lent || now == kInvalidAttributes || !(now & kAttrReadOnly)) return false;
        m_lent = m_files.SetAttributes(entryPath(), now & ~uint32_t(kAttrReadOnly));
        return m_lent;
    }

    void TakeBackWrite() override
    {
        if (!m_lent) return;
        const KeepLastError keep;
        m_files.SetAttributes(entryPath(), attributes() | kAttrReadOnly);
        m_lent = false;
    }

    bool IsSystemRoot() override { return false; }

    ~PathDirHandle() override { TakeBackWrite(); }

private:
    std::string entryPath() const { return m_path.size() > 3 ? m_path.substr(0, m_path.size() - 1) : m_path; }
    uint32_t attributes() { return m_files.GetAttributes(entryPath()); }

    FileSystem& m_files;
    std::string m_path;
    std::unique_ptr<DirSearch> m_search;
    bool m_started = false;
    bool m_lent = false;
};

} // namespace

std::unique_ptr<DirHandle> FileSystem::OpenTreeDirectory(const std::string& dirWithSep, ListDetail, bool followLink)
{
    const std::string entry = dirWithSep.size() > 3 ? dirWithSep.substr(0, dirWithSep.size() - 1) : dirWithSep;
    const uint32_t attributes = GetAttributes(entry);
    if (attributes == kInvalidAttributes) return nullptr;
    if (!(attributes & kAttrDirectory) || ((attributes & kAttrReparsePoint) && !followLink && dirWithSep.size() > 3)) {
        SetLastError(err::PathNotFound);
        return nullptr;
    }
    return std::make_unique<PathDirHandle>(*this, dirWithSep);
}

bool DirHandle::Unsupported()
{
    SetLastError(err::NotSupported);
    return false;
}

} // namespace zelo
