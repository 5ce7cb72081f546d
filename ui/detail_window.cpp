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
    // A list to read (Memo1 is read-only): Enter in it reaches the window, whose default button closes it.
    setupUi(this);
    FinishLayout(this);
    connect(Button1, &QPushButton::clicked, this, &TForm9::Button1Click);
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
