// The battery estimate: raw readings of the status report become a filtered voltage, flags and a gauge level.

#include "OlvoThread.h"

#include <algorithm>
#include <cmath>

namespace olvo
{

namespace
{
    constexpr int chargeStateCharging = 1;
    constexpr int chargeStateWeak = 3;
    constexpr int flagCharging = 1 << 0;
    constexpr int flagWeak = 1 << 1;

    constexpr int batteryReferenceAt = wire::statusSettings + wire::settingsBatteryRef;

    constexpr double jumpVolts = 0.05;            // a larger change is taken at once, a smaller one filtered
    constexpr float filterOld = 0.95f, filterNew = 0.05f;
    constexpr float chargingTopVolts = 4.18f;     // above it, the charging correction decays
    constexpr float correctionStart = 0.1f, correctionFloor = 0.02f, correctionDecay = 0.000025f;
    constexpr int weakCounterMax = 2000;
    constexpr int weakCounterTrigger = 20;
    constexpr double noReadingVolts = 0.1;
    constexpr float lowestUsableReferenceLevel = 0.01f;

    /** A raw battery reading in volts (single precision, in the device maker's order of operations). */
    float readingToVolts (uint16_t reading)
    {
        return (float) reading * 3.3f * (1.0f / 65536.0f) * 1.3012049f;
    }

    struct LevelPoint
    {
        float volts, level;
    };

    constexpr LevelPoint batteryLevelTable[] { { 4.19f, 1.0f }, { 4.15f, 0.975f }, { 4.1f, 0.945f },
                                               { 4.05f, 0.89f }, { 4.0f, 0.8f }, { 3.55f, 0.0f } };

    /** The charge level (0..1) of a cell at this voltage, interpolated in the table. */
    float levelOfVolts (float v)
    {
        constexpr int points = (int) std::size (batteryLevelTable);

        if (v >= batteryLevelTable[0].volts)
            return batteryLevelTable[0].level;

        for (int i = 1; i < points; ++i)
        {
            const auto& here = batteryLevelTable[i];
            const auto& above = batteryLevelTable[i - 1];

            if (v >= here.volts)
                return here.level + (above.level - here.level) * (v - here.volts) / (above.volts - here.volts);
        }

        return 0.0f;
    }

    /** The new filtered value: a jump is taken at once, a small change moves 5 % of the way. */
    float filtered (float previous, float reading, bool previousFirst)
    {
        if (std::abs ((double) (reading - previous)) > jumpVolts)
            return reading;

        return previousFirst ? filterOld * previous + filterNew * reading
                             : filterNew * reading + filterOld * previous;
    }
}

//==============================================================================
void OlvoThread::batteryStep()
{
    batteryValid = true;

    const auto& report = statusReport.unguarded().bytes;
    const int chargeState = report[wire::statusChargeState];
    const float vFirst = readingToVolts (wire::getU16LE (report + wire::statusBattery1));
    const float vSecond = readingToVolts (wire::getU16LE (report + wire::statusBattery2));
    const float previous = batteryVoltage;

    const auto version = FirmwareVersion::of (deviceIds.unguarded());

    if (version.newerThan11())
    {
        // Firmware 1.2 and later measure the cell under load as a second reading: no charging correction needed,
        // and a loaded reading well below the idle one means a weak cell.
        batteryVoltage = filtered (previous, vSecond, true);

        const int counter = weakCounter;
        weakCounter = vFirst - weakBatteryThreshold.load() > vSecond ? std::min (counter + 1, weakCounterMax)
                                                                     : std::max (counter - 1, 0);
    }
    else
    {
        // Older firmware reads the cell with the charger's voltage on top: subtract a correction that decays
        // once the cell is full. The filter runs on the reading itself, not on the corrected value shown: filtering
        // the corrected value would pull the reading down by the correction on every step and never let it settle.
        const bool wasCorrected = (batteryFlags.load() & flagCharging) != 0;
        const float uncorrected = wasCorrected ? previous + batteryCorrection.load() : previous;
        const float value = filtered (uncorrected, vFirst, false);

        if (value > chargingTopVolts)
        {
            const float correction = batteryCorrection;
            if (correction > correctionFloor)
                batteryCorrection = correction - correctionDecay;
        }
        else
        {
            batteryCorrection = correctionStart;
        }

        // Stored once, so a window never sees the uncorrected value in between.
        batteryVoltage = chargeState == chargeStateCharging ? value - batteryCorrection.load() : value;
    }

    // The weak flag stays once raised, until the device goes.
    int flags = batteryFlags.load() & ~flagCharging;
    if (chargeState == chargeStateCharging)
        flags |= flagCharging;
    if (chargeState == chargeStateWeak || weakCounter > weakCounterTrigger)
        flags |= flagWeak;
    batteryFlags = flags;
}

float OlvoThread::getBatteryLevel() const
{
    if (! deviceOpen || ! batteryValid)
        return -1.0f;

    const float v = batteryVoltage;
    if ((double) v <= noReadingVolts)
        return -1.0f;

    float level = levelOfVolts (v);

    // The device's own reference reading (its full-charge voltage) scales the gauge.
    const uint16_t reference = statusReport.read ([] (const StatusReport& r)
    {
        return wire::getU16LE (r.bytes + batteryReferenceAt);
    });

    if (reference != 0)
    {
        const float referenceLevel = levelOfVolts (readingToVolts (reference));
        if (referenceLevel > lowestUsableReferenceLevel)
            level = level / referenceLevel;
    }

    return std::max (std::min (level, 1.0f), 0.0f);
}

} // namespace olvo
