// Reply processing on hand-made reply bodies: the result codes, what each key does, and hostile values.

#include "EngineHarness.h"

#include "engine/WebApiTransport.h"

#include <climits>

using namespace olvo;

namespace
{
    constexpr const char* uid = "000012ab:00000000:ffffffff:00000001";

    class Reply : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            EngineTest::SetUp();
            makeEngine();
            setFirmware (1, 2, 0);
        }

        void setFirmware (int major, int minor, int tertiary)
        {
            engine->deviceIds.update ([=] (DeviceIds& ids)
            {
                ids.bytes[wire::idsMajor] = (uint8_t) major;
                ids.bytes[wire::idsMinor] = (uint8_t) minor;
                ids.bytes[wire::idsTertiary] = (uint8_t) (tertiary >> 8);
                ids.bytes[wire::idsTertiary + 1] = (uint8_t) tertiary;
            });
        }

        /** Processes a reply body whose object gets the request's "UID" added in front of its keys. */
        int apply (const juce::String& keys, bool process = true)
        {
            const auto body = juce::String ("{ \"UID\": \"") + uid + "\"" + (keys.isEmpty() ? "" : ", ") + keys + " }";
            return webapi::handleReplyText (*engine, body, uid, process);
        }

        /** Processes a reply body as it stands. */
        int applyRaw (const juce::String& body, bool process = true)
        {
            return webapi::handleReplyText (*engine, body, uid, process);
        }

        static juce::var descriptor (int code)
        {
            return juce::JSON::parse ("{ \"program_code\": \"" + juce::String (code) + "\" }");
        }
    };
}

//==============================================================================
TEST_F (Reply, ResultCodesAndTheServerMessage)
{
    struct Case
    {
        const char* name;
        juce::String body;
        int result;
        const char* message;
    };

    const Case cases[] {
        { "full", juce::String ("{ \"UID\": \"") + uid + "\" }", 1, "" },
        { "nochange", R"({ "status": "nochange" })", -4, "" },
        { "error", R"({ "status": "error", "message": "Device blocked", "UID": "x" })", -2, "Device blocked" },
        { "error without message", R"({ "status": "error" })", -2, "" },
        { "warn object, no UID", R"({ "warn": { "message": "Unknown device" } })", -42, "Unknown device" },
        { "warn not an object", R"({ "warn": "Unknown device" })", -42, "" },
        { "warn array", R"({ "warn": [ { "message": "m" } ] })", -42, "" },
        { "UID in upper case", R"({ "UID": "000012AB:00000000:FFFFFFFF:00000001" })", -3, "UUID Mismatch" },
        { "no UID", R"({ "last_rtc": 5 })", -3, "UUID Mismatch" },
        { "number as UID", R"({ "UID": 12 })", -3, "UUID Mismatch" },
        { "status in other case", juce::String ("{ \"status\": \"NOCHANGE\", \"UID\": \"") + uid + "\" }", 1, "" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        engine->serverMessage.set ("left from before");
        EXPECT_EQ (applyRaw (c.body), c.result);
        EXPECT_EQ (engine->serverMessage.get(), c.message);
    }

    EXPECT_EQ (apply ({}, false), 0) << "a confirmation poll";
}

TEST_F (Reply, NochangeTouchesNothing)
{
    engine->lastPollAt = 120;
    engine->pollingIntervalFast = 60;
    engine->webAppUrl.set ("https://app.example/");
    engine->programChoices.update ([] (auto& lists) { lists[0].push_back ({}); });

    testing::internal::CaptureStdout();
    EXPECT_EQ (applyRaw (R"({ "status": "nochange", "web_app_url": "https://other.example/" })"), -4);
    EXPECT_EQ (testing::internal::GetCapturedStdout(), "Poll returned nochange 120\n");
    EXPECT_EQ (engine->lastPollAt, 120);
    EXPECT_EQ (engine->pollingIntervalFast, 60);
    EXPECT_EQ (engine->webAppUrl.get(), "https://app.example/");
    EXPECT_EQ (engine->programChoices.get()[0].size(), 1u);
}

TEST_F (Reply, WebAppUrlAndAppUpdateAreReplacedEvenByFailingReplies)
{
    engine->webAppUrl.set ("https://app.example/");
    engine->appUpdate.set (juce::JSON::parse (R"({ "version_major": "9" })"));

    EXPECT_EQ (applyRaw (R"({ "status": "error", "message": "m" })"), -2);
    EXPECT_TRUE (engine->webAppUrl.get().isEmpty());
    EXPECT_TRUE (engine->appUpdate.get().isVoid());

    EXPECT_EQ (applyRaw (R"({ "web_app_url": "https://app.example/b", "UID": "other" })"), -3);
    EXPECT_EQ (engine->webAppUrl.get(), "https://app.example/b");
}

TEST_F (Reply, TextThatIsNotAnObjectKeepsWhatEarlierRepliesLeft)
{
    engine->webAppUrl.set ("https://app.example/");
    engine->appUpdate.set (juce::JSON::parse (R"({ "version_major": "9" })"));

    for (auto* body : { "<html>502 Bad Gateway</html>", "[ 1, 2 ]", "\"text\"", "12", "{ broken",
                        "not json at all" })
    {
        SCOPED_TRACE (body);
        EXPECT_EQ (applyRaw (body), -3);
        EXPECT_EQ (engine->serverMessage.get(), "UUID Mismatch");
        EXPECT_EQ (engine->webAppUrl.get(), "https://app.example/");
        EXPECT_EQ ((int) engine->appUpdate.get()["version_major"], 9);
    }
}

TEST_F (Reply, TextBeforeTheObjectIsDropped)
{
    EXPECT_EQ (applyRaw (juce::String ("garbage\r\n{ \"UID\": \"") + uid + "\", \"help_url\": \"https://h.example/\" }"), 1);
    EXPECT_EQ (engine->helpUrl.get(), "https://h.example/");
}

TEST_F (Reply, DeepNestingIsNotParsed)
{
    EXPECT_EQ (applyRaw (juce::String::repeatedString ("[", 200000)), -3);
    EXPECT_EQ (applyRaw ("{ \"a\": " + juce::String::repeatedString ("[", 100000) + " }"), -3);

    EXPECT_EQ (applyRaw ("{ \"a\": \"'\", \"b\": " + juce::String::repeatedString ("[", 400000) + " }"), -3);

    // Nesting as deep as a real reply gets is fine.
    EXPECT_EQ (apply (R"("limits": { "multi": { "brightness": { "max": 6 } } })"), 1);
    EXPECT_EQ (engine->limits.get()[0].brightnessMax, 6);
}

TEST_F (Reply, FlagsAndThresholdsReadFromTextDoNotOverflow)
{
    apply (R"("regimen": { "force_update": "-2147483648", "ready_to_advance": "99999999999999999999",
                          "just_advanced_phase": " yes " },
              "weak_battery_threshold": "1e99999999999")");
    EXPECT_TRUE (engine->forceUpdate);
    EXPECT_TRUE (engine->readyToAdvance);
    EXPECT_TRUE (engine->regimenFlag);
    EXPECT_FLOAT_EQ (engine->weakBatteryThreshold, 0.25f);

    apply (R"("regimen": { "force_update": "0", "ready_to_advance": "no" }, "weak_battery_threshold": " +0.5V")");
    EXPECT_FALSE (engine->forceUpdate);
    EXPECT_FALSE (engine->readyToAdvance);
    EXPECT_FLOAT_EQ (engine->weakBatteryThreshold, 0.5f);
}

//==============================================================================
TEST_F (Reply, LastRtc)
{
    struct Case { const char* keys; int lastRtc; };
    const Case cases[] {
        { "", -1 }, { R"("last_rtc": 42)", 42 }, { R"("last_rtc": "77")", 77 }, { R"("last_rtc": 1e20)", INT_MAX },
        { R"("last_rtc": -5)", -5 }, { R"("last_rtc": 12.9)", 12 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.keys);
        engine->lastRtc = 3;
        EXPECT_EQ (apply (c.keys), 1);
        EXPECT_EQ (engine->lastRtc, c.lastRtc);
    }
}

TEST_F (Reply, ProgramChoicesAreRebuiltFromTheReply)
{
    engine->programChoices.update ([] (auto& lists) { lists[2].push_back ({}); });

    apply (R"("program_choices": {
        "multi": [ { "config_id": 12, "name": "Calm", "description": "D", "freq_files": "101,102" },
                   { "config_id": "34", "freq_files": "7" },
                   { "config_id": "x", "freq_files": "" },
                   { "config_id": 99999999999, "freq_files": " 5 , 6 ,7" },
                   "not an object" ],
        "bright": [ { "config_id": 1, "freq_files": "\"1,2\",3" } ],
        "orange": { "config_id": 5 } })");

    const auto lists = engine->programChoices.get();
    ASSERT_EQ (lists[0].size(), 5u);

    struct Expected { int configId; int f0, f1; };
    const Expected expected[] { { 12, 101, 102 }, { 34, 7, -1 }, { 0, -1, -1 }, { INT_MAX, 5, 6 }, { 0, -1, -1 } };
    for (size_t i = 0; i < 5; ++i)
    {
        SCOPED_TRACE (i);
        EXPECT_EQ (lists[0][i].configId, expected[i].configId);
        EXPECT_EQ (lists[0][i].freqFiles[0], expected[i].f0);
        EXPECT_EQ (lists[0][i].freqFiles[1], expected[i].f1);
    }
    EXPECT_EQ (lists[0][0].name, "Calm");
    EXPECT_EQ (lists[0][0].description, "D");

    ASSERT_EQ (lists[1].size(), 1u);
    EXPECT_EQ (lists[1][0].freqFiles[0], 0) << "a quoted part is one token";
    EXPECT_EQ (lists[1][0].freqFiles[1], 3);
    EXPECT_TRUE (lists[2].empty()) << "not an array: no choices, the old ones are gone";
}

TEST_F (Reply, LimitsStartFromTheDefaultsEachReply)
{
    apply (R"("limits": { "multi": { "brightness": { "max": 6 } },
                         "bright": { "brightness": [ 1, 2 ], "duration": { "max": 30, "min": 2, "start": 1e12 } },
                         "orange": [ { "brightness": { "max": 1 } } ] })");

    const auto l = engine->limits.get();
    EXPECT_EQ (l[0].brightnessMax, 6);
    EXPECT_EQ (l[0].brightnessMin, 0);
    EXPECT_EQ (l[0].brightnessStart, 0);
    EXPECT_EQ (l[0].durationMin, 1);
    EXPECT_EQ (l[0].durationMax, 9999);
    EXPECT_EQ (l[0].durationStart, 30);

    EXPECT_EQ (l[1].brightnessMax, 10) << "an array is not a brightness object";
    EXPECT_EQ (l[1].durationMax, 30);
    EXPECT_EQ (l[1].durationMin, 2);
    EXPECT_EQ (l[1].durationStart, INT_MAX);

    EXPECT_EQ (l[2].brightnessMax, 10) << "an array is not a group object";

    apply ({});
    EXPECT_EQ (engine->limits.get()[0].brightnessMax, 10);
    EXPECT_EQ (engine->limits.get()[1].durationMax, 9999);
}

TEST_F (Reply, RunParametersOrARequestForTheDevicesValues)
{
    apply (R"("program_run_parameters": { "purple": [ { "brightness": 4, "duration": 20 }, { "brightness": 9 } ],
                                          "blue": [], "orange": { "brightness": 3 } })");
    EXPECT_EQ (engine->runParameters[0].brightness, 4);
    EXPECT_EQ (engine->runParameters[0].duration, 20);
    EXPECT_EQ (engine->runParameters[1].brightness, 0);
    EXPECT_EQ (engine->runParameters[2].brightness, 0);
    EXPECT_EQ (engine->sendSlotValues, 0);

    struct Case { const char* keys; int before, after; };
    const Case cases[] {
        { "", 0, 1 },
        { R"("program_run_parameters": [ 1 ])", 0, 1 },
        { R"("program_run_parameters": "none")", 0, 1 },
        { "", 2, 2 },
        { R"("program_run_parameters": {})", 0, 0 },
    };
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.keys);
        engine->sendSlotValues = c.before;
        apply (c.keys);
        EXPECT_EQ (engine->sendSlotValues, c.after);
        EXPECT_EQ (engine->runParameters[0].brightness, 0) << "cleared by every reply";
    }
}

TEST_F (Reply, PollingScheduleAndTheWindow)
{
    const auto before = engine->windowStart.load();
    time->clock.advance (5000);

    engine->lastPollAt = 99;
    testing::internal::CaptureStdout();
    apply (R"("polling": { "polling_interval_fast": 60, "polling_interval_slow": 3600, "fast_polling_duration": 600,
                           "slow_polling_duration": 1e15, "reset_polling_window": 0 })");
    const auto output = testing::internal::GetCapturedStdout();
    EXPECT_NE (output.find ("Polling fast: 60,600 slow: 3600," + std::to_string (INT_MAX) + " rw: 0\n"), std::string::npos)
        << output;
    EXPECT_EQ (engine->pollingIntervalFast, 60);
    EXPECT_EQ (engine->pollingIntervalSlow, 3600);
    EXPECT_EQ (engine->fastPollingDuration, 600);
    EXPECT_EQ (engine->slowPollingDuration, INT_MAX);
    EXPECT_EQ (engine->lastPollAt, 5) << "the schedule counts on from this exchange, 5 s into the window";
    EXPECT_EQ (engine->windowStart.load(), before);

    apply (R"("polling": { "polling_interval_fast": -60, "reset_polling_window": 1 })");
    EXPECT_EQ (engine->pollingIntervalFast, -60) << "stored as given";
    EXPECT_EQ (engine->windowStart.load(), nowMs());
    EXPECT_EQ (engine->lastPollAt, 0) << "a new window starts its schedule afresh";

    for (auto* keys : { "", R"("polling": [ { "polling_interval_fast": 60 } ])" })
    {
        SCOPED_TRACE (keys);
        engine->pollingIntervalFast = 60;
        apply (keys);
        EXPECT_EQ (engine->pollingIntervalFast, 0);
        EXPECT_EQ (engine->slowPollingDuration, 0);
    }
}

TEST_F (Reply, TextsAndLinks)
{
    engine->fillerText.set ("old");
    apply (R"("filler": { "filler_link": "https://f.example/", "filler_image": "http://img.example/a.png",
                          "filler_text": "Buy" },
              "help_url": "https://help.example/", "help_button_tooltip": "Help!", "view_type": "link",
              "webapp_link_text": "Open", "web_app_url": "https://app.example/",
              "treatment_type": { "a": 1 })");

    EXPECT_EQ (engine->fillerLink.get(), "https://f.example/");
    EXPECT_EQ (engine->fillerImage.get(), "http://img.example/a.png");
    EXPECT_EQ (engine->fillerText.get(), "Buy");
    EXPECT_EQ (engine->helpUrl.get(), "https://help.example/");
    EXPECT_EQ (engine->helpButtonTooltip.get(), "Help!");
    EXPECT_EQ (engine->viewType.get(), "link");
    EXPECT_EQ (engine->webappLinkText.get(), "Open");
    EXPECT_EQ (engine->webAppUrl.get(), "https://app.example/");
    EXPECT_EQ ((int) engine->treatmentType["a"], 1);

    // Every reply rebuilds them: absent keys empty them, the filler is emptied before it is read.
    apply (R"("filler": [ { "filler_text": "x" } ])");
    EXPECT_TRUE (engine->fillerText.get().isEmpty());
    EXPECT_TRUE (engine->helpUrl.get().isEmpty());
    EXPECT_TRUE (engine->treatmentType.isVoid());

    engine->defaultViewType.set ("webview");
    apply (R"("view_type": "link")");
    EXPECT_EQ (engine->viewType.get(), "webview") << "the start option wins";
}

TEST_F (Reply, UnsafeLinksAreStoredEmpty)
{
    const char* unsafe[] { "file:///etc/passwd", "javascript:alert(1)", "https://x.example/$(reboot)",
                           "https://x.example/`id`", "https://x.example/a b", "/relative/path", "https://",
                           "https://x.example/\\\\share", "https://x.example/\"onload",
                           "http://host/help;touch</dev/null>/tmp/x", "http://host/app|touch>/tmp/y" };

    for (auto* link : unsafe)
    {
        SCOPED_TRACE (link);
        const auto quoted = juce::JSON::toString (juce::var (link));
        apply ("\"help_url\": " + quoted + ", \"web_app_url\": " + quoted + ", \"filler\": { \"filler_link\": "
               + quoted + ", \"filler_image\": " + quoted + " }, \"app_update\": { \"version_major\": \"2\", "
               "\"download_url\": " + quoted + ", \"detail_url\": " + quoted + " }");

        EXPECT_TRUE (engine->helpUrl.get().isEmpty());
        EXPECT_TRUE (engine->webAppUrl.get().isEmpty());
        EXPECT_TRUE (engine->fillerLink.get().isEmpty());
        EXPECT_TRUE (engine->fillerImage.get().isEmpty());

        const auto update = engine->appUpdate.get();
        EXPECT_EQ (update["version_major"].toString(), "2") << "the rest of the offer stays";
        EXPECT_TRUE (update["download_url"].toString().isEmpty());
        EXPECT_TRUE (update["detail_url"].toString().isEmpty());
    }

    apply (R"("app_update": { "version_major": "1", "version_minor": "3", "download_url": "https://dl.example/a.dmg" })");
    EXPECT_EQ (engine->appUpdate.get()["download_url"].toString(), "https://dl.example/a.dmg");
    EXPECT_EQ (engine->appUpdate.get()["version_minor"].toString(), "3");
}

TEST_F (Reply, WeakBatteryThreshold)
{
    struct Case { const char* value; float threshold; };
    const Case cases[] {
        { R"("0.3")", 0.3f }, { "0.3", 0.3f }, { R"("0.05")", 0.25f }, { R"("1.5")", 0.25f }, { R"("")", 0.25f },
        { R"("volts")", 0.25f }, { R"("nan")", 0.25f }, { R"("inf")", 0.25f }, { "1.0", 1.0f }, { "0.1", 0.1f },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.value);
        apply (juce::String ("\"weak_battery_threshold\": ") + c.value);
        EXPECT_FLOAT_EQ (engine->weakBatteryThreshold, c.threshold);
    }

    engine->weakBatteryThreshold = 0.5f;
    apply ({});
    EXPECT_FLOAT_EQ (engine->weakBatteryThreshold, 0.25f) << "absent";
}

//==============================================================================
TEST_F (Reply, FrequencyDescriptorsBySlotKeyAndFirmware)
{
    const auto withSlot3 = R"("frequency_updates": { "1": { "program_code": "11" }, "3": { "program_code": "33" },
                                                     "6": [ { "program_code": "66" } ] })";

    // After 1.1 slot 2 follows "7": "3" has no lasting effect.
    setFirmware (1, 2, 0);
    engine->frequencyUpdates[5] = descriptor (1);
    EXPECT_EQ (apply (withSlot3), 1);
    EXPECT_EQ (engine->frequencyUpdates[0]["program_code"].toString(), "11");
    EXPECT_TRUE (engine->frequencyUpdates[2].isVoid());
    EXPECT_TRUE (engine->frequencyUpdates[5].isVoid()) << "an array is not a descriptor";
    EXPECT_TRUE (engine->updatesPending);

    setFirmware (1, 1, 0);
    apply (withSlot3);
    EXPECT_EQ (engine->frequencyUpdates[2]["program_code"].toString(), "33");

    setFirmware (1, 2, 0);
    apply (R"("frequency_updates": { "7": { "program_code": "77" }, "8": { "program_code": "88" } })");
    EXPECT_EQ (engine->frequencyUpdates[2]["program_code"].toString(), "77");
    EXPECT_EQ (engine->frequencyUpdates[3]["program_code"].toString(), "88");

    setFirmware (1, 1, 0);
    apply (R"("frequency_updates": { "7": { "program_code": "77" } })");
    EXPECT_TRUE (engine->frequencyUpdates[2].isVoid()) << "7 and 8 store nothing on 1.1";

    // A descriptor missing from the next reply is dropped, also when the updates are not an object.
    engine->updatesPending = false;
    engine->frequencyUpdates[0] = descriptor (1);
    apply (R"("frequency_updates": [ { "program_code": "1" } ])");
    EXPECT_TRUE (engine->frequencyUpdates[0].isVoid());
    EXPECT_FALSE (engine->updatesPending);
}

TEST_F (Reply, TheConfirmationPollLeavesUpdatesAlone)
{
    engine->frequencyUpdates[0] = descriptor (5);
    engine->serverTime = 17;
    engine->slotClearMask = 0;

    EXPECT_EQ (apply (R"("frequency_updates": {}, "firmware_updates": [ { "file_data": "x" } ], "server_time": 99,
                         "regimen": { "force_update": true }, "program_choices": {},
                         "help_url": "https://h.example/")", false), 0);
    EXPECT_EQ (engine->frequencyUpdates[0]["program_code"].toString(), "5");
    EXPECT_TRUE (engine->firmwareUpdate.isVoid());
    EXPECT_EQ (engine->serverTime, 17);
    EXPECT_EQ (engine->slotClearMask, 0);
    EXPECT_FALSE (engine->updatesPending);
    EXPECT_EQ (engine->helpUrl.get(), "https://h.example/") << "texts are refreshed all the same";
}

TEST_F (Reply, FirmwareDescriptorIsTheFirstElementWhenItIsAnObject)
{
    apply (R"("firmware_updates": [ { "file_data": "AAAA" }, { "file_data": "BBBB" } ])");
    EXPECT_EQ (engine->firmwareUpdate["file_data"].toString(), "AAAA");
    EXPECT_TRUE (engine->updatesPending);

    for (auto* keys : { R"("firmware_updates": [])", R"("firmware_updates": { "file_data": "CCCC" })",
                        R"("firmware_updates": [ "CCCC" ])", R"("firmware_updates": [ [ 1 ] ])", "" })
    {
        SCOPED_TRACE (keys);
        engine->updatesPending = false;
        apply (keys);
        EXPECT_EQ (engine->firmwareUpdate["file_data"].toString(), "AAAA") << "kept";
        EXPECT_FALSE (engine->updatesPending);
    }
}

TEST_F (Reply, ForcedUpdateErasesTheSlotsOfGroupsWithoutPrograms)
{
    struct Case
    {
        const char* name;
        int major, minor;
        const char* choices;
        int mask;
    };

    const Case cases[] {
        { "1.1.5, bright empty", 1, 1, R"({ "multi": [ {} ], "orange": [ {} ] })", 0x0F },
        { "1.1.5, all empty", 1, 1, R"({})", 0x3F },
        { "1.1.5, orange empty only", 1, 1, R"({ "multi": [ {} ], "bright": [ {} ] })", 0x00 },
        { "1.2.0, bright empty", 1, 2, R"({ "multi": [ {} ], "orange": [ {} ] })", 0x03 },
        { "1.2.0, multi empty", 1, 2, R"({ "bright": [ {} ], "orange": [ {} ] })", 0x30 },
        { "1.2.0, orange empty", 1, 2, R"({ "multi": [ {} ], "bright": [ {} ] })", 0x0C },
        { "2.0.0, all empty", 2, 0, R"({})", 0x3F },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        setFirmware (c.major, c.minor, 5);
        engine->slotClearMask = 0x40;
        apply (juce::String (R"("regimen": { "force_update": true }, "program_choices": )") + c.choices);
        EXPECT_EQ (engine->slotClearMask, 0x40 | c.mask) << "added to, never replaced";
    }

    // A reply without programs, or whose programs are not an object, leaves every group empty; without force_update
    // nothing is erased.
    struct KeysCase { const char* keys; int mask; };
    const KeysCase keysCases[] {
        { R"("program_choices": {})", 0 },
        { R"("regimen": { "force_update": true })", 0x3F },
        { R"("regimen": { "force_update": true }, "program_choices": [ ])", 0x3F },
    };

    for (auto& c : keysCases)
    {
        SCOPED_TRACE (c.keys);
        engine->slotClearMask = 0;
        apply (c.keys);
        EXPECT_EQ (engine->slotClearMask, c.mask);
    }
}

TEST_F (Reply, ServerTime)
{
    apply (R"("server_time": 1700000000123)");
    EXPECT_EQ (engine->serverTime, 1700000000123LL);

    for (auto* keys : { R"("server_time": 0)", "" })
    {
        SCOPED_TRACE (keys);
        apply (keys);
        EXPECT_EQ (engine->serverTime, nowMs() / 1000);
    }
}
