// TForm2: the operation dialog: destination pane, execute checks in their order and the dispatch to
// the folder driver, the file driver and the duplicator.
#include "ui/operation_dialog.h"

#include "engine/backup_plan.h"
#include "engine/file_transfer.h"
#include "engine/folder_transfer.h"
#include "engine/messages.h"
#include "model/drive_list.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/ui_services.h"
#include "ui/command_guard.h"
#include "ui/drive_combo_box.h"
#include "ui/fonts.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/plan_window.h"
#include "ui/result_window.h"
#include "ui/window_builder.h"

#include <QCheckBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cctype>

namespace zelo {

namespace {

constexpr int kMaxDuplicates = 99;

void SetColouredBackground(QLabel* label, const QColor& colour)
{
    label->setAutoFillBackground(true);
    QPalette palette = label->palette();
    palette.setColor(QPalette::Window, colour);
    label->setPalette(palette);
}

std::string WithoutTrailingSeparators(std::string path)
{
    while (!path.empty() && path.back() == '\\')
        path.pop_back();
    return path;
}

} // namespace

const char* OperationCaption(int mode)
{
    switch (mode) {
    case kModeFolderCopy:
        return "フオルダーコピー";
    case kModeFolderMove:
        return "フオルダー移動";
    case kModeFolderBackup:
        return "フオルダーのバックアップ";
    case kModeFileCopy:
        return "ファイルコピー";
    case kModeFileMove:
        return "ファイル移動";
    case kModeDuplicate:
        return "ファイル複写";
    default:
        return nullptr;
    }
}

int DuplicateCountFrom(const std::string& text)
{
    // A decimal integer, as typed: an optional sign and digits, nothing else.
    size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
    if (i == text.size()) return 1;
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i]))) return 1;
        if (value <= kMaxDuplicates) value = value * 10 + (text[i] - '0'); // stays small, never overflows
    }
    if (text[0] == '-') return value == 0 ? 0 : -1; // zero or negative: no copy
    return value > kMaxDuplicates ? kMaxDuplicates : static_cast<int>(value);
}

SourceFolder ResolveSourceFolder(const std::string& currentWithSeparator, const std::string& selectedWithSeparator)
{
    const std::string current = WithoutTrailingSeparators(currentWithSeparator);
    const std::string selected = WithoutTrailingSeparators(selectedWithSeparator);
    if (selected == current) return { currentWithSeparator, 255 };
    return { selected + "\\", 0 };
}

std::string VersionsFolderOf(const SourceFolder& source, const std::string& destinationWithSeparator)
{
    const std::string destination = WithoutTrailingSeparators(destinationWithSeparator);
    if (source.contentsOnly == 0) {
        const std::string name = WithoutTrailingSeparators(FolderNameOf(source.path));
        return name.empty() ? std::string() : destination + "\\" + name + ".versions";
    }
    // Beside the destination in its parent: a drive root ("D:") has none.
    if (destination.find('\\') == std::string::npos) return {};
    return destination + ".versions";
}

TForm2::TForm2(TForm6* result, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint)
    , m_result(result)
{
    // In the layout CheckBox1 (backups only) is off: unless the person asks, the backup deletes and
    // replaces as it always has.
    setupUi(this);
    FinishLayout(this);
    SetColouredBackground(Label5, QColor(0x00, 0xFF, 0xFF));
    SetColouredBackground(Label3, QColor(0x00, 0xFF, 0x00));
    CBox1->view()->setItemDelegate(new FixedHeightDelegate(CBox1->view(), 18, 0));

    // The directory pane draws the dialog's tree's markers, so it is made here; it stands after the count
    // field.
    DirBx2 = new DirListBox(this, [](int index) { return Main.DialogTree.GetMarker(index); });
    DirBx2->setObjectName(QStringLiteral("DirBx2"));
    DirBx2->setGeometry(8, 96, 297, 262);
    DirBx2->setFont(GothicFont(20));
    DirBx2->SetEnterIsDoubleClick(true);
    setTabOrder(Edit1, DirBx2);

    connect(CBox1, &DriveComboBox::UserChange, this, &TForm2::CBox1Change);
    connect(CBox1, &DriveComboBox::DropDown, this, &TForm2::CBox1DropDown);
    connect(DirBx2, &ClickListBox::Click, this, &TForm2::DirBx2Click);
    connect(DirBx2, &ClickListBox::DblClick, this, &TForm2::DirBx2DblClick);
    connect(Button3, &QPushButton::clicked, this, &TForm2::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm2::Button4Click);
}

void TForm2::FormCreate(const DriveChoice& drives)
{
    CBox1->ClearItems();
    for (const std::string& item : drives.items)
        CBox1->AddItem(item);
    CBox1->SetSelectedIndex(drives.selected);
    Main.DialogTree.Bind(DirBx2, FileBx2);
    Main.DialogTree.SetDrive(drives.drive);
    Main.DialogTree.Refill(false);
}

int TForm2::Open(const OperationRequest& request)
{
    m_request = request;
    m_outcome = {};
    return exec();
}

void TForm2::SetSource(const std::string& path)
{
    if (path == m_source && !Label5->text().isEmpty()) return;
    m_source = path;
    Label5->setText(ShowBytes(path));
    Label5->adjustSize();
}

void TForm2::SetDestination(const std::string& path)
{
    m_destination = path;
    Label3->setText(ShowBytes(path));
    Label3->adjustSize();
}

void TForm2::FormActivate()
{
    // While an operation runs, the dialog comes back to the front after each message: it stays as it is.
    if (m_running) return;
    Main.DialogTree.Refill(true); // re-reads FileBx2 as well
    SetDestination(Main.DialogTree.CurrentPath(false));
    move(300, 130);
    Button3->setEnabled(true);
    Button4->setEnabled(true);
}

void TForm2::FormPaint()
{
    const int mode = m_request.mode;
    if (mode == kModeDuplicate) {
        Label6->show();
        Edit1->show();
    }
    CheckBox1->setVisible(mode == kModeFolderBackup);
    if (const char* caption = OperationCaption(mode)) {
        const QString text = QString::fromUtf8(caption);
        if (windowTitle() != text) setWindowTitle(text);
    }
    SetSource(m_request.shownSource);
    const std::string destination = Main.DialogTree.CurrentPath(false);
    if (destination != m_destination) SetDestination(destination);
}

void TForm2::showEvent(QShowEvent* event)
{
    FormPaint(); // the caption and the count field are right before the first frame
    QDialog::showEvent(event);
    FormActivate();
}

void TForm2::paintEvent(QPaintEvent* event)
{
    FormPaint();
    QDialog::paintEvent(event);
}

void TForm2::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && isVisible()) FormActivate();
    QDialog::changeEvent(event);
}

void TForm2::CBox1DropDown()
{
    FillDriveCombo(*CBox1);
}

void TForm2::CBox1Change()
{
    const std::string text = CBox1->EditText();
    std::string root = text.substr(0, std::min<size_t>(2, text.size())) + "\\";
    if (root.size() > 1) root[0] = char(std::toupper(static_cast<unsigned char>(root[0])));
    if (ReadVolumeLabel(root) != 1) {
        AppMessageBox("準備が出来ておりません", kCaptionWarning, kMbOk);
        // Back to the drive of the destination shown; the item is found by its letter, since the list
        // holds only the drives there are.
        const char letter = m_destination.empty() ? '\0' : m_destination[0];
        int item = -1;
        for (int i = 0; i < CBox1->Count() && item < 0; ++i)
            if (!CBox1->Item(i).empty() && CBox1->Item(i)[0] == letter) item = i;
        CBox1->SetSelectedIndex(item);
        if (letter != '\0') Main.DialogTree.SetDrive(std::string(1, letter) + ":\\");
        Main.DialogTree.Refill(false);
        setFocus();
    } else {
        // A typed letter shows as the drive's own entry, label and all.
        for (int i = 0; i < CBox1->Count(); ++i)
            if (CBox1->Item(i).size() >= 2 && CBox1->Item(i)[0] == root[0] && CBox1->Item(i)[1] == ':')
                CBox1->SetSelectedIndex(i);
        Main.DialogTree.SetDrive(root);
        Main.DialogTree.Refill(false);
    }
    SetDestination(Main.DialogTree.CurrentPath(false));
}

void TForm2::DirBx2Click()
{
    SetDestination(Main.DialogTree.CurrentPath(false));
}

void TForm2::DirBx2DblClick()
{
    Main.DialogTree.Refill(true);
    SetDestination(Main.DialogTree.CurrentPath(false));
}

void TForm2::Refuse(const char* text)
{
    AppMessageBox(text, kCaptionWarning, kMbOk);
    Button3->setEnabled(true);
    Button4->setEnabled(true);
}

void TForm2::Finish()
{
    Edit1->hide();
    Label6->hide();
    accept();
}

void TForm2::Button3Click()
{
    if (m_running) return;
    Button3->setEnabled(false);
    Button4->setEnabled(false);
    FormPaint(); // the labels as they are now
    if (m_source.empty() || m_destination.empty()) return Refuse("Ｄｉｒ　を選択して下さい");
    const int mode = m_request.mode;
    if (m_destination == m_source && mode != kModeDuplicate) return Refuse("同じＤｉｒを選択しています");

    if (GetDriveType(Main.DialogTree.DriveText(true)) == kDriveCdrom && !m_request.options.cdromWritable) {
        ShowPlainMessage("ＣＤ－ＲＯＭ　には実行出来ません　！");
        return Finish();
    }
    if (m_request.currentDir == Main.DialogTree.CurrentPath(true) && mode != kModeDuplicate) {
        ShowPlainMessage("同じＤＩＲが選択されており，実行出来ません");
        return Finish();
    }

    // A backup that keeps earlier versions needs a place beside its top folder, checked before it starts.
    std::string versionsDir;
    if (mode == kModeFolderBackup && CheckBox1->isChecked()) {
        versionsDir = VersionsFolderOf(m_request.folder, Main.DialogTree.CurrentPath(true));
        if (versionsDir.empty()) return Refuse("ドライブの直下へ中身をバックアップする時は以前の版を残せません");
    }

    m_running = true;
    {
        const CommandGuard guard(qobject_cast<TForm1*>(parentWidget()));
        ui().SetBusyCursor(true);
        bool busy = true;
        switch (mode) {
        case kModeFolderCopy:
        case kModeFolderMove:
        case kModeFolderBackup:
            RunFolderOperation(versionsDir);
            break;
        case kModeFileCopy:
        case kModeFileMove:
            ui().SetBusyCursor(false);
            busy = false;
            RunFileOperation();
            break;
        case kModeDuplicate:
            RunDuplicate();
            break;
        default:
            break;
        }
        if (busy) ui().SetBusyCursor(false);
    }
    m_running = false;
    Finish();
}

void TForm2::RunFolderOperation(const std::string& versionsDir)
{
    const int mode = m_request.mode;
    const SourceFolder& source = m_request.folder;

    FolderTransfer request;
    request.sourceFolder = source.path;
    request.destinationDir = Main.DialogTree.CurrentPath(true);
    request.contentsOnly = source.contentsOnly;
    request.mode = mode;
    request.options = m_request.options;
    if (mode == kModeFolderBackup) {
        request.versionsDir = versionsDir;
        // The plan is shown before anything is written; the engine asks again when it deletes most of
        // the destination.
        request.confirmPlan = [this, &versionsDir](const BackupPlan& plan) {
            ui().SetBusyCursor(false);
            TPlan window(plan, versionsDir, this);
            const bool yes = window.Confirm();
            ui().SetBusyCursor(true);
            return yes;
        };
    }
    Main.AbortFlag = std::stop_source();
    TransferCounts counts;
    const int result = TransferFolder(request, counts, Main.AbortFlag.get_token());
    // A backup that ran did so under "new", and the box shows it; a refused one changed nothing.
    m_outcome.backupRan = mode == kModeFolderBackup && result != kTransferRefused && result != kTransferDeclined;

    // A copy or move adds to the list; the backup command emptied it before the dialog opened. The
    // problems a finished run passed over follow, so the result shows them beside the counts.
    Main.DetailList.insert(Main.DetailList.end(), counts.detail.begin(), counts.detail.end());
    Main.DetailList.insert(Main.DetailList.end(), counts.problems.begin(), counts.problems.end());
    // Where the earlier versions went, so that they can be found to move back.
    if (counts.versionsKept > 0)
        Main.DetailList.push_back(
            "以前の版　" + std::to_string(counts.versionsKept) + "　件を残しました　：　" + counts.versionsFolder);

    if (result == kTransferDone) {
        if (m_result) m_result->Open(mode, counts);
    } else if (mode == kModeFolderBackup && result != kTransferCancelled && result != kTransferDeclined) {
        // No to the plan, or to the second question, is the person's choice, not an error.
        AppMessageBox("フオルダーのバックアップでエラーがありました", "ＢａｃｋＵｐ", kMbOk);
    }
}

void TForm2::RunFileOperation()
{
    FileTransfer request;
    request.sourceDir = m_request.currentDir;
    request.destinationDir = Main.DialogTree.CurrentPath(true);
    request.mode = m_request.mode;
    request.options = m_request.options;
    request.names = m_request.files.names;
    RunFileTransfer(request);
}

void RunFileTransfer(const FileTransfer& request)
{
    Main.AbortFlag = std::stop_source();
    FileTransferCounts counts;
    TransferFiles(request, counts, Main.AbortFlag.get_token());
    // Sources a move kept because the destination holds another version join the newer-files list.
    Main.DetailList.insert(Main.DetailList.end(), counts.kept.begin(), counts.kept.end());
}

void TForm2::RunDuplicate()
{
    const int count = DuplicateCountFrom(Edit1->text().trimmed().toStdString());
    // The one selected file (the command made sure there is exactly one), not merely the focused item.
    if (m_request.files.names.empty()) return;
    DuplicateFile(m_request.currentDir, Main.DialogTree.CurrentPath(true), m_request.files.names.front(), count);
}

void TForm2::Button4Click()
{
    Edit1->hide();
    Label6->hide();
    Main.AbortFlag.request_stop();
    reject();
}

void TForm2::reject()
{
    if (m_running) return;
    Edit1->hide();
    Label6->hide();
    QDialog::reject();
}

} // namespace zelo
