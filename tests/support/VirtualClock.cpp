#include "VirtualClock.h"

#include "sim/device/SimDevice.h"

#include <juce_core/juce_core.h>

#include <chrono>
#include <thread>

namespace olvo::test
{

VirtualClock::VirtualClock (int speedIn)
    : now (juce::Time::currentTimeMillis()), speed (speedIn)
{
}

void VirtualClock::sleepMs (int ms)
{
    if (ms <= 0)
        return;

    now += ms;
    std::this_thread::sleep_for (std::chrono::microseconds ((int64_t) ms * 1000 / speed));
}

bool VirtualClock::waitOnThread (juce::Thread& thread, int ms)
{
    now += ms;
    return thread.wait (std::max (1, ms / speed));
}

ScopedVirtualClock::ScopedVirtualClock (int speed)
    : clock (speed)
{
    setClock (&clock);
    sim::SimDevice::setClock ([this] { return clock.nowMs(); });
}

ScopedVirtualClock::~ScopedVirtualClock()
{
    sim::SimDevice::setClock ({});
    setClock (nullptr);
}

} // namespace olvo::test
