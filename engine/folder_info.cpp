// Folder information, directory attributes and the volume label.
#include "engine/folder_info.h"

#include "engine/file_copy.h"
#include "engine/messages.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/types.h"

namespace zelo {

namespace {

constexpr uint32_t kTickableBits = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// Access denied here is a permission of the folder or drive, never a ReadOnly file being overwritten.
void Report(const std::string& name)
{
    ReportFileError(name, kContextAccess);
}

} // namespace

std::optional<DiskFigures> ReadDiskFigures(const std::string& path)
{
    uint64_t freeToCaller = 0;
    uint64_t totalBytes = 0;
    uint64_t totalFree = 0;
    if (!GetDiskFreeSpaceEx(path, freeToCaller, totalBytes, totalFree)) {
        Report(path.empty() ? fs().GetCurrentDirectory() : path);
        return std::nullopt;
    }
    DiskFigures figures;
    figures.total = static_cast<float>(totalBytes);
    figures.free = static_cast<float>(totalFree);
    figures.used = figures.total - figures.free;
    return figures;
}

std::optional<uint32_t> DirectoryAttributes(const std::string& path)
{
    // A drive root ("C:\") or a path ending in a separator is no entry of a directory: the directory
    // itself is asked, so the boxes show what it has.
    if (!path.empty() && path.back() == '\\') {
        const uint32_t attributes = fs().GetAttributes(path);
        if (attributes == kInvalidAttributes || !(attributes & kAttrDirectory)) return std::nullopt;
        return attributes;
    }
    FindData data;
    if (!FindFileEntry(path, data)) return std::nullopt;
    return data.attributes;
}

bool ChangeDirectoryAttributes(const std::string& path, uint32_t ticked, const std::function<void()>& refreshPanes)
{
    const bool changed = fs().SetAttributes(path, kAttrDirectory | (ticked & kTickableBits));
    if (changed)
        ShowPlainMessage("属性を変更しました");
    else
        Report(path);
    if (refreshPanes) refreshPanes();
    return changed;
}

bool ChangeVolumeLabel(const std::string& selectPath, const std::string& label)
{
    const std::string root = selectPath.substr(0, 3);
    if (SetVolumeLabel(root, label)) return true;
    Report(root);
    return false;
}

} // namespace zelo
