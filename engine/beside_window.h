// Work that runs beside the window while it keeps repainting: a flush of the destination, a count of the
// source for the overall bar's end, a deletion or a move to the trash.
#pragma once

#include "engine/folder_transfer.h"
#include "engine/tree.h"
#include "platform/threads.h"
#include "platform/ui_services.h"

#include <atomic>
#include <functional>
#include <stop_token>
#include <string>
#include <system_error>
#include <thread>

namespace zelo {

// Runs work on a thread of its own while this thread, the window's, turns the event loop every few
// milliseconds and runs tick (when given) between turns to put the work's progress on the window, and
// once more at the end. The messages and questions work asks through ui() are shown from this thread,
// work waiting for each answer and for the tick after it: a window is only ever shown from the window's
// thread. work sees no progress window (ui().Progress() there shows nothing) and never turns the event
// loop. Afterwards the last error is work's. Without a thread to be had, work runs here and the window
// waits.
void RunBesideWindow(const std::function<void()>& work, const std::function<void()>& tick = {});

// Flushes the file system that holds path on a thread of its own, the window repainting meanwhile (on
// this thread when no thread is to be had). The last error is this thread's afterwards.
bool SyncKeepingWindowAlive(const std::string& path);

// Flushes the destination once before the result is told, rather than once per file: a failure is told,
// counted, and turns a done status into one stopped by an error.
void SyncDestination(const std::string& destinationBase, TransferCounts& counts, int& status);

// The files of a tree, counted on a thread of their own beside the walk for the overall bar's end, so the
// first copies need not wait for a count of the whole tree. Without a thread to be had it counts at once;
// where nobody sees the bars, not at all.
class CountBeside {
public:
    explicit CountBeside(const std::string& root)
    {
        if (!ui().Progress().ShowsBars()) return;
        try {
            m_counting = std::jthread([this, root](std::stop_token stop) {
                // It yields to the walk and the copies: the bar's end can wait, they cannot.
                TakeLeastProcessorShare();
                m_files = CountTree(root, ListDetail::KindOnly, std::move(stop)).files;
            });
        } catch (const std::system_error&) {
            m_files = CountTree(root, ListDetail::KindOnly).files;
        }
    }
    CountBeside(const CountBeside&) = delete;
    CountBeside& operator=(const CountBeside&) = delete;

    // Puts the bar's end up once the count is in.
    void Show(ProgressWindow& progress)
    {
        if (m_shown) return;
        const int files = m_files.load();
        if (files < 0) return;
        progress.SetMax(ProgressBar::Overall, files);
        m_shown = true;
    }

private:
    std::atomic<int> m_files { -1 };
    bool m_shown = false;
    // Last: a count still under way is given up and its thread joined before the rest goes.
    std::jthread m_counting;
};

} // namespace zelo
