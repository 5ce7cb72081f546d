// The direct SMB client's file system: every call is a request to the calling thread's helper. Names are
// never reused from a path's text inside a walk on Linux; a share has no descriptors, so a walk's handle
// here keeps its directory's place on the share and checks each subdirectory it enters against the
// identity its listing reported.
#include "platform/smb_filesystem.h"

#include "platform/dosattrib.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/mount_table.h"
#include "platform/share_logins.h"
#include "platform/time.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <random>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

namespace zelo {

using smb::Entry;
using smb::Helper;
using smb::Op;
using smb::Reply;
using smb::ShareAddress;
using smb::Writer;

namespace {

constexpr std::string_view kGvfsFolder = "/gvfs/";
constexpr std::string_view kGvfsShare = "/gvfs/smb-share:";

bool Failed(int e, ErrnoCall call = ErrnoCall::Generic)
{
    // A server that went away, or no longer answers, is a network path that cannot be reached.
    if (e == ECONNREFUSED || e == ECONNRESET || e == EPIPE || e == ENOTCONN || e == EHOSTUNREACH || e == ENETUNREACH) {
        SetLastError(err::BadNetPath);
    } else if (e == ETIMEDOUT) {
        SetLastError(err::SemTimeout);
    } else {
        SetLastErrorFromErrno(e, call);
    }
    return false;
}

bool Coded(uint32_t code)
{
    SetLastError(code);
    return false;
}

FileTime TimeOf(int64_t ns)
{
    if (ns == 0) return {};
    int64_t seconds = ns / 1000000000, rest = ns % 1000000000;
    if (rest < 0) {
        rest += 1000000000;
        --seconds;
    }
    return FileTimeFromUnix(seconds, rest);
}

int64_t MicrosecondsOf(const FileTime* time)
{
    if (!time || time->value == 0) return smb::kTimeLeftAlone;
    int64_t seconds = 0, nanoseconds = 0;
    FileTimeToUnix(*time, seconds, nanoseconds);
    return seconds * 1000000 + nanoseconds / 1000;
}

// The attribute word of an entry as the share keeps it; a file with none reads as Normal.
uint32_t AttributesOf(const Entry& e)
{
    const uint32_t kept = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
    uint32_t attributes = e.dosAttributes & kept;
    if (S_ISDIR(e.mode)) attributes |= kAttrDirectory;
    return attributes ? attributes : kAttrNormal;
}

void Fill(const Entry& e, const std::string& linuxName, FindData& out)
{
    out = FindData {};
    out.attributes = AttributesOf(e);
    out.sizeHigh = uint32_t(e.size >> 32);
    out.sizeLow = uint32_t(e.size);
    out.lastAccessTime = TimeOf(e.accessNs);
    out.lastWriteTime = TimeOf(e.writeNs);
    out.creationTime = TimeOf(e.creationNs);
    out.fileId = e.inode;
    AppendDriveName(out.name, linuxName);
}

std::string Join(const std::string& inside, std::string_view name)
{
    return inside.empty() ? std::string(name) : inside + "/" + std::string(name);
}

// The folder that holds a path inside a share ("a/b" -> "a", "b" -> ""), and its last name.
std::string ParentOf(const std::string& inside)
{
    const size_t slash = inside.rfind('/');
    return slash == std::string::npos ? std::string() : inside.substr(0, slash);
}
std::string BaseName(const std::string& inside)
{
    const size_t slash = inside.rfind('/');
    return slash == std::string::npos ? inside : inside.substr(slash + 1);
}

std::string RandomHiddenName()
{
    thread_local std::mt19937_64 random { std::random_device {}() };
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = ".zelo-";
    for (int i = 0; i < 6; ++i)
        name += kLetters[random() % (sizeof kLetters - 1)];
    return name + ".tmp";
}

// A place on a share with the calling thread's helper, logged in.
struct Place {
    std::shared_ptr<Helper> helper;
    ShareAddress share;
    std::string inside;

    std::string Url() const { return SmbUrl(share, inside); }
    std::string UrlOf(std::string_view name) const { return SmbUrl(share, Join(inside, name)); }

    Reply Ask(Writer& request) const { return helper->Call(request); }
    // One request on one URL (Stat, Unlink, Mkdir, Rmdir, GetDos).
    Reply On(Op op, const std::string& url) const
    {
        Writer request;
        request.U8(uint8_t(op)).Bytes(url);
        return Ask(request);
    }
    bool Stat(const std::string& url, Entry& out) const
    {
        const Reply reply = On(Op::Stat, url);
        if (reply.error != 0) return Failed(reply.error);
        auto fields = reply.Fields();
        out = fields.GetEntry();
        return true;
    }
};

std::optional<Place> PlaceOf(const std::string& drivePath)
{
    const auto linuxPath = driveMap().toLinux(drivePath);
    if (!linuxPath) {
        SetLastError(err::PathNotFound);
        return std::nullopt;
    }
    auto location = SmbLocationOf(*linuxPath);
    auto helper = location ? smb::ThisThreadHelper() : nullptr;
    if (!helper) {
        SetLastError(err::BadNetPath);
        return std::nullopt;
    }
    helper->EnsureLogin(location->share);
    return Place { std::move(helper), std::move(location->share), std::move(location->inside) };
}

// An open file on a share. Reads and writes go in requests of at most 1 MiB.
class SmbFile : public File {
public:
    SmbFile(Place place, uint32_t handle, Entry atOpen)
        : m_place(std::move(place))
        , m_handle(handle)
        , m_atOpen(std::move(atOpen))
    {
    }
    ~SmbFile() override { Close(); }

    int64_t Read(void* buffer, size_t count) override
    {
        auto* to = static_cast<char*>(buffer);
        size_t got = 0;
        while (got < count) {
            Writer request;
            request.U8(uint8_t(Op::Read))
                .U32(m_handle)
                .U32(uint32_t(std::min<size_t>(count - got, smb::kMostPerRequest)));
            const Reply reply = m_place.Ask(request);
            if (reply.error != 0) {
                Failed(reply.error);
                return -1;
            }
            auto fields = reply.Fields();
            const std::string_view bytes = fields.Bytes();
            std::copy(bytes.begin(), bytes.end(), to + got);
            got += bytes.size();
            if (bytes.empty()) break;
        }
        return int64_t(got);
    }
    int64_t Write(const void* buffer, size_t count) override
    {
        const auto* from = static_cast<const char*>(buffer);
        size_t put = 0;
        while (put < count) {
            const size_t part = std::min<size_t>(count - put, smb::kMostPerRequest);
            Writer request;
            request.U8(uint8_t(Op::Write)).U32(m_handle).Bytes(std::string_view(from + put, part));
            const Reply reply = m_place.Ask(request);
            if (reply.error != 0) {
                Failed(reply.error);
                return -1;
            }
            put += part;
        }
        return int64_t(put);
    }
    int64_t CopyFrom(File& source, size_t count) override { return CopyThroughBuffer(source, *this, count); }
    bool Seek(int64_t position) override
    {
        Writer request;
        request.U8(uint8_t(Op::Seek)).U32(m_handle).I64(position);
        const Reply reply = m_place.Ask(request);
        return reply.error == 0 || Failed(reply.error);
    }
    int64_t Size() override
    {
        Entry now;
        return m_place.Stat(m_place.Url(), now) ? int64_t(now.size) : -1;
    }
    int64_t SizeAtOpen() override { return int64_t(m_atOpen.size); }
    bool SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) override
    {
        Writer request;
        request.U8(uint8_t(Op::SetTimes))
            .Bytes(m_place.Url())
            .I64(MicrosecondsOf(lastAccess))
            .I64(MicrosecondsOf(lastWrite))
            .U8(1);
        const Reply reply = m_place.Ask(request);
        return reply.error == 0 || Failed(reply.error);
    }
    int NativeHandle() const override { return -1; }
    bool Close() override
    {
        if (!m_open) return true;
        m_open = false;
        Writer request;
        request.U8(uint8_t(Op::Close)).U32(m_handle);
        const Reply reply = m_place.Ask(request);
        return reply.error == 0 || Failed(reply.error);
    }
    bool Truncate(int64_t size) override
    {
        Writer request;
        request.U8(uint8_t(Op::Truncate)).U32(m_handle).I64(size);
        const Reply reply = m_place.Ask(request);
        return reply.error == 0 || Failed(reply.error);
    }
    // A share keeps no Unix modes: a copy is readable by all, writable by its owner unless ReadOnly.
    bool Facts(SourceFacts& out) override
    {
        out.mode = S_IFREG | ((m_atOpen.dosAttributes & kAttrReadOnly) ? 0444 : 0644);
        out.accessSeconds = m_atOpen.accessNs / 1000000000;
        out.accessNanoseconds = m_atOpen.accessNs % 1000000000;
        out.writeSeconds = m_atOpen.writeNs / 1000000000;
        out.writeNanoseconds = m_atOpen.writeNs % 1000000000;
        return true;
    }

    const Place& place() const { return m_place; }
    uint32_t AttributesAtOpen() const { return AttributesOf(m_atOpen); }

protected:
    Place m_place; // the file's own path
    uint32_t m_handle;
    Entry m_atOpen;
    bool m_open = true;
};

// A new file under a hidden name beside its destination; removed unless committed (and by the helper,
// should the program end before).
class SmbReplacement final : public SmbFile {
public:
    SmbReplacement(Place place, uint32_t handle, bool destinationWasFree)
        : SmbFile(std::move(place), handle, Entry {})
        , m_destinationWasFree(destinationWasFree)
    {
    }
    ~SmbReplacement() override
    {
        const KeepLastError keep;
        SmbFile::Close();
        if (!m_committed) m_place.On(Op::Unlink, m_place.Url());
    }

    // The share's own attribute word for the new file, given once it has its times (setting times by name
    // sets the attribute word too) and its name.
    void SetDosAttributes(uint32_t attributes) { m_attributes = attributes; }

    // Closes the file (the close checked), gives it the source's times and puts it in destination's place:
    // under a free name with a rename that looks first, over an old file without deleting it first.
    bool Commit(const Place& destination, const ReplaceOptions& options, bool exclusive)
    {
        if (!Close()) return false;
        if (options.source) {
            SourceFacts facts;
            if (!options.source->Facts(facts)) return false;
            Writer request;
            request.U8(uint8_t(Op::SetTimes)).Bytes(m_place.Url());
            request.I64(facts.accessSeconds * 1000000 + facts.accessNanoseconds / 1000);
            request.I64(facts.writeSeconds * 1000000 + facts.writeNanoseconds / 1000);
            request.U8(0); // a new file: Archive alone
            const Reply reply = m_place.Ask(request);
            if (reply.error != 0) return Failed(reply.error);
        }
        Writer request;
        if (exclusive || m_destinationWasFree) {
            request.U8(uint8_t(Op::Rename)).Bytes(m_place.Url()).Bytes(destination.Url());
        } else {
            // The helper looks the old file up once, just before it moves aside: a directory or a ReadOnly
            // file is refused there (EACCES).
            const std::string aside = SmbUrl(destination.share, Join(ParentOf(destination.inside), RandomHiddenName()));
            request.U8(uint8_t(Op::Replace)).Bytes(m_place.Url()).Bytes(destination.Url()).Bytes(aside);
        }
        const Reply reply = m_place.Ask(request);
        if (reply.error != 0) return Failed(reply.error, exclusive ? ErrnoCall::CreateNoReplace : ErrnoCall::Generic);
        m_committed = true;
        if (m_attributes) {
            // Under its own name: the server counts a hidden name's file as Hidden whatever it is told.
            Writer attributes;
            attributes.U8(uint8_t(Op::SetDos)).Bytes(destination.Url()).U32(*m_attributes);
            const Reply set = m_place.Ask(attributes);
            if (set.error != 0) return Failed(set.error);
        }
        return true;
    }

private:
    bool m_destinationWasFree;
    bool m_committed = false;
    std::optional<uint32_t> m_attributes;
};

std::unique_ptr<File> OpenAt(Place place, int flags, bool temporary, uint32_t code = 0)
{
    Writer request;
    request.U8(uint8_t(Op::Open)).Bytes(place.Url()).U32(uint32_t(flags)).U8(temporary ? 1 : 0);
    const Reply reply = place.Ask(request);
    if (reply.error != 0) {
        Failed(reply.error, (flags & O_EXCL) ? ErrnoCall::CreateNoReplace : ErrnoCall::Generic);
        if (code) SetLastError(code);
        return nullptr;
    }
    auto fields = reply.Fields();
    const uint32_t handle = fields.U32();
    Entry atOpen = fields.GetEntry();
    return std::make_unique<SmbFile>(std::move(place), handle, std::move(atOpen));
}

// A replacement for the entry name in directory: refused (5) for a directory or a ReadOnly file, looked up
// first unless the caller's listing has just seen it (then the commit refuses them).
std::unique_ptr<File> MakeReplacement(
    const Place& directory, const std::string& linuxName, bool listedFree, bool lookFirst = true)
{
    bool free = listedFree;
    if (!listedFree && lookFirst) {
        Entry old;
        if (directory.Stat(directory.UrlOf(linuxName), old)) {
            if (S_ISDIR(old.mode) || (old.dosAttributes & kAttrReadOnly)) {
                SetLastError(err::AccessDenied);
                return nullptr;
            }
        } else if (GetLastError() != err::FileNotFound) {
            return nullptr;
        } else {
            free = true;
        }
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        Place temporary { directory.helper, directory.share, Join(directory.inside, RandomHiddenName()) };
        Writer request;
        request.U8(uint8_t(Op::Open)).Bytes(temporary.Url()).U32(O_RDWR | O_CREAT | O_EXCL).U8(1);
        const Reply reply = temporary.Ask(request);
        if (reply.error == EEXIST) continue;
        if (reply.error != 0) {
            Failed(reply.error, ErrnoCall::CreateNoReplace);
            return nullptr;
        }
        auto fields = reply.Fields();
        return std::make_unique<SmbReplacement>(std::move(temporary), fields.U32(), free);
    }
    Failed(EEXIST, ErrnoCall::CreateNoReplace);
    return nullptr;
}

bool CommitTo(std::unique_ptr<File> file, const Place& destination, const ReplaceOptions& options, bool exclusive)
{
    auto* replacement = dynamic_cast<SmbReplacement*>(file.get());
    if (!replacement) {
        SetLastError(err::InvalidParameter);
        return false;
    }
    return replacement->Commit(destination, options, exclusive);
}

class SmbDirHandle final : public DirHandle {
public:
    SmbDirHandle(Place place, const Entry& self)
        : m_place(std::move(place))
        , m_identity { self.device, self.inode }
        , m_readOnly(self.dosAttributes & kAttrReadOnly)
    {
    }

    bool Next(FindData& out) override
    {
        const Place here = Here();
        if (!m_listed) {
            const Reply reply = here.On(Op::List, here.Url());
            if (reply.error != 0) return Failed(reply.error);
            auto fields = reply.Fields();
            const uint32_t count = fields.U32();
            smb::Reader entries(fields.Bytes());
            m_entries.clear();
            for (uint32_t i = 0; i < count && entries.Ok(); ++i)
                m_entries.push_back(entries.GetEntry());
            m_listed = true;
            m_next = 0;
        }
        if (m_next >= m_entries.size()) {
            SetLastError(err::Success);
            return false;
        }
        const Entry& e = m_entries[m_next++];
        Fill(e, e.name, out);
        return true;
    }
    bool Rewind() override
    {
        m_listed = false;
        return true;
    }
    bool Lookup(const std::string& name, FindData& out) override
    {
        const Place here = Here();
        if (name.empty() || name.find('\\') != std::string::npos || name.find('/') != std::string::npos || name == "."
            || name == "..")
            return Failed(ENOENT);
        const std::string linuxName = LinuxNameFromDrive(name);
        Entry e;
        if (!here.Stat(here.UrlOf(linuxName), e)) return false;
        Fill(e, linuxName, out);
        return true;
    }
    std::unique_ptr<DirHandle> OpenChild(const FindData& entry, ChildOpen& status) override
    {
        const Place here = Here();
        status = ChildOpen::Failed;
        Place child { here.helper, here.share, Join(here.inside, LinuxNameFromDrive(entry.name)) };
        Entry e;
        if (!here.Stat(child.Url(), e)) return nullptr;
        // No longer the directory the listing reported: never entered.
        if (!S_ISDIR(e.mode) || (entry.fileId != 0 && e.inode != entry.fileId)) {
            status = ChildOpen::Changed;
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        status = ChildOpen::Opened;
        return std::make_unique<SmbDirHandle>(std::move(child), e);
    }
    std::unique_ptr<DirHandle> OpenParent(const DirIdentity& expected) override
    {
        const Place here = Here();
        if (here.inside.empty()) {
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        Place parent { here.helper, here.share, ParentOf(here.inside) };
        Entry e;
        if (!parent.Stat(parent.Url(), e)) return nullptr;
        if (expected.inode != 0 && DirIdentity { e.device, e.inode } != expected) {
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        return std::make_unique<SmbDirHandle>(std::move(parent), e);
    }
    DirIdentity Identity() const override { return m_identity; }

    bool DeleteEntry(const FindData& entry, bool allowReadOnly) override
    {
        const Place here = Here();
        if ((entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint)) return Failed(EACCES);
        const std::string url = here.UrlOf(LinuxNameFromDrive(entry.name));
        if (!allowReadOnly) {
            Entry now;
            if (!here.Stat(url, now)) return false;
            if (now.dosAttributes & kAttrReadOnly) return Failed(EACCES);
        }
        const Reply reply = here.On(Op::Unlink, url);
        return reply.error == 0 || Failed(reply.error);
    }
    bool RemoveSubdirectory(const FindData& entry, bool allowReadOnly) override
    {
        const Place here = Here();
        const std::string url = here.UrlOf(LinuxNameFromDrive(entry.name));
        Entry now;
        if (!here.Stat(url, now)) return false;
        if (!S_ISDIR(now.mode)) return Coded(err::NotADirectory);
        // Only the very directory that was walked, not one put in its place.
        if (entry.fileId != 0 && now.inode != entry.fileId) return Coded(err::PathNotFound);
        if (!allowReadOnly && (now.dosAttributes & kAttrReadOnly)) return Failed(EACCES);
        const Reply reply = here.On(Op::Rmdir, url);
        return reply.error == 0 || Failed(reply.error, ErrnoCall::RemoveDirectory);
    }
    bool CreateSubdirectory(const std::string& name) override
    {
        const Place here = Here();
        const Reply reply = here.On(Op::Mkdir, here.UrlOf(LinuxNameFromDrive(name)));
        return reply.error == 0 || Failed(reply.error, ErrnoCall::MakeDirectory);
    }
    // A share keeps no symbolic links.
    bool CopyLinkTo(const FindData&, DirHandle&) override { return Unsupported(); }
    std::unique_ptr<File> OpenForCopy(const FindData& entry) override
    {
        const Place here = Here();
        Place file { here.helper, here.share, Join(here.inside, LinuxNameFromDrive(entry.name)) };
        return OpenAt(std::move(file), O_RDONLY, false);
    }
    std::unique_ptr<File> CreateReplacement(const std::string& name, bool listedFree) override
    {
        // The walk's listing of this folder has just seen the entry (and refused a directory or a ReadOnly
        // file): it is not looked up again here; the commit's look, just before the old file moves aside,
        // decides.
        return MakeReplacement(Here(), LinuxNameFromDrive(name), listedFree, false);
    }
    bool CommitReplacement(std::unique_ptr<File> file, const std::string& name, const ReplaceOptions& options) override
    {
        const Place here = Here();
        const Place destination { here.helper, here.share, Join(here.inside, LinuxNameFromDrive(name)) };
        return CommitTo(std::move(file), destination, options, false);
    }
    void MarkArchiveOnly(const FindData& entry, File&) override
    {
        if (!(entry.attributes & (kAttrReadOnly | kAttrHidden | kAttrSystem))) return;
        const KeepLastError keep;
        const Place here = Here();
        Writer request;
        request.U8(uint8_t(Op::SetDos)).Bytes(here.UrlOf(LinuxNameFromDrive(entry.name))).U32(kAttrArchive);
        here.Ask(request);
    }
    bool IsReadOnly() override { return m_readOnly; }
    bool LendWrite() override { return false; }
    void TakeBackWrite() override { }
    bool IsSystemRoot() override { return false; }

private:
    // The place with the calling thread's helper: a walk's handles are used from the copy threads too, and
    // a helper that died has a successor for what follows.
    Place Here() const
    {
        auto helper = smb::ThisThreadHelper();
        if (!helper) return m_place;
        helper->EnsureLogin(m_place.share);
        return Place { std::move(helper), m_place.share, m_place.inside };
    }

    Place m_place;
    DirIdentity m_identity;
    bool m_readOnly;
    bool m_listed = false;
    std::vector<Entry> m_entries;
    size_t m_next = 0;
};

class SmbFileSystem final : public FileSystem {
public:
    // Searches, rewrites and the current directory go through the GVfs mount.
    std::unique_ptr<DirSearch> FindFirst(const std::string& pattern, uint32_t attrMask, FindData& first) override
    {
        return linuxFileSystem().FindFirst(pattern, attrMask, first);
    }
    std::unique_ptr<DirHandle> OpenTreeDirectory(const std::string& dirWithSep, ListDetail, bool) override
    {
        auto place = PlaceOf(WithoutSeparator(dirWithSep));
        if (!place) return nullptr;
        Entry self;
        if (!place->Stat(place->Url(), self)) return nullptr;
        if (!S_ISDIR(self.mode)) {
            SetLastError(err::PathNotFound);
            return nullptr;
        }
        return std::make_unique<SmbDirHandle>(std::move(*place), self);
    }
    uint32_t GetAttributes(const std::string& path) override
    {
        auto place = PlaceOf(path);
        Entry e;
        if (!place || !place->Stat(place->Url(), e)) return kInvalidAttributes;
        return AttributesOf(e);
    }
    bool SetAttributes(const std::string& path, uint32_t attributes) override
    {
        auto place = PlaceOf(path);
        if (!place) return false;
        const uint32_t kept = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;
        Writer request;
        request.U8(uint8_t(Op::SetDos)).Bytes(place->Url()).U32(attributes & kept);
        const Reply reply = place->Ask(request);
        return reply.error == 0 || Failed(reply.error);
    }
    std::unique_ptr<File> Open(const std::string& path, OpenMode mode) override
    {
        auto place = PlaceOf(path);
        if (!place) return nullptr;
        int flags = O_RDWR;
        switch (mode) {
        case OpenMode::Read:
            flags = O_RDONLY;
            break;
        case OpenMode::ReadWrite:
            break;
        case OpenMode::CreateAlways:
            flags |= O_CREAT | O_TRUNC;
            break;
        case OpenMode::CreateNew:
            flags |= O_CREAT | O_EXCL;
            break;
        case OpenMode::OpenAlways:
            flags |= O_CREAT;
            break;
        }
        if (mode != OpenMode::Read) {
            Entry old;
            if (place->Stat(place->Url(), old) && (S_ISDIR(old.mode) || (old.dosAttributes & kAttrReadOnly))) {
                SetLastError(mode == OpenMode::CreateNew && !S_ISDIR(old.mode) ? err::FileExists : err::AccessDenied);
                return nullptr;
            }
        }
        return OpenAt(std::move(*place), flags, false);
    }
    std::unique_ptr<File> CreateReplacement(const std::string& destination) override
    {
        auto place = PlaceOf(destination);
        if (!place) return nullptr;
        const Place directory { place->helper, place->share, ParentOf(place->inside) };
        return MakeReplacement(directory, BaseName(place->inside), false);
    }
    bool CommitReplacement(
        std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options) override
    {
        auto place = PlaceOf(destination);
        return place && CommitTo(std::move(file), *place, options, false);
    }
    bool DeleteFile(const std::string& path) override
    {
        auto place = PlaceOf(path);
        Entry e;
        if (!place || !place->Stat(place->Url(), e)) return false;
        if (S_ISDIR(e.mode) || (e.dosAttributes & kAttrReadOnly)) return Failed(EACCES);
        const Reply reply = place->On(Op::Unlink, place->Url());
        return reply.error == 0 || Failed(reply.error);
    }
    bool MoveFile(const std::string& from, const std::string& to) override
    {
        auto source = PlaceOf(from);
        auto target = source ? PlaceOf(to) : std::nullopt;
        if (!source || !target) return false;
        if (!(source->share == target->share)) return Failed(EXDEV);
        if (source->inside == target->inside) return true;
        Writer request;
        request.U8(uint8_t(Op::Rename)).Bytes(source->Url()).Bytes(target->Url());
        const Reply reply = source->Ask(request);
        return reply.error == 0 || Failed(reply.error, ErrnoCall::Move);
    }
    bool CopyFile(const std::string& from, const std::string& to, bool failIfExists) override
    {
        return CopyFileAcross(from, to, failIfExists);
    }
    bool CreateDirectory(const std::string& path) override
    {
        auto place = PlaceOf(path);
        if (!place) return false;
        const Reply reply = place->On(Op::Mkdir, place->Url());
        return reply.error == 0 || Failed(reply.error, ErrnoCall::MakeDirectory);
    }
    bool RemoveDirectory(const std::string& path) override
    {
        auto place = PlaceOf(path);
        Entry e;
        if (!place || !place->Stat(place->Url(), e)) return false;
        if (!S_ISDIR(e.mode)) return Coded(err::NotADirectory);
        if (e.dosAttributes & kAttrReadOnly) return Failed(EACCES);
        const Reply reply = place->On(Op::Rmdir, place->Url());
        return reply.error == 0 || Failed(reply.error, ErrnoCall::RemoveDirectory);
    }
    bool SetCurrentDirectory(const std::string& path) override { return linuxFileSystem().SetCurrentDirectory(path); }
    std::string GetCurrentDirectory() override { return linuxFileSystem().GetCurrentDirectory(); }
    bool SetFileTimes(
        const std::string& path, const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite) override
    {
        auto place = PlaceOf(path);
        if (!place) return false;
        Writer request;
        request.U8(uint8_t(Op::SetTimes))
            .Bytes(place->Url())
            .I64(MicrosecondsOf(lastAccess))
            .I64(MicrosecondsOf(lastWrite))
            .U8(1);
        const Reply reply = place->Ask(request);
        return reply.error == 0 || Failed(reply.error);
    }
    // The server holds what it was given once each file is closed.
    bool SyncFileSystem(const std::string&) override { return true; }
    std::unique_ptr<RewriteTarget> OpenForRewrite(const std::string& path) override
    {
        return linuxFileSystem().OpenForRewrite(path);
    }
};

// Whether a share answers the direct client's login, asked once a session (again once a login was
// typed for it).
struct ShareState {
    bool direct = false;
    bool withLogin = false;
};

bool ShareAnswers(const ShareAddress& share)
{
    static std::mutex mutex;
    static std::map<std::string, ShareState> known;
    const bool withLogin = bool(ShareCredentialsFor(share.ServerWithPort(), share.share));
    const std::string key = share.ServerWithPort() + "/" + share.share;
    std::lock_guard lock(mutex);
    auto found = known.find(key);
    if (found != known.end() && (found->second.direct || found->second.withLogin == withLogin))
        return found->second.direct;
    ShareState state { false, withLogin };
    if (auto helper = smb::ThisThreadHelper()) {
        helper->EnsureLogin(share);
        const Place root { helper, share, {} };
        Entry e;
        const KeepLastError keep;
        state.direct = root.Stat(root.Url(), e) && S_ISDIR(e.mode);
    }
    known[key] = state;
    return state.direct;
}

} // namespace

std::optional<SmbLocation> SmbLocationOf(const std::string& linuxPath)
{
    const size_t at = linuxPath.find(kGvfsShare);
    if (at == std::string::npos) return std::nullopt;
    const size_t nameStart = at + kGvfsFolder.size();
    const size_t end = linuxPath.find('/', nameStart);
    const auto share
        = GvfsShareOf(linuxPath.substr(nameStart, end == std::string::npos ? std::string::npos : end - nameStart));
    if (!share) return std::nullopt;
    SmbLocation location;
    location.share.server = share->server;
    location.share.share = share->share;
    if (!share->port.empty()) location.share.port = uint16_t(std::strtoul(share->port.c_str(), nullptr, 10));
    if (end != std::string::npos) location.inside = linuxPath.substr(end + 1);
    while (!location.inside.empty() && location.inside.back() == '/')
        location.inside.pop_back();
    return location;
}

std::string SmbUrl(const ShareAddress& share, const std::string& inside)
{
    // Percent-encoded, so that "%", "?" or "#" in a name reach the server as they are.
    const auto encode = [](std::string& out, std::string_view text, bool keepSlash) {
        static constexpr char kHex[] = "0123456789ABCDEF";
        for (const unsigned char c : text) {
            const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'
                || c == '.' || c == '_' || c == '~' || (keepSlash && c == '/');
            if (plain) {
                out += char(c);
            } else {
                out += '%';
                out += kHex[c >> 4];
                out += kHex[c & 15];
            }
        }
    };
    std::string url = "smb://";
    encode(url, share.server, false);
    if (share.port) url += ":" + std::to_string(share.port);
    url += '/';
    encode(url, share.share, false);
    if (!inside.empty()) {
        url += '/';
        encode(url, inside, true);
    }
    return url;
}

bool UsesDirectSmb(const std::string& drivePath)
{
    // Most paths: no GVfs share folder in the drive path or in its drive's directory.
    static constexpr std::string_view kMarker = "smb-share:";
    if (drivePath.find(kMarker) == std::string::npos) {
        const Drive* drive = drivePath.empty() ? nullptr : driveMap().find(drivePath[0]);
        if (!drive || drive->directory.find(kMarker) == std::string::npos) return false;
    }
    static const bool turnedOff = [] {
        const char* direct = std::getenv("ZELO_SMB_DIRECT");
        return direct && std::string_view(direct) == "0";
    }();
    if (turnedOff) return false;
    const auto linuxPath = driveMap().toLinux(drivePath);
    const auto location = linuxPath ? SmbLocationOf(*linuxPath) : std::nullopt;
    return location && ShareAnswers(location->share);
}

FileSystem& smbFileSystem()
{
    static SmbFileSystem instance;
    return instance;
}

namespace {

constexpr uint32_t kCarried = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// What a copy of source carries, as a copy between Linux folders does: a share's own attribute word, or a
// Linux file's user.DOSATTRIB (Hidden, System, Archive; Archive where it has none) and its mode's ReadOnly.
// Read from the open file, never by name again.
uint32_t CarriedAttributes(File& source)
{
    if (auto* onShare = dynamic_cast<SmbFile*>(&source)) return onShare->AttributesAtOpen() & kCarried;
    uint32_t attributes = kAttrArchive;
    char blob[256];
    const ssize_t n = ::fgetxattr(source.NativeHandle(), dosattrib::kName, blob, sizeof blob);
    if (n >= 0) {
        if (const auto value = dosattrib::parse(blob, size_t(n))) attributes = value->attributes;
    }
    attributes &= kAttrHidden | kAttrSystem | kAttrArchive;
    SourceFacts facts;
    if (source.Facts(facts) && !(facts.mode & S_IWUSR)) attributes |= kAttrReadOnly;
    return attributes;
}

// Gives the new file the attributes: on a share as its own word (at the commit), on Linux as user.DOSATTRIB
// before the commit (ReadOnly there is the mode the commit sets). A new file is Archive alone already.
bool GiveAttributes(File& target, uint32_t attributes)
{
    if (attributes == kAttrArchive) return true;
    if (auto* onShare = dynamic_cast<SmbReplacement*>(&target)) {
        onShare->SetDosAttributes(attributes);
        return true;
    }
    dosattrib::Value value;
    value.attributes = attributes & (kAttrHidden | kAttrSystem | kAttrArchive);
    const std::string blob = dosattrib::encode(value);
    if (::fsetxattr(target.NativeHandle(), dosattrib::kName, blob.data(), blob.size(), 0) == 0) return true;
    // A file system without extended attributes keeps what it derives, as for any copy onto it.
    if (errno == ENOTSUP || errno == EOPNOTSUPP || errno == ENOSYS || errno == EPERM) return true;
    return Failed(errno);
}

} // namespace

bool CopyFileAcross(const std::string& from, const std::string& to, bool failIfExists)
{
    FileSystem& in = UsesDirectSmb(from) ? smbFileSystem() : linuxFileSystem();
    FileSystem& out = UsesDirectSmb(to) ? smbFileSystem() : linuxFileSystem();
    auto source = in.Open(from, OpenMode::Read);
    if (!source) return false;
    // Looked up just before: a file that appears at "to" while the bytes move is replaced.
    if (failIfExists && out.GetAttributes(to) != kInvalidAttributes) return Coded(err::FileExists);
    auto target = out.CreateReplacement(to);
    if (!target) return false;
    for (;;) {
        const int64_t moved = target->CopyFrom(*source, size_t(1) << 20);
        if (moved < 0) return false;
        if (moved == 0) break;
    }
    if (!GiveAttributes(*target, CarriedAttributes(*source))) return false;
    ReplaceOptions options;
    options.source = source.get();
    return out.CommitReplacement(std::move(target), to, options);
}

} // namespace zelo
