// The direct SMB client's open files: a file on a share and the replacement that takes a destination's
// place when complete. Every call is a request to the calling thread's helper.
#include "platform/smb_filesystem_internal.h"

#include "platform/time.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>

namespace zelo::smbfs {

bool Failed(int e, ErrnoCall call)
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

uint32_t AttributesOf(const Entry& e)
{
    const uint32_t kept = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrDirectory | kAttrArchive;
    uint32_t attributes = e.dosAttributes & kept;
    if (S_ISDIR(e.mode)) attributes |= kAttrDirectory;
    return attributes ? attributes : kAttrNormal;
}

std::string Join(const std::string& inside, std::string_view name)
{
    return inside.empty() ? std::string(name) : inside + "/" + std::string(name);
}

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

SmbFile::SmbFile(Place place, uint32_t handle, Entry atOpen)
    : m_place(std::move(place))
    , m_handle(handle)
    , m_atOpen(std::move(atOpen))
{
}

SmbFile::~SmbFile()
{
    Close();
}

int64_t SmbFile::Read(void* buffer, size_t count)
{
    auto* to = static_cast<char*>(buffer);
    size_t got = 0;
    while (got < count) {
        Writer request;
        request.U8(uint8_t(Op::Read)).U32(m_handle).U32(uint32_t(std::min<size_t>(count - got, smb::kMostPerRequest)));
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

int64_t SmbFile::Write(const void* buffer, size_t count)
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

int64_t SmbFile::CopyFrom(File& source, size_t count)
{
    // One buffer per thread, never cleared: a tree of small files is many calls.
    thread_local const auto buffer = std::make_unique_for_overwrite<char[]>(smb::kMostPerRequest);
    const int64_t got = source.Read(buffer.get(), std::min<size_t>(count, smb::kMostPerRequest));
    if (got <= 0) return got;
    return Write(buffer.get(), size_t(got)) == got ? got : -1;
}

bool SmbFile::Seek(int64_t position)
{
    Writer request;
    request.U8(uint8_t(Op::Seek)).U32(m_handle).I64(position);
    const Reply reply = m_place.Ask(request);
    return reply.error == 0 || Failed(reply.error);
}

int64_t SmbFile::Size()
{
    Entry now;
    return m_place.Stat(m_place.Url(), now) ? int64_t(now.size) : -1;
}

bool SmbFile::SetTimes(const FileTime*, const FileTime* lastAccess, const FileTime* lastWrite)
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

bool SmbFile::Close()
{
    if (!m_open) return true;
    m_open = false;
    Writer request;
    request.U8(uint8_t(Op::Close)).U32(m_handle);
    const Reply reply = m_place.Ask(request);
    return reply.error == 0 || Failed(reply.error);
}

bool SmbFile::Truncate(int64_t size)
{
    Writer request;
    request.U8(uint8_t(Op::Truncate)).U32(m_handle).I64(size);
    const Reply reply = m_place.Ask(request);
    return reply.error == 0 || Failed(reply.error);
}

bool SmbFile::Facts(SourceFacts& out)
{
    out.mode = S_IFREG | ((m_atOpen.dosAttributes & kAttrReadOnly) ? 0444 : 0644);
    out.accessSeconds = m_atOpen.accessNs / 1000000000;
    out.accessNanoseconds = m_atOpen.accessNs % 1000000000;
    out.writeSeconds = m_atOpen.writeNs / 1000000000;
    out.writeNanoseconds = m_atOpen.writeNs % 1000000000;
    return true;
}

SmbReplacement::SmbReplacement(Place directory, bool destinationWasFree)
    : SmbFile(directory, 0, Entry {})
    , m_directory(std::move(directory))
    , m_destinationWasFree(destinationWasFree)
{
    m_open = false; // nothing made yet
}

SmbReplacement::~SmbReplacement()
{
    if (!m_made) return;
    const KeepLastError keep;
    SmbFile::Close();
    if (!m_committed) m_place.On(Op::Unlink, m_place.Url());
}

bool SmbReplacement::Make()
{
    if (m_made) return true;
    for (int attempt = 0; attempt < 100; ++attempt) {
        Place temporary { m_directory.helper, m_directory.share, Join(m_directory.inside, RandomHiddenName()) };
        Writer request;
        request.U8(uint8_t(Op::Open)).Bytes(temporary.Url()).U32(O_RDWR | O_CREAT | O_EXCL).U8(1);
        const Reply reply = temporary.Ask(request);
        if (reply.error == EEXIST) continue;
        if (reply.error != 0) return Failed(reply.error, ErrnoCall::CreateNoReplace);
        auto fields = reply.Fields();
        m_place = std::move(temporary);
        m_handle = fields.U32();
        m_open = m_made = true;
        const std::string held = std::move(m_held);
        m_held.clear();
        return SmbFile::Write(held.data(), held.size()) == int64_t(held.size());
    }
    return Failed(EEXIST, ErrnoCall::CreateNoReplace);
}

int64_t SmbReplacement::Read(void* buffer, size_t count)
{
    return Make() ? SmbFile::Read(buffer, count) : -1;
}

int64_t SmbReplacement::Write(const void* buffer, size_t count)
{
    if (!m_made && m_held.size() + count <= smb::kMostHeld) {
        m_held.append(static_cast<const char*>(buffer), count);
        return int64_t(count);
    }
    return Make() ? SmbFile::Write(buffer, count) : -1;
}

bool SmbReplacement::Seek(int64_t position)
{
    return Make() && SmbFile::Seek(position);
}

int64_t SmbReplacement::Size()
{
    return m_made ? SmbFile::Size() : int64_t(m_held.size());
}

bool SmbReplacement::SetTimes(const FileTime* creation, const FileTime* lastAccess, const FileTime* lastWrite)
{
    return Make() && SmbFile::SetTimes(creation, lastAccess, lastWrite);
}

bool SmbReplacement::Close()
{
    return !m_made || SmbFile::Close();
}

bool SmbReplacement::Truncate(int64_t size)
{
    return Make() && SmbFile::Truncate(size);
}

int64_t SmbReplacement::CopyFrom(File& source, size_t count)
{
    const int64_t got = SmbFile::CopyFrom(source, count);
    if (got == 0 && !m_made && !Stage(source)) return -1;
    return got;
}

bool SmbReplacement::Stage(File& source)
{
    SourceFacts facts;
    if (!source.Facts(facts)) return false;
    Writer request;
    request.U8(uint8_t(Op::Stage)).Bytes(m_directory.Url()).U8(1);
    request.I64(facts.accessSeconds * 1000000 + facts.accessNanoseconds / 1000);
    request.I64(facts.writeSeconds * 1000000 + facts.writeNanoseconds / 1000);
    request.Bytes(m_held);
    const Reply reply = m_directory.Ask(request);
    if (reply.error != 0) return Failed(reply.error, ErrnoCall::CreateNoReplace);
    auto fields = reply.Fields();
    m_place = Place { m_directory.helper, m_directory.share, Join(m_directory.inside, fields.Bytes()) };
    m_made = true;
    m_open = false; // closed by the helper
    m_held.clear();
    m_datedFrom = &source;
    return true;
}

bool SmbReplacement::Commit(const Place& destination, const ReplaceOptions& options, bool exclusive)
{
    return m_made ? CommitMade(destination, options, exclusive) : Put(destination, options, exclusive);
}

bool SmbReplacement::Put(const Place& destination, const ReplaceOptions& options, bool exclusive)
{
    SourceFacts facts;
    if (options.source && !options.source->Facts(facts)) return false;
    Writer request;
    request.U8(uint8_t(Op::Put)).Bytes(m_directory.Url()).Bytes(destination.Url());
    // Over an old file the helper looks it up once, just before it moves aside (a directory or a ReadOnly
    // file is refused there).
    request.U8(exclusive || m_destinationWasFree ? 0 : 1);
    request.U8(options.source ? 1 : 0);
    request.I64(facts.accessSeconds * 1000000 + facts.accessNanoseconds / 1000);
    request.I64(facts.writeSeconds * 1000000 + facts.writeNanoseconds / 1000);
    request.U8(m_attributes ? 1 : 0).U32(m_attributes.value_or(0));
    request.Bytes(m_held);
    const Reply reply = m_directory.Ask(request);
    if (reply.error == 0) {
        m_committed = true;
        return true;
    }
    auto fields = reply.Fields();
    const auto step = smb::PutStep(fields.U8());
    m_committed = step == smb::PutStep::Attributes;
    const bool naming = step == smb::PutStep::Create || (exclusive && step == smb::PutStep::Place);
    return Failed(reply.error, naming ? ErrnoCall::CreateNoReplace : ErrnoCall::Generic);
}

bool SmbReplacement::CommitMade(const Place& destination, const ReplaceOptions& options, bool exclusive)
{
    if (!Close()) return false;
    if (options.source && options.source != m_datedFrom) {
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
        // The helper looks the old file up once, just before it moves aside: a directory or a ReadOnly file
        // is refused there (EACCES).
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

std::unique_ptr<File> OpenAt(Place place, int flags, bool temporary, uint32_t code)
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

std::unique_ptr<File> MakeReplacement(
    const Place& directory, const std::string& linuxName, bool listedFree, bool lookFirst)
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
    return std::make_unique<SmbReplacement>(directory, free);
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

} // namespace zelo::smbfs
