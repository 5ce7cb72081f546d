// Attributes: ReadOnly from the owner's write bit, Hidden/System/Archive from user.DOSATTRIB.
#include "platform/dosattrib.h"
#include "platform/linux_fs_internal.h"

#include <cerrno>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <vector>

namespace zelo::linuxfs {

namespace {

constexpr uint32_t kDosBits = kAttrHidden | kAttrSystem | kAttrArchive;

bool isDotName(std::string_view name)
{
    return !name.empty() && name[0] == '.' && name != "." && name != "..";
}

// What an entry reports without the extended attribute: Archive for a file, nothing for a directory.
uint32_t derivedDosBits(mode_t mode, std::string_view name)
{
    uint32_t bits = S_ISDIR(mode) ? 0u : uint32_t(kAttrArchive);
    if (isDotName(name)) bits |= kAttrHidden;
    return bits;
}

bool readBlob(const std::string& linuxPath, std::string& blob, int& error)
{
    // A stack buffer covers every form Samba and Wine write; the common case (no attribute)
    // is one call that fails with ENODATA.
    char small[128];
    ssize_t n = ::lgetxattr(linuxPath.c_str(), dosattrib::kName, small, sizeof small);
    if (n >= 0) {
        blob.assign(small, size_t(n));
        return true;
    }
    if (errno != ERANGE) {
        error = errno;
        return false;
    }
    for (int attempt = 0; attempt < 3; ++attempt) {
        n = ::lgetxattr(linuxPath.c_str(), dosattrib::kName, nullptr, 0);
        if (n < 0) break;
        blob.resize(size_t(n));
        n = ::lgetxattr(linuxPath.c_str(), dosattrib::kName, blob.data(), blob.size());
        if (n >= 0) {
            blob.resize(size_t(n));
            return true;
        }
        if (errno != ERANGE) break;
    }
    error = errno;
    return false;
}

std::optional<dosattrib::Value> readValue(const std::string& linuxPath, int& error)
{
    std::string blob;
    if (!readBlob(linuxPath, blob, error)) return std::nullopt;
    error = 0;
    return dosattrib::parse(blob.data(), blob.size());
}

bool xattrRefused(int e)
{
    return e == ENOTSUP || e == EPERM;
}

} // namespace

bool readDosAttributes(const std::string& linuxPath, uint32_t& attributes, bool* xattrUnsupported)
{
    int error = 0;
    std::optional<dosattrib::Value> value = readValue(linuxPath, error);
    if (!value) {
        if (error == ENOTSUP && xattrUnsupported) *xattrUnsupported = true;
        return false;
    }
    attributes = value->attributes;
    return true;
}

uint32_t attributesOf(const std::string& linuxPath, std::string_view name, mode_t mode, bool* xattrUnsupported)
{
    const bool dotName = isDotName(name);
    if (S_ISLNK(mode)) {
        struct stat target { };
        const bool toDirectory = ::stat(linuxPath.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
        const uint32_t kind = toDirectory ? kAttrDirectory : kAttrArchive;
        return kAttrReparsePoint | kind | (dotName ? uint32_t(kAttrHidden) : 0u);
    }
    uint32_t attributes = isReadOnlyMode(mode) ? uint32_t(kAttrReadOnly) : 0u;
    if (S_ISDIR(mode)) attributes |= kAttrDirectory;
    uint32_t stored = 0;
    // Only files and directories can carry user attributes; skip the call where it cannot succeed.
    const bool canHold = (S_ISREG(mode) || S_ISDIR(mode)) && !(xattrUnsupported && *xattrUnsupported);
    if (canHold && readDosAttributes(linuxPath, stored, xattrUnsupported))
        attributes |= stored & kDosBits;
    else
        attributes |= derivedDosBits(mode, name);
    if (dotName) attributes |= kAttrHidden;
    return attributes;
}

} // namespace zelo::linuxfs

namespace zelo {

using namespace linuxfs;

uint32_t LinuxFileSystem::GetAttributes(const std::string& path)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return kInvalidAttributes;
    struct stat st { };
    if (::lstat(linuxPath->c_str(), &st) != 0) {
        fail(errno, *linuxPath);
        return kInvalidAttributes;
    }
    // A drive root is never Hidden for the name of the directory it stands for.
    const bool driveRoot = isDriveRoot(path, *linuxPath);
    return attributesOf(*linuxPath, driveRoot ? std::string_view() : BaseName(*linuxPath), st.st_mode);
}

bool LinuxFileSystem::SetAttributes(const std::string& path, uint32_t attributes)
{
    const auto linuxPath = toLinuxPath(path);
    if (!linuxPath) return false;
    const char* p = linuxPath->c_str();
    struct stat st { };
    if (::lstat(p, &st) != 0) return fail(errno, *linuxPath);

    const bool link = S_ISLNK(st.st_mode);
    const bool wantReadOnly = (attributes & kAttrReadOnly) != 0;
    const mode_t mode = st.st_mode & 07777;
    mode_t newMode = mode;
    if (!link) newMode = wantReadOnly ? (mode & ~mode_t(0222)) : (mode | S_IWUSR);

    // True once the owner's write bit has been lent for writing the attribute.
    bool lent = false;
    auto applyMode = [&]() {
        if ((newMode == mode && !lent) || ::chmod(p, newMode) == 0) return true;
        return fail(errno, *linuxPath);
    };
    // Writing a user attribute needs write permission: lift ReadOnly first, set it last.
    if (!wantReadOnly && !applyMode()) return false;

    const std::string_view name = BaseName(*linuxPath);
    const uint32_t wanted = attributes & kDosBits;
    const uint32_t derived = derivedDosBits(st.st_mode, name);
    // Hidden of a dot name cannot be taken away; asking for it is derivable as well.
    const uint32_t compareMask = isDotName(name) ? (kDosBits & ~kAttrHidden) : kDosBits;
    const bool derivable = (wanted & compareMask) == (derived & compareMask);

    int error = 0;
    std::optional<dosattrib::Value> stored;
    if (S_ISREG(st.st_mode) || S_ISDIR(st.st_mode))
        stored = readValue(*linuxPath, error);
    else
        error = ENOTSUP;
    const bool refused = xattrRefused(error);
    if (!(derivable && !stored)) {
        // Samba keeps the Directory and ReadOnly bits in the attribute too.
        dosattrib::Value value;
        value.attributes = wanted | (S_ISDIR(st.st_mode) ? uint32_t(kAttrDirectory) : 0u)
            | (wantReadOnly ? uint32_t(kAttrReadOnly) : 0u);
        if (stored) value.creationTime = stored->creationTime;
        const std::string blob = dosattrib::encode(value);
        // A file that stays ReadOnly lacks the write permission the attribute needs (an ordinary
        // user is refused): lend the owner's write bit for the write; the mode is set again below.
        if (!refused && wantReadOnly && !link && (mode & S_IWUSR) == 0) {
            if (::chmod(p, mode | S_IWUSR) != 0) return fail(errno, *linuxPath);
            lent = true;
        }
        if (refused || ::lsetxattr(p, dosattrib::kName, blob.data(), blob.size(), 0) != 0) {
            const int e = refused ? error : errno;
            if (!(derivable && xattrRefused(e))) {
                if (wantReadOnly) applyMode(); // ReadOnly is still applied; the call reports the part that failed
                SetLastErrorFromErrno(e);
                return false;
            }
        }
    }
    if (wantReadOnly && !applyMode()) return false;
    return true;
}

} // namespace zelo
