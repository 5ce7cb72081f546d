// The replacement file of file systems other than the Linux one (test doubles, wrappers): a hidden
// temporary file beside the destination, removed unless it is committed.
#include "platform/errors.h"
#include "platform/filesystem.h"

namespace zelo {

namespace {

class NamedReplacement final : public File {
public:
    NamedReplacement(std::unique_ptr<File> inner, FileSystem& owner, std::string tempPath)
        : m_inner(std::move(inner))
        , m_owner(owner)
        , m_tempPath(std::move(tempPath))
    {
    }

    ~NamedReplacement() override
    {
        m_inner.reset();
        if (m_tempPath.empty()) return;
        // The error that made the caller give up is the one to show.
        const KeepLastError keep;
        m_owner.DeleteFile(m_tempPath);
    }

    int64_t Read(void* buffer, size_t count) override { return m_inner->Read(buffer, count); }
    int64_t Write(const void* buffer, size_t count) override { return m_inner->Write(buffer, count); }
    int64_t CopyFrom(File& source, size_t count) override { return m_inner->CopyFrom(source, count); }
    bool Seek(int64_t position) override { return m_inner->Seek(position); }
    int64_t Size() override { return m_inner->Size(); }
    bool SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite) override
    {
        return m_inner->SetTimes(creation, lastAccess, lastWrite);
    }
    int NativeHandle() const override { return m_inner->NativeHandle(); }
    bool Flush() override { return m_inner->Flush(); }
    bool Close() override { return m_inner->Close(); }

    // Closes the file (a failing close fails) and puts it in destination's place.
    bool commit(const std::string& destination, const ReplaceOptions& options)
    {
        if (!m_inner->Close()) return false;
        m_inner.reset();
        if (!m_owner.ReplaceWithTempAs(m_tempPath, destination, options)) return false;
        m_tempPath.clear();
        return true;
    }

private:
    std::unique_ptr<File> m_inner;
    FileSystem& m_owner;
    std::string m_tempPath;
};

} // namespace

std::unique_ptr<File> FileSystem::CreateReplacement(const std::string& destination)
{
    std::string tempPath;
    auto file = CreateTempBeside(destination, tempPath);
    if (!file) return nullptr;
    return std::make_unique<NamedReplacement>(std::move(file), *this, tempPath);
}

bool FileSystem::CommitReplacement(
    std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options)
{
    auto* replacement = dynamic_cast<NamedReplacement*>(file.get());
    if (!replacement) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    return replacement->commit(destination, options);
}

} // namespace zelo
