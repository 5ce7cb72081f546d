#include "tests/support/faulty_fs.h"

#include "platform/errors.h"
#include "tests/support/refused_calls.h"

#include <algorithm>
#include <sys/syscall.h>

namespace zelo::test {

namespace {

class FaultyFile final : public ForwardingFile {
public:
    FaultyFile(std::unique_ptr<File> owned, File& inner, FaultyFileSystem& owner)
        : ForwardingFile(std::move(owned), inner)
        , m_owner(owner)
    {
    }

    int64_t Read(void* buffer, size_t count) override
    {
        std::lock_guard<std::mutex> lock(m_owner.counting);
        if (!Allow(count, false)) return -1; // a read writes nothing: only a read fault stops it
        const int64_t got = inner().Read(buffer, count);
        if (got > 0) m_owner.bytesRead += got;
        return got;
    }

    int64_t Write(const void* buffer, size_t count) override
    {
        if (m_owner.beforeWrite && !m_owner.beforeWrite()) {
            SetLastError(m_owner.writeError);
            return -1;
        }
        std::lock_guard<std::mutex> lock(m_owner.counting);
        const int64_t left = m_owner.failWriteAfter - m_owner.bytesWritten;
        if (m_owner.failWriteAfter >= 0 && left < static_cast<int64_t>(count)) {
            // The part that still fits is written, then the medium is full.
            if (left > 0) {
                inner().Write(buffer, static_cast<size_t>(left));
                m_owner.bytesWritten += left;
            }
            SetLastError(m_owner.writeError);
            return -1;
        }
        const int64_t put = inner().Write(buffer, count);
        if (put > 0) m_owner.bytesWritten += put;
        return put;
    }

    // The kernel copy that ships, cut short where a fault is due and failing once it is reached.
    int64_t CopyFrom(File& source, size_t count) override
    {
        if (m_owner.beforeCopy && !m_owner.beforeCopy(source)) {
            SetLastError(m_owner.readError);
            return -1;
        }
        std::lock_guard<std::mutex> lock(m_owner.counting);
        if (!Allow(count)) return -1;
        const int64_t moved = inner().CopyFrom(Inner(source), count);
        if (moved > 0) {
            m_owner.bytesRead += moved;
            m_owner.bytesWritten += moved;
        }
        return moved;
    }

private:
    // Shortens count to what may still move; false with the fault's code when nothing may.
    bool Allow(size_t& count, bool writes = true)
    {
        const struct {
            int64_t limit, done;
            uint32_t code;
            bool ofWrites;
        } faults[] = { { m_owner.failReadAfter, m_owner.bytesRead, m_owner.readError, false },
            { m_owner.failWriteAfter, m_owner.bytesWritten, m_owner.writeError, true } };
        for (const auto& f : faults) {
            if (f.limit < 0 || (f.ofWrites && !writes)) continue;
            if (f.limit <= f.done) {
                SetLastError(f.code);
                return false;
            }
            count = std::min<size_t>(count, static_cast<size_t>(f.limit - f.done));
        }
        return true;
    }

    FaultyFileSystem& m_owner;
};

} // namespace

FaultyFileSystem::FaultyFileSystem(FileSystem& inner)
    : ForwardingFileSystem(inner)
{
}

bool FaultyFileSystem::Denied(const std::string& path)
{
    if (denyOpenContaining.empty() || path.find(denyOpenContaining) == std::string::npos) return false;
    SetLastError(err::AccessDenied);
    return true;
}

std::unique_ptr<File> FaultyFileSystem::MakeFile(std::unique_ptr<File> owned, File& inner)
{
    return std::make_unique<FaultyFile>(std::move(owned), inner, *this);
}

namespace {

class FaultyDirHandle final : public ForwardingDirHandle {
public:
    FaultyDirHandle(std::unique_ptr<DirHandle> inner, FaultyFileSystem& owner)
        : ForwardingDirHandle(std::move(inner), owner)
        , m_faulty(owner)
    {
    }

    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override
    {
        if (m_faulty.beforeOpenChild) m_faulty.beforeOpenChild(entry);
        return ForwardingDirHandle::OpenChild(entry, status);
    }

    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        if (m_faulty.beforeDelete) m_faulty.beforeDelete(entry);
        return ForwardingDirHandle::DeleteEntry(entry, allowReadOnly);
    }

private:
    FaultyFileSystem& m_faulty;
};

} // namespace

std::unique_ptr<DirHandle> FaultyFileSystem::MakeDir(std::unique_ptr<DirHandle> inner)
{
    return std::make_unique<FaultyDirHandle>(std::move(inner), *this);
}

std::unique_ptr<File> FaultyFileSystem::Open(const std::string& path, OpenMode mode)
{
    return Denied(path) ? nullptr : ForwardingFileSystem::Open(path, mode);
}

std::unique_ptr<File> FaultyFileSystem::CreateReplacement(const std::string& destination)
{
    return Denied(destination) ? nullptr : ForwardingFileSystem::CreateReplacement(destination);
}

std::unique_ptr<RewriteTarget> FaultyFileSystem::OpenForRewrite(const std::string& path)
{
    return Denied(path) ? nullptr : ForwardingFileSystem::OpenForRewrite(path);
}

bool FaultyFileSystem::Commit(const std::function<bool()>& commit)
{
    if (closeErrno == 0) return commit();
    // A kernel that cannot refuse a call for one thread fails the commit as its close would.
    const auto done = RunInThreadWithRefusedCalls({ SYS_close }, closeErrno, commit);
    if (!done) SetLastErrorFromErrno(closeErrno);
    return done.value_or(false);
}

bool FaultyFileSystem::SyncFileSystem(const std::string& path)
{
    if (failSyncWith != 0) {
        SetLastError(failSyncWith);
        return false;
    }
    return ForwardingFileSystem::SyncFileSystem(path);
}

} // namespace zelo::test
