// TForm1: the keys of the two panes (each reaches a command the menus have, with its dialogs and
// questions), the Delete key's move to the trash, going to a typed path, and drag and drop.
#include "ui/main_window.h"

#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "engine/trash_files.h"
#include "model/file_list.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/ui_services.h"
#include "ui/command_guard.h"
#include "ui/drive_combo_box.h"
#include "ui/fonts.h"
#include "ui/list_boxes.h"
#include "ui/operation_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QMimeData>
#include <QUrl>

#include <map>

namespace zelo {

namespace {

// The keys that reach a menu item: the file pane's item, the directory pane's (null: none there).
struct PaneKey {
    int key;
    Qt::KeyboardModifiers modifiers;
    const char* fileItem;
    const char* dirItem;
};

const PaneKey kPaneKeys[] = {
    { Qt::Key_F5, Qt::NoModifier, "Copy2", "Copy1" },
    { Qt::Key_F6, Qt::NoModifier, "GoTo1", "GoTo2" },
    { Qt::Key_F7, Qt::NoModifier, "MKDIR1", "MKDIR1" },
    { Qt::Key_F2, Qt::NoModifier, "Rename1", "RENDIR1" },
    { Qt::Key_A, Qt::ControlModifier, "N12", nullptr },
};

std::string Bytes(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    return std::string(bytes.constData(), size_t(bytes.size()));
}

// While a command reached through Delete or Shift+Delete runs, its questions have No as the default
// button and first focus: two reflexive key presses never delete anything.
class NoByDefault : public ForwardingUiServices {
public:
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        return inner().AppMessageBox(text, caption, AsksYesNo(flags) ? flags | kMbDefButton2 : flags);
    }

private:
    ScopedUiServices m_installed { *this };
};

// Shift moves, Ctrl copies, a plain drag copies (the safe choice), as desktop file managers do.
bool DragMoves(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ShiftModifier) && !(modifiers & Qt::ControlModifier);
}

} // namespace

void TForm1::InstallKeysAndDrops()
{
    AskPath = [this] {
        QInputDialog dialog(this);
        // The windows' face, so that "\\" is drawn as the panes draw it.
        dialog.setFont(GothicFont(15));
        dialog.setWindowTitle(QStringLiteral("指定のフオルダーへ移動"));
        dialog.setLabelText(QStringLiteral("移動先のパス（C:\\dir，\\dir，dir）"));
        dialog.setTextValue(ShowBytes(m_currentPath));
        dialog.setOkButtonText(QStringLiteral("ＯＫ"));
        dialog.setCancelButtonText(QStringLiteral("中止"));
        return dialog.exec() == QDialog::Accepted ? dialog.textValue() : QString();
    };
    for (QWidget* pane : { static_cast<QWidget*>(DirBx1), static_cast<QWidget*>(FileBx1) }) {
        pane->installEventFilter(this);
        static_cast<QAbstractItemView*>(pane)->viewport()->installEventFilter(this);
        static_cast<QAbstractItemView*>(pane)->viewport()->setAcceptDrops(true);
    }
    // Files leave the file pane by dragging; they are copied only where they are dropped.
    FileBx1->setDragEnabled(true);
    FileBx1->setDragDropMode(QAbstractItemView::DragOnly);
    FileBx1->setDefaultDropAction(Qt::CopyAction);
}

bool TForm1::TriggerItem(const char* name)
{
    QAction* item = name ? MenuItem(QString::fromUtf8(name)) : nullptr;
    if (!item || !item->isEnabled() || CommandGuard::Active()) return false;
    item->trigger();
    return true;
}

bool TForm1::PaneKeyPress(QWidget* pane, const QKeyEvent* event)
{
    const bool filePane = pane == FileBx1;
    const Qt::KeyboardModifiers modifiers = event->modifiers() & ~Qt::KeypadModifier;
    for (const PaneKey& k : kPaneKeys)
        if (event->key() == k.key && modifiers == k.modifiers) {
            TriggerItem(filePane ? k.fileItem : k.dirItem);
            return true;
        }
    if ((modifiers == Qt::NoModifier || modifiers == Qt::ShiftModifier) && event->key() == Qt::Key_Delete) {
        if (CommandGuard::Active()) return true;
        const NoByDefault questions;
        if (modifiers == Qt::ShiftModifier && filePane)
            DeleteSelectionAfterAsking();
        else if (modifiers == Qt::ShiftModifier)
            TriggerItem("N1");
        else if (filePane)
            TrashSelection();
        else
            TrashSelectedDirectory();
        return true;
    }
    if (modifiers == Qt::NoModifier && event->key() == Qt::Key_Backspace) {
        GoUp();
        return true;
    }
    if (modifiers == Qt::ControlModifier && event->key() == Qt::Key_L) {
        const QString typed = AskPath ? AskPath() : QString();
        if (!typed.trimmed().isEmpty()) GoToPath(Bytes(typed.trimmed()));
        return true;
    }
    if (filePane && modifiers == Qt::NoModifier && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        FileBx1DblClick();
        return true;
    }
    return false;
}

void TForm1::DeleteSelectionAfterAsking()
{
    const QAction* deleteItem = MenuItem(QStringLiteral("Delete1"));
    const int selected = FileBx1->SelectedCount();
    if (!deleteItem || !deleteItem->isEnabled() || selected == 0) return;
    const std::string question = "選択された　" + std::to_string(selected) + "　ファイルを完全に削除しますか　？";
    if (AppMessageBox(question, kCaptionCaution, kMbYesNo) != kIdYes) return;
    TriggerItem("Delete1");
}

void TForm1::TrashSelection()
{
    // The CD-ROM lock holds for the trash as for deletion.
    const QAction* deleteItem = MenuItem(QStringLiteral("Delete1"));
    if ((deleteItem && !deleteItem->isEnabled()) || FileBx1->SelectedCount() == 0) return;
    const CommandGuard guard(this);
    Main.AbortFlag = std::stop_source();
    TrashSelectedFiles(Selection::Of(Main.MainTree.CurrentPath(true), FileBx1->Names(), FileBx1->SelectedFlags()),
        Main.AbortFlag.get_token(), [this] { FileBx1->Reread(); });
}

void TForm1::TrashSelectedDirectory()
{
    // Only a subdirectory listed under the current one: the chain above holds the pane itself.
    const QAction* deleteItem = MenuItem(QStringLiteral("N1"));
    if ((deleteItem && !deleteItem->isEnabled()) || DirBx1->SelectedIndex() <= Main.MainTree.GetLevel()) return;
    const CommandGuard guard(this);
    const std::string path = Main.MainTree.SelectedPath(false);
    TrashDirectory(path);
    Main.MainTree.Refill(false);
    SetPathLabel(Label9, Main.MainTree.CurrentPath(false));
    ShowDirCount();
}

void TForm1::GoUp()
{
    const int level = Main.MainTree.GetLevel();
    if (level <= 0) return;
    const std::string from = Main.MainTree.CurrentPath(false);
    DirBx1->SetSelectedIndex(level - 1);
    DirBx1DblClick();
    // The folder it came from is the selected one, as in other file managers.
    for (int i = Main.MainTree.GetLevel() + 1; i < DirBx1->Count(); ++i) {
        DirBx1->SetSelectedIndex(i);
        if (Main.MainTree.SelectedPath(false) == from) {
            DirBx1Click();
            return;
        }
    }
    DirBx1->SetSelectedIndex(Main.MainTree.GetLevel());
}

bool TForm1::GoToPath(const std::string& typed)
{
    const std::string current = Main.MainTree.CurrentPath(false);
    std::string path = typed;
    if (path.size() < 2 || path[1] != ':')
        path = path[0] == '\\' ? current.substr(0, 2) + path : JoinPath(current, path);
    // The directory as the kernel resolves it (links and ".." taken), then as a drive path.
    const auto linuxPath = driveMap().toLinux(path);
    const QFileInfo info(linuxPath ? QFile::decodeName(QByteArray::fromStdString(*linuxPath)) : QString());
    const auto target
        = info.isDir() ? driveMap().fromLinux(QFile::encodeName(info.canonicalFilePath()).toStdString()) : std::nullopt;
    if (!target || target->size() < 3) {
        AppMessageBox(path + "　は見つかりません", kCaptionWarning, kMbOk);
        return false;
    }
    const std::string root = target->substr(0, 3);
    if (Main.MainTree.DriveText(true) != root) {
        CBox1->SetEditText(root);
        CBox1Change();
        if (Main.MainTree.DriveText(true) != root) return false; // no medium: reported by the change
    }
    // Not listed (a hidden directory while "Hidden" is off): the pane stays where it got to.
    const std::string missing = EnterDrivePath(Main.MainTree, *DirBx1, *target);
    if (!missing.empty()) AppMessageBox(missing + "　は一覧にありません", kCaptionWarning, kMbOk);
    SetPathLabel(Label4, Main.MainTree.CurrentPath(false));
    SetPathLabel(Label9, Main.MainTree.CurrentPath(false));
    ShowDirCount();
    return true;
}

// ---- drag and drop ----

void TForm1::DropFiles(
    const std::string& sourceDir, const std::vector<std::string>& names, const std::string& destinationDir, bool move)
{
    if (names.empty() || CommandGuard::Active()) return;
    // The refusals of the operation dialog's execute button.
    if (destinationDir == sourceDir) {
        ShowPlainMessage("同じＤＩＲが選択されており，実行出来ません");
        return;
    }
    if (GetDriveType(destinationDir.substr(0, 3)) == kDriveCdrom && !CheckBox1->isChecked()) {
        ShowPlainMessage("ＣＤ－ＲＯＭ　には実行出来ません　！");
        return;
    }
    const QAction* moveItem = MenuItem(QStringLiteral("GoTo1"));
    if (move && moveItem && !moveItem->isEnabled()) return; // a move out of a locked CD-ROM
    const CommandGuard guard(this);
    FileTransfer request;
    request.sourceDir = sourceDir;
    request.destinationDir = destinationDir;
    request.names = names;
    request.mode = move ? kModeFileMove : kModeFileCopy;
    request.options = Options();
    RunFileTransfer(request);
    FileBx1->Reread();
}

namespace {

// What another program dropped: files by the drive path of their directory, folders (which the file copy
// does not take), and what lies on no drive (other computers' addresses, folders the drive map leaves
// out), by the name the person knows it by.
struct DroppedItems {
    std::map<std::string, std::vector<std::string>> files;
    std::vector<std::string> folders;
    std::vector<std::string> offDrive;
};

DroppedItems SortDrop(const QMimeData* data)
{
    DroppedItems items;
    for (const QUrl& url : data->urls()) {
        const std::string linuxPath = url.isLocalFile() ? QFile::encodeName(url.toLocalFile()).toStdString() : "";
        const auto drivePath = url.isLocalFile() ? driveMap().fromLinux(linuxPath) : std::nullopt;
        if (!drivePath) {
            items.offDrive.push_back(url.isLocalFile() ? linuxPath : Bytes(url.toDisplayString()));
            continue;
        }
        const QFileInfo info(url.toLocalFile());
        const size_t slash = drivePath->find_last_of('\\');
        if ((info.isDir() && !info.isSymLink()) || slash == std::string::npos || slash + 1 >= drivePath->size())
            items.folders.push_back(*drivePath);
        else
            items.files[drivePath->substr(0, slash + 1)].push_back(drivePath->substr(slash + 1));
    }
    return items;
}

// The refusal of what lies on no drive: the first few names, then how many more.
std::string OffDriveRefusal(const std::vector<std::string>& names)
{
    constexpr size_t kNamesShown = 10;
    std::string text;
    for (size_t i = 0; i < names.size() && i < kNamesShown; ++i)
        text += names[i] + "\n\r";
    if (names.size() > kNamesShown) text += "ほか　" + std::to_string(names.size() - kNamesShown) + "　件\n\r";
    return text + "どのドライブにもないため複写出来ません";
}

} // namespace

bool TForm1::PaneDropEvent(QWidget* pane, QEvent* event)
{
    if (event->type() == QEvent::DragLeave) {
        DirBx1->SetDropRow(-1);
        return true;
    }
    auto* drag = static_cast<QDropEvent*>(event);
    const bool fromFilePane = drag->source() == FileBx1;
    const bool onDirPane = pane == DirBx1;
    const QPoint at = drag->position().toPoint();
    const int row = onDirPane ? DirBx1->indexAt(at).row() : -1;
    // The file pane's own files go onto a directory of the directory pane; other programs' files onto
    // either pane: into the folder of the row they are dropped on, else into the current folder.
    const bool acceptable = fromFilePane ? (onDirPane && row >= 0) : (drag->mimeData()->hasUrls() && !drag->source());
    const int targetRow = !acceptable || !onDirPane ? -1 : row >= 0 ? row : Main.MainTree.GetLevel();
    const bool move = DragMoves(drag->modifiers());
    if (event->type() != QEvent::Drop) {
        DirBx1->SetDropRow(targetRow);
        if (acceptable) {
            // The cursor shows a move; the drop itself reports a copy, so the dragging side never removes
            // anything: the move is made here.
            drag->setDropAction(move && (drag->possibleActions() & Qt::MoveAction) ? Qt::MoveAction : Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    DirBx1->SetDropRow(-1);
    if (!acceptable) return true;
    drag->setDropAction(Qt::CopyAction);
    drag->accept();
    if (targetRow >= 0) {
        DirBx1->SetSelectedIndex(targetRow);
        DirBx1Click();
    }
    const std::string destination = targetRow >= 0 ? Main.MainTree.SelectedPath(true) : Main.MainTree.CurrentPath(true);
    // The copy runs after the drop has finished: the dragging program is not kept waiting.
    if (fromFilePane) {
        std::vector<std::string> names;
        const std::vector<std::string> all = FileBx1->Names();
        const std::vector<bool> selected = FileBx1->SelectedFlags();
        for (size_t i = 0; i < all.size() && i < selected.size(); ++i)
            if (selected[i]) names.push_back(all[i]);
        const std::string source = Main.MainTree.CurrentPath(true);
        QMetaObject::invokeMethod(
            this, [=, this] { DropFiles(source, names, destination, move); }, Qt::QueuedConnection);
    } else {
        const DroppedItems items = SortDrop(drag->mimeData());
        QMetaObject::invokeMethod(
            this,
            [=, this] {
                if (!items.offDrive.empty()) ShowPlainMessage(OffDriveRefusal(items.offDrive));
                for (const std::string& folder : items.folders)
                    ShowPlainMessage(folder + "  :   フォルダーはＤＩＲ窓のコピーで複写して下さい");
                for (const auto& [source, names] : items.files)
                    DropFiles(source, names, destination, move);
            },
            Qt::QueuedConnection);
    }
    return true;
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    QWidget* pane = watched == DirBx1 || watched == DirBx1->viewport() ? static_cast<QWidget*>(DirBx1)
        : watched == FileBx1 || watched == FileBx1->viewport()         ? static_cast<QWidget*>(FileBx1)
                                                                       : nullptr;
    if (!pane) return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::KeyPress:
        if (watched == pane && PaneKeyPress(pane, static_cast<QKeyEvent*>(event))) return true;
        break;
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::DragLeave:
    case QEvent::Drop:
        if (watched != pane) return PaneDropEvent(pane, event);
        break;
    default:
        break;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace zelo
