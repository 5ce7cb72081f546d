// Drive types, volume labels, free space and universal names of the drive letters.
#include "platform/bounded_call.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/fd.h"
#include "platform/linux_path.h"
#include "platform/mount_table.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/fs.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <utility>

namespace zelo {

using linuxfs::BaseName;
using linuxfs::JoinPath;
using linuxfs::ParentOf;

namespace {

// How long a call on a network drive may take before the drive counts as not answering.
constexpr std::chrono::milliseconds kRemoteLimit { 3000 };

const Drive* driveOfRoot(const std::string& root)
{
    if (root.empty()) return nullptr;
    return driveMap().find(root[0]);
}

bool isDirectory(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string realPath(const std::string& path)
{
    char buffer[PATH_MAX];
    if (!::realpath(path.c_str(), buffer)) return {};
    return buffer;
}

// udev writes unusual bytes of a label as "\xHH".
std::string decodeUdevName(const std::string& name)
{
    std::string result;
    for (size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '\\' && i + 3 < name.size() && name[i + 1] == 'x' && std::isxdigit((unsigned char)name[i + 2])
            && std::isxdigit((unsigned char)name[i + 3])) {
            result += char(std::strtol(name.substr(i + 2, 2).c_str(), nullptr, 16));
            i += 3;
        } else {
            result += name[i];
        }
    }
    return result;
}

std::optional<std::string> labelFromIoctl(const std::string& directory)
{
#ifdef FS_IOC_GETFSLABEL
    UniqueFd fd(::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) return std::nullopt;
    std::array<char, FSLABEL_MAX + 1> label {};
    if (::ioctl(fd.get(), FS_IOC_GETFSLABEL, label.data()) != 0) return std::nullopt;
    return std::string(label.data(), strnlen(label.data(), FSLABEL_MAX));
#else
    (void)directory;
    return std::nullopt;
#endif
}

std::optional<std::string> labelFromDiskByLabel(const std::string& source)
{
    const std::string device = realPath(source);
    if (device.empty()) return std::nullopt;
    const std::string folder = "/dev/disk/by-label";
    UniqueDir dir(::opendir(folder.c_str()));
    if (!dir.get()) return std::nullopt;
    std::optional<std::string> label;
    while (dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        if (realPath(folder + "/" + name) == device) {
            label = decodeUdevName(name);
            break;
        }
    }
    return label;
}

struct VolumeFacts {
    bool present = false;
    std::string label;
    std::string fileSystem;
};

// The file system's name from its magic number, for a directory the mount table does not show
// (a chroot or another mount namespace).
std::string fileSystemFromMagic(const std::string& directory)
{
    struct statfs info { };
    if (::statfs(directory.c_str(), &info) != 0) return "unknown";
    static const std::pair<unsigned long, const char*> kNames[] = {
        { 0xEF53, "ext4" },
        { 0x58465342, "xfs" },
        { 0x9123683E, "btrfs" },
        { 0x01021994, "tmpfs" },
        { 0x4d44, "vfat" },
        { 0x2011BAB0, "exfat" },
        { 0x5346544e, "ntfs" },
        { 0x6969, "nfs" },
        { 0xFF534D42, "cifs" },
        { 0xFE534D42, "smb3" },
        { 0x65735546, "fuse" },
        { 0x9660, "iso9660" },
        { 0x15013346, "udf" },
        { 0x794c7630, "overlay" },
        { 0x858458f6, "ramfs" },
        { 0x2FC12FC1, "zfs" },
        { 0xF2F52010, "f2fs" },
    };
    for (const auto& [magic, name] : kNames)
        if (static_cast<unsigned long>(info.f_type) == magic) return name;
    return "unknown";
}

VolumeFacts readVolume(const Drive& drive)
{
    VolumeFacts facts;
    if (!isDirectory(drive.directory)) return facts;
    facts.present = true;
    const auto mount = mountHolding(drive.directory);
    facts.fileSystem = mount ? mount->fsType : fileSystemFromMagic(drive.directory);
    if (drive.label) {
        facts.label = *drive.label;
    } else if (auto label = labelFromIoctl(drive.directory)) {
        facts.label = *label;
    } else if (mount && mount->directory == drive.directory && mount->source.rfind("/dev/", 0) == 0) {
        facts.label = labelFromDiskByLabel(mount->source).value_or(std::string());
    }
    return facts;
}

// The drive that holds a path: a drive path's letter, or the drive of the current directory for "".
const Drive* driveOfPath(const std::string& path, std::string& linuxPath)
{
    if (path.empty()) {
        char buffer[PATH_MAX];
        if (!::getcwd(buffer, sizeof buffer)) return nullptr;
        linuxPath = buffer;
        const auto drivePath = driveMap().fromLinux(linuxPath);
        return drivePath ? driveMap().find((*drivePath)[0]) : nullptr;
    }
    const auto mapped = driveMap().toLinux(path);
    if (!mapped) return nullptr;
    linuxPath = *mapped;
    return driveMap().find(path[0]);
}

struct SpaceFacts {
    int error = 0;
    bool noMedium = false; // the drive's own directory is missing
    struct statvfs info { };
};

// Every look at the drive happens here, so a remote drive's whole query runs under the time limit.
SpaceFacts readSpace(const std::string& linuxPath, const std::string& driveDirectory)
{
    SpaceFacts facts;
    if (::statvfs(linuxPath.c_str(), &facts.info) != 0) {
        facts.error = errno;
        facts.noMedium = facts.error == ENOENT && !isDirectory(driveDirectory);
    }
    return facts;
}

} // namespace

uint32_t GetLogicalDrives()
{
    uint32_t mask = 0;
    for (const Drive& drive : driveMap().drives())
        mask |= 1u << (drive.letter - 'A');
    return mask;
}

uint32_t GetDriveType(const std::string& root)
{
    const Drive* drive = driveOfRoot(root);
    return drive ? drive->type : kDriveNoRootDir;
}

bool GetVolumeInformation(const std::string& root, std::string& label, std::string& fileSystemName)
{
    const Drive* drive = driveOfRoot(root);
    if (!drive) {
        SetLastError(err::PathNotFound);
        return false;
    }
    VolumeFacts facts;
    if (drive->type == kDriveRemote) {
        const Drive copy = *drive;
        const auto bounded = runBounded<VolumeFacts>([copy]() { return readVolume(copy); }, kRemoteLimit);
        if (!bounded) {
            SetLastError(err::SemTimeout);
            return false;
        }
        facts = *bounded;
    } else {
        facts = readVolume(*drive);
    }
    if (!facts.present) {
        SetLastError(err::NotReady);
        return false;
    }
    label = facts.label;
    fileSystemName = facts.fileSystem;
    SetLastError(err::Success);
    return true;
}

bool SetVolumeLabel(const std::string& root, const std::string& label)
{
    Drive* drive = root.empty() ? nullptr : driveMap().find(root[0]);
    if (!drive) {
        SetLastError(err::PathNotFound);
        return false;
    }
    if (drive->type != kDriveRemote && !isDirectory(drive->directory)) {
        SetLastError(err::NotReady);
        return false;
    }
    // A label given by the drive map is the drive's own: change it there.
    if (drive->label) {
        drive->label = label;
        SetLastError(err::Success);
        return true;
    }
    if (drive->type == kDriveRemote) {
        SetLastError(err::AccessDenied);
        return false;
    }
    // A directory that is not the root of its volume has no label of its own; relabelling the
    // volume that happens to hold it would change another drive's name.
    const auto mount = mountHolding(drive->directory);
    if (!mount || mount->directory != drive->directory) {
        drive->label = label;
        SetLastError(err::Success);
        return true;
    }
#ifdef FS_IOC_SETFSLABEL
    if (label.size() >= FSLABEL_MAX) {
        SetLastError(err::BadPathName);
        return false;
    }
    UniqueFd fd(::open(drive->directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (fd.get() < 0) {
        SetLastErrorFromErrno(errno);
        return false;
    }
    std::array<char, FSLABEL_MAX> buffer {};
    std::memcpy(buffer.data(), label.data(), label.size());
    if (::ioctl(fd.get(), FS_IOC_SETFSLABEL, buffer.data()) != 0) {
        SetLastErrorFromErrno(errno == ENOTTY || errno == EOPNOTSUPP ? EPERM : errno);
        return false;
    }
    SetLastError(err::Success);
    return true;
#else
    SetLastError(err::AccessDenied);
    return false;
#endif
}

bool OnNetworkFileSystem(const std::string& path)
{
    std::string linuxPath;
    const Drive* drive = driveOfPath(path, linuxPath);
    if (!drive) return false;
    if (drive->type == kDriveRemote) return true;
    constexpr std::array<unsigned long, 6> kRoundTrip = {
        0x6969, // NFS
        0xFF534D42, // CIFS
        0xFE534D42, // SMB2
        0x517B, // SMB
        0x65735546, // FUSE
        0x564C, // NCP
    };
    struct statfs fs { };
    if (::statfs(linuxPath.c_str(), &fs) != 0) return false;
    for (const unsigned long magic : kRoundTrip)
        if (static_cast<unsigned long>(fs.f_type) == magic) return true;
    return false;
}

bool GetDiskFreeSpaceEx(const std::string& path, uint64_t& freeToCaller, uint64_t& totalBytes, uint64_t& totalFree)
{
    std::string linuxPath;
    const Drive* drive = driveOfPath(path, linuxPath);
    if (!drive) {
        SetLastError(err::PathNotFound);
        return false;
    }
    SpaceFacts facts;
    const std::string driveDirectory = drive->directory;
    if (drive->type == kDriveRemote) {
        const auto bounded = runBounded<SpaceFacts>(
            [linuxPath, driveDirectory]() { return readSpace(linuxPath, driveDirectory); }, kRemoteLimit);
        if (!bounded) {
            SetLastError(err::SemTimeout);
            return false;
        }
        facts = *bounded;
    } else {
        facts = readSpace(linuxPath, driveDirectory);
    }
    if (facts.error != 0) {
        // The drive root itself missing is a drive without medium.
        if (facts.noMedium)
            SetLastError(err::NotReady);
        else
            SetLastErrorFromErrno(facts.error);
        return false;
    }
    const uint64_t unit = facts.info.f_frsize ? facts.info.f_frsize : facts.info.f_bsize;
    freeToCaller = uint64_t(facts.info.f_bavail) * unit;
    totalBytes = uint64_t(facts.info.f_blocks) * unit;
    totalFree = uint64_t(facts.info.f_bfree) * unit;
    SetLastError(err::Success);
    return true;
}

bool GetUniversalName(const std::string& root, std::string& universalName)
{
    const Drive* drive = driveOfRoot(root);
    if (!drive) {
        SetLastError(err::PathNotFound);
        return false;
    }
    if (drive->type != kDriveRemote) {
        SetLastError(err::NotConnected);
        return false;
    }
    std::string name = drive->unc;
    if (name.empty()) name = uncFromGvfsName(std::string(BaseName(drive->directory)));
    if (name.empty()) {
        const auto mount = mountHolding(drive->directory);
        if (mount && mount->directory == drive->directory
            && (mount->fsType == "cifs" || mount->fsType == "smb3" || mount->fsType == "smbfs"))
            name = uncFromCifsSource(mount->source);
    }
    if (name.empty()) {
        SetLastError(err::NotConnected);
        return false;
    }
    universalName = name;
    SetLastError(err::Success);
    return true;
}

std::string GetModuleFileName()
{
    char buffer[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (length <= 0) return {};
    const std::string linuxPath(buffer, size_t(length));
    if (auto drivePath = driveMap().fromLinux(linuxPath)) return *drivePath;
    // Outside every drive: written like a network path ("\usr\bin\zelo32"), so start-up falls
    // back to the system drive.
    std::string path = linuxPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string GetWindowsDirectory()
{
    const DriveMap& map = driveMap();
    if (map.find('C') || map.drives().empty()) return "C:\\";
    return std::string { map.drives().front().letter, ':', '\\' };
}

namespace {

// Whether a block device (a FUSE mount's source) holds a FAT file system: the boot sector's type text.
bool HoldsFat(const std::string& device)
{
    UniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    unsigned char sector[512] = {};
    if (!fd.valid() || ::pread(fd.get(), sector, sizeof sector, 0) != ssize_t(sizeof sector)) return false;
    if (sector[510] != 0x55 || sector[511] != 0xAA) return false;
    return std::memcmp(sector + 54, "FAT1", 4) == 0 || std::memcmp(sector + 82, "FAT32", 5) == 0;
}

// Whether a block device holds exFAT: the boot sector's file system name.
bool HoldsExfat(const std::string& device)
{
    UniqueFd fd(::open(device.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    char sector[16] = {};
    if (!fd.valid() || ::pread(fd.get(), sector, sizeof sector, 0) != ssize_t(sizeof sector)) return false;
    return std::memcmp(sector + 3, "EXFAT   ", 8) == 0;
}

} // namespace

WriteTimeStep GetWriteTimeStep(const std::string& path)
{
    const auto linuxPath = driveMap().toLinux(path);
    if (!linuxPath) return WriteTimeStep::Second;
    const auto mount = mountHolding(*linuxPath);
    if (!mount) return WriteTimeStep::Second;
    const std::string& type = mount->fsType;
    if (type == "vfat" || type == "msdos" || type == "fat" || type == "fuse.fusefat" || type == "fuse.vfat")
        return WriteTimeStep::FatTwoSeconds;
    if (type == "fuseblk" && HoldsFat(mount->source)) return WriteTimeStep::FatTwoSeconds;
    return WriteTimeStep::Second;
}

bool FoldsNameCaseByType(const std::string& path)
{
    const auto linuxPath = driveMap().toLinux(path);
    if (!linuxPath) return false;
    // An ext4 folder may fold case on its own (chattr +F).
    constexpr long kCaseFoldFlag = 0x40000000; // FS_CASEFOLD_FL
    UniqueFd dir(::open(linuxPath->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK));
    long flags = 0;
    if (dir.valid() && ::ioctl(dir.get(), FS_IOC_GETFLAGS, &flags) == 0 && (flags & kCaseFoldFlag)) return true;
    const auto mount = mountHolding(*linuxPath);
    if (!mount) return false;
    const std::string& type = mount->fsType;
    for (const char* folding : { "vfat", "msdos", "fat", "exfat", "cifs", "smb3", "smbfs", "fuse.fusefat", "fuse.vfat",
             "fuse.exfat", "fuse.exfat-fuse" }) {
        if (type == folding) return true;
    }
    // exfat-fuse and FAT through the kernel's FUSE block driver.
    if (type == "fuseblk") return HoldsFat(mount->source) || HoldsExfat(mount->source);
    // A GVfs mount folds case where it is an SMB share ("smb-share:server=...").
    if (type == "fuse.gvfsd-fuse" && linuxPath->size() > mount->directory.size() + 1)
        return linuxPath->compare(mount->directory.size() + 1, 10, "smb-share:") == 0;
    return false;
}

namespace {

// Where a Linux directory lies within its file system (the device, and the path from the file system's
// own root), through /proc/self/mountinfo: a bind mount's root field names the folder it shows.
std::optional<std::pair<std::string, std::string>> PlaceInFileSystem(const std::string& linuxPath)
{
    char resolved[PATH_MAX];
    if (!::realpath(linuxPath.c_str(), resolved)) return std::nullopt;
    const std::string path(resolved);
    std::FILE* info = std::fopen("/proc/self/mountinfo", "re");
    if (!info) return std::nullopt;
    std::optional<std::pair<std::string, std::string>> best;
    size_t bestLength = 0;
    char* line = nullptr;
    size_t capacity = 0;
    const auto unescape = [](std::string text) {
        for (size_t at = text.find('\\'); at != std::string::npos && at + 3 < text.size(); at = text.find('\\', at + 1))
            text.replace(at, 4, 1, char(std::strtol(text.substr(at + 1, 3).c_str(), nullptr, 8)));
        return text;
    };
    while (::getline(&line, &capacity, info) > 0) {
        char device[64], root[PATH_MAX], mountPoint[PATH_MAX];
        if (std::sscanf(line, "%*s %*s %63s %4095s %4095s", device, root, mountPoint) != 3) continue;
        const std::string point = unescape(mountPoint);
        const bool holds = point == "/" || path == point
            || (path.size() > point.size() && path.compare(0, point.size(), point) == 0 && path[point.size()] == '/');
        if (!holds || point.size() < bestLength) continue;
        bestLength = point.size();
        std::string inside = point == "/" ? path : path.substr(point.size());
        std::string rootPath = unescape(root);
        if (rootPath == "/") rootPath.clear();
        std::string place = rootPath + inside;
        if (place.empty()) place = "/";
        best = std::make_pair(std::string(device), std::move(place));
    }
    std::free(line);
    std::fclose(info);
    return best;
}

} // namespace

bool LiesWithinByMount(const std::string& path, const std::string& outer)
{
    const auto inner = driveMap().toLinux(path);
    const auto outerLinux = driveMap().toLinux(outer);
    if (!inner || !outerLinux) return false;
    const auto a = PlaceInFileSystem(*inner);
    const auto b = PlaceInFileSystem(*outerLinux);
    if (!a || !b || a->first != b->first) return false;
    const std::string& within = a->second;
    const std::string& top = b->second;
    if (top == "/") return true;
    return within == top
        || (within.size() > top.size() && within.compare(0, top.size(), top) == 0 && within[top.size()] == '/');
}

} // namespace zelo
