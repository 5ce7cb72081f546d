// Moving files and directory trees to the desktop's trash through the platform's trash.
#include "engine/trash_files.h"

#include "engine/messages.h"
#include "platform/drives.h"
#include "platform/errors.h"
#include "platform/trash.h"
#include "platform/ui_services.h"

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

} // namespace

int TrashSelectedFiles(const Selection& selection, const std::function<void()>& refreshPanes)
{
    ui().SetBusyCursor(true);
    int moved = 0;
    int errors = 0;
    for (const std::string& name : selection.names) {
        if (TrashOne(selection.directory + name))
            ++moved;
        else
            ++errors;
    }
    ui().SetBusyCursor(false);
    if (refreshPanes) refreshPanes();
    if (errors == 0 && moved > 0)
        AppMessageBox(
            "選択された　" + std::to_string(moved) + "　ファイルをごみ箱へ移動しました", kCaptionReport, kMbOk);
    return moved;
}

bool TrashDirectory(const std::string& path)
{
    if (!TrashOne(path)) return false;
    AppMessageBox(path + "　をごみ箱へ移動しました", kCaptionReport, kMbOk);
    return true;
}

} // namespace zelo
