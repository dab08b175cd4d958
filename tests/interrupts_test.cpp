// The signals that end a run early, each in a child process of its own: a
// caught signal is noted for as long as the process lives.
#include <gtest/gtest.h>

#include <signal.h>

#include <cstdlib>

#include "interrupts.h"

namespace {

TEST(InterruptsDeathTest, TheFirstIsNotedTheSecondEndsTheProcess)
{
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP}) {
        EXPECT_EXIT(
            {
                catch_interrupts();
                raise(signal_number);
                if (caught_interrupt() != signal_number)
                    std::exit(3);
                // Asked twice: whoever sends it will not wait for the report.
                raise(signal_number);
                std::exit(4);
            },
            ::testing::KilledBySignal(signal_number), "")
            << signal_number;
    }
}

TEST(InterruptsDeathTest, ASignalIgnoredByWhoStartedUsStaysIgnored)
{
    EXPECT_EXIT(
        {
            signal(SIGHUP, SIG_IGN);
            catch_interrupts();
            raise(SIGHUP);
            raise(SIGHUP);
            std::exit(caught_interrupt() == 0 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
