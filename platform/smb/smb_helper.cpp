// zelo-smb-helper: one connection to SMB servers through libsmbclient, serving one thread of the program
// over its standard input (a socket): one request, one reply. libsmbclient cannot be used from several
// threads of one process, so each copy thread of the program has a helper of its own.
//
// It ends when its socket closes (the program ended, even by SIGKILL) or when the thread that started
// it ends (PR_SET_PDEATHSIG); either way it first removes the temporary files it made and never renamed,
// so an interrupted copy leaves nothing on the share.
#include "platform/smb/smb_frames.h"

#include <libsmbclient.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <set>
#include <string>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

namespace zelo::smb {
namespace {

volatile sig_atomic_t g_stop = 0;
SMBCCTX* g_context = nullptr;

// A server that stops answering fails a request after this long, so a lost share ends the copy.
constexpr int kTimeoutMs = 10000;

struct Login {
    std::string user, domain, password;
};
// server (no port) + "/" + share, in lower case -> the login typed for it. Memory only.
std::map<std::string, Login> g_logins;
std::set<std::string> g_temporaries; // URLs of files made under a hidden name and not yet renamed
std::set<int> g_open; // files the program opened and has not closed

std::string Lower(std::string text)
{
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return text;
}

void CopyOut(char* to, int size, const std::string& from)
{
    if (size <= 0) return;
    std::strncpy(to, from.c_str(), size_t(size) - 1);
    to[size - 1] = '\0';
}

void Authenticate(SMBCCTX*, const char* server, const char* share, char* workgroup, int workgroupSize, char* user,
    int userSize, char* password, int passwordSize)
{
    auto found = g_logins.find(Lower(server) + "/" + Lower(share));
    if (found == g_logins.end()) {
        // The share's IPC$ and the like take the login of any share of that server.
        const std::string prefix = Lower(server) + "/";
        found = g_logins.lower_bound(prefix);
        if (found != g_logins.end() && found->first.compare(0, prefix.size(), prefix) != 0) found = g_logins.end();
    }
    if (found == g_logins.end()) {
        // A guest: no name and no password (an anonymous session, as GVfs opens one).
        CopyOut(user, userSize, "");
        CopyOut(password, passwordSize, "");
        return;
    }
    CopyOut(user, userSize, found->second.user);
    CopyOut(password, passwordSize, found->second.password);
    if (!found->second.domain.empty()) CopyOut(workgroup, workgroupSize, found->second.domain);
}

// Set by Target when a request names a path the share cannot hold; the request then fails with EILSEQ.
bool g_nameRefused = false;

// Whether the percent-encoded path part of a URL names only what a share can hold: UTF-8 (the server's
// names are UTF-16), no "\" (the server would take it for a separator and so reach another folder), no ":"
// (a stream of another file), no wildcard or other character SMB names refuse, and no control character.
bool ShareHolds(std::string_view path)
{
    std::string bytes;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size()) {
            bytes += char(std::strtoul(std::string(path.substr(i + 1, 2)).c_str(), nullptr, 16));
            i += 2;
        } else {
            bytes += path[i];
        }
    }
    for (const unsigned char c : bytes)
        if (c < 0x20 || std::strchr("\\:*?\"<>|", c)) return false;
    for (size_t i = 0; i < bytes.size();) {
        const unsigned char c = bytes[i];
        const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (length == 0 || i + length > bytes.size()) return false;
        for (size_t k = 1; k < length; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) >> 6) != 2) return false;
        i += length;
    }
    return true;
}

// "smb://host:port/share/path": the port goes to the context, the URL keeps host and path. A path the share
// cannot hold becomes a URL libsmbclient refuses before anything reaches the server.
std::string Target(std::string_view url)
{
    if (const size_t host = url.find("://"); host != std::string_view::npos) {
        const size_t path = url.find('/', host + 3);
        if (path != std::string_view::npos && !ShareHolds(url.substr(path))) {
            g_nameRefused = true;
            return "zelo-refused-name:";
        }
    }
    std::string text(url);
    const size_t hostStart = text.find("://");
    if (hostStart == std::string::npos) return text;
    const size_t hostEnd = text.find('/', hostStart + 3);
    const size_t colon = text.find(':', hostStart + 3);
    uint16_t port = 0;
    if (colon != std::string::npos && (hostEnd == std::string::npos || colon < hostEnd)) {
        port = uint16_t(std::strtoul(text.c_str() + colon + 1, nullptr, 10));
        text.erase(colon, (hostEnd == std::string::npos ? text.size() : hostEnd) - colon);
    }
    smbc_setPort(g_context, port);
    return text;
}

int64_t Nanoseconds(const timespec& ts)
{
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// What libsmbclient's stat derives from the DOS attributes, read back: Archive, System and Hidden as the
// owner's, group's and others' execute bits, ReadOnly as a missing owner write bit.
uint32_t AttributesFromMode(mode_t mode)
{
    uint32_t attributes = S_ISDIR(mode) ? 0x10 : 0;
    if (mode & S_IXUSR) attributes |= 0x20;
    if (mode & S_IXGRP) attributes |= 0x04;
    if (mode & S_IXOTH) attributes |= 0x02;
    if (!(mode & S_IWUSR)) attributes |= 0x01;
    return attributes;
}

constexpr uint32_t kArchive = 0x20;
constexpr uint32_t kSettable = 0x01 | 0x02 | 0x04 | kArchive;

// Sets ReadOnly, Hidden, System and Archive and nothing else. Through chmod, whose mode the client maps to
// the attribute word (with the mapping of Hidden and System that the client's configuration turns on):
// its attribute call would also set every time again, to the second.
bool SetAttributes(const std::string& url, uint32_t attributes)
{
    mode_t mode = (attributes & 0x01) ? 0444 : 0644;
    if (attributes & kArchive) mode |= S_IXUSR;
    if (attributes & 0x04) mode |= S_IXGRP;
    if (attributes & 0x02) mode |= S_IXOTH;
    return smbc_chmod(url.c_str(), mode) == 0;
}

Entry FromStat(const struct stat& st)
{
    Entry e;
    e.mode = st.st_mode;
    e.dosAttributes = AttributesFromMode(st.st_mode);
    e.size = uint64_t(st.st_size);
    e.inode = uint64_t(st.st_ino);
    e.device = uint64_t(st.st_dev);
    e.accessNs = Nanoseconds(st.st_atim);
    e.writeNs = Nanoseconds(st.st_mtim);
    return e;
}

bool Exists(const std::string& url, struct stat* st = nullptr)
{
    struct stat local { };
    return smbc_stat(url.c_str(), st ? st : &local) == 0;
}

// Renames without replacing anything: smbc_rename deletes an existing target and renames again, so the
// target is looked up just before (and the source only when the target is there: the same entry under
// another case is a rename in place). A target that cannot be looked up is not taken for free.
int RenameNoReplace(const std::string& from, const std::string& to)
{
    struct stat target { };
    if (smbc_stat(to.c_str(), &target) == 0) {
        struct stat source { };
        if (smbc_stat(from.c_str(), &source) != 0) return errno;
        if (target.st_ino != source.st_ino) return EEXIST;
    } else if (errno != ENOENT) {
        return errno ? errno : EIO;
    }
    // What remains: an entry made at "to" by someone else between this look and the rename is replaced.
    if (smbc_rename(from.c_str(), to.c_str()) != 0) return errno;
    g_temporaries.erase(from);
    return 0;
}

// Puts "from" in the place of "to" without deleting first: the old file moves aside to a free hidden
// name, the new one takes its name, then the old one goes; when the new one cannot take the name, the old
// one comes back. Only a file that is not ReadOnly is replaced (the look that finds it decides).
int Replace(const std::string& from, const std::string& to, const std::string& aside)
{
    struct stat old { };
    if (smbc_stat(to.c_str(), &old) != 0) return errno == ENOENT ? RenameNoReplace(from, to) : (errno ? errno : EIO);
    if (S_ISDIR(old.st_mode) || (AttributesFromMode(old.st_mode) & 0x01)) return EACCES;
    if (Exists(aside)) return EEXIST;
    if (smbc_rename(to.c_str(), aside.c_str()) != 0) return errno;
    if (Exists(to) || smbc_rename(from.c_str(), to.c_str()) != 0) {
        const int e = errno ? errno : EEXIST;
        if (!Exists(to)) smbc_rename(aside.c_str(), to.c_str());
        return e;
    }
    g_temporaries.erase(from);
    // The new file is in place: an old one that will not go is left under its hidden name, not fatal.
    smbc_unlink(aside.c_str());
    return 0;
}

// One handler per request kind: each reads its request's fields and returns 0 or the errno of the failure;
// the fields it writes follow that number (a success's results; only Put writes any on a failure).
int ServeLogin(Reader& in, Writer&)
{
    const std::string server(in.Bytes()), share(in.Bytes());
    Login login { std::string(in.Bytes()), std::string(in.Bytes()), std::string(in.Bytes()) };
    g_logins[Lower(server) + "/" + Lower(share)] = std::move(login);
    return 0;
}

int ServeStat(Reader& in, Writer& out)
{
    struct stat st { };
    if (smbc_stat(Target(in.Bytes()).c_str(), &st) != 0) return errno;
    out.Put(FromStat(st));
    return 0;
}

int ServeList(Reader& in, Writer& out)
{
    const int dir = smbc_opendir(Target(in.Bytes()).c_str());
    if (dir < 0) return errno;
    int error = 0;
    uint32_t count = 0;
    Writer list;
    for (;;) {
        struct stat st { };
        errno = 0;
        const struct libsmb_file_info* info = smbc_readdirplus2(unsigned(dir), &st);
        if (!info) {
            error = errno;
            break;
        }
        const std::string_view name(info->name ? info->name : "");
        if (name.empty() || name == "." || name == "..") continue;
        Entry e = FromStat(st);
        e.name = std::string(name);
        e.dosAttributes = info->attrs;
        e.size = info->size;
        e.accessNs = Nanoseconds(info->atime_ts);
        e.writeNs = Nanoseconds(info->mtime_ts);
        e.creationNs = Nanoseconds(info->btime_ts);
        list.Put(e);
        ++count;
    }
    smbc_closedir(dir);
    if (error != 0) return error;
    out.U32(count).Bytes(list.Fields());
    return 0;
}

int ServeOpen(Reader& in, Writer& out)
{
    const std::string url = Target(in.Bytes());
    const int flags = int(in.U32());
    const bool temporary = in.U8() != 0;
    const int fd = smbc_open(url.c_str(), flags, 0666);
    if (fd < 0) return errno;
    g_open.insert(fd);
    if (temporary) g_temporaries.insert(url);
    struct stat st { };
    // A file opened to be read hands on its size and times as they were at the open.
    if (!(flags & O_CREAT) && smbc_fstat(fd, &st) != 0) {
        const int error = errno;
        smbc_close(fd);
        g_open.erase(fd);
        return error;
    }
    out.U32(uint32_t(fd)).Put(FromStat(st));
    return 0;
}

int ServeRead(Reader& in, Writer& out)
{
    const int fd = int(in.U32());
    const uint32_t count = std::min(in.U32(), kMostPerRequest);
    std::string buffer(count, '\0');
    size_t got = 0;
    while (got < count) {
        const ssize_t n = smbc_read(fd, buffer.data() + got, count - got);
        if (n < 0) return errno ? errno : EIO;
        if (n == 0) break;
        got += size_t(n);
    }
    buffer.resize(got);
    out.Bytes(buffer);
    return 0;
}

// Writes every byte at the file's place; 0 or the errno of the failure.
int WriteAll(int fd, std::string_view bytes)
{
    size_t put = 0;
    while (put < bytes.size()) {
        const ssize_t n = smbc_write(fd, bytes.data() + put, bytes.size() - put);
        if (n <= 0) return errno ? errno : EIO;
        put += size_t(n);
    }
    return 0;
}

int ServeWrite(Reader& in, Writer& out)
{
    const int fd = int(in.U32());
    const std::string_view bytes = in.Bytes();
    if (const int error = WriteAll(fd, bytes)) return error;
    out.U64(bytes.size());
    return 0;
}

int ServeSeek(Reader& in, Writer&)
{
    const int fd = int(in.U32());
    return smbc_lseek(fd, off_t(in.I64()), SEEK_SET) < 0 ? errno : 0;
}

int ServeTruncate(Reader& in, Writer&)
{
    const int fd = int(in.U32());
    return smbc_ftruncate(fd, off_t(in.I64())) != 0 ? errno : 0;
}

int ServeClose(Reader& in, Writer&)
{
    const int fd = int(in.U32());
    g_open.erase(fd);
    return smbc_close(fd) != 0 ? (errno ? errno : EIO) : 0;
}

int ServeUnlink(Reader& in, Writer&)
{
    const std::string url = Target(in.Bytes());
    if (smbc_unlink(url.c_str()) != 0) return errno;
    g_temporaries.erase(url);
    return 0;
}

int ServeRename(Reader& in, Writer&)
{
    const std::string from = Target(in.Bytes()), to = Target(in.Bytes());
    return RenameNoReplace(from, to);
}

int ServeReplace(Reader& in, Writer&)
{
    const std::string from = Target(in.Bytes()), to = Target(in.Bytes()), aside = Target(in.Bytes());
    return Replace(from, to, aside);
}

int ServeMkdir(Reader& in, Writer&)
{
    return smbc_mkdir(Target(in.Bytes()).c_str(), 0777) != 0 ? errno : 0;
}

int ServeRmdir(Reader& in, Writer&)
{
    return smbc_rmdir(Target(in.Bytes()).c_str()) != 0 ? errno : 0;
}

timeval ToTimeval(int64_t us, const timespec& kept)
{
    if (us == kTimeLeftAlone) return timeval { kept.tv_sec, kept.tv_nsec / 1000 };
    int64_t seconds = us / 1000000, micro = us % 1000000;
    if (micro < 0) {
        micro += 1000000;
        --seconds;
    }
    return timeval { time_t(seconds), suseconds_t(micro) };
}

int ServeSetTimes(Reader& in, Writer&)
{
    const std::string url = Target(in.Bytes());
    const int64_t accessUs = in.I64(), writeUs = in.I64();
    const bool keepAttributes = in.U8() != 0;
    struct stat st { };
    if ((keepAttributes || accessUs == kTimeLeftAlone || writeUs == kTimeLeftAlone) && smbc_stat(url.c_str(), &st) != 0)
        return errno;
    struct timeval times[2] = { ToTimeval(accessUs, st.st_atim), ToTimeval(writeUs, st.st_mtim) };
    if (smbc_utimes(url.c_str(), times) != 0) return errno;
    // Setting times by name sets the attribute word as well (to Archive alone): an existing file's word is
    // put back.
    const uint32_t before = AttributesFromMode(st.st_mode) & kSettable;
    if (keepAttributes && before != kArchive && !SetAttributes(url, before)) return errno;
    return 0;
}

int ServeGetDos(Reader& in, Writer& out)
{
    const std::string url = Target(in.Bytes());
    char value[64] = {};
    if (smbc_getxattr(url.c_str(), "system.dos_attr.mode", value, sizeof value - 1) < 0) return errno;
    out.U32(uint32_t(std::strtoul(value, nullptr, 0)));
    return 0;
}

int ServeSetDos(Reader& in, Writer&)
{
    const std::string url = Target(in.Bytes());
    return SetAttributes(url, in.U32()) ? 0 : errno;
}

// Removes a file made under a hidden name that will not be renamed.
void Discard(const std::string& temporary)
{
    smbc_unlink(temporary.c_str());
    g_temporaries.erase(temporary);
}

// Makes a new file under a free hidden name in folder: its descriptor (the name in temporary) or -errno.
int CreateHidden(const std::string& folder, std::string& temporary)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = folder + "/" + RandomHiddenName();
        const int fd = smbc_open(temporary.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        if (fd >= 0) {
            g_temporaries.insert(temporary);
            return fd;
        }
        if (errno != EEXIST) return -(errno ? errno : EIO);
    }
    return -EEXIST;
}

// Writes, closes (the close checked) and dates the new file; 0, or the errno after the file was removed.
int FillHidden(int fd, const std::string& temporary, std::string_view bytes, timeval* times)
{
    int error = WriteAll(fd, bytes);
    if (smbc_close(fd) != 0 && error == 0) error = errno ? errno : EIO;
    if (error == 0 && times && smbc_utimes(temporary.c_str(), times) != 0) error = errno ? errno : EIO;
    if (error != 0) Discard(temporary);
    return error;
}

// A whole small file in the steps and order of the separate requests (made under a hidden name, written,
// closed, dated, renamed without replacing or put over the old file), so it costs one round trip. A step
// that fails removes what was made; the reply names the step.
int ServePut(Reader& in, Writer& out)
{
    const std::string folder = Target(in.Bytes()), to = Target(in.Bytes());
    const bool replace = in.U8() != 0;
    const bool withTimes = in.U8() != 0;
    const int64_t accessUs = in.I64(), writeUs = in.I64();
    const bool withAttributes = in.U8() != 0;
    const uint32_t attributes = in.U32();
    const std::string_view bytes = in.Bytes();
    const auto failed = [&out](PutStep step, int error) {
        out.U8(uint8_t(step));
        return error ? error : EIO;
    };
    if (!in.Ok()) return failed(PutStep::Create, EINVAL);
    std::string temporary;
    const int fd = CreateHidden(folder, temporary);
    if (fd < 0) return failed(PutStep::Create, -fd);
    timeval times[2] = { ToTimeval(accessUs, {}), ToTimeval(writeUs, {}) };
    if (const int error = FillHidden(fd, temporary, bytes, withTimes ? times : nullptr))
        return failed(PutStep::Write, error);
    const int error
        = replace ? Replace(temporary, to, folder + "/" + RandomHiddenName()) : RenameNoReplace(temporary, to);
    if (error != 0) {
        Discard(temporary);
        return failed(PutStep::Place, error);
    }
    // Under its own name: the server counts a hidden name's file as Hidden whatever it is told.
    if (withAttributes && !SetAttributes(to, attributes)) return failed(PutStep::Attributes, errno);
    return 0;
}

int ServeStage(Reader& in, Writer& out)
{
    const std::string folder = Target(in.Bytes());
    const bool withTimes = in.U8() != 0;
    const int64_t accessUs = in.I64(), writeUs = in.I64();
    const std::string_view bytes = in.Bytes();
    if (!in.Ok()) return EINVAL;
    std::string temporary;
    const int fd = CreateHidden(folder, temporary);
    if (fd < 0) return -fd;
    timeval times[2] = { ToTimeval(accessUs, {}), ToTimeval(writeUs, {}) };
    if (const int error = FillHidden(fd, temporary, bytes, withTimes ? times : nullptr)) return error;
    out.Bytes(temporary.substr(temporary.rfind('/') + 1));
    return 0;
}

using Handler = int (*)(Reader&, Writer&);

Handler HandlerOf(Op op)
{
    switch (op) {
    case Op::Login:
        return ServeLogin;
    case Op::Stat:
        return ServeStat;
    case Op::List:
        return ServeList;
    case Op::Open:
        return ServeOpen;
    case Op::Read:
        return ServeRead;
    case Op::Write:
        return ServeWrite;
    case Op::Seek:
        return ServeSeek;
    case Op::Truncate:
        return ServeTruncate;
    case Op::Close:
        return ServeClose;
    case Op::Unlink:
        return ServeUnlink;
    case Op::Rename:
        return ServeRename;
    case Op::Replace:
        return ServeReplace;
    case Op::Mkdir:
        return ServeMkdir;
    case Op::Rmdir:
        return ServeRmdir;
    case Op::SetTimes:
        return ServeSetTimes;
    case Op::GetDos:
        return ServeGetDos;
    case Op::SetDos:
        return ServeSetDos;
    case Op::Put:
        return ServePut;
    case Op::Stage:
        return ServeStage;
    }
    return nullptr;
}

// Runs one request; the reply's first field is 0 or the errno of the failure, the handler's fields follow.
void Serve(Reader& in, Writer& out)
{
    const Handler handler = HandlerOf(Op(in.U8()));
    errno = 0;
    g_nameRefused = false;
    Writer fields;
    int error = handler ? handler(in, fields) : EINVAL;
    if (error != 0 && g_nameRefused) error = EILSEQ;
    out.U32(uint32_t(error)).Append(fields.Fields());
}

void OnStop(int)
{
    g_stop = 1;
}

} // namespace
} // namespace zelo::smb

int main()
{
    using namespace zelo::smb;
    // Ends with the thread that started it, even when the program is killed mid-run.
    const pid_t parent = ::getppid();
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) return 1;
    // Out of the program's process group: a Ctrl-C at the terminal, or a signal to the whole group, stops
    // the program, which ends its copies cleanly and only then closes the socket that ends this helper.
    ::setpgid(0, 0);
    // Nothing the program had open lives on here (its other helpers' sockets above all, which would
    // otherwise keep them from seeing their end).
    ::close_range(3, ~0u, 0);
    struct sigaction stop { };
    stop.sa_handler = OnStop; // no SA_RESTART: a wait for the next request ends at the signal
    ::sigaction(SIGTERM, &stop, nullptr);
    ::sigaction(SIGHUP, &stop, nullptr);
    ::sigaction(SIGINT, &stop, nullptr);
    ::signal(SIGPIPE, SIG_IGN);

    SMBCCTX* context = smbc_new_context();
    if (!context) return 1;
    smbc_setDebug(context, 0);
    // The machine's smb.conf must not change what this client does; a configuration of its own maps the
    // Hidden and System attributes to the modes chmod is given (Archive and ReadOnly are mapped by default).
    static constexpr char kConfiguration[] = "[global]\n  map hidden = yes\n  map system = yes\n  map archive = yes\n";
    const int configuration = ::memfd_create("zelo-smb-helper.conf", MFD_CLOEXEC);
    const bool written = configuration >= 0
        && ::write(configuration, kConfiguration, sizeof kConfiguration - 1) == ssize_t(sizeof kConfiguration - 1);
    const std::string configurationPath = written ? "/proc/self/fd/" + std::to_string(configuration) : "/dev/null";
    smbc_setConfiguration(context, configurationPath.c_str());
    smbc_setTimeout(context, kTimeoutMs);
    smbc_setOptionUseKerberos(context, false);
    smbc_setOptionFallbackAfterKerberos(context, true);
    smbc_setOptionNoAutoAnonymousLogin(context, true);
    smbc_setFunctionAuthDataWithContext(context, Authenticate);
    if (!smbc_init_context(context)) return 1;
    smbc_set_context(context);
    g_context = context;

    std::string body;
    while (!g_stop && ReceiveFrame(0, body, false)) {
        Reader in(body);
        Writer out;
        Serve(in, out);
        if (!SendFrame(1, out)) break;
    }
    // A file still open cannot be removed on the share: the program's files are closed first.
    for (const int fd : g_open)
        smbc_close(fd);
    for (const std::string& url : g_temporaries)
        smbc_unlink(url.c_str());
    smbc_free_context(context, 1);
    return 0;
}
