// TForm4: the file information dialog.
#include "ui/file_info_dialog.h"

#include "engine/file_info.h"
#include "model/state.h"
#include "platform/types.h"
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
    // Enter must never change files: in the layout it presses Button1, which closes the window.
    setupUi(this);
    FinishLayout(this);
    QPalette grey = Label11->palette();
    grey.setColor(QPalette::WindowText, QColor(0x80, 0x80, 0x80));
    Label11->setPalette(grey);
    connect(Button2, &QPushButton::clicked, this, &TForm4::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TForm4::Button1Click);
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
    // Placed by its frame, so the first showing (before the window manager has framed it) lands where
    // every later one does.
    if (m_mainWindow) CentreFrameOn(this, m_mainWindow);
    QDialog::showEvent(event);
    FormActivate();
    Button1->setFocus(Qt::OtherFocusReason);
}

} // namespace zelo
