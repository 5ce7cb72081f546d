// A file system that hands every call to another one, and wraps every file, directory handle and
// rewrite it hands out, so a decorator (zelo-cli's observer, a test double) overrides only what it
// changes, misses no call, and still runs the code that ships (unnamed replacements, their commits, the
// walks' open directories) underneath.
#pragma once

#include "platform/filesystem.h"

#include <functional>

namespace zelo {

class ForwardingFileSystem;

// A file that hands every call to the file it wraps.
class ForwardingFile : public File {
public:
    // owned is null when the wrapped file stays its owner's (the open file of a rewrite).
    ForwardingFile(std::unique_ptr<File> owned, File& inner)
        : m_owned(std::move(owned))
        , m_inner(inner)
    {
    }

    int64_t Read(void* buffer, size_t count) override { return m_inner.Read(buffer, count); }
    int64_t Write(const void* buffer, size_t count) override { return m_inner.Write(buffer, count); }
    int64_t CopyFrom(File& source, size_t count) override { return m_inner.CopyFrom(Inner(source), count); }
    bool Seek(int64_t position) override { return m_inner.Seek(position); }
    int64_t Size() override { return m_inner.Size(); }
    bool SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite) override
    {
        return m_inner.SetTimes(creation, lastAccess, lastWrite);
    }
    int NativeHandle() const override { return m_inner.NativeHandle(); }
    bool Flush() override { return m_inner.Flush(); }
    bool Close() override { return m_inner.Close(); }
    bool Truncate(int64_t size) override { return m_inner.Truncate(size); }
    bool Facts(SourceFacts& out) override { return m_inner.Facts(out); }

    // What the file system underneath handed out, for its own calls (one wrapper peeled off).
    static File& Inner(File& file);
    static std::unique_ptr<File> Release(std::unique_ptr<File> file);
    static ReplaceOptions Unwrapped(const ReplaceOptions& options);

protected:
    File& inner() { return m_inner; }

private:
    std::unique_ptr<File> m_owned;
    File& m_inner;
};

// A directory of a tree walk that hands every call to the handle it wraps.
class ForwardingDirHandle : public DirHandle {
public:
    ForwardingDirHandle(std::unique_ptr<DirHandle> inner, ForwardingFileSystem& owner);

    bool Next(FindData& out) override { return m_inner->Next(out); }
    bool Rewind() override { return m_inner->Rewind(); }
    bool Lookup(const std::string& name, FindData& out) override { return m_inner->Lookup(name, out); }
    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override;
    std::unique_ptr<DirHandle> OpenParent(const DirIdentity& expected) override;
    DirIdentity Identity() const override { return m_inner->Identity(); }
    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        return m_inner->DeleteEntry(entry, allowReadOnly);
    }
    bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) override
    {
        return m_inner->RemoveSubdirectory(entry, allowReadOnly);
    }
    bool CreateSubdirectory(const std::string& name) override { return m_inner->CreateSubdirectory(name); }
    bool CopyLinkTo(const FindData& entry, DirHandle& destination) override
    {
        return m_inner->CopyLinkTo(entry, Inner(destination));
    }
    std::unique_ptr<File> OpenForCopy(const FindData& entry) override;
    std::unique_ptr<File> CreateReplacement(const std::string& name, bool listedFree) override;
    bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override;
    void MarkArchiveOnly(const FindData& entry, File& opened) override
    {
        m_inner->MarkArchiveOnly(entry, ForwardingFile::Inner(opened));
    }
    bool MoveEntryTo(const FindData& entry, DirHandle& target) override
    {
        return m_inner->MoveEntryTo(entry, Inner(target));
    }
    bool LinkEntryTo(const FindData& entry, DirHandle& target) override
    {
        return m_inner->LinkEntryTo(entry, Inner(target));
    }
    int NativeHandle() const override { return m_inner->NativeHandle(); }
    bool IsReadOnly() override { return m_inner->IsReadOnly(); }
    bool LendWrite() override { return m_inner->LendWrite(); }
    void TakeBackWrite() override { m_inner->TakeBackWrite(); }
    bool IsSystemRoot() override { return m_inner->IsSystemRoot(); }

    static DirHandle& Inner(DirHandle& dir);

protected:
    ForwardingFileSystem& owner() { return m_owner; }
    DirHandle& inner() { return *m_inner; }

private:
    std::unique_ptr<DirHandle> m_inner;
    ForwardingFileSystem& m_owner;
};

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
    std::unique_ptr<DirHandle> OpenTreeDirectory(
        const std::string& dirWithSep, ListDetail detail, bool followLink = false) override
    {
        return WrapDir(m_inner.OpenTreeDirectory(dirWithSep, detail, followLink));
    }
    uint32_t GetAttributes(const std::string& path) override { return m_inner.GetAttributes(path); }
    bool SetAttributes(const std::string& path, uint32_t attributes) override
    {
        return m_inner.SetAttributes(path, attributes);
    }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override
    {
        return WrapFile(m_inner.Open(path, mode));
    }
    std::unique_ptr<File> CreateReplacement(const std::string& destination) override
    {
        return WrapFile(m_inner.CreateReplacement(destination));
    }
    bool CommitReplacement(
        std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options) override
    {
        return Commit([&] {
            return m_inner.CommitReplacement(
                ForwardingFile::Release(std::move(file)), destination, ForwardingFile::Unwrapped(options));
        });
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
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override;

    // The wrappers of what the file system underneath hands out: a decorator overrides MakeFile and MakeDir
    // to decorate them.
    std::unique_ptr<File> WrapFile(std::unique_ptr<File> file);
    std::unique_ptr<DirHandle> WrapDir(std::unique_ptr<DirHandle> dir);
    virtual std::unique_ptr<File> MakeFile(std::unique_ptr<File> owned, File& inner)
    {
        return std::make_unique<ForwardingFile>(std::move(owned), inner);
    }
    virtual std::unique_ptr<DirHandle> MakeDir(std::unique_ptr<DirHandle> inner)
    {
        return std::make_unique<ForwardingDirHandle>(std::move(inner), *this);
    }
    // Every commit of a replacement (by path, in an open directory, of a rewrite) runs through here.
    virtual bool Commit(const std::function<bool()>& commit) { return commit(); }

protected:
    FileSystem& inner() { return m_inner; }

private:
    FileSystem& m_inner;
};

} // namespace zelo
