// The engine object: its defaults, the loop, the reset when the device goes, and sharing with a reader thread.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"

#include <atomic>
#include <thread>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    using EngineObject = test::EngineTest;

    juce::var objectWith (const char* key, const juce::var& value)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty (key, value);
        return juce::var (o);
    }
}

TEST_F (EngineObject, FreshObjectHasTheDefaults)
{
    auto& e = makeEngine();

    EXPECT_EQ (e.status, SyncStatus::noDevice);
    EXPECT_FALSE (e.deviceOpen);
    EXPECT_FLOAT_EQ (e.batteryVoltage, 3.65f);
    EXPECT_FALSE (e.batteryValid);
    EXPECT_EQ (e.lastRtc, -1);
    EXPECT_EQ (e.currentPhaseRemaining, -999999);
    EXPECT_EQ (e.syncStep, 0);
    EXPECT_EQ (e.defaultApiUrl.get(), OLVO_DEFAULT_API_URL);
    EXPECT_TRUE (e.defaultApiUrl.get().startsWith ("https://"));
    EXPECT_TRUE (e.defaultApiUrl.get().endsWith ("/device/"));

    for (auto& l : e.limits.get())
    {
        EXPECT_EQ (l.brightnessMin, 1);
        EXPECT_EQ (l.brightnessMax, 10);
        EXPECT_EQ (l.brightnessStart, 5);
        EXPECT_EQ (l.durationMin, 1);
        EXPECT_EQ (l.durationMax, 9999);
        EXPECT_EQ (l.durationStart, 30);
    }

    EXPECT_EQ (e.windowStart.load(), nowMs());
    EXPECT_EQ (e.lastFirmwareAttempt.load(), nowMs() - 30000);
}

TEST_F (EngineObject, ClearRegimenEmptiesTextsNumbersAndPackages)
{
    auto& e = makeEngine();
    e.regimenName.set ("R");
    e.welcomeMessageTitle.set ("T");
    e.currentPhase = 3;
    e.currentPhaseRemaining = 10;
    e.forceUpdate = true;
    e.packages.update ([] (juce::Array<PackageInfo>& p) { p.add ({}); });

    e.clearRegimen();

    EXPECT_TRUE (e.regimenName.get().isEmpty());
    EXPECT_TRUE (e.welcomeMessageTitle.get().isEmpty());
    EXPECT_EQ (e.currentPhase, 0);
    EXPECT_EQ (e.currentPhaseRemaining, -999999);
    EXPECT_FALSE (e.forceUpdate);
    EXPECT_TRUE (e.packages.get().isEmpty());
}

TEST_F (EngineObject, DeviceLossResetsWhatBelongedToTheDevice)
{
    auto& e = makeEngine();

    // What a session with a device leaves behind.
    e.appUpdate.set (objectWith ("version", "2"));
    e.firmwareUpdate = objectWith ("file_data", "x");
    e.frequencyUpdates[3] = objectWith ("program_code", "5");
    e.serverMessage.set ("m");
    e.fillerText.set ("f");
    e.apiUrl.set ("https://elsewhere.example/device/");
    e.viewType.set ("link");
    e.helpUrl.set ("https://help.example/");
    e.webAppUrl.set ("https://app.example/");
    e.pollingIntervalFast = 5;
    e.durationChanged[1] = true;
    e.levelChanged[2] = true;
    e.packageChoicePending = true;
    e.slotClearMask = 0x3F;
    e.syncStep = 4;
    e.updatesPending = true;
    e.regimenFlag = true;
    e.regimenAdvancementDelay = 7;
    e.firmwareFailureCount = 3;
    e.programChoices.update ([] (auto& c) { c[0].push_back ({}); });
    e.slotTable.update ([] (SlotTable& t) { t.slotProgramCode[2] = 77; });
    e.deviceOpen = true;
    e.status = SyncStatus::upToDate;

    e.tick();   // no device attached

    EXPECT_TRUE (e.appUpdate.get().isVoid());
    EXPECT_TRUE (e.firmwareUpdate.isVoid());
    EXPECT_TRUE (e.serverMessage.get().isEmpty());
    EXPECT_TRUE (e.fillerText.get().isEmpty());
    EXPECT_TRUE (e.apiUrl.get().isEmpty());
    EXPECT_TRUE (e.viewType.get().isEmpty());
    EXPECT_EQ (e.pollingIntervalFast, 0);
    EXPECT_FALSE (e.durationChanged[1]);
    EXPECT_FALSE (e.levelChanged[2]);
    EXPECT_FALSE (e.packageChoicePending);
    EXPECT_EQ (e.slotClearMask, 0);
    EXPECT_EQ (e.status, SyncStatus::noDevice);
    EXPECT_FALSE (e.deviceOpen);
    EXPECT_EQ (e.batteryVoltage, 0.0f);
    EXPECT_EQ (e.lastRtc, -1);

    // A sync in progress ends with the device that had it.
    EXPECT_EQ (e.syncStep, 0);
    EXPECT_FALSE (e.updatesPending);
    for (auto& d : e.frequencyUpdates)
        EXPECT_TRUE (d.isVoid());
    EXPECT_FALSE (e.regimenFlag);
    EXPECT_EQ (e.regimenAdvancementDelay, 0);
    EXPECT_EQ (e.firmwareFailureCount, 0);

    // What survives: the user's links, choices and the slot table.
    EXPECT_EQ (e.helpUrl.get(), "https://help.example/");
    EXPECT_EQ (e.webAppUrl.get(), "https://app.example/");
    EXPECT_EQ (e.programChoices.get()[0].size(), 1u);
    EXPECT_EQ (e.slotTable.get().slotProgramCode[2], 77);
}

TEST_F (EngineObject, LoopTicksUntilAskedToExit)
{
    SimDevice::plug();
    startEngine ("http://127.0.0.1:9/device/");

    ASSERT_TRUE (test::waitUntil ([this] { return engine->tickCount > 5 && engine->deviceOpen; }));
    ASSERT_TRUE (test::waitUntil ([this] { return engine->status == SyncStatus::noConnection; }))
        << "a device without a reachable server";

    stopEngine();
    EXPECT_FALSE (engine->isThreadRunning());
    EXPECT_FALSE (device_is_open()) << "a stopped engine lets go of the device";
}

TEST_F (EngineObject, DestructorStopsARunningThread)
{
    SimDevice::plug();
    startEngine ("http://127.0.0.1:9/device/");
    ASSERT_TRUE (test::waitUntil ([this] { return engine->tickCount > 2 && engine->deviceOpen; }));

    engine.reset();   // the owner forgot to stop it
    EXPECT_FALSE (device_is_open()) << "the thread ran to its end and let go of the device";
    EXPECT_EQ (SimDevice::counters().closes, SimDevice::counters().opens);
}

TEST_F (EngineObject, IdentityOfTheDeviceInUse)
{
    SimDevice::setSerial ("FIRST");
    SimDevice::setUid ({ 1, 2, 3, 4 });
    SimDevice::plug();
    startEngine ("http://127.0.0.1:9/device/");
    ASSERT_TRUE (test::waitUntil ([this] { return engine->deviceOpen && engine->deviceIds.get().uidWord (0) == 1; }));

    SimDevice::unplug();
    ASSERT_TRUE (test::waitUntil ([this] { return ! engine->deviceOpen; }));

    SimDevice::setSerial ("SECOND");
    SimDevice::setUid ({ 9, 9, 9, 9 });
    SimDevice::setFirmwareVersion (1, 1, 3);
    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([this] { return engine->deviceOpen.load(); }));

    const auto ids = engine->deviceIds.get();
    EXPECT_EQ (ids.uidWord (0), 9u);
    EXPECT_STREQ ((const char*) ids.bytes, "SECOND");
    EXPECT_EQ (ids.minor(), 1);
}

TEST_F (EngineObject, AShortIdentityReplyIsNotAnotherDevice)
{
    SimDevice::plug();
    auto& e = makeEngine ("http://127.0.0.1:9/device/");
    e.tick();
    ASSERT_TRUE (e.deviceOpen);
    e.fillerText.set ("kept");

    // Cut before the UID, and cut after it but before the firmware version.
    for (int length : { 20, 60 })
    {
        SCOPED_TRACE (length);
        SimDevice::shortReplyNext (wire::cmdGetIds, length);
        e.tick();

        EXPECT_TRUE (e.deviceOpen);
        EXPECT_EQ (e.fillerText.get(), "kept") << "no device-loss reset";
        EXPECT_EQ (e.deviceIds.get().uidWord (0), 0x12ABu);
        EXPECT_EQ (e.getFirmwareVersionString(), "1.2.0");
    }
}

// The windows read the engine on their own thread while the worker runs; under ThreadSanitizer this must be quiet.
TEST_F (EngineObject, AReaderThreadSharesTheEngineSafely)
{
    SimDevice::setLogWords ({ 0xEE000000, 0x10000100, 0x70000200 });
    SimDevice::plug();
    startEngine ("http://127.0.0.1:9/device/");

    std::atomic<bool> done { false };
    std::atomic<int> reads { 0 };

    std::thread reader ([&]
    {
        while (! done)
        {
            juce::String text;
            engine->getSerialNumber (text);
            text += engine->getFirmwareVersionString();
            int lo = 0, hi = 0;
            engine->getBrightnessLimits (1, &lo, &hi);
            int32_t colours[3];
            engine->getGroupColours (colours);
            engine->getCurrentPackageName (text);
            engine->getBatteryLevel();
            engine->setBrightness (0, 3);

            text += engine->serverMessage.get() + engine->viewType.get() + engine->helpUrl.get()
                  + engine->regimenName.get() + engine->fillerText.get() + engine->webAppUrl.get();
            const auto table = engine->slotTable.get();
            const auto status = engine->statusReport.get();
            const auto choices = engine->programChoices.get();
            const auto packages = engine->packages.get();
            const auto limits = engine->limits.get();
            juce::ignoreUnused (table, status, choices, packages, limits);
            juce::ignoreUnused (engine->status.load(),
                                engine->syncStep.load(), engine->deviceOpen.load(), engine->batteryFlags.load());

            engine->windowStart = nowMs();
            engine->settingsDirty = true;
            ++reads;
        }
    });

    ASSERT_TRUE (test::waitUntil ([&] { return engine->tickCount > 30 && reads > 100; }));
    SimDevice::unplug();
    ASSERT_TRUE (test::waitUntil ([&] { return ! engine->deviceOpen; }));
    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([&] { return engine->deviceOpen.load(); }));

    done = true;
    reader.join();
}
