#pragma once

#include <juce_graphics/juce_graphics.h>

#include <vector>

namespace olvo
{

//==============================================================================
/**
    Where the main window's children go and where its program-group panels are painted, as fractions of the
    window's width W and height H (the window keeps an aspect ratio of 1.5).

    (int) (f x W) truncates towards zero; a formula that mixes terms is computed in floating point and truncated
    once. The three panels sit side by side between margins of 0.05 W, 0.03 W apart, from 0.33 H down for 0.43 H;
    each panel's bottom band (0.11 H) holds the duration dropdown and the level number.
*/
struct MainLayout
{
    int width = 0, height = 0;

    int x0 = 0;        ///< left margin, (int) (0.05 W)
    int gap = 0;       ///< between panels, (int) (0.03 W)
    int colW = 0;      ///< panel width, ((int) (0.9 W) - 2 gap) / 3
    int pitch = 0;     ///< colW + gap
    int T = 0;         ///< panel top, (int) (0.33 H)
    int R = 0;         ///< panel height, (int) (0.43 H)
    int d = 0;         ///< height of a panel's bottom band, (int) (0.11 H)
    int outline = 1;   ///< outline of every dropdown list: 2 when W > 800, else 1
    int rowH = 0;      ///< row height of the program and duration lists, (int) (0.36 H / 10) in single precision

    /** Left edge of panel g. */
    int x (int g) const { return x0 + g * pitch; }

    //==============================================================================
    // Children.
    juce::Rectangle<int> packageButton, infoButton, helpButton, linkButton, fillerTextButton, fillerImageButton;
    juce::Rectangle<int> programLists[3], levelSliders[3], programButtons[3], durationButtons[3], levelLabels[3],
                         durationLists[3];
    juce::Rectangle<int> batteryDisplay, netDisplay, saveButton, cancelButton, webView;

    float tooltipFontHeight = 0;      ///< 0.03 H
    float levelLabelFontHeight = 0;   ///< 0.8 x 0.64 d (the duration dropdown's height, before rounding)

    //==============================================================================
    // Painting, per panel g.
    juce::Rectangle<int> panel (int g) const           { return { x (g), T, colW, R }; }
    juce::Rectangle<int> shadowArea (int g) const      { return { x (g) - x0 / 2, T, colW + x0, R }; }
    juce::Rectangle<float> band (int g) const;         ///< the bottom band (round bottom corners only)
    float cornerSize() const                           { return 0.01f * (float) width; }
    float badgeRadius() const                          { return 0.02f * (float) width; }
    juce::Point<float> badgeCentre (int g) const;
    float groupIconSize() const                        { return 1.5f * badgeRadius(); }
    juce::Rectangle<float> smallSun (int g) const;
    juce::Rectangle<float> largeSun (int g) const;
    juce::Rectangle<int> durationCaption (int g) const;
    juce::Rectangle<int> levelCaption (int g) const;
    float captionFontHeight() const                    { return 0.03f * (float) height; }
};

/** Bit g set: program group g is available (its colour is not -1). */
using GroupMask = int;

/** The layout at a size; the filler image takes the place of the panels that are missing: the whole row with no
    group, panels 1 and 2 with only group 0, panels 0 and 1 with only group 2, and is out of sight otherwise. */
MainLayout computeMainLayout (int width, int height, GroupMask availableGroups);

/** Width a package row needs: its thumbnail scaled to the row height less 2 (none unless taller than 1 pixel) and
    its name's width rounded up. */
int packageRowWidth (int imageWidth, int imageHeight, float nameWidth, int rowHeight);

/** Row height of the package list, (int) (0.09 H). */
int packageRowHeight (int height);

/** The package list below its button: rows of packageRowHeight, as many as fit in 0.9 H but at least two rows high;
    as wide as its widest row (at least 4 rows' heights) plus 4, at most 0.9 W; plus the outline on each side. */
juce::Rectangle<int> packageListBounds (const MainLayout& layout, int rows, const std::vector<int>& rowWidths);

} // namespace olvo
