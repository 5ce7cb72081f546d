// The work of the main window's deletion commands and of the directory creation.
#include "engine/delete_commands.h"

#include "engine/beside_window.h"
#include "engine/messages.h"
#include "engine/tree.h"
#include "engine/tree_walk.h"
#include "platform/errors.h"
#include "platform/filesystem.h"
#include "platform/text.h"
#include "platform/ui_services.h"

#include <atomic>
#include <cstdio>
#include <optional>

namespace zelo {

namespace {

bool IsBackupExtension(const std::string& name)
{
    const auto point = name.find_last_of('.');
    if (point == std::string::npos) return false;
    const std::string extension = ToUpperText(name.substr(point));
    return extension == ".BAK" || extension == ".VIX";
}

// The progress window of a deletion that cannot be stopped, shown before the work starts (so a question
// answered just before is gone from the screen) and put back as the other commands expect it.
class UnstoppableProgress {
public:
    // bar: the overall bar's end; 0 shows a bar that only says the work goes on.
    explicit UnstoppableProgress(int bar)
        : m_progress(ui().Progress())
    {
        m_progress.SetStopVisible(false);
        m_progress.SetLabel("");
        m_progress.SetMax(ProgressBar::Overall, bar);
        m_progress.SetPosition(ProgressBar::Overall, 0);
        m_progress.Show();
    }
    ~UnstoppableProgress()
    {
        m_progress.Close();
        m_progress.SetMax(ProgressBar::Overall, 100);
        m_progress.SetPosition(ProgressBar::Overall, 0);
        m_progress.SetStopVisible(true);
    }
    UnstoppableProgress(const UnstoppableProgress&) = delete;
    UnstoppableProgress& operator=(const UnstoppableProgress&) = delete;

    // On the window's thread: the folder the deletion works in on the label.
    void Show(const DeleteProgress& deletion)
    {
        std::string folder = deletion.Folder();
        if (folder == m_folder) return;
        m_folder = std::move(folder);
        m_progress.SetLabel(m_folder);
    }

private:
    ProgressWindow& m_progress;
    std::string m_folder;
};

// The end of a directory deletion with failures: how many entries stayed, and what went.
std::string DeleteFailureReport(const std::string& selected, const DeleteResult& result)
{
    return selected + "　以下の　" + std::to_string(result.failures) + "　個が削除出来ませんでした (DIR "
        + std::to_string(result.dirs) + "  File " + std::to_string(result.files) + " を削除しました)";
}

} // namespace

int DeleteSelectedFiles(
    const Selection& selection, const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    UiServices& services = ui();
    const std::string& dirWithSep = selection.directory;
    const size_t selectedCount = selection.names.size();
    // The bar steps over the pane's whole list, as the selected items stand in it.
    const size_t n = std::max(selection.listed, selectedCount);

    services.SetBusyCursor(true);
    int deleted = 0;
    int errors = 0;
    {
        std::optional<UnstoppableProgress> shown;
        if (selectedCount >= 2) shown.emplace(100);
        std::atomic<int> percent { 0 };
        RunBesideWindow(
            [&] {
                // Deleted through their directory, with no change of mode first: a file with another hard
                // link keeps its ReadOnly and attributes there.
                auto dir = fs().OpenTreeDirectory(WithOneSeparator(dirWithSep), ListDetail::KindOnly);
                const uint32_t openError = GetLastError();
                for (size_t k = 0; k < selectedCount; ++k) {
                    const size_t i = k < selection.positions.size() ? selection.positions[k] : k;
                    percent.store(static_cast<int>(i * 100 / n), std::memory_order_relaxed);
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
            },
            [&] {
                if (shown) services.Progress().SetPosition(ProgressBar::Overall, percent.load());
            });
    }
    services.SetBusyCursor(false);
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
    DeleteResult result;
    {
        UnstoppableProgress shown(0);
        DeleteProgress progress;
        RunBesideWindow(
            [&] { result = DeleteTree(selected, keepRoot, options, &progress); }, [&] { shown.Show(progress); });
    }
    if (deleted) *deleted = result;
    if (refreshPanes) refreshPanes();
    ui().SetBusyCursor(false);
    if (result.result == 1) {
        const std::string text
            = selected + "　以下" + (keepRoot != 0 ? "のＤｉｒ，Ｆｉｌｅを削除しました" : "を削除しました");
        const std::string report
            = text + " (DIR " + std::to_string(result.dirs) + "  File " + std::to_string(result.files) + " )";
        AppMessageBox(report, kCaptionReport, kMbOk);
    } else if (result.failures > 0) {
        // Each failure was shown as it came; the end says how many, never that the tree went.
        AppMessageBox(DeleteFailureReport(selected, result), kCaptionReport, kMbOk);
    }
    return result.result;
}

namespace {

// *.BAK and *.VIX files of a tree, deleted where they are found.
class BackupFilesVisitor final : public TreeVisitor {
public:
    BackupFilesVisitor(const CommandOptions& options, DeleteProgress& progress)
        : m_clearReadOnly(options.clearReadOnly)
        , m_progress(progress)
    {
    }

    WalkStep Entry(const WalkPlace& at, const FindData& entry) override
    {
        if (at.path != m_folder) {
            m_folder = at.path;
            m_progress.Entered(m_folder);
        }
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

    // A folder that cannot be entered or read keeps whatever it holds: told with its path, and counted.
    WalkStep CannotEnter(const WalkPlace&, const std::string& path, const FindData&, ChildOpen status) override
    {
        if (status != ChildOpen::MountPoint) Unreadable(path);
        return WalkStep::Continue;
    }
    WalkStep CannotList(const std::string& dirPath) override
    {
        Unreadable(dirPath);
        return WalkStep::Continue;
    }
    void Unreadable(const std::string& path)
    {
        ReportFileError(WithoutSeparator(path), kContextAccess);
        ++unreadable;
    }

    int deleted = 0;
    int failed = 0;
    int unreadable = 0;

private:
    bool m_clearReadOnly;
    DeleteProgress& m_progress;
    std::string m_folder;
};

} // namespace

void DeleteBackupFiles(
    const std::string& selectedWithSep, const CommandOptions& options, const std::function<void()>& refreshPanes)
{
    DeleteProgress progress;
    BackupFilesVisitor visitor(options, progress);
    const std::string root = WithOneSeparator(selectedWithSep);
    {
        UnstoppableProgress shown(0);
        RunBesideWindow(
            [&] {
                if (auto dir = fs().OpenTreeDirectory(root, ListDetail::KindOnly))
                    WalkTree(*dir, root, visitor);
                else
                    visitor.Unreadable(root);
            },
            [&] { shown.Show(progress); });
    }
    const int deleted = visitor.deleted;
    const int failed = visitor.failed;

    if (refreshPanes) refreshPanes();
    char report[256];
    std::snprintf(report, sizeof report,
        "＊．ｂａｋ，*.ＶＩＸ を　%d 　File を削除しました\n\r\n\r%d  Ｆｉｌｅ が削除出来ませんでした", deleted,
        failed);
    // Folders that could not be read were not looked through: the counts do not cover them.
    const std::string unread = visitor.unreadable == 0
        ? std::string()
        : "\n\r\n\r" + std::to_string(visitor.unreadable) + "  個のフォルダーが読めませんでした";
    AppMessageBox(report + unread, kCaptionReport, kMbOk);
}

bool MakeDirectory(const std::string& path)
{
    if (fs().CreateDirectory(path)) return true;
    ReportFileError("", kContextOverwrite);
    return false;
}

} // namespace zelo
