// The tick on its real loop against the simulated device and the local web API: a sync from arrival to Up to Date,
// what each poll result shows, the polling schedule, forced polls, slot erasing, and the faults a sync must survive.
//
// Timing is virtual: the engine's clock only moves when it waits or sleeps. A hook in the clock runs on the worker
// between two ticks (and at each sleep inside one), so a test can act at an exact point of the sync.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"
#include "engine/JsonValues.h"
#include "sim/webapi/LocalWebApi.h"

#include <map>
#include <mutex>
#include <optional>

using namespace olvo;
using olvo::sim::LocalWebApi;
using olvo::sim::ReplyMode;
using olvo::sim::SimDevice;

namespace
{
    using Block = std::array<uint8_t, 1024>;
    using Kind = ReplyMode::Kind;

    //==============================================================================
    /** The virtual clock with hooks: one runs before each wait between ticks, one before each sleep. Both run on
        the worker thread, where they may read the engine's worker-only members. */
    class HookedClock final : public Clock
    {
    public:
        explicit HookedClock (test::VirtualClock& virtualClock) : inner (virtualClock) {}

        int64_t nowMs() override { return inner.nowMs(); }

        void sleepMs (int ms) override
        {
            run (false);
            inner.sleepMs (ms);
        }

        bool waitOnThread (juce::Thread& thread, int ms) override
        {
            run (true);
            return inner.waitOnThread (thread, ms);
        }

        void onTick (std::function<void()> f)  { std::lock_guard<std::mutex> l (lock); tickHook = std::move (f); }
        void onSleep (std::function<void()> f) { std::lock_guard<std::mutex> l (lock); sleepHook = std::move (f); }

    private:
        void run (bool betweenTicks)
        {
            std::function<void()> f;
            {
                std::lock_guard<std::mutex> l (lock);
                f = betweenTicks ? tickHook : sleepHook;
            }
            if (f)
                f();
        }

        test::VirtualClock& inner;
        std::mutex lock;
        std::function<void()> tickHook, sleepHook;
    };

    /** A request as the server saw it, with the engine's (virtual) time when it arrived. */
    struct Seen
    {
        int64_t atMs = 0;
        juce::var json;

        bool timed() const { return json["allow_nochange"].isBool() && (bool) json["allow_nochange"]; }
    };

    juce::String uidText (std::array<uint32_t, 4> uid)
    {
        juce::StringArray words;
        for (auto w : uid)
            words.add (juce::String::toHexString ((juce::int64) w).paddedLeft ('0', 8));
        return words.joinIntoString (":");
    }

    std::vector<sim::SimCommand> featureCommands()
    {
        std::vector<sim::SimCommand> result;
        for (auto& c : SimDevice::commandLog())
            if (! c.isOutputReport)
                result.push_back (c);
        return result;
    }

    bool isZeroBlockAddress (const sim::SimCommand& c, int block)
    {
        return c.code == wire::cmdSetBlockAddress && c.bytes[1] == block
               && c.bytes[2] == 0 && c.bytes[3] == 0 && c.bytes[4] == 0 && c.bytes[5] == 0;
    }

    Block fileBlock (const std::vector<uint8_t>& file, int k)
    {
        Block b;
        std::copy (file.begin() + k * 1024, file.begin() + (k + 1) * 1024, b.begin());
        return b;
    }

    std::string entryName (const sim::SimSlotEntry& e)
    {
        return std::string (reinterpret_cast<const char*> (e.name.data()), strnlen (reinterpret_cast<const char*> (e.name.data()), 32));
    }

    //==============================================================================
    class TickWithServer : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            test::EngineTest::SetUp();
            hooked = std::make_unique<HookedClock> (time->clock);
            setClock (hooked.get());

            api = std::make_unique<LocalWebApi>();
            api->setRequestLogger ([this] (const juce::String&)
            {
                std::lock_guard<std::mutex> l (timesLock);
                requestTimes.push_back (olvo::nowMs());
            });
            ASSERT_GT (api->start(), 0);

            scenario = LocalWebApi::defaultScenario();
            scenario.polling = { 0, 0, 0, 0, 0 };   // no timed polls unless a test asks for them
        }

        void TearDown() override
        {
            stopEngine();
            hooked->onTick ({});
            hooked->onSleep ({});
            setClock (&time->clock);
            api->stop();
            test::EngineTest::TearDown();
        }

        /** Serves the scenario, plugs the device in and waits until the engine has brought it up to date. */
        void arrive (int major = 1, int minor = 2, int tertiary = 0)
        {
            scenario.wantedFirmware = { major, minor, tertiary };   // no firmware update in these tests
            api->setScenario (scenario);
            SimDevice::setFirmwareVersion (major, minor, tertiary);
            SimDevice::plug();
            if (engine == nullptr)
                startEngine (api->url());
            waitUpToDate();
        }

        void waitUpToDate()
        {
            ASSERT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::upToDate && engine->syncStep == 0; },
                                          60000)) << "status " << engine->status << " step " << engine->syncStep;
        }

        void waitVirtual (int64_t untilMs)
        {
            ASSERT_TRUE (test::waitUntil ([untilMs] { return olvo::nowMs() >= untilMs; }));
        }

        void waitTicks (int n)
        {
            const int target = engine->tickCount + n;
            ASSERT_TRUE (test::waitUntil ([&] { return engine->tickCount >= target; }));
        }

        std::vector<Seen> seen() const
        {
            const auto requests = api->requests();
            std::lock_guard<std::mutex> l (timesLock);
            std::vector<Seen> result;
            for (size_t i = 0; i < std::min (requests.size(), requestTimes.size()); ++i)
                result.push_back ({ requestTimes[i], requests[i].json });
            return result;
        }

        /** The device's slots hold what the server wanted: flash and entries. */
        void expectSlotsAsServed (const std::array<int, 6>& codes)
        {
            for (int s = 0; s < 6; ++s)
            {
                SCOPED_TRACE ("slot " + std::to_string (s));
                const auto entry = SimDevice::slotEntry (s);
                EXPECT_EQ ((int) entry.code, codes[(size_t) s]);

                if (codes[(size_t) s] == 0)
                    continue;

                const auto file = LocalWebApi::programFile (codes[(size_t) s]);
                for (int k = 0; k < 32; ++k)
                    ASSERT_EQ (SimDevice::block (64 + 32 * s + k), fileBlock (file, k)) << "block " << k;

                for (auto& p : scenario.programs)
                {
                    if (p.code != codes[(size_t) s])
                        continue;
                    EXPECT_EQ (entryName (entry), p.name.toStdString());
                    EXPECT_EQ (entry.major, p.versionMajor);
                    EXPECT_EQ (entry.minor, p.versionMinor);
                }
            }
        }

        std::unique_ptr<HookedClock> hooked;
        std::unique_ptr<LocalWebApi> api;
        sim::Scenario scenario;

        mutable std::mutex timesLock;
        std::vector<int64_t> requestTimes;
    };
}

//==============================================================================
// From arrival to Up to Date: every slot the server sent is in the device's flash and entries, the record carries
// the server's values, and the commands came in the sync's order.
TEST_F (TickWithServer, ArrivalBringsTheDeviceUpToDate)
{
    struct Case { int major, minor, tertiary; std::map<int, int> settings; };
    const Case cases[] {
        // The server's run parameters (view type "webview"): multi 20 min level 5, bright 30 min level 6,
        // orange 45 min level 2 (0x33 already reads as 2, so it stays); three phases: treatment byte 0.
        { 1, 2, 0, { { 0, 0 }, { 2, 6 }, { 12, 30 }, { 13, 0 }, { 14, 20 }, { 15, 0 }, { 17, 5 }, { 18, 0x33 }, { 19, 45 }, { 20, 0 }, { 7, 0x77 } } },
        // 1.1 keeps group 2 fixed: bytes 18..20 stay as the device had them.
        { 1, 1, 5, { { 0, 0 }, { 2, 6 }, { 12, 30 }, { 13, 0 }, { 14, 20 }, { 15, 0 }, { 17, 5 }, { 18, 0x33 }, { 19, 0x33 }, { 20, 0x33 }, { 7, 0x77 } } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (std::to_string (c.major) + "." + std::to_string (c.minor) + "." + std::to_string (c.tertiary));

        std::array<uint8_t, 32> initial {};
        initial.fill (0x33);
        initial[7] = 0x77;
        SimDevice::setSettings (initial);

        arrive (c.major, c.minor, c.tertiary);
        expectSlotsAsServed (scenario.wantedSlotCodes);

        const auto settings = SimDevice::settings();
        for (auto& [at, value] : c.settings)
            EXPECT_EQ (settings[(size_t) at], value) << "settings byte " << at;

        // The sync's commands, leaving out the identity and usage-log reads every tick makes.
        std::vector<std::pair<int, int>> runs;   // (code, count)
        std::vector<int> addressed;
        std::vector<sim::SimCommand> names;
        for (auto& cmd : featureCommands())
        {
            if (cmd.code == wire::cmdGetIds || cmd.code == wire::cmdGetLog || cmd.code == wire::cmdWriteBlockData)
                continue;
            if (cmd.code == wire::cmdSetBlockAddress)
                addressed.push_back (cmd.bytes[1]);
            if (cmd.code == wire::cmdSetFilename)
                names.push_back (cmd);
            if (! runs.empty() && runs.back().first == cmd.code)
                ++runs.back().second;
            else
                runs.push_back ({ cmd.code, 1 });
        }

        const std::vector<std::pair<int, int>> expectedRuns {
            { wire::cmdGetFilename, 6 },        // the poll reports the slots
            { wire::cmdSetFilename, 6 },        // the names are blanked
            { wire::cmdSetBlockAddress, 32 },   // slot 0
            { wire::cmdSetFilename, 6 },        // still at step 1 with slots pending: blanked once more
            { wire::cmdSetBlockAddress, 160 },  // slots 1..5
            { wire::cmdSettings, 1 },           // the server's values
            { wire::cmdSetFilename, 6 },        // the new names
            { wire::cmdGetFilename, 6 },        // the confirmation poll
        };
        EXPECT_EQ (runs, expectedRuns);

        for (size_t i = 0; i < addressed.size(); ++i)
            EXPECT_EQ (addressed[i], 64 + (int) i) << "block write " << i;

        ASSERT_EQ (names.size(), 18u);
        for (size_t i = 0; i < 18; ++i)
        {
            const auto s = i % 6;
            EXPECT_EQ (names[i].bytes[1], s);
            if (i < 12)
            {
                EXPECT_TRUE (std::all_of (names[i].bytes.begin() + 2, names[i].bytes.begin() + 40,
                                          [] (uint8_t b) { return b == 0; })) << "blank entry " << i;
            }
            else
            {
                EXPECT_EQ (wire::getU32BE (names[i].bytes.data() + 34), (uint32_t) scenario.wantedSlotCodes[s]);
            }
        }

        EXPECT_EQ (SimDevice::violationCount(), 0);

        stopEngine();
        engine.reset();
        SimDevice::reset();
    }
}

//==============================================================================
TEST_F (TickWithServer, PollResultsMapToStatus)
{
    struct Case { const char* what; ReplyMode mode; int status; const char* message; };
    const Case cases[] {
        { "error",              ReplyMode::error ("Not registered"),          SyncStatus::error,         "Not registered" },
        { "HTTP 500 with error", ReplyMode::of (Kind::serverError),           SyncStatus::error,         "Internal server error" },
        { "warn",               ReplyMode::warn ("Subscription ends"),        SyncStatus::unknownDevice, "Subscription ends" },
        { "warn without UID",   ReplyMode::warn ("Subscription ends", false), SyncStatus::unknownDevice, "Subscription ends" },
        { "UID mismatch",       ReplyMode::of (Kind::uidMismatch),            SyncStatus::error,         "UUID Mismatch" },
        { "empty body",         ReplyMode::of (Kind::emptyBody),              SyncStatus::noConnection,  "" },
        { "nochange",           ReplyMode::raw ("{\"status\": \"nochange\"}"), SyncStatus::upToDate,     "" },
        { "text before JSON",   ReplyMode::of (Kind::junkBeforeJson),         SyncStatus::upToDate,      "" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        api->setMode (c.mode);
        api->setScenario (scenario);
        SimDevice::plug();
        startEngine (api->url());

        ASSERT_TRUE (test::waitUntil ([&] { return engine->status == c.status && engine->syncStep == 0; }))
            << "status " << engine->status;
        waitTicks (5);
        EXPECT_EQ (engine->status, c.status);
        EXPECT_EQ (engine->serverMessage.get(), juce::String (c.message));

        // A failure is polled again, at the pace of the retry policy (poll_retry_test): not on every tick.
        if (c.status != SyncStatus::upToDate)
        {
            const auto before = api->requests().size();
            waitTicks (40);
            EXPECT_GT (api->requests().size(), before);
            EXPECT_LE (api->requests().size(), before + 4);
        }

        stopEngine();
        engine.reset();
        SimDevice::unplug();
        api->clearModes();
    }
}

// A timed poll that gets no reply keeps the status; a forced one shows "no connection" and polls until it gets one.
TEST_F (TickWithServer, ATimedPollWithoutReplyKeepsTheStatus)
{
    scenario.polling = { 5, 20, 1000, 0, 0 };
    arrive();

    api->setMode (ReplyMode::of (Kind::emptyBody));
    const auto before = seen().size();
    ASSERT_TRUE (test::waitUntil ([&] { return seen().size() >= before + 3; }));
    EXPECT_EQ (engine->status, SyncStatus::upToDate);
    for (size_t i = before; i < seen().size(); ++i)
        EXPECT_TRUE (seen()[i].timed());

    engine->sendSlotValues = 2;
    ASSERT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::noConnection; }));

    api->clearModes();
    waitUpToDate();
}

//==============================================================================
// The schedule: every fast interval during the fast duration, every slow interval during the slow one, then no
// timed polls at all. Times are seconds since the polling window began.
TEST_F (TickWithServer, TimedPollsFollowTheSchedule)
{
    scenario.polling = { 5, 20, 50, 100, 0 };
    arrive();
    const int64_t windowStart = engine->windowStart;
    waitVirtual (windowStart + 250 * 1000);

    std::vector<int64_t> at;
    for (auto& r : seen())
        if (r.timed())
            at.push_back ((r.atMs - windowStart) / 1000);

    const std::vector<int64_t> expected { 5, 10, 15, 20, 25, 30, 35, 40, 45, 65, 85, 105, 125, 145 };
    EXPECT_EQ (at, expected);
    EXPECT_EQ (engine->status, SyncStatus::upToDate);
}

// A change that is not yet saved holds timed polls off (they would show the device's values over it); SAVE lets
// them run again.
TEST_F (TickWithServer, TimedPollsWaitWhileTheUserEdits)
{
    scenario.polling = { 5, 20, 1000, 0, 0 };
    arrive();
    const int64_t windowStart = engine->windowStart;
    waitVirtual (windowStart + 12 * 1000);

    engine->requestedLevel[1] = 7;
    engine->levelChanged[1] = true;
    const auto holdFrom = olvo::nowMs();

    waitVirtual (holdFrom + 30 * 1000);
    const auto saveFrom = olvo::nowMs();
    engine->settingsDirty = true;
    ASSERT_TRUE (test::waitUntil ([this] { return ! engine->settingsDirty; }));
    const auto saveTo = olvo::nowMs();
    waitVirtual (saveTo + 12 * 1000);

    int before = 0, during = 0, atSave = 0, after = 0;
    for (auto& r : seen())
    {
        if (! r.timed())
            continue;
        if (r.atMs <= holdFrom)                 ++before;
        else if (r.atMs < saveFrom)             ++during;
        else if (r.atMs <= saveTo + 100)        ++atSave;
        else                                    ++after;
    }

    EXPECT_GE (before, 1);
    EXPECT_EQ (during, 0);
    EXPECT_EQ (atSave, 1) << "the save's own tick polls: the last poll is long past";
    EXPECT_GE (after, 1);
    EXPECT_EQ (SimDevice::settings()[2], 7) << "the save reached the device";
}

//==============================================================================
// Polls outside the schedule: a saved program choice, a next-phase decision, run values asked for with a poll.
TEST_F (TickWithServer, ForcedPollsCarryWhatForcedThem)
{
    arrive();

    struct Case
    {
        const char* what;
        std::function<void (OlvoThread&)> trigger;
        std::function<bool (const juce::var&)> carries;   // empty: no poll at all
    };

    const Case cases[] {
        { "a choice saved",
          [] (OlvoThread& e) { e.chosenConfigId[1] = 102; e.updateProgramChoice[1] = true; e.choiceDirty = true; },
          [] (const juce::var& r) { return (int) r["update_program_choices"]["bright"] == 102; } },
        { "choice dirty without a choice",
          [] (OlvoThread& e) { e.choiceDirty = true; },
          {} },
        { "a next-phase decision",
          [] (OlvoThread& e) { e.regimenAdvancementDelay = 7; },
          [] (const juce::var& r) { return r["regimen_advancement_delay"].toString() == "7"; } },
        { "run values with a poll",
          [] (OlvoThread& e) { e.sendSlotValues = 2; },
          [] (const juce::var& r) { return json::isObject (r["app_slot_program_values"]); } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto before = seen().size();
        c.trigger (*engine);

        if (! c.carries)
        {
            ASSERT_TRUE (test::waitUntil ([this] { return ! engine->choiceDirty; }));
            waitTicks (20);
            EXPECT_EQ (seen().size(), before);
            continue;
        }

        ASSERT_TRUE (test::waitUntil ([&] { return seen().size() > before; }));
        EXPECT_TRUE (c.carries (seen()[before].json)) << juce::JSON::toString (seen()[before].json);
        waitUpToDate();
    }

    // The chosen program's files are now in the group's slots; nothing ever polled on a schedule.
    EXPECT_EQ (SimDevice::slotEntry (0).code, 14u);
    EXPECT_EQ (SimDevice::slotEntry (1).code, 15u);
    for (auto& r : seen())
        EXPECT_FALSE (r.timed());
}

// A poll in the middle of a sync waits for it to end: it would report half-written, blanked slots.
TEST_F (TickWithServer, PollsWaitWhileASyncRuns)
{
    auto asked = std::make_shared<std::atomic<bool>> (false);
    hooked->onTick ([this, asked]
    {
        if (engine->syncStep == 2 && ! asked->exchange (true))
            engine->regimenAdvancementDelay = 1;
    });

    arrive();
    ASSERT_TRUE (test::waitUntil ([&] { return asked->load() && engine->regimenAdvancementDelay == 0; }));
    waitUpToDate();

    const auto requests = seen();
    ASSERT_GE (requests.size(), 3u);
    EXPECT_EQ (requests[2].json["regimen_advancement_delay"].toString(), "1")
        << "only the sync's poll and its confirmation come before the decision";

    for (auto& cmd : featureCommands())
    {
        if (cmd.code == wire::cmdSetBlockAddress)
        {
            EXPECT_LT (cmd.timeMs, requests[2].atMs) << "block " << (int) cmd.bytes[1] << " after the decision's poll";
        }
    }
    expectSlotsAsServed (scenario.wantedSlotCodes);
}

//==============================================================================
// The idle rule lets the device go only between syncs: a sync that runs past the window is finished first.
TEST_F (TickWithServer, IdleRuleNeverCutsASync)
{
    auto jumped = std::make_shared<std::atomic<bool>> (false);
    hooked->onTick ([this, jumped]
    {
        if (engine->syncStep == 3 && ! jumped->exchange (true))
            time->clock.advance (31 * 60 * 1000);
    });

    // Up to date and let go right after: wait for the second, then look at what the sync had done.
    api->setScenario (scenario);
    SimDevice::plug();
    startEngine (api->url());
    ASSERT_TRUE (test::waitUntil ([&] { return jumped->load() && engine->status == SyncStatus::noDevice; }));

    EXPECT_TRUE (SimDevice::isPlugged());
    EXPECT_FALSE (engine->deviceOpen);
    expectSlotsAsServed (scenario.wantedSlotCodes);
    EXPECT_EQ (seen().size(), 2u) << "the sync's poll and its confirmation";
    EXPECT_EQ (SimDevice::settings()[14], 20) << "the sync's settings step ran";
}

//==============================================================================
TEST_F (TickWithServer, ABlockFailingThreeTimesStillEndsUpToDate)
{
    for (int attempt = 1; attempt <= 3; ++attempt)
        SimDevice::failChecksumOn (64 + 32 * 2 + 5, attempt);

    arrive();
    expectSlotsAsServed (scenario.wantedSlotCodes);
}

TEST_F (TickWithServer, FourFailuresLeaveTheSlotEmptyAndTheRestWritten)
{
    for (int attempt = 1; attempt <= 4; ++attempt)
        SimDevice::failChecksumOn (64 + 32 * 2 + 5, attempt);

    arrive();

    auto codes = scenario.wantedSlotCodes;
    codes[2] = 0;
    expectSlotsAsServed (codes);
    EXPECT_EQ (entryName (SimDevice::slotEntry (2)), "") << "neither the old name nor the new one";

    const auto file = LocalWebApi::programFile (scenario.wantedSlotCodes[2]);
    EXPECT_EQ (SimDevice::block (128 + 4), fileBlock (file, 4));
    Block erased;
    erased.fill (0xFF);
    EXPECT_EQ (SimDevice::block (128 + 5), erased);
    EXPECT_EQ (SimDevice::block (128 + 6), erased);
}

// A block the device refuses on every attempt, against a server that sends the file again on each poll (every 5 s):
// the file is written three times while the device stays plugged in, then no more; the other slots and the settings
// are written each time, the device's entries hold what its flash holds, and the engine says what happened. A new
// file for the slot, or the device plugged in again, gets three more writes.
TEST_F (TickWithServer, ASlotThatRefusesItsFileIsWrittenThreeTimesWhileTheDeviceStaysPluggedIn)
{
    constexpr int slot = 2, firstBlock = 64 + 32 * slot, worn = firstBlock + 5;
    SimDevice::failChecksumAlways (worn);
    scenario.polling = { 5, 20, 1000, 0, 0 };

    const auto fileWrites = []
    {
        int n = 0;
        for (auto& c : featureCommands())
            n += c.code == wire::cmdSetBlockAddress && c.bytes[1] == firstBlock ? 1 : 0;
        return n;
    };

    // Ninety seconds: eighteen polls, each bringing the file again.
    const auto expectGivenUpAfter = [&] (int writes)
    {
        waitVirtual (olvo::nowMs() + 90 * 1000);

        // Between two polls (each starts by clearing the message).
        const juce::String message ("Program download has failed after 3 attempts.  "
                                    "Please disconnect and reconnect your device to try again.");
        ASSERT_TRUE (test::waitUntil ([&]
        {
            return engine->status == SyncStatus::error && engine->syncStep == 0 && engine->serverMessage.get() == message;
        })) << "status " << engine->status << ", message \"" << engine->serverMessage.get() << "\"";
        EXPECT_EQ (fileWrites(), writes);

        // The other slots and the settings went in; the refused slot's entry is empty, as its flash is neither
        // file, and the engine's table says what the device says.
        auto codes = scenario.wantedSlotCodes;
        codes[slot] = 0;
        expectSlotsAsServed (codes);
        EXPECT_EQ (entryName (SimDevice::slotEntry (slot)), "");
        EXPECT_EQ (engine->slotTable.get().slotProgramCode[slot], 0);
        EXPECT_EQ (SimDevice::settings()[14], 20) << "the sync's settings step ran";
    };

    arrive();
    expectGivenUpAfter (3);

    {
        SCOPED_TRACE ("plugged in again");
        SimDevice::unplug();
        ASSERT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::noDevice; }));
        SimDevice::plug();
        expectGivenUpAfter (6);
    }

    {
        SCOPED_TRACE ("a different file for the slot");
        scenario.wantedSlotCodes[slot] = 77;
        api->setScenario (scenario);
        expectGivenUpAfter (9);
    }
}

//==============================================================================
// The device is pulled out in the middle of a slot and another device (another UID) is plugged in before the next
// tick: nothing meant for the first one may reach the second before the engine has asked the server about it.
TEST_F (TickWithServer, ADifferentDevicePluggedInMidSyncGetsNothingOfTheFirst)
{
    const std::array<uint32_t, 4> secondUid { 0x5555, 0x6666, 0x7777, 0x8888 };

    struct State { std::atomic<bool> armed { false }, replugged { false }; };
    auto state = std::make_shared<State>();

    hooked->onTick ([this, state, secondUid]
    {
        if (engine->syncStep == 2 && ! state->armed.exchange (true))
            SimDevice::unplugAfterCommands (190);   // about ten blocks into slot 1

        if (state->armed && ! SimDevice::isPlugged() && ! state->replugged.exchange (true))
        {
            SimDevice::setUid (secondUid);
            SimDevice::setSerial ("OLVO-SIM-0002");
            SimDevice::setSettings ({});
            SimDevice::clearCommandLog();
            SimDevice::plug();
        }
    });

    scenario.wantedFirmware = { 1, 2, 0 };
    api->setScenario (scenario);
    SimDevice::plug();
    startEngine (api->url());

    ASSERT_TRUE (test::waitUntil ([&] { return state->replugged.load(); }));
    ASSERT_TRUE (test::waitUntil ([&]
    {
        return engine->deviceIds.get().uidWord (0) == secondUid[0] && engine->status == SyncStatus::upToDate
               && engine->syncStep == 0;
    }, 60000)) << "status " << engine->status;

    int64_t firstPollForSecond = -1;
    for (auto& r : seen())
        if (r.json["UID"].toString() == uidText (secondUid))
        {
            firstPollForSecond = r.atMs;
            break;
        }
    ASSERT_GE (firstPollForSecond, 0);

    for (auto& cmd : featureCommands())
    {
        const bool writes = cmd.code == wire::cmdSetBlockAddress || cmd.code == wire::cmdWriteBlockData
                            || cmd.code == wire::cmdSetFilename || cmd.code == wire::cmdSettings;
        if (writes)
        {
            ASSERT_GE (cmd.timeMs, firstPollForSecond) << "command " << (int) cmd.code << " reached the second device "
                                                         "before the engine polled for it";
        }
    }

    expectSlotsAsServed (scenario.wantedSlotCodes);
}

//==============================================================================
// The sync's settings step and the user's SAVE in one tick: the second record starts from the first.
TEST_F (TickWithServer, TheSyncsRecordAndTheUsersSaveInOneTick)
{
    scenario.runParameters[2].brightness = 0;   // the server leaves orange's level to the user

    auto saved = std::make_shared<std::atomic<bool>> (false);
    hooked->onTick ([this, saved]
    {
        if (engine->syncStep == 8 && ! saved->exchange (true))
        {
            engine->requestedLevel[2] = 3;
            engine->levelChanged[2] = true;
            engine->settingsDirty = true;
        }
    });

    arrive();
    ASSERT_TRUE (saved->load());

    std::vector<sim::SimCommand> records;
    for (auto& cmd : featureCommands())
        if (cmd.code == wire::cmdSettings)
            records.push_back (cmd);

    ASSERT_GE (records.size(), 2u);
    const auto& sync = records[0];
    const auto& save = records[1];
    EXPECT_EQ (save.timeMs, sync.timeMs) << "both in the tick of sync step 8";

    // The sync's record: the server's values (orange's level raised into its limits from 0).
    EXPECT_EQ (sync.bytes[1 + 14], 20);
    EXPECT_EQ (sync.bytes[1 + 17], 5);
    EXPECT_EQ (sync.bytes[1 + 2], 6);
    EXPECT_EQ (sync.bytes[1 + 18], 1);

    auto expected = sync.bytes;
    expected[1 + 18] = 3;
    EXPECT_EQ (save.bytes, expected) << "the save changes only the user's byte of the sync's record";

    EXPECT_EQ (SimDevice::settings()[18], 3);
    EXPECT_EQ (SimDevice::settings()[14], 20);
}

//==============================================================================
// SAVE as the main window makes it (the run values asked for with a poll, then the settings), against a server that
// keeps the values it is told and hands its run values out in every reply. The record reaches the device before
// the poll, so the server is told the saved values; polled first, it would be told the old ones, and where the
// sync takes the server's run values into the device ("webview", "link") the save would be undone.
namespace
{
    constexpr int savedLevel = 10, savedDuration = 25, savedBlueLevel = 8;

    /** What the main window's SAVE sets, for multi's level and duration and bright's level. */
    void pressSave (OlvoThread& e)
    {
        e.requestedLevel[0] = savedLevel;
        e.levelChanged[0] = true;
        e.requestedDuration[1].low = savedDuration;     // field 1 is multi's duration
        e.requestedDuration[1].high = 0;
        e.durationChanged[1] = true;
        e.requestedLevel[1] = savedBlueLevel;
        e.levelChanged[1] = true;

        e.requestSave();
    }

    /** The first request from the given one on that reports run values. */
    std::optional<juce::var> firstValuesReport (const std::vector<Seen>& requests, size_t from)
    {
        for (size_t i = from; i < requests.size(); ++i)
            if (json::isObject (requests[i].json["app_slot_program_values"]))
                return requests[i].json["app_slot_program_values"];
        return std::nullopt;
    }
}

TEST_F (TickWithServer, ASavedLevelAndDurationStayAndReachTheServer)
{
    const auto initialSettings = SimDevice::settings();

    for (const char* view : { "webview", "link", "" })
    {
        SCOPED_TRACE (std::string ("view type \"") + view + "\"");
        SimDevice::setSettings (initialSettings);
        scenario.viewType = view;
        arrive();

        const auto before = seen().size();
        auto pressed = std::make_shared<std::atomic<bool>> (false);
        hooked->onTick ([this, pressed] { if (! pressed->exchange (true)) pressSave (*engine); });

        ASSERT_TRUE (test::waitUntil ([&] { return firstValuesReport (seen(), before).has_value(); }));
        hooked->onTick ({});
        waitTicks (20);
        waitUpToDate();

        const auto reported = *firstValuesReport (seen(), before);
        EXPECT_EQ ((int) reported["purple"]["brightness"], savedLevel) << "the server is told the saved values";
        EXPECT_EQ ((int) reported["purple"]["duration"], savedDuration);
        EXPECT_EQ ((int) reported["blue"]["brightness"], savedBlueLevel);

        const auto held = api->device (seen().back().json["UID"].toString());
        ASSERT_TRUE (held.has_value());
        EXPECT_EQ (held->runParameters[0].brightness, savedLevel);
        EXPECT_EQ (held->runParameters[0].duration, savedDuration);

        const auto settings = SimDevice::settings();
        EXPECT_EQ (settings[17], savedLevel) << "the device keeps the saved level after the sync";
        EXPECT_EQ (settings[14] + 60 * settings[15], savedDuration);
        EXPECT_EQ (settings[2], savedBlueLevel);
        EXPECT_FALSE (engine->settingsDirty || engine->levelChanged[0] || engine->durationChanged[1]);

        stopEngine();
        engine.reset();
        SimDevice::unplug();
    }
}

// The window hands a save over while the worker runs: a tick may come between any two of its writes. Whichever
// part of the hand-over a tick sees, the save stays and the server is told it.
TEST_F (TickWithServer, ASaveHandedOverAcrossTwoTicksStaysAndReachesTheServer)
{
    const std::function<void (OlvoThread&)> firstParts[] {
        [] (OlvoThread& e) { e.settingsDirty = true; },
        [] (OlvoThread& e) { e.settingsDirty = true; e.choiceDirty = true; },
    };

    scenario.viewType = "link";
    const auto initialSettings = SimDevice::settings();

    for (size_t part = 0; part < std::size (firstParts); ++part)
    {
        SCOPED_TRACE ("the first tick sees " + std::to_string (part + 1) + " of the three flags");
        SimDevice::setSettings (initialSettings);
        arrive();

        const auto before = seen().size();
        auto ticks = std::make_shared<std::atomic<int>> (0);
        hooked->onTick ([this, ticks, first = firstParts[part]]
        {
            const auto tick = (*ticks)++;
            if (tick == 0)
            {
                pressSave (*engine);                          // every value and all three flags ...
                engine->sendSlotValues = 0;                   // ... but the tick sees only the first part
                engine->choiceDirty = false;
                engine->settingsDirty = false;
                first (*engine);
            }
            else if (tick == 1)
            {
                engine->requestSave();                       // the rest arrives before the next tick
            }
        });

        ASSERT_TRUE (test::waitUntil ([&] { return firstValuesReport (seen(), before).has_value(); }));
        waitTicks (20);
        hooked->onTick ({});
        waitUpToDate();

        const auto reported = *firstValuesReport (seen(), before);
        EXPECT_EQ ((int) reported["purple"]["brightness"], savedLevel);
        EXPECT_EQ ((int) reported["purple"]["duration"], savedDuration);
        const auto settings = SimDevice::settings();
        EXPECT_EQ (settings[17], savedLevel);
        EXPECT_EQ (settings[14] + 60 * settings[15], savedDuration);

        stopEngine();
        engine.reset();
        SimDevice::unplug();
    }
}

// The device is pulled out just as the saved record is sent: the poll reports what the device still holds, not
// the record that never arrived.
TEST_F (TickWithServer, ASaveThatNeverReachedTheDeviceIsNotReportedAsHeld)
{
    scenario.viewType = "link";
    arrive();
    const auto held = SimDevice::settings();

    const auto before = seen().size();
    auto pressed = std::make_shared<std::atomic<bool>> (false);
    hooked->onTick ([this, pressed]
    {
        if (pressed->exchange (true))
            return;
        SimDevice::unplugOnCommand (wire::cmdSettings);
        pressSave (*engine);
    });

    ASSERT_TRUE (test::waitUntil ([&] { return firstValuesReport (seen(), before).has_value(); }));
    ASSERT_FALSE (SimDevice::isPlugged());
    EXPECT_EQ (SimDevice::settings(), held) << "the record never arrived";

    const auto reported = *firstValuesReport (seen(), before);
    EXPECT_EQ ((int) reported["purple"]["brightness"], held[17]);
    EXPECT_EQ ((int) reported["purple"]["duration"], held[14] + 60 * held[15]);
    EXPECT_EQ ((int) reported["blue"]["brightness"], held[2]);
}

//==============================================================================
// Erasing: a masked slot with a program gets 32 blocks of zeros and an empty entry; one already empty is left
// alone; the engine then polls, and the server fills the slot again.
TEST_F (TickWithServer, SlotErasingWritesZerosAndAsksTheServerAgain)
{
    scenario.wantedSlotCodes[5] = 0;
    arrive();

    EXPECT_EQ (SimDevice::slotEntry (5).code, 0u);
    EXPECT_EQ (engine->slotTable.get().slotProgramCode[5], 0);

    SimDevice::clearCommandLog();
    const auto requestsBefore = seen().size();
    engine->slotClearMask = (1 << 2) | (1 << 5);

    ASSERT_TRUE (test::waitUntil ([this] { return engine->slotClearMask == 0; }));
    ASSERT_TRUE (test::waitUntil ([&] { return seen().size() > requestsBefore; }));
    waitUpToDate();

    const auto commands = featureCommands();
    for (int k = 0; k < 32; ++k)
        EXPECT_TRUE (std::any_of (commands.begin(), commands.end(),
                                  [k] (auto& c) { return isZeroBlockAddress (c, 128 + k); })) << "slot 2 block " << k;

    for (auto& c : commands)
        EXPECT_FALSE (c.code == wire::cmdSetBlockAddress && c.bytes[1] >= 224) << "slot 5 was empty: not erased";

    const bool clearedEntry = std::any_of (commands.begin(), commands.end(), [] (auto& c)
    {
        return c.code == wire::cmdSetFilename && c.bytes[1] == 2
               && std::all_of (c.bytes.begin() + 2, c.bytes.begin() + 40, [] (uint8_t b) { return b == 0; });
    });
    EXPECT_TRUE (clearedEntry);

    expectSlotsAsServed (scenario.wantedSlotCodes);
}

// The user's erase and a page load, both in the middle of a sync: the sync ends first with its files whole, then the
// slot is erased and the server asked again, which fills it once more.
TEST_F (TickWithServer, SlotErasingWaitsForTheSyncToEnd)
{
    auto asked = std::make_shared<std::atomic<bool>> (false);
    hooked->onTick ([this, asked]
    {
        if (engine->syncStep == 3 && ! asked->exchange (true))
        {
            engine->slotClearMask = 1 << 0;
            engine->status = SyncStatus::noConnection;
        }
    });

    arrive();
    // The sync's poll and confirmation, then the poll after the erase (which also answers the page load) and its
    // confirmation.
    ASSERT_TRUE (test::waitUntil ([this] { return seen().size() >= 4; }, 60000)) << seen().size() << " polls";
    waitUpToDate();

    const auto requests = seen();
    int erasedBlocks = 0;
    for (auto& c : featureCommands())
    {
        if (isZeroBlockAddress (c, 64))
        {
            ++erasedBlocks;
            EXPECT_GE (c.timeMs, requests[1].atMs) << "erased before the sync had ended";
        }
    }
    EXPECT_EQ (erasedBlocks, 1);
    expectSlotsAsServed (scenario.wantedSlotCodes);
}

// A bit the window sets while the worker erases is kept for the next round, not wiped with the ones just done.
TEST_F (TickWithServer, SlotClearMaskSetDuringErasingIsKept)
{
    arrive();
    SimDevice::slowCompletion (0, 20);   // block writes now sleep, so the hook runs in the middle of one
    SimDevice::clearCommandLog();

    auto added = std::make_shared<std::atomic<bool>> (false);
    hooked->onSleep ([this, added]
    {
        if (engine->writingSlot && ! added->exchange (true))
            engine->slotClearMask |= (1 << 1);
    });

    engine->slotClearMask = 1 << 0;

    ASSERT_TRUE (test::waitUntil ([&]
    {
        const auto commands = featureCommands();
        return std::any_of (commands.begin(), commands.end(), [] (auto& c) { return isZeroBlockAddress (c, 96); });
    }, 60000)) << "slot 1 was never erased";
    EXPECT_TRUE (added->load());
    waitUpToDate();
}

//==============================================================================
// The clock is read for the usage log's dates after each log read; when that read fails the offset it had stays.
TEST_F (TickWithServer, RtcOffsetIsKeptWhenTheClockReadFails)
{
    SimDevice::setDeviceClock (1000000);
    arrive();

    struct State
    {
        std::atomic<bool> armed { false }, taken { false };
        std::atomic<int64_t> offset { 0 }, afterFailure { -1 };
    };
    auto state = std::make_shared<State>();
    hooked->onTick ([this, state]
    {
        // Right after the tick whose clock read failed, before the next tick lets go of the device.
        if (state->armed && ! state->taken.exchange (true))
            state->afterFailure = engine->rtcOffset;

        // Before the tick that reads the log: its identity read and first log page go out, then the device goes.
        if (engine->logTickCounter >= 9 && ! state->armed.exchange (true))
        {
            state->offset = engine->rtcOffset;
            SimDevice::unplugAfterCommands (2);
        }
    });

    ASSERT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::noDevice; }));
    stopEngine();

    const int64_t hostMinusDevice = olvo::nowMs() / 1000 - SimDevice::deviceClock();
    EXPECT_NEAR ((double) state->offset, (double) hostMinusDevice, 1.0) << "the offset before the failure";
    EXPECT_EQ (state->afterFailure.load(), state->offset.load()) << "kept through the failed read";
    EXPECT_EQ (engine->rtcOffset, 0) << "the offset was the clock of the device that went";
}
