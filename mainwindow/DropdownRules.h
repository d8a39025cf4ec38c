#pragma once

#include "engine/OlvoThread.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace olvo
{

//==============================================================================
/** The main window's seven dropdowns (a button with a list below it that is shown and hidden by hand), as plain
    rules over their state values. */
namespace dropdown
{
    /** Dropdown indexes: 0..2 the program list of group 0..2, 3..5 the duration list of group 0..2, 6 the packages. */
    constexpr int noneOpen = -1;
    constexpr int package = 6;
    constexpr int count = 7;
    constexpr int program (int group)  { return group; }
    constexpr int duration (int group) { return group + 3; }

    /** A list state: the triangle the button shows. */
    enum State : int32_t
    {
        open = -1,     ///< list shown, triangle pointing up
        noList = 0,    ///< nothing to choose, no triangle
        closed = 1     ///< triangle pointing down
    };

    /** What a click on a dropdown's button does to the list. */
    enum class ListAction { none, show, hide };

    struct Toggle
    {
        int32_t state = noList;          ///< the dropdown's new state
        int32_t openDropdown = noneOpen;     ///< the window's new open dropdown
        ListAction action = ListAction::none;
    };

    /** A click on the button of dropdown `index`: an open list closes (and stops being the open one); a closed one
        opens when no other list is open; anything else (no list, or another list open) changes nothing. */
    Toggle toggle (int32_t state, int32_t openDropdown, int index);

    /** The state after the list has been closed from outside (an open list becomes closed; others keep theirs). */
    constexpr int32_t stateAfterClosing (int32_t state) { return state == open ? (int32_t) closed : state; }

    /** A press at a position relative to a component of the given size counts as inside it with both bounds
        included. */
    constexpr bool pressIsInside (int x, int y, int width, int height)
    {
        return 0 <= x && x <= width && 0 <= y && y <= height;
    }

    /** The list state of a program or duration list with this many rows: 0 for fewer than 2, else closed unless
        open. */
    constexpr int32_t stateForRows (int32_t state, int rows)
    {
        return rows < 2 ? (int32_t) noList : (state == noList ? (int32_t) closed : state);
    }
}

//==============================================================================
/** Which of a group's program choices the device holds, and which slots to erase for a group without programs. */
namespace loadedProgram
{
    /** The device slots (inclusive) a program group's programs occupy. */
    struct SlotRange
    {
        int first = 0, last = -1;
        bool isEmpty() const { return last < first; }
    };

    /** Before firmware 1.2.0: group 0 slots 4..5, group 1 slots 0..3, no others; from 1.2.0 (or a text that is not
        a three-part version): group 0 slots 4..5, group 1 slots 0..1, group 2 slots 2..3. Other groups: none. */
    SlotRange slotsOf (int group, const juce::String& firmwareText);

    /** The slots' program codes as the window takes them: the device's table while it is open, else all 0. */
    using SlotCodes = std::array<int32_t, wire::slotCount>;

    /** The index of the first choice with the highest score, -1 when none scores: a choice scores one for each slot of
        the group whose code equals its first frequency file, and one for each that equals its second. */
    int bestMatch (int group, const std::vector<ProgramChoice>& choices, const juce::String& firmwareText,
                   const SlotCodes& codes);

    /** The engine state the erase rule reads. */
    struct EraseConditions
    {
        bool saveInFlight = false;      ///< choiceDirty or settingsDirty
        bool requestPending = false;    ///< a duration, level, program or package request is pending
        bool devicePresent = false;     ///< open, or within the grace after a firmware attempt
        int status = SyncStatus::noDevice;
    };

    /** The slots to erase (bit s for slot s) for a group whose program list is empty: those of the group's slots
        that hold a program (code not 0), when the device is present and up to date and the user is not editing
        (a save in flight, or nothing pending). */
    int32_t eraseMask (int group, const juce::String& firmwareText, const SlotCodes& codes,
                       const EraseConditions& conditions);
}

} // namespace olvo
