// TForm1: the panes follow outside changes of the shown directory.
#include "ui/main_window.h"

#include "model/path_tree.h"
#include "model/state.h"
#include "platform/drives.h"
#include "ui/command_guard.h"
#include "ui/list_boxes.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QScrollBar>
#include <QTimer>

#include <algorithm>
#include <chrono>

namespace zelo {

namespace {

// A burst of changes is refilled once, after this quiet time...
constexpr qint64 kQuietMs = 250;
// ...but never later than this after its first change, so a burst that goes on is still followed.
constexpr qint64 kLongestWaitMs = 700;

qint64 NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

// The one translation of a shown drive path to the Linux directory the watch is set on.
QString LinuxDirectory(const std::string& drivePath)
{
    const auto linuxPath = driveMap().toLinux(drivePath);
    return linuxPath ? QFile::decodeName(QByteArray::fromStdString(*linuxPath)) : QString();
}

} // namespace

void TForm1::InstallWatcher()
{
    m_watcher = new QFileSystemWatcher(this);
    m_refillTimer = new QTimer(this);
    m_refillTimer->setSingleShot(true);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &TForm1::OutsideChange);
    connect(m_refillTimer, &QTimer::timeout, this, [this] {
        // A command reads the panes while it runs, and refills them when it ends: wait for it.
        if (CommandGuard::Active() || QApplication::activeModalWidget()) {
            m_burstStart = NowMs();
            m_refillTimer->start(int(kQuietMs));
            return;
        }
        RefillShownDirectory();
    });
    // Every read of the file pane may have been of another directory.
    connect(FileBx1, &FileListBox::Change, this, &TForm1::WatchShownDirectory);
}

QString TForm1::WatchedDirectory() const
{
    return m_watcher && !m_watchedPath.empty() && !m_refillOnActivate ? LinuxDirectory(m_watchedPath) : QString();
}

bool TForm1::OutsideRefillPending() const
{
    return m_refillTimer && m_refillTimer->isActive();
}

void TForm1::WatchShownDirectory()
{
    const std::string& path = FileBx1->Directory();
    if (path == m_watchedPath && (m_refillOnActivate || m_watcher->directories().contains(LinuxDirectory(path))))
        return;
    if (!m_watcher->directories().isEmpty()) m_watcher->removePaths(m_watcher->directories());
    m_watchedPath = path;
    m_refillOnActivate = false;
    if (path.empty()) return;
    const QString linuxDir = LinuxDirectory(path);
    // Network and FUSE drives report only this machine's own changes; there the window refills when
    // it is activated. So does a directory the kernel gives no watch for (the watch limit reached).
    m_refillOnActivate = OnNetworkFileSystem(path) || (QFileInfo(linuxDir).isDir() && !m_watcher->addPath(linuxDir));
    // A drive root's parent lies outside the drive.
    if (!m_refillOnActivate && Main.MainTree.GetLevel() > 0) m_watcher->addPath(QFileInfo(linuxDir).path());
}

void TForm1::OutsideChange(const QString& path)
{
    // The parent is watched only for the shown directory's removal: the process's current directory
    // is the shown one, and while it is, the kernel reports no removal of it to its own watch.
    if (path != WatchedDirectory() && QFileInfo(WatchedDirectory()).isDir()) return;
    const qint64 now = NowMs();
    if (!m_refillTimer->isActive()) m_burstStart = now;
    m_refillTimer->start(int(std::clamp(kLongestWaitMs - (now - m_burstStart), qint64(0), kQuietMs)));
}

void TForm1::RefillShownDirectory()
{
    PathTree& tree = Main.MainTree;
    if (tree.EntryCount() == 0) return;
    const int level = tree.GetLevel();
    const int selectedRow = DirBx1->SelectedIndex();
    const std::string selectedName
        = selectedRow > level && selectedRow < tree.EntryCount() ? tree.Entry(selectedRow).name : std::string();
    const int dirScroll = DirBx1->verticalScrollBar()->value();
    const FilePaneView files = FileBx1->View();

    // A shown directory removed from outside: the panes go up to the nearest one that is still there.
    while (tree.GetLevel() > 0 && !QFileInfo(LinuxDirectory(tree.CurrentPath(false))).isDir()) {
        DirBx1->SetSelectedIndex(tree.GetLevel() - 1);
        tree.Refill(true);
    }
    if (tree.GetLevel() == level) {
        tree.Refill(false); // re-reads the file pane as well
        for (int i = level + 1; !selectedName.empty() && i < tree.EntryCount(); ++i) {
            if (tree.Entry(i).name != selectedName) continue;
            DirBx1->SetSelectedIndex(i);
            break;
        }
        DirBx1->verticalScrollBar()->setValue(dirScroll);
        FileBx1->RestoreView(files);
    }
    SetPathLabel(Label4, tree.CurrentPath(false));
    SetPathLabel(Label9, DirBx1->SelectedIndex() <= 0 ? tree.CurrentPath(true) : tree.SelectedPath(false));
    ShowDirCount();
}

} // namespace zelo
