// The desktop's trash, as every freedesktop desktop keeps it: a trashed file moves into the trash of
// its own file system and a .trashinfo record beside it names its original path and deletion time, so
// any desktop's trash can restore it.
#pragma once

#include <optional>
#include <string>

namespace zelo {

class Trash {
public:
    virtual ~Trash() = default;
    // Moves a file, link or directory tree (a Linux path; a link is moved, never followed) into the
    // trash of its mount, never in place of anything there: a name taken, or too long for its record,
    // is stored under a shorter or numbered one. False with the last error set when nothing was moved.
    virtual bool MoveToTrash(const std::string& linuxPath) = 0;
};

// The trash every layer uses.
Trash& trash();

// The trash directory (holding files/ and info/) that linuxPath goes into: $XDG_DATA_HOME/Trash for a
// file on the home trash's mount, else $topdir/.Trash/$UID (when the administrator made a safe sticky
// .Trash) or $topdir/.Trash-$UID at the top of the file's mount (a bind mount of the home's file system
// too). Creates what is missing;
// nullopt with the last error set when there is none to use.
std::optional<std::string> TrashDirectoryFor(const std::string& linuxPath);

// The Path= value of a .trashinfo record: percent-encoded bytes, '/' and unreserved characters kept.
std::string TrashInfoPath(const std::string& path);

} // namespace zelo
