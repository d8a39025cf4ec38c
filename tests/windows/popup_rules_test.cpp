#include "windows/Popups.h"

#include <gtest/gtest.h>

namespace olvo
{

void PrintTo (const DelayOption& o, std::ostream* os)
{
    *os << "{ " << o.id << ", \"" << o.name << "\", " << o.value << " }";
}

TEST (PopupRules, TitlesAndHeadingsByKind)
{
    const struct { int kind; const char* heading; const char* suffix; const char* shownHeading; } table[] {
        { PopupKind::newApp, "", "New App", "New App Available" },
        { PopupKind::newApp, "Fresh", "New App", "Fresh" },
        { PopupKind::nextPhase, "", "Update Available", "Configuration Update Available" },
        { PopupKind::nextPhase, "Phase 3 is ready", "Update Available", "Phase 3 is ready" },
        { PopupKind::configurationUpdated, "", "Configuration Updated", "Configuration Updated" },
        { PopupKind::configurationUpdated, "Welcome", "Configuration Updated", "Welcome" },
        { PopupKind::warning, "", "Error", "Error" },
        { PopupKind::warning, "Warning", "Warning", "Warning" },
        { 7, "", "Unknown", "This is not the title" },
        { 0, "Anything", "Unknown", "This is not the title" },
    };

    for (const auto& row : table)
    {
        const auto titles = popupTitles (row.kind, row.heading);
        EXPECT_EQ (titles.suffix, row.suffix) << row.kind << " " << row.heading;
        EXPECT_EQ (titles.heading, row.shownHeading) << row.kind << " " << row.heading;
    }
}

TEST (PopupRules, DelayOptionsAndWhatLaterHandsOn)
{
    using Options = std::vector<DelayOption>;
    const Options oneWeek { { 1, "1 week", 7 } };

    const struct { const char* text; Options options; } table[] {
        { "", oneWeek },
        { "7:1 week;14:2 weeks;", { { 1, "1 week", 7 }, { 2, "2 weeks", 14 } } },
        { "1:1 day;", { { 1, "1 day", 1 } } },
        // A token without ":" adds nothing but uses up its id.
        { "7:1 week;no colon;14:2 weeks", { { 1, "1 week", 7 }, { 3, "2 weeks", 14 } } },
        // Names that are not numbers, 0 and below are no delay: left out, ids used up.
        { "soon:1 week;14:2 weeks", { { 2, "2 weeks", 14 } } },
        { "0:now;-1:advance;-7:back;21:3 weeks", { { 4, "3 weeks", 21 } } },
        { "x:never;0:now", oneWeek },
        { "garbage", oneWeek },
        { ";;;", oneWeek },
        // An empty name would be an empty row.
        { "7:;14:2 weeks", { { 2, "2 weeks", 14 } } },
        // Read as C's atoi reads: spaces, a sign, the digits at the start; saturated instead of overflowing.
        { " 7:1 week;+14:2 weeks;28 days:4 weeks", { { 1, "1 week", 7 }, { 2, "2 weeks", 14 }, { 3, "4 weeks", 28 } } },
        { "99999999999:forever", { { 1, "forever", 2147483647 } } },
        // Quoted text is not split, and keeps its quotes; a quoted value is not a number.
        { "7:\"1; week\";14:\"2:weeks\"", { { 1, "\"1; week\"", 7 }, { 2, "\"2:weeks\"", 14 } } },
        { "\"7\":1 week;14:2 weeks", { { 2, "2 weeks", 14 } } },
        // Extra parts after the name are ignored.
        { "7:1 week:extra", { { 1, "1 week", 7 } } },
    };

    for (const auto& row : table)
    {
        const auto parsed = parseDelayOptions (row.text);
        EXPECT_EQ (Options (parsed.begin(), parsed.end()), row.options) << row.text;

        // LATER hands on the selected option's value, never 0 or below.
        for (const auto& option : row.options)
            EXPECT_EQ (laterResult (row.text, option.id), option.value) << row.text << " id " << option.id;
    }

    // An id that is none of the options (nothing selected, a skipped or a too large id): the default delay.
    for (const int id : { 0, -1, 2, 3, 1000 })
        EXPECT_EQ (laterResult ("no colon;14:2 weeks;0:now", id), id == 2 ? 14 : defaultDelay) << id;
    EXPECT_EQ (laterResult ("14:2 weeks", 0), defaultDelay);
}

TEST (PopupRules, ANextPhaseDecisionReachesTheEngineOfTheDeviceStillPresent)
{
    const auto pending = [] (OlvoThread& engine)
    {
        for (int i = 0; i < 3; ++i)
        {
            engine.durationChanged[i] = true;
            engine.levelChanged[i] = true;
            engine.updateProgramChoice[i] = true;
            engine.requestedLevel[i] = 4;
        }
        engine.packageChoicePending = true;
        engine.chosenPackageIndex = 2;
        engine.slotClearMask = 0x3f;
    };

    const auto anyPending = [] (const OlvoThread& engine)
    {
        bool any = engine.packageChoicePending || engine.slotClearMask != 0;
        for (int i = 0; i < 3; ++i)
            any = any || engine.durationChanged[i] || engine.levelChanged[i] || engine.updateProgramChoice[i];
        return any;
    };

    const int64_t now = 1'700'000'000'000;

    const auto withUid = [] (OlvoThread& engine, uint32_t firstWord)
    {
        DeviceIds ids;
        ids.bytes[wire::idsUid] = (uint8_t) firstWord;   // the first UID word, little-endian
        ids.bytes[wire::idsUid + 1] = (uint8_t) (firstWord >> 8);
        engine.deviceIds.set (ids);
    };

    enum Device { same, another, gone };
    const struct { const char* what; int result, kind; Device device; bool acts; } table[] {
        { "ADVANCE", -1, PopupKind::nextPhase, same, true },
        { "LATER, 14 days", 14, PopupKind::nextPhase, same, true },
        { "closed (close button, Escape, the main window)", 0, PopupKind::nextPhase, same, false },
        { "another kind", 1, PopupKind::newApp, same, false },
        { "another kind, ADVANCE's value", -1, PopupKind::warning, same, false },
        { "a negative value other than ADVANCE", -7, PopupKind::nextPhase, same, false },
        { "the device has gone", -1, PopupKind::nextPhase, gone, false },
        { "the device has gone, LATER", 14, PopupKind::nextPhase, gone, false },
        { "another device came between two passes", -1, PopupKind::nextPhase, another, false },
        { "another device came between two passes, LATER", 14, PopupKind::nextPhase, another, false },
    };

    for (const auto& row : table)
    {
        OlvoThread engine;   // worker not started
        engine.deviceOpen = true;
        withUid (engine, 0x1111);
        const auto raisedFor = presentDeviceUid (engine);
        ASSERT_TRUE (raisedFor.has_value());

        engine.deviceOpen = row.device != gone;
        if (row.device == another)
            withUid (engine, 0x2222);
        pending (engine);
        int64_t nextPhaseOffer = 5;

        EXPECT_EQ (applyNextPhaseDecision (engine, row.result, row.kind, raisedFor, now, nextPhaseOffer), row.acts)
            << row.what;

        if (row.acts)
        {
            EXPECT_EQ (engine.regimenAdvancementDelay, row.result) << row.what;
            EXPECT_EQ (nextPhaseOffer, now + 20000) << row.what;
            EXPECT_FALSE (anyPending (engine)) << row.what;
        }
        else
        {
            EXPECT_EQ (engine.regimenAdvancementDelay, 0) << row.what;
            EXPECT_EQ (nextPhaseOffer, 5) << row.what;
            EXPECT_TRUE (engine.packageChoicePending && engine.slotClearMask == 0x3f) << row.what;
        }

        // The requested values themselves stay.
        EXPECT_EQ (engine.requestedLevel[1], 4);
        EXPECT_EQ (engine.chosenPackageIndex, 2);
    }
}

} // namespace olvo
