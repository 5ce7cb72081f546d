// TForm2: the operation dialog. The destination of a copy, move, duplicate or backup is chosen in its
// own directory pane (DialogTree); its execute button checks the pair and runs the driver.
#pragma once

#include "engine/file_transfer.h"
#include "engine/options.h"
#include "ui_operation_dialog.h"

#include <QDialog>

#include <string>
#include <vector>

namespace zelo {

class DirListBox;
class DriveComboBox;
class FileListBox;
class TForm6;

// Captions of the dialog by OperationMode; null for a value that leaves the caption as it is.
const char* OperationCaption(int mode);

// The number of duplicates Edit1 asks for: not a number gives 1, more than 99 gives 99.
int DuplicateCountFrom(const std::string& text);

// Copies or moves files as the file driver does and hands its counts to the windows' counters (the kept
// sources of a move join the newer-files list): the operation dialog and a drop share it.
void RunFileTransfer(const FileTransfer& request);

// The folder a folder command works on and whether it is the current directory itself (ContentsOnly
// 255). The selected path may carry no separator or two where the current directory is meant (the root
// entry selected below the root, nothing selected at the root): both are the current directory.
struct SourceFolder {
    std::string path; // with exactly one trailing separator
    int contentsOnly = 0;
};
SourceFolder ResolveSourceFolder(const std::string& currentWithSeparator, const std::string& selectedWithSeparator);

// Where a backup keeps its earlier versions: beside the backup's top folder, named after it with
// ".versions" (the source's name below the destination; the destination's own name for a contents-only
// backup). Empty when there is no such place (a contents-only backup into a drive root).
std::string VersionsFolderOf(const SourceFolder& source, const std::string& destinationWithSeparator);

// What a command hands the operation dialog: all it takes from the main window, gathered when it opens.
struct OperationRequest {
    int mode = 0; // OperationMode
    std::string shownSource; // Label5: the selected folder (folder modes) or the current directory
    std::string currentDir; // the main pane's current directory, with its separator
    SourceFolder folder; // folder modes: the folder the command works on
    Selection files; // the file pane's selection (file modes and the duplicate)
    CommandOptions options;
};

// The drive selector as the dialog starts with it: the main window's items, its choice, and the drive
// of its pane (as a root).
struct DriveChoice {
    std::vector<std::string> items;
    int selected = -1;
    std::string drive;
};

// What the last run of the dialog did that the main window shows: a backup that ran turned "new" on.
struct OperationOutcome {
    bool backupRan = false;
};

class TForm2 : public QDialog, public Ui::Form2 {
    Q_OBJECT
public:
    // result: the window shown after a folder operation that ran to its end; it must outlive the dialog
    // and may be null. parent: the main window, whose commands are off while an operation runs.
    explicit TForm2(TForm6* result, QWidget* parent = nullptr);

    // The drive selector and the pane as the main window has them when the windows are made.
    void FormCreate(const DriveChoice& drives);
    // The command the dialog runs next; Open hands it over and shows the dialog modally.
    void SetRequest(const OperationRequest& request) { m_request = request; }
    int Open(const OperationRequest& request);
    const OperationOutcome& Outcome() const { return m_outcome; }
    void FormActivate();
    void FormPaint();
    void CBox1Change();
    void CBox1DropDown();
    void DirBx2Click();
    void DirBx2DblClick();
    void Button3Click();
    void Button4Click();

    // The paths shown in Label5 (source) and Label3 (destination), as bytes.
    const std::string& SourceText() const { return m_source; }
    const std::string& DestinationText() const { return m_destination; }

    // The controls are the layout's (operation_dialog.ui): CheckBox1 backups only: keep what the run deletes or
    // replaces.
    DirListBox* DirBx2 = nullptr;

public slots:
    // The title bar's close works as cancel, except while an operation runs inside the dialog.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void SetSource(const std::string& path);
    void SetDestination(const std::string& path);
    // Messages of the checks that leave the dialog open: both buttons come back.
    void Refuse(const char* text);
    void Finish();
    // versionsDir: where a backup keeps earlier versions, empty for none.
    void RunFolderOperation(const std::string& versionsDir);
    void RunFileOperation();
    void RunDuplicate();

    TForm6* m_result;
    OperationRequest m_request;
    OperationOutcome m_outcome;
    std::string m_source;
    std::string m_destination;
    bool m_running = false;
};

} // namespace zelo
