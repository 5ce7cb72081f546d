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
    setupUi(this);
    FinishLayout(this);
    for (int i = 0; i < drives.Count(); ++i)
        CBox1->AddItem(drives.Item(i));

    // The directory pane draws the tree's markers, so it is made here; it stands after the drive selector.
    DirBx1 = new DirListBox(this, [this](int index) { return m_tree.GetMarker(index); });
    DirBx1->setObjectName(QStringLiteral("DirBx1"));
    DirBx1->setGeometry(8, 42, 268, 270);
    DirBx1->setFont(GothicFont(20));
    setTabOrder(CBox1, DirBx1);
    m_tree.Bind(DirBx1, FileBx1);

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
