// The tick on its real loop against the simulated device, with no web API answering: arrival and loss, a device the
// user may not open, the idle rule, and the user's settings saves as each firmware codes them.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    /** Nothing listens here: every poll fails at once with "no reply". */
    const juce::String unreachableApi = "http://127.0.0.1:1/device/";

    class TickWithoutServer : public test::EngineTest
    {
    protected:
        void plugAndStart (int major = 1, int minor = 2, int tertiary = 0)
        {
            SimDevice::setFirmwareVersion (major, minor, tertiary);
            SimDevice::plug();
            startEngine (unreachableApi);
            ASSERT_TRUE (test::waitUntil ([this] { return engine->deviceOpen && engine->batteryValid; }));
            waitTicks (2);
        }

        /** Waits (bounded) until the engine has run n more ticks. */
        void waitTicks (int n)
        {
            const int target = engine->tickCount + n;
            ASSERT_TRUE (test::waitUntil ([&] { return engine->tickCount >= target; }));
        }

        static std::vector<sim::SimCommand> settingsCommands()
        {
            std::vector<sim::SimCommand> result;
            for (auto& c : SimDevice::commandLog())
                if (! c.isOutputReport && c.code == wire::cmdSettings)
                    result.push_back (c);
            return result;
        }
    };
}

//==============================================================================
TEST_F (TickWithoutServer, ArrivalFailedPollsAndLoss)
{
    startEngine (unreachableApi);
    waitTicks (5);
    EXPECT_EQ (engine->status, SyncStatus::noDevice);
    EXPECT_FALSE (engine->deviceOpen);

    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([this] { return engine->deviceOpen.load(); }));

    // The first poll comes after the first battery step and fails: no connection, retried on every tick.
    ASSERT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::noConnection; }));
    waitTicks (10);
    EXPECT_EQ (engine->status, SyncStatus::noConnection);
    EXPECT_EQ (engine->syncStep, 0);

    SimDevice::unplug();
    ASSERT_TRUE (test::waitUntil ([this] { return ! engine->deviceOpen && engine->status == SyncStatus::noDevice; }));
    EXPECT_FALSE (engine->batteryValid);
}

//==============================================================================
// A device that is plugged in but that the user may not open (no udev rule on a Linux desktop) is said once per
// plug-in, on one line that names the rule; the engine carries on without it and takes it up once it may.
TEST_F (TickWithoutServer, ADeviceThatCannotBeOpenedIsSaidOncePerPlugInAndTakenUpOnceItMay)
{
    struct Case { const char* name; bool bootLoader; const char* identity; };
    const Case cases[] {
        { "normal firmware", false, "0d60:c000" },
        { "boot loader",     true,  "1fc9:0081" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SimDevice::setBootLoaderMode (c.bootLoader);
        SimDevice::refuseOpen (true);
        SimDevice::plug();

        testing::internal::CaptureStderr();
        startEngine (unreachableApi);
        waitTicks (30);
        EXPECT_EQ (engine->status, SyncStatus::noDevice);
        EXPECT_FALSE (engine->deviceOpen);

        // Pulled out and put back, still without permission: said again, once.
        SimDevice::unplug();
        waitTicks (3);
        SimDevice::plug();
        waitTicks (30);
        EXPECT_EQ (engine->status, SyncStatus::noDevice);

        // The rule installed (the device's node now open to the user): taken up at once, and the sync goes on.
        SimDevice::refuseOpen (false);
        EXPECT_TRUE (test::waitUntil ([this] { return engine->deviceOpen.load(); }));
        EXPECT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::noConnection; }));
        waitTicks (5);
        const auto errors = testing::internal::GetCapturedStderr();

        const std::string line = std::string ("Device ") + c.identity + " is present but cannot be opened "
                                 "(Failed to open a device with path 'sim:olvo': Permission denied): install the udev "
                                 "rule 60-olvo-assistant.rules (see the README) and plug the device in again.\n";
        int lines = 0;
        for (auto at = errors.find (line); at != std::string::npos; at = errors.find (line, at + 1))
        {
            EXPECT_TRUE (at == 0 || errors[at - 1] == '\n') << "a line of its own";
            ++lines;
        }
        EXPECT_EQ (lines, 2) << errors;

        stopEngine();
        engine.reset();
        SimDevice::unplug();
    }
}

//==============================================================================
// Nobody used the device for the polling window: it is let go on every tick until something new starts a window.
TEST_F (TickWithoutServer, IdleRuleLetsTheDeviceGoAfterThePollingWindow)
{
    struct Case { int fastDuration, slowDuration; int64_t idleMs; bool stillOpen; };
    const Case cases[] {
        { 0,    0,    29 * 60 * 1000, true },
        { 0,    0,    31 * 60 * 1000, false },
        { 600,  600,  25 * 60 * 1000, true },    // 20 minutes of schedule: the 30-minute floor applies
        { 600,  600,  31 * 60 * 1000, false },
        { 1000, 2000, 40 * 60 * 1000, true },    // 50 minutes of schedule
        { 1000, 2000, 51 * 60 * 1000, false },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (std::to_string (c.fastDuration) + "+" + std::to_string (c.slowDuration) + " s, idle "
                      + std::to_string (c.idleMs / 60000) + " min");
        plugAndStart();

        engine->fastPollingDuration = c.fastDuration;
        engine->slowPollingDuration = c.slowDuration;
        engine->windowStart = nowMs();
        time->clock.advance (c.idleMs);
        waitTicks (20);

        EXPECT_EQ (engine->deviceOpen.load(), c.stillOpen);
        EXPECT_TRUE (SimDevice::isPlugged());

        if (! c.stillOpen)
        {
            EXPECT_EQ (engine->status, SyncStatus::noDevice);
            // Let go, not just reported absent: between the ticks that open and close it again, no handle is held
            // (the device's own count: the engine's handle is its worker's alone).
            EXPECT_TRUE (test::waitUntil ([] { return SimDevice::openHandleCount() == 0; }))
                << "the device is let go, not just reported absent";

            // User activity starts a new window: the device is taken up again.
            engine->windowStart = nowMs();
            ASSERT_TRUE (test::waitUntil ([this] { return engine->deviceOpen.load(); }));
        }

        stopEngine();
        engine.reset();
        SimDevice::unplug();
    }
}

// The window goes away (taking its start a day back) while no device is plugged in, and the device comes before
// the engine has seen its absence again: that is the user arriving, not a device nobody uses. Steps called directly,
// so that no tick comes between.
TEST_F (TickWithoutServer, ADevicePluggedInJustAfterTheWindowWentAwayIsTakenUp)
{
    auto& e = makeEngine (unreachableApi);
    SimDevice::setFirmwareVersion (1, 2, 0);
    EXPECT_EQ (e.checkDevice(), 0);

    e.windowStart = nowMs() - 86'400'000;
    SimDevice::plug();
    EXPECT_EQ (e.checkDevice(), 1) << "let go as if nobody used it";
    EXPECT_TRUE (device_is_open());
    EXPECT_EQ (e.windowStart.load(), nowMs());

    // Going away again with the device present still lets it go at once, and it stays let go.
    e.windowStart = nowMs() - 86'400'000;
    for (int check = 0; check < 3; ++check)
    {
        EXPECT_EQ (e.checkDevice(), 0);
        EXPECT_FALSE (device_is_open());
    }
    EXPECT_TRUE (SimDevice::isPlugged());
}

//==============================================================================
// SAVE writes what the user asked for into the device's record, each firmware with its own level coding; the
// duration requests are indexed by settings field (0: group 1, 1: group 0, 2: group 2).
TEST_F (TickWithoutServer, UserSaveIsCodedPerFirmware)
{
    struct Request { int levels[3]; int durationField; int low, high; };
    struct Case
    {
        const char* what;
        int major, minor, tertiary;
        Request request;
        std::map<int, int> bytes;   // expected bytes of the record
    };

    const Case cases[] {
        { "1.0.20 (even)", 1, 0, 20, { { 3, 6, -1 }, 0, 25, 0 },  { { 17, 0x80 }, { 2, 0x40 }, { 12, 25 }, { 13, 0 } } },
        { "1.0.13 (odd)",  1, 0, 13, { { 9, 2, -1 }, 1, 30, 1 },  { { 17, 0xFF }, { 2, 0x40 }, { 14, 30 }, { 15, 1 } } },
        { "1.0.5 level 0", 1, 0, 5,  { { 0, 5, -1 }, -1, 0, 0 },  { { 17, 0x20 }, { 2, 0x20 } } },
        { "1.1.3",         1, 1, 3,  { { 9, 10, 2 }, 1, 15, 2 },  { { 17, 9 }, { 2, 10 }, { 18, 2 }, { 14, 15 }, { 15, 2 } } },
        { "1.2.0",         1, 2, 0,  { { 9, 1, 7 }, 2, 45, 3 },   { { 17, 9 }, { 2, 1 }, { 18, 7 }, { 19, 45 }, { 20, 3 } } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);

        std::array<uint8_t, 32> before {};
        for (int i = 0; i < 32; ++i)
            before[(size_t) i] = (uint8_t) (0x10 + i);
        SimDevice::setSettings (before);
        SimDevice::setBatteryReference (0x4321);

        plugAndStart (c.major, c.minor, c.tertiary);
        SimDevice::clearCommandLog();

        for (int g = 0; g < 3; ++g)
        {
            if (c.request.levels[g] < 0)
                continue;
            engine->requestedLevel[g] = c.request.levels[g];
            engine->levelChanged[g] = true;
        }
        if (c.request.durationField >= 0)
        {
            engine->requestedDuration[c.request.durationField].low = c.request.low;
            engine->requestedDuration[c.request.durationField].high = c.request.high;
            engine->durationChanged[c.request.durationField] = true;
        }
        engine->settingsDirty = true;

        ASSERT_TRUE (test::waitUntil ([this] { return ! engine->settingsDirty; }));
        waitTicks (2);

        const auto sent = settingsCommands();
        ASSERT_EQ (sent.size(), 1u);
        EXPECT_EQ (sent[0].bytes[1 + 21], 0) << "battery reference sent as zero";
        EXPECT_EQ (sent[0].bytes[1 + 22], 0);

        auto expected = before;
        for (auto& [at, value] : c.bytes)
            expected[(size_t) at] = (uint8_t) value;
        expected[21] = 0x21;   // as the device shows it: its own reference
        expected[22] = 0x43;
        EXPECT_EQ (SimDevice::settings(), expected);

        for (int i = 0; i < 3; ++i)
        {
            EXPECT_FALSE (engine->levelChanged[i]);
            EXPECT_FALSE (engine->durationChanged[i]);
        }

        stopEngine();
        engine.reset();
        SimDevice::unplug();
    }
}

TEST_F (TickWithoutServer, SaveWithNothingChangedSendsNothing)
{
    plugAndStart();
    SimDevice::clearCommandLog();

    engine->settingsDirty = true;
    ASSERT_TRUE (test::waitUntil ([this] { return ! engine->settingsDirty; }));
    waitTicks (3);

    EXPECT_TRUE (settingsCommands().empty());
}
