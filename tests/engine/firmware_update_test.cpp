// The firmware update against the simulated device: what ends up in its flash and which firmware it runs after.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"
#include "sim/FirmwareImage.h"

#include <vector>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    constexpr int firstFirmwareBlock = 32, firmwareBlocks = 32;
    const char* const gaveUpMessage = "Firmware download has failed after 10 attempts.  "
                                      "Please disconnect and reconnect your device to try again.";

    /** A test image: our header with the version the device reports once it runs it, then a pattern. */
    std::vector<uint8_t> makeImage (int major, int minor, int tertiary, size_t size = 32768, bool withHeader = true)
    {
        std::vector<uint8_t> image (size);
        for (size_t i = 0; i < size; ++i)
            image[i] = (uint8_t) ((i * 31 + 7) ^ (i >> 10));
        if (withHeader && size >= 8)
            sim::FirmwareImageHeader::write (image.data(), major, minor, tertiary);
        return image;
    }

    juce::String base64Of (const std::vector<uint8_t>& data)
    {
        return juce::Base64::toBase64 (data.data(), data.size());
    }

    juce::var descriptorWith (const juce::var& fileData)
    {
        auto* o = new juce::DynamicObject();
        if (! fileData.isVoid())
            o->setProperty ("file_data", fileData);
        return juce::var (o);
    }

    bool firmwareBlocksUntouched()
    {
        for (int k = 0; k < firmwareBlocks; ++k)
            for (auto b : SimDevice::block (firstFirmwareBlock + k))
                if (b != 0xFF)
                    return false;
        return true;
    }

    int commandsWithCode (uint8_t code)
    {
        int n = 0;
        for (auto& c : SimDevice::commandLog())
            if (c.code == code && ! c.isOutputReport)
                ++n;
        return n;
    }

    bool contains (const std::string& text, const std::string& part) { return text.find (part) != std::string::npos; }

    //==============================================================================
    class FirmwareUpdate : public test::EngineTest
    {
    protected:
        /** An engine at sync step 7 with the simulated device open, as the tick leaves it. */
        OlvoThread& engineAtFirmwareStep (const juce::var& descriptor)
        {
            SimDevice::setFirmwareVersion (1, 2, 0);
            SimDevice::plug();

            auto& e = makeEngine ("http://127.0.0.1:9/device/");
            EXPECT_EQ (e.checkDevice(), 1);
            e.deviceOpen = true;
            e.status = SyncStatus::updating;
            e.syncStep = 7;
            e.firmwareUpdate = descriptor;
            SimDevice::clearCommandLog();
            return e;
        }

        /** Runs the firmware step and returns what it printed on standard output. */
        std::string runStep()
        {
            testing::internal::CaptureStdout();
            engine->firmwareStep();
            return testing::internal::GetCapturedStdout();
        }
    };

    /** Asks the engine to stop once the clock has passed a given time, as the owner does from its own thread. */
    class StopRequestingClock final : public Clock
    {
    public:
        StopRequestingClock (test::VirtualClock& innerClock, int64_t stopAtMs)
            : inner (innerClock), stopAt (stopAtMs)
        {
            setClock (this);
        }

        ~StopRequestingClock() override { setClock (&inner); }

        int64_t nowMs() override       { return inner.nowMs(); }
        void sleepMs (int ms) override { inner.sleepMs (ms); }

        bool waitOnThread (juce::Thread& thread, int ms) override
        {
            if (inner.nowMs() >= stopAt)
                thread.signalThreadShouldExit();
            return inner.waitOnThread (thread, ms);
        }

    private:
        test::VirtualClock& inner;
        const int64_t stopAt;
    };
}

//==============================================================================
TEST_F (FirmwareUpdate, ImageIsWrittenThroughTheBootLoaderAndThenRuns)
{
    const auto image = makeImage (1, 3, 7);

    // Servers may wrap Base64 in lines.
    auto text = base64Of (image);
    juce::String wrapped;
    for (int i = 0; i < text.length(); i += 76)
        wrapped << text.substring (i, i + 76) << "\r\n";

    auto& e = engineAtFirmwareStep (descriptorWith (wrapped));
    SimDevice::setSlotEntry (0, { { 'P', 'R', 'O', 'G' }, 5, 1, 0 });

    testing::internal::CaptureStdout();
    e.tick();   // step 7 runs from the tick
    const auto out = testing::internal::GetCapturedStdout();

    EXPECT_TRUE (test::flashHolds (firstFirmwareBlock, image));
    EXPECT_EQ (SimDevice::firmwareVersion(), (std::array<int, 3> { 1, 3, 7 }));
    EXPECT_FALSE (SimDevice::inBootLoader());
    EXPECT_EQ (SimDevice::violationCount(), 0) << (SimDevice::violations().empty() ? "" : SimDevice::violations()[0]);

    EXPECT_EQ (e.syncStep, 8);
    EXPECT_TRUE (e.firmwareUpdate.isVoid());
    EXPECT_EQ (e.firmwareFailureCount, 0);
    EXPECT_EQ (e.status, SyncStatus::updating);
    EXPECT_TRUE (e.deviceOpen);
    EXPECT_EQ (commandsWithCode (wire::cmdSetCodeBank), 2);
    EXPECT_TRUE (contains (out, "Waiting on SBL...\n"));
    EXPECT_TRUE (contains (out, "Wait loops: 0 PROG\n")) << out;
    EXPECT_FALSE (contains (out, "fail"));

    ASSERT_EQ (e.checkDevice(), 1);
    EXPECT_EQ (e.getFirmwareVersionString(), "1.3.7");
}

TEST_F (FirmwareUpdate, ImageTextIsCheckedBeforeTheDeviceIsTouched)
{
    struct Case
    {
        const char* what;
        juce::var fileData;
        bool countsAsDone;
        const char* line;
    };

    const Case cases[] {
        { "1023 characters", juce::String::repeatedString ("A", 1023), true, "firmware base64 too short/missing: 1023\n" },
        { "missing", juce::var(), true, "firmware base64 too short/missing: 0\n" },
        { "1024 characters", juce::String::repeatedString ("A", 1024), false,
          "firmware data length invalid, must be 32k: 768\n" },
        { "32767 bytes", base64Of (makeImage (1, 3, 0, 32767)), false, "firmware data length invalid, must be 32k: 32767\n" },
        { "32769 bytes", base64Of (makeImage (1, 3, 0, 32769)), false, "firmware data length invalid, must be 32k: 32769\n" },
        { "not Base64", juce::String::repeatedString ("AB-_", 2000), false, "firmware base64 malformed: 8000\n" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SimDevice::reset();
        device_close();

        auto& e = engineAtFirmwareStep (descriptorWith (c.fileData));
        e.firmwareFailureCount = 2;
        const auto out = runStep();

        EXPECT_TRUE (contains (out, c.line)) << out;
        EXPECT_EQ (commandsWithCode (wire::cmdSetCodeBank), 0);
        EXPECT_TRUE (firmwareBlocksUntouched());
        EXPECT_EQ (e.lastFirmwareAttempt.load(), nowMs());

        if (c.countsAsDone)
        {
            EXPECT_EQ (e.syncStep, 8);
            EXPECT_TRUE (e.firmwareUpdate.isVoid());
            EXPECT_EQ (e.firmwareFailureCount, 0);
        }
        else
        {
            EXPECT_EQ (e.syncStep, 7);
            EXPECT_TRUE (e.firmwareUpdate.isObject());
            EXPECT_EQ (e.firmwareFailureCount, 3);
            EXPECT_TRUE (contains (out, "loadFW fail #2 retrying\n")) << out;
        }
    }
}

TEST_F (FirmwareUpdate, TenFailuresAreRetriedAndTheEleventhGivesUp)
{
    auto& e = engineAtFirmwareStep (descriptorWith (base64Of (makeImage (1, 3, 0, 32767))));

    for (int failure = 1; failure <= 10; ++failure)
    {
        const auto out = runStep();
        EXPECT_TRUE (contains (out, "loadFW fail #" + std::to_string (failure - 1) + " retrying\n")) << out;
        EXPECT_EQ (e.firmwareFailureCount, failure);
        EXPECT_EQ (e.syncStep, 7);
        EXPECT_EQ (e.status, SyncStatus::updating);
        EXPECT_TRUE (e.firmwareUpdate.isObject());
    }

    const auto out = runStep();
    EXPECT_TRUE (contains (out, "loadFW fail #10 retrying\n")) << out;
    EXPECT_EQ (e.serverMessage.get(), gaveUpMessage);
    EXPECT_EQ (e.status, SyncStatus::error);
    EXPECT_EQ (e.syncStep, 0);
    EXPECT_TRUE (e.firmwareUpdate.isVoid());
    EXPECT_EQ (e.firmwareFailureCount, 0) << "a later update starts with a clean count";
    EXPECT_EQ (commandsWithCode (wire::cmdSetCodeBank), 0);
}

TEST_F (FirmwareUpdate, AnotherDeviceAfterTheBankSwitchReceivesNothing)
{
    auto& e = engineAtFirmwareStep (descriptorWith (base64Of (makeImage (1, 3, 0))));
    e.frequencyUpdates[2] = descriptorWith ("AAAA");
    e.updatesPending = true;
    e.firmwareFailureCount = 3;

    // While the first device restarts, another one takes its place.
    std::string error;
    ASSERT_GT (SimDevice::loadScenario ("at 100 identity serial=OTHER uid=9,9,9,9\n", error), 0) << error;

    const auto out = runStep();

    EXPECT_TRUE (firmwareBlocksUntouched());
    EXPECT_EQ (commandsWithCode (wire::cmdSetBlockAddress), 0);
    EXPECT_TRUE (e.firmwareUpdate.isVoid());
    for (auto& d : e.frequencyUpdates)
        EXPECT_TRUE (d.isVoid());
    EXPECT_EQ (e.syncStep, 0);
    EXPECT_FALSE (e.updatesPending);
    EXPECT_EQ (e.status, SyncStatus::connecting);
    EXPECT_EQ (e.firmwareFailureCount, 0);
    EXPECT_FALSE (contains (out, "loadFW fail")) << "not a failure of the update";
    EXPECT_EQ (e.deviceIds.get().uidWord (0), 9u);
}

TEST_F (FirmwareUpdate, ABlockIsTriedFourTimes)
{
    struct Case
    {
        int failingAttempts;
        bool written;
    };

    for (const auto& c : { Case { 3, true }, Case { 4, false } })
    {
        SCOPED_TRACE (c.failingAttempts);
        SimDevice::reset();
        device_close();

        const auto image = makeImage (1, 4, 2);
        auto& e = engineAtFirmwareStep (descriptorWith (base64Of (image)));
        for (int attempt = 1; attempt <= c.failingAttempts; ++attempt)
            SimDevice::failChecksumOn (firstFirmwareBlock + 8, attempt);

        auto out = runStep();

        for (int attempt = 1; attempt <= std::min (c.failingAttempts, 4); ++attempt)
            EXPECT_TRUE (contains (out, "Write DFU block 8 failed (-92), retry #" + std::to_string (attempt) + "\n"))
                << out;

        if (c.written)
        {
            EXPECT_TRUE (test::flashHolds (firstFirmwareBlock, image));
            EXPECT_EQ (SimDevice::firmwareVersion(), (std::array<int, 3> { 1, 4, 2 }));
            EXPECT_EQ (e.syncStep, 8);
            continue;
        }

        EXPECT_TRUE (contains (out, "Write DFU failed (-92) on block 8\n")) << out;
        EXPECT_TRUE (contains (out, "loadFW fail #0 retrying\n")) << out;
        EXPECT_EQ (e.firmwareFailureCount, 1);
        EXPECT_EQ (e.syncStep, 7);
        EXPECT_TRUE (SimDevice::inBootLoader()) << "a failed block leaves the device on its boot loader";

        // The next attempt starts again from the bank switch and finds the boot loader already running.
        e.checkDevice();
        out = runStep();
        EXPECT_TRUE (test::flashHolds (firstFirmwareBlock, image));
        EXPECT_EQ (SimDevice::firmwareVersion(), (std::array<int, 3> { 1, 4, 2 }));
        EXPECT_EQ (e.syncStep, 8);
        EXPECT_EQ (e.firmwareFailureCount, 0);
        EXPECT_EQ (SimDevice::violationCount(), 0);
    }
}

TEST_F (FirmwareUpdate, CodeSwapThatDoesNotTakeFailsAtOnce)
{
    // The boot loader refuses to start an image without a valid header and comes back on itself.
    auto& e = engineAtFirmwareStep (descriptorWith (base64Of (makeImage (0, 0, 0, 32768, false))));
    const auto start = nowMs();

    const auto out = runStep();

    EXPECT_TRUE (contains (out, "Code swap failed, target 1, current 0\n")) << out;
    EXPECT_TRUE (contains (out, "loadFW fail #0 retrying\n")) << out;
    EXPECT_EQ (e.firmwareFailureCount, 1);
    EXPECT_EQ (e.syncStep, 7);
    EXPECT_TRUE (SimDevice::inBootLoader());
    EXPECT_LT (nowMs() - start, 20000) << "decided on the first report, not after 200 passes";
}

TEST_F (FirmwareUpdate, BootLoaderThatNeverAnswersEndsTheAttempt)
{
    struct Case
    {
        const char* what;
        int detachMs, attachMs;
    };

    const Case cases[] {
        { "device stays away", 0, 10 * 60 * 1000 },
        { "device keeps running its firmware", 10 * 60 * 1000, 0 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SimDevice::reset();
        device_close();
        SimDevice::setRestartDelays (c.detachMs, c.attachMs);

        auto& e = engineAtFirmwareStep (descriptorWith (base64Of (makeImage (1, 3, 0))));
        const auto start = nowMs();

        const auto out = runStep();
        const auto waited = nowMs() - start;

        EXPECT_TRUE (contains (out, "Boot loader did not answer within 60 s\n")) << out;
        EXPECT_TRUE (contains (out, "loadFW fail #0 retrying\n"));
        EXPECT_EQ (e.firmwareFailureCount, 1);
        EXPECT_EQ (e.syncStep, 7);
        EXPECT_GE (waited, 60000);
        EXPECT_LT (waited, 90000);

        // Nothing may go into the normal firmware while it runs.
        EXPECT_EQ (commandsWithCode (wire::cmdSetBlockAddress), 0);
        EXPECT_TRUE (firmwareBlocksUntouched());
        EXPECT_EQ (SimDevice::violationCount(), 0);
    }
}

TEST_F (FirmwareUpdate, StopRequestEndsTheWaitForTheBootLoader)
{
    SimDevice::setRestartDelays (0, 10 * 60 * 1000);
    auto& e = engineAtFirmwareStep (descriptorWith (base64Of (makeImage (1, 3, 0))));
    const auto start = nowMs();

    {
        StopRequestingClock stopping (time->clock, start + 2000);
        runStep();
    }

    EXPECT_LT (nowMs() - start, 10000);
    EXPECT_EQ (e.firmwareFailureCount, 0) << "stopping is not a failure of the update";
    EXPECT_TRUE (e.firmwareUpdate.isObject());
    EXPECT_TRUE (firmwareBlocksUntouched());
}
