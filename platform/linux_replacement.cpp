// Replacements: a new file beside its destination, unnamed where the file system allows, that takes the
// destination's place only when it is complete (linkat for a free name, renameat over an old file).
#include "platform/linux_file.h"
#include "platform/linux_fs_internal.h"
#include "platform/text.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <sys/random.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <sys/xattr.h>
#include <unistd.h>

namespace zelo::linuxfs {

namespace {

// ".zelo-XXXXXX.tmp", as mkstemp names its files.
std::string randomTempName()
{
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char random[6] = {};
    if (::getrandom(random, sizeof random, 0) != ssize_t(sizeof random)) {
        const auto seed = uint64_t(::getpid()) * 2654435761u ^ uint64_t(::time(nullptr)) ^ uint64_t(std::rand());
        for (size_t i = 0; i < sizeof random; ++i)
            random[i] = static_cast<unsigned char>(seed >> (i * 8));
    }
    std::string name = ".zelo-";
    for (unsigned char r : random)
        name += kLetters[r % (sizeof kLetters - 1)];
    return name + ".tmp";
}

// Whether the directory lies on a FUSE file system. GVfs's SMB shares among them keep the time of the
// last write the server saw over times set on the descriptor before the close. Asked of the file
// system once per device; device is the directory's where the caller knows it (0: looked up).
bool onFuse(int dir, dev_t device)
{
    static constexpr long kFuseMagic = 0x65735546;
    thread_local dev_t lastDevice = 0;
    thread_local bool lastFuse = false;
    struct stat st { };
    st.st_dev = device;
    if (device == 0 && ::fstat(dir, &st) != 0) return false;
    if (st.st_dev != lastDevice) {
        struct statfs fs { };
        lastFuse = ::fstatfs(dir, &fs) == 0 && long(fs.f_type) == kFuseMagic;
        lastDevice = st.st_dev;
    }
    return lastFuse;
}

// The permission bits a new file is made with where no default ACL decides them: 0666 less the umask,
// read once (zelo never changes its umask). 0 when the umask cannot be read.
mode_t naturalMode()
{
    static const mode_t mode = [] {
        mode_t found = 0;
        if (FILE* status = std::fopen("/proc/self/status", "re")) {
            char line[256];
            while (std::fgets(line, sizeof line, status)) {
                if (std::strncmp(line, "Umask:", 6) != 0) continue;
                char* end = nullptr;
                const long umask = std::strtol(line + 6, &end, 8);
                if (end != line + 6 && umask >= 0 && umask <= 0777) found = 0666 & ~mode_t(umask);
                break;
            }
            std::fclose(status);
        }
        return found;
    }();
    return mode;
}

// A file written in a directory to take a destination's place there.
class LinuxReplacement final : public LinuxFile {
public:
    // fd lives in the directory dir, which dirFd owns (invalid: the caller keeps dir open for the file's
    // lifetime); tempName is its hidden name there, empty while it has none (O_TMPFILE); destinationWasFree
    // says the destination's name was free when the file was made.
    // madeWith: the permission bits the file has for certain (0: not known); traits: the directory's
    // (null: none).
    LinuxReplacement(UniqueFd fd, int dir, UniqueFd dirFd, std::string tempName, bool destinationWasFree, dev_t device,
        mode_t madeWith, DirectoryTraits* traits)
        : LinuxFile(std::move(fd))
        , m_dirFd(std::move(dirFd))
        , m_dir(dir)
        , m_tempName(std::move(tempName))
        , m_destinationWasFree(destinationWasFree)
        , m_device(device)
        , m_madeWith(madeWith)
        , m_traits(traits)
    {
    }

    // A replacement that was not committed leaves nothing: an unnamed file vanishes with its
    // descriptor, a named one is removed.
    ~LinuxReplacement() override
    {
        closeQuietly();
        if (!m_tempName.empty()) ::unlinkat(m_dir, m_tempName.c_str(), 0);
    }

    // CommitReplacement on Linux: the new file gets its modes, owner, attributes and times, is
    // flushed, named, closed (a failing close fails it) and renamed over the destination.
    bool commit(const std::string& linuxDestination, const ReplaceOptions& options)
    {
        const std::string name(BaseName(linuxDestination));
        m_timesAfterClose = options.source && onFuse(m_dir, m_device);
        // An unnamed file whose destination was free when it was made takes the name with one link. A
        // link never replaces: a name that appeared meanwhile (a FIFO too) makes it fail, and the file
        // then goes the checked way below, which also keeps what an existing file hands on.
        if (m_tempName.empty() && m_destinationWasFree) {
            if (!prepareReplacement(
                    NativeHandle(), nullptr, linuxDestination, options, !m_timesAfterClose, m_madeWith, m_traits))
                return false;
            if (linkTo(name)) {
                if (Close()) return keepTimesByName(name, options);
                // The close failed: the name goes again, the destination is free as it was.
                const uint32_t code = GetLastError();
                ::unlinkat(m_dir, name.c_str(), 0);
                return failCode(code);
            }
        }
        // A named file whose destination was free takes the name with a rename that never replaces, without
        // looking the name up first (on a share, a round trip less). A name that appeared meanwhile, or a
        // file system without that rename, sends it the checked way below, opened again by its hidden name.
        if (!m_tempName.empty() && m_destinationWasFree) {
            if (!prepareReplacement(
                    NativeHandle(), nullptr, linuxDestination, options, !m_timesAfterClose, m_madeWith, m_traits))
                return false;
            if (!Close()) return false;
            if (::renameat2(m_dir, m_tempName.c_str(), m_dir, name.c_str(), RENAME_NOREPLACE) == 0) {
                m_tempName.clear();
                return keepTimesByName(name, options);
            }
            if (errno != EEXIST && errno != EINVAL && errno != ENOSYS)
                return fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
            UniqueFd again(::openat(m_dir, m_tempName.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
            if (!again.valid()) return fail(errno, linuxDestination);
            reopened(std::move(again));
        }
        struct stat old { };
        old.st_mode = 0;
        // Looked at again: the destination may have become a FIFO or a directory while the bytes moved.
        if (!replaceableEntry(m_dir, name, linuxDestination, &old)) return false;
        if (!prepareReplacement(NativeHandle(), S_ISREG(old.st_mode) ? &old : nullptr, linuxDestination, options,
                !m_timesAfterClose, m_madeWith, m_traits))
            return false;
        if (m_tempName.empty() && !giveName(linuxDestination)) return false;
        if (!Close()) return false;
        if (!renameOver(name, linuxDestination, old.st_mode != 0)) return false;
        return keepTimesByName(name, options);
    }

    // The exclusive form, for a copy that must not overwrite: the file takes a free name or fails
    // with 80, whatever the name holds.
    bool commitNew(const std::string& linuxDestination, const ReplaceOptions& options)
    {
        const std::string name(BaseName(linuxDestination));
        m_timesAfterClose = options.source && onFuse(m_dir, m_device);
        if (!prepareReplacement(
                NativeHandle(), nullptr, linuxDestination, options, !m_timesAfterClose, m_madeWith, m_traits))
            return false;
        if (m_tempName.empty() && !giveName(linuxDestination)) return false;
        if (!Close()) return false;
        const int from = m_dir;
        if (::renameat2(from, m_tempName.c_str(), from, name.c_str(), RENAME_NOREPLACE) == 0) {
            m_tempName.clear();
            return keepTimesByName(name, options);
        }
        if (errno != EINVAL && errno != ENOSYS) return fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
        // Without the flag (NFS, some FUSE) a link refuses an existing name as well; the hidden name
        // goes with the File.
        if (::linkat(from, m_tempName.c_str(), from, name.c_str(), 0) == 0) return keepTimesByName(name, options);
        if (errno != EPERM && errno != EOPNOTSUPP) return fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
        struct stat st { };
        if (::fstatat(from, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return failCode(err::FileExists);
        if (::renameat(from, m_tempName.c_str(), from, name.c_str()) != 0) return failNaming(errno, linuxDestination);
        m_tempName.clear();
        return keepTimesByName(name, options);
    }

private:
    // Puts the named file in place of name. On FUSE a rename over an existing entry is not one step (GVfs
    // deletes the old file, then renames: a share lost in between loses the old file with the new one
    // not in place), so there the old entry first moves aside to a free hidden name, the new file takes
    // the name, and only then does the old one go; it comes back when the new one cannot take the name.
    bool renameOver(const std::string& name, const std::string& linuxDestination, bool nameHeld)
    {
        if (!nameHeld || !onFuse(m_dir, m_device)) {
            if (::renameat(m_dir, m_tempName.c_str(), m_dir, name.c_str()) != 0)
                return failNaming(errno, linuxDestination);
            m_tempName.clear();
            return true;
        }
        std::string aside;
        for (int attempt = 0; attempt < 100 && aside.empty(); ++attempt) {
            std::string candidate = randomTempName();
            if (renameNoReplace(name, candidate))
                aside = std::move(candidate);
            else if (errno == ENOENT)
                break; // gone meanwhile: the name is free
            else if (errno != EEXIST)
                return fail(errno, linuxDestination);
        }
        if (!renameNoReplace(m_tempName, name)) {
            const int e = errno;
            if (!aside.empty()) renameNoReplace(aside, name);
            return failNaming(e, linuxDestination);
        }
        m_tempName.clear();
        // The new file is in place; an old one that will not go stays under its hidden name.
        ::unlinkat(m_dir, aside.c_str(), 0);
        return true;
    }

    // A rename within the directory that never replaces (EEXIST); where the file system has no such
    // rename, the target is looked up just before.
    bool renameNoReplace(const std::string& from, const std::string& to)
    {
        if (::renameat2(m_dir, from.c_str(), m_dir, to.c_str(), RENAME_NOREPLACE) == 0) return true;
        if (errno != EINVAL && errno != ENOSYS) return false;
        struct stat st { };
        if (::fstatat(m_dir, to.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
            errno = EEXIST;
            return false;
        }
        return ::renameat(m_dir, from.c_str(), m_dir, to.c_str()) == 0;
    }

    // The rename that gives the file its name failed. The destination refusing the name itself reads as
    // 123, known from its answer: EINVAL, or ENOENT while the file being named is still there (exFAT
    // through FUSE answers so for ":" or "?").
    bool failNaming(int e, const std::string& linuxDestination)
    {
        struct stat st { };
        if (e == ENOENT && ::fstatat(m_dir, m_tempName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            return failCode(err::InvalidName);
        // FAT through fusefat refuses such a name as not permitted: that is the name, not the user's rights.
        if ((e == EPERM || e == EACCES) && !FatHoldsName(BaseName(linuxDestination))) return failCode(err::InvalidName);
        return fail(e, linuxDestination, ErrnoCall::CreateNoReplace);
    }

    // On FUSE (an SMB share keeps the time of the last write the server saw, not the one set on the
    // descriptor before the close) the source's times are given by name once the file is in place.
    // The copy is complete either way, so a refusal here changes nothing.
    bool keepTimesByName(const std::string& name, const ReplaceOptions& options)
    {
        if (!m_timesAfterClose) return true;
        SourceFacts model;
        if (!options.source->Facts(model)) return true;
        const timespec times[2] = { { time_t(model.accessSeconds), long(model.accessNanoseconds) },
            { time_t(model.writeSeconds), long(model.writeNanoseconds) } };
        ::utimensat(m_dir, name.c_str(), times, AT_SYMLINK_NOFOLLOW);
        return true;
    }

    // Gives the unnamed file a name in its directory; false (errno set) when that fails.
    bool linkTo(const std::string& name)
    {
        const int fd = NativeHandle();
        if (::linkat(fd, "", m_dir, name.c_str(), AT_EMPTY_PATH) == 0) return true;
        if (errno != ENOENT && errno != EPERM) return false;
        // Without the privilege to link a descriptor, through its /proc entry.
        const std::string self = "/proc/self/fd/" + std::to_string(fd);
        return ::linkat(AT_FDCWD, self.c_str(), m_dir, name.c_str(), AT_SYMLINK_FOLLOW) == 0;
    }

    // Gives an unnamed replacement a hidden name in its directory, so that a rename can put it in
    // place in one step.
    bool giveName(const std::string& linuxDestination)
    {
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = randomTempName();
            if (linkTo(name)) {
                m_tempName = std::move(name);
                return true;
            }
            if (errno != EEXIST) return fail(errno, linuxDestination);
        }
        return fail(EEXIST, linuxDestination);
    }

    UniqueFd m_dirFd; // owned directory (invalid when it is borrowed)
    int m_dir = -1; // the directory the file lives in, owned or borrowed
    std::string m_tempName;
    bool m_destinationWasFree = false;
    dev_t m_device = 0; // the directory's device, 0 while not known
    mode_t m_madeWith = 0;
    DirectoryTraits* m_traits = nullptr;
    bool m_timesAfterClose = false; // the source's times are given by name once the file is in place
};

// A replacement in dir, which owner owns (or, when owner is empty, the caller keeps open for the
// file's lifetime).
// plainModes: the directory has no default ACL; traits: the directory's (null: none).
std::unique_ptr<File> makeReplacement(int dir, UniqueFd owner, const std::string& linuxDestination,
    bool listedFree = false, dev_t device = 0, bool plainModes = false, DirectoryTraits* traits = nullptr)
{
    struct stat existing { };
    existing.st_mode = 0;
    const auto made = [&](UniqueFd fd, std::string name, mode_t madeWith) {
        return std::make_unique<LinuxReplacement>(
            std::move(fd), dir, std::move(owner), std::move(name), existing.st_mode == 0, device, madeWith, traits);
    };
    if (!listedFree && !replaceableEntry(dir, std::string(BaseName(linuxDestination)), linuxDestination, &existing))
        return nullptr;
    // Unnamed until it is complete: a killed process leaves no temporary file behind. Naming it later
    // needs /proc (or a privilege); without /proc, as in a bare chroot, it is named from the start.
    static const bool canNameLater = ::access("/proc/self/fd", F_OK) == 0;
    // Made unnamed, no other user can open it: it may have the mode most copies end with, saving a chmod.
    const mode_t natural = plainModes ? naturalMode() : 0;
    UniqueFd fd(canNameLater ? ::openat(dir, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, natural ? natural : 0600) : -1);
    if (fd.valid()) return made(std::move(fd), std::string(), natural);
    if (canNameLater && errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL && errno != ENOENT) {
        fail(errno, linuxDestination);
        return nullptr;
    }
    // A file system without unnamed files: a hidden temporary file, removed unless committed.
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = randomTempName();
        fd.reset(::openat(dir, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (fd.valid()) return made(std::move(fd), std::move(name), 0);
        if (errno != EEXIST) break;
    }
    fail(errno, linuxDestination, ErrnoCall::CreateNoReplace);
    return nullptr;
}

} // namespace

std::unique_ptr<File> createReplacement(const std::string& linuxDestination)
{
    UniqueFd dirFd(::open(ParentOf(linuxDestination).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!dirFd.valid()) {
        fail(errno, linuxDestination);
        return nullptr;
    }
    return createReplacementAt(std::move(dirFd), linuxDestination);
}

std::unique_ptr<File> createReplacementAt(UniqueFd dirFd, const std::string& linuxDestination)
{
    const int dir = dirFd.get();
    return makeReplacement(dir, std::move(dirFd), linuxDestination);
}

std::unique_ptr<File> createReplacementIn(int dirFd, const std::string& linuxDestination, bool listedFree, dev_t device,
    bool plainModes, DirectoryTraits* traits)
{
    return makeReplacement(dirFd, UniqueFd(), linuxDestination, listedFree, device, plainModes, traits);
}

bool withoutDefaultAcl(int dirFd)
{
    if (::fgetxattr(dirFd, "system.posix_acl_default", nullptr, 0) >= 0) return false;
    return errno == ENODATA || errno == ENOTSUP;
}

bool commitReplacement(
    std::unique_ptr<File> file, const std::string& linuxDestination, const ReplaceOptions& options, bool exclusive)
{
    // The file comes back through the File interface: only one this file system made can be committed.
    auto* replacement = dynamic_cast<LinuxReplacement*>(file.get());
    if (!replacement) return failCode(err::InvalidParameter);
    return exclusive ? replacement->commitNew(linuxDestination, options)
                     : replacement->commit(linuxDestination, options);
}

// Whether a name is one FAT, exFAT and SMB can hold: UTF-8, none of \\ : * ? " < > | and no control character.
bool FatHoldsName(std::string_view name)
{
    for (const unsigned char c : name)
        if (c < 0x20 || std::strchr("\\:*?\"<>|", c)) return false;
    return IsValidUtf8(std::string(name));
}

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

std::unique_ptr<File> LinuxFileSystem::CreateReplacement(const std::string& destination)
{
    const auto linuxPath = toLinuxPath(destination);
    if (!linuxPath) return nullptr;
    return createReplacement(*linuxPath);
}

bool LinuxFileSystem::CommitReplacement(
    std::unique_ptr<File> file, const std::string& destination, const ReplaceOptions& options)
{
    const auto linuxPath = toLinuxPath(destination);
    if (!linuxPath) return false;
    return commitReplacement(std::move(file), *linuxPath, options);
}

} // namespace zelo
