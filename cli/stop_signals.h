// SIGINT, SIGTERM and SIGHUP press the stop button while a copy runs.
#pragma once

#include "platform/ui_services.h"

#include <csignal>
#include <iterator>

namespace zelo::cli {

// While it lives, the first of these signals stops the operation between two chunks (which removes its
// unfinished file); a second one ends the program at once (the unfinished file has no name where the
// file system allows, so even then nothing is left). A signal the caller ignores (nohup) stays ignored.
class StopOnSignals final : public UiServices {
public:
    StopOnSignals();
    ~StopOnSignals() override;
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    void ShowPlainMessage(const std::string& text) override { m_inner.ShowPlainMessage(text); }
    int AppMessageBox(const std::string& text, const std::string& caption, uint32_t flags) override
    {
        return m_inner.AppMessageBox(text, caption, flags);
    }
    void ProcessEvents() override;
    void SetBusyCursor(bool busy) override { m_inner.SetBusyCursor(busy); }
    ProgressWindow& Progress() override { return m_inner.Progress(); }

    static bool Stopped();
    // Ends the program by the signal that stopped it, as if it had not been caught.
    [[noreturn]] static void EndBySignal();

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    UiServices& m_inner;
    struct sigaction m_previous[std::size(kSignals)] {};
};

} // namespace zelo::cli
