// TForm5: the folder information dialog.
#include "ui/folder_info_dialog.h"

#include "engine/file_info.h"
#include "engine/folder_info.h"
#include "model/state.h"
#include "ui/list_boxes.h"
#include "ui/window_builder.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace zelo {

TForm5::TForm5(QWidget* parent)
    : QDialog(parent)
{
    setupUi(this);
    FinishLayout(this);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
}

void TForm5::FormActivate()
{
    // The disk of the process's current directory (the one the file pane lists).
    if (const auto disk = ReadDiskFigures("")) {
        Label8->setText(ShowBytes(SizeText(disk->total)));
        Label10->setText(ShowBytes(SizeText(disk->free)));
        Label12->setText(ShowBytes(SizeText(disk->used)));
    } else {
        for (QLabel* label : { Label8, Label10, Label12 })
            label->clear();
    }
    Label14->setText(ShowBytes(Main.MainTree.CurrentPath(false)));
    Label16->setText(ShowBytes(Main.MainTree.SelectedPath(false)));
    Label2->setText(QString::number(Main.TreeDirCount));
    Label4->setText(QString::number(Main.TreeFileCount));
    Label6->setText(ShowBytes(SizeText(Main.TreeByteTotal)));
}

void TForm5::Button1Click()
{
    done(QDialog::Accepted);
}

void TForm5::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    FormActivate();
}

} // namespace zelo
