// TForm7: the progress window the long commands show while they work, with its stop button.
#pragma once

#include "platform/ui_services.h"
#include "ui_progress_window.h"

#include <QElapsedTimer>
#include <QString>
#include <QWidget>

class QProgressBar;
class QTimer;

namespace zelo {

class TForm7 : public QWidget, public Ui::Form7, public ProgressWindow {
    Q_OBJECT
public:
    explicit TForm7(QWidget* parent = nullptr);

    // ProgressWindow
    void Show() override;
    void Close() override;
    bool IsVisible() const override;
    void SetMax(ProgressBar bar, int max) override;
    void SetPosition(ProgressBar bar, int position) override;
    int Position(ProgressBar bar) const override;
    void Step(ProgressBar bar, int steps = 1) override;
    void SetBarVisible(ProgressBar bar, bool visible) override;
    void SetLabel(const std::string& text) override;
    void SetStopVisible(bool visible) override;

    void FormActivate();
    void Button1Click();

    // How long Show waits for the window system to put the window on the screen.
    static constexpr int kExposeWaitMs = 500;

    // The controls are the layout's (progress_window.ui).

protected:
    void changeEvent(QEvent* event) override;

private:
    QProgressBar* Bar(ProgressBar bar) const;
    void ShowPosition(ProgressBar bar);
    // Whether the window may be painted now: at most once per kPaintIntervalMs while it is shown. A
    // paint per file would cost more than copying a small file; what changes in between is shown by
    // m_refresh at the next turn of the event loop.
    bool PaintDue();
    void Refresh();

    static constexpr qint64 kPaintIntervalMs = 15;
    QElapsedTimer m_sincePaint;
    QTimer* m_refresh = nullptr;
    std::string m_label; // turned into the label's text only when it is painted, not for every file

    // The positions as the callers set them; the bars show them clamped to their range.
    int m_position[2] = { 0, 0 };
};

} // namespace zelo
