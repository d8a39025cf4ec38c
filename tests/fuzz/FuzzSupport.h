#pragma once

// What the fuzz targets share: a clock that never sleeps, and the engine set up once per process.

#include "engine/Clock.h"
#include "engine/DeviceProtocol.h"
#include "engine/OlvoThread.h"
#include "sim/device/SimDevice.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

extern "C" __attribute__ ((weak)) void __sanitizer_report_error_summary (const char*);

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

/** The clock of this process, installed into the engine and the simulated device. */
inline InstantClock& installInstantClock()
{
    static InstantClock clock;
    setClock (&clock);
    sim::SimDevice::setClock ([] { return clock.nowMs(); });
    return clock;
}

/** A broken property: libFuzzer keeps the input that led here. The line goes where the sanitizer's reports go, which
    stays open when the fuzzer runs with -close_fd_mask (the engine's own lines would only slow it down). */
[[noreturn]] inline void fail (const char* what)
{
    if (__sanitizer_report_error_summary != nullptr)
        __sanitizer_report_error_summary (what);
    else
        std::fprintf (stderr, "%s\n", what);

    std::abort();
}

/** A fresh simulated device (unplugged) and no device open in the device layer. */
inline void freshDevice()
{
    device_close();
    sim::SimDevice::reset();
}

} // namespace olvo::fuzz
