// Holding the stop signals: one that arrives while held acts once, when the outermost hold ends, as
// the disposition before it asks; an ignored one stays ignored.
#include "platform/held_signals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace zelo {
namespace {

volatile sig_atomic_t g_caught = 0;

TEST(HeldStopSignals, HandlerRunsOnceWhenTheOutermostHoldEnds)
{
    for (int signal : { SIGINT, SIGTERM, SIGHUP }) {
        SCOPED_TRACE(signal);
        struct sigaction counting {
        }, previous {};
        counting.sa_handler = [](int) { g_caught = g_caught + 1; };
        ::sigaction(signal, &counting, &previous);
        g_caught = 0;
        {
            const HeldStopSignals outer;
            {
                const HeldStopSignals inner;
                ::raise(signal);
                ::raise(signal);
            }
            EXPECT_EQ(g_caught, 0);
            EXPECT_TRUE(HeldStopSignals::Pending());
        }
        EXPECT_EQ(g_caught, 1);
        EXPECT_FALSE(HeldStopSignals::Pending());
        struct sigaction after { };
        ::sigaction(signal, &previous, &after);
        EXPECT_EQ(after.sa_handler, counting.sa_handler);
    }
}

TEST(HeldStopSignals, IgnoredSignalStaysIgnored)
{
    struct sigaction ignore {
    }, previous {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &previous);
    {
        const HeldStopSignals held;
        ::raise(SIGHUP);
        EXPECT_FALSE(HeldStopSignals::Pending());
    }
    struct sigaction after { };
    ::sigaction(SIGHUP, &previous, &after);
    EXPECT_EQ(after.sa_handler, SIG_IGN);
}

TEST(HeldStopSignalsDeathTest, DefaultEndsTheProgramOnlyWhenTheHoldEnds)
{
    EXPECT_EXIT(
        {
            ::signal(SIGTERM, SIG_DFL);
            {
                const HeldStopSignals held;
                ::raise(SIGTERM);
                std::fputs("still held\n", stderr);
            }
            std::exit(0);
        },
        testing::KilledBySignal(SIGTERM), "still held");
}

} // namespace
} // namespace zelo
