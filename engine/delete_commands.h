// The work of the deletion and directory-creation commands of the main window. The window's handlers
// gather the selection and the options and call these; refreshPanes (when given) runs once the files
// are gone and before the report, so the user reads the report over panes that are already current.
// The deletions run beside the window (RunBesideWindow), which keeps repainting; none can be stopped.
#pragma once

#include "engine/options.h"
#include "engine/tree.h"

#include <functional>
#include <string>
#include <vector>

namespace zelo {

// Delete1Click: deletes the selected items of the file pane (items[i] with selected[i] set) from
// dirWithSep, with the busy cursor and, for two or more selected files, the progress window.
// Each failure is reported without a name; when nothing failed the report
// "選択された　N　ファイルを削除しました" follows. Cannot be stopped. Returns the number deleted.
int DeleteSelectedFiles(
    const Selection& selection, const CommandOptions& options, const std::function<void()>& refreshPanes = {});

// N1Click: asks "デイレクトリ－を削除します" (注意, Yes/No); on No returns 0 and does nothing.
// When the selection is the current directory (separators aside) only its contents are deleted,
// otherwise the selected directory goes with everything below it, with the progress window (its bar
// shows only that the work goes on, its label the folder). Reports the counts on success; after
// failures, how many entries could not be deleted. Returns the DeleteTree result (1 or -1), or 0 for No.
// refreshPanes runs after a deletion whatever its result, not after No.
// deleted (when given) receives what the deletion did, for the handler's counters.
int DeleteDirectoryCommand(const std::string& currentWithSep, const std::string& selectedWithSep,
    const CommandOptions& options, const std::function<void()>& refreshPanes = {}, DeleteResult* deleted = nullptr);

// bak1Click: deletes every *.BAK and *.VIX file (any case) below selectedWithSep, hidden ones and
// subdirectories included, with the progress window, and reports how many were deleted and how many
// could not be.
void DeleteBackupFiles(
    const std::string& selectedWithSep, const CommandOptions& options, const std::function<void()>& refreshPanes = {});

// MKDIR1Click's creation step: creates the directory (only the last component);
// on failure ReportFileError("") in the overwrite context. Returns success.
bool MakeDirectory(const std::string& path);

} // namespace zelo
