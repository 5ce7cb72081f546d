// zelo-cli's --verbose and --progress: the engine's file system calls, observed on their way.
#include "cli/observed_fs.h"

#include "platform/drive_path.h"

#include <cstdio>
#include <unistd.h>

namespace zelo::cli {

namespace {

// A file as the engine gets it: what is written or copied into it is counted.
class ObservedFile final : public ForwardingFile {
public:
    ObservedFile(std::unique_ptr<File> owned, File& inner, ObservedFileSystem& observer)
        : ForwardingFile(std::move(owned), inner)
        , m_observer(observer)
    {
    }
    int64_t Write(const void* buffer, size_t count) override { return Counted(ForwardingFile::Write(buffer, count)); }
    int64_t CopyFrom(File& source, size_t count) override { return Counted(ForwardingFile::CopyFrom(source, count)); }

private:
    int64_t Counted(int64_t bytes)
    {
        if (bytes > 0) m_observer.Wrote(bytes);
        return bytes;
    }
    ObservedFileSystem& m_observer;
};

// A directory of a tree walk, named by its drive path so that each step can say which entry it touched.
class ObservedDir final : public ForwardingDirHandle {
public:
    ObservedDir(std::unique_ptr<DirHandle> inner, std::string dirWithSep, ObservedFileSystem& observer)
        : ForwardingDirHandle(std::move(inner), observer)
        , m_path(std::move(dirWithSep))
        , m_observer(observer)
    {
    }
    static std::unique_ptr<DirHandle> Wrap(
        std::unique_ptr<DirHandle> inner, std::string dirWithSep, ObservedFileSystem& observer)
    {
        if (!inner) return inner;
        return std::make_unique<ObservedDir>(std::move(inner), std::move(dirWithSep), observer);
    }

    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override
    {
        return Wrap(inner().OpenChild(entry, status), m_path + entry.name + "\\", m_observer);
    }
    std::unique_ptr<DirHandle> OpenParent(const DirIdentity& expected) override
    {
        return Wrap(inner().OpenParent(expected), ParentWithSeparator(WithoutSeparator(m_path)), m_observer);
    }
    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        return Step(ForwardingDirHandle::DeleteEntry(entry, allowReadOnly), "deleted", entry.name);
    }
    bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) override
    {
        return Step(ForwardingDirHandle::RemoveSubdirectory(entry, allowReadOnly), "deleted", entry.name);
    }
    bool CreateSubdirectory(const std::string& name) override
    {
        return Step(ForwardingDirHandle::CreateSubdirectory(name), "created", name);
    }
    bool CopyLinkTo(const FindData& entry, DirHandle& destination) override
    {
        const bool done = ForwardingDirHandle::CopyLinkTo(entry, destination);
        if (auto* observed = dynamic_cast<ObservedDir*>(&destination)) observed->Step(done, "copied", entry.name);
        return done;
    }
    bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override
    {
        FindData existing;
        const bool existed = m_observer.Verbose() && inner().Lookup(name, existing);
        const bool done = ForwardingDirHandle::CommitReplacement(std::move(file), name, options);
        return Step(done, existed ? "updated" : "copied", name);
    }

private:
    bool Step(bool done, const char* action, const std::string& name)
    {
        m_observer.Acted(done ? action : nullptr, m_path + name);
        return done;
    }
    std::string m_path;
    ObservedFileSystem& m_observer;
};

std::string Grouped(uint64_t value)
{
    const std::string digits = std::to_string(value);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return out;
}

} // namespace

ProgressLine::ProgressLine(bool wanted)
    : m_on(wanted && ::isatty(STDERR_FILENO) == 1)
    , m_start(std::chrono::steady_clock::now())
    , m_drawn(m_start)
{
}

ProgressLine::~ProgressLine()
{
    if (m_on) Draw(true);
}

void ProgressLine::AddBytes(uint64_t bytes)
{
    m_bytes += bytes;
    if (m_on) Draw(false);
}

void ProgressLine::AddFile()
{
    ++m_files;
    if (m_on) Draw(false);
}

void ProgressLine::Draw(bool last)
{
    const auto now = std::chrono::steady_clock::now();
    if (!last && now - m_drawn < std::chrono::milliseconds(250)) return;
    m_drawn = now;
    const double seconds = std::chrono::duration<double>(now - m_start).count();
    const double rate = seconds > 0 ? double(m_bytes) / seconds / (1024.0 * 1024.0) : 0.0;
    // "\r" and clearing to the end of the line: the line is redrawn in place, as rsync draws its own.
    std::fprintf(stderr, "\r%15s bytes  %8s files  %8.2f MB/s  %02d:%02d:%02d\033[K%s", Grouped(m_bytes).c_str(),
        Grouped(m_files).c_str(), rate, int(seconds) / 3600, int(seconds) / 60 % 60, int(seconds) % 60,
        last ? "\n" : "");
    std::fflush(stderr);
}

ObservedFileSystem::ObservedFileSystem(const Arguments& args)
    : ForwardingFileSystem(fs())
    , m_args(args)
    , m_progress(args.progress)
    , m_installed(*this)
{
}

ObservedFileSystem::~ObservedFileSystem() = default;

void ObservedFileSystem::Acted(const char* action, const std::string& drivePath)
{
    // A failed step is listed as "refused" where the engine reports it, once.
    if (action == nullptr) return;
    const std::lock_guard<std::mutex> lock(m_reporting);
    if (m_args.verbose) {
        std::string path = TypedPath(drivePath);
        std::printf("%s %s\n", action, EscapeName(path).c_str());
    }
    if (std::string_view(action) == "copied" || std::string_view(action) == "updated") m_progress.AddFile();
}

void ObservedFileSystem::Wrote(int64_t bytes)
{
    const std::lock_guard<std::mutex> lock(m_reporting);
    m_progress.AddBytes(uint64_t(bytes));
}

bool ObservedFileSystem::Written(bool done, bool existed, const std::string& drivePath)
{
    Acted(done ? (existed ? "updated" : "copied") : nullptr, drivePath);
    return done;
}

std::unique_ptr<DirHandle> ObservedFileSystem::OpenTreeDirectory(
    const std::string& dirWithSep, ListDetail detail, bool followLink)
{
    return ObservedDir::Wrap(inner().OpenTreeDirectory(dirWithSep, detail, followLink), dirWithSep, *this);
}

std::unique_ptr<File> ObservedFileSystem::MakeFile(std::unique_ptr<File> owned, File& inner)
{
    return std::make_unique<ObservedFile>(std::move(owned), inner, *this);
}

bool ObservedFileSystem::CommitReplacement(
    std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options)
{
    const bool existed = inner().GetAttributes(destination) != kInvalidAttributes;
    return Written(
        ForwardingFileSystem::CommitReplacement(std::move(file), destination, options), existed, destination);
}

bool ObservedFileSystem::DeleteFile(const std::string& path)
{
    const bool done = inner().DeleteFile(path);
    Acted(done ? "deleted" : nullptr, path);
    return done;
}

bool ObservedFileSystem::MoveFile(const std::string& from, const std::string& to)
{
    const bool done = inner().MoveFile(from, to);
    if (done && m_renames) {
        const std::lock_guard<std::mutex> lock(m_reporting);
        if (m_args.verbose) {
            const std::string old = TypedPath(from);
            const size_t slash = old.rfind('/');
            const std::string renamed = old.substr(0, slash == std::string::npos ? 0 : slash + 1)
                + LinuxNameFromDrive(SplitDrivePath(to).second);
            std::printf("renamed %s -> %s\n", EscapeName(old).c_str(), EscapeName(renamed).c_str());
        }
        return done;
    }
    Acted(done ? "moved" : nullptr, to);
    return done;
}

bool ObservedFileSystem::CopyFile(const std::string& from, const std::string& to, bool failIfExists)
{
    const bool existed = inner().GetAttributes(to) != kInvalidAttributes;
    return Written(inner().CopyFile(from, to, failIfExists), existed, to);
}

bool ObservedFileSystem::CreateDirectory(const std::string& path)
{
    const bool done = inner().CreateDirectory(path);
    Acted(done ? "created" : nullptr, path);
    return done;
}

bool ObservedFileSystem::RemoveDirectory(const std::string& path)
{
    const bool done = inner().RemoveDirectory(path);
    Acted(done ? "deleted" : nullptr, path);
    return done;
}

} // namespace zelo::cli
