// The copy threads: bytes move on any of them, commits follow the walk's order.
#include "engine/copy_workers.h"

#include "platform/ui_services.h"

#include <algorithm>
#include <chrono>
#include <span>
#include <system_error>

namespace zelo {

namespace {

// How often the window runs while the walk waits for copies.
constexpr auto kEventInterval = std::chrono::milliseconds(15);

// Copies under way: enough that a thread finding its next copy never waits on the walk, few enough that
// the descriptors they hold (two each) stay a small share of the process's.
constexpr size_t kCopiesPerThread = 32;
constexpr size_t kMostUnderWay = 64;

// Copies the walk hands over at once, and the most a thread takes at once: small files come faster than
// a thread wakes, so a lock and a wake for each would cost more than the copy.
constexpr size_t kHandOverAtOnce = 8;
constexpr size_t kTakeAtOnce = 4;

// Copies waiting that the walk's thread leaves to the threads rather than copy one itself: two takes
// worth, so a thread finishing its copies finds its next ones waiting.
constexpr size_t kLeftToThreads = 2 * kTakeAtOnce;

// The largest file the walk's thread copies itself while it waits: one that takes a moment, so the window
// keeps running and the stop button answers.
constexpr uint64_t kLargestHelped = 256 << 10;

int BlocksOf(uint64_t bytes)
{
    return ProgressUnits((bytes + kCopyBlockSize - 1) / kCopyBlockSize);
}

} // namespace

CopyWorkerOptions CopyWorkerOptions::For(bool network)
{
    CopyWorkerOptions options;
    // A share answers each file after a round trip: several files in flight hide the wait. Elsewhere the
    // walk's thread copies too while it waits, so it counts as one of the cores.
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    options.threads = network ? 8 : std::clamp(cores - 1, 1u, 8u);
    options.window = std::min(options.threads * kCopiesPerThread, kMostUnderWay);
    options.walkHelps = !network;
    return options;
}

CopyWorkers::CopyWorkers(
    const CopyWorkerOptions& options, std::stop_token stop, std::function<void(uint64_t)> showProgress)
    : m_showProgress(std::move(showProgress))
    , m_threadCount(options.threads)
    , m_walkHelps(options.walkHelps)
    , m_window(std::max<size_t>(options.window, 1))
    , m_passStopOn(std::move(stop), PassStopOn { &m_stop })
{
    for (size_t i = 0; i < m_threadCount; ++i) {
        try {
            m_threads.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break; // the system gives no more threads: those there are, or the walk's thread alone, copy
        }
    }
}

CopyWorkers::~CopyWorkers()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_quit = true;
        m_runEnded = true;
    }
    m_stop.request_stop();
    m_work.notify_all();
    for (std::thread& thread : m_threads)
        thread.join();
}

void CopyWorkers::Work()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        ++m_idle;
        m_work.wait(lock, [this] { return m_quit || !m_queue.empty(); });
        --m_idle;
        if (m_quit) return;
        // A few copies at a time, shared fairly among the threads: one lock for several files.
        MoveSome(lock, std::clamp<size_t>(m_queue.size() / (m_threadCount + 1), 1, kTakeAtOnce), UINT64_MAX);
    }
}

bool CopyWorkers::MoveSome(std::unique_lock<std::mutex>& lock, size_t most, uint64_t largest)
{
    Slot* batch[kTakeAtOnce];
    size_t taken = 0;
    most = std::min(most, kTakeAtOnce);
    while (taken < most && !m_queue.empty() && m_queue.front()->copy->Entry().size() <= largest) {
        batch[taken] = m_queue.front();
        m_queue.pop_front();
        batch[taken++]->state = SlotState::Moving;
    }
    if (taken == 0) return false;
    const bool ended = m_runEnded;
    lock.unlock();
    for (Slot* slot : std::span(batch, taken)) {
        const bool moved = !ended && !m_stop.stop_requested() && slot->copy->Move([this, slot](uint64_t bytes) {
            slot->moved.store(bytes, std::memory_order_relaxed);
            return !m_stop.stop_requested();
        });
        slot->outcome = moved ? SlotState::Moved : SlotState::MoveEnded;
    }
    lock.lock();
    for (Slot* slot : std::span(batch, taken))
        slot->state = slot->outcome;
    CommitInOrder(lock);
    return true;
}

void CopyWorkers::CommitInOrder(std::unique_lock<std::mutex>& lock)
{
    if (m_committing) return; // the thread committing now takes these too when their turn comes
    m_committing = true;
    std::vector<Slot*>& ready = m_ready; // the committing thread's alone
    for (;;) {
        // The copies next in order whose bytes have all moved, committed together with one lock.
        ready.clear();
        for (uint64_t sequence = m_nextCommit; sequence < m_nextSequence; ++sequence) {
            Slot* slot = m_order[sequence - m_order.front()->sequence].get();
            if (slot->state == SlotState::Queued || slot->state == SlotState::Moving) break;
            ready.push_back(slot);
        }
        if (ready.empty()) break;
        bool ended = m_runEnded;
        lock.unlock();
        for (Slot* slot : ready) {
            if (ended) {
                slot->outcome = SlotState::Dropped;
            } else if (slot->state == SlotState::MoveEnded) {
                slot->outcome = slot->copy->NameRefused() ? SlotState::Refused
                    : slot->copy->Failed()                ? SlotState::Failed
                                                          : SlotState::Stopped;
                ended = slot->outcome != SlotState::Refused;
            } else if (m_stop.stop_requested()) {
                slot->outcome = SlotState::Stopped;
                ended = true;
            } else {
                slot->outcome = slot->copy->Commit() ? SlotState::Committed
                    : slot->copy->NameRefused()      ? SlotState::Refused
                                                     : SlotState::Failed;
                ended = slot->outcome == SlotState::Failed;
            }
        }
        lock.lock();
        for (Slot* slot : ready)
            slot->state = slot->outcome;
        if (ended) m_runEnded = true;
        m_nextCommit += ready.size();
        if (m_nextCommit >= m_wakeWalkAt) m_changed.notify_one();
    }
    m_committing = false;
}

void CopyWorkers::Retire(std::unique_lock<std::mutex>& lock)
{
    const auto finished = [](SlotState state) {
        return state == SlotState::Committed || state == SlotState::Failed || state == SlotState::Refused
            || state == SlotState::Stopped || state == SlotState::Dropped;
    };
    m_retiring.clear();
    while (!m_order.empty() && finished(m_order.front()->state)) {
        m_retiring.push_back(std::move(m_order.front()));
        m_order.pop_front();
    }
    if (m_retiring.empty()) return;
    lock.unlock();
    for (auto& slot : m_retiring) {
        // Once the run has ended, what was still under way is only let go.
        switch (m_ended ? SlotState::Dropped : slot->state) {
        case SlotState::Committed:
            if (slot->done && !slot->done()) {
                m_ended = true;
                std::lock_guard<std::mutex> ending(m_mutex);
                m_runEnded = true;
            }
            break;
        case SlotState::Failed:
            slot->copy->Report();
            m_ended = true;
            if (slot->ended) slot->ended();
            break;
        case SlotState::Refused:
            slot->copy->Report();
            ++m_refused;
            if (slot->ended) slot->ended();
            break;
        case SlotState::Stopped:
            m_ended = true;
            m_stoppedByUser = true;
            if (slot->ended) slot->ended();
            break;
        default:
            break;
        }
        // Its bytes no longer count as under way: the walk counts the copy as done now.
        m_movedShown -= std::min(m_movedShown, slot->moved.load(std::memory_order_relaxed));
        // The copy (and any replacement it still holds) goes here, on the walk's thread.
        slot.reset();
    }
    m_retiring.clear();
    lock.lock();
}

void CopyWorkers::WaitOnce(std::unique_lock<std::mutex>& lock, uint64_t until)
{
    m_wakeWalkAt = until;
    if (m_nextCommit < until) m_changed.wait_for(lock, kEventInterval);
    m_wakeWalkAt = UINT64_MAX;
    Retire(lock);
    lock.unlock();
    Pump();
    lock.lock();
}

void CopyWorkers::Pump()
{
    // The walk's progress goes to the window every time; the bytes of every copy under way and the block bar
    // only as often as it repaints: counting them for each file decided costs more than a small file's copy.
    const auto now = std::chrono::steady_clock::now();
    const bool repaint = now - m_lastShown >= kEventInterval;
    if (repaint) {
        m_lastShown = now;
        // Only this thread changes the order, so it reads it without the lock; the bytes moved are counted apart.
        m_movedShown = 0;
        for (const auto& slot : m_order)
            m_movedShown += slot->moved.load(std::memory_order_relaxed);
    }
    if (m_showProgress) m_showProgress(m_movedShown);
    if (repaint) {
        // The block bar follows the oldest copy not yet handed back.
        ProgressWindow& progress = ui().Progress();
        if (!m_order.empty() || !m_pending.empty()) {
            const Slot& oldest = m_order.empty() ? *m_pending.front() : *m_order.front();
            progress.SetMax(ProgressBar::Block, BlocksOf(oldest.copy->Entry().size()));
            progress.SetPosition(ProgressBar::Block, BlocksOf(oldest.moved.load(std::memory_order_relaxed)));
        } else {
            progress.SetPosition(ProgressBar::Block, 0);
        }
    }
    ui().ProcessEvents();
}

bool CopyWorkers::Submit(std::unique_ptr<ListedCopy> copy, std::function<bool()> done, std::function<void()> ended)
{
    if (m_ended) return false;
    auto slot = std::make_shared<Slot>();
    slot->copy = std::move(copy);
    slot->done = std::move(done);
    slot->ended = std::move(ended);
    m_pending.push_back(std::move(slot));
    if (m_pending.size() < kHandOverAtOnce) return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    HandOver(lock);
    Retire(lock);
    // A full window: the walk's thread copies small files itself meanwhile, one at a time so that it hands the
    // threads their next copies soon, or waits until half of the window
    // is done, so the walk and the threads do not take turns file by file.
    while (m_order.size() >= m_window && !m_ended) {
        // The walk's thread leaves the threads their next few copies: it has the walk to go on with.
        const bool helps = m_walkHelps && m_queue.size() > kLeftToThreads;
        if (m_threads.empty() ? MoveSome(lock, 1, UINT64_MAX) : helps && MoveSome(lock, 1, kLargestHelped))
            Retire(lock);
        else
            WaitOnce(lock, m_order.front()->sequence + std::max<size_t>(m_window / 2, 1));
    }
    return !m_ended;
}

void CopyWorkers::HandOver(std::unique_lock<std::mutex>&)
{
    if (m_pending.empty()) return;
    for (auto& slot : m_pending) {
        slot->sequence = m_nextSequence++;
        m_queue.push_back(slot.get());
        m_order.push_back(std::move(slot));
    }
    m_pending.clear();
    if (m_idle > 0) m_work.notify_all();
}

bool CopyWorkers::Drain()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    HandOver(lock);
    Retire(lock);
    while (!m_order.empty()) {
        if (m_threads.empty() && MoveSome(lock, kTakeAtOnce, UINT64_MAX)) {
            Retire(lock);
            continue;
        }
        WaitOnce(lock, m_nextSequence);
    }
    return !m_ended;
}

} // namespace zelo
