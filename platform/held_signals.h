// SIGINT, SIGTERM and SIGHUP held while a file is written back in place, where a stop would leave it
// half written.
#pragma once

#include <csignal>
#include <iterator>

namespace zelo {

// While it lives, these signals are held: one that arrives meanwhile (on any thread) acts when the scope
// ends, as the disposition in place before asks (a handler runs, the default ends the program, an
// ignored one stays ignored). Holds nest; only the outermost one releases. For the one thread that
// writes back.
class HeldStopSignals {
public:
    HeldStopSignals();
    ~HeldStopSignals();
    HeldStopSignals(const HeldStopSignals&) = delete;
    HeldStopSignals& operator=(const HeldStopSignals&) = delete;

    // Whether a signal arrived while held and waits for the end of the hold.
    static bool Pending();

private:
    static constexpr int kSignals[] = { SIGINT, SIGTERM, SIGHUP };
    struct sigaction m_previous[std::size(kSignals)] {};
    bool m_outermost = false;
};

} // namespace zelo
