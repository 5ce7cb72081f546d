// The work of the main window's deletion commands and of the directory creation.
#include "engine/delete_commands.h"

#include "engine/messages.h"
#include "engine/tree.h"
#include "model/state.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/ui_services.h"

#include <cstdio>

namespace zelo {

namespace {

// Clears a file for deletion unless it is a symbolic link (changing it would change its target).
void ClearNamedFileForDelete(const std::string& path, const CommandOptions& options)
{
    if (!options.clearReadOnly) return;
    const uint32_t attributes = fs().GetAttributes(path);
    if (attributes == kInvalidAttributes || (attributes & kAttrReparsePoint)) return;
    ClearForDelete(path, false, options);
}

bool IsBackupExtension(const std::string& name)
{
    const auto point = name.find_last_of('.');
    if (point == std::string::npos) return false;
    const std::string extension = ToUpperText(name.substr(point));
    return extension == ".BAK" || extension == ".VIX";
}

} // namespace

int DeleteSelectedFiles(const std::string& dirWithSep, const std::vector<std::string>& items,
    const std::vector<bool>& selected, const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    UiServices& services = ui();
    ProgressWindow& progress = services.Progress();
    const size_t n = items.size();
    size_t selectedCount = 0;
    for (size_t i = 0; i < n && i < selected.size(); ++i)
        selectedCount += selected[i] ? 1 : 0;

    services.SetBusyCursor(true);
    const bool showProgress = selectedCount >= 2;
    if (showProgress) {
        progress.Show();
        progress.SetMax(ProgressBar::Overall, 100);
        progress.SetPosition(ProgressBar::Overall, 0);
    }

    int deleted = 0;
    int errors = 0;
    for (size_t i = 0; i < n; ++i) {
        if (showProgress) progress.SetPosition(ProgressBar::Overall, static_cast<int>(i * 100 / n));
        if (i >= selected.size() || !selected[i]) continue;
        const std::string path = dirWithSep + items[i];
        ClearNamedFileForDelete(path, options);
        if (fs().DeleteFile(path)) {
            ++deleted;
        } else {
            ++errors;
            Main.ErrorContext = 4;
            ReportFileError("");
        }
    }

    services.SetBusyCursor(false);
    progress.Close();
    progress.SetPosition(ProgressBar::Overall, 0);
    if (refreshPanes) refreshPanes();
    if (errors == 0)
        AppMessageBox("選択された　" + std::to_string(deleted) + "　ファイルを削除しました", kCaptionReport, kMbOk);
    return deleted;
}

int DeleteDirectoryCommand(const std::string& currentWithSep, const std::string& selectedWithSep,
    const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    if (AppMessageBox("デイレクトリ－を削除します", kCaptionCaution, kMbYesNo) == kIdNo) return 0;
    ui().SetBusyCursor(true);
    // A selection that differs from the current directory by its separators alone (the drive-root
    // entry, or nothing selected at the top level) stands for the current directory: contents only.
    const std::string current = WithOneSeparator(currentWithSep);
    const std::string selected = WithOneSeparator(selectedWithSep);
    const int keepRoot = selected == current ? 255 : 0;
    const int result = DeleteTree(selected, keepRoot, options);
    if (refreshPanes) refreshPanes();
    ui().SetBusyCursor(false);
    if (result == 1) {
        const std::string text
            = selected + "　以下" + (keepRoot != 0 ? "のＤｉｒ，Ｆｉｌｅを削除しました" : "を削除しました");
        const std::string report = text + " (DIR " + std::to_string(Main.DeletedDirCount) + "  File "
            + std::to_string(Main.DeletedFileCount) + " )";
        AppMessageBox(report, kCaptionReport, kMbOk);
    }
    return result;
}

void DeleteBackupFiles(
    const std::string& selectedWithSep, const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    DirStack& stack = dirStack();
    stack.ResetStack();
    int deleted = 0;
    int failed = 0;

    std::string cur = WithOneSeparator(selectedWithSep);
    for (;;) {
        FindData entry;
        if (auto search = fs().FindFirstInTree(cur, entry)) {
            do {
                const bool link = entry.attributes & kAttrReparsePoint;
                if ((entry.attributes & kAttrDirectory) && !link) {
                    // Another file system mounted inside the tree is not searched.
                    if (!entry.mountPoint) stack.PushDir(cur + entry.name + "\\");
                    continue;
                }
                if (!IsBackupExtension(entry.name)) continue;
                const std::string path = cur + entry.name;
                if (!link) ClearForDelete(path, false, options);
                if (fs().DeleteFile(path)) {
                    ++deleted;
                } else {
                    Main.ErrorContext = 2;
                    ReportFileError("");
                    ++failed;
                }
            } while (search->Next(entry));
        }
        if (stack.StackCount() == 0) break;
        cur = stack.PopDir();
    }

    if (refreshPanes) refreshPanes();
    char report[256];
    std::snprintf(report, sizeof report,
        "＊．ｂａｋ，*.ＶＩＸ を　%d 　File を削除しました\n\r\n\r%d  Ｆｉｌｅ が削除出来ませんでした", deleted,
        failed);
    AppMessageBox(report, kCaptionReport, kMbOk);
}

bool MakeDirectory(const std::string& path)
{
    if (fs().CreateDirectory(path)) return true;
    Main.ErrorContext = 0;
    ReportFileError("");
    return false;
}

} // namespace zelo
