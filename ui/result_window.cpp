// TForm6: the result grid of a folder operation; the deleted rows only for a backup.
#include "ui/result_window.h"

#include "engine/folder_transfer.h"
#include "ui/detail_window.h"
#include "ui/window_builder.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>

namespace zelo {

const char* ResultTitle(int mode)
{
    switch (mode) {
    case kModeFolderCopy:
        return "コピー結果";
    case kModeFolderMove:
        return "移動結果";
    case kModeFolderBackup:
        return "バックアップ結果";
    default:
        return nullptr;
    }
}

TForm6::TForm6(QWidget* parent, TForm9* detail)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint)
    , m_detail(detail)
{
    setupUi(this);
    FinishLayout(this);
    // In the layout Button1 alone is a default button: Enter closes the window, and the detail list opens
    // only by its own button.
    Label20->setAutoFillBackground(true);
    QPalette lime = Label20->palette();
    lime.setColor(QPalette::Window, QColor(0x00, 0xFF, 0x00));
    Label20->setPalette(lime);
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
}

void TForm6::SetCounts(int mode, const TransferCounts& counts)
{
    m_mode = mode;
    m_counts = counts;
}

int TForm6::Open(int mode, const TransferCounts& counts)
{
    SetCounts(mode, counts);
    return exec();
}

void TForm6::FormActivate()
{
    for (QLabel* label : { Label16, Label17, Label18, Label19 })
        label->hide();
    const TransferCounts& counts = m_counts;
    if (const char* title = ResultTitle(m_mode)) Label11->setText(QString::fromUtf8(title));
    if (m_mode == kModeFolderBackup) {
        for (QLabel* label : { Label16, Label17, Label18, Label19 })
            label->show();
        Label17->setText(QString::number(counts.deletedFiles));
        Label19->setText(QString::number(counts.deletedDirs));
    }
    Button2->setText(QString::number(counts.newerAtDest));
    Label3->setText(QString::number(counts.createdDirs));
    Label5->setText(QString::number(counts.existingDirs));
    Label8->setText(QString::number(counts.newFiles));
    Label10->setText(QString::number(counts.updatedFiles));
    Label13->setText(QString::number(counts.upToDateFiles));
    // Sums in 64 bits: the two counts of a huge tree must not wrap into a negative total.
    Label15->setText(
        QString::number(qint64(counts.newFiles) + qint64(counts.updatedFiles) + qint64(counts.upToDateFiles)));
    Label14->setText(QString::number(qint64(counts.createdDirs) + qint64(counts.existingDirs)));
    if (const QWidget* mainWindow = parentWidget())
        PlaceFrameAt(this, mainWindow->frameGeometry().topLeft() + QPoint(250, 100));
}

void TForm6::showEvent(QShowEvent* event)
{
    FormActivate();
    QDialog::showEvent(event);
    Button1->setFocus(Qt::OtherFocusReason);
}

void TForm6::Button1Click()
{
    accept();
}

void TForm6::Button2Click()
{
    if (m_detail) m_detail->exec();
}

} // namespace zelo
