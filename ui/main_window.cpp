// TForm1: the main window's controls, start-up, activation and end, the directory pane's handlers
// and the deletion and directory-creation commands.
#include "ui/main_window.h"

#include "engine/delete_commands.h"
#include "engine/network.h"
#include "model/drive_list.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "platform/shell.h"
#include "platform/ui_services.h"
#include "ui/command_guard.h"
#include "ui/drive_combo_box.h"
#include "ui/fonts.h"
#include "ui/help_window.h"
#include "ui/input_dialog.h"
#include "ui/list_boxes.h"
#include "ui/window_builder.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>

namespace zelo {

QPoint MainWindowActivationPosition(int fullScreenClientHeight)
{
    return fullScreenClientHeight >= 900 ? QPoint(200, 120) : QPoint(100, 70);
}

namespace {

// The filter presets of FBox1, in order.
const char* const kFilterPresets[] = {
    "*.*",
    "*.cpp;*.h;*.dfm;*.res;*.bpr;*.bpg;*.mak;*.bpl;*.bpi;*.ico",
    "*.exe",
    "*.bmp",
    "*.jpg",
    "*.mpg;*.mpe;*.mpeg",
    "*.mov;*.qt",
    "*.html",
    "*.ico",
    "*.~*;*.obj",
};

} // namespace

TForm1::TForm1(QWidget* parent)
    : QMainWindow(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    InstallFontSubstitutions();
    SetUpWindow(this, "Form1", "Zelo32 Ver 2.20", 15, QSize());

    ShowInputDialog = [this] {
        if (m_input) m_input->exec();
    };
    AskSaveFileName = [this] { return RunSaveDialog(); };
    OpenWithShell = [](const std::string& path) { ShellOpen(path); };

    BuildControls();
    BuildMenus();
    ConnectHandlers();
    InstallKeysAndDrops();
    InstallWatcher();
    resize(kClientWidth, kClientHeight + menuBar()->sizeHint().height());
    FormCreate();
}

TForm1::~TForm1() = default;

void TForm1::SetDialogs(TForm3* input, THelp* help)
{
    m_input = input;
    m_help = help;
}

void TForm1::BuildControls()
{
    auto* client = new QWidget(this);
    setupUi(client);
    FinishLayout(client);
    setCentralWidget(client);
    TopPanel = Panel1;
    BottomPanel = Panel2;

    CBox1->view()->setItemDelegate(new FixedHeightDelegate(CBox1->view(), 18, 0));
    FBox1->setCompleter(nullptr); // the mask is what was typed, never a completion of it
    for (const char* preset : kFilterPresets)
        FBox1->addItem(QString::fromUtf8(preset));
    FBox1->setEditText(QStringLiteral("*.*"));

    // The directory pane draws the tree's markers, so it is made here; it stands after the option boxes.
    DirBx1 = new DirListBox(TopPanel, [](int index) { return Main.MainTree.GetMarker(index); });
    DirBx1->setObjectName(QStringLiteral("DirBx1"));
    DirBx1->setGeometry(8, 58, 313, 382);
    DirBx1->setFont(GothicFont(22));
    DirBx1->setToolTip(QStringLiteral("右クリックでメニューが表示"));
    setTabOrder(CheckBox3, DirBx1);

    Label3->setAutoFillBackground(true);
    QPalette lime = Label3->palette();
    lime.setColor(QPalette::Window, QColor(0x00, 0xFF, 0x00));
    Label3->setPalette(lime);
}

void TForm1::ConnectHandlers()
{
    connect(CheckBox1, &QCheckBox::clicked, this, &TForm1::CheckBox1Click);
    connect(CBox1, &DriveComboBox::UserChange, this, &TForm1::CBox1Change);
    connect(CBox1, &DriveComboBox::DropDown, this, &TForm1::CBox1DropDown);
    connect(CBox1, &DriveComboBox::DblClick, this, &TForm1::CBox1DblClick);
    connect(FBox1, &QComboBox::editTextChanged, this, &TForm1::FBox1Change);
    connect(Check1, &QCheckBox::clicked, this, &TForm1::Check1Click);
    connect(Check2, &QCheckBox::clicked, this, &TForm1::Check2Click);
    connect(DirBx1, &ClickListBox::Click, this, &TForm1::DirBx1Click);
    connect(DirBx1, &ClickListBox::DblClick, this, &TForm1::DirBx1DblClick);
    connect(FileBx1, &FileListBox::Change, this, &TForm1::FileBx1Change);
    connect(FileBx1, &ClickListBox::Click, this, &TForm1::FileBx1Click);
    connect(FileBx1, &ClickListBox::DblClick, this, &TForm1::FileBx1DblClick);
}

void TForm1::SetPathLabel(QLabel* label, const std::string& path)
{
    if (label == Label4) m_currentPath = path;
    if (label == Label9) m_selectPath = path;
    label->setText(ShowName(path)); // display only: the path is kept above
    label->adjustSize();
}

void TForm1::ShowDirCount()
{
    Label6->setText(QString::number(DirBx1->Count()));
    Label6->adjustSize();
}

CommandOptions TForm1::Options() const
{
    CommandOptions options;
    options.clearReadOnly = CBox2->isChecked();
    options.cdromWritable = CheckBox1->isChecked();
    options.newerOnly = CheckBox2->isChecked();
    options.checkFreeSpace = CheckBox3->isChecked();
    return options;
}

// ---- start-up, activation, end ----

void TForm1::FormCreate()
{
    Main.StartPath = ComputeStartPath();
    fs().SetCurrentDirectory(Main.StartPath);

    CBox1->ClearItems();
    FillDriveCombo(*CBox1);
    ComputeDriveFlags(*CBox1);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.width() / 8, area.height() / 9);
    }

    Main.MainTree.Bind(DirBx1, FileBx1);
    Main.MainTree.SetDrive(Main.StartPath);
    Main.MainTree.Refill(true);

    const std::string current = Main.MainTree.CurrentPath(false);
    SetPathLabel(Label4, current);
    SetPathLabel(Label9, current);
    ShowDirCount();

    CBox1->SetEditText(Main.StartPath);
}

void TForm1::FormActivate()
{
    const QScreen* screen = QGuiApplication::primaryScreen();
    const int clientHeight = screen ? screen->availableGeometry().height() : 0;
    move(MainWindowActivationPosition(clientHeight));
}

void TForm1::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange) {
        if (isActiveWindow()) {
            if (m_moveOnActivate) FormActivate();
            // A network or FUSE drive sends no events for others' changes: catch up now.
            if (m_refillOnActivate) OutsideChange();
        } else {
            // Left for another window of the program (a dialog): move back when it closes.
            // Left for another application: stay where the user put the window.
            m_moveOnActivate = QApplication::activeWindow() != nullptr;
        }
    }
    QMainWindow::changeEvent(event);
}

void TForm1::FormClose()
{
    Main.MainTree.SetDrive(Main.StartPath);
    Main.MainTree.Refill(false);
    if (CheckBox4->isChecked()) {
        const size_t count = size_t(std::min<int>(Main.NetDriveCount, int(Main.NetDrives.size())));
        DisconnectNetworkDrives({ Main.NetDrives.begin(), Main.NetDrives.begin() + count });
    }
}

void TForm1::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
    QMainWindow::closeEvent(event);
}

void TForm1::Exit1Click()
{
    close();
}

void TForm1::HEILP1Click()
{
    if (m_help) m_help->exec();
}

void TForm1::CheckBox1Click()
{
    UpdateWriteCommands();
}

void TForm1::UpdateWriteCommands()
{
    const std::string root = m_currentPath.empty() ? std::string() : m_currentPath.substr(0, 1) + ":\\";
    const bool locked = !root.empty() && GetDriveType(root) == kDriveCdrom && !CheckBox1->isChecked();
    for (const QString& name : WriteCommandNames())
        if (QAction* item = MenuItem(name)) item->setEnabled(!locked);
}

// ---- directory pane ----

void TForm1::DirBx1Click()
{
    Image1->hide();
    if (DirBx1->SelectedIndex() <= 0)
        SetPathLabel(Label9, Main.MainTree.CurrentPath(true));
    else
        SetPathLabel(Label9, Main.MainTree.SelectedPath(false));
}

void TForm1::DirBx1DblClick()
{
    if (DirBx1->SelectedIndex() == 0) {
        // The root of a drive outside the start-up run of fixed drives: check its medium again.
        const int item = CBox1->SelectedIndex();
        const int flag = (item >= 0 && item < int(Main.DriveFlags.size())) ? Main.DriveFlags[size_t(item)] : 0;
        if (flag == 0) CBox1Change();
    }
    Main.MainTree.Refill(true); // the file pane reads the directory it is given
    SetPathLabel(Label4, Main.MainTree.CurrentPath(false));
    SetPathLabel(Label9, Main.MainTree.SelectedPath(false));
    ShowDirCount();
}

// ---- deletion and directory creation ----

void TForm1::Delete1Click()
{
    const CommandGuard guard(this);
    DeleteSelectedFiles(Selection::Of(Main.MainTree.CurrentPath(true), FileBx1->Names(), FileBx1->SelectedFlags()),
        Options(), [this] { FileBx1->Reread(); });
}

void TForm1::N1Click()
{
    const CommandGuard guard(this);
    // The pane stays in the current directory; a removed subdirectory leaves the list.
    DeleteDirectoryCommand(Main.MainTree.CurrentPath(true), Main.MainTree.SelectedPath(true), Options(), [this] {
        Main.MainTree.Refill(false); // re-reads the file pane as well
        ShowDirCount();
    });
}

void TForm1::MKDIR1Click()
{
    Main.InputMode = kInputOfferCurrentPath;
    if (ShowInputDialog) ShowInputDialog();
    if (Main.InputMode == kInputCancelled) return;
    if (!MakeDirectory(Main.InputText)) return; // the error was reported
    Main.MainTree.Refill(true);
    // The refill may have entered the selected subdirectory: the labels follow it.
    SetPathLabel(Label4, Main.MainTree.CurrentPath(false));
    SetPathLabel(Label9, Main.MainTree.SelectedPath(false));
    ShowDirCount();
}

void TForm1::bak1Click()
{
    const CommandGuard guard(this);
    DeleteBackupFiles(Main.MainTree.SelectedPath(true), Options(), [this] { FileBx1->Reread(); });
}

} // namespace zelo
