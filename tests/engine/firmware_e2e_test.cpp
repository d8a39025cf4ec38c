// The whole road of one poll that brings six slot files, a firmware image, settings and a regimen: the running
// engine against the simulated device and the local web API, with a window's thread reading the engine throughout.

#include "EngineHarness.h"

#include "sim/webapi/LocalWebApi.h"

#include <atomic>
#include <thread>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    constexpr int firmwareFirstBlock = 32;
    const sim::FirmwareVersion newFirmware { 1, 3, 0 };

    std::vector<uint8_t> newFirmwareImage()
    {
        return sim::LocalWebApi::firmwareImage (newFirmware.major, newFirmware.minor, newFirmware.tertiary);
    }

    /** A window's timer, as fast as it can go: every accessor and every shared member, while the worker runs.
        It notes each status it saw. */
    class WindowReader
    {
    public:
        explicit WindowReader (OlvoThread& e) : engine (e), thread ([this] { run(); }) {}

        ~WindowReader() { stop(); }

        void stop()
        {
            done = true;
            if (thread.joinable())
                thread.join();
        }

        /** True when the statuses seen contain these in this order. */
        bool sawInOrder (std::initializer_list<int> wanted) const
        {
            auto it = wanted.begin();
            for (int s : statuses)
                if (it != wanted.end() && s == *it)
                    ++it;
            return it == wanted.end();
        }

        std::atomic<bool> sawWaitingOrSerialWhilePresent { true };
        std::atomic<int> reads { 0 };
        std::vector<int> statuses;   // read after stop()

    private:
        void run()
        {
            while (! done)
            {
                juce::String text;
                const bool present = engine.getSerialNumber (text);
                // A device restarting for its update must not vanish from the windows.
                if (SimDevice::isPlugged() && engine.syncStep == 7 && ! present)
                    sawWaitingOrSerialWhilePresent = false;

                text += engine.getFirmwareVersionString();
                for (int g = 0; g < 3; ++g)
                {
                    int lo = 0, hi = 0;
                    engine.getBrightnessLimits (g, &lo, &hi);
                }
                int32_t colours[3];
                engine.getGroupColours (colours);
                engine.getCurrentPackageName (text);
                juce::ignoreUnused (engine.getBatteryLevel());

                text += engine.serverMessage.get() + engine.regimenName.get() + engine.currentPhaseName.get()
                      + engine.welcomeMessage.get() + engine.viewType.get() + engine.helpUrl.get()
                      + engine.webAppUrl.get() + engine.fillerText.get() + engine.apiUrl.get();
                const auto table = engine.slotTable.get();
                const auto report = engine.statusReport.get();
                const auto ids = engine.deviceIds.get();
                const auto choices = engine.programChoices.get();
                const auto packages = engine.packages.get();
                const auto limits = engine.limits.get();
                const auto app = engine.appUpdate.get();
                juce::ignoreUnused (table, report, ids, choices, packages, limits, app, engine.batteryFlags.load(),
                                    engine.lastFirmwareAttempt.load(), engine.deviceOpen.load());

                const int status = engine.status;
                if (statuses.empty() || statuses.back() != status)
                    statuses.push_back (status);

                ++reads;
                std::this_thread::yield();
            }
        }

        OlvoThread& engine;
        std::atomic<bool> done { false };
        std::thread thread;
    };

    class FirmwareEndToEnd : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            EngineTest::SetUp();
            scenario = sim::LocalWebApi::defaultScenario();
            scenario.wantedFirmware = newFirmware;
            server.setScenario (scenario);
            ASSERT_GT (server.start(), 0);
            SimDevice::setFirmwareVersion (1, 2, 0);
        }

        void TearDown() override
        {
            stopEngine();
            server.stop();
            EngineTest::TearDown();
        }

        /** Everything the server asked for is in the device, and the engine says so. */
        void expectDeviceHasWhatTheServerAsked()
        {
            EXPECT_TRUE (test::flashHolds (firmwareFirstBlock, newFirmwareImage()));
            EXPECT_EQ (SimDevice::firmwareVersion(),
                       (std::array<int, 3> { newFirmware.major, newFirmware.minor, newFirmware.tertiary }));
            EXPECT_FALSE (SimDevice::inBootLoader());

            for (int s = 0; s < 6; ++s)
            {
                SCOPED_TRACE ("slot " + std::to_string (s));
                const int code = scenario.wantedSlotCodes[(size_t) s];
                EXPECT_TRUE (test::flashHolds (wire::slotFirstBlock (s), sim::LocalWebApi::programFile (code)));

                const auto entry = SimDevice::slotEntry (s);
                EXPECT_EQ (entry.code, (uint32_t) code);
                for (auto& p : scenario.programs)
                {
                    if (p.code != code)
                        continue;
                    const auto* name = reinterpret_cast<const char*> (entry.name.data());
                    EXPECT_EQ (juce::String (name, strnlen (name, entry.name.size())), p.name);
                    EXPECT_EQ (entry.major, p.versionMajor);
                    EXPECT_EQ (entry.minor, p.versionMinor);
                }
            }

            // The settings record follows the server's run parameters (levels and durations per group).
            const auto settings = SimDevice::settings();
            const FirmwareVersion version { newFirmware.major, newFirmware.minor, newFirmware.tertiary };
            for (int g = 0; g < 3; ++g)
            {
                SCOPED_TRACE ("group " + std::to_string (g));
                EXPECT_EQ (firmware::presentLevel (version, settings.data(), g), scenario.runParameters[(size_t) g].brightness);
                EXPECT_EQ (firmware::presentDuration (version, settings.data(), g), scenario.runParameters[(size_t) g].duration);
            }

            EXPECT_EQ (engine->status, SyncStatus::upToDate);
            EXPECT_EQ (engine->getFirmwareVersionString(), "1.3.0");
            EXPECT_EQ (engine->regimenName.get(), scenario.regimen.name);
            EXPECT_TRUE (engine->serverMessage.get().isEmpty());
            EXPECT_EQ (engine->firmwareFailureCount, 0);
        }

        /** Up to date with the new firmware running and every slot holding what the server wants. */
        bool finished() const
        {
            if (engine->status != SyncStatus::upToDate || engine->syncStep != 0 || SimDevice::inBootLoader()
                || SimDevice::firmwareVersion()[1] != newFirmware.minor)
                return false;

            for (int s = 0; s < 6; ++s)
                if (SimDevice::slotEntry (s).code != (uint32_t) scenario.wantedSlotCodes[(size_t) s])
                    return false;
            return true;
        }

        sim::Scenario scenario;
        sim::LocalWebApi server;
    };
}

//==============================================================================
TEST_F (FirmwareEndToEnd, OnePollBringsSlotsFirmwareSettingsAndRegimen)
{
    startEngine (server.url());
    WindowReader reader (*engine);

    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([this] { return finished(); }));
    reader.stop();

    expectDeviceHasWhatTheServerAsked();
    // "Connecting" lasts two ticks, too short for a sampling reader to be sure of seeing it.
    EXPECT_TRUE (reader.sawInOrder ({ SyncStatus::updating, SyncStatus::upToDate }));
    EXPECT_EQ (SimDevice::counters().bootLoaderRestarts, 1) << "the firmware restart happened";
    EXPECT_TRUE (reader.sawWaitingOrSerialWhilePresent);
    EXPECT_GT (reader.reads, 100);
    EXPECT_EQ (SimDevice::violationCount(), 0) << (SimDevice::violations().empty() ? "" : SimDevice::violations()[0]);
}

TEST_F (FirmwareEndToEnd, DevicePulledOutDuringTheFirmwareComesBackAndCompletes)
{
    startEngine (server.url());
    WindowReader reader (*engine);

    // The slot files go first, then the firmware on the boot loader: pulled out a few blocks into the image. The
    // device pulls itself out, since the boot loader's stay is too short for a test thread to be sure to see it.
    SimDevice::unplugAfterBlock (firmwareFirstBlock + 4);
    SimDevice::plug();
    ASSERT_TRUE (test::waitUntil ([] { return ! SimDevice::isPlugged(); }));

    const int written = test::blocksHolding (firmwareFirstBlock, newFirmwareImage());
    EXPECT_EQ (written, 5) << "pulled out in the middle of the image";

    // The worker writes its own descriptor before it clears deviceOpen and not again until a device returns, so it
    // may be looked at here.
    ASSERT_TRUE (test::waitUntil ([this] { return ! engine->deviceOpen; }));
    EXPECT_TRUE (engine->firmwareUpdate.isVoid()) << "the update belonged to the device that went";
    EXPECT_EQ (engine->firmwareFailureCount, 0);

    // It comes back on its boot loader, reporting no firmware: the server offers the image again.
    SimDevice::plug();
    EXPECT_TRUE (SimDevice::inBootLoader());
    ASSERT_TRUE (test::waitUntil ([this] { return finished(); }));
    reader.stop();

    expectDeviceHasWhatTheServerAsked();
    // The loss itself was waited for above; "Connecting" lasts two ticks and a sampling reader may miss it.
    EXPECT_TRUE (reader.sawInOrder ({ SyncStatus::updating, SyncStatus::upToDate }));
    EXPECT_EQ (SimDevice::violationCount(), 0) << (SimDevice::violations().empty() ? "" : SimDevice::violations()[0]);
}
