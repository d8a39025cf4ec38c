// Polls after polls that failed: the retry policy's waits, a table of faults that do not go away and the polls each
// gets in a simulated hour, the same faults healing after a minute, what starts the retries afresh, the polls that
// are never held back, and the server's schedule kept while its server fails.
//
// The engine runs on the virtual clock, flat out: a wait between ticks moves the clock on at once, so an hour of
// ticks takes seconds. A hook runs on the worker before each wait, where the test samples and acts at exact ticks.
// Polls are counted on the device's side (each poll reads the six slot names first), so that a poll the server
// never sees (connection refused) counts too.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"
#include "engine/PollRetry.h"
#include "engine/WebApiTransport.h"
#include "sim/webapi/LocalWebApi.h"

#include <chrono>
#include <limits>
#include <map>
#include <mutex>
#include <thread>

using namespace olvo;
using olvo::sim::LocalWebApi;
using olvo::sim::ReplyMode;
using olvo::sim::SimDevice;

namespace
{
    using Kind = ReplyMode::Kind;

    constexpr int64_t second = 1000, minute = 60 * second, hour = 60 * minute;
    constexpr int64_t tickMs = 100;
    constexpr int realGuardMs = 20 * 60 * 1000;   // ten times what the slowest case (a stalled server) needs

    //==============================================================================
    /** The virtual clock run flat out, with a hook that runs on the worker before each wait between ticks. */
    class FlatOutClock final : public Clock
    {
    public:
        explicit FlatOutClock (test::VirtualClock& virtualClock) : inner (virtualClock) {}

        int64_t nowMs() override        { return inner.nowMs(); }
        void sleepMs (int ms) override  { inner.sleepMs (ms); }

        bool waitOnThread (juce::Thread& thread, int ms) override
        {
            std::function<void()> f;
            {
                std::lock_guard<std::mutex> l (lock);
                f = hook;
            }
            if (f)
                f();

            inner.advance (ms);
            return thread.wait (0);
        }

        void onTick (std::function<void()> f)  { std::lock_guard<std::mutex> l (lock); hook = std::move (f); }

    private:
        test::VirtualClock& inner;
        std::mutex lock;
        std::function<void()> hook;
    };

    /** A fault that does not go away: how the server (or the network) answers, and the status the engine shows. */
    struct Fault
    {
        const char* name;
        std::optional<ReplyMode> mode;   // none: nothing listens (connection refused)
        int status;
    };

    const Fault faults[] {
        { "NoReply",           ReplyMode::of (Kind::drop),        SyncStatus::noConnection },
        { "EmptyBody",         ReplyMode::of (Kind::emptyBody),   SyncStatus::noConnection },
        { "NotJson",           ReplyMode::of (Kind::htmlBody),    SyncStatus::error },
        { "Http500",           ReplyMode::of (Kind::serverError), SyncStatus::error },
        { "ConnectionRefused", std::nullopt,                      SyncStatus::noConnection },
        { "StalledServer",     ReplyMode::stall (30000),          SyncStatus::noConnection },
        { "Error",             ReplyMode::error ("Not registered"), SyncStatus::error },
        { "Warn",              ReplyMode::warn ("Registered to another account"), SyncStatus::unknownDevice },
        { "UidMismatch",       ReplyMode::of (Kind::uidMismatch), SyncStatus::error },
    };

    //==============================================================================
    class RetryTest : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            test::EngineTest::SetUp();
            flatOut = std::make_unique<FlatOutClock> (time->clock);
            setClock (flatOut.get());

            ASSERT_GT (api.start(), 0);
            scenario = LocalWebApi::defaultScenario();
            scenario.polling = { 0, 0, 0, 0, 0 };       // no schedule unless a test gives one
            scenario.wantedFirmware = { 1, 2, 0 };      // the device's own: no firmware update
            api.setScenario (scenario);
        }

        void TearDown() override
        {
            releasedUpTo = std::numeric_limits<int>::max();
            stopEngine();
            flatOut->onTick ({});
            setClock (&time->clock);
            api.stop();
            webapi::setTransportLimits ({});
            test::EngineTest::TearDown();
        }

        /** Serves the fault from the first request on (a stall with short transport limits, so that the transport
            gives up within seconds); the URL to post to. */
        juce::String serve (const Fault& fault)
        {
            if (! fault.mode)
            {
                LocalWebApi gone;
                gone.start();
                const auto url = gone.url();
                gone.stop();
                return url;
            }

            if (fault.mode->kind == Kind::stall)
            {
                webapi::TransportLimits limits;
                limits.connectTimeoutMs = 500;
                limits.stallTimeoutMs = 500;
                limits.startAllowanceMs = 1000;
                webapi::setTransportLimits (limits);
            }

            api.setMode (*fault.mode);
            return api.url();
        }

        /** Plugs the device in and starts the engine with the user's activity now, held before its first tick until
            runUntil; returns the virtual time. */
        int64_t arrive (const juce::String& url)
        {
            SimDevice::plug();
            makeEngine (url);
            const auto start = olvo::nowMs();
            engine->windowStart = start;
            holdAt (start);
            engine->startThread();
            return start;
        }

        /** Runs the engine until the virtual time reaches `until`, calling `each` on the worker between ticks, and
            holds it there (between two ticks) until the next runUntil or the end of the test. */
        void runUntil (int64_t until, std::function<void (int64_t now)> each = {})
        {
            const int previous = holds;
            holdAt (until, std::move (each));
            releasedUpTo = previous;
            ASSERT_TRUE (test::waitUntil ([this] { return reachedHold == holds; }, realGuardMs));
        }

        /** From the next tick on, the engine is held once the virtual time reaches `until` (each hold has its own
            number: a hold the worker was still in when a new one came is let go by runUntil, not mistaken for it). */
        void holdAt (int64_t until, std::function<void (int64_t now)> each = {})
        {
            const int id = ++holds;
            flatOut->onTick ([this, id, until, each]
            {
                const auto now = olvo::nowMs();
                samplePolls (now);
                if (each)
                    each (now);

                if (now < until)
                    return;

                reachedHold = id;
                while (releasedUpTo < id && ! juce::Thread::currentThreadShouldExit())
                    std::this_thread::sleep_for (std::chrono::milliseconds (1));
            });
        }

        /** Notes the polls made since the last sample, at this (virtual) time: one per six slot-name reads. */
        void samplePolls (int64_t now)
        {
            const int reads = SimDevice::counters().commands[wire::cmdGetFilename];
            for (; slotReadsSeen + wire::slotCount <= reads; slotReadsSeen += wire::slotCount)
                polls.push_back (now);
        }

        /** The polls from `from` (inclusive) to `to` (exclusive). */
        std::vector<int64_t> pollsBetween (int64_t from, int64_t to) const
        {
            std::vector<int64_t> result;
            for (auto at : polls)
                if (at >= from && at < to)
                    result.push_back (at);
            return result;
        }

        /** The first poll after `from`, or -1. */
        int64_t firstPollAfter (int64_t from) const
        {
            for (auto at : polls)
                if (at > from)
                    return at;
            return -1;
        }

        std::unique_ptr<FlatOutClock> flatOut;
        LocalWebApi api;
        sim::Scenario scenario;
        std::vector<int64_t> polls;   // worker hook writes while the engine runs; read while it is held
        int slotReadsSeen = 0;
        int holds = 0;                                   // test thread only
        std::atomic<int> reachedHold { 0 }, releasedUpTo { 0 };
    };

    class RetryUnderFault : public RetryTest, public ::testing::WithParamInterface<Fault> {};

    void PrintTo (const Fault& fault, std::ostream* out) { *out << fault.name; }
}

//==============================================================================
TEST (PollRetryPolicy, WaitsDoubleFromTheNextTickToTheCapWithASpreadThatNeverPassesIt)
{
    EXPECT_EQ (PollRetry::capMs (0), 5 * minute);
    EXPECT_EQ (PollRetry::capMs (3600), 5 * minute);
    EXPECT_EQ (PollRetry::capMs (20), 20 * second) << "a server's shorter slow interval caps the waits";

    const int64_t steps[] { 0, 1000, 2000, 4000, 8000, 16000, 32000, 64000, 128000, 256000, 300000, 300000 };
    for (int failures = 1; failures <= (int) std::size (steps); ++failures)
        EXPECT_EQ (PollRetry::stepMs (failures, 5 * minute), steps[failures - 1]) << failures << " failures";
    EXPECT_EQ (PollRetry::stepMs (6, 20 * second), 16000);
    EXPECT_EQ (PollRetry::stepMs (7, 20 * second), 20000);

    // Many clients that failed at the same moment: their retries below the cap come no sooner than the doubling and
    // at most a tenth later; at the cap they spread below it. They do not all come at the same moment.
    std::map<int, std::vector<int64_t>> waits;
    for (int client = 0; client < 200; ++client)
    {
        PollRetry retry;
        for (int failures = 1; failures <= 12; ++failures)
        {
            retry.failed (0, 5 * minute);
            waits[failures].push_back (retry.nextRetryAtMs());
            EXPECT_TRUE (retry.pending());
            EXPECT_FALSE (retry.due (retry.nextRetryAtMs() - 1));
            EXPECT_TRUE (retry.due (retry.nextRetryAtMs()));
        }
        retry.startAfresh();
        EXPECT_TRUE (retry.pending()) << "still wanted, due at once";
        EXPECT_TRUE (retry.due (0));
        retry.failed (0, 5 * minute);
        EXPECT_EQ (retry.nextRetryAtMs(), 0) << "the waits from the first again";

        retry.reset();
        EXPECT_FALSE (retry.pending());
        EXPECT_TRUE (retry.due (0));
    }

    for (auto& [failures, list] : waits)
    {
        SCOPED_TRACE (std::to_string (failures) + " failures");
        const auto step = steps[failures - 1];
        const auto [low, high] = std::minmax_element (list.begin(), list.end());
        if (step < 5 * minute)
        {
            EXPECT_GE (*low, step);
            EXPECT_LE (*high, std::min<int64_t> (5 * minute, step + step / 10));
        }
        else
        {
            EXPECT_GE (*low, 5 * minute - 5 * minute / 10);
            EXPECT_LE (*high, 5 * minute);
        }
        if (step >= 1000)
        {
            EXPECT_GT (*high - *low, step / 50) << "spread";
        }
    }
}

//==============================================================================
// A fault that does not go away, the device plugged in and the user there at the start: a handful of polls in the
// first minute, then one per cap (5 minutes) until the idle rule lets the device go after 30 minutes. The status is
// the fault's own all the while. Without the policy the engine polled on every tick (36,000 an hour).
TEST_P (RetryUnderFault, PollsInOneHourStayWithinTheRetryPolicy)
{
    const auto& fault = GetParam();
    const auto start = arrive (serve (fault));

    int statusSeen = -1;
    runUntil (start + hour, [&] (int64_t now)
    {
        if (now >= start + 10 * minute && statusSeen < 0)
            statusSeen = engine->status;
    });
    stopEngine();

    const auto all = pollsBetween (start, start + hour);
    const auto firstMinute = pollsBetween (start, start + minute);
    const auto late = pollsBetween (start + 10 * minute, start + hour);

    EXPECT_EQ (statusSeen, fault.status) << "the status shown while the engine waits";
    ASSERT_GE (all.size(), 2u);
    EXPECT_LE (all[1] - all[0], 2 * tickMs) << "the first retry on the next tick";
    EXPECT_GE (firstMinute.size(), 5u);
    EXPECT_LE (firstMinute.size(), 12u);
    EXPECT_LE (all.size(), 20u);

    // At the cap, until the idle rule ends the polling window: about one poll in every five minutes.
    ASSERT_GE (late.size(), 3u);
    for (size_t i = 1; i < late.size(); ++i)
    {
        EXPECT_GE (late[i] - late[i - 1], 5 * minute * 9 / 10) << "poll " << i;
        EXPECT_LE (late[i] - late[i - 1], 5 * minute + 2 * tickMs) << "poll " << i;
    }
    EXPECT_GE (late.back(), start + 25 * minute) << "retried until the device was let go";
}

// The same fault for one minute only: the engine finds the server back on its next retry, within two minutes of the
// start, with no user action.
TEST_P (RetryUnderFault, AFaultOfAMinuteHealsOnTheNextRetry)
{
    const auto& fault = GetParam();
    if (! fault.mode)
    {
        // Nothing listens for the first minute, then the server starts on the port the engine posts to.
        LocalWebApi gone;
        gone.start();
        const int port = gone.port();
        gone.stop();

        const auto start = arrive ("http://127.0.0.1:" + juce::String (port) + "/device/");
        runUntil (start + minute);
        api.stop();
        ASSERT_EQ (api.start (port), port) << "the port was taken meanwhile";
        api.setScenario (scenario);
        runUntil (start + 2 * minute);
        EXPECT_EQ (engine->status, SyncStatus::upToDate);
        EXPECT_LE (pollsBetween (start, start + minute).size(), 12u);
        return;
    }

    const auto start = arrive (serve (fault));
    int64_t upToDateAt = -1;
    runUntil (start + 3 * minute, [&] (int64_t now)
    {
        if (now >= start + minute)
            api.clearModes();
        if (upToDateAt < 0 && engine->status == SyncStatus::upToDate && engine->syncStep == 0)
            upToDateAt = now;
    });

    ASSERT_GE (upToDateAt, 0) << "never up to date";
    EXPECT_LT (upToDateAt, start + 2 * minute);
    EXPECT_LE (pollsBetween (start, start + minute).size(), 12u);
    EXPECT_GE (SimDevice::slotEntry (0).code, 1u) << "the sync wrote the server's files";
}

INSTANTIATE_TEST_SUITE_P (Faults, RetryUnderFault, ::testing::ValuesIn (faults),
                          [] (const auto& test) { return std::string (test.param.name); });

//==============================================================================
// Starting afresh: after the user's activity, the device plugged in again, or a poll that succeeded, the next
// attempt comes at once and the waits double from the start again, where they would otherwise be at the cap; with
// no connection ("No Connection") as with a server's error ("ERROR"), which the user's activity must not end.
TEST_F (RetryTest, RetriesStartAfreshAfterTheUsersActivityAReplugAndAPollThatSucceeded)
{
    for (const auto* fault : { &faults[1], &faults[6] })
    {
        SCOPED_TRACE (fault->name);
        polls.clear();
        const auto start = arrive (serve (*fault));
        runUntil (start + 10 * minute);   // at the cap by now: the next retry is minutes away

        struct Case { const char* what; std::function<int64_t()> act; };   // act: the time it took effect
        const Case cases[] {
            { "the user's activity", [this]
              {
                  engine->windowStart = olvo::nowMs();
                  return olvo::nowMs();
              } },
            { "the device plugged in again", [this]
              {
                  SimDevice::unplug();
                  runUntil (olvo::nowMs() + second);
                  EXPECT_EQ (engine->status, SyncStatus::noDevice);
                  SimDevice::plug();
                  return olvo::nowMs();
              } },
            { "a poll that succeeded", [this, fault]
              {
                  api.clearModes();
                  runUntil (olvo::nowMs() + 5 * minute + second);
                  EXPECT_EQ (engine->status, SyncStatus::upToDate) << "found on the retry at the cap";
                  api.setMode (*fault->mode);
                  engine->sendSlotValues = 2;   // a poll the user forces fails again
                  return olvo::nowMs();
              } },
        };

        for (auto& c : cases)
        {
            SCOPED_TRACE (c.what);
            const auto from = c.act();
            runUntil (from + 10 * second);

            const auto after = pollsBetween (from + 1, from + 10 * second);
            ASSERT_GE (after.size(), 4u);
            EXPECT_LE (after[0] - from, 3 * tickMs) << "an attempt at once";
            EXPECT_LE (after[1] - after[0], 2 * tickMs) << "the next tick";
            EXPECT_GE (after[2] - after[1], second);
            EXPECT_LE (after[2] - after[1], second + second / 10 + tickMs) << "then 1 s";
            EXPECT_GE (after[3] - after[2], 2 * second);
            EXPECT_EQ (engine->status, fault->status);

            runUntil (olvo::nowMs() + 10 * minute);   // back at the cap for the next case
        }

        releasedUpTo = holds;
        stopEngine();
        SimDevice::unplug();
    }
}

// A poll the user asks for goes out on the next tick, however long the retries wait.
TEST_F (RetryTest, AForcedPollIsNeverHeldBack)
{
    const auto start = arrive (serve (faults[1]));
    runUntil (start + 10 * minute);

    struct Case { const char* what; std::function<void()> force; const char* key; };
    const Case cases[] {
        { "run values asked for with a poll (SAVE)", [this] { engine->sendSlotValues = 2; }, "app_slot_program_values" },
        { "a next-phase decision", [this] { engine->regimenAdvancementDelay = 7; }, "regimen_advancement_delay" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        const auto from = olvo::nowMs();
        const auto seenBefore = api.requests().size();
        c.force();
        runUntil (from + second);

        const auto after = pollsBetween (from + 1, from + second);
        ASSERT_FALSE (after.empty());
        EXPECT_LE (after[0] - from, 2 * tickMs);

        const auto requests = api.requests();
        ASSERT_GT (requests.size(), seenBefore);
        EXPECT_TRUE (requests[seenBefore].json.hasProperty (c.key));
        if (juce::String (c.key) == "regimen_advancement_delay")
        {
            EXPECT_EQ (requests[seenBefore].json[c.key].toString(), "7");
        }

        runUntil (olvo::nowMs() + 10 * minute);
    }
}

// Polls on the server's schedule go on at its pace while it fails, with no retries in between: a timed poll that
// fails leaves the retrying to the schedule, and its status is what it was before.
TEST_F (RetryTest, TimedPollsKeepTheSchedulesPaceWhileTheServerFails)
{
    struct Case { const char* what; ReplyMode mode; int status; };
    const Case cases[] {
        { "empty body", ReplyMode::of (Kind::emptyBody), SyncStatus::upToDate },
        { "error", ReplyMode::error ("Down for maintenance"), SyncStatus::error },
    };

    scenario.polling = { 5, 20, 1000, 0, 0 };
    api.setScenario (scenario);
    const auto start = arrive (api.url());
    runUntil (start + 30 * second);
    ASSERT_EQ (engine->status, SyncStatus::upToDate);

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        api.setMode (c.mode);
        const auto from = olvo::nowMs();
        runUntil (from + 2 * minute);

        const auto during = pollsBetween (from, from + 2 * minute);
        EXPECT_GE (during.size(), 23u);
        EXPECT_LE (during.size(), 25u);
        for (size_t i = 1; i < during.size(); ++i)
            EXPECT_GE (during[i] - during[i - 1], 5 * second - tickMs) << "poll " << i;
        EXPECT_EQ (engine->status, c.status);

        api.clearModes();
        runUntil (olvo::nowMs() + 30 * second);
        ASSERT_EQ (engine->status, SyncStatus::upToDate);
    }
}

// A server that answers every timed poll in full, because the files it offers never reach the device (it sends
// none): each answer is a sync and its confirmation, once per fast interval, not on every tick.
TEST_F (RetryTest, AServerWhoseFilesNeverArriveIsPolledOnItsSchedule)
{
    scenario.polling = { 5, 20, 1000, 0, 0 };
    scenario.extraKeys = juce::JSON::parse (R"({ "frequency_updates": {} })");
    api.setScenario (scenario);

    const auto start = arrive (api.url());
    runUntil (start + 2 * minute + second);
    stopEngine();

    int timed = 0;
    for (auto& r : api.requests())
        timed += r.json["allow_nochange"].isBool() ? 1 : 0;
    EXPECT_GE (timed, 22);
    EXPECT_LE (timed, 24) << "one timed poll per fast interval";

    // The arrival's sync, then each timed poll's sync: a poll and its confirmation.
    const auto all = pollsBetween (start, start + 2 * minute + second);
    EXPECT_LE (all.size(), 2u * (size_t) timed + 2);
    EXPECT_NE (SimDevice::slotEntry (0).code, (uint32_t) scenario.wantedSlotCodes[0]) << "no file ever arrived";
}
