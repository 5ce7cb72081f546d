// SMB shares reached directly (the helpers of smb_client.h) rather than through their GVfs mount: the
// file system, the walks' directory handles and the open files of a share that GVfs shows as
// ".../gvfs/smb-share:server=H,share=S". fs() sends a path there when its share answers the direct
// client's login; everything else, and what the direct client does not do itself (searches, rewrites,
// the current directory), stays with the Linux file system over the GVfs mount.
#pragma once

#include "platform/filesystem.h"
#include "platform/smb_client.h"

#include <optional>
#include <string>

namespace zelo {

// A Linux path on a GVfs SMB mount: the share and the path inside it ("a/b", empty at the share's root).
struct SmbLocation {
    smb::ShareAddress share;
    std::string inside;
};
std::optional<SmbLocation> SmbLocationOf(const std::string& linuxPath);
// "smb://server:port/share/inside", each name percent-encoded.
std::string SmbUrl(const smb::ShareAddress& share, const std::string& inside);

// Whether a drive path goes to the direct client: on a GVfs SMB mount, the direct path not turned off
// (ZELO_SMB_DIRECT=0), and the share's login answered. Cheap for a path on no share.
bool UsesDirectSmb(const std::string& drivePath);

// The direct client's file system (for drive paths on a share UsesDirectSmb takes).
FileSystem& smbFileSystem();

// CopyFile where a side is on a share reached directly: the bytes pass through the program, the
// destination's new file takes the source's times and its name only when complete.
bool CopyFileAcross(const std::string& from, const std::string& to, bool failIfExists);

} // namespace zelo
