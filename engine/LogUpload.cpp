// The "logs" object of a poll request: the device's usage log, from just after its ring marker, as upload entries.

#include "OlvoThread.h"

#include <algorithm>

namespace olvo
{

namespace
{
    constexpr uint32_t ringMarkerByte = 0xEE;   // top byte of the word that marks the start of the ring
    constexpr int typeShift = 28;
    constexpr uint32_t valueMask = 0x0FFFFFFF;
    constexpr int brightnessShift = 16;
    constexpr uint32_t brightnessMask = 0xFF;
    constexpr uint32_t brightnessProgramMask = 0xFFFF;
    constexpr int loadHalfBit = 23;
    constexpr uint32_t loadProgramMask = 0x7FFFFF;
    constexpr int32_t resetTimeMin = 3;        // smaller reset values carry no time

    enum EntryType : uint32_t
    {
        treatFirst = 1, treatLast = 3,
        brightness = 6,
        stop = 7,
        loadFirst = 8, loadLast = 10,
        reset = 13
    };

    /** One log word as it is uploaded; name is null for words that are not uploaded. */
    struct Entry
    {
        const char* name = nullptr;
        int32_t rtc = 0;
        int num = 0, progId = 0;
    };

    /** Decodes a word, moving the running time on where the word carries one. */
    Entry decode (DeviceLogEntry word, int32_t& currentTime)
    {
        const uint32_t type = word >> typeShift;
        const auto value = (int32_t) (word & valueMask);
        Entry e;

        if (type >= treatFirst && type <= treatLast)
        {
            currentTime = value;
            e = { "Treat", value, (int) type, 0 };
        }
        else if (type == brightness)
        {
            e = { "Brightness", currentTime, (int) ((word >> brightnessShift) & brightnessMask),
                  (int) (word & brightnessProgramMask) };
        }
        else if (type == stop)
        {
            currentTime = value;
            e = { "Stop", value, 0, 0 };
        }
        else if (type >= loadFirst && type <= loadLast)
        {
            const int half = (int) ((word >> loadHalfBit) & 1);
            e = { "Load", currentTime, 2 * (int) type - 15 + half, (int) (word & loadProgramMask) };
        }
        else if (type == reset)
        {
            if (value >= resetTimeMin)
                currentTime = value;
            e = { "Reset", currentTime, 0, 0 };
        }

        return e;
    }
}

juce::var OlvoThread::buildLogsObject (int32_t threshold) const
{
    auto* result = new juce::DynamicObject();
    juce::var logs (result);

    // The device's usage-sharing switch: set, nothing of the log leaves the host.
    const bool sharingOff = statusReport.read ([] (const StatusReport& r)
                                               { return r.deviceSettings()[wire::settingsShareUsage] != 0; });
    if (sharingOff)
        return logs;

    const int count = juce::jlimit (0, wire::logMaxWords, (int) logCount);
    if (count < 2)
        return logs;

    const auto* marker = std::find_if (logWords, logWords + count,
                                       [] (DeviceLogEntry w) { return (w >> 24) == ringMarkerByte; });
    if (marker == logWords + count)
        return logs;

    const int m = (int) (marker - logWords);
    int32_t currentTime = 0;
    int added = 0;

    for (int i = 1; i < count; ++i)
    {
        const auto e = decode (logWords[(m + i) % count], currentTime);
        if (e.name == nullptr || e.rtc < threshold)
            continue;

        auto* entry = new juce::DynamicObject();
        entry->setProperty ("rtc", e.rtc);
        entry->setProperty ("timestamp", (juce::int64) e.rtc + (juce::int64) rtcOffset);
        entry->setProperty ("type", e.name);
        if (e.num != 0)
            entry->setProperty ("num", e.num);
        if (e.progId != 0)
            entry->setProperty ("prog_id", e.progId);

        result->setProperty (juce::String (++added), juce::var (entry));
    }

    return logs;
}

} // namespace olvo
