// TForm9: the memo of newer destination files and its OK button.
#include "ui/detail_window.h"

#include "model/state.h"
#include "ui/list_boxes.h"
#include "ui/window_builder.h"

#include <QPlainTextEdit>
#include <QPushButton>

namespace zelo {

TForm9::TForm9(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint)
{
    WindowBuilder::SetUpWindow(this, "Form9", "Form9", 15, QSize(641, 361));
    setModal(true);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setObjectName(QStringLiteral("Memo1"));
    Memo1->setGeometry(8, 8, 625, 305);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // A list to read: Enter in it reaches the window and closes it.
    Memo1->setReadOnly(true);
    const WindowBuilder controls(this);
    Button1 = controls.Button("Button1", QRect(272, 322, 97, 31), QStringLiteral("OK"));
    connect(Button1, &QPushButton::clicked, this, &TForm9::Button1Click);
    Button1->setAutoDefault(false);
    Button1->setDefault(true);
}

void TForm9::FormActivate()
{
    QString text;
    for (const std::string& line : m_lines ? *m_lines : Main.DetailList) {
        if (!text.isEmpty()) text += QLatin1Char('\n');
        text += ShowBytes(line);
    }
    Memo1->setPlainText(text);
}

void TForm9::showEvent(QShowEvent* event)
{
    FormActivate();
    QDialog::showEvent(event);
    Button1->setFocus(Qt::OtherFocusReason);
}

void TForm9::Button1Click()
{
    accept();
}

} // namespace zelo
