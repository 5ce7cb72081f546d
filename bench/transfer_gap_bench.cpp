// How long the window goes without an event-loop turn while a long command runs, offscreen, with a
// zero-interval timer marking every turn: a folder copy from the operation dialog (a 20,000-file tree,
// files of 1-16 KiB in 100 directories, copied through Copy1Click, "実行" and the result window), the
// deletion of that tree ("ＤＩＲの削除"), its 20,000 files of one folder deleted ("削除") and moved
// to the trash (the Delete key). Prints the longest gap, and for the copy and the tree's deletion how
// long the window takes against zelo-cli copy-tree and delete of the same tree on the same disk
// (alternating rounds, medians and the median ratio).
//   transfer_gap_bench [FILES] [copy|delete|delete-files|trash ...]   (default: 20000, every case)
#include "bench/scratch_dir.h"
#include "model/state.h"
#include "platform/drives.h"
#include "ui/application.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"
#include "ui/operation_dialog.h"
#include "ui/result_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Runs act on the next visible modal window of type Window.
template <class Window> void OnNext(std::function<void(Window*)> act)
{
    auto* poll = new QTimer(QCoreApplication::instance());
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

// files files of 1-16 KiB, in directories of their own (dirs of them) or all in root.
void MakeTree(const fs::path& root, int files, int dirs = 100)
{
    const std::string block(16384, 'x');
    fs::create_directories(root);
    for (int i = 0; i < files; ++i) {
        const auto dir = dirs > 0 ? root / ("dir" + std::to_string(i % dirs)) : root;
        if (i < dirs) fs::create_directories(dir);
        std::ofstream(dir / ("file" + std::to_string(i) + ".dat")).write(block.data(), 1024 + (i * 7919) % 15361);
    }
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

// Marks every event-loop turn between Start and Stop, and the longest gap between two.
class Turns {
public:
    Turns()
    {
        m_clock.start();
        m_timer.setInterval(0);
        QObject::connect(&m_timer, &QTimer::timeout, [this] { Mark(); });
        m_timer.start();
    }
    void Start()
    {
        m_recording = true;
        m_started = m_last = m_clock.nsecsElapsed();
    }
    void Stop()
    {
        Mark();
        m_recording = false;
        m_ended = m_last;
    }
    double Ms() const { return double(m_ended - m_started) / 1e6; }
    bool Ended() const { return m_ended != 0; }
    void Print(const char* what, int files)
    {
        m_timer.stop();
        std::sort(m_gaps.begin(), m_gaps.end());
        const double p99 = m_gaps.empty() ? 0.0 : double(m_gaps[m_gaps.size() * 99 / 100]) / 1e6;
        std::printf("%s, files %d: %.0f ms, %zu event-loop turns, longest gap %.1f ms (ending at %.0f ms), 99th "
                    "percentile %.1f ms\n",
            what, files, Ms(), m_gaps.size(), double(m_longest) / 1e6, double(m_longestEnd - m_started) / 1e6, p99);
    }

private:
    void Mark()
    {
        const qint64 now = m_clock.nsecsElapsed();
        if (m_recording) {
            m_gaps.push_back(now - m_last);
            if (now - m_last > m_longest) {
                m_longest = now - m_last;
                m_longestEnd = now;
            }
        }
        m_last = now;
    }

    QElapsedTimer m_clock;
    QTimer m_timer;
    bool m_recording = false;
    qint64 m_last = 0, m_longest = 0, m_longestEnd = 0, m_started = 0, m_ended = 0;
    std::vector<qint64> m_gaps;
};

// zelo-cli of the same build, beside this program's directory: its time in ms, negative on failure.
double RunCli(const QStringList& arguments)
{
    const fs::path cli = fs::canonical("/proc/self/exe").parent_path().parent_path() / "cli" / "zelo-cli";
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(QString::fromStdString(cli.string()), arguments);
    const bool finished = process.waitForFinished(-1);
    const double ms = double(clock.nsecsElapsed()) / 1e6;
    if (!finished || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        std::fprintf(stderr, "zelo-cli %s failed\n", qPrintable(arguments.join(' ')));
        return -1;
    }
    return ms;
}

struct Bench {
    fs::path work;
    int files = 0;
    std::vector<double> windowMs, cliMs, ratios;

    // Fresh windows over the drives, with the directory pane's row `row` selected.
    std::unique_ptr<zelo::Windows> Windows(int row)
    {
        zelo::ResetMainState();
        auto windows = zelo::CreateWindows();
        zelo::Form1->DirBx1->SetSelectedIndex(row);
        return windows;
    }

    int Report(const char* what, const char* cli)
    {
        std::printf("window %.0f ms, zelo-cli %s %.0f ms, ratio %.3f (%s)\n", Median(windowMs), cli, Median(cliMs),
            Median(ratios), what);
        windowMs.clear();
        cliMs.clear();
        ratios.clear();
        return 0;
    }

    int Copy()
    {
        MakeTree(work / "c" / "src", files);
        int status = 0;
        for (int round = 0; round < 5 && status == 0; ++round) {
            fs::remove_all(work / "d" / "src");
            auto windows = Windows(1); // C:\src
            zelo::Main.DialogTree.SetDrive("D:\\");
            zelo::Main.DialogTree.Refill(false);
            Turns turns;
            OnNext<zelo::TForm2>([&](zelo::TForm2* dialog) {
                turns.Start();
                dialog->Button3->click();
            });
            OnNext<zelo::TForm6>([&](zelo::TForm6* result) {
                turns.Stop();
                if (result->Label8->text().toInt() != files) status = 1;
                result->Button1->click();
            });
            zelo::Form1->Copy1Click();
            turns.Print("copy", files);
            if (status != 0) std::fprintf(stderr, "the result window did not show %d new files\n", files);
            if (!turns.Ended()) status = 1;
            windowMs.push_back(turns.Ms());
            fs::remove_all(work / "d" / "src");
            cliMs.push_back(RunCli({ "copy-tree", QString::fromStdString((work / "c" / "src").string()),
                QString::fromStdString((work / "d").string()) }));
            if (cliMs.back() < 0) status = 1;
            ratios.push_back(windowMs.back() / cliMs.back());
        }
        fs::remove_all(work / "c" / "src");
        fs::remove_all(work / "d" / "src");
        return status | Report("copy", "copy-tree");
    }

    // "ＤＩＲの削除" of C:\src, timed from the Yes to the report, against zelo-cli delete.
    int DeleteTree()
    {
        int status = 0;
        for (int round = 0; round < 5 && status == 0; ++round) {
            MakeTree(work / "c" / "src", files);
            auto windows = Windows(1); // C:\src
            Turns turns;
            bool reported = false;
            OnNext<QMessageBox>([&](QMessageBox* question) {
                turns.Start();
                question->button(QMessageBox::Yes)->click();
                OnNext<QMessageBox>([&](QMessageBox* report) {
                    turns.Stop();
                    reported = report->text().contains(QStringLiteral("File %1 )").arg(files));
                    report->button(QMessageBox::Ok)->click();
                });
            });
            zelo::Form1->N1Click();
            turns.Print("delete", files);
            if (!reported || fs::exists(work / "c" / "src")) {
                std::fprintf(stderr, "the deletion did not report %d files deleted\n", files);
                status = 1;
            }
            windowMs.push_back(turns.Ms());
            MakeTree(work / "c" / "src", files);
            cliMs.push_back(RunCli({ "delete", QString::fromStdString((work / "c" / "src").string()) }));
            if (cliMs.back() < 0) status = 1;
            ratios.push_back(windowMs.back() / cliMs.back());
        }
        fs::remove_all(work / "c" / "src");
        return status | Report("delete", "delete");
    }

    // The files of C:\flat, every one selected, deleted ("削除") or moved to the trash (the Delete key):
    // timed to the report.
    int DeleteFiles(bool toTrash)
    {
        MakeTree(work / "c" / "flat", files, 0);
        auto windows = Windows(1); // C:\flat
        zelo::Form1->DirBx1DblClick();
        zelo::Form1->FileBx1->SetAllSelected(true);
        Turns turns;
        bool reported = false;
        OnNext<QMessageBox>([&](QMessageBox* report) {
            turns.Stop();
            reported = report->text().contains(QString::number(files));
            report->button(QMessageBox::Ok)->click();
        });
        turns.Start();
        if (toTrash)
            zelo::Form1->TrashSelection();
        else
            zelo::Form1->Delete1Click();
        turns.Print(toTrash ? "trash" : "delete files", files);
        const bool left = fs::exists(work / "c" / "flat") && !fs::is_empty(work / "c" / "flat");
        fs::remove_all(work / "c" / "flat");
        fs::remove_all(work / "data");
        if (reported && !left) return 0;
        std::fprintf(stderr, "the %s did not report %d files\n", toTrash ? "trash" : "deletion", files);
        return 1;
    }
};

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int files = argc > 1 ? std::max(std::atoi(argv[1]), 100) : 20000;
    std::set<std::string> cases;
    for (int i = 2; i < argc; ++i)
        cases.insert(argv[i]);
    const auto wanted = [&](const char* name) { return cases.empty() || cases.count(name) > 0; };
    Bench bench;
    bench.files = files;
    bench.work = zelo::bench::ScratchDir("gap");
    fs::create_directories(bench.work / "c");
    fs::create_directories(bench.work / "d");
    // The trash on the tree's own file system, out of the user's.
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString((bench.work / "data").string()));

    int status = 0;
    {
        zelo::ZeloApplication app(argc, argv);
        zelo::setDriveMap(
            zelo::DriveMap::parse("C=" + (bench.work / "c").string() + ";D=" + (bench.work / "d").string()));
        if (wanted("copy")) status |= bench.Copy();
        if (wanted("delete")) status |= bench.DeleteTree();
        if (wanted("delete-files")) status |= bench.DeleteFiles(false);
        if (wanted("trash")) status |= bench.DeleteFiles(true);
    }
    fs::remove_all(bench.work);
    return status;
}
