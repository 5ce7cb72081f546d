// CommandGuard: keeps a long command alone while it runs and lets events through.
#pragma once

class QWidget;

namespace zelo {

class TForm1;

// While a command works it lets the event loop run (repaints, the progress window's stop button). For
// that time no second command may start inside it: the main window's menus and panes are disabled, and
// the progress window, whenever it is shown, takes the input from every other window (the operation
// dialog included, whose modality would otherwise leave the stop button dead). Nested guards do nothing.
class CommandGuard {
public:
    // The progress window is Form7 (none before the windows are created); mainWindow may be null.
    explicit CommandGuard(TForm1* mainWindow);
    ~CommandGuard();
    CommandGuard(const CommandGuard&) = delete;
    CommandGuard& operator=(const CommandGuard&) = delete;

    // Whether a guarded command is running now.
    static bool Active();

private:
    TForm1* m_mainWindow;
    QWidget* m_progress;
    bool m_outermost;
};

} // namespace zelo
