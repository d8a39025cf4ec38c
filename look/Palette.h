#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <array>
#include <cstdint>

namespace olvo
{

//==============================================================================
/** The eight ARGB colours every window draws with.

    0..2  the program groups' colours, refreshed from the engine; 0xffffffff (-1) marks a group that is not available
    3     background of the window and of the standard widgets; the package dropdown button
    4     program dropdown buttons; fill of the group panels
    5     text of the widgets, the level labels and every dropdown button
    6     grey text and lines
    7     filler image button; shadow of the group panels

    Entries 3..7 never change. Message thread only.
*/
extern juce::uint32 uiPalette[8];

/** The palette's values at start. */
constexpr std::array<juce::uint32, 8> uiPaletteStart { 0xffffffff, 0xffffffff, 0xffffffff, 0xfff1f7fa,
                                                       0xffffffff, 0xff000000, 0xff7d8c92, 0xffe2e8f2 };

/** Background of the duration dropdown buttons and the level labels, and the inner panel colour (the same value as
    entry 3 of the palette, kept apart). */
constexpr juce::uint32 dropdownBackgroundColour = 0xfff1f7fa;

/** Sets the main window's colour scheme on a look-and-feel: the tooltip, window, label, text button, text editor,
    list box, scroll bar, combo box and popup menu colours, from the palette's entries 3 and 5. */
void setWindowColours (juce::LookAndFeel& lookAndFeel);

/** Sets the menu-bar menu's two colours on a look-and-feel. */
void setMenuColours (juce::LookAndFeel& lookAndFeel);

} // namespace olvo
