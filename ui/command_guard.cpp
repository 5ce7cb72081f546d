// CommandGuard: the main window's commands are off while one of them runs.
#include "ui/command_guard.h"

#include "ui/application.h"
#include "ui/main_window.h"
#include "ui/progress_window.h"

#include <QMenuBar>
#include <QWidget>

namespace zelo {

namespace {
int guardDepth = 0;
} // namespace

CommandGuard::CommandGuard(TForm1* mainWindow)
    : m_mainWindow(mainWindow)
    , m_progress(Form7)
    , m_outermost(guardDepth == 0)
{
    ++guardDepth;
    if (!m_outermost) return;
    if (m_mainWindow) {
        // Not the window itself: its dialogs and the progress window would be disabled with it.
        if (QWidget* client = m_mainWindow->centralWidget()) client->setEnabled(false);
        m_mainWindow->menuBar()->setEnabled(false);
    }
    // The modality takes effect when the window is shown; it is hidden between commands.
    if (m_progress && !m_progress->isVisible()) m_progress->setWindowModality(Qt::ApplicationModal);
}

CommandGuard::~CommandGuard()
{
    --guardDepth;
    if (!m_outermost) return;
    if (m_progress) {
        if (m_progress->isVisible()) m_progress->hide();
        m_progress->setWindowModality(Qt::NonModal);
    }
    if (m_mainWindow) {
        if (QWidget* client = m_mainWindow->centralWidget()) client->setEnabled(true);
        m_mainWindow->menuBar()->setEnabled(true);
    }
}

bool CommandGuard::Active()
{
    return guardDepth > 0;
}

} // namespace zelo
