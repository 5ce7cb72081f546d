// The stop button of zelo-cli: SIGINT, SIGTERM and SIGHUP.
#include "cli/stop_signals.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace zelo::cli {

namespace {

volatile sig_atomic_t g_stopSignal = 0;

void OnStopSignal(int signal)
{
    if (g_stopSignal != 0) {
        ::signal(signal, SIG_DFL);
        ::raise(signal);
        return;
    }
    g_stopSignal = signal;
}

// Says which signal ended the program, with write(2) alone (a signal handler may call nothing else that
// prints), then ends it by that signal.
void OnEndSignal(int signal)
{
    char text[] = "zelo-cli: stopped by signal 00\n";
    const size_t digits = sizeof text - 4;
    text[digits] = char('0' + signal / 10 % 10);
    text[digits + 1] = char('0' + signal % 10);
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, text, sizeof text - 1);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
}

} // namespace

StopOnSignals::StopOnSignals()
{
    struct sigaction action { };
    action.sa_handler = OnStopSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &m_previous[i]);
        if (m_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
    }
}

StopOnSignals::~StopOnSignals()
{
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
}

void StopOnSignals::ProcessEvents()
{
    inner().ProcessEvents();
    if (g_stopSignal != 0) m_stop.request_stop();
}

bool StopOnSignals::Stopped()
{
    return g_stopSignal != 0;
}

void StopOnSignals::EndBySignal()
{
    const int signal = g_stopSignal;
    std::fprintf(stderr, "zelo-cli: stopped by signal %d\n", signal);
    std::fflush(stdout);
    ::signal(signal, SIG_DFL);
    ::raise(signal);
    std::exit(128 + signal);
}

EndOnSignals::EndOnSignals()
{
    struct sigaction action { };
    action.sa_handler = OnEndSignal;
    sigemptyset(&action.sa_mask);
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        ::sigaction(kSignals[i], nullptr, &m_previous[i]);
        if (m_previous[i].sa_handler != SIG_IGN) ::sigaction(kSignals[i], &action, nullptr);
    }
}

EndOnSignals::~EndOnSignals()
{
    for (size_t i = 0; i < std::size(kSignals); ++i)
        ::sigaction(kSignals[i], &m_previous[i], nullptr);
}

} // namespace zelo::cli
