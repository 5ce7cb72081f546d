// TForm1: the main window. Its handlers gather the selection and the options and call the model and
// the engine; the work of a command lives in engine/.
#pragma once

#include "engine/options.h"
#include "model/file_list.h"
#include "ui_main_window.h"

#include <QMainWindow>
#include <QPoint>

#include <functional>
#include <future>
#include <string>
#include <utility>
#include <vector>

class QAction;
class QFileSystemWatcher;
class QKeyEvent;
class QTimer;
class QLabel;
class QMenu;
class QWidget;

namespace zelo {

class DirListBox;
class DriveComboBox;
class FileListBox;
class TForm2;
class TForm3;
class TForm4;
class TForm5;
class TForm8;
class TRen;
struct DriveChoice;
struct OperationRequest;
class THelp;

// Where the main window goes each time it becomes active, for a full-screen client height.
QPoint MainWindowActivationPosition(int fullScreenClientHeight);

// The Linux file a save dialog's answer names. The dialog joins what was typed to the folder it shows
// (dialogDirectory, as a Linux path); a typed drive path ("D:\list.txt", "\list.txt",
// "sub\list.txt") is resolved through the drive map instead. Empty when it names no drive.
QString SaveDialogTarget(const QString& dialogDirectory, const QString& selected);

// The shown directory as read beside the window after an outside change: its files as the file pane
// lists them and its subdirectories (name, marker) as the directory pane would, in byte order.
struct ShownDirectoryRead {
    std::string directory;
    std::string mask;
    FileTypeState fileType = FileTypeState::OrdinaryOnly;
    int32_t showHidden = 0;
    bool missing = false;
    std::vector<std::string> files;
    std::vector<std::pair<std::string, int>> subdirectories;
};
ShownDirectoryRead ReadShownDirectory(
    std::string directory, std::string mask, FileTypeState fileType, int32_t showHidden);

class TForm1 : public QMainWindow, public Ui::Client {
    Q_OBJECT
public:
    static constexpr int kClientWidth = 758;
    static constexpr int kClientHeight = 535;

    // Builds the controls and the menus, then runs FormCreate.
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    // The dialogs this window shows (created after it, so they are handed over later).
    void SetDialogs(TForm3* input, THelp* help);
    // The information dialogs; the network dialogs (ShowConnectDialog, ShowDisconnectDialog) come with them.
    void SetInfoDialogs(TForm4* fileInfo, TForm5* folderInfo, TForm8* dirAttributes);
    void SetRenameDialog(TRen* ren) { m_ren = ren; }
    // The operation dialog of the copy, move, duplicate and backup commands.
    // It starts with this window's drive selector and drive.
    void SetOperationDialog(TForm2* operation);
    // What the operation dialog takes from this window for a command of OperationMode mode.
    OperationRequest OperationRequestFor(int mode);

    // Start-up, activation, end.
    void FormCreate();
    void FormActivate();
    void FormClose();
    void Exit1Click();
    void HEILP1Click();
    void CheckBox1Click();
    void UpdateWriteCommands();

    // Directory pane.
    void DirBx1Click();
    void DirBx1DblClick();

    // Drive selector, filter, file pane.
    void CBox1Change();
    void CBox1DropDown();
    void CBox1DblClick();
    void FBox1Change();
    void Check1Click();
    void Check2Click();
    void FileBx1Change();
    void FileBx1Click();
    void FileBx1DblClick();
    void N12Click();
    void N14Click();
    void FileList1Click();
    void SaveFileList();
    // The save dialog of the file list (SaveDialog1, SaveListDialog).
    QString RunSaveDialog();
    void RunFile(const std::string& path);

    // Deletion and directory creation.
    void Delete1Click();
    void N1Click();
    void MKDIR1Click();
    void bak1Click();

    // Information, network and shortcuts.
    void N15Click();
    void N24Click();
    void N23Click();
    void N30Click();
    void N31Click();
    void N34Click();
    void N35Click();

    // Copy, move, duplicate and backup through the operation dialog.
    void Copy2Click();
    void GoTo1Click();
    void N22Click();
    void Copy1Click();
    void GoTo2Click();
    void BackUp1Click();

    // Text conversions, renaming and case changes.
    void N25Click();
    void N16Click();
    void N17Click();
    void N0AHDAH1Click();
    void SHIFT81Click();
    void UTF8SJis1Click();
    void N26Click();
    void N27Click();
    void Rename1Click();
    void RENDIR1Click();
    void oomozi1Click();
    void komozi1Click();

    // The options as the commands read them when they run.
    CommandOptions Options() const;
    // A menu item (or submenu, or named separator) by its name; null when there is none.
    QAction* MenuItem(const QString& name) const;
    // The nine items the CD-ROM lock disables.
    static const std::vector<QString>& WriteCommandNames();

    // Shows the input dialog modally; replaceable so tests can play the user.
    std::function<void()> ShowInputDialog;
    // Shows the batch rename dialog modally; replaceable so tests can play the user.
    std::function<void()> ShowRenameDialog = [this] { ExecRenameDialog(); };
    // Asks for the Linux path of the saved list (empty: cancelled), in a dialog that opens in the file
    // pane's directory and takes drive paths; replaceable for tests.
    std::function<QString()> AskSaveFileName;
    // Opens a file with its program; replaceable for tests.
    std::function<void(const std::string&)> OpenWithShell;
    // The network connect and disconnect dialogs, shown modally; replaceable for tests.
    std::function<void()> ShowConnectDialog;
    std::function<void()> ShowDisconnectDialog;
    // Keys of the panes, the trash, a typed path, drag and drop (main_window_keys.cpp).
    // Delete in the file pane: the selected files to the trash.
    void TrashSelection();
    // Shift+Delete in the file pane: the selected files deleted for good once the person says Yes.
    void DeleteSelectionAfterAsking();
    // Delete in the directory pane: the selected subdirectory to the trash.
    void TrashSelectedDirectory();
    // Backspace: the directory above the current one, with the one it came from selected.
    void GoUp();
    // Ctrl+L: goes to a typed drive path ("C:\dir", "\dir", "dir"); false when it is not there.
    bool GoToPath(const std::string& typed);
    // Copies or moves names of sourceDir into destinationDir (both with their separator) as the
    // operation dialog runs a file copy or move, with its refusals and summary.
    void DropFiles(const std::string& sourceDir, const std::vector<std::string>& names,
        const std::string& destinationDir, bool move);
    // Asks for the path of Ctrl+L (empty: cancelled); replaceable for tests.
    std::function<QString()> AskPath;

    // Outside changes (main_window_watch.cpp). The shown directory is watched; a change refills both
    // panes after a short quiet time, keeping the selections and scroll positions where the entries
    // survive. Network and FUSE drives send no events for others' changes: they refill on activation.
    void RefillShownDirectory();
    // The Linux directory of the shown one, watched for changes (empty: none).
    QString WatchedDirectory() const;
    // Whether a refill for an outside change is waiting for its quiet time.
    bool OutsideRefillPending() const;

    // The path shown beside "Ｓｅｌｅｃｔ Dir" (Label9), as bytes.
    const std::string& SelectDirPath() const { return m_selectPath; }

    // The client area's controls are the layout's (main_window.ui); its two panels are Panel1 and Panel2.
    QWidget* TopPanel = nullptr;
    QWidget* BottomPanel = nullptr;
    DirListBox* DirBx1 = nullptr;
    // Menus.
    QMenu* PopupMenu1 = nullptr;
    QMenu* PopupMenu2 = nullptr;

    // RichEdit1: the lines of every saved list since the start; never cleared while the program runs.
    std::vector<std::string> FileListBuffer;

protected:
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void BuildMenus();
    void ConnectHandlers();
    void InstallKeysAndDrops();
    void InstallWatcher();
    // Watches the file pane's directory (the directory pane's current one) when it changed.
    void WatchShownDirectory();
    // Something in the shown directory changed: a refill once the burst is quiet (within a second).
    void OutsideChange();
    void StartOutsideRead();
    void ApplyOutsideRead(const ShownDirectoryRead& read);
    // Triggers a menu item by name as a click would, when it is enabled and no command runs.
    bool TriggerItem(const char* name);
    bool PaneKeyPress(QWidget* pane, const QKeyEvent* event);
    bool PaneDropEvent(QWidget* pane, QEvent* event);
    QAction* AddItem(QWidget* menu, const char* name, const char* caption, void (TForm1::*handler)());
    QMenu* AddSubmenu(QWidget* menu, const char* name, const char* caption);
    void AddSeparator(QWidget* menu, const char* name);
    void AddBlank(QWidget* menu);
    void SetPathLabel(QLabel* label, const std::string& path);
    void ShowDirCount();
    // Selects CBox1's item that holds StartPath, as at start-up (none when no item holds it).
    void SelectStartItem();
    void ShowIconPreview(const std::string& path);
    void ExecRenameDialog();
    void ChangeSelectedDirCase(int direction);
    // After the selected directory got a new name: its entry, and the panes and labels that showed it.
    void DirectoryRenamed(const std::string& oldPath, const std::string& newPath, const std::string& name);

    // Shows the operation dialog modally for OperationMode mode, with the commands off meanwhile.
    void RunOperationDialog(int mode, const std::function<void()>& afterClose);
    DriveChoice OperationDrives() const;

    TForm3* m_input = nullptr;
    TForm2* m_operation = nullptr;
    THelp* m_help = nullptr;
    TForm4* m_fileInfo = nullptr;
    TForm5* m_folderInfo = nullptr;
    TForm8* m_dirAttributes = nullptr;
    TRen* m_ren = nullptr;
    // Moves on activation only when the window was left for another window of the program.
    bool m_moveOnActivate = true;
    // The path shown in Label4, as bytes.
    std::string m_currentPath;
    // The path shown in Label9, as bytes.
    std::string m_selectPath;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_refillTimer = nullptr;
    // The drive path shown; whether it refills on activation (no change events: a network or FUSE
    // drive, or no watch to be had); when the first change of a pending burst came (monotonic ms).
    std::string m_watchedPath;
    bool m_refillOnActivate = false;
    qint64 m_burstStart = -1;
    // The read of the shown directory under way beside the window (joined when the window goes).
    QTimer* m_readPoll = nullptr;
    std::future<ShownDirectoryRead> m_outsideRead;
};

} // namespace zelo
