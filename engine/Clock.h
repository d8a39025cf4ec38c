#pragma once

#include <cstdint>

namespace juce { class Thread; }

namespace olvo
{

//==============================================================================
/** Where the engine (and anything that must keep step with it) gets the time of day and its sleeps.

    The application runs on the real clock. Tests install a clock of their own, so that the 30-minute idle rule, the
    polling schedule and the device's own delays run in milliseconds of real time.
*/
class Clock
{
public:
    virtual ~Clock() = default;

    /** Wall-clock milliseconds since the Unix epoch. */
    virtual int64_t nowMs() = 0;

    /** Sleeps the calling thread for the given milliseconds. */
    virtual void sleepMs (int ms) = 0;

    /** Waits on the thread's own event for up to the given milliseconds, as juce::Thread::wait does: returns early
        when the thread is notified (an exit request notifies it). Returns true when it was notified. */
    virtual bool waitOnThread (juce::Thread& thread, int ms) = 0;
};

/** The clock in force; the real one unless a test installed another. */
Clock& clock();

/** Installs a clock (nullptr restores the real one). The caller keeps ownership and must restore the real clock
    before destroying its own; install it while no engine thread is running. */
void setClock (Clock* newClock);

/** Shorthands for the clock in force. */
int64_t nowMs();
void sleepMs (int ms);

} // namespace olvo
