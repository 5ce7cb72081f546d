// TForm1: the panes follow outside changes of the shown directory.
#include "ui/main_window.h"

#include "model/path_tree.h"
#include "model/state.h"
#include "platform/drives.h"
#include "platform/filesystem.h"
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
#include <system_error>

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

ShownDirectoryRead ReadShownDirectory(
    std::string directory, std::string mask, FileTypeState fileType, int32_t showHidden)
{
    ShownDirectoryRead read { std::move(directory), std::move(mask), fileType, showHidden, false, {}, {} };
    const uint32_t attributes = fs().GetAttributes(read.directory);
    read.missing = attributes == kInvalidAttributes || !(attributes & kAttrDirectory);
    if (read.missing) return read;
    read.files = ReadFileList(read.directory, read.mask, fileType);
    FindData found;
    if (std::unique_ptr<DirSearch> search = fs().FindFirst(JoinPath(read.directory, "*.*"), kAttrMaskAll, found)) {
        do {
            if (!(found.attributes & kAttrDirectory)) continue;
            const int marker = SubdirectoryMarker(found.name, found.attributes, showHidden);
            if (marker >= 0) read.subdirectories.emplace_back(found.name, marker);
        } while (search->Next(found));
    }
    std::sort(read.subdirectories.begin(), read.subdirectories.end());
    return read;
}

void TForm1::InstallWatcher()
{
    m_watcher = new QFileSystemWatcher(this);
    m_refillTimer = new QTimer(this);
    m_refillTimer->setSingleShot(true);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, [this](const QString& path) {
        // The parent is watched only for the shown directory's removal: the process's current
        // directory is the shown one, and while it is, the kernel reports no removal of it to its own
        // watch.
        if (path != WatchedDirectory() && QFileInfo(WatchedDirectory()).isDir()) return;
        OutsideChange();
    });
    connect(m_refillTimer, &QTimer::timeout, this, [this] {
        // A command reads the panes while it runs, and refills them when it ends: wait for it.
        if (CommandGuard::Active() || QApplication::activeModalWidget()) {
            m_burstStart = NowMs();
            m_refillTimer->start(int(kQuietMs));
            return;
        }
        StartOutsideRead();
    });
    m_readPoll = new QTimer(this);
    m_readPoll->setInterval(10);
    connect(m_readPoll, &QTimer::timeout, this, [this] {
        if (m_outsideRead.wait_for(std::chrono::seconds(0)) != std::future_status::ready) return;
        m_readPoll->stop();
        ApplyOutsideRead(m_outsideRead.get());
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
    // it is activated. So does a directory the kernel gives no watch for (the watch limit reached, a
    // name whose bytes Qt cannot pass on).
    m_refillOnActivate = OnNetworkFileSystem(path) || !m_watcher->addPath(linuxDir);
    // A drive root's parent lies outside the drive.
    if (!m_refillOnActivate && Main.MainTree.GetLevel() > 0) m_watcher->addPath(QFileInfo(linuxDir).path());
}

void TForm1::OutsideChange()
{
    const qint64 now = NowMs();
    if (!m_refillTimer->isActive()) m_burstStart = now;
    m_refillTimer->start(int(std::clamp(kLongestWaitMs - (now - m_burstStart), qint64(0), kQuietMs)));
}

void TForm1::StartOutsideRead()
{
    if (m_outsideRead.valid()) { // a read is under way: read again once it is in
        OutsideChange();
        return;
    }
    if (FileBx1->Directory().empty()) return;
    // 20,000 entries take longer to read than a turn of the event loop may: they are read beside it.
    try {
        m_outsideRead = std::async(std::launch::async, ReadShownDirectory, FileBx1->Directory(), FileBx1->Mask(),
            FileBx1->FileType(), Main.MainTree.ShowHidden());
    } catch (const std::system_error&) {
        RefillShownDirectory(); // no thread to be had: read here
        return;
    }
    m_readPoll->start();
}

void TForm1::ApplyOutsideRead(const ShownDirectoryRead& read)
{
    if (CommandGuard::Active() || QApplication::activeModalWidget()) {
        OutsideChange(); // read again once the command is over
        return;
    }
    // The panes moved on meanwhile, and were read then.
    if (read.directory != FileBx1->Directory() || read.mask != FileBx1->Mask() || read.fileType != FileBx1->FileType()
        || read.showHidden != Main.MainTree.ShowHidden())
        return;
    // The directory pane is rebuilt only when its subdirectories changed: a burst of files costs the
    // file pane's list alone.
    const PathTree& tree = Main.MainTree;
    std::vector<std::pair<std::string, int>> listed;
    for (int i = tree.GetLevel() + 1; i < tree.EntryCount(); ++i)
        listed.emplace_back(tree.Entry(i).name, tree.Entry(i).marker);
    std::sort(listed.begin(), listed.end());
    if (read.missing || listed != read.subdirectories) {
        RefillShownDirectory();
        return;
    }
    if (FileBx1->Names() == read.files) return;
    const FilePaneView view = FileBx1->View();
    FileBx1->ShowNames(read.files);
    FileBx1->RestoreView(view);
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
