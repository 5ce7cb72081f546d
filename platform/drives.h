// Drive letters over the Linux tree: the drive map, drive types, volumes and free space.
#pragma once

#include "platform/types.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zelo {

struct Drive {
    char letter = 'C'; // 'A' to 'Z'
    std::string directory; // Linux directory the drive root stands for
    uint32_t type = kDriveFixed;
    std::optional<std::string> label; // a label given by ZELO_DRIVES
    std::string unc; // universal name of a remote drive ("\\host\share")
};

class DriveMap {
public:
    // From ZELO_DRIVES when it is set, else from the mount table.
    static DriveMap load();
    // Parses the ZELO_DRIVES syntax: "C=/dir;D=/dir,removable;E=/dir,cdrom,label=X;Z=/dir,remote,unc=\\h\s".
    static DriveMap parse(const std::string& spec);
    // From a mount table in /proc/self/mounts format.
    static DriveMap fromMountTable(const std::string& mounts);

    const std::vector<Drive>& drives() const { return m_drives; }
    const Drive* find(char letter) const;
    Drive* find(char letter);
    void add(Drive drive); // replaces a drive of the same letter, keeps letter order

    // "C:\a\b" -> "/root-of-C/a/b"; nullopt for a path without a known drive.
    std::optional<std::string> toLinux(const std::string& drivePath) const;
    // Longest-matching drive directory; nullopt when no drive holds the path.
    std::optional<std::string> fromLinux(const std::string& linuxPath) const;

private:
    std::vector<Drive> m_drives;
};

// The first entry of a ZELO_DRIVES text that does not parse (blanks around it trimmed), nullopt when
// every entry does. The programs refuse to start over such a map: a mistyped letter or a relative
// directory would otherwise act on other places than the ones meant.
std::optional<std::string> MalformedDriveEntry(const std::string& spec);
// The same for the ZELO_DRIVES of the environment (nullopt when it is not set).
std::optional<std::string> MalformedDriveEntryInEnvironment();

// The process-wide drive map, loaded on first use.
DriveMap& driveMap();
// Replaces the map (a test's own, or DriveMap::load() after ZELO_DRIVES changed).
void setDriveMap(DriveMap map);

// Bit 0 is A.
uint32_t GetLogicalDrives();
// root: "C:\" (only the letter is read).
uint32_t GetDriveType(const std::string& root);
// Label and file system name; false (last error set) for a drive without medium.
bool GetVolumeInformation(const std::string& root, std::string& label, std::string& fileSystemName);
bool SetVolumeLabel(const std::string& root, const std::string& label);
// Bytes free for the caller, size, bytes free in all. Bounded wait on remote drives.
bool GetDiskFreeSpaceEx(const std::string& path, uint64_t& freeToCaller, uint64_t& totalBytes, uint64_t& totalFree);
// Whether the directory lies on a remote drive or on a file system that answers each call over a round
// trip (a network file system, or a FUSE mount such as a share reached through GVfs).
bool OnNetworkFileSystem(const std::string& path);
// Universal name of a remote drive root ("\\host\share"); false when it has none.
bool GetUniversalName(const std::string& root, std::string& universalName);

// How finely a file system keeps write times, as far as the newer-only rule is concerned: to the second
// (most, SMB shares, exFAT's 10 ms steps included), or FAT's 2-second steps in local time.
enum class WriteTimeStep { Second, FatTwoSeconds };
// The step of the file system that holds path (a drive path); Second where it cannot be told.
WriteTimeStep GetWriteTimeStep(const std::string& path);
// Whether the file system (or, for ext4, the folder) that holds path takes names that differ only in case
// for one: FAT, exFAT, SMB shares (CIFS or GVfs), folders with the casefold attribute. Told by its type;
// a listed name looked up in another case tells it better, where a folder has one.
bool FoldsNameCaseByType(const std::string& path);
// Whether the directory path lies at or below the directory outer on the same file system, seen through
// what each is mounted from: a bind mount of a folder of outer elsewhere is still inside it.
bool LiesWithinByMount(const std::string& path, const std::string& outer);

// Drive path of the running program file ("C:\usr\bin\zelo32").
std::string GetModuleFileName();
// Drive root that stands for the system directory when the program runs from a network path.
std::string GetWindowsDirectory();

} // namespace zelo
