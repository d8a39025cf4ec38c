#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

namespace olvo
{

//==============================================================================
/**
    A battery gauge with its level as text ("Battery: 40%", "Charged: 96%", "Weak: 12%").

    The owner writes the reading (level and flags) from the engine's battery estimate and repaints. A level is a
    fraction 0..1; a negative level means no reading (outline only, no text). Without charging, the top of the range
    is stretched so that a nearly full battery reads as full.
*/
class BatteryDisplay : public juce::Component
{
public:
    BatteryDisplay() = default;
    ~BatteryDisplay() override = default;

    /** The flags' bits. */
    enum Flags : uint8_t
    {
        charging = 1 << 0,
        weak = 1 << 1
    };

    //==============================================================================
    /** Takes a reading and repaints when the shown percentage or the flags changed. */
    void setReading (float newLevel, uint8_t newFlags);

    /** The level as drawn: the reading, stretched at the top unless charging. */
    double shownLevel() const;

    /** True for a level that is a reading: not negative (and a number). */
    bool hasReading() const;

    /** The text drawn for the reading, empty when there is no reading. */
    juce::String levelText() const;

    void paint (juce::Graphics&) override;
    void resized() override {}

    //==============================================================================
    /** Battery fraction 0..1; negative: no reading. */
    float level = -1.0f;

    /** Bit 0 charging, bit 1 weak. */
    uint8_t flags = 0;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (BatteryDisplay)
};

//==============================================================================
/** The windows' timers' update of a gauge from the engine's battery level and flags.

    The level is limited to 0..1 (no reading, -1, and a level that is not a number show as 0). While the flags the
    gauge holds before this update say charging, the level is shown as 0.99 at most: a charging battery never reads
    as full. The gauge repaints only when the flags change or the level moves to another whole percent.
*/
void updateBatteryGauge (BatteryDisplay& gauge, float level, uint8_t flags);

} // namespace olvo
