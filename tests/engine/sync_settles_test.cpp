// Runs that must settle: the engine on its real loop against the simulated device and the local web API, until the
// server answers its timed polls with "nochange" and the device holds what the server sent. Each case once looped
// for ever, the server sending the same update on every poll.

#include "EngineHarness.h"

#include "sim/webapi/LocalWebApi.h"

using namespace olvo;
using olvo::sim::LocalWebApi;
using olvo::sim::SimDevice;

namespace
{
    constexpr const char* deviceUid = "000012ab:00000000:ffffffff:00000001";
    constexpr int64_t settleWithinMs = 10 * 60 * 1000;     // engine time; a settled run needs well under a minute

    std::string nameOf (const sim::SimSlotEntry& entry)
    {
        const auto* name = reinterpret_cast<const char*> (entry.name.data());
        return std::string (name, strnlen (name, entry.name.size()));
    }

    class SyncSettles : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            EngineTest::SetUp();
            scenario = LocalWebApi::defaultScenario();
            scenario.polling = { 5, 5, 3600, 0, 0 };     // a timed poll every 5 s of engine time
            ASSERT_GT (server.start(), 0);
        }

        void TearDown() override
        {
            stopEngine();
            server.stop();
            EngineTest::TearDown();
        }

        /** Runs the engine until the server has answered two timed polls with "nochange"; false when that has not
            happened within ten minutes of engine time. */
        bool runUntilSettled()
        {
            server.setScenario (scenario);
            SimDevice::plug();
            startEngine (server.url());

            const auto deadline = time->clock.nowMs() + settleWithinMs;
            const int before = nochangeReplies();
            const auto settled = [this, before] { return nochangeReplies() >= before + 2; };

            test::waitUntil ([&] { return settled() || time->clock.nowMs() > deadline; }, 300000);
            return settled();
        }

        int nochangeReplies() const
        {
            const auto record = server.device (deviceUid);
            return record.has_value() ? record->nochangeReplies : 0;
        }

        int fullReplies() const
        {
            const auto record = server.device (deviceUid);
            return record.has_value() ? record->fullReplies : 0;
        }

        /** Every slot holds the file the server wants, named as the server sent it. */
        void expectSlotsAsTheServerSent()
        {
            for (int s = 0; s < 6; ++s)
            {
                SCOPED_TRACE ("slot " + std::to_string (s));
                const int code = scenario.wantedSlotCodes[(size_t) s];
                const auto entry = SimDevice::slotEntry (s);
                EXPECT_EQ (entry.code, (uint32_t) code);

                if (code == 0)
                {
                    EXPECT_EQ (nameOf (entry), "");
                    EXPECT_TRUE (test::flashHolds (wire::slotFirstBlock (s), std::vector<uint8_t> (32768, 0)));
                    continue;
                }

                EXPECT_TRUE (test::flashHolds (wire::slotFirstBlock (s), LocalWebApi::programFile (code)));

                for (auto& p : scenario.programs)
                {
                    if (p.code != code)
                        continue;
                    EXPECT_EQ (nameOf (entry), p.name.toStdString());
                    EXPECT_EQ (entry.major, p.versionMajor);
                    EXPECT_EQ (entry.minor, p.versionMinor);
                }
            }

            EXPECT_EQ (SimDevice::violationCount(), 0) << (SimDevice::violations().empty() ? "" : SimDevice::violations()[0]);
        }

        sim::Scenario scenario;
        LocalWebApi server;
    };
}

//==============================================================================
TEST_F (SyncSettles, SlotFilesGoIntoADeviceOnItsBootLoader)
{
    // An update broke off earlier: the device runs its boot loader, and the server has no firmware for it.
    scenario.wantedFirmware = {};
    SimDevice::setBootLoaderMode (true);

    ASSERT_TRUE (runUntilSettled()) << "full replies: " << fullReplies();
    expectSlotsAsTheServerSent();
    EXPECT_TRUE (SimDevice::inBootLoader());
    EXPECT_EQ (engine->status, SyncStatus::upToDate);
}

TEST_F (SyncSettles, AForcedUpdateEmptiesTheSlotsOfGroupsWithoutPrograms)
{
    // The device holds programs; the server forces an update and leaves the emptying of slots to the device.
    struct Case
    {
        const char* name;
        bool sendProgramChoices;
        std::array<int, 6> wanted;
    };

    const Case cases[] {
        { "no program choices at all: every slot", false, {} },
        { "no program in the bright group: its two slots", true, { 0, 0, 31, 32, 21, 22 } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        TearDown();
        SetUp();

        for (int s = 0; s < 6; ++s)
        {
            sim::SimSlotEntry entry;
            std::memcpy (entry.name.data(), "Old", 3);
            entry.code = (uint32_t) (40 + s);
            entry.major = 1;
            SimDevice::setSlotEntry (s, entry);
        }

        scenario.regimen.forceUpdate = true;
        scenario.emptySlotsByForcedUpdate = true;
        scenario.sendProgramChoices = c.sendProgramChoices;
        scenario.programChoices[1].clear();
        scenario.wantedSlotCodes = c.wanted;

        ASSERT_TRUE (runUntilSettled()) << "full replies: " << fullReplies();
        expectSlotsAsTheServerSent();
    }
}

TEST_F (SyncSettles, AFirmwareUpdateThatGivesUpLeavesTheSlotFilesOfItsSyncNamed)
{
    // Six slot files and a firmware image that can never be written (one byte short) in the same reply.
    const juce::MemoryBlock shortImage (32767, true);
    auto* firmware = new juce::DynamicObject();
    firmware->setProperty ("file_data", juce::Base64::toBase64 (shortImage.getData(), shortImage.getSize()));
    scenario.extraKeys.getDynamicObject()->setProperty ("firmware_updates", juce::Array<juce::var> { juce::var (firmware) });

    testing::internal::CaptureStdout();
    const bool settled = runUntilSettled();
    const auto output = testing::internal::GetCapturedStdout();

    ASSERT_TRUE (settled) << "full replies: " << fullReplies();
    EXPECT_NE (output.find ("loadFW fail #10 retrying"), std::string::npos) << "the update gave up";
    expectSlotsAsTheServerSent();
    EXPECT_LE (fullReplies(), 3) << "the slot files were sent once";
    EXPECT_EQ (engine->status, SyncStatus::upToDate);
}
