// Times "全選択" (select all) and "解除" (deselect all) of the file pane over 20,000 files, offscreen,
// each followed by the repaint it causes. Prints the median of several rounds after a warm-up.
#include "bench/scratch_dir.h"
#include "model/state.h"
#include "platform/drives.h"
#include "ui/application.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

double MedianMs(std::vector<double> samples)
{
    std::sort(samples.begin(), samples.end());
    return samples[samples.size() / 2];
}

template <class Action> double TimeMs(Action action)
{
    QElapsedTimer timer;
    timer.start();
    action();
    QCoreApplication::processEvents(); // the repaint belongs to the command
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const int rounds = argc > 2 ? std::max(std::atoi(argv[2]), 3) : 7;
    const std::filesystem::path dir = zelo::bench::ScratchDir("select-all");
    for (int i = 0; i < files; ++i)
        std::ofstream(dir / ("file" + std::to_string(i) + ".txt"));

    int status = 0;
    {
        zelo::ZeloApplication app(argc, argv);
        zelo::setDriveMap(zelo::DriveMap::parse("C=" + dir.string()));
        zelo::ResetMainState();
        zelo::TForm1 form;
        form.show();
        QCoreApplication::processEvents();
        if (form.FileBx1->Count() != files) {
            std::fprintf(stderr, "the pane lists %d files, expected %d\n", form.FileBx1->Count(), files);
            status = 1;
        } else {
            std::vector<double> selectAll, deselectAll;
            for (int round = 0; round <= rounds; ++round) { // round 0 warms up
                const double on = TimeMs([&form] { form.N12Click(); });
                if (form.FileBx1->SelectedCount() != files) status = 1;
                const double off = TimeMs([&form] { form.N14Click(); });
                if (form.FileBx1->SelectedCount() != 0) status = 1;
                if (round == 0) continue;
                selectAll.push_back(on);
                deselectAll.push_back(off);
            }
            std::printf(
                "files %d, rounds %d: select all (N12Click) %.2f ms, deselect all (N14Click) %.2f ms (medians)\n",
                files, rounds, MedianMs(selectAll), MedianMs(deselectAll));
            if (status != 0) std::fprintf(stderr, "the selection did not follow the command\n");
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}
