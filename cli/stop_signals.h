// SIGINT, SIGTERM and SIGHUP press the stop button while a copy runs, and end a conversion.
#pragma once

#include "platform/ui_services.h"

#include <csignal>
#include <iterator>
#include <stop_token>

namespace zelo::cli {

// While it lives, the first of these signals stops the operation between two chunks (which removes its
// unfinished file); a second one ends the program at once (the unfinished file has no name where the
// file system allows, so even then nothing is left). A signal the caller ignores (nohup) stays ignored.
// The handler only notes the signal: the next turn of the event loop requests the stop (requesting it
// is not safe inside a signal handler).
class StopOnSignals final : public ForwardingUiServices {
public:
    StopOnSignals();
    ~StopOnSignals() override;
    StopOnSignals(const StopOnSignals&) = delete;
    StopOnSignals& operator=(const StopOnSignals&) = delete;

    void ProcessEvents() override;
    // The stop request the operation reads.
    std::stop_token Token() const { return m_stop.get_token(); }

    static bool Stopped();
    // Ends the program by the signal that stopped it, as if it had not been caught.
    [[noreturn]] static void EndBySignal();

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    struct sigaction m_previous[std::size(kSignals)] {};
    std::stop_source m_stop;
    ScopedUiServices m_installed { *this };
};

// For a command that has no stop button (the conversions): while it lives, the first of these signals
// names itself on standard error and ends the program at once, as by default; a write-back in place
// holds them until it has ended (HeldStopSignals), so the program then ends with the file whole and its
// kept copy removed. A signal the caller ignores stays ignored.
class EndOnSignals final {
public:
    EndOnSignals();
    ~EndOnSignals();
    EndOnSignals(const EndOnSignals&) = delete;
    EndOnSignals& operator=(const EndOnSignals&) = delete;

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    struct sigaction m_previous[std::size(kSignals)] {};
};

} // namespace zelo::cli
