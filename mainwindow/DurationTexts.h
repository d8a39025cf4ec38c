#pragma once

#include "engine/FirmwareRules.h"
#include "engine/OlvoThread.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace olvo
{

//==============================================================================
/** Durations are whole minutes; this many minutes means no limit. */
constexpr int noLimitMinutes = 9999;

/** Minutes as the duration lists show them: up to 60 "45 min" (also 0 and negative values), from 9999 "No Limit",
    in between hours and two-digit minutes ("1h 05m"). */
juce::String formatDurationMinutes (int64_t minutes);

/** The minutes of a duration text: "No Limit" (exactly) is 9999; a text with an "h" or "H" is the hours before the
    first of them times 60 plus the minutes after it; any other text its leading integer. Numbers are read as C's
    atoi reads them (a text without digits is 0), but saturate instead of overflowing; so does the result. Reads
    back every text formatDurationMinutes makes for 1..9999. */
int32_t parseDurationMinutes (const juce::String& text);

/** The durations (minutes) a duration list offers, in their order, before a group's range narrows them. */
constexpr std::array<int, 28> standardDurations { 1, 2, 3, 4, 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 75, 90,
                                                   105, 120, 150, 180, 240, 300, 360, 420, 480, noLimitMinutes };

/** The duration range (minutes) the window offers for a program group: none (0..0) without an open device; else the
    firmware's own range, narrowed by the server's limits of the group (which never widen it). */
Range windowDurationRange (bool deviceOpen, const FirmwareVersion& version, int group, const GroupLimits& limits);

/** The standard durations within a range, in table order. */
std::vector<int> durationsWithin (Range range);

} // namespace olvo
