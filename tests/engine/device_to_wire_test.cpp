// What the device itself holds, read by the engine on its own ticks, and where it ends up: the battery gauge, and
// the poll requests as the server receives them (keys in order, nested objects, the usage log's entries).

#include "EngineHarness.h"

#include "engine/JsonGate.h"
#include "sim/webapi/LocalWebApi.h"

#include <cmath>

using namespace olvo;
using olvo::sim::LocalWebApi;
using olvo::sim::SimDevice;

namespace
{
    /** The raw reading the device reports for a voltage (nearest step). */
    uint16_t readingFor (double volts)
    {
        return (uint16_t) std::lround (volts / (3.3 / 65536.0 * 1.3012049));
    }

    uint32_t logWord (uint32_t type, uint32_t value) { return (type << 28) | value; }

    using DeviceToGauge = test::EngineTest;

    class DeviceToWire : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            EngineTest::SetUp();
            scenario = LocalWebApi::defaultScenario();
            scenario.polling = { 0, 0, 0, 0, 0 };
            ASSERT_GT (server.start(), 0);
        }

        void TearDown() override
        {
            stopEngine();
            server.stop();
            EngineTest::TearDown();
        }

        sim::Scenario scenario;
        LocalWebApi server;
    };
}

//==============================================================================
TEST_F (DeviceToGauge, BatteryReadingsOfTheDeviceReachTheLevel)
{
    struct Case
    {
        const char* name;
        std::array<int, 3> firmware;
        double firstVolts, secondVolts, referenceVolts;
        uint8_t chargeState;
        float level;
        int flags;
    };

    const Case cases[] {
        { "1.2 reads the second reading", { 1, 2, 0 }, 3.6, 4.0, 0, 0, 0.8f, 0 },
        { "1.1 reads the first reading", { 1, 1, 0 }, 4.0, 3.6, 0, 0, 0.8f, 0 },
        { "1.1 while charging: less the correction", { 1, 1, 0 }, 4.1, 3.6, 0, 1, 0.8f, 1 },
        { "the device's reference scales the level", { 1, 2, 0 }, 3.8, 3.775, 4.0, 0, 0.5f, 0 },
        { "full", { 1, 2, 0 }, 4.2, 4.25, 0, 0, 1.0f, 0 },
        { "the device reports a weak cell", { 1, 2, 0 }, 3.7, 3.7, 0, 3, 0.2667f, 2 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TearDown();
        SetUp();

        SimDevice::setFirmwareVersion (c.firmware[0], c.firmware[1], c.firmware[2]);
        SimDevice::setBattery (readingFor (c.firstVolts), readingFor (c.secondVolts));
        SimDevice::setBatteryReference (c.referenceVolts > 0 ? readingFor (c.referenceVolts) : 0);
        SimDevice::setChargeState (c.chargeState);
        SimDevice::plug();

        // The first tick with the device runs the battery step; no poll is made before it.
        auto& e = makeEngine ("http://127.0.0.1:9/device/");
        EXPECT_EQ (e.getBatteryLevel(), -1.0f) << "no reading yet";
        e.tick();

        ASSERT_TRUE (e.deviceOpen);
        EXPECT_NEAR (e.getBatteryLevel(), c.level, 2.0e-3);
        EXPECT_EQ (e.batteryFlags, c.flags);
    }
}

//==============================================================================
TEST_F (DeviceToWire, RequestsCarryTheDevicesOwnDataInTheirOrderAndTypes)
{
    // The device: two named slots, its own settings, and a usage log whose newest entries come after the server's
    // "last_rtc".
    sim::SimSlotEntry calm;
    std::memcpy (calm.name.data(), "Calm A", 6);
    calm.code = 12;
    calm.major = 1;
    calm.minor = 2;
    SimDevice::setSlotEntry (0, calm);
    SimDevice::setSlotEntry (3, calm);
    SimDevice::setFirmwareVersion (1, 2, 3);
    SimDevice::setSettings ({ 0, 0, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 25, 0, 0, 1, 0, 7, 3, 5, 2 });
    SimDevice::setDeviceClock (5000);
    SimDevice::setLogWords ({ 0xEE000000u, logWord (1, 500), logWord (7, 900), logWord (1, 1200),
                              logWord (8, (1u << 23) | 261), logWord (6, (4u << 16) | 17), logWord (7, 1500) });

    // The server knows the log up to device time 1000, and does not say what the device runs.
    scenario.initialLastRtc = 1000;
    scenario.sendRunParameters = false;
    scenario.wantedSlotCodes = { 12, 0, 0, 12, 0, 0 };     // what the device holds: no files to write
    server.setScenario (scenario);

    startEngine (server.url());
    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([this] { return server.requests().size() >= 2; }));
    stopEngine();

    const auto requests = server.requests();
    const auto& poll = requests[0].json;
    const auto& confirmation = requests[1].json;

    // The poll that processes the reply, then the confirmation poll with the log and the device's run values.
    EXPECT_EQ (test::keysOf (poll), juce::StringArray ({ "UID", "slots", "firmware", "app", "regimen_advancement_delay" }));
    EXPECT_EQ (test::keysOf (confirmation), juce::StringArray ({ "UID", "slots", "firmware", "app", "logs",
                                                                 "app_slot_program_values", "regimen_advancement_delay" }));

    for (auto* request : { &poll, &confirmation })
    {
        const auto& r = *request;
        EXPECT_EQ (r["UID"], juce::var ("000012ab:00000000:ffffffff:00000001"));
        EXPECT_EQ (r["regimen_advancement_delay"], juce::var ("-1"));

        // Slots 2 and 3 are keyed "7" and "8" on 1.2; each entry's values are texts, in this order.
        EXPECT_EQ (test::keysOf (r["slots"]), juce::StringArray ({ "1", "2", "7", "8", "5", "6" }));
        const auto slot = r["slots"]["8"];
        EXPECT_EQ (test::keysOf (slot), juce::StringArray ({ "program_code", "program_name", "version_major", "version_minor" }));
        EXPECT_EQ (slot["program_code"], juce::var ("12"));
        EXPECT_EQ (slot["program_name"], juce::var ("Calm A"));
        EXPECT_EQ (slot["version_minor"], juce::var ("2"));

        EXPECT_EQ (test::keysOf (r["firmware"]), juce::StringArray ({ "version_major", "version_minor", "version_tertiary" }));
        EXPECT_EQ (r["firmware"]["version_tertiary"], juce::var ("3"));
        EXPECT_EQ (test::keysOf (r["app"]), juce::StringArray ({ "operating_system", "version_major", "version_minor",
                                                                 "version_tertiary" }));
    }

    // The device's settings record (within the server's limits, so the sync left it alone), read back as levels and
    // minutes (numbers).
    const auto values = confirmation["app_slot_program_values"];
    EXPECT_EQ (test::keysOf (values), juce::StringArray ({ "purple", "blue", "orange" }));
    EXPECT_EQ (test::keysOf (values["orange"]), juce::StringArray ({ "brightness", "duration" }));
    EXPECT_EQ (values["purple"]["brightness"], juce::var (7));
    EXPECT_EQ (values["purple"]["duration"], juce::var (60));
    EXPECT_EQ (values["blue"]["brightness"], juce::var (6));
    EXPECT_EQ (values["blue"]["duration"], juce::var (25));
    EXPECT_EQ (values["orange"]["duration"], juce::var (125));

    // The log entries from device time 1000 on, dated by the device's clock.
    const auto logs = confirmation["logs"];
    EXPECT_EQ (test::keysOf (logs), juce::StringArray ({ "1", "2", "3", "4" }));

    struct Entry { juce::String type; int rtc, num, progId; };
    const Entry expected[] { { "Treat", 1200, 1, 0 }, { "Load", 1200, 2, 261 }, { "Brightness", 1200, 4, 17 },
                             { "Stop", 1500, 0, 0 } };

    for (int i = 0; i < 4; ++i)
    {
        SCOPED_TRACE ("entry " + std::to_string (i + 1));
        const auto entry = logs[juce::Identifier (juce::String (i + 1))];
        const auto& e = expected[i];

        juce::StringArray keys { "rtc", "timestamp", "type" };
        if (e.num != 0)     keys.add ("num");
        if (e.progId != 0)  keys.add ("prog_id");
        EXPECT_EQ (test::keysOf (entry), keys);

        EXPECT_TRUE (entry["rtc"].isInt());
        EXPECT_EQ ((int) entry["rtc"], e.rtc);
        EXPECT_TRUE (entry["timestamp"].isInt() || entry["timestamp"].isInt64());
        EXPECT_EQ ((juce::int64) entry["timestamp"] - e.rtc, engine->rtcOffset) << "host time of the device's clock";
        EXPECT_TRUE (entry["type"].isString());
        EXPECT_EQ (entry["type"].toString(), e.type);
        EXPECT_EQ ((int) entry["num"], e.num) << "0 when absent";
        EXPECT_EQ ((int) entry["prog_id"], e.progId) << "0 when absent";
    }

    EXPECT_NEAR ((double) engine->rtcOffset, (double) (time->clock.nowMs() / 1000 - SimDevice::deviceClock()), 2.0);
}

TEST_F (DeviceToWire, SlotNamesWithControlCharactersStillMakeStrictJson)
{
    // "ć" is C4 87 in UTF-8: read back seven-bit from the device it becomes "D" and the bell character, which JUCE's
    // writer would put into the request as "\a", an escape JSON does not have.
    const std::pair<int, const char*> names[] { { 0, "Vje\xc4\x87" "ba" }, { 1, "back\\a" }, { 4, "tab\tbell\x07" } };
    for (auto& [slot, name] : names)
    {
        sim::SimSlotEntry entry;
        std::memcpy (entry.name.data(), name, std::strlen (name));
        entry.code = (uint32_t) (70 + slot);
        SimDevice::setSlotEntry (slot, entry);
    }

    server.setScenario (scenario);
    startEngine (server.url());
    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([this] { return ! server.requests().empty(); }));
    stopEngine();

    const auto request = server.requests()[0];
    EXPECT_EQ (json::JsonGate::check (request.rawBody.data(), request.rawBody.size()), json::JsonGate::Verdict::accepted);
    EXPECT_NE (request.rawBody.find ("\\u0007"), std::string::npos);

    const auto slots = request.json["slots"];
    EXPECT_EQ (slots["1"]["program_name"].toString(), juce::String ("VjeD\x07""ba"));
    EXPECT_EQ (slots["2"]["program_name"].toString(), juce::String ("back\\a"));
    EXPECT_EQ (slots["5"]["program_name"].toString(), juce::String ("tab\tbell\x07"));
}
