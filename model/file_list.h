// The file pane's reading: the files of one directory through a wildcard mask and a file type state,
// sorted as the pane shows them. The Qt file list (FileBx1, FileBx2) fills itself from this.
#pragma once

#include <string>
#include <vector>

namespace zelo {

// Which files the pane lists, chosen by the two "Hidden" check boxes.
enum class FileTypeState {
    OrdinaryOnly, // neither Hidden nor System
    All, // every file
    HiddenOrSystemOnly, // Hidden or System or both
};

// The names (exact bytes, no directory) of the files of directory that match one of the
// ";"-separated patterns of mask ("*" and "?"; an empty mask is "*.*") and the state. Directories
// never appear; a name matched by two patterns appears once. Sorted without regard to case.
// An unreadable directory gives an empty list.
std::vector<std::string> ReadFileList(const std::string& directory, const std::string& mask, FileTypeState state);

// The patterns of a mask: split at ";", blanks trimmed, empty ones dropped; "*.*" when none is left.
std::vector<std::string> SplitMask(const std::string& mask);

// directory and name joined by one separator (none added when directory ends with "\").
std::string JoinPath(const std::string& directory, const std::string& name);

} // namespace zelo
