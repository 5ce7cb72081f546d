// QtUiServices: message boxes, the event pump and the busy cursor as the Qt windows give them.
#include "ui/qt_ui_services.h"

#include "ui/fonts.h"
#include "ui/window_builder.h"

#include <QApplication>
#include <QGridLayout>
#include <QGuiApplication>
#include <QLabel>
#include <QMainWindow>
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

void PrepareMessageBox(QMessageBox& box)
{
    // The windows' gothic face, so that "\\" is drawn as the panes and dialogs draw it.
    box.setFont(GothicFont(15));
    QLabel* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
    int widest = 0;
    if (label) {
        const QFontMetrics metrics(label->font());
        for (const QString& line : label->text().split(QLatin1Char('\n')))
            widest = std::max(widest, metrics.horizontalAdvance(line));
        // A line that fits the screen stays whole: no lone character wrapped onto a line of its own.
        if (widest <= kMessageLineLimit) {
            label->setWordWrap(false);
            label->setMinimumWidth(widest);
        }
    }
    // Room for the caption beside the title bar's buttons, so the window manager need not shorten it.
    const int captionWidth = QFontMetrics(box.font()).horizontalAdvance(box.windowTitle()) + 160;
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(captionWidth, 0, QSizePolicy::Minimum, QSizePolicy::Minimum), grid->rowCount(), 0,
            1, grid->columnCount());
    box.adjustSize();
    // Centred on the main window wherever the box comes from; on the screen when there is none.
    const QMainWindow* main = nullptr;
    for (QWidget* window : QApplication::topLevelWidgets())
        if (auto* candidate = qobject_cast<QMainWindow*>(window); candidate && candidate->isVisible()) main = candidate;
    if (main) {
        // The box's frame is taken to be as wide as the main window's.
        const QMargins margins(main->geometry().left() - main->frameGeometry().left(),
            main->geometry().top() - main->frameGeometry().top(),
            main->frameGeometry().right() - main->geometry().right(),
            main->frameGeometry().bottom() - main->geometry().bottom());
        QRect frame(QPoint(), box.size().grownBy(margins));
        frame.moveCenter(main->frameGeometry().center());
        PlaceFrameAt(&box, frame.topLeft(), main);
    } else if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), box.sizeHint());
        frame.moveCenter(screen->geometry().center());
        box.move(frame.topLeft());
    }
}

namespace {

// The window a question stands above: the active one, or, when that has just closed (a confirmation
// before the run), the modal window the person is working in.
QWidget* QuestionParent()
{
    QWidget* active = QApplication::activeWindow();
    if (active && active->isVisible()) return active;
    return QApplication::activeModalWidget();
}

} // namespace

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
    PrepareMessageBox(box);
    box.exec();
}

int QtUiServices::AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(caption.data(), qsizetype(caption.size())),
        MessageBoxText(text), QMessageBox::NoButton, QuestionParent());
    box.setWindowModality(Qt::ApplicationModal);
    if (flags == kMbYesNo) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        box.addButton(QMessageBox::No);
        box.setDefaultButton(yes);
        PrepareMessageBox(box);
        box.exec();
        return box.clickedButton() == yes ? kIdYes : kIdNo;
    }
    box.addButton(QMessageBox::Ok);
    PrepareMessageBox(box);
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
