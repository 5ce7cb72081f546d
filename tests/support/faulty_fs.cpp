#include "tests/support/faulty_fs.h"

#include "platform/errors.h"

#include <algorithm>
#include <vector>

namespace zelo::test {

namespace {

class FaultyFile : public File {
public:
    FaultyFile(std::unique_ptr<File> inner, FaultyFileSystem& owner)
        : m_inner(std::move(inner))
        , m_owner(owner)
    {
    }

    int64_t Read(void* buffer, size_t count) override
    {
        if (m_owner.failReadAfter >= 0) {
            const int64_t left = m_owner.failReadAfter - m_owner.bytesRead;
            if (left <= 0) {
                SetLastError(m_owner.readError);
                return -1;
            }
            count = std::min<size_t>(count, static_cast<size_t>(left));
        }
        const int64_t got = m_inner->Read(buffer, count);
        if (got > 0) m_owner.bytesRead += got;
        return got;
    }

    int64_t Write(const void* buffer, size_t count) override
    {
        if (m_owner.failWriteAfter >= 0) {
            const int64_t left = m_owner.failWriteAfter - m_owner.bytesWritten;
            if (left < static_cast<int64_t>(count)) {
                // The part that still fits is written, then the medium is full.
                if (left > 0) {
                    m_inner->Write(buffer, static_cast<size_t>(left));
                    m_owner.bytesWritten += left;
                }
                SetLastError(m_owner.writeError);
                return -1;
            }
        }
        const int64_t put = m_inner->Write(buffer, count);
        if (put > 0) m_owner.bytesWritten += put;
        return put;
    }

    // Through Read and Write, so that both kinds of fault apply to kernel copies as well.
    int64_t CopyFrom(File& source, size_t count) override
    {
        std::vector<char> buffer(std::min<size_t>(count, size_t(1) << 20));
        int64_t total = 0;
        while (static_cast<size_t>(total) < count) {
            const size_t want = std::min(buffer.size(), count - static_cast<size_t>(total));
            const int64_t got = source.Read(buffer.data(), want);
            if (got < 0) return -1;
            if (got == 0) break;
            if (Write(buffer.data(), static_cast<size_t>(got)) < 0) return -1;
            total += got;
        }
        return total;
    }

    bool Seek(int64_t position) override { return m_inner->Seek(position); }
    int64_t Size() override { return m_inner->Size(); }
    bool SetTimes(const FileTime* c, const FileTime* a, const FileTime* w) override
    {
        return m_inner->SetTimes(c, a, w);
    }
    int NativeHandle() const override { return m_inner->NativeHandle(); }

private:
    std::unique_ptr<File> m_inner;
    FaultyFileSystem& m_owner;
};

} // namespace

FaultyFileSystem::FaultyFileSystem(FileSystem& inner)
    : m_inner(inner)
{
}

std::unique_ptr<File> FaultyFileSystem::Wrap(std::unique_ptr<File> file)
{
    if (!file) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), *this);
}

std::unique_ptr<DirSearch> FaultyFileSystem::FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first)
{
    return m_inner.FindFirst(pattern, attrMask, first);
}
uint32_t FaultyFileSystem::GetAttributes(const std::string& path)
{
    return m_inner.GetAttributes(path);
}
bool FaultyFileSystem::SetAttributes(const std::string& path, uint32_t attributes)
{
    return m_inner.SetAttributes(path, attributes);
}
std::unique_ptr<File> FaultyFileSystem::Open(const std::string& path, OpenMode mode)
{
    if (!denyOpenContaining.empty() && path.find(denyOpenContaining) != std::string::npos) {
        SetLastError(err::AccessDenied);
        return nullptr;
    }
    return Wrap(m_inner.Open(path, mode));
}
std::unique_ptr<File> FaultyFileSystem::CreateTempBeside(const std::string& destination, std::string& tempPath)
{
    if (!denyOpenContaining.empty() && destination.find(denyOpenContaining) != std::string::npos) {
        SetLastError(err::AccessDenied);
        return nullptr;
    }
    return Wrap(m_inner.CreateTempBeside(destination, tempPath));
}
bool FaultyFileSystem::ReplaceWithTemp(const std::string& tempPath, const std::string& destination)
{
    return m_inner.ReplaceWithTemp(tempPath, destination);
}
bool FaultyFileSystem::ReplaceWithTempAs(
    const std::string& tempPath, const std::string& destination, const ReplaceOptions& options)
{
    return m_inner.ReplaceWithTempAs(tempPath, destination, options);
}
bool FaultyFileSystem::DeleteFile(const std::string& path)
{
    return m_inner.DeleteFile(path);
}
bool FaultyFileSystem::MoveFile(const std::string& from, const std::string& to)
{
    return m_inner.MoveFile(from, to);
}
bool FaultyFileSystem::CopyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    return m_inner.CopyFile(from, to, failIfExists);
}
bool FaultyFileSystem::CreateDirectory(const std::string& path)
{
    return m_inner.CreateDirectory(path);
}
bool FaultyFileSystem::RemoveDirectory(const std::string& path)
{
    return m_inner.RemoveDirectory(path);
}
bool FaultyFileSystem::SetCurrentDirectory(const std::string& path)
{
    return m_inner.SetCurrentDirectory(path);
}
std::string FaultyFileSystem::GetCurrentDirectory()
{
    return m_inner.GetCurrentDirectory();
}
bool FaultyFileSystem::SetFileTimes(
    const std::string& path, const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite)
{
    return m_inner.SetFileTimes(path, creation, lastAccess, lastWrite);
}
bool FaultyFileSystem::SyncFileSystem(const std::string& path)
{
    if (failSyncWith != 0) {
        SetLastError(failSyncWith);
        return false;
    }
    return m_inner.SyncFileSystem(path);
}

} // namespace zelo::test
