// QtUiServices: message boxes, the event pump and the busy cursor as the Qt windows give them.
#include "ui/qt_ui_services.h"

#include "ui/fonts.h"

#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>

namespace zelo {

QString MessageBoxText(const std::string& text)
{
    QString out = QString::fromUtf8(text.data(), qsizetype(text.size()));
    // "\n\r" (and "\r\n") is one line break; a CR on its own breaks the line too.
    out.replace(QStringLiteral("\n\r"), QStringLiteral("\n"));
    out.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QtUiServices::QtUiServices(ProgressWindow& progress)
    : m_progress(progress)
{
}

QtUiServices::~QtUiServices()
{
    while (m_busyDepth > 0) {
        QApplication::restoreOverrideCursor();
        --m_busyDepth;
    }
}

void QtUiServices::ShowPlainMessage(const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kAppTitle), MessageBoxText(text), QMessageBox::Ok);
    box.setWindowModality(Qt::ApplicationModal);
    box.adjustSize();
    // Centred on the screen rather than over a window.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), box.sizeHint());
        frame.moveCenter(screen->geometry().center());
        box.move(frame.topLeft());
    }
    box.exec();
}

int QtUiServices::AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption.data(), qsizetype(caption.size())),
        MessageBoxText(text), QMessageBox::NoButton, QApplication::activeWindow());
    box.setWindowModality(Qt::ApplicationModal);
    if (flags == kMbYesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
        box.exec();
        return box.clickedButton() == yes ? kIdYes : kIdNo;
    }
    box.addButton(QMessageBox::Ok);
    box.exec();
    return kIdOk;
}

void QtUiServices::ProcessEvents()
{
    if (m_sinceLastPump.isValid() && m_sinceLastPump.elapsed() < kPumpIntervalMs) return;
    m_sinceLastPump.start();
    ++m_pumpRuns;
    QCoreApplication::processEvents();
}

void QtUiServices::SetBusyCursor(bool busy)
{
    if (busy) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_busyDepth;
    } else if (m_busyDepth > 0) {
        QApplication::restoreOverrideCursor();
        --m_busyDepth;
    }
}

} // namespace zelo
