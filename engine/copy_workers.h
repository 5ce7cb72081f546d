// Copies of file contents carried out on a few threads while the walk goes on deciding. The walk hands
// its copies over in its order; they take their destinations' places in that order, and what the walk's
// thread must see of them (a copy done, a failure's message) reaches it in that order too. A failure or
// a stop ends the run: no copy after it takes its destination's place, and none is left half made. A name
// the destination refuses is a failure of that copy alone: told, counted, and the run goes on.
#pragma once

#include "engine/file_copy.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

namespace zelo {

// How a run's copies are carried out.
struct CopyWorkerOptions {
    // Copy threads beside the walk's; with none, the walk's thread copies every file itself.
    unsigned threads = 1;
    // The most copies handed over and not yet handed back (at least one): how far the copies may lag
    // behind the walk.
    size_t window = 32;
    // Whether the walk's thread copies small files itself while it waits for the threads.
    bool walkHelps = true;

    // network: the source or destination answers each file after a round trip to a server, so more copies
    // are under way and the walk's thread, which keeps the window alive, copies none itself. Elsewhere as
    // many threads as the machine has cores, the walk's thread among them.
    static CopyWorkerOptions For(bool network);
};

class CopyWorkers {
public:
    // stop: the stop request, which every copy under way sees at its next chunk;
    // showProgress: puts the walk's progress on the window before it runs, given the bytes the copies
    // not yet handed back have moved.
    CopyWorkers(
        const CopyWorkerOptions& options, std::stop_token stop, std::function<void(uint64_t moved)> showProgress = {});
    // Drops every copy not yet committed and waits for the threads.
    ~CopyWorkers();
    CopyWorkers(const CopyWorkers&) = delete;
    CopyWorkers& operator=(const CopyWorkers&) = delete;

    // Hands a copy over. done runs on this thread once the copy has taken its destination's place (false
    // from it ends the run; copies already committed after it stay); ended runs when the run ended at this
    // copy (after its failure has been told, or at the stop), or when the destination refused its name
    // (told; the run goes on). False once the run has ended: the walk stops.
    // Waits, letting the window run, while many copies are under way.
    bool Submit(std::unique_ptr<ListedCopy> copy, std::function<bool()> done, std::function<void()> ended);
    // Waits, letting the window run, until every copy handed over is committed or the run has ended.
    // False when it has ended.
    bool Drain();
    // Whether the run ended, and whether by the stop request rather than a failure.
    bool Ended() const { return m_ended; }
    bool StoppedByUser() const { return m_stoppedByUser; }
    // Copies whose names the destination refused, each told: failures of the run that did not end it.
    int Refused() const { return m_refused; }
    // Lets the window run, with the oldest copy under way on the block bar.
    void Pump();

private:
    enum class SlotState { Queued, Moving, Moved, MoveEnded, Committed, Failed, Refused, Stopped, Dropped };
    struct Slot {
        uint64_t sequence = 0;
        std::unique_ptr<ListedCopy> copy;
        std::function<bool()> done;
        std::function<void()> ended;
        std::atomic<uint64_t> moved { 0 };
        SlotState state = SlotState::Queued;
        SlotState outcome = SlotState::Queued; // a thread's own until it takes the lock again
    };

    void Work();
    // Takes up to most copies waiting in order (none larger than largest) and moves their bytes, then commits
    // what is due. False when there was none to take.
    bool MoveSome(std::unique_lock<std::mutex>& lock, size_t most, uint64_t largest);
    // Gives the threads the copies the walk has gathered.
    void HandOver(std::unique_lock<std::mutex>& lock);
    // Commits, in order, every copy whose bytes have all moved; one thread at a time does it.
    void CommitInOrder(std::unique_lock<std::mutex>& lock);
    // Hands the walk's thread the copies at the front that are finished.
    void Retire(std::unique_lock<std::mutex>& lock);
    // One wait for a change, with the window run.
    // until: the sequence number of the copy whose commit ends the wait.
    void WaitOnce(std::unique_lock<std::mutex>& lock, uint64_t until);

    // Passes the caller's stop request on to the run's own stop.
    struct PassStopOn {
        std::stop_source* to;
        void operator()() const noexcept { to->request_stop(); }
    };

    const std::function<void(uint64_t)> m_showProgress;
    const size_t m_threadCount;
    const bool m_walkHelps;
    const size_t m_window;
    std::mutex m_mutex;
    std::condition_variable m_work;
    std::condition_variable m_changed;
    std::vector<std::shared_ptr<Slot>> m_pending; // gathered by the walk, not yet handed over
    std::deque<std::shared_ptr<Slot>> m_order; // handed over and not yet retired, in the walk's order
    std::deque<Slot*> m_queue; // waiting for a thread
    std::vector<std::shared_ptr<Slot>> m_retiring; // the walk's thread's own
    std::vector<Slot*> m_ready; // the committing thread's own
    std::chrono::steady_clock::time_point m_lastShown {}; // when the window was last given the bytes moved
    uint64_t m_movedShown = 0;
    uint64_t m_nextSequence = 0;
    uint64_t m_nextCommit = 0;
    bool m_committing = false;
    unsigned m_idle = 0; // threads waiting for a copy
    uint64_t m_wakeWalkAt = UINT64_MAX; // the walk's thread waits until this copy has been committed
    bool m_runEnded = false; // seen by the threads: nothing more is committed
    bool m_quit = false;
    // The run's stop: requested by the caller's stop request, or when the run is let go.
    std::stop_source m_stop;
    std::stop_callback<PassStopOn> m_passStopOn;
    bool m_ended = false; // seen by the walk's thread
    bool m_stoppedByUser = false;
    int m_refused = 0;
    std::vector<std::thread> m_threads;
};

} // namespace zelo
