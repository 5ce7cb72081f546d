// SaveListDialog: the save dialog of the file list, in drive paths and Japanese.
#include "ui/save_list_dialog.h"

#include "model/drive_list.h"
#include "platform/drive_path.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
#include "ui/drive_combo_box.h"
#include "ui/fonts.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/window_builder.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace zelo {

SaveListDialog::SaveListDialog(QWidget* parent, const DriveComboBox& drives)
    : QDialog(parent)
{
    WindowBuilder::SetUpWindow(this, "SaveDialog1", "名前を付けて保存", 15, QSize(560, 400));
    setModal(true);
    const WindowBuilder form(this);
    form.Label("DriveLabel", QPoint(8, 12), QStringLiteral("保存する場所"));
    CBox1 = new DriveComboBox(this);
    CBox1->setObjectName(QStringLiteral("CBox1"));
    CBox1->setGeometry(104, 8, 169, 26);
    CBox1->setFont(MinchoFont(18));
    for (int i = 0; i < drives.Count(); ++i)
        CBox1->AddItem(drives.Item(i));

    DirBx1 = new DirListBox(this, [this](int index) { return m_tree.GetMarker(index); });
    DirBx1->setObjectName(QStringLiteral("DirBx1"));
    DirBx1->setGeometry(8, 42, 268, 270);
    DirBx1->setFont(GothicFont(20));
    FileBx1 = new FileListBox(this);
    FileBx1->setObjectName(QStringLiteral("FileBx1"));
    FileBx1->setGeometry(284, 42, 268, 270);
    FileBx1->setFont(GothicFont(20));
    FileBx1->setSelectionMode(QAbstractItemView::SingleSelection);
    m_tree.Bind(DirBx1, FileBx1);

    NameLabel = form.Label("NameLabel", QPoint(8, 326), QStringLiteral("ファイル名"));
    NameEdit = form.Edit("NameEdit", QRect(104, 322, 448, 26));
    SaveButton = form.Button("SaveButton", QRect(344, 360, 96, 30), QStringLiteral("保存"));
    SaveButton->setDefault(true);
    CancelButton = form.Button("CancelButton", QRect(456, 360, 96, 30), QStringLiteral("キャンセル"));

    connect(CBox1, &DriveComboBox::UserChange, this, &SaveListDialog::CBox1Change);
    connect(DirBx1, &ClickListBox::DblClick, this, &SaveListDialog::DirBx1DblClick);
    connect(FileBx1, &ClickListBox::Click, this, &SaveListDialog::FileBx1Click);
    connect(SaveButton, &QPushButton::clicked, this, &SaveListDialog::SaveClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void SaveListDialog::Open(const std::string& directory, FileTypeState fileType, bool showHidden)
{
    m_target.clear();
    m_tree.SetShowHidden(showHidden ? 1 : 0);
    FileBx1->SetFileType(fileType);
    if (directory.size() >= 3) EnterDrivePath(m_tree, *DirBx1, WithoutSeparator(WithOneSeparator(directory)));
    ShowDirectory();
}

void SaveListDialog::ShowDirectory()
{
    const std::string root = m_tree.DriveText(true);
    for (int i = 0; i < CBox1->Count(); ++i)
        if (CBox1->Item(i).compare(0, 2, root, 0, 2) == 0) CBox1->SetSelectedIndex(i);
}

void SaveListDialog::CBox1Change()
{
    const std::string text = CBox1->EditText();
    if (text.empty()) return;
    const char letter = char(std::toupper(static_cast<unsigned char>(text[0])));
    const std::string root { letter, ':', '\\' };
    if (ReadVolumeLabel(root) == 1) {
        m_tree.SetDrive(root);
        m_tree.Refill(false);
    }
    ShowDirectory();
}

void SaveListDialog::DirBx1DblClick()
{
    m_tree.Refill(true);
}

void SaveListDialog::FileBx1Click()
{
    const std::string name = FileBx1->FocusedName();
    if (!name.empty()) NameEdit->setText(ShowBytes(name));
}

void SaveListDialog::SaveClick()
{
    const QString typed = NameEdit->text().trimmed();
    if (typed.isEmpty()) return;
    // A bare name is saved in the directory shown; a drive path ("D:\list.txt", "\list.txt",
    // "sub\list.txt") is resolved as the system resolves it.
    const auto folder = driveMap().toLinux(m_tree.CurrentPath(false));
    if (!folder) return;
    const QString directory = QFile::decodeName(QByteArray::fromStdString(*folder));
    m_target = SaveDialogTarget(directory, directory + (directory.endsWith('/') ? "" : "/") + typed);
    if (!m_target.isEmpty()) accept();
}

void SaveListDialog::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    NameEdit->setFocus(Qt::OtherFocusReason);
}

} // namespace zelo
