// TForm8: directory attributes and the volume label.
#include "ui/dir_attributes_dialog.h"

#include "engine/folder_info.h"
#include "model/drive_list.h"
#include "model/state.h"
#include "platform/types.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/window_builder.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace zelo {

TForm8::TForm8(TForm1* mainWindow, QWidget* parent)
    : QDialog(parent)
    , m_mainWindow(mainWindow)
{
    setupUi(this);
    FinishLayout(this);
    connect(Button1, &QPushButton::clicked, this, &TForm8::Button1Click);
    connect(Button3, &QPushButton::clicked, this, &TForm8::Button3Click);
    connect(Button2, &QPushButton::clicked, this, &TForm8::Button2Click);
}

std::string TForm8::SelectPath() const
{
    return m_mainWindow ? m_mainWindow->SelectDirPath() : std::string();
}

void TForm8::FormActivate()
{
    const std::string path = SelectPath();
    Label1->setText(ShowBytes(path));
    // The label the drive has now, not the one read when the drive was chosen (it may have been
    // changed here since).
    ReadVolumeLabel(path.substr(0, 3));
    Edit1->setText(ShowBytes(Main.VolumeText));
    // The boxes show the directory named (a drive root included); when it cannot be read they show
    // nothing of it, and "変更" stays off so that they are never written to it.
    const auto attributes = DirectoryAttributes(path);
    for (QCheckBox* box : { CheckBox1, CheckBox2, CheckBox3, CheckBox5 })
        box->setEnabled(attributes.has_value());
    Button1->setEnabled(attributes.has_value());
    if (!attributes) return;
    CheckBox1->setChecked(*attributes & kAttrReadOnly);
    CheckBox2->setChecked(*attributes & kAttrHidden);
    CheckBox3->setChecked(*attributes & kAttrSystem);
    CheckBox4->setChecked(*attributes & kAttrDirectory);
    CheckBox5->setChecked(*attributes & kAttrArchive);
}

void TForm8::Button1Click()
{
    if (!Button1->isEnabled()) return;
    uint32_t ticked = 0;
    if (CheckBox1->isChecked()) ticked |= kAttrReadOnly;
    if (CheckBox2->isChecked()) ticked |= kAttrHidden;
    if (CheckBox3->isChecked()) ticked |= kAttrSystem;
    if (CheckBox5->isChecked()) ticked |= kAttrArchive;
    ChangeDirectoryAttributes(SelectPath(), ticked, [] { Main.MainTree.Refill(false); }); // re-reads the file pane too
}

void TForm8::Button2Click()
{
    done(QDialog::Accepted);
}

void TForm8::Button3Click()
{
    const QByteArray label = Edit1->text().toUtf8();
    const std::string text(label.constData(), size_t(label.size()));
    if (ChangeVolumeLabel(SelectPath(), text)) GroupBox1->setTitle(ShowBytes(text));
}

void TForm8::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
}

} // namespace zelo
