// The main window's content: the timer pass's program-group steps. While the device is present the program,
// duration and level controls mirror the device and the server, or keep what the user chose while the user is
// editing, and the user's choices in the lists become requests for the engine.

#include "MainComponent.h"

#include "DurationTexts.h"
#include "TimerRules.h"
#include "UiHelpers.h"

#include "look/Palette.h"

namespace olvo
{

namespace
{
    constexpr juce::uint32 unavailable = 0xffffffff;
    constexpr juce::uint32 visibleThumb = 0xffd3d3d3, hiddenThumb = 0x00ffffff;
    constexpr int64_t defaultChoiceHoldOffMs = 3000;   // after SAVE, the captions keep the user's choice this long

    /** The index of the first choice with this config id, or -1. */
    int indexOfConfigId (const std::vector<ProgramChoice>& choices, int configId)
    {
        for (size_t i = 0; i < choices.size(); ++i)
            if (choices[i].configId == configId)
                return (int) i;
        return -1;
    }

    bool marqueeRuns (const EngineSnapshot& s)
    {
        return s.present && s.status == SyncStatus::updating && s.updatesPending;
    }
}

void MainComponent::programGroupSteps (EngineSnapshot& s)
{
    firmwareCaptionStep (s);
    groupColoursStep (s);

    bool defaultChosen = false;
    for (int g = 0; g < 3; ++g)
        defaultChosen = programListStep (g, s) || defaultChosen;

    marqueeStep (s);
    defaultChoiceStep (defaultChosen, s);
    durationRangesStep (s);

    for (int g = 0; g < 3; ++g)
        durationListStep (g, s);

    levelsAndSaveStep (s);
}

void MainComponent::firmwareCaptionStep (const EngineSnapshot& s)
{
    if (s.firmwareText == firmwareVersionText)
        return;

    firmwareVersionText = s.firmwareText;
    if (compareVersion (firmwareVersionText, 2, 0) < 0)
        programButtonText[2] = olderFirmwareGroup2Caption (firmwareVersionText);
}

void MainComponent::groupColoursStep (const EngineSnapshot& s)
{
    bool differs = false;
    for (int g = 0; g < 3; ++g)
        differs = differs || (juce::uint32) s.groupColours[g] != uiPalette[g];

    if (! differs)
        return;

    for (int g = 0; g < 3; ++g)
    {
        uiPalette[g] = (juce::uint32) s.groupColours[g];
        levelSliders[g].setColour (juce::Slider::trackColourId, juce::Colour (uiPalette[g]));
    }

    if (uiPalette[2] == unavailable)
    {
        programButtonText[2] = {};
        durationButtonText[2] = {};
    }

    for (int g = 0; g < 3; ++g)
    {
        renderDropdownOf (dropdown::program (g));
        renderDropdownOf (dropdown::duration (g));
    }

    layoutDirty = true;
}

bool MainComponent::programListStep (int g, EngineSnapshot& s)
{
    auto& model = programListModels[g];
    auto& list = programLists[g];

    // A click is taken against the rows the user saw (this list's rows since the last pass): it names a program
    // by its id, whatever row that program has in the rows the server sends now.
    std::optional<int> clickedConfigId;
    if (const auto clicked = model.takeClick(); juce::isPositiveAndBelow (clicked, (int) shownProgramChoices[g].size()))
        clickedConfigId = shownProgramChoices[g][(size_t) clicked].configId;

    auto copy = s.programChoices[(size_t) g];
    if (g == 2 && ! s.firmware.newerThan11())
        copy.clear();   // before 1.2 the device has no group-2 programs of the server's

    shownProgramChoices[g] = copy;

    if (copy.empty())
    {
        if (g == 2 && compareVersion (firmwareVersionText, 2, 0) < 0)
        {
            programButtonText[g] = olderFirmwareGroup2Caption (firmwareVersionText);
        }
        else if (s.present && s.status == SyncStatus::upToDate)
        {
            findLoadedProgram (g, copy, firmwareVersionText, s);
            programButtonText[g] = "[Empty]";
        }
        else
        {
            programButtonText[g] = {};
        }

        if (model.setRows ({}, {}))
        {
            list.updateContent();
            list.repaint();
        }
        settleListState (dropdown::program (g), 0);
        return false;
    }

    juce::StringArray names, details;
    for (const auto& choice : copy)
    {
        names.add (choice.name);
        details.add (choice.description);
    }

    if (model.setRows (names, details))
    {
        list.updateContent();
        list.repaint();
    }

    const int loaded = findLoadedProgram (g, copy, firmwareVersionText, s);
    const int row = clickedConfigId ? indexOfConfigId (copy, *clickedConfigId) : -1;

    if (row >= 0)
    {
        defaultChoiceRequests.forget (g);

        if (s.status == SyncStatus::upToDate)
        {
            thread->chosenConfigId[g] = copy[(size_t) row].configId;
            thread->updateProgramChoice[g] = row != loaded;
            s.noteOwnRequests (*thread);
        }

        programButtonText[g] = copy[(size_t) row].name;
        list.selectRow (row);
    }
    else if (! s.editing())
    {
        list.selectRow (loaded);
    }

    // The caption while mirroring: the program the device holds, or, when it holds none of the list, the first
    // one, which is then requested (and saved with the others at the end of the program lists) once for this
    // device and list.
    bool defaultChosen = false;
    const bool updating = s.present && s.status == SyncStatus::updating;

    if (! s.editing() && ! updating && s.now > lastSaveAt + defaultChoiceHoldOffMs)
    {
        if (loaded < 0)
        {
            // A request is written only while up to date, as every other request is.
            if (s.status == SyncStatus::upToDate && defaultChoiceRequests.mayRequest (g, copy))
            {
                thread->chosenConfigId[g] = copy[0].configId;
                thread->updateProgramChoice[g] = true;
                defaultChosen = true;
            }
            programButtonText[g] = copy[0].name;
        }
        else
        {
            programButtonText[g] = copy[(size_t) loaded].name;
        }
    }

    settleListState (dropdown::program (g), (int) copy.size());
    return defaultChosen;
}

void MainComponent::marqueeStep (const EngineSnapshot& s)
{
    if (marqueeRuns (s))
    {
        turnMarquee();
    }
    else
    {
        // The marquee has ended: no group keeps a frame of it.
        if (updatingFrameCounter != 0)
            for (auto& caption : programButtonText)
                caption = {};
        updatingFrameCounter = 0;
    }

    for (int g = 0; g < 3; ++g)
        renderDropdownOf (dropdown::program (g));
}

void MainComponent::turnMarquee()
{
    ++updatingFrameCounter;
    const auto frame = marqueeFrame (updatingFrameCounter);
    for (int g = 0; g < 3; ++g)
    {
        programButtonText[g] = frame;
        settleListState (dropdown::program (g), 0);
    }
}

void MainComponent::defaultChoiceStep (bool defaultChosen, EngineSnapshot& s)
{
    if (! defaultChosen)
        return;

    thread->requestSave();   // as SAVE
    s.noteOwnRequests (*thread);
}

void MainComponent::durationRangesStep (const EngineSnapshot& s)
{
    bool changed = false;

    for (int g = 0; g < 3; ++g)
    {
        const auto range = windowDurationRange (s.deviceOpen, s.firmware, g, s.limits[(size_t) g]);
        changed = changed || range.lo != durationRangeMin[g] || range.hi != durationRangeMax[g];
        durationRangeMin[g] = range.lo;
        durationRangeMax[g] = range.hi;
    }

    if (changed)
        layoutDirty = true;
}

void MainComponent::durationListStep (int g, EngineSnapshot& s)
{
    auto& model = durationListModels[g];
    auto& list = durationLists[g];

    // The duration the user clicked, read from the rows the user saw.
    std::optional<int> clickedMinutes;
    if (const auto clicked = model.takeClick(); clicked >= 0)
        clickedMinutes = parseDurationMinutes (model.names[clicked]);

    const int deviceValue = firmware::presentDuration (s.firmware, s.settings.data(), g);
    int value = s.editing() ? parseDurationMinutes (durationButtonText[g]) : deviceValue;

    const Range range { durationRangeMin[g], durationRangeMax[g] };
    const auto offered = durationsWithin (range);

    juce::StringArray names;
    int selected = -1, clickedRow = -1;
    for (const auto minutes : offered)
    {
        if (minutes == value)
            selected = names.size();
        if (clickedMinutes && minutes == *clickedMinutes)
            clickedRow = names.size();
        names.add (formatDurationMinutes (minutes));
    }

    // The list takes its new rows before a row is selected in it.
    if (model.setRows (names, {}))
        list.updateContent();
    settleListState (dropdown::duration (g), names.size());

    if (clickedRow >= 0 && clickedRow != selected)
    {
        if (s.status == SyncStatus::upToDate)
        {
            const int requested = std::min (std::max (*clickedMinutes, range.lo), range.hi);
            const int field = firmware::durationFieldOf (g);
            const auto bytes = firmware::encodeDuration (g, requested);

            thread->requestedDuration[field].low = bytes.low;
            thread->requestedDuration[field].high = bytes.high;
            thread->durationChanged[field] = deviceValue != requested;
            s.noteOwnRequests (*thread);
        }

        value = *clickedMinutes;
        list.selectRow (clickedRow);
    }
    else if (selected >= 0 && ! s.editing())
    {
        list.selectRow (selected);
    }

    durationButtonText[g] = uiPalette[g] == unavailable ? juce::String() : formatDurationMinutes (value);
    renderDropdownOf (dropdown::duration (g));
}

void MainComponent::levelsAndSaveStep (const EngineSnapshot& s)
{
    for (int g = 0; g < 3; ++g)
    {
        const auto range = s.brightness[g];
        const bool fixed = range.lo == range.hi;
        const double lo = range.lo, hi = fixed ? range.lo + 1 : range.hi;

        auto& slider = levelSliders[g];
        if (slider.getMinimum() != lo || slider.getMaximum() != hi || slider.getInterval() != 1.0)
            slider.setRange (lo, hi, 1.0);
        slider.setColour (juce::Slider::thumbColourId, juce::Colour (fixed ? hiddenThumb : visibleThumb));
    }

    if (! s.editing() && ! userDragging && s.deviceOpen)
    {
        for (int g = 0; g < 3; ++g)
        {
            const int level = firmware::presentLevel (s.firmware, s.settings.data(), g);
            levelSliders[g].setValue (level, juce::dontSendNotification);
            levelLabels[g].setText (uiPalette[g] == unavailable ? juce::String() : juce::String (level),
                                    juce::dontSendNotification);
        }
    }

    const bool busy = s.present && (s.status == SyncStatus::connecting || s.status == SyncStatus::updating);
    const bool offerSave = s.editing() && ! busy;
    saveButton.setVisible (offerSave);
    cancelButton.setVisible (offerSave);
}

void MainComponent::groupVisibilityStep (const EngineSnapshot& s)
{
    const bool updating = marqueeRuns (s);

    for (int g = 0; g < 3; ++g)
    {
        const bool available = uiPalette[g] != unavailable;
        programButtons[g].setVisible (available);
        durationButtons[g].setVisible (available && ! updating);
        levelLabels[g].setVisible (available && ! updating);
        levelSliders[g].setVisible (available && ! updating);
    }
}

void MainComponent::restartHoldStep()
{
    // The device restarts into its new firmware (or back from a failed attempt) and comes back within the grace, or
    // it has gone and the absent path clears the groups once the grace is over. Meanwhile the engine has let go of
    // it and reports no groups, no firmware and no settings: taken for the device's, they would make the three
    // columns vanish and come back. What the user was shown stays, and an update's marquee goes on turning.
    if (updatingFrameCounter == 0)
        return;

    turnMarquee();
    for (int g = 0; g < 3; ++g)
        renderDropdownOf (dropdown::program (g));
}

} // namespace olvo
