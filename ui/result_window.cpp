// TForm6: the result grid of a folder operation; the deleted rows only for a backup.
#include "ui/result_window.h"

#include "engine/folder_transfer.h"
#include "ui/detail_window.h"
#include "ui/fonts.h"
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
    WindowBuilder::SetUpWindow(this, "Form6", "結果", 15, QSize(393, 281));
    setModal(true);
    QFrame* panel = WindowBuilder(this).Panel("Panel1", QRect(0, 0, 393, 281));
    panel->setFrameStyle(QFrame::NoFrame);
    const WindowBuilder grid(panel);
    const auto value = [&grid](const char* name, int x, int y) {
        QLabel* label = grid.Label(name, QRect(x, y, 60, 19), QStringLiteral("0"));
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        return label;
    };

    Label11 = grid.Label("Label11", QRect(16, 8, 300, 24), QStringLiteral("コピ－結果"));
    Label11->setFont(GothicFont(17));
    Label1 = grid.Label("Label1", QPoint(16, 42), QStringLiteral("Ｄｉｒ"));
    Label14 = value("Label14", 100, 42);
    Label2 = grid.Label("Label2", QPoint(40, 66), QStringLiteral("新規"));
    Label3 = value("Label3", 100, 66);
    Label4 = grid.Label("Label4", QPoint(184, 66), QStringLiteral("更新済み"));
    Label5 = value("Label5", 268, 66);
    Label18 = grid.Label("Label18", QPoint(40, 90), QStringLiteral("削除"));
    Label19 = value("Label19", 100, 90);
    Label6 = grid.Label("Label6", QPoint(16, 122), QStringLiteral("フアイル数"));
    Label15 = value("Label15", 100, 122);
    Label7 = grid.Label("Label7", QPoint(40, 146), QStringLiteral("新規"));
    Label8 = value("Label8", 100, 146);
    Label9 = grid.Label("Label9", QPoint(184, 146), QStringLiteral("更新"));
    Label10 = value("Label10", 268, 146);
    Label16 = grid.Label("Label16", QPoint(40, 170), QStringLiteral("削除"));
    Label17 = value("Label17", 100, 170);
    Label12 = grid.Label("Label12", QPoint(184, 170), QStringLiteral("更新済み"));
    Label13 = value("Label13", 268, 170);
    Label20 = grid.Label("Label20", QPoint(16, 206), QStringLiteral("（更新済みの内，元より新しいＦｉｌｅ）"));
    Label20->setAutoFillBackground(true);
    QPalette lime = Label20->palette();
    lime.setColor(QPalette::Window, QColor(0x00, 0xFF, 0x00));
    Label20->setPalette(lime);
    Button2 = grid.Button("Button2", QRect(316, 202, 61, 27), QStringLiteral("0"));
    Button2->setToolTip(QStringLiteral("詳細を表示"));
    Button1 = grid.Button("Button1", QRect(148, 240, 97, 31), QStringLiteral("OK"));
    connect(Button1, &QPushButton::clicked, this, &TForm6::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm6::Button2Click);
    // Enter closes the window; the detail list opens by its own button.
    Button2->setAutoDefault(false);
    Button1->setAutoDefault(false);
    Button1->setDefault(true);
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
