// TForm1: the copy, move, duplicate and backup commands; each opens the operation dialog.
#include "ui/main_window.h"

#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "model/state.h"
#include "platform/ui_services.h"
#include "ui/drive_combo_box.h"
#include "ui/list_boxes.h"
#include "ui/operation_dialog.h"

#include <QCheckBox>
#include <QLabel>

namespace zelo {

namespace {
constexpr const char* kChooseDirectory = "Ｄｉｒ　を選択して下さい";
} // namespace

OperationRequest TForm1::OperationRequestFor(int mode)
{
    OperationRequest request;
    request.mode = mode;
    const bool fileMode = mode > 10;
    request.shownSource = fileMode ? Main.MainTree.CurrentPath(false) : Main.MainTree.SelectedPath(false);
    request.currentDir = Main.MainTree.CurrentPath(true);
    if (!fileMode) request.folder = ResolveSourceFolder(request.currentDir, Main.MainTree.SelectedPath(true));
    request.files = Selection::Of(request.currentDir, FileBx1->Names(), FileBx1->SelectedFlags());
    request.options = Options();
    return request;
}

DriveChoice TForm1::OperationDrives() const
{
    DriveChoice drives;
    for (int i = 0; i < CBox1->Count(); ++i)
        drives.items.push_back(CBox1->Item(i));
    drives.selected = CBox1->SelectedIndex();
    drives.drive = Main.MainTree.DriveText(true);
    return drives;
}

void TForm1::SetOperationDialog(TForm2* operation)
{
    m_operation = operation;
    if (m_operation) m_operation->FormCreate(OperationDrives());
}

void TForm1::RunOperationDialog(int mode, const std::function<void()>& afterClose)
{
    if (m_operation) {
        m_operation->Open(OperationRequestFor(mode));
        // A backup that ran did so under "new", and the box shows it.
        if (m_operation->Outcome().backupRan) CheckBox2->setChecked(true);
    }
    if (afterClose) afterClose();
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
