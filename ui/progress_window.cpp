// TForm7: the progress window; the callers set its bars and label, its stop button requests AbortFlag.
#include "ui/progress_window.h"

#include "model/state.h"
#include "ui/window_builder.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <algorithm>
#include <cstdint>

namespace zelo {

TForm7::TForm7(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
{
    setupUi(this);
    FinishLayout(this);
    connect(Button1, &QPushButton::clicked, this, &TForm7::Button1Click);
    m_refresh = new QTimer(this);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(0);
    connect(m_refresh, &QTimer::timeout, this, &TForm7::Refresh);
}

void TForm7::Show()
{
    FormActivate(); // placed before it appears, so it does not jump
    show();
    raise();
    activateWindow();
    // Some callers let no events run while they work, so the window is painted once it is on the
    // screen, here, and its bars whenever they move. Only the window system's events run meanwhile,
    // and not for long: a window manager that never shows it does not hold up the command.
    QElapsedTimer waited;
    waited.start();
    while (windowHandle() && !windowHandle()->isExposed() && waited.elapsed() < kExposeWaitMs)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 10);
    repaint();
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

bool TForm7::PaintDue()
{
    if (!isVisible()) return true; // nothing is painted: the values go straight in
    if (m_sincePaint.isValid() && m_sincePaint.elapsed() < kPaintIntervalMs) {
        if (!m_refresh->isActive()) m_refresh->start();
        return false;
    }
    m_sincePaint.start();
    return true;
}

void TForm7::Refresh()
{
    for (const ProgressBar bar : { ProgressBar::Overall, ProgressBar::Block }) {
        QProgressBar* b = Bar(bar);
        b->setValue(std::clamp(m_position[int(bar)], b->minimum(), b->maximum()));
    }
    const QString label = QString::fromStdString(m_label);
    if (Label1->text() != label) Label1->setText(label);
}

void TForm7::ShowPosition(ProgressBar bar)
{
    QProgressBar* b = Bar(bar);
    const int value = std::clamp(m_position[int(bar)], b->minimum(), b->maximum());
    if (value == b->value() || !PaintDue()) return;
    b->setValue(value);
    if (b->isVisible()) b->repaint(); // painted now, without waiting for the event loop
}

void TForm7::SetMax(ProgressBar bar, int max)
{
    QProgressBar* b = Bar(bar);
    if (b->maximum() == std::max(max, 0)) return ShowPosition(bar);
    b->setMaximum(std::max(max, 0));
    ShowPosition(bar);
    // A new range redraws the bar even at the same position.
    if (b->isVisible() && PaintDue()) b->repaint();
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
    // Saturates: a bar's position is an int, and a file over 16 TiB has more blocks than that.
    const int64_t position = int64_t(m_position[int(bar)]) + steps;
    SetPosition(bar, static_cast<int>(std::clamp<int64_t>(position, INT32_MIN, INT32_MAX)));
}

void TForm7::SetBarVisible(ProgressBar bar, bool visible)
{
    Bar(bar)->setVisible(visible);
}

void TForm7::SetLabel(const std::string& text)
{
    m_label = text;
    if (!PaintDue()) return;
    Label1->setText(QString::fromStdString(m_label));
    if (Label1->isVisible()) Label1->repaint();
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
    Main.AbortFlag.request_stop();
    hide();
}

void TForm7::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
    QWidget::changeEvent(event);
}

} // namespace zelo
