// How long the window goes without an event-loop turn while a folder copy runs from the operation
// dialog: a 20,000-file tree (files of 1-16 KiB in 100 directories) copied offscreen through Copy1Click,
// "実行" and the result window, with a zero-interval timer marking every turn. Prints the longest gap,
// and how long the window's copy takes against zelo-cli copy-tree of the same tree on the same disk
// (alternating rounds, medians and the median ratio).
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
#include <QProcess>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

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

void MakeTree(const std::filesystem::path& root, int files)
{
    const std::string block(16384, 'x');
    for (int i = 0; i < files; ++i) {
        const auto dir = root / ("dir" + std::to_string(i % 100));
        if (i < 100) std::filesystem::create_directories(dir);
        std::ofstream(dir / ("file" + std::to_string(i) + ".dat")).write(block.data(), 1024 + (i * 7919) % 15361);
    }
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int files = argc > 1 ? std::max(std::atoi(argv[1]), 100) : 20000;
    const char* base = std::getenv("BENCH_DIR");
    const std::filesystem::path work
        = std::filesystem::path(base ? base : "/dev/shm") / ("zelo-gap-" + std::to_string(::getpid()));
    MakeTree(work / "c" / "src", files);
    std::filesystem::create_directories(work / "d");

    int status = 0;
    // zelo-cli of the same build, beside this program's directory.
    const std::filesystem::path cli
        = std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "cli" / "zelo-cli";
    std::vector<double> windowMs, cliMs, ratios;
    {
        zelo::ZeloApplication app(argc, argv);
        zelo::setDriveMap(zelo::DriveMap::parse("C=" + (work / "c").string() + ";D=" + (work / "d").string()));
        constexpr int kRounds = 5;
        for (int round = 0; round < kRounds && status == 0; ++round) {
            std::filesystem::remove_all(work / "d" / "src");
            zelo::ResetMainState();
            auto windows = zelo::CreateWindows();
            zelo::TForm1& form = *zelo::Form1;
            form.DirBx1->SetSelectedIndex(1); // C:\src
            zelo::Main.DialogTree.SetDrive("D:\\");
            zelo::Main.DialogTree.Refill(false);

            QElapsedTimer clock;
            clock.start();
            bool recording = false;
            qint64 last = 0, longest = 0, started = 0, ended = 0;
            std::vector<qint64> gaps;
            QTimer turns;
            turns.setInterval(0);
            QObject::connect(&turns, &QTimer::timeout, [&] {
                const qint64 now = clock.nsecsElapsed();
                if (recording) {
                    gaps.push_back(now - last);
                    longest = std::max(longest, now - last);
                }
                last = now;
            });
            turns.start();
            OnNext<zelo::TForm2>([&](zelo::TForm2* dialog) {
                recording = true;
                started = last = clock.nsecsElapsed();
                dialog->Button3->click();
            });
            OnNext<zelo::TForm6>([&](zelo::TForm6* result) {
                const qint64 now = clock.nsecsElapsed();
                longest = std::max(longest, now - last);
                recording = false;
                ended = now;
                if (result->Label8->text().toInt() != files) status = 1;
                result->Button1->click();
            });
            form.Copy1Click();
            turns.stop();
            std::sort(gaps.begin(), gaps.end());
            const double p99 = gaps.empty() ? 0.0 : double(gaps[gaps.size() * 99 / 100]) / 1e6;
            std::printf("files %d: copy %.0f ms, %zu event-loop turns, longest gap %.1f ms, 99th percentile %.1f ms\n",
                files, double(ended - started) / 1e6, gaps.size(), double(longest) / 1e6, p99);
            if (status != 0) std::fprintf(stderr, "the result window did not show %d new files\n", files);
            if (ended == 0) status = 1;
            windowMs.push_back(double(ended - started) / 1e6);

            std::filesystem::remove_all(work / "d" / "src");
            QElapsedTimer cliClock;
            cliClock.start();
            QProcess copy;
            copy.setStandardOutputFile(QProcess::nullDevice());
            copy.start(QString::fromStdString(cli.string()),
                { "copy-tree", QString::fromStdString((work / "c" / "src").string()),
                    QString::fromStdString((work / "d").string()) });
            const bool finished = copy.waitForFinished(-1);
            const int cliStatus = finished && copy.exitStatus() == QProcess::NormalExit ? copy.exitCode() : -1;
            cliMs.push_back(double(cliClock.nsecsElapsed()) / 1e6);
            if (cliStatus != 0) {
                std::fprintf(stderr, "zelo-cli copy-tree failed (%d)\n", cliStatus);
                status = 1;
            }
            ratios.push_back(windowMs.back() / cliMs.back());
        }
    }
    const auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v.empty() ? 0.0 : v[v.size() / 2];
    };
    std::printf(
        "window %.0f ms, zelo-cli copy-tree %.0f ms, ratio %.3f\n", median(windowMs), median(cliMs), median(ratios));
    std::filesystem::remove_all(work);
    return status;
}
