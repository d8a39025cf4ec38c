// What the windows ask of the engine on the message thread: identity texts, brightness ranges and requests, the
// program groups' colours and the current package's image. Shared members are read under the engine lock.

#include "OlvoThread.h"

#include "Clock.h"

#include <algorithm>

namespace olvo
{

namespace
{
    constexpr int groupCount = 3;
    constexpr int lowestLevel = 1, highestLevel = 10;
    constexpr int32_t unavailable = -1;

    constexpr uint32_t groupColours[groupCount] { 0xffd151b1, 0xff0094ff, 0xffe8903e };
    constexpr uint32_t firstGenerationGroup0Colour = 0xffffeb14;
    constexpr int lastTertiaryWithoutGroup2 = 13;

    bool isGroup (int group) { return group >= 0 && group < groupCount; }

    /** A program list that only stands in for "nothing here" makes its group unavailable. */
    bool isPlaceholderList (const std::vector<ProgramChoice>& choices)
    {
        return choices.size() == 1 && (choices[0].name == "Empty" || choices[0].name == ".  .  .");
    }
}

//==============================================================================
bool OlvoThread::getSerialNumber (juce::String& text) const
{
    if (deviceOpen)
    {
        // Each byte is one character (Latin-1), up to the first NUL, never past the 32 bytes of the field.
        juce::juce_wchar characters[wire::idsSerialSize + 1] {};

        deviceIds.read ([&characters] (const DeviceIds& ids)
        {
            for (int i = 0; i < wire::idsSerialSize && ids.bytes[wire::idsSerial + i] != 0; ++i)
                characters[i] = (juce::juce_wchar) ids.bytes[wire::idsSerial + i];
            return 0;
        });

        text = juce::String (juce::CharPointer_UTF32 (characters));
        return true;
    }

    if (devicePresentAt (nowMs()))
    {
        text = "Waiting";
        return true;
    }

    text = {};
    return false;
}

juce::String OlvoThread::getFirmwareVersionString() const
{
    if (! deviceOpen)
        return {};

    const auto v = firmwareVersion();
    return juce::String (v.major) + "." + juce::String (v.minor) + "." + juce::String (v.tertiary);
}

void OlvoThread::getBrightnessLimits (int group, int* min, int* max) const
{
    int lo = 0, hi = 0;

    if (deviceOpen && isGroup (group))
    {
        // The server may narrow the firmware's own range, never widen it.
        const auto own = firmware::levelRange (firmwareVersion(), group);
        const auto serverLimits = limits.read ([group] (const auto& l) { return l[(size_t) group]; });

        lo = serverLimits.brightnessMin <= own.lo ? own.lo : std::min (serverLimits.brightnessMin, own.hi);
        hi = serverLimits.brightnessMax >= own.hi ? own.hi : std::max (serverLimits.brightnessMax, lo);
    }

    if (min != nullptr) *min = lo;
    if (max != nullptr) *max = hi;
}

void OlvoThread::requestSave()
{
    settingsDirty = true;
    choiceDirty = true;
    sendSlotValues = 2;
}

void OlvoThread::setBrightness (int group, int level)
{
    if (status != SyncStatus::upToDate || ! isGroup (group))
        return;

    level = juce::jlimit (lowestLevel, highestLevel, level);

    if (! deviceOpen)
    {
        requestedLevel[group] = 0;
        levelChanged[group] = false;
        return;
    }

    int lo = 0, hi = 0;
    getBrightnessLimits (group, &lo, &hi);
    const int requested = std::min (std::max (level, lo), hi);

    const auto version = firmwareVersion();
    const int present = statusReport.read ([&version, group] (const StatusReport& r)
    {
        return firmware::presentLevel (version, r.deviceSettings(), group);
    });

    // The value first, then the flag: the worker takes the flag and then reads the value.
    requestedLevel[group] = requested;
    levelChanged[group] = present != requested;
}

void OlvoThread::getGroupColours (int32_t colours[3]) const
{
    for (int g = 0; g < groupCount; ++g)
        colours[g] = (int32_t) groupColours[g];

    if (! deviceOpen)
    {
        std::fill (colours, colours + groupCount, unavailable);
        return;
    }

    const auto version = firmwareVersion();
    if (version.is10())
    {
        colours[0] = (int32_t) firstGenerationGroup0Colour;
        if (version.tertiary <= lastTertiaryWithoutGroup2)
            colours[2] = unavailable;
    }

    programChoices.read ([colours] (const auto& choices)
    {
        for (int g = 0; g < groupCount; ++g)
            if (isPlaceholderList (choices[(size_t) g]))
                colours[g] = unavailable;
        return 0;
    });

    if (viewType.get() == "link_only")
        std::fill (colours, colours + groupCount, unavailable);
}

void OlvoThread::getCurrentPackageName (juce::String& out) const
{
    const bool pending = packageChoicePending;
    const int chosen = chosenPackageIndex;

    out = packages.read ([pending, chosen] (const juce::Array<PackageInfo>& list) -> juce::String
    {
        const auto index = currentPackageIndex (list, pending, chosen);
        return juce::isPositiveAndBelow (index, list.size()) ? list.getReference (index).brandLogo : juce::String();
    });
}

int OlvoThread::currentPackageIndex (const juce::Array<PackageInfo>& list, bool choicePending, int chosenIndex)
{
    if (list.isEmpty())
        return -1;

    if (choicePending)
        return chosenIndex;

    for (int i = 0; i < list.size(); ++i)
        if (list.getReference (i).isCurrent != 0)
            return i;

    return 0;
}

} // namespace olvo
