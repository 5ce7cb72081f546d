// File information: the dates, size and attributes of the selected files, and their change.
#include "engine/file_info.h"

#include "engine/file_copy.h"
#include "engine/formats.h"
#include "engine/messages.h"
#include "platform/filesystem.h"
#include "platform/time.h"
#include "platform/ui_services.h"

#include <cstdio>

namespace zelo {

std::string SizeText(float value)
{
    return FormatSizeUnit(value) + " ( " + FormatByteCount(value) + " )";
}

std::string FormatInfoTime(uint64_t fileTime, bool withTime)
{
    if (fileTime == 0) return {};
    FileTime local;
    SystemTime t;
    if (!FileTimeToLocalFileTime(FileTime { fileTime }, local) || !FileTimeToSystemTime(local, t)) return {};
    char text[64];
    if (withTime)
        std::snprintf(
            text, sizeof text, "%.2d/%.2d/%.4d    %.2d:%.2d:%2d", t.month, t.day, t.year, t.hour, t.minute, t.second);
    else
        std::snprintf(text, sizeof text, "%.2d/%.2d/%.4d", t.month, t.day, t.year);
    return text;
}

FileInfo GatherFileInfo(const Selection& selection)
{
    FileInfo info;
    info.selectedCount = static_cast<int>(selection.names.size());
    const bool several = info.selectedCount >= 2;
    info.target = several ? "全部（選択）" : "１ファイル";
    int found = 0;

    for (const std::string& name : selection.names) {
        const std::string path = selection.directory + name;
        FindData data;
        if (!FindFileEntry(path, data)) continue; // the exact name: a "*" or "?" in it is no wildcard
        info.totalBytes += data.size();
        info.allSet = found++ == 0 ? data.attributes : info.allSet & data.attributes;
        info.anySet |= data.attributes;
        if (info.selectedCount != 1) continue;
        info.title = path;
        info.written = FormatInfoTime(data.lastWriteTime.value, true);
        info.accessed = FormatInfoTime(data.lastAccessTime.value, false);
        info.created = FormatInfoTime(data.creationTime.value, true);
        info.attributes = data.attributes;
    }
    info.sizeText = SizeText(static_cast<float>(info.totalBytes));
    if (several) info.title = "Ｆｉｌｅの合計　　" + std::to_string(info.selectedCount);
    return info;
}

int ApplyFileAttributes(
    const Selection& selection, uint32_t attributes, const std::function<void()>& refreshPanes, uint32_t keep)
{
    int failed = 0;
    for (const std::string& name : selection.names) {
        const std::string path = selection.directory + name;
        uint32_t word = attributes & ~keep;
        if (keep != 0) {
            FindData data;
            if (FindFileEntry(path, data)) word |= data.attributes & keep;
        }
        if (fs().SetAttributes(path, word)) continue;
        ++failed;
        ReportFileError(path, kContextOverwrite);
    }
    if (refreshPanes) refreshPanes();
    if (failed == 0) AppMessageBox("変更しました", kCaptionReport, kMbOk);
    return failed;
}

} // namespace zelo
