// The work of the file information dialog (TForm4): what it shows for the selected files of the file
// pane, and the change of their attributes.
#pragma once

#include "engine/options.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelo {

// A size as the information windows show it: FormatSizeUnit + " ( " + FormatByteCount + " )".
std::string SizeText(float value);

// A file time as local "MM/DD/YYYY    hh:mm:ss" (seconds padded by a space), or the date alone;
// empty for a zero time (a file system that keeps no creation time).
std::string FormatInfoTime(uint64_t fileTime, bool withTime);

// What TForm4 shows. Fields that stay unset keep the dialog's earlier values.
struct FileInfo {
    int selectedCount = 0;
    std::string target; // Label10: "１ファイル" or "全部（選択）"
    std::optional<std::string> title; // Label1: the path of the one file, or the count line of several
    std::string created; // Label9 (empty when not known)
    std::string accessed; // Label7, date only
    std::string written; // Label3
    std::optional<uint32_t> attributes; // the one file's attribute word
    // Several files: the bits every found file has, and those any has (a bit in anySet but not in
    // allSet differs among them).
    uint32_t allSet = 0;
    uint32_t anySet = 0;
    uint64_t totalBytes = 0; // 64-bit: files of 4 GiB and more count in full
    std::string sizeText; // Label5
};

// Looks up the selected files in list order. A file that cannot be found adds nothing and, alone, shows
// no dates.
FileInfo GatherFileInfo(const Selection& selection);

// Sets the attribute word on every selected item; the bits in keep stay as each file has them (a box
// left in its third state). Each failure is reported with its path;
// refreshPanes (when given) runs next, and "変更しました" (報告) follows only when every change was
// made. Returns the number that failed.
int ApplyFileAttributes(
    const Selection& selection, uint32_t attributes, const std::function<void()>& refreshPanes = {}, uint32_t keep = 0);

} // namespace zelo
