// TForm4: the file information dialog.
#include "ui/file_info_dialog.h"

#include "engine/file_info.h"
#include "model/state.h"
#include "platform/types.h"
#include "ui/fonts.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/window_builder.h"

#include <QCheckBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

namespace zelo {

TForm4::TForm4(TForm1* mainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_mainWindow(mainWindow)
{
    WindowBuilder::SetUpWindow(this, "Form4", "Ｆｉｌｅ情報", 15, QSize(520, 330));
    setModal(true);
    Panel1 = WindowBuilder(this).Panel("Panel1", QRect(0, 0, 520, 330));
    const WindowBuilder panel(Panel1);
    Label1 = panel.Label("Label1", QRect(8, 8, 504, 26), QStringLiteral("Label1"));
    Label1->setFont(GothicFont(18));
    Label4 = panel.Label("Label4", QPoint(16, 46), QStringLiteral("サイズ"));
    Label5 = panel.Label("Label5", QRect(96, 46, 416, 18), QString());
    Label8 = panel.Label("Label8", QPoint(16, 70), QStringLiteral("作成日"));
    Label9 = panel.Label("Label9", QRect(96, 70, 416, 18), QString());
    Label6 = panel.Label("Label6", QPoint(16, 94), QStringLiteral("アクセス"));
    Label7 = panel.Label("Label7", QRect(96, 94, 416, 18), QString());
    Label2 = panel.Label("Label2", QPoint(16, 118), QStringLiteral("更新日"));
    Label3 = panel.Label("Label3", QRect(96, 118, 416, 18), QString());

    GroupBox2 = panel.GroupBox("GroupBox2", QRect(16, 148, 140, 52), QStringLiteral("変更の対象"));
    Label10 = WindowBuilder(GroupBox2).Label("Label10", QRect(12, 24, 120, 18), QString());

    GroupBox1 = panel.GroupBox("GroupBox1", QRect(168, 148, 344, 128), QStringLiteral("Attribute"));
    const WindowBuilder group(GroupBox1);
    CheckBox1 = group.CheckBox("CheckBox1", QRect(12, 22, 120, 20), "ReadOnly", nullptr, false);
    CheckBox2 = group.CheckBox("CheckBox2", QRect(150, 22, 120, 20), "Hidden", nullptr, false);
    CheckBox4 = group.CheckBox("CheckBox4", QRect(12, 46, 120, 20), "SysFile", nullptr, false);
    CheckBox5 = group.CheckBox("CheckBox5", QRect(150, 46, 120, 20), "Directory", nullptr, false);
    CheckBox5->setEnabled(false);
    CheckBox3 = group.CheckBox("CheckBox3", QRect(12, 70, 120, 20), "Archive", nullptr, false);
    Label11
        = group.Label("Label11", QRect(12, 98, 328, 18), QStringLiteral("複数選択時は現在のＡｔｔｒｉｂは表示しない"));
    Label11->setFont(GothicFont(12));
    QPalette grey = Label11->palette();
    grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    Label11->setPalette(grey);

    Button2 = panel.Button("Button2", QRect(60, 288, 110, 30), QStringLiteral("変更"));
    Button2->setToolTip(QStringLiteral("属性の変更"));
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
    Button1 = panel.Button("Button1", QRect(200, 288, 110, 30), QStringLiteral("終了"));
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
    // Enter must never change files: it presses the button that closes the window.
    Button2->setAutoDefault(false);
    Button1->setAutoDefault(false);
    Button1->setDefault(true);
}

void TForm4::FormActivate()
{
    if (!m_mainWindow) return;
    const FileListBox* files = m_mainWindow->FileBx1;
    const FileInfo info
        = GatherFileInfo(Selection::Of(Main.MainTree.CurrentPath(true), files->Names(), files->SelectedFlags()));
    Label9->setText(ShowBytes(info.created));
    Label7->setText(ShowBytes(info.accessed));
    Label3->setText(ShowBytes(info.written));
    Label10->setText(ShowBytes(info.target));
    for (const auto& [box, bit] : AttributeBoxes()) {
        box->setTristate(false);
        if (info.selectedCount >= 2) {
            // A bit the files differ in starts in the third state, which "変更" leaves as each file has it.
            const bool mixed = (info.anySet & bit) && !(info.allSet & bit);
            box->setTristate(mixed);
            box->setCheckState(mixed ? Qt::PartiallyChecked : (info.allSet & bit) ? Qt::Checked : Qt::Unchecked);
        } else if (info.attributes) {
            box->setChecked(*info.attributes & bit);
        }
    }
    if (info.selectedCount < 2 && info.attributes) CheckBox5->setChecked(*info.attributes & kAttrDirectory);
    if (info.title) Label1->setText(ShowBytes(*info.title));
    Label5->setText(ShowBytes(info.sizeText));
}

void TForm4::Button1Click()
{
    done(QDialog::Rejected);
}

void TForm4::Button2Click()
{
    uint32_t word = CheckBox5->isChecked() ? uint32_t(kAttrDirectory) : 0u;
    uint32_t keep = 0;
    for (const auto& [box, bit] : AttributeBoxes()) {
        if (box->checkState() == Qt::PartiallyChecked) keep |= bit;
        if (box->checkState() == Qt::Checked) word |= bit;
    }
    if (m_mainWindow) {
        FileListBox* files = m_mainWindow->FileBx1;
        ApplyFileAttributes(
            Selection::Of(Main.MainTree.CurrentPath(true), files->Names(), files->SelectedFlags()), word,
            [files] { files->Reread(); }, keep);
    }
    done(QDialog::Accepted);
}

std::vector<std::pair<QCheckBox*, uint32_t>> TForm4::AttributeBoxes() const
{
    return { { CheckBox1, kAttrReadOnly }, { CheckBox2, kAttrHidden }, { CheckBox4, kAttrSystem },
        { CheckBox3, kAttrArchive } };
}

void TForm4::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
    Button1->setFocus(Qt::OtherFocusReason);
}

} // namespace zelo
