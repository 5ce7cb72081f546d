// The UI services as the Qt windows give them: message boxes, the rate-limited event pump,
// the busy cursor and the progress window.
#pragma once

#include "platform/ui_services.h"

#include <QElapsedTimer>
#include <QString>

#include <functional>

class QFontMetrics;
class QMessageBox;
class QWidget;

namespace zelo {

class QtUiServices : public UiServices {
public:
    // progress: the progress window (Form7); it must outlive the services.
    explicit QtUiServices(ProgressWindow& progress);
    ~QtUiServices() override;

    void ShowPlainMessage(const std::string& text) override;
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
    void ProcessEvents() override;
    void SetBusyCursor(bool busy) override;
    ProgressWindow& Progress() override { return m_progress; }

    // Pending events run at most this often; between two runs a call only reads the clock.
    static constexpr qint64 kPumpIntervalMs = 15;
    // How many times the pump actually ran the event queue.
    int PumpRuns() const { return m_pumpRuns; }

private:
    ProgressWindow& m_progress;
    QElapsedTimer m_sinceLastPump;
    int m_pumpRuns = 0;
    int m_busyDepth = 0;
};

// Message texts keep the program's "\n\r" line breaks; the boxes show them as plain line breaks.
QString MessageBoxText(const std::string& text);

// Lines up to this width are never wrapped in a message box.
inline constexpr int kMessageLineLimit = 640;
// The text with each line wider than limit cut into the fewest pieces no wider than about limit, all of
// nearly one width (never a lone character on a line of its own).
QString BalancedLines(const QString& text, const QFontMetrics& metrics, int limit = kMessageLineLimit);
// Readies a built message box: the windows' face, whole lines, room for its caption, centred on the
// main window.
void PrepareMessageBox(QMessageBox& box);

} // namespace zelo
