// WindowBuilder: the one place where the windows' controls are made.
#include "ui/window_builder.h"

#include "ui/fonts.h"

#include <QCheckBox>
#include <QFontMetrics>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>
#include <QVariant>

namespace zelo {

WindowBuilder::WindowBuilder(QWidget* parent)
    : m_parent(parent)
{
}

void WindowBuilder::SetUpWindow(QWidget* window, const char* name, const char* caption, int pixelSize, QSize client)
{
    window->setObjectName(QString::fromUtf8(name));
    window->setWindowTitle(QString::fromUtf8(caption));
    window->setFont(GothicFont(pixelSize));
    if (client.isValid()) window->setFixedSize(client);
}

QLabel* WindowBuilder::Label(const char* name, QPoint at, const QString& text) const
{
    auto* label = new QLabel(text, m_parent);
    label->setObjectName(QString::fromUtf8(name));
    label->move(at);
    label->adjustSize();
    return label;
}

QLabel* WindowBuilder::Label(const char* name, const QRect& geometry, const QString& text) const
{
    auto* label = new QLabel(text, m_parent);
    label->setObjectName(QString::fromUtf8(name));
    label->setGeometry(geometry);
    return label;
}

QCheckBox* WindowBuilder::CheckBox(
    const char* name, const QRect& geometry, const char* caption, const char* hint, bool checked) const
{
    auto* box = new QCheckBox(QString::fromUtf8(caption), m_parent);
    box->setObjectName(QString::fromUtf8(name));
    box->setGeometry(geometry);
    if (hint) box->setToolTip(QString::fromUtf8(hint));
    box->setChecked(checked);
    FitCaption(box);
    return box;
}

QFrame* WindowBuilder::Panel(const char* name, const QRect& geometry) const
{
    auto* panel = new QFrame(m_parent);
    panel->setObjectName(QString::fromUtf8(name));
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setGeometry(geometry);
    return panel;
}

QProgressBar* WindowBuilder::Bar(const char* name, const QRect& geometry) const
{
    auto* bar = new QProgressBar(m_parent);
    bar->setObjectName(QString::fromUtf8(name));
    bar->setGeometry(geometry);
    bar->setRange(0, 100);
    bar->setValue(0);
    bar->setTextVisible(false);
    return bar;
}

QPushButton* WindowBuilder::Button(const char* name, const QRect& geometry, const QString& caption, int pixelSize) const
{
    auto* button = new QPushButton(caption, m_parent);
    button->setObjectName(QString::fromUtf8(name));
    if (pixelSize > 0) button->setFont(GothicFont(pixelSize));
    button->setGeometry(geometry);
    FitCaption(button);
    return button;
}

QLineEdit* WindowBuilder::Edit(const char* name, const QRect& geometry) const
{
    auto* edit = new QLineEdit(m_parent);
    edit->setObjectName(QString::fromUtf8(name));
    edit->setGeometry(geometry);
    return edit;
}

QGroupBox* WindowBuilder::GroupBox(const char* name, const QRect& geometry, const QString& caption) const
{
    auto* group = new QGroupBox(caption, m_parent);
    group->setObjectName(QString::fromUtf8(name));
    group->setGeometry(geometry);
    return group;
}

QRadioButton* WindowBuilder::RadioButton(
    const char* name, const QRect& geometry, const QString& caption, bool checked) const
{
    auto* button = new QRadioButton(caption, m_parent);
    button->setObjectName(QString::fromUtf8(name));
    button->setGeometry(geometry);
    button->setChecked(checked);
    return button;
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

} // namespace zelo
