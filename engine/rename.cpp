// Renaming and case conversion of files and directories.
#include "engine/rename.h"

#include "engine/messages.h"
#include "platform/drive_path.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/time.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>

namespace zelo {

namespace {

constexpr const char* kRenamedSeparator = "　を　";
constexpr const char* kRenamedSuffix = "　に名前を変更しました";
constexpr const char* kSelectFile = "Ｆｉｌｅ　を選択して下さい";

bool Move(const std::string& from, const std::string& to)
{
    if (fs().MoveFile(from, to)) return true;
    ReportFileError("", kErrorContextRename);
    return false;
}

std::optional<int64_t> ParseInteger(const std::string& text)
{
    int32_t value = 0;
    const char* first = text.data();
    const char* last = first + text.size();
    if (first != last && *first == '+') ++first;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || first == last) return std::nullopt;
    return value;
}

const char* CaseMessage(int direction)
{
    return direction == 0 ? "大文字に変更しました" : "小文字に変更しました";
}

} // namespace

std::string FormatSerialNumber(int width, int64_t n)
{
    int digits = 3;
    if (width == 1) digits = n < 10 ? 1 : (n < 100 ? 2 : 3);
    if (width == 2) digits = n < 100 ? 2 : 3;
    char text[32];
    std::snprintf(text, sizeof text, "%0*" PRId64, digits, n);
    return text;
}

void StampFileTimesNow(const std::string& path)
{
    // A ReadOnly file keeps its times, as a file that cannot be opened for writing does.
    const uint32_t attributes = fs().GetAttributes(path);
    if (attributes == kInvalidAttributes || (attributes & kAttrReadOnly)) return;
    FileTime local;
    FileTime now;
    if (!SystemTimeToFileTime(GetLocalTime(), local) || !LocalFileTimeToFileTime(local, now)) return;
    fs().SetFileTimes(path, nullptr, &now, &now);
}

int ConvertNameCase(CaseChangeJob& job)
{
    // Only the last component: on a case-sensitive file system the directory part must still name
    // the existing directory.
    const auto cut = job.oldPath.find_last_of('\\');
    const size_t nameStart = cut == std::string::npos ? 0 : cut + 1;
    const std::string name = job.oldPath.substr(nameStart);
    job.newPath = job.oldPath.substr(0, nameStart) + (job.direction == 0 ? ToUpperText(name) : ToLowerText(name));
    return Move(job.oldPath, job.newPath) ? 1 : -1;
}

int ChangeFileNamesCase(int direction, const Selection& selection, const std::function<void()>& refreshFiles)
{
    // Nothing selected: nothing was changed, and the user is told to select instead of told of success.
    if (selection.names.empty()) {
        AppMessageBox(kSelectFile, kCaptionWarning, kMbOk);
        return 0;
    }
    CaseChangeJob job;
    job.direction = direction;
    job.directoryPrefix = selection.directory;
    for (size_t k = 0; k < selection.names.size(); ++k) {
        job.loopIndex = int(k < selection.positions.size() ? selection.positions[k] : k);
        job.oldPath = job.directoryPrefix + selection.names[k];
        if (ConvertNameCase(job) == -1) return -1;
    }
    if (refreshFiles) refreshFiles();
    ShowPlainMessage(CaseMessage(direction));
    return 1;
}

std::optional<std::string> ChangeDirNameCase(int direction, int dirItemIndex, const std::string& selectedPath,
    const std::function<void(const std::string&)>& renameSelected)
{
    if (dirItemIndex == 0) {
        ShowPlainMessage("Drive　は変更できません");
        return std::nullopt;
    }
    CaseChangeJob job;
    job.direction = direction;
    job.oldPath = selectedPath;
    if (ConvertNameCase(job) == -1) return std::nullopt;
    const std::string name = LastComponent(job.newPath);
    if (renameSelected) renameSelected(name);
    ShowPlainMessage(CaseMessage(direction));
    return name;
}

bool RenameOneFile(const std::string& oldPath, const std::string& inputText, const std::function<void()>& refreshFiles)
{
    if (inputText.empty()) {
        ShowPlainMessage("ファイル名を入力して下さい");
        return false;
    }
    if (!Move(oldPath, inputText)) return false;
    if (refreshFiles) refreshFiles();
    ShowPlainMessage(oldPath + kRenamedSeparator + inputText + kRenamedSuffix);
    return true;
}

bool DirectoryRenameAllowed(int dirItemIndex)
{
    if (dirItemIndex != 0) return true;
    ShowPlainMessage("Drive　の名前は変更できません");
    return false;
}

std::optional<std::string> RenameDirectory(const std::string& oldPath, const std::string& inputText,
    const std::function<void(const std::string&)>& renameSelected)
{
    if (oldPath == inputText) {
        ShowPlainMessage("変更前と後のフオルダー名が同じです");
        return std::nullopt;
    }
    if (!Move(oldPath, inputText)) return std::nullopt;
    const std::string name = LastComponent(inputText);
    if (renameSelected) renameSelected(name);
    ShowPlainMessage(oldPath + kRenamedSeparator + inputText + kRenamedSuffix);
    return name;
}

bool IsNameWithinFolder(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find_first_of("/\\") == std::string::npos;
}

BatchRenameResult BatchRename(
    const Selection& selection, const BatchRenameRequest& request, const std::function<void()>& refreshFiles)
{
    BatchRenameResult result;
    result.startText = request.startText;
    const std::optional<int64_t> start = ParseInteger(request.startText);
    if (!start) {
        ShowPlainMessage("'" + request.startText + "' は整数ではありません");
        return result;
    }
    const int width = int(request.startText.size());
    int64_t counter = *start;

    // Every new name is made and checked before the first move, so a refused one changes nothing.
    std::vector<std::string> newNames;
    std::vector<std::string> serials;
    for (const std::string& name : selection.names) {
        if (request.mode == BatchRenameMode::Name) {
            const auto dot = name.find_last_of('.');
            const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
            serials.push_back(FormatSerialNumber(width, counter++));
            newNames.push_back(request.baseName + serials.back() + extension);
        } else {
            const auto dot = name.find('.');
            newNames.push_back((dot == std::string::npos ? name : name.substr(0, dot + 1)) + request.extText);
        }
        if (!IsNameWithinFolder(newNames.back())) {
            ShowPlainMessage("'" + newNames.back() + "' はファイル名に使えません");
            return result;
        }
    }

    const std::string& dirWithSep = selection.directory;
    for (size_t k = 0; k < newNames.size(); ++k) {
        if (!serials.empty()) result.startText = serials[k];
        if (!Move(dirWithSep + selection.names[k], dirWithSep + newNames[k])) return result;
        ++result.renamed;
        StampFileTimesNow(dirWithSep + newNames[k]);
    }
    result.completed = true;
    if (refreshFiles) refreshFiles();
    ShowPlainMessage("全て名前を変更しました");
    return result;
}

} // namespace zelo
