// The settings record the engine sends after a sync: each value from the device, the regimen's start values or the
// server's run parameters, kept inside the firmware's range and the server's limits, and sent only when it differs.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"

#include <juce_core/juce_core.h>

#include <map>
#include <optional>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    using Record = std::array<uint8_t, 32>;
    using Bytes = std::map<int, int>;

    struct Firmware { int major, minor, tertiary; };

    /** A 1.2 record already inside every range: treatment 1, durations 30/20/45 minutes, levels 5. */
    Record settledRecord()
    {
        Record r {};
        r[0] = 1;
        r[2] = 5;
        r[12] = 20;
        r[14] = 30;
        r[17] = 5;
        r[18] = 5;
        r[19] = 45;
        r[5] = 0xAB;    // bytes nobody names go back unchanged
        r[16] = 1;
        r[21] = 0x34;   // the battery reference is the device's own
        r[22] = 0x12;
        return r;
    }

    Record with (Record r, const Bytes& bytes)
    {
        for (auto& [at, value] : bytes)
            r[(size_t) at] = (uint8_t) value;
        return r;
    }

    struct Inputs
    {
        Firmware firmware { 1, 2, 0 };
        Record record = settledRecord();
        std::function<void (std::array<GroupLimits, 3>&)> limits;
        RunParameters run[3] {};
        juce::String viewType;
        int phaseTotal = 0;
        juce::var treatmentType;
        bool regimenFlag = false;
    };

    class SettingsRecord : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            test::EngineTest::SetUp();
            makeEngine();
            SimDevice::plug();
            ASSERT_EQ (device_open(), 0);
        }

        /** Applies the settings once for the setup; the record sent, if any. */
        std::optional<Record> apply (const Inputs& s, bool deviceOpen = true)
        {
            DeviceIds ids;
            ids.bytes[wire::idsMajor] = (uint8_t) s.firmware.major;
            ids.bytes[wire::idsMinor] = (uint8_t) s.firmware.minor;
            ids.bytes[wire::idsTertiary] = (uint8_t) (s.firmware.tertiary >> 8);
            ids.bytes[wire::idsTertiary + 1] = (uint8_t) s.firmware.tertiary;
            engine->deviceIds.set (ids);

            StatusReport report;
            std::memcpy (report.deviceSettings(), s.record.data(), 32);
            engine->statusReport.set (report);

            std::array<GroupLimits, 3> limits {};
            if (s.limits)
                s.limits (limits);
            engine->limits.set (limits);

            for (int g = 0; g < 3; ++g)
                engine->runParameters[g] = s.run[g];

            engine->viewType.set (s.viewType);
            engine->phaseTotal = s.phaseTotal;
            engine->treatmentType = s.treatmentType;
            engine->deviceOpen = deviceOpen;

            SimDevice::clearCommandLog();
            engine->applyDeviceSettings (s.regimenFlag);

            std::optional<Record> sent;
            int count = 0;
            for (auto& c : SimDevice::commandLog())
            {
                if (c.code != wire::cmdSettings)
                    continue;
                Record r;
                std::copy (c.bytes.begin() + 1, c.bytes.begin() + 33, r.begin());
                sent = r;
                ++count;
            }
            EXPECT_LE (count, 1) << "at most one record per call";
            return sent;
        }
    };

    std::string show (const Record& r)
    {
        std::string text;
        for (int i = 0; i < 32; ++i)
            text += std::to_string (i) + ":" + std::to_string (r[(size_t) i]) + " ";
        return text;
    }
}

//==============================================================================
TEST_F (SettingsRecord, SentOnlyWhenSomethingDiffers)
{
    struct Case
    {
        const char* what;
        Inputs setup;
        std::optional<Bytes> expected;   // bytes that differ from the device's record; nullopt: nothing is sent
    };

    auto limitsG0Duration = [] (auto& l) { l[0].durationMin = 10; l[0].durationMax = 60; };
    auto startsAsDevice = [] (auto& l)
    {
        // The regimen's start values equal what the device has.
        l[0].durationStart = 30; l[1].durationStart = 20; l[2].durationStart = 45;
        for (auto& g : l) g.brightnessStart = 5;
    };

    Inputs runPurple90;
    runPurple90.limits = limitsG0Duration;
    runPurple90.run[0].duration = 90;
    runPurple90.viewType = "webview";

    Inputs runPurple90Link = runPurple90;
    runPurple90Link.viewType = "link_only";

    Inputs runPurple90NoView = runPurple90;
    runPurple90NoView.viewType = "";

    Inputs regimenSame;
    regimenSame.limits = startsAsDevice;
    regimenSame.regimenFlag = true;

    Inputs regimenStarts;
    regimenStarts.regimenFlag = true;   // default starts: 30 minutes, level 5

    Inputs blue300;
    blue300.viewType = "link";
    blue300.run[1].duration = 300;

    Inputs crossedBrightness;
    crossedBrightness.limits = [] (auto& l) { l[2].brightnessMin = 6; l[2].brightnessMax = 3; };

    Inputs phases;
    phases.phaseTotal = 2;

    Inputs objectTreatment;
    objectTreatment.treatmentType = juce::var (new juce::DynamicObject());

    Inputs arrayTreatment;
    arrayTreatment.treatmentType = juce::var (juce::Array<juce::var> { 3, 4 });

    Inputs numberTreatment;
    numberTreatment.treatmentType = 0;
    numberTreatment.phaseTotal = 1;

    Inputs stringTreatment;
    stringTreatment.treatmentType = "0";
    stringTreatment.phaseTotal = 3;

    const Case cases[] {
        { "settled record, no regimen, no run parameters", Inputs {}, std::nullopt },
        { "regimen start values equal the device's", regimenSame, Bytes {} },
        { "regimen start values", regimenStarts, Bytes { { 12, 30 }, { 19, 30 } } },
        { "run parameter above the limit (webview)", runPurple90, Bytes { { 14, 0 }, { 15, 1 } } },
        { "run parameter above the limit (link view)", runPurple90Link, Bytes { { 14, 0 }, { 15, 1 } } },
        { "run parameters ignored without a web view", runPurple90NoView, std::nullopt },
        { "group 1 duration of 300 minutes", blue300, Bytes { { 12, 255 }, { 13, 0 } } },
        { "brightness max below min", crossedBrightness, Bytes { { 18, 6 } } },
        { "two phases: treatment byte 0", phases, Bytes { { 0, 0 } } },
        { "object treatment type", objectTreatment, Bytes { { 0, 0 } } },
        { "array treatment type", arrayTreatment, Bytes { { 0, 0 } } },
        { "number treatment type keeps the phase rule", numberTreatment, std::nullopt },
        { "string treatment type keeps the phase rule", stringTreatment, Bytes { { 0, 0 } } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto sent = apply (c.setup);

        if (! c.expected)
        {
            EXPECT_FALSE (sent.has_value()) << show (*sent);
            continue;
        }

        ASSERT_TRUE (sent.has_value());
        auto expected = with (c.setup.record, *c.expected);
        expected[21] = expected[22] = 0;
        EXPECT_EQ (*sent, expected) << show (*sent);
    }
}

//==============================================================================
// The per-firmware rules: how a level is read and written, and which groups have which ranges.
TEST_F (SettingsRecord, FirmwareRangesAndLevelCoding)
{
    struct Case
    {
        const char* what;
        Firmware firmware;
        Bytes device;                          // changes to the settled record
        RunParameters run[3];
        std::optional<Bytes> expected;         // changes to the device's record in what is sent
    };

    const Case cases[] {
        // 1.0.20 (even): group 1 byte 0x40 reads as level 6, range 5..8; level 7 is stored as 0x80.
        { "1.0.20 group 1 level 7", { 1, 0, 20 }, { { 2, 0x40 }, { 17, 0x20 }, { 12, 30 }, { 14, 30 }, { 19, 0 } },
          { {}, { 7, 0 }, {} }, Bytes { { 2, 0x80 } } },
        { "1.0.20 group 1 level 6 already there", { 1, 0, 20 }, { { 2, 0x40 }, { 17, 0x20 }, { 12, 30 }, { 14, 30 }, { 19, 0 } },
          { {}, { 6, 0 }, {} }, std::nullopt },
        // 1.0.13 (odd, 11 or more): the same byte reads as level 2, range 1..4, so 7 is cut to 4.
        { "1.0.13 group 1 level 7 cut to 4", { 1, 0, 13 }, { { 2, 0x40 }, { 17, 0x20 }, { 12, 20 }, { 14, 30 }, { 19, 0 } },
          { {}, { 7, 0 }, {} }, Bytes { { 2, 0xFF } } },
        { "1.0.13 group 1 level 2 already there", { 1, 0, 13 }, { { 2, 0x40 }, { 17, 0x20 }, { 12, 20 }, { 14, 30 }, { 19, 0 } },
          { {}, { 2, 0 }, {} }, std::nullopt },
        // 1.0.5: group 2 has no level on this firmware; its byte is never rewritten, so nothing is resent.
        { "1.0.5 leaves group 2 alone", { 1, 0, 5 }, { { 2, 0x20 }, { 17, 0x20 }, { 18, 0 }, { 12, 20 }, { 14, 30 } },
          {}, std::nullopt },
        // 1.0.14 and later: both durations fixed at 30 minutes.
        { "1.0.14 fixed durations", { 1, 0, 14 }, { { 2, 0x20 }, { 17, 0x20 }, { 12, 20 }, { 14, 10 }, { 15, 1 } },
          {}, Bytes { { 12, 30 }, { 13, 0 }, { 14, 30 }, { 15, 0 } } },
        // 1.0.x levels of group 0 are 1..4: a run parameter of 9 is stored as 0xFF.
        { "1.0.5 group 0 level 9", { 1, 0, 5 }, { { 2, 0x20 }, { 17, 0x20 }, { 12, 20 }, { 14, 30 } },
          { { 9, 0 }, {}, {} }, Bytes { { 17, 0xFF } } },
        // 1.1: group 2's level and duration are fixed and not read from the record.
        { "1.1 group 2 fixed", { 1, 1, 3 }, { { 18, 0x77 }, { 19, 0x66 }, { 20, 0x55 } },
          { {}, {}, { 9, 100 } }, std::nullopt },
        { "1.1 level 9 stored as 9", { 1, 1, 3 }, {}, { { 9, 0 }, {}, {} }, Bytes { { 17, 9 } } },
        // 1.2: group 1 duration up to 255, group 2 has its own duration.
        { "1.2 group 2 duration 125", { 1, 2, 0 }, {}, { {}, {}, { 0, 125 } }, Bytes { { 19, 5 }, { 20, 2 } } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        Inputs s;
        s.firmware = c.firmware;
        s.record = with (settledRecord(), c.device);
        s.viewType = "webview";
        for (int g = 0; g < 3; ++g)
            s.run[g] = c.run[g];

        const auto sent = apply (s);

        if (! c.expected)
        {
            EXPECT_FALSE (sent.has_value()) << show (*sent);
            continue;
        }

        ASSERT_TRUE (sent.has_value());
        auto expected = with (s.record, *c.expected);
        expected[21] = expected[22] = 0;
        EXPECT_EQ (*sent, expected) << show (*sent);
    }
}

//==============================================================================
// Limits that are missing (read as 0) or nonsensical never take a value outside what the firmware stores.
TEST_F (SettingsRecord, LimitsAreKeptInsideTheFirmwareRange)
{
    struct Case { const char* what; std::function<void (std::array<GroupLimits, 3>&)> limits; RunParameters run; Bytes expected; };

    const Case cases[] {
        { "all limits 0, regimen start", [] (auto& l) { for (auto& g : l) g = { 0, 0, 0, 0, 0, 0 }; }, {},
          { { 2, 1 }, { 12, 1 }, { 14, 1 }, { 15, 0 }, { 17, 1 }, { 18, 1 }, { 19, 1 }, { 20, 0 } } },
        { "negative maxima", [] (auto& l) { for (auto& g : l) g = { -5, -3, -4, -30, -20, -10 }; }, {},
          { { 2, 1 }, { 12, 1 }, { 14, 1 }, { 15, 0 }, { 17, 1 }, { 18, 1 }, { 19, 1 }, { 20, 0 } } },
        { "minima above the firmware range", [] (auto& l) { for (auto& g : l) g = { 50, 60, 55, 20000, 30000, 25000 }; }, {},
          { { 2, 10 }, { 12, 255 }, { 14, 39 }, { 15, 166 }, { 17, 10 }, { 18, 10 }, { 19, 39 }, { 20, 166 } } },
        { "negative run parameters are none", [] (auto& l) { l = {}; }, { -5, -90 },
          { { 2, 5 }, { 12, 30 }, { 14, 30 }, { 15, 0 }, { 17, 5 }, { 18, 5 }, { 19, 30 }, { 20, 0 } } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        Inputs s;
        s.limits = c.limits;
        s.regimenFlag = true;
        s.viewType = "webview";
        for (auto& r : s.run)
            r = c.run;

        const auto sent = apply (s);
        ASSERT_TRUE (sent.has_value());

        auto expected = with (s.record, c.expected);
        expected[21] = expected[22] = 0;
        EXPECT_EQ (*sent, expected) << show (*sent);
    }
}

//==============================================================================
TEST_F (SettingsRecord, NothingIsSentWithoutADeviceOrForAnUnknownMajor)
{
    Inputs s;
    s.regimenFlag = true;
    s.run[0].duration = 90;
    s.viewType = "webview";

    EXPECT_FALSE (apply (s, false).has_value()) << "no device open";

    for (int major : { 0, 2, 255 })
    {
        SCOPED_TRACE (major);
        s.firmware = { major, 2, 0 };
        EXPECT_FALSE (apply (s).has_value());
    }
}

TEST_F (SettingsRecord, WhatWasSentIsTheEnginesViewOfTheDevice)
{
    Inputs s;
    s.viewType = "webview";
    s.run[0].brightness = 8;

    ASSERT_TRUE (apply (s).has_value());
    EXPECT_EQ (SimDevice::settings()[17], 8) << "the device took the record";

    // The next call compares against the record just sent, not the status report read before it.
    SimDevice::clearCommandLog();
    engine->applyDeviceSettings (false);
    for (auto& c : SimDevice::commandLog())
        EXPECT_NE (c.code, wire::cmdSettings);
}
