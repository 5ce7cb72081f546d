// Which mounts of the Linux tree become drive letters, and of what type.
#include "platform/linux_path.h"
#include "platform/mount_table.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include <cstdio>
#include <mntent.h>
#include <sys/stat.h>

namespace zelo {

using linuxfs::BaseName;
using linuxfs::JoinPath;
using linuxfs::ParentOf;

namespace {

bool startsWith(const std::string& text, const std::string& prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// True when path is directory or lies below it (component boundary).
bool isUnder(const std::string& path, const std::string& directory)
{
    if (directory == "/") return !path.empty() && path[0] == '/';
    return startsWith(path, directory) && (path.size() == directory.size() || path[directory.size()] == '/');
}

bool isOneOf(const std::string& value, std::initializer_list<const char*> list)
{
    return std::any_of(list.begin(), list.end(), [&](const char* item) { return value == item; });
}

// Kernel and desktop plumbing: never a drive, wherever it is mounted.
bool isPseudoFileSystem(const std::string& type)
{
    return isOneOf(type,
        { "proc", "sysfs", "cgroup", "cgroup2", "devpts", "devtmpfs", "mqueue", "securityfs", "debugfs", "tracefs",
            "pstore", "bpf", "autofs", "configfs", "fusectl", "hugetlbfs", "binfmt_misc", "efivarfs", "rpc_pipefs",
            "nsfs", "selinuxfs", "overlay", "fuse.portal", "fuse.lxcfs", "nfsd" });
}

bool isRemoteFileSystem(const std::string& type)
{
    return isOneOf(
        type, { "nfs", "nfs4", "cifs", "smb3", "smbfs", "fuse.sshfs", "sshfs", "fuse.rclone", "fuse.gvfsd-fuse" });
}

// The system's own places: mounts here are not drives a user would pick (/run/media and the
// per-user GVfs directory excepted, see classifyMount).
bool isSystemPlace(const std::string& directory)
{
    for (const char* place : { "/proc", "/sys", "/dev", "/run", "/boot", "/etc", "/snap", "/var", "/tmp", "/usr" })
        if (isUnder(directory, place)) return true;
    return false;
}

bool isGvfsDirectory(const std::string& directory, const std::string& type)
{
    return type == "fuse.gvfsd-fuse"
        || (startsWith(directory, "/run/user/") && directory.size() > 5
            && directory.compare(directory.size() - 5, 5, "/gvfs") == 0);
}

std::string readFirstLine(const std::string& path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string realPath(const std::string& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return {};
    return buffer;
}

} // namespace

namespace {

// Every entry of an open mount table. getmntent_r decodes the kernel's escapes of space, tab, newline
// and backslash ("\040"); a line without a type or with a relative directory is skipped.
std::vector<MountEntry> readMountEntries(FILE* table)
{
    std::vector<MountEntry> entries;
    if (!table) return entries;
    struct mntent entry { };
    std::vector<char> line(64 * 1024); // a longer line is passed over whole
    while (::getmntent_r(table, &entry, line.data(), int(line.size()))) {
        if (entry.mnt_dir[0] != '/' || entry.mnt_type[0] == '\0') continue;
        entries.push_back({ entry.mnt_fsname, entry.mnt_dir, entry.mnt_type, entry.mnt_opts });
    }
    ::endmntent(table);
    return entries;
}

} // namespace

std::vector<MountEntry> parseMountTable(const std::string& mounts)
{
    if (mounts.empty()) return {};
    return readMountEntries(::fmemopen(const_cast<char*>(mounts.data()), mounts.size(), "r"));
}

bool isRemovableDevice(const std::string& source)
{
    if (!startsWith(source, "/dev/")) return false;
    const std::string device = realPath(source);
    if (device.empty()) return false;
    const std::string name(BaseName(device));
    const std::string sysPath = realPath("/sys/class/block/" + name);
    if (sysPath.empty()) return false;
    struct stat info { };
    // A partition's own directory has a "partition" file; its disk is the parent directory.
    const std::string disk = ::stat((sysPath + "/partition").c_str(), &info) == 0 ? ParentOf(sysPath) : sysPath;
    return readFirstLine(disk + "/removable") == "1";
}

std::optional<uint32_t> classifyMount(const MountEntry& entry, const RemovableProbe& isRemovable)
{
    const std::string& type = entry.fsType;
    const std::string& directory = entry.directory;
    if (directory == "/") return kDriveFixed;
    if (isGvfsDirectory(directory, type))
        return type == "fuse.gvfsd-fuse" ? std::optional<uint32_t>(kDriveRemote) : std::nullopt;
    if (isPseudoFileSystem(type)) return std::nullopt;
    if (isSystemPlace(directory) && !isUnder(directory, "/run/media")) return std::nullopt;
    if (type == "squashfs" && isUnder(directory, "/snap")) return std::nullopt;
    if (isRemoteFileSystem(type)) return kDriveRemote;
    if (isOneOf(type, { "iso9660", "udf" })) return kDriveCdrom;
    if (isOneOf(type, { "tmpfs", "ramfs" })) return kDriveRamdisk;
    // Any other fuse mount is an application's view (archives, portals, phones): no letter.
    if (startsWith(type, "fuse.") && !isOneOf(type, { "fuse.exfat", "fuse.ntfs-3g", "fuseblk" })) return std::nullopt;
    if (isRemovable && isRemovable(entry.source)) return kDriveRemovable;
    // Memory cards and sticks mounted by the desktop under the media folders, even when the
    // device does not call itself removable.
    if (isOneOf(type, { "vfat", "exfat", "msdos", "fuse.exfat" })
        && (isUnder(directory, "/media") || isUnder(directory, "/run/media")))
        return kDriveRemovable;
    return kDriveFixed;
}

std::string uncFromCifsSource(const std::string& source)
{
    if (!startsWith(source, "//") || source.size() <= 2) return {};
    std::string unc = source;
    std::replace(unc.begin(), unc.end(), '/', '\\');
    while (unc.size() > 2 && unc.back() == '\\')
        unc.pop_back();
    return unc;
}

namespace {

// GVfs writes a field's value with "%XX" for the bytes it escapes (a blank, ",", "=", "/"...).
std::string PercentDecoded(std::string_view text)
{
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hex(text[i + 1]) >= 0 && hex(text[i + 2]) >= 0) {
            out += char(hex(text[i + 1]) * 16 + hex(text[i + 2]));
            i += 2;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

std::optional<GvfsShare> GvfsShareOf(const std::string& directoryName)
{
    const std::string prefix = "smb-share:";
    if (!startsWith(directoryName, prefix)) return std::nullopt;
    GvfsShare found;
    std::istringstream fields(directoryName.substr(prefix.size()));
    std::string field;
    while (std::getline(fields, field, ',')) {
        const auto equals = field.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = field.substr(0, equals);
        const std::string value = PercentDecoded(std::string_view(field).substr(equals + 1));
        if (key == "server")
            found.server = value;
        else if (key == "share")
            found.share = value;
        else if (key == "port")
            found.port = value;
        else if (key == "user")
            found.user = value;
        else if (key == "domain")
            found.domain = value;
    }
    if (found.server.empty() || found.share.empty()) return std::nullopt;
    return found;
}

std::string uncFromGvfsName(const std::string& directoryName)
{
    const auto share = GvfsShareOf(directoryName);
    if (!share) return {};
    return "\\\\" + share->server + "\\" + share->share;
}

DriveMap driveMapFromMounts(const std::string& mounts, const RemovableProbe& isRemovable)
{
    // A later mount on the same directory hides the earlier one.
    std::map<std::string, MountEntry> byDirectory;
    for (MountEntry& entry : parseMountTable(mounts))
        byDirectory[entry.directory] = std::move(entry);

    DriveMap map;
    map.add(Drive { 'C', "/", kDriveFixed, std::nullopt, {} });
    char next = 'D';
    // std::map keeps the mount points in byte order: letters follow it.
    for (const auto& [directory, entry] : byDirectory) {
        if (directory == "/" || next > 'Z') continue;
        const auto type = classifyMount(entry, isRemovable);
        if (!type) continue;
        Drive drive { next++, directory, *type, std::nullopt, {} };
        if (*type == kDriveRemote && isOneOf(entry.fsType, { "cifs", "smb3", "smbfs" }))
            drive.unc = uncFromCifsSource(entry.source);
        map.add(std::move(drive));
    }
    return map;
}

DriveMap DriveMap::fromMountTable(const std::string& mounts)
{
    return driveMapFromMounts(mounts, isRemovableDevice);
}

std::optional<MountEntry> mountHolding(const std::string& linuxPath)
{
    std::optional<MountEntry> best;
    for (MountEntry& entry : readMountEntries(::setmntent("/proc/self/mounts", "r"))) {
        // Ties go to the later line: it is the mount on top.
        if (isUnder(linuxPath, entry.directory) && (!best || entry.directory.size() >= best->directory.size()))
            best = std::move(entry);
    }
    return best;
}

} // namespace zelo
