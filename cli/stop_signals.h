// SIGINT, SIGTERM and SIGHUP press the stop button while a copy runs.
#pragma once

#include "platform/ui_services.h"

#include <csignal>
#include <iterator>

namespace zelo::cli {

// While it lives, the first of these signals stops the operation between two chunks (which removes its
// unfinished file); a second one ends the program at once (the unfinished file has no name where the
// file system allows, so even then nothing is left). A signal the caller ignores (nohup) stays ignored.
class StopOnSignals final : public ForwardingUiServices {
public:
    StopOnSignals();
    ~StopOnSignals() override;
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    void ProcessEvents() override;

    static bool Stopped();
    // Ends the program by the signal that stopped it, as if it had not been caught.
    [[noreturn]] static void EndBySignal();

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    struct sigaction m_previous[std::size(kSignals)] {};
    ScopedUiServices m_installed { *this };
};

} // namespace zelo::cli
