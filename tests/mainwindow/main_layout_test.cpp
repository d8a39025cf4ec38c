#include "mainwindow/MainLayout.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    using Box = juce::Rectangle<int>;
    constexpr GroupMask allGroups = 7;
}

TEST (MainLayout, AtTheDefaultSize)
{
    const auto l = computeMainLayout (702, 468, allGroups);

    EXPECT_EQ (l.x0, 35);
    EXPECT_EQ (l.gap, 21);
    EXPECT_EQ (l.colW, 196);
    EXPECT_EQ (l.pitch, 217);
    EXPECT_EQ (l.T, 154);
    EXPECT_EQ (l.R, 201);
    EXPECT_EQ (l.d, 51);
    EXPECT_EQ (l.outline, 1);
    EXPECT_EQ (l.rowH, 16);
    EXPECT_FLOAT_EQ (l.tooltipFontHeight, 14.04f);
    EXPECT_FLOAT_EQ (l.levelLabelFontHeight, 26.112f);

    EXPECT_EQ (l.packageButton, Box (35, 4, 631, 42));
    EXPECT_EQ (l.infoButton, Box (568, 407, 42, 42));
    EXPECT_EQ (l.helpButton, Box (624, 407, 42, 42));
    EXPECT_EQ (l.linkButton, Box (512, 369, 154, 32));
    EXPECT_EQ (l.fillerTextButton, Box (245, 369, 210, 32));
    EXPECT_EQ (l.fillerImageButton, Box (772, 154, 0, 201));   // every group there: out of sight

    const int listX[3] { 35, 175, 315 };
    const int panelX[3] { 35, 252, 469 };
    for (int g = 0; g < 3; ++g)
    {
        EXPECT_EQ (l.programLists[g], Box (listX[g], 242, 351, 162)) << g;
        EXPECT_EQ (l.levelSliders[g], Box (panelX[g] + 39, 244, 117, 40)) << g;
        EXPECT_EQ (l.programButtons[g], Box (panelX[g], 214, 196, 28)) << g;
        EXPECT_EQ (l.durationButtons[g], Box (panelX[g] + 52, 313, 82, 32)) << g;
        EXPECT_EQ (l.levelLabels[g], Box (panelX[g] + 166, 313, 25, 32)) << g;
        EXPECT_EQ (l.durationLists[g], Box (panelX[g], 154, 68, 220)) << g;
        EXPECT_EQ (l.panel (g), Box (panelX[g], 154, 196, 201)) << g;
        EXPECT_EQ (l.shadowArea (g), Box (panelX[g] - 17, 154, 231, 201)) << g;
    }

    EXPECT_EQ (l.batteryDisplay, Box (35, 414, 154, 28));
    EXPECT_EQ (l.netDisplay, Box (210, 409, 210, 37));
    EXPECT_EQ (l.saveButton, Box (377, 411, 70, 32));     // ends at the middle panel's right edge (448 = 252 + 196)
    EXPECT_EQ (l.cancelButton, Box (469, 411, 70, 32));   // starts at the right panel's left edge
    EXPECT_EQ (l.webView, Box (0, 0, 702, 402));

    // Painting: the sun squares (s2 = 28), the captions of the bottom band.
    EXPECT_EQ (l.smallSun (0), juce::Rectangle<float> (44.8f, 250.0f, 28.0f, 28.0f));
    EXPECT_EQ (l.largeSun (0), juce::Rectangle<float> (193.2f, 250.0f, 28.0f, 28.0f));
    EXPECT_EQ (l.durationCaption (1), Box (252, 304, 58, 51));
    EXPECT_EQ (l.levelCaption (1), Box (391, 304, 25, 51));
    EXPECT_EQ (l.badgeCentre (2), juce::Point<float> (567.0f, 194.2f));
}

TEST (MainLayout, AtALargeSize)
{
    const auto l = computeMainLayout (1800, 1200, allGroups);

    EXPECT_EQ (l.x0, 90);
    EXPECT_EQ (l.gap, 54);
    EXPECT_EQ (l.colW, 504);
    EXPECT_EQ (l.pitch, 558);
    EXPECT_EQ (l.T, 396);
    EXPECT_EQ (l.R, 516);
    EXPECT_EQ (l.d, 132);
    EXPECT_EQ (l.outline, 2);
    EXPECT_EQ (l.rowH, 43);

    EXPECT_EQ (l.packageButton, Box (90, 12, 1620, 108));
    EXPECT_EQ (l.infoButton, Box (1458, 1044, 108, 108));
    EXPECT_EQ (l.helpButton, Box (1602, 1044, 108, 108));
    EXPECT_EQ (l.linkButton, Box (1314, 948, 396, 84));
    EXPECT_EQ (l.programLists[1], Box (450, 623, 900, 434));
    EXPECT_EQ (l.levelSliders[0], Box (190, 628, 302, 103));
    EXPECT_EQ (l.programButtons[2], Box (1206, 550, 504, 72));
    EXPECT_EQ (l.durationButtons[1], Box (784, 803, 211, 84));
    EXPECT_EQ (l.levelLabels[2], Box (1634, 803, 65, 84));
    EXPECT_EQ (l.durationLists[0], Box (90, 396, 176, 564));
    EXPECT_EQ (l.batteryDisplay, Box (90, 1062, 396, 72));
    EXPECT_EQ (l.netDisplay, Box (540, 1050, 540, 96));
    EXPECT_EQ (l.saveButton, Box (972, 1056, 180, 84));
    EXPECT_EQ (l.cancelButton, Box (1206, 1056, 180, 84));
    EXPECT_EQ (l.webView, Box (0, 0, 1800, 1032));
}

TEST (MainLayout, ListOutlinesGrowAboveAWidthOf800)
{
    EXPECT_EQ (computeMainLayout (800, 533, allGroups).outline, 1);
    const auto wide = computeMainLayout (801, 534, allGroups);
    EXPECT_EQ (wide.outline, 2);
    EXPECT_EQ (wide.programLists[0].getHeight(), 10 * wide.rowH + 4);
}

TEST (MainLayout, TheFillerImageTakesThePlaceOfTheMissingPanels)
{
    const struct { GroupMask groups; Box filler; } table[] {
        { 0, Box (35, 154, 631, 201) },     // no group: the whole row
        { 1, Box (252, 154, 413, 201) },    // only group 0: panels 1 and 2
        { 4, Box (35, 154, 413, 201) },     // only group 2: panels 0 and 1
        { 3, Box (772, 154, 0, 201) },      // any other combination: out of sight
        { 2, Box (772, 154, 0, 201) },
        { 5, Box (772, 154, 0, 201) },
        { 7, Box (772, 154, 0, 201) },
    };
    for (const auto& row : table)
        EXPECT_EQ (computeMainLayout (702, 468, row.groups).fillerImageButton, row.filler) << row.groups;
}

TEST (MainLayout, ThePackageListFitsItsRows)
{
    const auto l = computeMainLayout (702, 468, allGroups);   // row height (int) (0.09 x 468) = 42
    ASSERT_EQ (packageRowHeight (468), 42);

    // Empty: two rows high and four rows' heights wide, plus 4, plus the outline.
    EXPECT_EQ (packageListBounds (l, 0, {}), Box (35, 46, 4 * 42 + 4 + 2, 2 * 42 + 2));
    EXPECT_EQ (packageListBounds (l, 3, { 100, 300, 250 }), Box (35, 46, 304 + 2, 3 * 42 + 2));
    // At most 0.9 W wide and 0.9 H high.
    EXPECT_EQ (packageListBounds (l, 100, { 5000 }), Box (35, 46, 631 + 2, 421 + 2));

    // A row: its thumbnail scaled to the row height less 2 (when taller than 1 pixel), and its name rounded up.
    EXPECT_EQ (packageRowWidth (200, 100, 50.2f, 42), 80 + 51);
    EXPECT_EQ (packageRowWidth (200, 1, 50.0f, 42), 50);
    EXPECT_EQ (packageRowWidth (0, 0, 0.0f, 42), 0);

    const auto none = computeMainLayout (0, 0, allGroups);
    EXPECT_EQ (packageListBounds (none, 2, { 100 }), Box (0, 0, 2, 2));
}

} // namespace olvo
