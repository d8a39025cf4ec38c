// The main window's timer pass for the program groups: captions per firmware, the automatic default, clicks on the
// program and duration lists (also on rows the server replaced meanwhile), list states, the marquee, duration ranges
// and request encoding per firmware, level sliders, SAVE and CANCEL, the groups' visibility, and the groups held
// while the device restarts after a firmware attempt.

#include "TimerFixture.h"

#include "mainwindow/DurationTexts.h"
#include "mainwindow/TimerRules.h"

namespace olvo
{

using test::TimerPass;

namespace
{
    const ProgramChoice calm = TimerPass::choice (101, "Calm", 12, 13);
    const ProgramChoice focus = TimerPass::choice (102, "Focus", 14, 15);
    const ProgramChoice single = TimerPass::choice (103, "Single", 16);

    juce::StringArray rowsOf (const CollectionModel& model) { return model.names; }
}

//==============================================================================
TEST_F (TimerPass, ProgramCaptionsPerFirmware)
{
    const struct { const char* what; int major, minor, tertiary, status; std::vector<ProgramChoice> group2;
                   const char* caption; int rows; } table[] {
        { "1.0.20 has no group-2 list", 1, 0, 20, SyncStatus::upToDate, {}, "Balance & Restore", 0 },
        { "1.0.13: nothing", 1, 0, 13, SyncStatus::upToDate, {}, "", 0 },
        { "1.1.5 ignores the server's group-2 choices", 1, 1, 5, SyncStatus::upToDate, { calm, focus },
          "Balance & Restore", 0 },
        { "1.2.0, empty, up to date", 1, 2, 0, SyncStatus::upToDate, {}, "[Empty]", 0 },
        { "1.2.0, empty, connecting", 1, 2, 0, SyncStatus::connecting, {}, "", 0 },
        { "1.2.0 with choices: the loaded one", 1, 2, 0, SyncStatus::upToDate, { calm, focus }, "Focus", 2 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        plug (row.major, row.minor, row.tertiary, row.status);
        setSlotCodes ({ 0, 0, 14, 15, 0, 0 });
        setChoices (2, row.group2);

        pass();
        EXPECT_EQ (c().programButtonText[2], row.caption);
        EXPECT_EQ (c().programListModels[2].getNumRows(), row.rows);
        EXPECT_EQ (c().programListState[2], row.rows >= 2 ? dropdown::closed : dropdown::noList);
        EXPECT_EQ (c().programLists[2].getSelectedRow(), row.rows >= 2 ? 1 : -1);
    }
}

TEST_F (TimerPass, AGroupTheServerGivesNoProgramsHasItsDevicesSlotsMarkedForErasingOnlyWhenItIsSafe)
{
    // Group 1 (slots 0 and 1 on 1.2) has nothing to offer; the other groups have programs, which keep their slots.
    const struct { const char* what; int status; bool open, editing, saveInFlight; int32_t mask; } table[] {
        { "up to date", SyncStatus::upToDate, true, false, false, 0b000001 },
        { "the user is editing", SyncStatus::upToDate, true, true, false, 0 },
        { "editing, with the save on its way", SyncStatus::upToDate, true, true, true, 0b000001 },
        { "connecting", SyncStatus::connecting, true, false, false, 0 },
        { "updating", SyncStatus::updating, true, false, false, 0 },
        { "the device has gone", SyncStatus::upToDate, false, false, false, 0 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        plug (1, 2, 0, row.status);
        setSlotCodes ({ 5, 0, 14, 15, 21, 0 });
        setChoices (0, { calm, focus });
        setChoices (2, { calm, focus });
        e().levelChanged[0] = row.editing;
        e().settingsDirty = row.saveInFlight;
        if (! row.open)
            unplug();
        e().slotClearMask = 0;

        pass();
        EXPECT_EQ (e().slotClearMask, row.mask);
    }
}

TEST_F (TimerPass, TheDefaultProgramIsRequestedOnlyWhileUpToDate)
{
    const struct { int status; bool requested; const char* caption; } table[] {
        { SyncStatus::upToDate, true, "Calm" },
        { SyncStatus::connecting, false, "Calm" },
        { SyncStatus::noConnection, false, "Calm" },
        { SyncStatus::unknownDevice, false, "Calm" },
        { SyncStatus::error, false, "Calm" },
        { SyncStatus::updating, false, "" },   // the captions wait for the update
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.status);
        rebuild();
        plug (1, 2, 0, row.status);
        setChoices (0, { calm, focus });   // the device holds none of them
        setChoices (1, { focus, calm });

        for (int i = 0; i < 3; ++i)
        {
            clock.advance (500);
            pass();
        }

        EXPECT_EQ (c().programButtonText[0], row.caption);
        EXPECT_EQ (e().updateProgramChoice[0], row.requested);
        EXPECT_EQ (e().updateProgramChoice[1], row.requested) << "every group's default in the same save";
        EXPECT_EQ (e().settingsDirty, row.requested);
        EXPECT_EQ (e().choiceDirty, row.requested);
        EXPECT_EQ (e().sendSlotValues, row.requested ? 2 : 0);
        if (row.requested)
        {
            EXPECT_EQ (e().chosenConfigId[0], 101);
            EXPECT_EQ (e().chosenConfigId[1], 102);
        }
    }

    // For three seconds after SAVE the captions keep the user's choice, and nothing is chosen for the user.
    rebuild();
    plug (1, 2, 0);
    setChoices (0, { calm, focus });
    c().programButtonText[0] = "Focus";
    c().buttonClicked (&c().saveButton);
    e().settingsDirty = e().choiceDirty = false;
    e().sendSlotValues = 0;

    clock.advance (3000);
    pass();
    EXPECT_EQ (c().programButtonText[0], "Focus");
    EXPECT_FALSE (e().updateProgramChoice[0]);

    clock.advance (1);
    pass();
    EXPECT_EQ (c().programButtonText[0], "Calm");
    EXPECT_TRUE (e().updateProgramChoice[0]);
}

// The automatic default is asked for once per device and list: a sync that leaves the device without any of the
// group's programs does not make the window ask again on every pass. A new list, the device back after it went, or
// the user's own pick make it ask afresh; the user's pick itself is never held back.
TEST_F (TimerPass, TheDefaultProgramIsRequestedOncePerDeviceAndList)
{
    plug (1, 2, 0);
    setChoices (0, { calm, focus });   // the device holds none of them

    const auto requested = [this]
    {
        return e().updateProgramChoice[0] && e().chosenConfigId[0] == 101 && e().sendSlotValues == 2;
    };

    // The engine takes the request and syncs; up to date again, the device holds none of the group's programs.
    const auto engineSyncs = [this]
    {
        e().updateProgramChoice[0] = false;
        e().settingsDirty = e().choiceDirty = false;
        e().sendSlotValues = 0;
        e().chosenConfigId[0] = 0;
        e().status = SyncStatus::updating;
        clock.advance (500);
        pass();
        e().status = SyncStatus::upToDate;
    };
    const auto syncLeavesNoneLoaded = [&]
    {
        engineSyncs();
        for (int i = 0; i < 10; ++i)
        {
            clock.advance (500);
            pass();
        }
    };

    pass();
    ASSERT_TRUE (requested());
    syncLeavesNoneLoaded();
    EXPECT_FALSE (e().updateProgramChoice[0]) << "asked again for the same list on the same device";
    EXPECT_FALSE (e().settingsDirty || e().choiceDirty || e().sendSlotValues != 0);
    EXPECT_EQ (c().programButtonText[0], "Calm") << "the caption still shows the first program";

    struct Case { const char* what; std::function<void()> change; };
    const Case cases[] {
        { "a new list", [this] { setChoices (0, { calm, focus, single }); } },
        { "a program renamed", [this] { setChoices (0, { calm, TimerPass::choice (102, "Focus+", 14, 15) }); } },
        { "the device back after it went", [this]
          {
              unplug();
              clock.advance (500);
              pass();
              plug (1, 2, 0);
          } },
        { "the user's pick", [this, &engineSyncs]
          {
              clickRow (c().programListModels[0], c().programLists[0], 1);
              pass();
              EXPECT_TRUE (e().updateProgramChoice[0]) << "the user's pick is never held back";
              EXPECT_EQ (e().chosenConfigId[0], 102);
              c().buttonClicked (&c().saveButton);
              engineSyncs();              // the server did not bring it either
              clock.advance (3000);       // past the captions' hold after SAVE
          } },
    };

    for (const auto& k : cases)
    {
        SCOPED_TRACE (k.what);
        k.change();
        clock.advance (500);
        pass();
        EXPECT_TRUE (requested()) << "asked afresh";
        syncLeavesNoneLoaded();
        EXPECT_FALSE (e().updateProgramChoice[0]) << "and then once only";
    }

    // A pick of the very program asked for on the window's own is requested too.
    clickRow (c().programListModels[0], c().programLists[0], 0);
    pass();
    EXPECT_TRUE (e().updateProgramChoice[0]);
    EXPECT_EQ (e().chosenConfigId[0], 101);
}

TEST_F (TimerPass, AProgramClickRequestsTheProgramWhileUpToDate)
{
    plug (1, 2, 0);
    setSlotCodes ({ 12, 13, 0, 0, 0, 0 });   // group 1 holds Calm
    setChoices (1, { calm, focus, single });
    pass();
    ASSERT_EQ (c().programButtonText[1], "Calm");
    ASSERT_EQ (c().programLists[1].getSelectedRow(), 0);

    clickRow (c().programListModels[1], c().programLists[1], 1);
    pass();
    EXPECT_EQ (e().chosenConfigId[1], 102);
    EXPECT_TRUE (e().updateProgramChoice[1]);
    EXPECT_EQ (c().programButtonText[1], "Focus");
    EXPECT_TRUE (c().saveButton.isVisible());
    EXPECT_FALSE (c().programListModels[1].clicked);

    // Editing: the caption and the list keep the user's choice.
    pass();
    EXPECT_EQ (c().programButtonText[1], "Focus");
    EXPECT_EQ (c().programLists[1].getSelectedRow(), 1);

    // The loaded program again: nothing to request.
    clickRow (c().programListModels[1], c().programLists[1], 0);
    pass();
    EXPECT_FALSE (e().updateProgramChoice[1]);

    // CANCEL: back to mirroring.
    clickRow (c().programListModels[1], c().programLists[1], 2);
    pass();
    c().buttonClicked (&c().cancelButton);
    pass();
    EXPECT_EQ (c().programButtonText[1], "Calm");
    EXPECT_EQ (c().programLists[1].getSelectedRow(), 0);
    EXPECT_FALSE (c().saveButton.isVisible());

    // A row outside the list is no click.
    c().programListModels[1].listBoxItemClicked (7, test::clickOn (c().programLists[1]));
    pass();
    EXPECT_FALSE (e().updateProgramChoice[1]);
}

TEST_F (TimerPass, AProgramClickOutsideUpToDateRequestsNothing)
{
    for (int status : { SyncStatus::connecting, SyncStatus::noConnection, SyncStatus::error, SyncStatus::updating })
    {
        SCOPED_TRACE (status);
        rebuild();
        plug (1, 2, 0, SyncStatus::upToDate);
        setSlotCodes ({ 12, 13, 0, 0, 0, 0 });
        setChoices (1, { calm, focus });
        pass();

        e().status = status;
        clickRow (c().programListModels[1], c().programLists[1], 1);
        pass();
        EXPECT_FALSE (e().updateProgramChoice[1]);
        EXPECT_EQ (e().chosenConfigId[1], 0);

        // While updating the caption follows the click until the update is done; otherwise the device's program
        // is shown at once. Back up to date, the device's program shows again.
        EXPECT_EQ (c().programButtonText[1], status == SyncStatus::updating ? "Focus" : "Calm");
        e().status = SyncStatus::upToDate;
        pass();
        EXPECT_EQ (c().programButtonText[1], "Calm");
        EXPECT_EQ (c().programLists[1].getSelectedRow(), 0);
    }
}

TEST_F (TimerPass, AProgramClickOnRowsTheServerReplacedAppliesTheClickedProgramOrNothing)
{
    plug (1, 2, 0);
    setSlotCodes ({ 12, 13, 0, 0, 0, 0 });
    setChoices (1, { calm, focus, single });
    pass();

    // The user clicks Focus (row 1); before the pass, a poll brings the list in another order.
    clickRow (c().programListModels[1], c().programLists[1], 1);
    setChoices (1, { single, focus, calm });
    setChoices (1, { focus, single, calm });
    pass();
    EXPECT_EQ (e().chosenConfigId[1], 102) << "Focus, not whatever is in row 1 now";
    EXPECT_TRUE (e().updateProgramChoice[1]);
    EXPECT_EQ (c().programButtonText[1], "Focus");
    EXPECT_EQ (c().programLists[1].getSelectedRow(), 0) << "Focus's row now";

    // The user clicks Single (row 1); the server then drops it: nothing is applied.
    c().buttonClicked (&c().cancelButton);
    pass();
    clickRow (c().programListModels[1], c().programLists[1], 1);
    setChoices (1, { focus, calm });
    pass();
    EXPECT_FALSE (e().updateProgramChoice[1]);
    EXPECT_EQ (e().chosenConfigId[1], 102) << "unchanged";
    EXPECT_EQ (c().programButtonText[1], "Calm");
}

//==============================================================================
TEST_F (TimerPass, ListStatesFollowTheRowsAndAListThatCanNoLongerBeChosenFromCloses)
{
    plug (1, 2, 0);
    setSlotCodes ({ 12, 13, 0, 0, 0, 0 });
    setChoices (1, { calm, focus });
    pass();
    ASSERT_EQ (c().programListState[1], dropdown::closed);

    // The open program list drops to one row: it closes, and no list is open any more.
    c().buttonClicked (&c().programButtons[1]);
    ASSERT_EQ (c().openDropdown, dropdown::program (1));
    setChoices (1, { calm });
    pass();
    EXPECT_FALSE (c().programLists[1].isVisible());
    EXPECT_EQ (c().programListState[1], dropdown::noList);
    EXPECT_EQ (c().openDropdown, dropdown::noneOpen);

    // Another list can be opened at once.
    c().buttonClicked (&c().durationButtons[0]);
    EXPECT_EQ (c().openDropdown, dropdown::duration (0));
    c().buttonClicked (&c().durationButtons[0]);

    // An emptied list loses its rows and a click latched on them.
    setChoices (1, { calm, focus });
    pass();
    clickRow (c().programListModels[1], c().programLists[1], 1);
    setChoices (1, {});
    pass();
    EXPECT_EQ (c().programListModels[1].getNumRows(), 0);
    EXPECT_FALSE (c().programListModels[1].clicked);
    EXPECT_EQ (c().programButtonText[1], "[Empty]");
    EXPECT_FALSE (e().updateProgramChoice[1]);

    // The open duration list of a group whose range shrinks to one entry closes too.
    c().buttonClicked (&c().durationButtons[2]);
    ASSERT_EQ (c().openDropdown, dropdown::duration (2));
    e().limits.update ([] (auto& l) { l[2].durationMin = l[2].durationMax = 30; });
    pass();
    EXPECT_FALSE (c().durationLists[2].isVisible());
    EXPECT_EQ (c().durationListState[2], dropdown::noList);
    EXPECT_EQ (c().openDropdown, dropdown::noneOpen);
}

TEST_F (TimerPass, TheMarqueeRunsInAllThreeCaptionsAndItsEndEmptiesAllThree)
{
    plug (1, 2, 0);
    for (int g = 0; g < 3; ++g)
        setChoices (g, { calm, focus });
    pass();

    e().status = SyncStatus::updating;
    e().updatesPending = true;

    for (int k : { 1, 2, 0, 1 })
    {
        pass();
        for (int g = 0; g < 3; ++g)
        {
            EXPECT_EQ (c().programButtonText[g], marqueeFrame (k)) << g;
            EXPECT_EQ (c().programListState[g], dropdown::noList) << g;
            EXPECT_TRUE (c().programButtons[g].isVisible());
            EXPECT_FALSE (c().durationButtons[g].isVisible());
            EXPECT_FALSE (c().levelSliders[g].isVisible());
            EXPECT_FALSE (c().levelLabels[g].isVisible());
        }
    }

    e().status = SyncStatus::upToDate;
    e().updatesPending = false;
    pass();
    for (int g = 0; g < 3; ++g)
    {
        EXPECT_EQ (c().programButtonText[g], "") << "no frame stays behind in group " << g;
        EXPECT_TRUE (c().durationButtons[g].isVisible());
    }
    EXPECT_EQ (c().updatingFrameCounter, 0);

    pass();
    EXPECT_EQ (c().programButtonText[2], "Calm");
    EXPECT_EQ (c().programListState[2], dropdown::closed);

    // Updating without updates pending: no marquee.
    e().status = SyncStatus::updating;
    pass();
    EXPECT_EQ (c().programButtonText[2], "Calm");
}

//==============================================================================
namespace
{
    /** What the three group columns show, but for the program captions: colours and visibility, the lists' rows and
        states, the duration captions and the levels. */
    juce::String groupColumns (MainComponent& c)
    {
        const auto shown = [] (const juce::Component& x) { return x.isVisible() ? " shown" : " hidden"; };

        juce::String text;
        for (int g = 0; g < 3; ++g)
            text << "group " << g << " colour " << juce::String::toHexString ((int) uiPalette[g])
                 << "; program" << shown (c.programButtons[g]) << " state " << c.programListState[g] << " rows "
                 << c.programListModels[g].names.joinIntoString (",")
                 << "; duration '" << c.durationButtonText[g] << "'" << shown (c.durationButtons[g]) << " state "
                 << c.durationListState[g] << " rows " << c.durationListModels[g].names.joinIntoString (",")
                 << "; level '" << c.levelLabels[g].getText() << "'" << shown (c.levelSliders[g]) << " track "
                 << c.levelSliders[g].findColour (juce::Slider::trackColourId).toString() << "\n";
        return text;
    }
}

TEST_F (TimerPass, WhileTheDeviceRestartsAfterAFirmwareAttemptTheGroupsStayAsShown)
{
    // The worker has written firmware and let go of the device, which restarts: the window counts it present for
    // five seconds after the attempt. It comes back within them, or it does not.
    const struct { const char* what; bool marquee, comesBack; } table[] {
        { "mirroring the device, back", false, true },
        { "mirroring the device, gone", false, false },
        { "during the update's marquee, back", true, true },
        { "during the update's marquee, gone", true, false },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        plug (1, 2, 0);
        for (int g = 0; g < 3; ++g)
            setChoices (g, { calm, focus });
        setSlotCodes ({ 12, 13, 14, 15, 12, 13 });   // groups 1 and 0 hold Calm, group 2 Focus
        setSetting (wire::settingsDuration0, 20);
        setSetting (wire::settingsLevel0, 6);
        pass();

        if (row.marquee)
        {
            e().status = SyncStatus::updating;
            e().updatesPending = true;
            clock.advance (500);
            pass();
        }

        const auto columns = groupColumns (c());
        const juce::StringArray captions (c().programButtonText, 3);
        const int frame = c().updatingFrameCounter;
        ASSERT_NE (uiPalette[2], unavailable);
        ASSERT_EQ (c().durationButtonText[0], "20 min");
        ASSERT_EQ (captions[2], row.marquee ? marqueeFrame (frame) : juce::String ("Focus"));

        // As the worker leaves things once the device has gone: not open, no status, no sync.
        e().lastFirmwareAttempt = clock.nowMs();
        unplug();
        e().status = SyncStatus::noDevice;
        e().updatesPending = false;
        e().syncStep = 0;

        const int64_t holdEnd = row.comesBack ? 2500 : 4500;
        for (int64_t t = 500; t <= holdEnd; t += 500)
        {
            SCOPED_TRACE (juce::String (t) + " ms after the attempt");
            clock.advance (500);
            pass();
            EXPECT_TRUE (c().windowShown);
            EXPECT_EQ (groupColumns (c()), columns);

            // A marquee goes on turning: the update is not over.
            const int turns = row.marquee ? (int) (t / 500) : 0;
            EXPECT_EQ (c().updatingFrameCounter, frame + turns);
            for (int g = 0; g < 3; ++g)
                EXPECT_EQ (c().programButtonText[g], row.marquee ? marqueeFrame (frame + turns) : captions[g]) << g;
        }

        clock.advance (500);

        if (row.comesBack)
        {
            // Back on new firmware, holding other programs: the groups show the device again.
            plug (1, 2, 1, SyncStatus::connecting);
            setSlotCodes ({ 14, 15, 14, 15, 12, 13 });
            pass();
            clock.advance (500);
            pass();   // after a marquee, its end has emptied the captions for one pass

            EXPECT_EQ (c().firmwareVersionText, "1.2.1");
            EXPECT_EQ (c().programButtonText[0], "Calm");
            EXPECT_EQ (c().programButtonText[1], "Focus");
            for (int g = 0; g < 3; ++g)
            {
                EXPECT_NE (uiPalette[g], unavailable) << g;
                EXPECT_TRUE (c().programButtons[g].isVisible()) << g;
                EXPECT_TRUE (c().durationButtons[g].isVisible()) << g;
                EXPECT_EQ (c().programListModels[g].getNumRows(), 2) << g;
            }
        }
        else
        {
            // Five seconds after the attempt the device is gone: the groups go with it.
            pass();
            EXPECT_FALSE (c().windowShown);
            for (int g = 0; g < 3; ++g)
            {
                EXPECT_EQ (uiPalette[g], unavailable) << g;
                EXPECT_EQ (c().programButtonText[g], "") << g;
                EXPECT_EQ (c().durationButtonText[g], "") << g;
                EXPECT_EQ (c().programListModels[g].getNumRows(), 0) << g;
                EXPECT_FALSE (c().programButtons[g].isVisible()) << g;
            }
        }
    }
}

//==============================================================================
TEST_F (TimerPass, DurationListsAndTheirRequestsPerFirmwareByTheEnginesRules)
{
    const FirmwareVersion versions[] { { 1, 0, 10 }, { 1, 0, 14 }, { 1, 1, 3 }, { 1, 2, 0 }, { 2, 0, 0 } };

    for (const auto& v : versions)
    {
        for (int g = 0; g < 3; ++g)
        {
            const auto what = juce::String (v.major) + "." + juce::String (v.minor) + "." + juce::String (v.tertiary)
                              + " group " + juce::String (g);
            SCOPED_TRACE (what);
            rebuild();
            plug (v.major, v.minor, v.tertiary);
            pass();

            // The list: the standard durations within the firmware's range, narrowed by the server's limits (here
            // the defaults, 1..9999).
            const auto own = firmware::durationRange (v, g);
            const Range range { std::max (own.lo, 1), std::min (own.hi, 9999) };
            EXPECT_EQ (c().durationRangeMin[g], range.lo);
            EXPECT_EQ (c().durationRangeMax[g], range.hi);

            juce::StringArray expected;
            for (auto minutes : durationsWithin (range))
                expected.add (formatDurationMinutes (minutes));
            EXPECT_EQ (rowsOf (c().durationListModels[g]), expected);
            EXPECT_EQ (c().durationListState[g], expected.size() >= 2 ? dropdown::closed : dropdown::noList);

            if (expected.size() < 2)
                continue;

            // The last entry, as the device's coding of the group's duration, in the group's request entry.
            const int last = durationsWithin (range).back();
            clickRow (c().durationListModels[g], c().durationLists[g], expected.size() - 1);
            pass();

            const int field = firmware::durationFieldOf (g);
            const auto bytes = firmware::encodeDuration (g, last);
            EXPECT_TRUE (e().durationChanged[field]);
            EXPECT_EQ (e().requestedDuration[field].low, bytes.low);
            EXPECT_EQ (e().requestedDuration[field].high, bytes.high);
            EXPECT_EQ (c().durationButtonText[g], formatDurationMinutes (last));
            for (int other = 0; other < 3; ++other)
                EXPECT_EQ (e().durationChanged[other].load(), other == field) << "field " << other;
        }
    }
}

TEST_F (TimerPass, ADurationClickRequestsTheDurationWhileUpToDateAndNothingWhenItIsTheDevicesOwn)
{
    plug (1, 2, 0);
    setSetting (wire::settingsDuration0, 30);   // group 0: 30 minutes (bytes 14 and 15)
    e().limits.update ([] (auto& l) { l[0].durationMin = 5; l[0].durationMax = 100; });
    pass();

    const juce::StringArray expected { "5 min", "10 min", "15 min", "20 min", "25 min", "30 min", "35 min", "40 min",
                                       "45 min", "50 min", "55 min", "60 min", "1h 15m", "1h 30m" };
    ASSERT_EQ (rowsOf (c().durationListModels[0]), expected);
    EXPECT_EQ (c().durationButtonText[0], "30 min");
    EXPECT_EQ (c().durationLists[0].getSelectedRow(), 5);

    // 1h 30m: 30 minutes and 1 hour, in group 0's entry (1).
    clickRow (c().durationListModels[0], c().durationLists[0], 13);
    pass();
    EXPECT_TRUE (e().durationChanged[1]);
    EXPECT_EQ (e().requestedDuration[1].low, 30);
    EXPECT_EQ (e().requestedDuration[1].high, 1);
    EXPECT_EQ (c().durationButtonText[0], "1h 30m");

    // The device's own value again: the request lapses.
    clickRow (c().durationListModels[0], c().durationLists[0], 5);
    pass();
    EXPECT_FALSE (e().durationChanged[1]);

    // Outside up to date: the caption follows the click for the pass, nothing is requested.
    e().status = SyncStatus::noConnection;
    clickRow (c().durationListModels[0], c().durationLists[0], 0);
    pass();
    EXPECT_FALSE (e().durationChanged[1]);
    EXPECT_EQ (c().durationButtonText[0], "5 min");
    pass();
    EXPECT_EQ (c().durationButtonText[0], "30 min");
}

TEST_F (TimerPass, ADurationClickOnRowsThatChangedAppliesTheClickedDurationOrNothing)
{
    plug (1, 2, 0);
    setSetting (wire::settingsDuration1, 30);   // group 1
    e().limits.update ([] (auto& l) { l[1].durationMin = 10; });
    pass();
    ASSERT_EQ (c().durationListModels[1].names[2], "20 min");

    // The user clicks 20 min (row 2); the server's new limits put 1..5 minutes before it.
    clickRow (c().durationListModels[1], c().durationLists[1], 2);
    e().limits.update ([] (auto& l) { l[1].durationMin = 1; });
    pass();
    EXPECT_TRUE (e().durationChanged[0]);
    EXPECT_EQ (e().requestedDuration[0].low, 20) << "20 minutes, not the 3 now in row 2";
    EXPECT_EQ (c().durationButtonText[1], "20 min");
    EXPECT_EQ (c().durationLists[1].getSelectedRow(), 7);

    // A duration the new limits no longer offer is not applied.
    c().buttonClicked (&c().cancelButton);
    pass();
    ASSERT_EQ (c().durationListModels[1].names[12], "45 min");
    clickRow (c().durationListModels[1], c().durationLists[1], 12);
    e().limits.update ([] (auto& l) { l[1].durationMax = 40; });
    pass();
    EXPECT_FALSE (e().durationChanged[0]);
    EXPECT_EQ (c().durationButtonText[1], "30 min");
}

TEST_F (TimerPass, TheDurationListTakesItsNewRowsBeforeItsRowIsSelected)
{
    plug (1, 2, 0);
    setSetting (wire::settingsDuration1, 120);
    e().limits.update ([] (auto& l) { l[1].durationMax = 30; });
    pass();
    EXPECT_EQ (c().durationListModels[1].getNumRows(), 10);
    EXPECT_EQ (c().durationLists[1].getSelectedRow(), -1);

    // The range grows: 2 hours is row 19 of the new rows, past the old ten. It is selected in the same pass.
    e().limits.update ([] (auto& l) { l[1].durationMax = 9999; });
    pass();
    EXPECT_EQ (c().durationListModels[1].names[19], "2h 00m");
    EXPECT_EQ (c().durationLists[1].getSelectedRow(), 19);
    EXPECT_EQ (c().durationButtonText[1], "2h 00m");
}

//==============================================================================
TEST_F (TimerPass, LevelSlidersShowTheDevicesLevelWithinTheGroupsRange)
{
    const struct { const char* what; int major, minor, tertiary, group; uint8_t byte; int lo, hi; bool thumb;
                   int level; } table[] {
        { "1.2 group 0", 1, 2, 0, 0, 7, 1, 10, true, 7 },
        { "byte 64 is 2", 1, 2, 0, 0, 64, 1, 10, true, 2 },
        { "byte 65 is 3", 1, 2, 0, 0, 65, 1, 10, true, 3 },
        { "byte 32 is 1", 1, 2, 0, 1, 32, 1, 10, true, 1 },
        { "byte 129 is 4", 1, 2, 0, 2, 129, 1, 10, true, 4 },
        { "1.1 group 2: one level, 2", 1, 1, 0, 2, 9, 2, 3, false, 2 },
        { "1.0.12 group 1 adds 4", 1, 0, 12, 1, 0x80, 5, 8, true, 7 },
        { "1.0.11 group 1 runs 1..4", 1, 0, 11, 1, 0x80, 1, 4, true, 3 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        plug (row.major, row.minor, row.tertiary);
        setSetting (firmware::levelByteOf (row.group), row.byte);
        pass();

        const auto& slider = c().levelSliders[row.group];
        EXPECT_EQ (slider.getMinimum(), row.lo);
        EXPECT_EQ (slider.getMaximum(), row.hi);
        EXPECT_EQ (slider.getInterval(), 1.0);
        EXPECT_EQ (slider.findColour (juce::Slider::thumbColourId).getARGB(), row.thumb ? 0xffd3d3d3u : 0x00ffffffu);
        EXPECT_EQ (slider.getValue(), juce::jlimit (slider.getMinimum(), slider.getMaximum(), (double) row.level));
        EXPECT_EQ (c().levelLabels[row.group].getText(), juce::String (row.level));
    }

    // A group the device does not have: no level shown.
    rebuild();
    plug (1, 0, 13);
    pass();
    EXPECT_EQ (uiPalette[2], unavailable);
    EXPECT_EQ (c().levelLabels[2].getText(), "");
    EXPECT_FALSE (c().levelSliders[2].isVisible());

    // Neither while the user drags nor while the user edits does the device's level replace the slider's.
    rebuild();
    plug (1, 2, 0);
    setSetting (wire::settingsLevel0, 4);
    pass();
    setSetting (wire::settingsLevel0, 8);
    c().userDragging = true;
    pass();
    EXPECT_EQ (c().levelSliders[0].getValue(), 4.0);
    c().userDragging = false;
    e().levelChanged[1] = true;
    pass();
    EXPECT_EQ (c().levelSliders[0].getValue(), 4.0);
    e().levelChanged[1] = false;
    pass();
    EXPECT_EQ (c().levelSliders[0].getValue(), 8.0);
    EXPECT_EQ (c().levelLabels[0].getText(), "8");
}

TEST_F (TimerPass, SaveAndCancelShowWhileTheUserEditsUnlessTheEngineIsBusy)
{
    const struct { bool pending, saving; int status; bool present; bool shown; } table[] {
        { false, false, SyncStatus::upToDate, true, false },
        { true, false, SyncStatus::upToDate, true, true },
        { true, true, SyncStatus::upToDate, true, false },   // the save is on its way
        { true, false, SyncStatus::connecting, true, false },
        { true, false, SyncStatus::updating, true, false },
        { true, false, SyncStatus::noConnection, true, true },
        { true, false, SyncStatus::error, true, true },
        { true, false, SyncStatus::upToDate, false, false },  // no device
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (juce::String (row.status) + (row.pending ? " pending" : "") + (row.saving ? " saving" : "")
                      + (row.present ? "" : " absent"));
        plug (1, 2, 0, row.status);
        if (! row.present)
            unplug();
        e().packageChoicePending = row.pending;
        e().settingsDirty = row.saving;
        pass();
        EXPECT_EQ (c().saveButton.isVisible(), row.shown);
        EXPECT_EQ (c().cancelButton.isVisible(), row.shown);
    }
}

} // namespace olvo
