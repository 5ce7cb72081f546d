// TForm1: the information commands (file and folder information, directory attributes and label),
// the network commands and the shortcuts.
#include "ui/main_window.h"

#include "engine/messages.h"
#include "engine/network.h"
#include "engine/shortcuts.h"
#include "engine/tree.h"
#include "model/drive_list.h"
#include "model/state.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/ui_services.h"
#include "ui/dir_attributes_dialog.h"
#include "ui/drive_combo_box.h"
#include "ui/file_info_dialog.h"
#include "ui/folder_info_dialog.h"
#include "ui/list_boxes.h"
#include "ui/net_connect_dialog.h"
#include "ui/net_disconnect_dialog.h"

namespace zelo {

void TForm1::SetInfoDialogs(TForm4* fileInfo, TForm5* folderInfo, TForm8* dirAttributes)
{
    m_fileInfo = fileInfo;
    m_folderInfo = folderInfo;
    m_dirAttributes = dirAttributes;
    ShowConnectDialog = [this] {
        NetConnectDialog dialog(this);
        dialog.exec();
    };
    ShowDisconnectDialog = [this] {
        NetDisconnectDialog dialog(this);
        dialog.exec();
    };
}

void TForm1::N15Click()
{
    // Only when the file under the cursor is one of the selected files.
    if (FileBx1->Count() == 0 || FileBx1->FocusedPath().empty()) return;
    if (m_fileInfo) m_fileInfo->exec();
}

void TForm1::N24Click()
{
    ui().SetBusyCursor(true);
    // The drive line, a line above the current directory or no selection: count the current directory.
    if (DirBx1->SelectedIndex() < Main.MainTree.GetLevel()) DirBx1->SetSelectedIndex(Main.MainTree.GetLevel());
    const TreeTotals totals = CountTree(Main.MainTree.SelectedPath(true));
    Main.TreeDirCount = totals.dirs;
    Main.TreeFileCount = totals.files;
    Main.TreeByteTotal = totals.bytes;
    ui().SetBusyCursor(false);
    // Totals that leave out folders which could not be read are not the folder's: said before they show.
    if (totals.unreadable > 0)
        AppMessageBox(WithoutSeparator(totals.firstUnreadable) + "  :   読めないフォルダーが　"
                + std::to_string(totals.unreadable) + "　個あり，合計に含まれていません",
            kCaptionWarning, kMbOk);
    if (m_folderInfo) m_folderInfo->exec();
}

void TForm1::N23Click()
{
    if (m_dirAttributes) m_dirAttributes->exec();
}

void TForm1::N30Click()
{
    // A new drive shows up the next time the drive selector is filled.
    if (ShowConnectDialog) ShowConnectDialog();
}

void TForm1::N31Click()
{
    const std::string text = CBox1->EditText();
    const uint32_t type = GetDriveType(text.substr(0, 3)); // taken before the dialog
    if (ShowDisconnectDialog) ShowDisconnectDialog();
    if (type == kDriveRemote) {
        // Whether or not that drive went, the window moves to the drive that holds the program.
        CBox1->SetEditText(ProgramDriveSelectorText());
        CBox1Change();
    }
    FillDriveCombo(*CBox1);
}

void TForm1::N34Click()
{
    CreateShortcut(kShortcutDesktop, FileBx1->FocusedPath());
}

void TForm1::N35Click()
{
    CreateShortcut(kShortcutDriveRoot, FileBx1->FocusedPath());
}

} // namespace zelo
