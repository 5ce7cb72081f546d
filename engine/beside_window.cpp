// Work beside the window.
#include "engine/beside_window.h"

#include "engine/messages.h"
#include "platform/errors.h"
#include "platform/filesystem.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace zelo {

namespace {

// How long the window's thread waits for the work's next request before it turns the event loop again.
constexpr auto kServeInterval = std::chrono::milliseconds(5);

// The progress window as the work's thread sees it: nothing there is shown.
class UnseenProgress final : public ProgressWindow {
public:
    void Show() override { }
    void Close() override { }
    bool IsVisible() const override { return false; }
    void SetMax(ProgressBar, int) override { }
    void SetPosition(ProgressBar, int) override { }
    int Position(ProgressBar) const override { return 0; }
    void Step(ProgressBar, int) override { }
    void SetBarVisible(ProgressBar, bool) override { }
    void SetLabel(const std::string&) override { }
    void SetStopVisible(bool) override { }
    bool ShowsBars() const override { return false; }
};

// The services while work runs beside the window: the window's thread uses those in use as ever; the
// work's thread hands its messages, questions and cursor to the window's thread and waits for them.
class WindowThreadServices final : public ForwardingUiServices {
public:
    void ShowPlainMessage(const std::string& text) override
    {
        if (OnWindowThread()) return inner().ShowPlainMessage(text);
        Ask([&] { inner().ShowPlainMessage(text); });
    }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        if (OnWindowThread()) return inner().AppMessageBox(text, caption, flags);
        int answer = kIdNo;
        Ask([&] { answer = inner().AppMessageBox(text, caption, flags); });
        return answer;
    }
    void ProcessEvents() override
    {
        if (OnWindowThread()) inner().ProcessEvents();
    }
    void SetBusyCursor(bool busy) override
    {
        if (OnWindowThread()) return inner().SetBusyCursor(busy);
        Ask([&] { inner().SetBusyCursor(busy); });
    }
    ProgressWindow& Progress() override { return OnWindowThread() ? inner().Progress() : m_unseen; }

    // The work's thread is done: Serve returns.
    void Finished()
    {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_finished = true;
        m_changed.notify_all();
    }

    // On the window's thread until the work has finished: its requests, tick and the event loop. A request
    // that throws is answered all the same (the work goes on to its end); the first exception is kept.
    void Serve(const std::function<void()>& tick, std::exception_ptr& failed)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        while (!m_finished || m_request) {
            m_changed.wait_for(lock, kServeInterval, [this] { return m_request || m_finished; });
            if (const std::function<void()>* request = m_request) {
                lock.unlock();
                try {
                    (*request)();
                    // What the answer changed (a stop pressed meanwhile) reaches the work before it goes on.
                    if (tick) tick();
                } catch (...) {
                    if (!failed) failed = std::current_exception();
                }
                lock.lock();
                m_request = nullptr;
                m_changed.notify_all();
            }
            if (m_finished) break;
            lock.unlock();
            if (tick) tick();
            inner().ProcessEvents();
            lock.lock();
        }
    }

private:
    bool OnWindowThread() const { return std::this_thread::get_id() == m_windowThread; }

    // From the work's thread: runs request on the window's thread and waits until it has.
    void Ask(const std::function<void()>& request)
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_request = &request;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_request == nullptr; });
    }

    const std::thread::id m_windowThread = std::this_thread::get_id();
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const std::function<void()>* m_request = nullptr;
    bool m_finished = false;
    UnseenProgress m_unseen;
    ScopedUiServices m_installed { *this };
};

} // namespace

void RunBesideWindow(const std::function<void()>& work, const std::function<void()>& tick)
{
    WindowThreadServices services;
    std::exception_ptr failed;
    uint32_t error = err::Success;
    std::thread worker;
    try {
        worker = std::thread([&] {
            try {
                work();
            } catch (...) {
                failed = std::current_exception();
            }
            error = GetLastError();
            services.Finished();
        });
    } catch (const std::system_error&) {
        work(); // no thread to be had: the window waits
        if (tick) tick();
        return;
    }
    std::exception_ptr unanswered;
    services.Serve(tick, unanswered);
    worker.join();
    if (tick) tick();
    SetLastError(error);
    if (failed) std::rethrow_exception(failed);
    if (unanswered) std::rethrow_exception(unanswered);
}

// Flushing a large copy can take seconds on a busy disk: it runs beside the window, which keeps
// repainting meanwhile. The last error travels back with the result (it is kept per thread).
bool SyncKeepingWindowAlive(const std::string& path)
{
    bool synced = false;
    RunBesideWindow([&] { synced = fs().SyncFileSystem(path); });
    return synced;
}

// Flushes the destination once before the result is told, rather than once per file.
void SyncDestination(const std::string& destinationBase, TransferCounts& counts, int& status)
{
    if (counts.createdDirs + counts.newFiles + counts.updatedFiles + counts.deletedFiles + counts.deletedDirs == 0
        || SyncKeepingWindowAlive(destinationBase))
        return;
    const std::string text = FileErrorText(destinationBase, kContextWriteDenied);
    ShowPlainMessage(text);
    counts.problems.push_back(text);
    ++counts.failures;
    if (status == kTransferDone) status = kTransferStoppedByError;
}

} // namespace zelo
