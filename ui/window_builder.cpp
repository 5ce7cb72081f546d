// The windows' shared finishing: faces, self-sizing labels, fitted captions, placing.
#include "ui/window_builder.h"

#include "ui/fonts.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QRect>
#include <QStyle>
#include <QVariant>

namespace zelo {

void SetUpWindow(QWidget* window, const char* name, const char* caption, int pixelSize, QSize client)
{
    window->setObjectName(QString::fromUtf8(name));
    window->setWindowTitle(QString::fromUtf8(caption));
    window->setFont(GothicFont(pixelSize));
    if (client.isValid()) window->setFixedSize(client);
}

bool CaptionFits(const QWidget* control)
{
    if (auto* box = qobject_cast<const QCheckBox*>(control)) return box->sizeHint().width() <= box->width();
    if (auto* button = qobject_cast<const QPushButton*>(control)) {
        const int margin = button->style()->pixelMetric(QStyle::PM_ButtonMargin, nullptr, button);
        const int frame = button->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, button);
        return button->fontMetrics().horizontalAdvance(button->text()) + 2 * (margin + frame) <= button->width();
    }
    if (auto* label = qobject_cast<const QLabel*>(control))
        return label->wordWrap() || label->pixmap().isNull() == false
            || label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width();
    return true;
}

void FitCaption(QWidget* control)
{
    for (int step = 0; step < 3 && !CaptionFits(control); ++step) {
        QFont smaller = control->font();
        if (smaller.pixelSize() <= 6) return;
        smaller.setPixelSize(smaller.pixelSize() - 1);
        control->setFont(smaller);
    }
}

void FinishLayout(QWidget* window)
{
    const auto applyFace = [](QWidget* widget) {
        if (const QVariant height = widget->property("gothicPixelSize"); height.isValid())
            widget->setFont(GothicFont(height.toInt()));
        if (const QVariant height = widget->property("minchoPixelSize"); height.isValid())
            widget->setFont(MinchoFont(height.toInt()));
    };
    applyFace(window);
    QList<QWidget*> controls;
    for (QWidget* control : window->findChildren<QWidget*>())
        if (control->window() == window->window()) controls.push_back(control); // not the windows it owns
    for (QWidget* control : controls)
        applyFace(control);
    for (QWidget* control : controls) {
        if (control->property("autoSize").toBool()) control->adjustSize();
        if (qobject_cast<QCheckBox*>(control) || qobject_cast<QPushButton*>(control)) FitCaption(control);
    }
}

} // namespace zelo

namespace zelo {

void PlaceFrameAt(QWidget* window, QPoint framePosition, const QWidget* reference)
{
    QPoint frameOffset = window->geometry().topLeft() - window->frameGeometry().topLeft();
    if (!reference && window->parentWidget()) reference = window->parentWidget()->window();
    if (frameOffset.isNull() && reference)
        frameOffset = reference->geometry().topLeft() - reference->frameGeometry().topLeft();
    window->setGeometry(QRect(framePosition + frameOffset, window->size()));
}

void CentreFrameOn(QWidget* window, const QWidget* over)
{
    // The window's frame is taken to be as wide as that of the window it stands over.
    const QMargins margins(over->geometry().left() - over->frameGeometry().left(),
        over->geometry().top() - over->frameGeometry().top(), over->frameGeometry().right() - over->geometry().right(),
        over->frameGeometry().bottom() - over->geometry().bottom());
    QRect frame(QPoint(), window->size().grownBy(margins));
    frame.moveCenter(over->frameGeometry().center());
    PlaceFrameAt(window, frame.topLeft(), over);
}

} // namespace zelo
