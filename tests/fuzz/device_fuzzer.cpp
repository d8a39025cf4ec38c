// The device side: a simulated device whose answers (identity, status reports, slot entries, log pages) come from the
// fuzzer's input, driving the engine's tick as a device that is plugged, unplugged and ignored would. Checked besides
// crashes and undefined behaviour: the engine's state stays within its ranges, it never breaks the device's protocol,
// and the request it would send is always JSON that a strict reader takes.

#include "FuzzSupport.h"

#include "engine/JsonGate.h"
#include "engine/JsonValues.h"

#include <fuzzer/FuzzedDataProvider.h>

namespace
{
    using namespace olvo;
    using olvo::sim::SimDevice;

    constexpr int maxTicks = 48;

    /** Rewrites the device's answers from the input: left as the device gives them, replaced whole, patched in a few
        places, cut short, or (for replies) lost. When the input runs out the device answers for itself. */
    void rewrite (FuzzedDataProvider& in, sim::SimAnswer& answer)
    {
        if (in.remaining_bytes() == 0)
            return;

        switch (in.ConsumeIntegralInRange (0, 4))
        {
            case 0:
                break;

            case 1:
            {
                const auto bytes = in.ConsumeBytes<uint8_t> (answer.bytes.size());
                std::copy (bytes.begin(), bytes.end(), answer.bytes.begin());
                break;
            }

            case 2:
                for (int n = in.ConsumeIntegralInRange (1, 4); n > 0; --n)
                    answer.bytes[in.ConsumeIntegralInRange<size_t> (0, answer.bytes.size() - 1)] = in.ConsumeIntegral<uint8_t>();
                break;

            case 3:
                answer.length = in.ConsumeIntegralInRange (0, 64);
                break;

            default:
                answer.drop = true;
                break;
        }
    }

    void checkState (OlvoThread& engine)
    {
        if (engine.logCount < 0 || engine.logCount > wire::logMaxWords)
            fuzz::fail ("the usage log count left its buffer");

        const float level = engine.getBatteryLevel();
        if (! (level == -1.0f || (level >= 0.0f && level <= 1.0f)))
            fuzz::fail ("the battery level left 0..1 (or -1 for none)");

        const int status = engine.status;
        if (status < SyncStatus::noDevice || status > SyncStatus::upToDate || status == 4)
            fuzz::fail ("the status is not one the windows know");

        if (engine.syncStep < 0 || engine.syncStep > 9)
            fuzz::fail ("the sync step left 0..9");

        fuzz::failOnViolation();
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    fuzz::initialise();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    FuzzedDataProvider in (data, size);
    auto& clock = fuzz::instantClock();

    fuzz::freshDevice();
    SimDevice::setFirmwareVersion (1, in.ConsumeIntegralInRange (0, 3), in.ConsumeIntegralInRange (0, 20));
    SimDevice::setBootLoaderMode (in.ConsumeProbability<float>() < 0.1f);
    SimDevice::setAnswerFilter ([&in] (sim::SimAnswer& answer) { rewrite (in, answer); });
    SimDevice::plug();

    {
        // No server: a request is built from what the device says, and its post fails at once.
        OlvoThread engine;
        engine.defaultApiUrl.set ("file:///nowhere");
        engine.lastRtc = in.ConsumeIntegralInRange (-1, 2000);

        const int ticks = in.ConsumeIntegralInRange (1, maxTicks);
        for (int t = 0; t < ticks && in.remaining_bytes() > 0; ++t)
        {
            // Now and then the user saves settings or asks for the run values, the device goes and comes back, or
            // nobody touches anything for a long time.
            switch (in.ConsumeIntegralInRange (0, 15))
            {
                case 0:
                    engine.requestedLevel[1] = in.ConsumeIntegralInRange (-2, 12);
                    engine.levelChanged[1] = true;
                    engine.requestedDuration[1].low = in.ConsumeIntegral<uint8_t>();
                    engine.requestedDuration[1].high = in.ConsumeIntegral<uint8_t>();
                    engine.durationChanged[1] = true;
                    engine.settingsDirty = true;
                    break;

                case 1:  engine.sendSlotValues = 2; break;
                case 2:  SimDevice::unplug(); break;
                case 3:  SimDevice::plug(); break;
                case 4:  clock.advance (in.ConsumeIntegralInRange<int64_t> (0, 3 * 3600 * 1000)); break;
                default: break;
            }

            clock.advance (100);
            engine.tick();
            checkState (engine);
        }

        // What the next poll would send, from the device's identity, slots and settings: valid JSON, whatever they hold.
        juce::String uid;
        const auto request = json::toJsonText (engine.buildRequest (true, false, uid)).toStdString();
        if (json::JsonGate::check (request.data(), request.size()) != json::JsonGate::Verdict::accepted)
            fuzz::fail ("the request built from the device's answers is not strict JSON");
    }

    SimDevice::setAnswerFilter ({});
    device_close();
    return 0;
}
