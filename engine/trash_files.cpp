// Moving files and directory trees to the desktop's trash through the platform's trash.
#include "engine/trash_files.h"

#include "engine/beside_window.h"
#include "engine/messages.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/trash.h"
#include "platform/ui_services.h"

#include <algorithm>
#include <atomic>

namespace zelo {

namespace {

// One drive path to the trash; a failure is reported with its path.
bool TrashOne(const std::string& path)
{
    const auto linuxPath = driveMap().toLinux(path);
    if (!linuxPath) SetLastError(err::PathNotFound);
    if (linuxPath && trash().MoveToTrash(*linuxPath)) return true;
    const KeepLastError failure;
    // A drive whose trash cannot be made (a mount the user may not write at its top) says so, rather
    // than read as a refused deletion.
    const bool gone = failure.code() == err::FileNotFound || failure.code() == err::PathNotFound;
    if (linuxPath && !gone && !TrashDirectoryFor(*linuxPath)) {
        ShowPlainMessage(path + "  :   このドライブにはごみ箱を作れません（Shift+Delete で削除できます）");
        return false;
    }
    SetLastError(failure.code());
    ReportFileError(path, kContextDeleteSelected);
    return false;
}

// The report of a run stopped after moved of the selected items went to the trash: the rest stayed.
std::string TrashStoppedReport(int moved, int selected)
{
    return "中止しました\n\r\n\r選択された　" + std::to_string(selected) + "　ファイルのうち　" + std::to_string(moved)
        + "　ファイルをごみ箱へ移動しました";
}

} // namespace

int TrashSelectedFiles(const Selection& selection, std::stop_token stop, const std::function<void()>& refreshPanes)
{
    UiServices& services = ui();
    ProgressWindow& progress = services.Progress();
    const size_t count = selection.names.size();
    const bool showProgress = count >= 2;
    services.SetBusyCursor(true);
    if (showProgress) {
        progress.SetStopVisible(true);
        progress.SetMax(ProgressBar::Overall, static_cast<int>(count));
        progress.SetPosition(ProgressBar::Overall, 0);
        progress.SetLabel("");
        progress.Show();
    }
    int moved = 0;
    int errors = 0;
    std::atomic<size_t> next { 0 }; // the item being moved
    RunBesideWindow(
        [&] {
            for (size_t k = 0; k < count && !stop.stop_requested(); ++k) {
                next.store(k, std::memory_order_relaxed);
                if (TrashOne(selection.directory + selection.names[k]))
                    ++moved;
                else
                    ++errors;
            }
        },
        [&] {
            if (!showProgress) return;
            const size_t k = std::min(next.load(std::memory_order_relaxed), count - 1);
            progress.SetPosition(ProgressBar::Overall, static_cast<int>(k));
            progress.SetLabel(selection.names[k]);
        });
    const bool stopped = stop.stop_requested() && moved + errors < static_cast<int>(count);
    if (showProgress) {
        progress.Close();
        progress.SetPosition(ProgressBar::Overall, 0);
        progress.SetMax(ProgressBar::Overall, 100);
    }
    services.SetBusyCursor(false);
    if (refreshPanes) refreshPanes();
    if (stopped)
        AppMessageBox(TrashStoppedReport(moved, static_cast<int>(count)), kCaptionReport, kMbOk);
    else if (errors == 0 && moved > 0)
        AppMessageBox(
            "選択された　" + std::to_string(moved) + "　ファイルをごみ箱へ移動しました", kCaptionReport, kMbOk);
    return moved;
}

bool TrashDirectory(const std::string& path)
{
    // A rename as a rule, but on a network drive even that can take its time.
    bool moved = false;
    RunBesideWindow([&] { moved = TrashOne(path); });
    if (!moved) return false;
    AppMessageBox(path + "　をごみ箱へ移動しました", kCaptionReport, kMbOk);
    return true;
}

} // namespace zelo
