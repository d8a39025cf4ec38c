#pragma once

#include <juce_events/juce_events.h>

#include <memory>

namespace olvo
{

//==============================================================================
/**
    For scripts/measure: how long the message thread is held at a time, whatever holds it (timer passes, paints,
    input, dialogs, the web view's messages).

    For the given number of seconds, a thread of its own posts a message to the message thread every 5 ms; each
    that waited 2 ms or more before it ran writes "Message thread busy: <ms> ms" on standard output, and the end
    writes "Message thread watch ended". The application makes one only when OLVO_WATCH_MESSAGE_THREAD names the
    seconds (see create).
*/
class MessageThreadWatch : private juce::Thread
{
public:
    /** A running watch when the environment variable OLVO_WATCH_MESSAGE_THREAD is a number of seconds (1 to 3600),
        otherwise null. */
    static std::unique_ptr<MessageThreadWatch> create();

    explicit MessageThreadWatch (int seconds);
    ~MessageThreadWatch() override;

private:
    void run() override;

    const int seconds;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MessageThreadWatch)
};

} // namespace olvo
