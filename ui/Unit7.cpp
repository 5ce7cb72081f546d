#include "ui/Unit7.h"

#include "model/state.h"
#include "ui/fonts.h"

#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

#include <algorithm>

namespace zelo {

namespace {
QProgressBar* MakeBar(QWidget* parent, const QRect& geometry)
{
    auto* bar = new QProgressBar(parent);
    bar->setGeometry(geometry);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}
} // namespace

TForm7::TForm7(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setObjectName(QStringLiteral("Form7"));
    setWindowTitle(QStringLiteral("進行状況"));
    setFont(GothicFont(15));
    setFixedSize(461, 53);

    PBar1 = MakeBar(this, QRect(8, 6, 361, 17));
    PBar1->setObjectName(QStringLiteral("PBar1"));
    PBar2 = MakeBar(this, QRect(8, 26, 361, 6));
    PBar2->setObjectName(QStringLiteral("PBar2"));
    PBar2->hide();

    Label1 = new QLabel(QStringLiteral("Label1"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(8, 34, 361, 17);

    Button1 = new QPushButton(QStringLiteral("中止"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setFont(GothicFont(12));
    Button1->setGeometry(378, 12, 75, 29);
    connect(Button1, &QPushButton::clicked, this, &TForm7::Button1Click);
}

void TForm7::Show()
{
    FormActivate(); // placed before it appears, so it does not jump
    show();
    raise();
    activateWindow();
}

void TForm7::Close()
{
    hide();
}

bool TForm7::IsVisible() const
{
    return isVisible();
}

QProgressBar* TForm7::Bar(ProgressBar bar) const
{
    return bar == ProgressBar::Overall ? PBar1 : PBar2;
}

void TForm7::ShowPosition(ProgressBar bar)
{
    QProgressBar* b = Bar(bar);
    b->setValue(std::clamp(m_position[int(bar)], b->minimum(), b->maximum()));
}

void TForm7::SetMax(ProgressBar bar, int max)
{
    Bar(bar)->setMaximum(std::max(max, 0));
    ShowPosition(bar);
}

void TForm7::SetPosition(ProgressBar bar, int position)
{
    m_position[int(bar)] = position;
    ShowPosition(bar);
}

int TForm7::Position(ProgressBar bar) const
{
    return m_position[int(bar)];
}

void TForm7::Step(ProgressBar bar, int steps)
{
    SetPosition(bar, m_position[int(bar)] + steps);
}

void TForm7::SetBarVisible(ProgressBar bar, bool visible)
{
    Bar(bar)->setVisible(visible);
}

void TForm7::SetLabel(const std::string& text)
{
    Label1->setText(QString::fromUtf8(text.data(), qsizetype(text.size())));
}

void TForm7::SetStopVisible(bool visible)
{
    Button1->setVisible(visible);
}

void TForm7::FormActivate()
{
    move(400, 110);
}

void TForm7::Button1Click()
{
    Main.AbortFlag = kAbortRequested;
    hide();
}

void TForm7::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
    QWidget::changeEvent(event);
}

} // namespace zelo
