#include "OlvoThread.h"

#include "JsonValues.h"

namespace olvo
{

namespace
{
    constexpr int minTreatmentByte = 0, maxTreatmentByte = 255;

    int clampInto (int value, const Range& range)
    {
        return juce::jlimit (range.lo, range.hi, value);
    }

    /** The server's duration limits, kept inside the firmware's own range: a missing limit (read as 0) or a
        negative one must never take a value outside what the firmware can store. */
    Range durationBounds (const Range& fw, const GroupLimits& limits)
    {
        return { clampInto (std::max (fw.lo, limits.durationMin), fw),
                 clampInto (std::min (fw.hi, limits.durationMax), fw) };
    }

    Range levelBounds (const Range& fw, const GroupLimits& limits)
    {
        const int lo = clampInto (limits.brightnessMin, fw);
        const int hi = limits.brightnessMax >= fw.hi ? fw.hi : clampInto (std::max (limits.brightnessMax, lo), fw);
        return { lo, hi };
    }

    /** Raised to lo, then lowered to hi: when the bounds cross, hi wins. */
    int bounded (int value, const Range& bounds)
    {
        return std::min (std::max (value, bounds.lo), bounds.hi);
    }

    /** What the server's "treatment_type" makes of the treatment byte; the phase count decides unless it is an
        object or an array, whose text form is read for a leading number (in practice none: the byte becomes 0). */
    int treatmentByte (const juce::var& treatmentType, int phaseTotal)
    {
        if (json::isObject (treatmentType) || treatmentType.isArray())
        {
            const auto text = json::text (treatmentType);
            if (text.isNotEmpty())
                return juce::jlimit (minTreatmentByte, maxTreatmentByte, json::atoiClamped (text));
        }

        return phaseTotal < 2 ? 1 : 0;
    }
}

//==============================================================================
void OlvoThread::applyDeviceSettings (bool regimenFlagArg)
{
    if (! deviceOpen)
        return;

    const auto version = FirmwareVersion::of (deviceIds.unguarded());

    // Only major 1 has a known record layout: writing anything into another would be guesswork.
    if (version.major != 1)
        return;

    uint8_t record[wire::settingsSize];
    std::memcpy (record, statusReport.unguarded().deviceSettings(), sizeof (record));

    const auto view = viewType.get();
    const bool useRunParameters = view == "webview" || view.startsWith ("link");
    const auto groupLimits = limits.get();

    bool changed = regimenFlagArg;

    for (int group = 0; group < 3; ++group)
    {
        const auto& lim = groupLimits[(size_t) group];
        const auto& run = runParameters[group];

        const int current = firmware::presentDuration (version, record, group);
        int target = regimenFlagArg ? lim.durationStart : current;
        if (useRunParameters && run.duration > 0)
            target = run.duration;

        const int value = bounded (target, durationBounds (firmware::durationRange (version, group), lim));

        if (value != current)
        {
            firmware::putDuration (record, group, value);
            changed = true;
        }
    }

    for (int group = 0; group < 3; ++group)
    {
        const auto fw = firmware::levelRange (version, group);

        // A group with no level range on this firmware has no level to set; its "present" level is a constant,
        // so comparing would resend the record on every call.
        if (fw.hi == 0)
            continue;

        const auto& lim = groupLimits[(size_t) group];
        const auto& run = runParameters[group];

        const int current = firmware::presentLevel (version, record, group);
        int target = regimenFlagArg ? lim.brightnessStart : current;
        if (useRunParameters && run.brightness > 0)
            target = run.brightness;

        const int value = bounded (target, levelBounds (fw, lim));

        if (value != current)
        {
            record[firmware::levelByteOf (group)] = firmware::encodeLevel (version, value);
            changed = true;
        }
    }

    const int treatment = treatmentByte (treatmentType, phaseTotal);
    if (treatment != record[wire::settingsTreatment])
    {
        record[wire::settingsTreatment] = (uint8_t) treatment;
        changed = true;
    }

    if (changed)
        sendSettingsRecord (record);
}

} // namespace olvo
