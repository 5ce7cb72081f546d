// Shared set-up of the window tests: a drive map over a temporary tree, the shared state reset
// around each window, a user who answers the next modal window, and small helpers to read widgets
// as the user sees them.
#pragma once

#include "model/state.h"
#include "platform/drives.h"
#include "tests/support/temp_tree.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>
#include <string>

namespace zelo::test {

// A TempTree whose C: is its root, plus further letters given as ZELO_DRIVES entries whose
// directories are relative to the root ("D=d,cdrom,label=MYCD"). A missing directory is a drive
// without a medium.
class DriveFixture {
public:
    explicit DriveFixture(const std::string& extraDrives = "", const std::string& cOptions = ",label=SYSTEM")
    {
        ResetMainState();
        tree.mapDrives(extraDrives, true, cOptions);
    }
    ~DriveFixture() { ResetMainState(); }

    TempTree tree;
};

// Acts on the next modal window of type Window once it is up (a message box, the input dialog): act
// reads it and presses one of its buttons. It waits by polling, as the window may come up only after
// the events queued before it.
template <class Window> void AnswerNext(std::function<void(Window*)> act)
{
    auto* poll = new QTimer(QCoreApplication::instance()); // owned by the application until it fires
    poll->setInterval(2);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, act] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        if (!window || !window->isVisible()) return;
        poll->stop();
        poll->deleteLater();
        act(window);
    });
    poll->start();
}

inline void AnswerNextMessageBox(std::function<void(QMessageBox*)> act)
{
    AnswerNext<QMessageBox>(std::move(act));
}

inline QString Shown(const std::string& bytes)
{
    return QString::fromUtf8(bytes.data(), qsizetype(bytes.size()));
}

inline std::string Bytes(const QString& text)
{
    return text.toUtf8().toStdString();
}

} // namespace zelo::test
