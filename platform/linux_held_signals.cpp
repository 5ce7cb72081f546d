// Holding the stop signals: their dispositions are swapped for a handler that only notes them, which
// holds them on every thread (a blocked mask would hold them on one), and are put back at the end.
#include "platform/held_signals.h"

#include <atomic>

namespace zelo {

namespace {

std::atomic<unsigned> g_held { 0 }; // one bit per signal number that arrived while held
int g_depth = 0;

static_assert(std::atomic<unsigned>::is_always_lock_free, "the note is taken in a signal handler");

void NoteSignal(int signal)
{
    g_held.fetch_or(1u << signal);
}

} // namespace

HeldStopSignals::HeldStopSignals()
{
    m_outermost = g_depth++ == 0;
    if (!m_outermost) return;
    g_held = 0;
    struct sigaction action { };
    action.sa_handler = NoteSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int signal : kSignals)
        sigaddset(&action.sa_mask, signal);
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &m_previous[i]);
        // An ignored signal (nohup) stays ignored.
        if (m_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
    }
}

HeldStopSignals::~HeldStopSignals()
{
    --g_depth;
    if (!m_outermost) return;
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
    const unsigned held = g_held.exchange(0);
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        if ((held & (1u << kSignals[i])) && m_previous[i].sa_handler != SIG_IGN) ::raise(kSignals[i]);
    }
}

bool HeldStopSignals::Pending()
{
    return g_held.load() != 0;
}

} // namespace zelo
