// WindowBuilder: the controls of every window (labels, check boxes, panels, bars, buttons, edits),
// placed at the positions of the window's layout, with their names, captions, hints and fonts.
#pragma once

#include <QFont>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QCheckBox;
class QFrame;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QWidget;

namespace zelo {

class WindowBuilder {
public:
    // The controls go into parent (a window or a panel of it).
    explicit WindowBuilder(QWidget* parent);

    // A top-level window: its name, caption, font (the gothic face, pixelSize high) and fixed client size
    // (an empty size leaves the size to the caller).
    static void SetUpWindow(QWidget* window, const char* name, const char* caption, int pixelSize, QSize client);

    // A label sized to its text at a position, or at a fixed geometry.
    QLabel* Label(const char* name, QPoint at, const QString& text) const;
    QLabel* Label(const char* name, const QRect& geometry, const QString& text) const;
    // A check box; hint may be null (no tooltip). Its caption is made to fit its width.
    QCheckBox* CheckBox(
        const char* name, const QRect& geometry, const char* caption, const char* hint, bool checked) const;
    QFrame* Panel(const char* name, const QRect& geometry) const;
    // A smooth progress bar from 0 to 100 without text.
    QProgressBar* Bar(const char* name, const QRect& geometry) const;
    // A push button; pixelSize 0 keeps the window's font. Its caption is made to fit its width.
    QPushButton* Button(const char* name, const QRect& geometry, const QString& caption, int pixelSize = 0) const;
    QLineEdit* Edit(const char* name, const QRect& geometry) const;
    // A captioned group frame; the radio buttons built inside it exclude each other.
    QGroupBox* GroupBox(const char* name, const QRect& geometry, const QString& caption) const;
    QRadioButton* RadioButton(const char* name, const QRect& geometry, const QString& caption, bool checked) const;

private:
    QWidget* m_parent;
};

// Finishes a window (or a window's client area) made from its layout file (setupUi): the faces its
// layout names by height (the dynamic properties gothicPixelSize and minchoPixelSize, the window's own
// first), then the labels that size themselves to their text (autoSize) and the captions of check boxes
// and buttons made to fit.
void FinishLayout(QWidget* window);

// Places a top-level window with its frame's top-left corner at framePosition. Before the window
// manager has framed it (its first showing) the frame of reference (by default the window's parent
// window) stands for its own, so the first showing lands where every later one does.
void PlaceFrameAt(QWidget* window, QPoint framePosition, const QWidget* reference = nullptr);

// Whether a control's caption shows whole within its width (check boxes, buttons and labels of a fixed
// width; anything else fits).
bool CaptionFits(const QWidget* control);

// Steps the control's font down a pixel at a time (at most three) until its caption fits: the
// substituted faces run wider than the faces the layout was drawn for.
void FitCaption(QWidget* control);

} // namespace zelo
