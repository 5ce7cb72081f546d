// Shell shortcuts: the user's desktop folder and link files, written as symbolic links.
#pragma once

#include <string>

namespace zelo {

// The user's desktop folder (the XDG desktop directory, as `xdg-user-dir DESKTOP` reads it) as a
// drive path without a trailing separator. False (last error 3) when no drive holds it.
bool GetDesktopFolder(std::string& drivePath);
// The same folder as a Linux path, for telling the user where it is when no drive holds it.
std::string DesktopFolderLinuxPath();

// Writes the link file linkPath (a drive path) as a symbolic link to the absolute Linux path of
// target. An existing symbolic link of that name is replaced in one step; any other entry of that
// name is kept and the call fails with 183. False with the last error set.
bool SaveShellLink(const std::string& target, const std::string& linkPath);

} // namespace zelo
