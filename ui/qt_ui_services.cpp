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
#include <QTextBoundaryFinder>

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

QString BalancedLines(const QString& text, const QFontMetrics& metrics, int limit)
{
    QStringList out;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        const int width = metrics.horizontalAdvance(line);
        if (width <= limit) {
            out.push_back(line);
            continue;
        }
        // Each cut is at the character boundary nearest its share of the width: the pieces are of one
        // width within a character.
        const int pieces = (width + limit - 1) / limit;
        QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, line);
        qsizetype start = 0;
        qsizetype previous = 0;
        for (int cut = 1; cut < pieces; ++cut) {
            const qint64 ideal = qint64(width) * cut / pieces;
            qsizetype best = previous;
            while (characters.toNextBoundary() > 0) {
                const qsizetype at = characters.position();
                if (metrics.horizontalAdvance(line.left(at)) > ideal) {
                    const bool nearer = metrics.horizontalAdvance(line.left(at)) - ideal
                        < ideal - metrics.horizontalAdvance(line.left(previous));
                    best = nearer ? at : previous;
                    previous = at;
                    break;
                }
                previous = at;
            }
            if (best <= start) continue;
            out.push_back(line.mid(start, best - start));
            start = best;
        }
        out.push_back(line.mid(start));
    }
    return out.join(QLatin1Char('\n'));
}

void PrepareMessageBox(QMessageBox& box)
{
    // The windows' gothic face, so that "\\" is drawn as the panes and dialogs draw it.
    box.setFont(GothicFont(15));
    if (QLabel* label = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
        // Long lines are cut evenly here; the box then never wraps: its label is as wide as its widest
        // line with the label's own margins and indent, whatever width the box gives itself.
        label->setText(BalancedLines(label->text(), QFontMetrics(label->font())));
        label->setWordWrap(false);
        label->setMinimumWidth(label->minimumSizeHint().width() + 2);
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
        CentreFrameOn(&box, main);
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
    if (AsksYesNo(flags)) {
        QPushButton* yes = box.addButton(QMessageBox::Yes);
        QPushButton* no = box.addButton(QMessageBox::No);
        // The default button takes Enter and, holding the first focus, Space as well.
        QPushButton* preferred = (flags & kMbDefButton2) ? no : yes;
        box.setDefaultButton(preferred);
        PrepareMessageBox(box);
        preferred->setFocus(Qt::OtherFocusReason);
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
