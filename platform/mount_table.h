// Reading the mount table: entries, and which mounts become drive letters (internal to platform/).
#pragma once

#include "platform/drives.h"

#include <functional>
#include <string>
#include <vector>

namespace zelo {

// One line of /proc/self/mounts, octal escapes ("\040") decoded.
struct MountEntry {
    std::string source;
    std::string directory;
    std::string fsType;
    std::string options;
};

// The entries of a mount table's text, read with getmntent_r.
std::vector<MountEntry> parseMountTable(const std::string& mounts);

// True when the block device behind a mount source is removable.
using RemovableProbe = std::function<bool(const std::string& source)>;
// Reads /sys/block/<disk>/removable for a /dev source (a partition asks its disk).
bool isRemovableDevice(const std::string& source);

// The drive map of a mount table with a replaceable removable-device probe.
DriveMap driveMapFromMounts(const std::string& mounts, const RemovableProbe& isRemovable);

// Drive type of one mount, or nullopt when the mount gets no letter.
std::optional<uint32_t> classifyMount(const MountEntry& entry, const RemovableProbe& isRemovable);

// The mount entry whose directory holds a Linux path (longest match), from /proc/self/mounts.
std::optional<MountEntry> mountHolding(const std::string& linuxPath);

// "\\host\share" from a cifs source "//host/share", or from a GVfs directory name
// "smb-share:server=host,share=share"; empty when neither applies.
std::string uncFromCifsSource(const std::string& source);
std::string uncFromGvfsName(const std::string& directoryName);

// What a GVfs directory name "smb-share:port=N,server=H,share=S,user=U,domain=D" says of its share;
// nullopt for a name that is not an SMB share's. Values are percent-decoded ("my%20share" is "my share").
struct GvfsShare {
    std::string server;
    std::string port; // empty: the default
    std::string share;
    std::string user;
    std::string domain;
};
std::optional<GvfsShare> GvfsShareOf(const std::string& directoryName);

} // namespace zelo
