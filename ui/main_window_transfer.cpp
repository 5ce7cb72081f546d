// TForm1: the copy, move, duplicate and backup commands; each opens the operation dialog.
#include "ui/main_window.h"

#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "model/state.h"
#include "platform/ui_services.h"
#include "ui/list_boxes.h"
#include "ui/operation_dialog.h"

#include <QLabel>

namespace zelo {

namespace {
constexpr const char* kChooseDirectory = "Ｄｉｒ　を選択して下さい";
} // namespace

void TForm1::RunOperationDialog(int mode, const std::function<void()>& afterClose)
{
    Main.OperationMode = mode;
    if (m_operation) m_operation->exec();
    if (afterClose) afterClose();
    Main.OperationMode = kModeIdle;
}

void TForm1::Copy2Click()
{
    if (m_currentPath.empty()) {
        AppMessageBox(kChooseDirectory, kCaptionWarning, kMbOk);
        return;
    }
    RunOperationDialog(kModeFileCopy, nullptr);
}

void TForm1::GoTo1Click()
{
    if (m_currentPath.empty()) {
        AppMessageBox(kChooseDirectory, kCaptionWarning, kMbOk);
        return;
    }
    RunOperationDialog(kModeFileMove, [this] { FileBx1->Reread(); });
}

void TForm1::N22Click()
{
    if (m_currentPath.empty()) {
        AppMessageBox(kChooseDirectory, kCaptionWarning, kMbOk);
        return;
    }
    const int selected = FileBx1->SelectedCount();
    if (selected >= 2) {
        AppMessageBox("Ｆｉｌｅ　の選択が多すぎます", kCaptionWarning, kMbOk);
        return;
    }
    if (selected == 0) {
        AppMessageBox("Ｆｉｌｅ　を選択して下さい", kCaptionWarning, kMbOk);
        return;
    }
    RunOperationDialog(kModeDuplicate, [this] { FileBx1->Reread(); });
}

void TForm1::Copy1Click()
{
    // The panes stay as they are: the source is unchanged.
    RunOperationDialog(kModeFolderCopy, nullptr);
}

void TForm1::GoTo2Click()
{
    RunOperationDialog(kModeFolderMove, [this] {
        // The source may be gone: the pane is read again where it stands.
        Main.MainTree.Refill(false);
        SetPathLabel(Label9, Main.MainTree.SelectedPath(false));
        ShowDirCount();
    });
}

void TForm1::BackUp1Click()
{
    const int answer = AppMessageBox("バックアップ元のＰａｔｈと先のＰａｔｈの内容を同じにします．\r"
                                     "元に無いＤｉｒ，Ｆｉｌｅは削除されますが実行しますか(ReadOnlyも対象になります）",
        kCaptionCaution, kMbYesNo);
    if (answer != kIdYes) return;
    Main.DetailList.clear();
    RunOperationDialog(kModeFolderBackup, nullptr);
}

} // namespace zelo
