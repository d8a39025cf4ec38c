#pragma once

// What the fuzz targets share: a clock that never sleeps, and the engine set up once per process.

#include "FuzzFail.h"

#include "engine/Clock.h"
#include "engine/DeviceProtocol.h"
#include "engine/OlvoThread.h"
#include "sim/device/SimDevice.h"

#include <atomic>

namespace olvo::fuzz
{

//==============================================================================
/** Engine time that moves only when the engine sleeps or waits, by the time it asked for, and never sleeps for
    real: device waits and reply waits cost nothing. */
class InstantClock final : public Clock
{
public:
    int64_t nowMs() override                        { return now.load(); }
    void sleepMs (int ms) override                  { now += std::max (0, ms); }
    bool waitOnThread (juce::Thread&, int ms) override { now += std::max (0, ms); return false; }

    void advance (int64_t ms)                       { now += ms; }

private:
    std::atomic<int64_t> now { 1700000000000 };
};

/** The clock of this process. */
inline InstantClock& instantClock()
{
    static InstantClock clock;
    return clock;
}

/** For LLVMFuzzerInitialize: the instant clock in the engine and the simulated device, and JUCE's leak counter for
    DynamicObject made first, so that it outlives the objects the engines keep until exit. */
inline void initialise()
{
    juce::var first (new juce::DynamicObject());
    setClock (&instantClock());
    sim::SimDevice::setClock ([] { return instantClock().nowMs(); });
}

/** The engine never breaks the device's protocol. */
inline void failOnViolation()
{
    if (sim::SimDevice::violationCount() != 0)
        fail (("the device saw a protocol violation: " + sim::SimDevice::violations()[0]).c_str());
}

/** A fresh simulated device (unplugged) and no device open in the device layer. */
inline void freshDevice()
{
    device_close();
    sim::SimDevice::reset();
}

} // namespace olvo::fuzz
