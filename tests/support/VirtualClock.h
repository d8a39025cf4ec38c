#pragma once

#include "engine/Clock.h"

#include <atomic>
#include <cstdint>

namespace olvo::test
{

//==============================================================================
/** A clock for tests: time moves only when the engine sleeps or waits (by the time it asked for) or when the test
    advances it, so that minutes of the engine's rules pass in milliseconds. Each sleep also yields a little real
    time, `speed` times shorter, so that other threads get to run. */
class VirtualClock final : public Clock
{
public:
    /** Starts at the real time of day; speed = virtual ms per real ms while sleeping. */
    explicit VirtualClock (int speed = 200);

    int64_t nowMs() override { return now.load(); }
    void sleepMs (int ms) override;
    bool waitOnThread (juce::Thread& thread, int ms) override;

    /** Moves the time forward without sleeping. */
    void advance (int64_t ms) { now += ms; }

private:
    std::atomic<int64_t> now;
    const int speed;
};

/** Installs a virtual clock into the engine and the simulated device for the lifetime of the object. */
class ScopedVirtualClock
{
public:
    explicit ScopedVirtualClock (int speed = 200);
    ~ScopedVirtualClock();

    VirtualClock clock;
};

} // namespace olvo::test
