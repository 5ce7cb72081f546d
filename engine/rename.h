// The renaming commands' work: one file or directory through the input dialog, a batch of files
// (base name and serial number, or one common extension), and upper/lower case of names. The
// window handlers gather the selection and the dialog's texts and call these; every rename is one
// move that never replaces an existing name.
#pragma once

#include "engine/options.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zelo {

inline constexpr int kErrorContextRename = 5;

// The serial number of a batch: the start text's width picks the padding ("1" counts 1..9, 10..99,
// 100..; "01" counts 01..99, 100..; any other width pads to three digits). Never cut.
std::string FormatSerialNumber(int width, int64_t n);

// Sets last access and last write of the entry to now (creation time left alone). Failures, such as
// a ReadOnly file, are ignored; nothing is created and a symbolic link's target is not touched.
void StampFileTimesNow(const std::string& path);

// The case conversion's record. direction 0 = upper case, anything else lower case.
struct CaseChangeJob {
    std::string directoryPrefix; // current directory with separator (file case only)
    std::string oldPath;
    std::string newPath; // set by ConvertNameCase
    int loopIndex = 0; // position in the file pane's list
    int direction = 0;
};

// Maps the last component of job.oldPath to upper or lower case (whole characters) into
// job.newPath and moves the item there. 1, or -1 after ReportFileError (ErrorContext 5).
int ConvertNameCase(CaseChangeJob& job);

// N26Click (0) / N27Click (1): the case of every selected file of dirWithSep. Stops at the first
// failure (1 or -1); when all went, refreshFiles runs and "大文字に変更しました" /
// "小文字に変更しました" follows. With no file selected: "Ｆｉｌｅ　を選択して下さい", 0.
int ChangeFileNamesCase(int direction, const Selection& selection, const std::function<void()>& refreshFiles = {});

// oomozi1Click (0) / komozi1Click (1): the case of the selected directory (directory pane item
// dirItemIndex, full path selectedPath without separator). Item 0 (the drive line) shows
// "Drive　は変更できません". On success renameSelected gets the new last component (the handler
// sets InputText and calls RenameSelected with it), then the message; returns that name.
std::optional<std::string> ChangeDirNameCase(int direction, int dirItemIndex, const std::string& selectedPath,
    const std::function<void(const std::string&)>& renameSelected = {});

// Rename1Click with fewer than two files, after TForm3 was confirmed: moves oldPath (the file at
// the file pane's item index) to inputText as typed. Empty text: "ファイル名を入力して下さい".
// On success refreshFiles runs, then old + "　を　" + new + "　に名前を変更しました".
bool RenameOneFile(
    const std::string& oldPath, const std::string& inputText, const std::function<void()>& refreshFiles = {});

// RENDIR1Click before TForm3: false (after "Drive　の名前は変更できません") for item 0, the drive line.
bool DirectoryRenameAllowed(int dirItemIndex);

// RENDIR1Click after TForm3 was confirmed: moves oldPath (SelectedPath without separator) to
// inputText. The same text refuses with "変更前と後のフオルダー名が同じです" (case counts).
// On success renameSelected gets the new last component, then the message; returns that name.
std::optional<std::string> RenameDirectory(const std::string& oldPath, const std::string& inputText,
    const std::function<void(const std::string&)>& renameSelected = {});

// What TRen's execute buttons hand over (InputMode 1 name mode, 2 extension mode).
enum class BatchRenameMode { Name = 1, Extension = 2 };
struct BatchRenameRequest {
    BatchRenameMode mode = BatchRenameMode::Name;
    std::string startText; // RenStartText
    std::string baseName; // RenBaseName
    std::string extText; // RenExtText
};

struct BatchRenameResult {
    bool completed = false; // every selected file renamed
    int renamed = 0;
    std::string startText; // RenStartText afterwards: the last serial written, else as given
};

// A batch's new name stays a name of its folder: not empty, not "." or "..", no "/" or "\".
bool IsNameWithinFolder(const std::string& name);

// Rename1Click with two or more files, after TRen's execute: renames the selected items of
// dirWithSep in list order. A start text that is not an integer ends it before any file with
// "'TEXT' は整数ではありません", a new name that would leave the folder (IsNameWithinFolder) with
// "'NAME' はファイル名に使えません"; the first failed move ends it (ReportFileError, ErrorContext 5),
// earlier files keeping their new names. Each renamed file gets its times stamped; when all went,
// refreshFiles runs and "全て名前を変更しました" follows.
BatchRenameResult BatchRename(
    const Selection& selection, const BatchRenameRequest& request, const std::function<void()>& refreshFiles = {});

} // namespace zelo
