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
    WindowBuilder::SetUpWindow(this, "Form5", "フォルダー　情報", 15, QSize(520, 300));
    setModal(true);
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);

    const WindowBuilder form(this);
    Label13 = form.Label("Label13", QPoint(16, 12), QStringLiteral("Drive"));
    Label14 = form.Label("Label14", QRect(120, 12, 392, 18), QString());
    Label7 = form.Label("Label7", QPoint(16, 40), QStringLiteral("DiskSize"));
    Label8 = form.Label("Label8", QRect(120, 40, 392, 18), QString());
    Label11 = form.Label("Label11", QPoint(16, 64), QStringLiteral("Used"));
    Label12 = form.Label("Label12", QRect(120, 64, 392, 18), QString());
    Label9 = form.Label("Label9", QPoint(16, 88), QStringLiteral("Free"));
    Label10 = form.Label("Label10", QRect(120, 88, 392, 18), QString());

    Panel1 = form.Panel("Panel1", QRect(8, 118, 504, 130));
    const WindowBuilder panel(Panel1);
    Label15 = panel.Label("Label15", QPoint(8, 10), QStringLiteral("選択フォルダー"));
    Label16 = panel.Label("Label16", QRect(112, 10, 384, 18), QString());
    Label17 = panel.Label("Label17", QPoint(8, 38), QStringLiteral("Dir 数"));
    Label2 = panel.Label("Label2", QRect(112, 38, 384, 18), QString());
    Label3 = panel.Label("Label3", QPoint(8, 66), QStringLiteral("File数"));
    Label4 = panel.Label("Label4", QRect(112, 66, 384, 18), QString());
    Label5 = panel.Label("Label5", QPoint(8, 94), QStringLiteral("FileSize"));
    Label6 = panel.Label("Label6", QRect(112, 94, 384, 18), QString());

    Button1 = form.Button("Button1", QRect(210, 260, 100, 30), QStringLiteral("OK"));
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
