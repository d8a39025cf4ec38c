// The poll request built against the simulated device: its keys and their order, the slots by firmware, the
// requests it consumes, and the run values it reports.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    std::array<uint8_t, 32> nameBytes (const char* text)
    {
        std::array<uint8_t, 32> name {};
        std::memcpy (name.data(), text, std::min<size_t> (32, std::strlen (text)));
        return name;
    }

    /** Three consecutive log words: ring marker, a treatment at device time 500, a stop at 900. */
    void putShortLog (OlvoThread& e)
    {
        e.logWords[0] = 0xEE000000u;
        e.logWords[1] = 0x10000000u | 500u;
        e.logWords[2] = 0x70000000u | 900u;
        e.logCount = 3;
    }

    class PollRequest : public test::EngineTest
    {
    protected:
        /** Plugs a device with the given firmware and lets the engine identify it and read its status. */
        OlvoThread& engineWithDevice (int major = 1, int minor = 2, int tertiary = 0,
                                      std::array<uint8_t, 32> settings = {})
        {
            SimDevice::setFirmwareVersion (major, minor, tertiary);
            SimDevice::setSettings (settings);
            SimDevice::plug();

            auto& e = makeEngine();
            EXPECT_EQ (e.checkDevice(), 1);
            EXPECT_TRUE (e.readStatus());
            e.deviceOpen = true;
            return e;
        }

        /** A new engine and an unplugged device again, for the next case of a table. */
        void freshStart()
        {
            TearDown();
            SetUp();
        }

        juce::var build (OlvoThread& e, bool process, bool allowNochange = false)
        {
            juce::String uid;
            auto request = e.buildRequest (process, allowNochange, uid);
            EXPECT_EQ (uid, request["UID"].toString());
            return request;
        }
    };
}

//==============================================================================
TEST_F (PollRequest, KeysAppearInTheirOrderForEachCallShape)
{
    struct Case
    {
        const char* name;
        bool process, allowNochange, everythingPending;
        juce::StringArray keys;
    };

    const Case cases[] {
        { "forced poll, nothing pending", true, false, false,
          { "UID", "slots", "firmware", "app", "regimen_advancement_delay" } },
        { "timed poll", true, true, false,
          { "UID", "allow_nochange", "slots", "firmware", "app", "regimen_advancement_delay" } },
        { "forced poll, every request pending", true, false, true,
          { "UID", "slots", "firmware", "app", "update_program_choices", "update_package_choice",
            "app_slot_program_values", "regimen_advancement_delay" } },
        { "confirmation poll, every request pending", false, false, true,
          { "UID", "slots", "firmware", "app", "logs", "app_slot_program_values", "regimen_advancement_delay" } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        auto& e = engineWithDevice();

        if (c.everythingPending)
        {
            e.packages.set ({ PackageInfo { 41, 0, {}, {}, {}, {} } });
            e.updateProgramChoice[1] = true;
            e.packageChoicePending = true;
            e.regimenAdvancementDelay = 7;
            e.sendSlotValues = 1;
            e.lastRtc = 0;
            putShortLog (e);
        }

        const auto request = build (e, c.process, c.allowNochange);
        EXPECT_EQ (test::keysOf (request), c.keys);
        if (c.allowNochange)
        {
            EXPECT_TRUE (request["allow_nochange"].isBool() && (bool) request["allow_nochange"]);
        }

        freshStart();
    }
}

TEST_F (PollRequest, IdentityFirmwareAndAppTexts)
{
    SimDevice::setUid ({ 0x12AB, 0, 0xFFFFFFFF, 1 });
    auto& e = engineWithDevice (1, 2, 300);
    const auto request = build (e, true);

    EXPECT_EQ (request["UID"].toString(), "000012ab:00000000:ffffffff:00000001");

    const auto fw = request["firmware"];
    EXPECT_EQ (test::keysOf (fw), juce::StringArray ({ "version_major", "version_minor", "version_tertiary" }));
    EXPECT_TRUE (fw["version_major"].isString());
    EXPECT_EQ (fw["version_major"].toString(), "1");
    EXPECT_EQ (fw["version_minor"].toString(), "2");
    EXPECT_EQ (fw["version_tertiary"].toString(), "300");

    const auto app = request["app"];
    EXPECT_EQ (test::keysOf (app),
               juce::StringArray ({ "operating_system", "version_major", "version_minor", "version_tertiary" }));
    EXPECT_EQ (app["operating_system"].toString(), "MAC");
    EXPECT_EQ (app["version_major"].toString(), "1");
    EXPECT_EQ (app["version_minor"].toString(), "2");
    EXPECT_EQ (app["version_tertiary"].toString(), "8");
    EXPECT_TRUE (app["version_tertiary"].isString());

    EXPECT_EQ (request["regimen_advancement_delay"].toString(), "-1");
    EXPECT_TRUE (request["regimen_advancement_delay"].isString());
}

TEST_F (PollRequest, SlotKeysFollowTheFirmware)
{
    struct Case
    {
        int major, minor, tertiary;
        juce::StringArray keys;
    };

    const Case cases[] {
        { 1, 2, 0, { "1", "2", "7", "8", "5", "6" } },
        { 2, 0, 0, { "1", "2", "7", "8", "5", "6" } },
        { 1, 1, 9, { "1", "2", "3", "4", "5", "6" } },
        { 1, 0, 14, { "1", "2", "3", "4", "5", "6" } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.major) + "." + juce::String (c.minor) + "." + juce::String (c.tertiary));
        auto& e = engineWithDevice (c.major, c.minor, c.tertiary);
        EXPECT_EQ (test::keysOf (build (e, true)["slots"]), c.keys);
        freshStart();
    }
}

TEST_F (PollRequest, SlotEntriesAreReadFromTheDeviceIntoTheTable)
{
    sim::SimSlotEntry full;
    std::memset (full.name.data(), 'A', full.name.size());   // 32 letters, no terminator on the device
    full.code = 0xFFFFFFFFu;
    full.major = 3;
    full.minor = 14;
    SimDevice::setSlotEntry (0, full);

    sim::SimSlotEntry named;
    named.name = nameBytes ("Calm");
    named.code = 1234;
    named.major = 1;
    named.minor = 2;
    SimDevice::setSlotEntry (2, named);

    auto& e = engineWithDevice (1, 2, 0);
    const auto slots = build (e, true)["slots"];

    const auto first = slots["1"];
    EXPECT_EQ (test::keysOf (first), juce::StringArray ({ "program_code", "program_name", "version_major", "version_minor" }));
    EXPECT_EQ (first["program_code"].toString(), "-1");
    EXPECT_EQ (first["program_name"].toString(), juce::String::repeatedString ("A", 31)) << "byte 31 comes back zero";
    EXPECT_EQ (first["version_major"].toString(), "3");
    EXPECT_EQ (first["version_minor"].toString(), "14");

    const auto third = slots["7"];
    EXPECT_EQ (third["program_code"].toString(), "1234");
    EXPECT_EQ (third["program_name"].toString(), "Calm");
    EXPECT_TRUE (third["program_code"].isString());

    const auto table = e.slotTable.get();
    EXPECT_EQ (table.slotProgramCode[2], 1234);
    EXPECT_EQ (table.slot (2).nameText(), "Calm");
    EXPECT_EQ (table.slotVersionMinor[0], 14);
    EXPECT_EQ (table.slot (0).nameText().length(), 31);
}

TEST_F (PollRequest, ASlotThatDoesNotAnswerIsLeftOutAndKeepsItsTableEntry)
{
    auto& e = engineWithDevice();
    e.slotTable.update ([] (SlotTable& t) { t.slotProgramCode[0] = 77; });

    SimDevice::lateReplyNext (wire::cmdGetFilename, 1000);
    const auto slots = build (e, true)["slots"];

    EXPECT_FALSE (slots.hasProperty ("1"));
    EXPECT_TRUE (slots.hasProperty ("2"));
    EXPECT_EQ (e.slotTable.get().slotProgramCode[0], 77);
}

TEST_F (PollRequest, SlotRepliesThatComeAfterTheirWaitAreNeverTakenForTheNextSlot)
{
    for (int s = 0; s < 6; ++s)
    {
        sim::SimSlotEntry entry;
        entry.name = nameBytes (("Program " + std::to_string (s)).c_str());
        entry.code = (uint32_t) (10 + s);
        SimDevice::setSlotEntry (s, entry);
    }

    auto& e = engineWithDevice (1, 1, 0);
    e.slotTable.update ([] (SlotTable& t)
    {
        for (int s = 0; s < 6; ++s)
            t.slotProgramCode[s] = 10 + s;
    });

    // Every slot answers, each time after the wait for it has ended.
    SimDevice::delayReplies (wire::cmdGetFilename, 300);
    const auto slots = build (e, true)["slots"];

    for (int s = 0; s < 6; ++s)
    {
        const auto entry = slots[juce::Identifier (juce::String (s + 1))];
        if (entry.isObject())
        {
            EXPECT_EQ (entry["program_code"].toString(), juce::String (10 + s)) << "slot " << s;
        }
        EXPECT_EQ (e.slotTable.get().slotProgramCode[s], 10 + s) << "slot " << s;
    }

    // Once the device answers in time again, every slot is read as it is.
    SimDevice::delayReplies (wire::cmdGetFilename, 0);
    const auto again = build (e, true)["slots"];
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ (again[juce::Identifier (juce::String (s + 1))]["program_name"].toString(), "Program " + juce::String (s));
}

TEST_F (PollRequest, WithoutADeviceSlotsAreEmptyAndRunValuesHaveOnlyDurations)
{
    auto& e = makeEngine();
    e.sendSlotValues = 1;

    const auto request = build (e, true);
    EXPECT_TRUE (test::keysOf (request["slots"]).isEmpty());
    EXPECT_TRUE (request["slots"].getDynamicObject() != nullptr);

    const auto values = request["app_slot_program_values"];
    EXPECT_EQ (test::keysOf (values), juce::StringArray ({ "purple", "blue", "orange" }));
    for (auto* key : { "purple", "blue", "orange" })
        EXPECT_EQ (test::keysOf (values[key]), juce::StringArray ({ "duration" })) << key;
}

//==============================================================================
TEST_F (PollRequest, AForcedPollConsumesTheUsersRequests)
{
    auto& e = engineWithDevice();
    e.packages.set ({ PackageInfo { 41, 0, {}, {}, {}, {} }, PackageInfo { 42, 1, {}, {}, {}, {} } });
    e.chosenConfigId[0] = 11;
    e.chosenConfigId[1] = 12;
    e.chosenConfigId[2] = 13;
    e.updateProgramChoice[0] = true;
    e.updateProgramChoice[2] = true;
    e.chosenPackageIndex = 1;
    e.packageChoicePending = true;
    e.sendSlotValues = 2;

    const auto request = build (e, true);

    const auto choices = request["update_program_choices"];
    EXPECT_EQ (test::keysOf (choices), juce::StringArray ({ "multi", "orange" }));
    EXPECT_TRUE (choices["multi"].isInt());
    EXPECT_EQ ((int) choices["multi"], 11);
    EXPECT_EQ ((int) choices["orange"], 13);
    EXPECT_TRUE (request["update_package_choice"].isInt());
    EXPECT_EQ ((int) request["update_package_choice"], 42);
    EXPECT_TRUE (request.hasProperty ("app_slot_program_values"));

    for (auto& flag : e.updateProgramChoice)
        EXPECT_FALSE (flag);
    EXPECT_FALSE (e.packageChoicePending);
    EXPECT_EQ (e.sendSlotValues, 0);

    // Consumed means sent once: the next request carries none of them.
    const auto next = build (e, true);
    EXPECT_FALSE (next.hasProperty ("update_program_choices"));
    EXPECT_FALSE (next.hasProperty ("update_package_choice"));
    EXPECT_FALSE (next.hasProperty ("app_slot_program_values"));
}

TEST_F (PollRequest, TheAdvancementDecisionIsSentOnce)
{
    struct Case { int stored; const char* sent; int left; };
    const Case cases[] { { -1, "0", 0 }, { 14, "14", 0 }, { 0, "-1", 0 }, { -5, "0", 0 } };

    auto& e = engineWithDevice();
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.stored);
        e.regimenAdvancementDelay = c.stored;
        EXPECT_EQ (build (e, true)["regimen_advancement_delay"].toString(), c.sent);
        EXPECT_EQ (e.regimenAdvancementDelay, c.left);
    }
}

TEST_F (PollRequest, APackageIndexOutsideTheListDropsTheChoice)
{
    auto& e = engineWithDevice();
    e.packages.set ({ PackageInfo { 41, 0, {}, {}, {}, {} }, PackageInfo { 42, 0, {}, {}, {}, {} } });

    for (int index : { 2, 3, -1 })
    {
        SCOPED_TRACE (index);
        e.chosenPackageIndex = index;
        e.packageChoicePending = true;
        EXPECT_FALSE (build (e, true).hasProperty ("update_package_choice"));
        EXPECT_FALSE (e.packageChoicePending);
    }
}

TEST_F (PollRequest, TheConfirmationPollLeavesChoicesForTheNextForcedPoll)
{
    auto& e = engineWithDevice();
    e.packages.set ({ PackageInfo { 41, 0, {}, {}, {}, {} } });
    e.updateProgramChoice[1] = true;
    e.packageChoicePending = true;
    e.regimenAdvancementDelay = 14;

    const auto request = build (e, false);
    EXPECT_FALSE (request.hasProperty ("update_program_choices"));
    EXPECT_FALSE (request.hasProperty ("update_package_choice"));
    EXPECT_EQ (request["regimen_advancement_delay"].toString(), "-1");
    EXPECT_TRUE (e.updateProgramChoice[1]);
    EXPECT_TRUE (e.packageChoicePending);
    EXPECT_EQ (e.regimenAdvancementDelay, 14);
}

TEST_F (PollRequest, TheUsageLogGoesOnlyWithTheConfirmationPoll)
{
    auto& e = engineWithDevice();
    putShortLog (e);

    e.lastRtc = 0;
    EXPECT_FALSE (build (e, true).hasProperty ("logs"));
    EXPECT_EQ (e.lastRtc, 0) << "a forced poll leaves the threshold alone";

    const auto request = build (e, false);
    ASSERT_TRUE (request.hasProperty ("logs"));
    EXPECT_EQ ((int) request["logs"]["1"]["rtc"], 500);
    EXPECT_EQ ((int) request["logs"]["2"]["rtc"], 900);
    EXPECT_EQ (e.lastRtc, -1);

    // Nothing at or after the threshold: no "logs", and the threshold is used up all the same.
    e.lastRtc = 1000;
    EXPECT_FALSE (build (e, false).hasProperty ("logs"));
    EXPECT_EQ (e.lastRtc, -1);

    EXPECT_FALSE (build (e, false).hasProperty ("logs")) << "no threshold, no upload";
}

//==============================================================================
TEST_F (PollRequest, RunValuesFollowTheFirmwaresLevelAndDurationCoding)
{
    struct Case
    {
        const char* name;
        int major, minor, tertiary;
        uint8_t purpleLevel, blueLevel, orangeLevel;
        int purple, blue, orange;                 // levels sent
        int orangeDuration;
    };

    // Every case has the durations purple 14 + 60 * 1 = 74, blue 20 and orange 5 + 60 * 2 = 125 in its record;
    // orange reports 125 only on firmware that keeps an orange duration.
    const Case cases[] {
        { "1.2.0 plain numbers",  1, 2, 0,  0x07, 0x03, 0x09, 7, 3, 9, 125 },
        { "1.2.0 bit patterns",   1, 2, 0,  0x40, 0xFF, 0x20, 2, 4, 1, 125 },
        { "1.0.12 blue raised",   1, 0, 12, 0x80, 0x40, 0x40, 3, 6, 2, 0 },
        { "1.0.13 blue as is",    1, 0, 13, 0x21, 0x40, 0x40, 2, 2, 2, 0 },
        { "1.0.10 blue raised",   1, 0, 10, 0x20, 0x20, 0x00, 1, 5, 2, 0 },
        { "1.0.14 orange fixed",  1, 0, 14, 0x41, 0x41, 0x41, 3, 7, 2, 9999 },
        { "1.1.5 orange fixed",   1, 1, 5,  0x05, 0x06, 0x07, 5, 6, 2, 9999 },
        { "2.0.0 numbers",        2, 0, 0,  0x0A, 0x01, 0x02, 10, 1, 2, 125 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);

        std::array<uint8_t, 32> settings {};
        settings[17] = c.purpleLevel;
        settings[2] = c.blueLevel;
        settings[18] = c.orangeLevel;
        settings[14] = 14;
        settings[15] = 1;
        settings[12] = 20;
        settings[19] = 5;
        settings[20] = 2;

        auto& e = engineWithDevice (c.major, c.minor, c.tertiary, settings);
        e.sendSlotValues = 1;
        const auto values = build (e, true)["app_slot_program_values"];

        EXPECT_EQ (test::keysOf (values["purple"]), juce::StringArray ({ "brightness", "duration" }));
        EXPECT_EQ ((int) values["purple"]["brightness"], c.purple);
        EXPECT_EQ ((int) values["blue"]["brightness"], c.blue);
        EXPECT_EQ ((int) values["orange"]["brightness"], c.orange);
        EXPECT_EQ ((int) values["purple"]["duration"], 74);
        EXPECT_EQ ((int) values["blue"]["duration"], 20);
        EXPECT_EQ ((int) values["orange"]["duration"], c.orangeDuration);

        freshStart();
    }
}
