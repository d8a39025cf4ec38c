// The battery estimate: the filtered voltage, the charging correction, the flags and the gauge level.

#include "EngineHarness.h"

#include <cmath>

using namespace olvo;

namespace
{
    constexpr int chargingBit = 1, weakBit = 2;

    /** The raw reading that the device reports for a voltage (nearest step). */
    uint16_t readingFor (double volts)
    {
        return (uint16_t) std::lround (volts / (3.3 / 65536.0 * 1.3012049));
    }

    void putU16LE (uint8_t* p, uint16_t v)
    {
        p[0] = (uint8_t) v;
        p[1] = (uint8_t) (v >> 8);
    }

    class BatteryEstimate : public test::EngineTest
    {
    protected:
        OlvoThread& engineOn (int major, int minor)
        {
            auto& e = makeEngine();
            DeviceIds ids;
            ids.bytes[wire::idsMajor] = (uint8_t) major;
            ids.bytes[wire::idsMinor] = (uint8_t) minor;
            e.deviceIds.set (ids);
            e.deviceOpen = true;
            return e;
        }

        /** What the next status report says about the battery. */
        void report (double firstVolts, double secondVolts, uint8_t chargeState = 0, double referenceVolts = 0)
        {
            engine->statusReport.update ([&] (StatusReport& r)
            {
                r.bytes[wire::statusChargeState] = chargeState;
                putU16LE (r.bytes + wire::statusBattery1, readingFor (firstVolts));
                putU16LE (r.bytes + wire::statusBattery2, readingFor (secondVolts));
                putU16LE (r.bytes + wire::statusSettings + wire::settingsBatteryRef,
                          referenceVolts > 0 ? readingFor (referenceVolts) : (uint16_t) 0);
            });
        }
    };
}

//==============================================================================
TEST_F (BatteryEstimate, LevelFollowsTheVoltageTable)
{
    struct Case
    {
        float volts;
        float level;
    };

    const Case cases[] {
        { 4.3f, 1.0f }, { 4.19f, 1.0f }, { 4.17f, 0.9875f }, { 4.125f, 0.96f }, { 4.0f, 0.8f }, { 3.775f, 0.4f },
        { 3.55f, 0.0f }, { 3.5f, 0.0f }, { 0.11f, 0.0f },
        { 0.1f, 0.0f },                     // 0.1f is a little above 0.1
        { 0.09f, -1.0f }, { 0.0f, -1.0f },  // no reading (a device loss leaves 0.0)
    };

    auto& e = engineOn (1, 2);
    e.batteryValid = true;

    for (const auto& c : cases)
    {
        e.batteryVoltage = c.volts;
        EXPECT_NEAR (e.getBatteryLevel(), c.level, 1.0e-4) << c.volts;
    }

    e.batteryVoltage = 4.0f;
    e.batteryValid = false;
    EXPECT_EQ (e.getBatteryLevel(), -1.0f) << "no battery step yet";
    e.batteryValid = true;
    e.deviceOpen = false;
    EXPECT_EQ (e.getBatteryLevel(), -1.0f) << "no device";
}

TEST_F (BatteryEstimate, ReferenceReadingScalesTheLevel)
{
    struct Case
    {
        float volts;
        double referenceVolts;   // 0: none
        float level;
    };

    const Case cases[] {
        { 3.775f, 4.0, 0.5f },      // 0.4 with a reference level of 0.8
        { 3.775f, 0.0, 0.4f },      // no reference
        { 3.775f, 3.553, 0.4f },    // a reference level of 0.01 or less is ignored
        { 4.0f, 3.775, 1.0f },      // 0.8 / 0.4, clamped
    };

    auto& e = engineOn (1, 2);
    e.batteryValid = true;

    for (const auto& c : cases)
    {
        report (0, 0, 0, c.referenceVolts);
        e.batteryVoltage = c.volts;
        EXPECT_NEAR (e.getBatteryLevel(), c.level, 1.0e-3) << c.volts << " with reference " << c.referenceVolts;
    }
}

TEST_F (BatteryEstimate, JumpsAreTakenAtOnceSmallChangesFiltered)
{
    struct Case
    {
        int major, minor;
        float previous;
        double first, second;
        float expected;
    };

    const Case cases[] {
        { 1, 2, 4.0f, 3.0, 4.1, 4.1f },                     // 1.2 and later: the second reading
        { 1, 2, 4.0f, 3.0, 4.04, 0.95f * 4.0f + 0.05f * 4.04f },
        { 2, 0, 4.0f, 3.0, 3.9, 3.9f },
        { 1, 1, 4.0f, 4.1, 3.0, 4.1f },                     // older firmware: the first reading
        { 1, 1, 4.0f, 3.96, 3.0, 0.05f * 3.96f + 0.95f * 4.0f },
        { 1, 0, 3.65f, 3.9, 0.0, 3.9f },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.major) + "." + juce::String (c.minor) + " from " + juce::String (c.previous));
        auto& e = engineOn (c.major, c.minor);
        e.batteryVoltage = c.previous;
        report (c.first, c.second);

        e.batteryStep();

        EXPECT_TRUE (e.batteryValid);
        EXPECT_NEAR (e.batteryVoltage, c.expected, 1.0e-4);
    }
}

TEST_F (BatteryEstimate, ChargingCorrectionCreepsTowardsTheFullReading)
{
    auto& e = engineOn (1, 1);
    report (4.2, 0, 1);
    const float reading = (float) (readingFor (4.2) * 3.3 / 65536.0 * 1.3012049);

    e.batteryStep();
    EXPECT_NEAR (e.batteryVoltage, reading - 0.099975f, 1.0e-5) << "about 4.1 V at first";
    EXPECT_EQ (e.batteryFlags & chargingBit, chargingBit);

    float last = e.batteryVoltage;
    for (int step = 0; step < 100; ++step)
    {
        e.batteryStep();
        EXPECT_NEAR (e.batteryVoltage - last, 0.000025f, 2.0e-6);
        last = e.batteryVoltage;
    }

    // It settles just below the reading once the correction has decayed to 0.02, and stays there.
    for (int step = 0; step < 4000; ++step)
    {
        e.batteryStep();
        ASSERT_GE (e.batteryVoltage, last - 1.0e-5f) << "never falls back while the reading stays at 4.2 V";
        last = e.batteryVoltage;
    }
    EXPECT_LE (e.batteryCorrection, 0.02f);
    EXPECT_GT (e.batteryCorrection, 0.02f - 0.00003f);
    EXPECT_NEAR (e.batteryVoltage, reading - e.batteryCorrection, 1.0e-4);

    // Off the charger below the full voltage: the correction starts afresh and the reading is shown as it is.
    report (4.1, 0, 0);
    e.batteryStep();
    EXPECT_FLOAT_EQ (e.batteryCorrection, 0.1f);
    EXPECT_NEAR (e.batteryVoltage, 4.1f, 1.0e-3);
    EXPECT_EQ (e.batteryFlags & chargingBit, 0);
}

TEST_F (BatteryEstimate, WeakFlagComesFromTheDeviceOrASaggingCellAndStays)
{
    struct Case
    {
        const char* what;
        int major, minor;
        double first, second;
        uint8_t chargeState;
        int steps;
        bool weak;
    };

    const Case cases[] {
        { "device says weak", 1, 1, 4.0, 0.0, 3, 1, true },
        { "sags 0.3 V for 21 steps", 1, 2, 4.0, 3.7, 0, 21, true },
        { "sags 0.3 V for 20 steps", 1, 2, 4.0, 3.7, 0, 20, false },
        { "sags 0.2 V", 1, 2, 4.0, 3.8, 0, 100, false },
        { "older firmware ignores the second reading", 1, 1, 4.0, 3.0, 0, 100, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto& e = engineOn (c.major, c.minor);
        report (c.first, c.second, c.chargeState);

        for (int i = 0; i < c.steps; ++i)
            e.batteryStep();

        EXPECT_EQ ((e.batteryFlags & weakBit) != 0, c.weak);
    }

    auto& e = engineOn (1, 2);
    report (4.0, 3.7);
    for (int i = 0; i < 2100; ++i)
        e.batteryStep();
    EXPECT_EQ (e.weakCounter, 2000);
    EXPECT_EQ (e.batteryFlags & weakBit, weakBit);

    report (4.0, 3.95);
    for (int i = 0; i < 2100; ++i)
        e.batteryStep();
    EXPECT_EQ (e.weakCounter, 0);
    EXPECT_EQ (e.batteryFlags & weakBit, weakBit) << "only the device going clears it";
}
