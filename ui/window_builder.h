// The windows' shared finishing: what their layout files cannot say (faces by height, labels sized to
// their text, captions made to fit) and where a window is placed.
#pragma once

#include <QPoint>
#include <QSize>

class QWidget;

namespace zelo {

// A top-level window made in code: its name, caption, font (the gothic face, pixelSize high) and fixed
// client size (an empty size leaves the size to the caller).
void SetUpWindow(QWidget* window, const char* name, const char* caption, int pixelSize, QSize client);

// Finishes a window (or a window's client area) made from its layout file (setupUi): the faces its
// layout names by height (the dynamic properties gothicPixelSize and minchoPixelSize, the window's own
// first), then the labels that size themselves to their text (autoSize) and the captions of check boxes
// and buttons made to fit.
void FinishLayout(QWidget* window);

// Places a top-level window with its frame's top-left corner at framePosition. Before the window
// manager has framed it (its first showing) the frame of reference (by default the window's parent
// window) stands for its own, so the first showing lands where every later one does.
void PlaceFrameAt(QWidget* window, QPoint framePosition, const QWidget* reference = nullptr);

// Places a top-level window with its frame centred on the frame of window over, on every showing alike.
void CentreFrameOn(QWidget* window, const QWidget* over);
// Whether a control's caption shows whole within its width (check boxes, buttons and labels of a fixed
// width; anything else fits).
bool CaptionFits(const QWidget* control);

// Steps the control's font down a pixel at a time (at most three) until its caption fits: the
// substituted faces run wider than the faces the layout was drawn for.
void FitCaption(QWidget* control);

} // namespace zelo
