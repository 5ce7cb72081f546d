// TForm3: the one-line input dialog and its prefill modes.
#include "ui/input_dialog.h"

#include "model/state.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/window_builder.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace zelo {

TForm3::TForm3(TForm1* mainWindow, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint)
    , m_mainWindow(mainWindow)
{
    setupUi(this);
    FinishLayout(this);
    Edit1->installEventFilter(this);
    connect(Button1, &QPushButton::clicked, this, &TForm3::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
}

void TForm3::SetEditBytes(const std::string& bytes)
{
    m_prefillBytes = bytes;
    Edit1->setText(QString::fromUtf8(bytes.data(), qsizetype(bytes.size())));
}

std::string TForm3::EditBytes() const
{
    const QString shown = Edit1->text();
    const QString prefill = QString::fromUtf8(m_prefillBytes.data(), qsizetype(m_prefillBytes.size()));
    // The prefilled path may hold names that are not valid UTF-8: keep its exact bytes and
    // take only what was typed after it from the edit.
    if (!m_prefillBytes.empty() && shown.startsWith(prefill)) {
        const QByteArray typed = shown.mid(prefill.size()).toUtf8();
        return m_prefillBytes + std::string(typed.constData(), size_t(typed.size()));
    }
    const QByteArray all = shown.toUtf8();
    return std::string(all.constData(), size_t(all.size()));
}

void TForm3::FormActivate()
{
    switch (Main.InputMode) {
    case kInputOfferSelectedDirectory:
        SetEditBytes(Main.MainTree.SelectedPath(false));
        break;
    case kInputOfferFile: {
        std::string name = m_mainWindow ? m_mainWindow->FileBx1->FocusedName() : std::string();
        // Blanks and control characters at either end are not offered (confirmed unchanged, the
        // offer renames such a name to its trimmed form).
        const auto blank = [](char c) { return static_cast<unsigned char>(c) <= 0x20; };
        while (!name.empty() && blank(name.back()))
            name.pop_back();
        name.erase(0, size_t(std::find_if_not(name.begin(), name.end(), blank) - name.begin()));
        SetEditBytes(Main.MainTree.CurrentPath(true) + name);
        break;
    }
    case kInputOfferCurrentPath:
        SetEditBytes(Main.MainTree.CurrentPath(true));
        break;
    default:
        break; // the text of the last time stays
    }
    Edit1->setFocus();
    Edit1->deselect();
    Edit1->end(false);
}

void TForm3::setVisible(bool visible)
{
    QDialog::setVisible(visible);
    if (!visible) return;
    // Under a window manager the activation comes later than the show; a selected prefill would be
    // replaced by the first key typed.
    Edit1->deselect();
    Edit1->end(false);
}

void TForm3::Button1Click()
{
    Main.InputMode = kInputConfirmed;
    Main.InputText = EditBytes();
    done(QDialog::Accepted);
}

void TForm3::Button2Click()
{
    Main.InputMode = kInputCancelled;
    done(QDialog::Rejected);
}

void TForm3::Cr()
{
    Button1Click();
}

void TForm3::showEvent(QShowEvent* event)
{
    // Placed by its frame, so the first showing (before the window manager has framed it) lands where
    // every later one does.
    if (m_mainWindow) CentreFrameOn(this, m_mainWindow);
    QDialog::showEvent(event);
    FormActivate();
}

bool TForm3::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == Edit1 && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            Cr(); // consumed: the dialog's default button must not see it too
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

} // namespace zelo
