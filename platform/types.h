// Basic types shared by every layer: attribute bits, file times, search records.
#pragma once

#include <cstdint>
#include <string>

namespace zelo {

// Attribute word as the directory search reports it.
enum : uint32_t {
    kAttrReadOnly = 0x01,
    kAttrHidden = 0x02,
    kAttrSystem = 0x04,
    kAttrVolumeLabel = 0x08,
    kAttrDirectory = 0x10,
    kAttrArchive = 0x20,
    kAttrNormal = 0x80,
    kAttrReparsePoint = 0x400, // a symbolic link
};
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
// Search mask that lets every kind of entry through (read-only, hidden, system, volume, directory, archive).
inline constexpr uint32_t kAttrMaskAll = 63;

// 100-ns intervals since 1601-01-01 UTC, as the system keeps file times.
struct FileTime {
    uint64_t value = 0;
    friend bool operator==(const FileTime&, const FileTime&) = default;
};

// Calendar fields of a time.
struct SystemTime {
    uint16_t year = 0;
    uint16_t month = 0;
    uint16_t dayOfWeek = 0;
    uint16_t day = 0;
    uint16_t hour = 0;
    uint16_t minute = 0;
    uint16_t second = 0;
    uint16_t milliseconds = 0;
};

// One entry of a directory search.
struct FindData {
    uint32_t attributes = 0;
    FileTime creationTime; // 0 when the file system keeps none
    FileTime lastAccessTime;
    FileTime lastWriteTime;
    uint32_t sizeHigh = 0;
    uint32_t sizeLow = 0;
    std::string name; // exact name bytes, no directory
    // A directory on which another file system is mounted (set by a tree walk's full listing only):
    // it belongs to another drive or to none, and a walk does not go into it.
    bool mountPoint = false;
    // The entry's inode as the listing saw it (tree walks only; 0 when not known).
    uint64_t fileId = 0;
    // A FIFO, socket or device (tree walks only): never opened, never copied.
    bool special = false;
    uint64_t size() const { return (uint64_t(sizeHigh) << 32) | sizeLow; }
};

// Drive types, numbered as the drive-type query reports them.
enum : uint32_t {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdrom = 5,
    kDriveRamdisk = 6,
};

} // namespace zelo
