#include "tests/support/faulty_fs.h"

#include "platform/errors.h"

#include <algorithm>
#include <vector>

namespace zelo::test {

namespace {

class FaultyFile : public File {
public:
    FaultyFile(std::unique_ptr<File> inner, FaultyFileSystem& owner)
        : m_owned(std::move(inner))
        , m_inner(m_owned.get())
        , m_owner(owner)
    {
    }
    // A file that stays its owner's (the open file of a rewrite).
    FaultyFile(File& inner, FaultyFileSystem& owner)
        : m_inner(&inner)
        , m_owner(owner)
    {
    }

    // The wrapped file, for the commit of the file system underneath.
    std::unique_ptr<File> Release() { return std::move(m_owned); }

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
    bool Flush() override { return m_inner->Flush(); }
    bool Close() override
    {
        const bool closed = m_inner->Close();
        if (m_owner.closeError == 0) return closed;
        SetLastError(m_owner.closeError);
        return false;
    }

private:
    std::unique_ptr<File> m_owned;
    File* m_inner;
    FaultyFileSystem& m_owner;
};

class FaultyRewriteTarget : public RewriteTarget {
public:
    FaultyRewriteTarget(std::unique_ptr<RewriteTarget> inner, FaultyFileSystem& owner)
        : m_inner(std::move(inner))
        , m_content(m_inner->Content(), owner)
        , m_owner(owner)
    {
    }

    const Facts& Info() const override { return m_inner->Info(); }
    File& Content() override { return m_content; }
    std::unique_ptr<File> CreateReplacement() override
    {
        auto file = m_inner->CreateReplacement();
        if (!file) return nullptr;
        return std::make_unique<FaultyFile>(std::move(file), m_owner);
    }
    bool CommitReplacement(std::unique_ptr<File> file) override
    {
        if (m_owner.closeError != 0) {
            SetLastError(m_owner.closeError);
            return false;
        }
        auto* faulty = dynamic_cast<FaultyFile*>(file.get());
        return m_inner->CommitReplacement(faulty ? faulty->Release() : std::move(file));
    }

private:
    std::unique_ptr<RewriteTarget> m_inner;
    FaultyFile m_content;
    FaultyFileSystem& m_owner;
};

} // namespace

FaultyFileSystem::FaultyFileSystem(FileSystem& inner)
    : ForwardingFileSystem(inner)
{
}

std::unique_ptr<File> FaultyFileSystem::Wrap(std::unique_ptr<File> file)
{
    if (!file) return nullptr;
    return std::make_unique<FaultyFile>(std::move(file), *this);
}

std::unique_ptr<File> FaultyFileSystem::Open(const std::string& path, OpenMode mode)
{
    if (!denyOpenContaining.empty() && path.find(denyOpenContaining) != std::string::npos) {
        SetLastError(err::AccessDenied);
        return nullptr;
    }
    return Wrap(inner().Open(path, mode));
}
std::unique_ptr<File> FaultyFileSystem::CreateTempBeside(const std::string& destination, std::string& tempPath)
{
    if (!denyOpenContaining.empty() && destination.find(denyOpenContaining) != std::string::npos) {
        SetLastError(err::AccessDenied);
        return nullptr;
    }
    return Wrap(inner().CreateTempBeside(destination, tempPath));
}
std::unique_ptr<RewriteTarget> FaultyFileSystem::OpenForRewrite(const std::string& path)
{
    if (!denyOpenContaining.empty() && path.find(denyOpenContaining) != std::string::npos) {
        SetLastError(err::AccessDenied);
        return nullptr;
    }
    auto target = inner().OpenForRewrite(path);
    if (!target) return nullptr;
    return std::make_unique<FaultyRewriteTarget>(std::move(target), *this);
}

bool FaultyFileSystem::SyncFileSystem(const std::string& path)
{
    if (failSyncWith != 0) {
        SetLastError(failSyncWith);
        return false;
    }
    return inner().SyncFileSystem(path);
}

} // namespace zelo::test
