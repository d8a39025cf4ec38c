// A processed reply built from the fuzzer's input (slot-file and firmware descriptors with their Base64 texts, codes
// and versions; server limits, run parameters, a forced update) carried through the sync steps into the simulated
// device, on devices of every firmware generation. Checked besides crashes and undefined behaviour: the engine never
// breaks the device's protocol, the sync ends, the device's slot names are the engine's, and the settings record it
// leaves holds values the firmware can store.

#include "FuzzSupport.h"

#include "engine/FirmwareRules.h"
#include "sim/FirmwareImage.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <string>
#include <vector>

namespace
{
    using namespace olvo;
    using olvo::sim::SimDevice;

    constexpr int imageBytes = 32768;
    constexpr int maxSyncPasses = 64;           // six slots, eleven firmware attempts, the settings step
    constexpr const char* uid = "fuzz";

    const FirmwareVersion versions[] { { 1, 0, 5 }, { 1, 0, 12 }, { 1, 0, 13 }, { 1, 0, 14 }, { 1, 1, 0 },
                                       { 1, 2, 0 }, { 1, 3, 7 }, { 2, 0, 0 } };

    juce::String textOf (const std::string& bytes)
    {
        return juce::String::createStringFromData (bytes.data(), (int) bytes.size());
    }

    /** Bytes that stand for a file: a pattern from a seed, so that a long image costs no input. */
    std::vector<uint8_t> patternBytes (size_t size, uint32_t seed)
    {
        std::vector<uint8_t> bytes (size);
        for (auto& b : bytes)
        {
            seed = seed * 1664525u + 1013904223u;
            b = (uint8_t) (seed >> 24);
        }
        return bytes;
    }

    juce::String base64Of (const std::vector<uint8_t>& bytes, FuzzedDataProvider& in)
    {
        const auto text = juce::Base64::toBase64 (bytes.data(), bytes.size());

        // Servers may wrap the text in lines.
        if (! in.ConsumeBool())
            return text;

        const std::string plain (text.toRawUTF8());
        std::string wrapped;
        for (size_t i = 0; i < plain.size(); i += 76)
            wrapped.append (plain, i, 76).append ("\r\n");
        return juce::String (wrapped);
    }

    /** What a server may send where a number belongs: the number, its text, another number, any text. */
    juce::var numberish (FuzzedDataProvider& in, int typical)
    {
        switch (in.ConsumeIntegralInRange (0, 4))
        {
            case 0:  return typical;
            case 1:  return juce::String (typical);
            case 2:  return in.ConsumeIntegral<int>();
            case 3:  return textOf (in.ConsumeRandomLengthString (16));
            default: return in.ConsumeFloatingPoint<double>();
        }
    }

    juce::var fileData (FuzzedDataProvider& in, bool firmware)
    {
        switch (in.ConsumeIntegralInRange (0, 3))
        {
            case 0:
            {
                // A whole image; a firmware image with a header the device starts.
                auto bytes = patternBytes (imageBytes, in.ConsumeIntegral<uint32_t>());
                if (firmware)
                    sim::FirmwareImageHeader::write (bytes.data(), in.ConsumeIntegralInRange (0, 2),
                                                     in.ConsumeIntegralInRange (0, 3), in.ConsumeIntegralInRange (0, 20));
                return base64Of (bytes, in);
            }

            case 1:  return base64Of (patternBytes (in.ConsumeIntegralInRange<size_t> (0, 40000),
                                                    in.ConsumeIntegral<uint32_t>()), in);
            case 2:  return textOf (in.ConsumeRandomLengthString (2048));
            default: return {};
        }
    }

    juce::var slotDescriptor (FuzzedDataProvider& in)
    {
        auto* d = new juce::DynamicObject();
        if (in.ConsumeBool())
            d->setProperty ("program_code", numberish (in, in.ConsumeIntegralInRange (0, 40)));
        if (in.ConsumeBool())
            d->setProperty ("file_data", fileData (in, false));
        if (in.ConsumeBool())
            d->setProperty ("program_name", textOf (in.ConsumeRandomLengthString (48)));
        if (in.ConsumeBool())
            d->setProperty ("version_major", numberish (in, 1));
        if (in.ConsumeBool())
            d->setProperty ("version_minor", numberish (in, 0));
        return juce::var (d);
    }

    juce::var limitsObject (FuzzedDataProvider& in)
    {
        auto* limits = new juce::DynamicObject();
        for (auto* group : { "multi", "bright", "orange" })
        {
            if (! in.ConsumeBool())
                continue;

            auto* g = new juce::DynamicObject();
            for (auto* kind : { "brightness", "duration" })
            {
                auto* range = new juce::DynamicObject();
                for (auto* key : { "min", "max", "start" })
                    if (in.ConsumeBool())
                        range->setProperty (key, numberish (in, in.ConsumeIntegralInRange (-5, 10000)));
                g->setProperty (kind, juce::var (range));
            }
            limits->setProperty (group, juce::var (g));
        }
        return juce::var (limits);
    }

    juce::var runParameters (FuzzedDataProvider& in)
    {
        auto* run = new juce::DynamicObject();
        for (auto* group : { "purple", "blue", "orange" })
        {
            if (! in.ConsumeBool())
                continue;

            auto* values = new juce::DynamicObject();
            values->setProperty ("brightness", numberish (in, in.ConsumeIntegralInRange (0, 12)));
            values->setProperty ("duration", numberish (in, in.ConsumeIntegralInRange (0, 10000)));
            run->setProperty (group, juce::Array<juce::var> { juce::var (values) });
        }
        return juce::var (run);
    }

    /** The reply as the reply processing gets it after parsing. Which keys it has comes first, from two bytes at the
        end of the input, so that a mutation there changes the reply's shape and leaves its contents. */
    juce::var replyFrom (FuzzedDataProvider& in)
    {
        const auto shape = in.ConsumeIntegral<uint16_t>();
        const auto has = [shape] (int bit) { return (shape & (1 << bit)) != 0; };

        auto* reply = new juce::DynamicObject();
        reply->setProperty ("UID", uid);

        auto* updates = new juce::DynamicObject();
        for (int key = 1; key <= 8; ++key)
            if (has (7 + key))
                updates->setProperty (juce::String (key), slotDescriptor (in));
        reply->setProperty ("frequency_updates", juce::var (updates));

        if (has (0))
        {
            auto* firmware = new juce::DynamicObject();
            firmware->setProperty ("file_data", fileData (in, true));
            reply->setProperty ("firmware_updates", juce::Array<juce::var> { juce::var (firmware) });
        }

        if (has (1))
            reply->setProperty ("limits", limitsObject (in));
        if (has (2))
            reply->setProperty ("program_run_parameters", runParameters (in));

        if (has (3))
        {
            auto* regimen = new juce::DynamicObject();
            regimen->setProperty ("force_update", in.ConsumeBool());
            regimen->setProperty ("just_advanced_phase", in.ConsumeBool());
            regimen->setProperty ("phase_total", in.ConsumeIntegralInRange (0, 4));
            reply->setProperty ("regimen", juce::var (regimen));
        }

        if (has (4))
        {
            auto* choices = new juce::DynamicObject();
            for (auto* group : { "multi", "bright", "orange" })
                if (in.ConsumeBool())
                    choices->setProperty (group, juce::Array<juce::var> { juce::var (new juce::DynamicObject()) });
            reply->setProperty ("program_choices", juce::var (choices));
        }

        if (has (5))
            reply->setProperty ("treatment_type", numberish (in, 1));

        reply->setProperty ("view_type", has (6) ? "webview" : "link");
        return juce::var (reply);
    }

    /** The device's slot entries are the engine's table, as the settings step writes them. */
    bool namesMatchTheTable (const OlvoThread& engine)
    {
        const auto table = engine.slotTable.get();
        for (int s = 0; s < wire::slotCount; ++s)
        {
            const auto entry = SimDevice::slotEntry (s);
            if (std::memcmp (entry.name.data(), table.slotProgramName[s], entry.name.size()) != 0
                || entry.code != (uint32_t) table.slotProgramCode[s]
                || entry.major != (uint8_t) table.slotVersionMajor[s]
                || entry.minor != (uint8_t) table.slotVersionMinor[s])
                return false;
        }
        return true;
    }

    /** Every group's level and duration in the device's settings record lie within what its firmware stores. */
    bool settingsWithinTheFirmware()
    {
        const auto v = SimDevice::firmwareVersion();
        const FirmwareVersion version { v[0], v[1], v[2] };
        if (version.major != 1 || SimDevice::inBootLoader())
            return true;

        const auto settings = SimDevice::settings();
        for (int group = 0; group < 3; ++group)
        {
            const auto levels = firmware::levelRange (version, group);
            const int level = firmware::presentLevel (version, settings.data(), group);
            if (levels.hi > 0 && (level < levels.lo || level > levels.hi))
                return false;

            const auto minutes = firmware::durationRange (version, group);
            const int duration = firmware::presentDuration (version, settings.data(), group);
            if (minutes.hi > 0 && (duration < minutes.lo || duration > minutes.hi))
                return false;
        }
        return true;
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

    fuzz::freshDevice();
    const auto version = in.PickValueInArray (versions);
    SimDevice::setFirmwareVersion (version.major, version.minor, version.tertiary);
    SimDevice::setRestartDelays (in.ConsumeIntegralInRange (0, 400), in.ConsumeIntegralInRange (0, 2000));

    std::array<uint8_t, 32> settings {};
    for (auto& b : settings)
        b = in.ConsumeIntegral<uint8_t>();
    SimDevice::setSettings (settings);

    for (int s = 0; s < wire::slotCount; ++s)
    {
        sim::SimSlotEntry entry;
        entry.code = in.ConsumeIntegralInRange<uint32_t> (0, 3);
        SimDevice::setSlotEntry (s, entry);
    }

    SimDevice::plug();

    OlvoThread engine;
    engine.defaultApiUrl.set ("file:///nowhere");
    if (engine.checkDevice() != 1 || ! engine.readStatus())
        fuzz::fail ("a plugged device was not identified");
    engine.deviceOpen = true;

    // The slot table as the poll's request reads it from the device.
    juce::String requestUid;
    engine.buildRequest (true, false, requestUid);

    if (engine.processReply (replyFrom (in), uid, uid, true) != 1)
        fuzz::fail ("a reply with the request's UID was not processed");

    const bool namesToWrite = engine.updatesPending;
    engine.status = SyncStatus::updating;
    engine.syncStep = 1;

    bool settingsStepRan = false;

    // Each pass is what a tick does for the sync: identify the device, read its status, take the next step. Step 9
    // (the confirmation poll) is left out: it only talks to the server.
    for (int pass = 0; pass < maxSyncPasses && engine.syncStep >= 1 && engine.syncStep <= 8; ++pass)
    {
        if (engine.checkDevice() != 1 || ! engine.readStatus())
            continue;

        settingsStepRan = settingsStepRan || engine.syncStep == 8;
        engine.syncSteps();
    }

    if (engine.syncStep >= 1 && engine.syncStep <= 8)
        fuzz::fail ("the sync steps did not end");

    if (namesToWrite && ! namesMatchTheTable (engine))
        fuzz::fail ("the device's slot names are not the engine's after the sync");

    if (settingsStepRan && ! settingsWithinTheFirmware())
        fuzz::fail ("the settings step left a value the firmware cannot store");

    // A forced update's erasing, once the sync is over.
    engine.status = SyncStatus::upToDate;
    engine.syncStep = 0;
    engine.slotErasingStep();

    fuzz::failOnViolation();

    device_close();
    return 0;
}
