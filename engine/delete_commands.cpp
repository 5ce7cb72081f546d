// The work of the main window's deletion commands and of the directory creation.
#include "engine/delete_commands.h"

#include "engine/messages.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/ui_services.h"

#include <cstdio>

namespace zelo {

namespace {

bool IsBackupExtension(const std::string& name)
{
    const auto point = name.find_last_of('.');
    if (point == std::string::npos) return false;
    const std::string extension = ToUpperText(name.substr(point));
    return extension == ".BAK" || extension == ".VIX";
}

} // namespace

int DeleteSelectedFiles(
    const Selection& selection, const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    UiServices& services = ui();
    ProgressWindow& progress = services.Progress();
    const std::string& dirWithSep = selection.directory;
    const size_t selectedCount = selection.names.size();
    // The bar steps over the pane's whole list, as the selected items stand in it.
    const size_t n = std::max(selection.listed, selectedCount);

    services.SetBusyCursor(true);
    const bool showProgress = selectedCount >= 2;
    if (showProgress) {
        progress.Show();
        progress.SetMax(ProgressBar::Overall, 100);
        progress.SetPosition(ProgressBar::Overall, 0);
    }

    int deleted = 0;
    int errors = 0;
    // Deleted through their directory, with no change of mode first: a file with another hard link keeps
    // its ReadOnly and attributes there.
    auto dir = fs().OpenTreeDirectory(WithOneSeparator(dirWithSep), ListDetail::KindOnly);
    const uint32_t openError = GetLastError();
    for (size_t k = 0; k < selectedCount; ++k) {
        const size_t i = k < selection.positions.size() ? selection.positions[k] : k;
        if (showProgress) progress.SetPosition(ProgressBar::Overall, static_cast<int>(i * 100 / n));
        FindData entry;
        entry.name = selection.names[k];
        entry.attributes = kAttrArchive;
        if (!dir) SetLastError(openError);
        if (dir && dir->DeleteEntry(entry, options.clearReadOnly)) {
            ++deleted;
        } else {
            ++errors;
            ReportFileError("", kContextDeleteSelected);
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
    const CommandOptions& options, const std::function<void()>& refreshPanes, DeleteResult* deleted)
{
    if (AppMessageBox("デイレクトリ－を削除します", kCaptionCaution, kMbYesNo) == kIdNo) return 0;
    ui().SetBusyCursor(true);
    // A selection that differs from the current directory by its separators alone (the drive-root
    // entry, or nothing selected at the top level) stands for the current directory: contents only.
    const std::string current = WithOneSeparator(currentWithSep);
    const std::string selected = WithOneSeparator(selectedWithSep);
    const int keepRoot = selected == current ? kKeepRoot : 0;
    const DeleteResult result = DeleteTree(selected, keepRoot, options);
    if (deleted) *deleted = result;
    if (refreshPanes) refreshPanes();
    ui().SetBusyCursor(false);
    if (result.result == 1) {
        const std::string text
            = selected + "　以下" + (keepRoot != 0 ? "のＤｉｒ，Ｆｉｌｅを削除しました" : "を削除しました");
        const std::string report
            = text + " (DIR " + std::to_string(result.dirs) + "  File " + std::to_string(result.files) + " )";
        AppMessageBox(report, kCaptionReport, kMbOk);
    }
    return result.result;
}

namespace {

// *.BAK and *.VIX files of a tree, deleted where they are found.
class BackupFilesVisitor final : public TreeVisitor {
public:
    explicit BackupFilesVisitor(const CommandOptions& options)
        : m_clearReadOnly(options.clearReadOnly)
    {
    }

    WalkStep Entry(const WalkPlace& at, const FindData& entry) override
    {
        if ((entry.attributes & kAttrDirectory) && !(entry.attributes & kAttrReparsePoint))
            return entry.mountPoint ? WalkStep::Continue : WalkStep::Descend;
        if (!IsBackupExtension(entry.name)) return WalkStep::Continue;
        if (at.dir.DeleteEntry(entry, m_clearReadOnly)) {
            ++deleted;
        } else {
            ReportFileError("", kContextDeleteBackup);
            ++failed;
        }
        return WalkStep::Continue;
    }

    int deleted = 0;
    int failed = 0;

private:
    bool m_clearReadOnly;
};

} // namespace

void DeleteBackupFiles(
    const std::string& selectedWithSep, const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    BackupFilesVisitor visitor(options);
    const std::string root = WithOneSeparator(selectedWithSep);
    // A directory that cannot be listed is passed over: nothing of it is handled.
    if (auto dir = fs().OpenTreeDirectory(root, ListDetail::KindOnly)) WalkTree(*dir, root, visitor);
    const int deleted = visitor.deleted;
    const int failed = visitor.failed;

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
    ReportFileError("", kContextOverwrite);
    return false;
}

} // namespace zelo
