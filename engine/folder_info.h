// The work of the folder information dialog (TForm5) and of the directory attribute and volume label
// dialog (TForm8). The tree figures come from CountTree (engine/tree.h).
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace zelo {

// The disk figures TForm5 shows, in single precision as they are displayed: used is total minus free
// computed in single precision.
struct DiskFigures {
    float total = 0.0f;
    float free = 0.0f; // all free bytes, not only those free for the caller
    float used = 0.0f;
};

// The figures of the disk that holds path ("" is the current directory). A failing query is reported
// (with path, or the current directory) and gives nullopt: no figures are better than false ones.
std::optional<DiskFigures> ReadDiskFigures(const std::string& path);

// The attribute word of a directory as the find-first enumeration reports it (a drive root such as
// "C:\", or a path ending in a separator, as the directory itself reports it); nullopt when the path
// names no directory.
std::optional<uint32_t> DirectoryAttributes(const std::string& path);

// Sets the directory's attributes to Directory plus the ticked ReadOnly, Hidden, System and Archive
// bits. On success "属性を変更しました" is shown; a failure is reported with the path instead.
// refreshPanes runs afterwards in either case. Returns success.
bool ChangeDirectoryAttributes(
    const std::string& path, uint32_t ticked, const std::function<void()>& refreshPanes = {});

// Sets the volume label of the drive whose root begins selectPath (its first three characters); an
// empty label removes it. A failure is reported. Returns success.
bool ChangeVolumeLabel(const std::string& selectPath, const std::string& label);

} // namespace zelo
