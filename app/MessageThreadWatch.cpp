#include "MessageThreadWatch.h"

#include <cstdio>
#include <cstdlib>

namespace olvo
{

namespace
{
    constexpr int postEveryMs = 5;
    constexpr double reportFromMs = 2.0;
}

std::unique_ptr<MessageThreadWatch> MessageThreadWatch::create()
{
    const juce::String text (std::getenv ("OLVO_WATCH_MESSAGE_THREAD"));
    if (text.isEmpty() || ! text.containsOnly ("0123456789") || text.length() > 4)
        return {};

    const int seconds = text.getIntValue();
    return seconds >= 1 && seconds <= 3600 ? std::make_unique<MessageThreadWatch> (seconds) : nullptr;
}

MessageThreadWatch::MessageThreadWatch (int watchSeconds)
    : juce::Thread ("MessageWatch"), seconds (watchSeconds)
{
    startThread();
}

MessageThreadWatch::~MessageThreadWatch()
{
    stopThread (1000);
}

void MessageThreadWatch::run()
{
    const auto end = juce::Time::getMillisecondCounterHiRes() + seconds * 1000.0;

    while (! threadShouldExit() && juce::Time::getMillisecondCounterHiRes() < end)
    {
        const auto postedAt = juce::Time::getMillisecondCounterHiRes();
        juce::MessageManager::callAsync ([postedAt]
        {
            const auto waited = juce::Time::getMillisecondCounterHiRes() - postedAt;
            if (waited >= reportFromMs)
            {
                std::printf ("Message thread busy: %.2f ms\n", waited);
                std::fflush (stdout);
            }
        });
        wait (postEveryMs);
    }

    std::puts ("Message thread watch ended");
    std::fflush (stdout);
}

} // namespace olvo
