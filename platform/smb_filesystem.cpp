// The direct SMB client's file system: every call is a request to the calling thread's helper; searches,
// rewrites and the current directory stay with the GVfs mount.
#include "platform/smb_filesystem_internal.h"

#include "platform/dosattrib.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/mount_table.h"
#include "platform/share_logins.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/xattr.h>

namespace zelo {

using namespace smbfs;

namespace smbfs {

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

} // namespace smbfs

namespace {

constexpr std::string_view kGvfsFolder = "/gvfs/";
constexpr std::string_view kGvfsShare = "/gvfs/smb-share:";

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
        return OpenDirectoryAt(std::move(*place), self);
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
