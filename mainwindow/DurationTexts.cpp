#include "DurationTexts.h"

#include "engine/JsonValues.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace olvo
{

juce::String formatDurationMinutes (int64_t minutes)
{
    if (minutes <= 60)
        return juce::String (minutes) + " min";

    if (minutes >= noLimitMinutes)
        return "No Limit";

    const auto hours = (int) std::floor ((float) minutes / 60.0f);
    return juce::String (hours) + "h " + juce::String (minutes % 60).paddedLeft ('0', 2) + "m";
}

int32_t parseDurationMinutes (const juce::String& text)
{
    if (text.isEmpty())
        return 0;

    if (text == "No Limit")
        return noLimitMinutes;

    const auto h = text.indexOfAnyOf ("hH");
    if (h < 0)
        return json::atoiClamped (text);

    const auto total = (int64_t) json::atoiClamped (text.substring (0, h)) * 60
                       + json::atoiClamped (text.substring (h + 1));
    return (int32_t) juce::jlimit ((int64_t) std::numeric_limits<int32_t>::min(),
                                   (int64_t) std::numeric_limits<int32_t>::max(), total);
}

Range windowDurationRange (bool deviceOpen, const FirmwareVersion& version, int group, const GroupLimits& limits)
{
    if (! deviceOpen)
        return { 0, 0 };

    auto range = firmware::durationRange (version, group);
    range.lo = std::max (range.lo, limits.durationMin);
    range.hi = std::min (range.hi, limits.durationMax);
    return range;
}

std::vector<int> durationsWithin (Range range)
{
    std::vector<int> entries;
    for (auto minutes : standardDurations)
        if (range.lo <= minutes && minutes <= range.hi)
            entries.push_back (minutes);
    return entries;
}

} // namespace olvo
