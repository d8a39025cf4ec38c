// JUCE's timer thread (mended by cmake/patches/juce-timer-thread.patch): it sleeps until its first timer is due
// instead of waking every 100 ms, and a timer started while it sleeps still waits its whole interval.
#include "GuiTestSupport.h"

#include <juce_events/juce_events.h>

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

namespace olvo
{

namespace
{
    /** A timer that calls a function. */
    struct CallingTimer : public juce::Timer
    {
        explicit CallingTimer (std::function<void()> f = [] {}) : onTimer (std::move (f)) {}
        ~CallingTimer() override { stopTimer(); }
        void timerCallback() override { onTimer(); }
        std::function<void()> onTimer;
    };

    /** The times JUCE's timer thread has gone to sleep so far (its voluntary context switches); -1 without it. */
    long timerThreadSleeps()
    {
        const int thread = test::threadNamed ("JUCE Timer");
        if (thread == 0)
            return -1;

        std::ifstream status ("/proc/self/task/" + std::to_string (thread) + "/status");
        for (std::string line; std::getline (status, line);)
            if (line.rfind ("voluntary_ctxt_switches:", 0) == 0)
                return std::stol (line.substr (line.find (':') + 1));
        return -1;
    }
}

TEST (TimerThread, SleepsUntilItsFirstTimerIsDue)
{
    CallingTimer slow;
    slow.startTimer (2000);
    ASSERT_TRUE (test::pumpUntil ([] { return timerThreadSleeps() >= 0; })) << "no timer thread";

    const auto before = timerThreadSleeps();
    test::pumpFor (3000);
    const auto sleeps = timerThreadSleeps() - before;

    // One firing (its message, and the wait for the callback) and the thread's once-a-second check: a handful of
    // wake-ups, where waking every 100 ms made some thirty.
    EXPECT_LE (sleeps, 12) << sleeps << " wake-ups in 3 s with one 2 s timer";
}

TEST (TimerThread, ATimerStartedWhileTheThreadSleepsWaitsItsWholeInterval)
{
    // A long timer keeps the thread asleep for its longest sleep; another is started well into that sleep.
    CallingTimer longOne;
    longOne.startTimer (60'000);

    for (int attempt = 0; attempt < 3; ++attempt)
    {
        test::pumpFor (900);

        juce::uint32 firedAt = 0;
        CallingTimer shortOne ([&firedAt] { if (firedAt == 0) firedAt = juce::Time::getMillisecondCounter(); });
        const auto startedAt = juce::Time::getMillisecondCounter();
        shortOne.startTimer (500);

        ASSERT_TRUE (test::pumpUntil ([&firedAt] { return firedAt != 0; }, 30000)) << "it never fired";
        EXPECT_GE (firedAt - startedAt, 480u) << "fired early, after " << (firedAt - startedAt) << " ms";
    }
}

} // namespace olvo
