// 20,000 files appear in the shown folder, made by another thread as another program would: prints
// the delay from the last file made to the file pane listing all of them, and the longest gap between
// two event-loop turns meanwhile (offscreen).
#include "bench/scratch_dir.h"
#include "model/state.h"
#include "platform/drives.h"
#include "ui/application.h"
#include "ui/list_boxes.h"
#include "ui/main_window.h"

#include <QApplication>
#include <QElapsedTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    const int files = argc > 1 ? std::atoi(argv[1]) : 20000;
    const std::filesystem::path dir = zelo::bench::ScratchDir("outside");

    int status = 0;
    {
        zelo::ZeloApplication app(argc, argv);
        zelo::setDriveMap(zelo::DriveMap::parse("C=" + dir.string()));
        zelo::ResetMainState();
        zelo::TForm1 form;
        form.show();
        QCoreApplication::processEvents();

        QElapsedTimer clock;
        clock.start();
        qint64 worstGap = 0;

        std::atomic<qint64> madeAt { -1 };
        std::thread other([&] {
            for (int i = 0; i < files; ++i)
                std::ofstream(dir / ("file" + std::to_string(i) + ".txt"));
            madeAt = clock.nsecsElapsed();
        });
        // Each turn handles what is pending and returns: a long turn is a stall the user would feel.
        while ((madeAt < 0 || form.FileBx1->Count() != files) && clock.elapsed() < 60000) {
            const qint64 turnStart = clock.nsecsElapsed();
            QCoreApplication::processEvents();
            worstGap = std::max(worstGap, clock.nsecsElapsed() - turnStart);
        }
        other.join();
        const qint64 listedAt = clock.nsecsElapsed();
        if (form.FileBx1->Count() != files) {
            std::fprintf(stderr, "the pane lists %d files, expected %d\n", form.FileBx1->Count(), files);
            status = 1;
        } else {
            std::printf("files %d: listed %.0f ms after the last was made; longest event-loop gap %.1f ms\n", files,
                double(listedAt - madeAt) / 1e6, double(worstGap) / 1e6);
        }
    }
    std::filesystem::remove_all(dir);
    return status;
}
