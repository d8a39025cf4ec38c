// The regimen and package part of a reply: what is stored, what survives, and hostile values.

#include "EngineHarness.h"

using namespace olvo;

namespace
{
    class RegimenReply : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            EngineTest::SetUp();
            makeEngine();
        }

        bool parse (const char* jsonText)
        {
            const auto reply = juce::JSON::parse (juce::String (jsonText));
            EXPECT_TRUE (reply.isObject()) << jsonText;
            return engine->parseRegimen (reply);
        }
    };
}

TEST_F (RegimenReply, AFullRegimenIsStored)
{
    const bool advanced = parse (R"({ "regimen": {
        "regimen_name": "Spring", "current_phase_name": "Two", "current_phase": 2, "phase_total": 3,
        "current_phase_duration_total": 14, "current_phase_remaining": 5, "ready_to_advance": true,
        "force_update": true, "advancement_message": "Ready?",
        "next_phase": { "advancement_message": "Go on", "advancement_title": "Next" },
        "just_advanced_phase": true, "welcome_message": "Hello", "welcome_url": "https://example.org/w",
        "welcome_message_title": "Welcome", "delay_options": { "7": "1 week", "14": "2 weeks" } } })");

    auto& e = *engine;
    EXPECT_TRUE (advanced);
    EXPECT_EQ (e.regimenName.get(), "Spring");
    EXPECT_EQ (e.currentPhaseName.get(), "Two");
    EXPECT_EQ (e.currentPhase, 2);
    EXPECT_EQ (e.phaseTotal, 3);
    EXPECT_EQ (e.currentPhaseDurationTotal, 14);
    EXPECT_EQ (e.currentPhaseRemaining, 5);
    EXPECT_TRUE (e.readyToAdvance);
    EXPECT_TRUE (e.forceUpdate);
    EXPECT_EQ (e.advancementMessage.get(), "Go on");
    EXPECT_EQ (e.advancementTitle.get(), "Next");
    EXPECT_EQ (e.welcomeMessage.get(), "Hello");
    EXPECT_EQ (e.welcomeUrl.get(), "https://example.org/w");
    EXPECT_EQ (e.welcomeMessageTitle.get(), "Welcome");
    EXPECT_EQ (e.delayOptions.get(), "7:1 week;14:2 weeks;");
}

TEST_F (RegimenReply, WithoutARegimenObjectTheRegimenIsClearedAndPackagesStillFill)
{
    for (auto* reply : { R"({ "packages_list": [ { "package_id": 5 } ] })",
                         R"({ "regimen": [ 1, 2 ], "packages_list": [ { "package_id": 5 } ] })",
                         R"({ "regimen": "text", "packages_list": [ { "package_id": 5 } ] })" })
    {
        SCOPED_TRACE (reply);
        engine->regimenName.set ("Old");
        engine->currentPhaseRemaining = 4;
        engine->forceUpdate = true;

        EXPECT_FALSE (parse (reply));
        EXPECT_TRUE (engine->regimenName.get().isEmpty());
        EXPECT_EQ (engine->currentPhaseRemaining, -999999);
        EXPECT_FALSE (engine->forceUpdate);
        ASSERT_EQ (engine->packages.get().size(), 1);
        EXPECT_EQ (engine->packages.get()[0].packageId, 5);
    }
}

TEST_F (RegimenReply, AbsentKeysOfAPresentRegimenStoreZeroAndEmpty)
{
    engine->currentPhase = 3;
    engine->regimenName.set ("Old");

    EXPECT_FALSE (parse (R"({ "regimen": {} })"));
    EXPECT_EQ (engine->currentPhaseRemaining, 0) << "only clearing stores -999999";
    EXPECT_EQ (engine->currentPhase, 0);
    EXPECT_TRUE (engine->regimenName.get().isEmpty());
}

TEST_F (RegimenReply, WelcomeTextsAndTheTitleSurviveRepliesThatDoNotSetThem)
{
    parse (R"({ "regimen": { "just_advanced_phase": true, "welcome_message": "Hi", "welcome_message_title": "",
                             "next_phase": { "advancement_title": "T1" } } })");
    EXPECT_EQ (engine->welcomeMessageTitle.get(), "Configuration Updated");
    EXPECT_EQ (engine->welcomeMessage.get(), "Hi");
    EXPECT_EQ (engine->advancementTitle.get(), "T1");

    parse (R"({ "regimen": { "just_advanced_phase": false, "welcome_message": "Other", "advancement_message": "M" } })");
    EXPECT_EQ (engine->welcomeMessage.get(), "Hi");
    EXPECT_EQ (engine->welcomeMessageTitle.get(), "Configuration Updated");
    EXPECT_EQ (engine->advancementTitle.get(), "T1") << "no next_phase keeps the title";
    EXPECT_EQ (engine->advancementMessage.get(), "M");

    parse (R"({ "regimen": { "advancement_message": "Own", "next_phase": { "advancement_title": "T2" } } })");
    EXPECT_EQ (engine->advancementMessage.get(), "Own") << "next_phase without a message keeps the regimen's";
    EXPECT_EQ (engine->advancementTitle.get(), "T2");
}

TEST_F (RegimenReply, DelayOptionsKeepOnlyWhatThePopupCanUse)
{
    struct Case { const char* options; const char* text; };
    const Case cases[] {
        { R"({ "1": "1 day" })", "1:1 day;" },
        { R"({})", "" },
        { R"([ "1 day", "2 days" ])", "" },
        { R"("7:1 week;")", "" },
        { R"({ "abc": "x", "0": "zero", "-3": "minus", "2.5": "half", "9999999999": "huge", "5": 5 })", "5:5;" },
        { R"({ "3": "a;b:c\"d" })", "3:a b c d;" },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.options);
        const auto text = juce::String (R"({ "regimen": { "delay_options": )") + c.options + " } }";
        engine->parseRegimen (juce::JSON::parse (text));
        EXPECT_EQ (engine->delayOptions.get(), c.text);
    }
}

TEST_F (RegimenReply, PackagesAreRebuiltFromEachReply)
{
    testing::internal::CaptureStdout();
    parse (R"json({ "packages_list": [
        { "package_id": 4, "is_current": 1, "brand_name": "B", "presentation_name": "P",
          "brand_logo": "https://cdn.example/l.png", "brand_icon": "https://cdn.example/i.png" },
        "not an object",
        { "package_id": "12x", "brand_logo": "javascript:alert(1)", "brand_icon": "https://x.example/$(reboot)" },
        { "package_id": 1e30, "is_current": -1e30 } ] })json");
    EXPECT_EQ (testing::internal::GetCapturedStdout(),
               "RL[0] https://cdn.example/l.png https://cdn.example/i.png name P 1\n"
               "RL[1]   name  0\n"
               "RL[2]   name  0\n"
               "RL[3]   name  " + std::to_string (std::numeric_limits<int>::min()) + "\n");

    const auto list = engine->packages.get();
    ASSERT_EQ (list.size(), 4);
    EXPECT_EQ (list[0].packageId, 4);
    EXPECT_EQ (list[0].isCurrent, 1);
    EXPECT_EQ (list[0].brandName, "B");
    EXPECT_EQ (list[0].presentationName, "P");
    EXPECT_EQ (list[0].brandLogo, "https://cdn.example/l.png");
    EXPECT_EQ (list[0].brandIcon, "https://cdn.example/i.png");
    EXPECT_EQ (list[1].packageId, 0);
    EXPECT_TRUE (list[1].brandName.isEmpty());
    EXPECT_EQ (list[2].packageId, 12);
    EXPECT_TRUE (list[2].brandLogo.isEmpty());
    EXPECT_TRUE (list[2].brandIcon.isEmpty());
    EXPECT_EQ (list[3].packageId, std::numeric_limits<int>::max());
    EXPECT_EQ (list[3].isCurrent, std::numeric_limits<int>::min());

    for (auto* reply : { R"({ "packages_list": [] })", R"({ "packages_list": { "package_id": 4 } })", R"({})" })
    {
        SCOPED_TRACE (reply);
        engine->packages.set ({ PackageInfo {} });
        parse (reply);
        EXPECT_TRUE (engine->packages.get().isEmpty());
    }
}

TEST_F (RegimenReply, UnsafeWelcomeLinksAreDropped)
{
    parse (R"({ "regimen": { "just_advanced_phase": true, "welcome_url": "file:///etc/passwd" } })");
    EXPECT_TRUE (engine->welcomeUrl.get().isEmpty());

    parse (R"({ "regimen": { "just_advanced_phase": true, "welcome_url": "https://ok.example/a\"; rm -rf" } })");
    EXPECT_TRUE (engine->welcomeUrl.get().isEmpty());
}

TEST_F (RegimenReply, HugeNumbersAreClamped)
{
    parse (R"({ "regimen": { "current_phase": 1e20, "phase_total": -1e20, "current_phase_remaining": "99999999999" } })");
    EXPECT_EQ (engine->currentPhase, std::numeric_limits<int>::max());
    EXPECT_EQ (engine->phaseTotal, std::numeric_limits<int>::min());
    EXPECT_EQ (engine->currentPhaseRemaining, std::numeric_limits<int>::max());
}
