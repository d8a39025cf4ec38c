#include "mainwindow/DropdownRules.h"

#include <gtest/gtest.h>

namespace olvo
{

using dropdown::ListAction;

TEST (DropdownRules, AClickOnAButtonOpensOrClosesItsList)
{
    const struct { int32_t state, openDropdown; int index; int32_t newState, newOpen; ListAction action; } table[] {
        { dropdown::closed, -1, 0, dropdown::open, 0, ListAction::show },       // opens when none is open
        { dropdown::closed, -1, 6, dropdown::open, 6, ListAction::show },
        { dropdown::open, 4, 4, dropdown::closed, -1, ListAction::hide },       // its own open list closes
        { dropdown::open, 2, 4, dropdown::closed, 2, ListAction::hide },        // (the open one stays recorded)
        { dropdown::closed, 1, 3, dropdown::closed, 1, ListAction::none },      // another list is open
        { dropdown::noList, -1, 2, dropdown::noList, -1, ListAction::none },    // nothing to choose
        { dropdown::noList, 5, 2, dropdown::noList, 5, ListAction::none },
    };

    for (const auto& row : table)
    {
        const auto t = dropdown::toggle (row.state, row.openDropdown, row.index);
        EXPECT_EQ (t.state, row.newState) << row.state << " " << row.openDropdown << " " << row.index;
        EXPECT_EQ (t.openDropdown, row.newOpen) << row.state << " " << row.openDropdown << " " << row.index;
        EXPECT_EQ (t.action, row.action) << row.state << " " << row.openDropdown << " " << row.index;
    }
}

TEST (DropdownRules, IndexesStatesAndPresses)
{
    EXPECT_EQ (dropdown::program (2), 2);
    EXPECT_EQ (dropdown::duration (0), 3);
    EXPECT_EQ (dropdown::duration (2), 5);

    EXPECT_EQ (dropdown::stateAfterClosing (dropdown::open), dropdown::closed);
    EXPECT_EQ (dropdown::stateAfterClosing (dropdown::closed), dropdown::closed);
    EXPECT_EQ (dropdown::stateAfterClosing (dropdown::noList), dropdown::noList);

    EXPECT_EQ (dropdown::stateForRows (dropdown::open, 1), dropdown::noList);
    EXPECT_EQ (dropdown::stateForRows (dropdown::noList, 2), dropdown::closed);
    EXPECT_EQ (dropdown::stateForRows (dropdown::open, 5), dropdown::open);

    // Both bounds count as inside.
    EXPECT_TRUE (dropdown::pressIsInside (0, 0, 100, 20));
    EXPECT_TRUE (dropdown::pressIsInside (100, 20, 100, 20));
    EXPECT_FALSE (dropdown::pressIsInside (101, 10, 100, 20));
    EXPECT_FALSE (dropdown::pressIsInside (50, -1, 100, 20));
}

//==============================================================================
namespace
{
    ProgramChoice choice (int first, int second)
    {
        ProgramChoice c;
        c.freqFiles[0] = first;
        c.freqFiles[1] = second;
        return c;
    }
}

TEST (LoadedProgram, SlotsOfEachGroupByFirmware)
{
    const struct { int group; const char* firmware; int first, last; } table[] {
        { 0, "1.1.9", 4, 5 }, { 1, "1.1.9", 0, 3 }, { 2, "1.1.9", 0, -1 }, { 0, "1.0.20", 4, 5 },
        { 0, "1.2.0", 4, 5 }, { 1, "1.2.0", 0, 1 }, { 2, "1.2.0", 2, 3 }, { 3, "1.2.0", 0, -1 }, { -1, "1.2.0", 0, -1 },
        { 2, "", 2, 3 },        // a text that is not a version counts as new firmware
        { 2, "0.9.9", 0, -1 },
    };
    for (const auto& row : table)
    {
        const auto slots = loadedProgram::slotsOf (row.group, row.firmware);
        const bool none = row.last < row.first;
        EXPECT_EQ (slots.isEmpty(), none) << row.group << " " << row.firmware;
        if (! none)
        {
            EXPECT_EQ (slots.first, row.first) << row.group << " " << row.firmware;
            EXPECT_EQ (slots.last, row.last) << row.group << " " << row.firmware;
        }
    }
}

TEST (LoadedProgram, TheFirstChoiceWithTheHighestScoreWins)
{
    loadedProgram::SlotCodes codes { 17, 18, 30, 31, 40, 41 };

    const struct { int group; const char* firmware; std::vector<ProgramChoice> choices; int expected; } table[] {
        { 1, "1.2.0", { choice (17, -1), choice (17, 18) }, 1 },            // 2 beats an earlier 1
        { 1, "1.2.0", { choice (17, 18), choice (18, 17) }, 0 },            // a tie keeps the first
        { 1, "1.2.0", { choice (5, 6), choice (7, -1) }, -1 },              // nothing scores
        { 1, "1.2.0", { choice (30, 31) }, -1 },                            // slots 2..3 are group 2's now
        { 1, "1.1.0", { choice (17, 18), choice (30, 31) }, 0 },            // slots 0..3 before 1.2: a tie
        { 1, "1.1.0", { choice (30, -1), choice (30, 31) }, 1 },
        { 2, "1.2.0", { choice (1, 2), choice (30, 31) }, 1 },
        { 2, "1.1.5", { choice (30, 31) }, -1 },                            // no group 2 before 1.2
        { 0, "1.0.9", { choice (40, 40) }, 0 },                             // one slot can count twice
        { 5, "1.2.0", { choice (17, 18) }, -1 },
        { 0, "1.2.0", {}, -1 },
    };

    for (const auto& row : table)
        EXPECT_EQ (loadedProgram::bestMatch (row.group, row.choices, row.firmware, codes), row.expected)
            << "group " << row.group << " on " << row.firmware;

    // All slots empty and no choice lists code 0: no match.
    EXPECT_EQ (loadedProgram::bestMatch (1, { choice (17, 18) }, "1.2.0", {}), -1);
    // An unset file (-1) never matches an empty slot (0).
    EXPECT_EQ (loadedProgram::bestMatch (1, { choice (-1, -1) }, "1.2.0", {}), -1);
}

TEST (LoadedProgram, AGroupWithoutProgramsHasItsOccupiedSlotsErasedOnlyWhenItIsSafe)
{
    const loadedProgram::SlotCodes codes { 5, 0, 7, 7, 9, 0 };
    const loadedProgram::EraseConditions quiet { false, false, true, SyncStatus::upToDate };

    auto with = [&quiet] (auto change)
    {
        auto c = quiet;
        change (c);
        return c;
    };

    using Conditions = loadedProgram::EraseConditions;
    const struct { const char* what; int group; const char* firmware; Conditions conditions; int32_t mask; } table[] {
        { "group 1 on 1.2: slot 0 holds a program, slot 1 none", 1, "1.2.0", quiet, 0b000001 },
        { "group 2 on 1.2", 2, "1.2.0", quiet, 0b001100 },
        { "group 0", 0, "1.2.0", quiet, 0b010000 },
        { "group 1 before 1.2: slots 0..3", 1, "1.1.0", quiet, 0b001101 },
        { "group 2 before 1.2: no slots", 2, "1.1.0", quiet, 0 },
        { "the user is editing", 1, "1.2.0", with ([] (Conditions& c) { c.requestPending = true; }), 0 },
        { "a save is in flight", 1, "1.2.0",
          with ([] (Conditions& c) { c.requestPending = true; c.saveInFlight = true; }), 0b000001 },
        { "no device", 1, "1.2.0", with ([] (Conditions& c) { c.devicePresent = false; }), 0 },
        { "updating", 1, "1.2.0", with ([] (Conditions& c) { c.status = SyncStatus::updating; }), 0 },
        { "group out of range", 4, "1.2.0", quiet, 0 },
    };

    for (const auto& row : table)
        EXPECT_EQ (loadedProgram::eraseMask (row.group, row.firmware, codes, row.conditions), row.mask) << row.what;
}

} // namespace olvo
