#include "mainwindow/UiHelpers.h"

#include <gtest/gtest.h>

namespace olvo
{

TEST (CompareVersion, AgainstOneMinorTertiary)
{
    const struct { const char* version; int minor, tertiary, expected; } table[] {
        { "1.2.0", 2, 0, 0 },
        { "1.2.1", 2, 0, 1 },
        { "1.1.9", 2, 0, -1 },
        { "1.0.14", 0, 14, 0 },
        { "1.0.13", 0, 14, -1 },
        { "2.0.0", 9, 9, 1 },        // the major decides, whatever the rest
        { "0.9.9", 0, 0, -1 },
        { "", 2, 0, 1 },             // fewer than three parts count as newer
        { "1.2", 2, 0, 1 },
        { "1..2", 2, 0, -1 },        // an empty part is still a part, and reads as 0
        { "1.2.0.7", 2, 0, 0 },      // parts after the third are ignored
        { "1.2.x", 2, 0, 0 },        // a part without digits reads as 0
        { " 1.+2.0", 2, 0, 0 },      // atoi's leading spaces and sign
        { "1.2.3abc", 2, 3, 0 },
        { "1.-1.0", 0, 0, -1 },
    };

    for (const auto& row : table)
        EXPECT_EQ (compareVersion (row.version, row.minor, row.tertiary), row.expected)
            << row.version << " against 1." << row.minor << "." << row.tertiary;
}

TEST (CompareVersion, HugeNumbersSaturateInsteadOfOverflowing)
{
    // Read with an overflowing conversion these could wrap to anything; clamped they stay the largest values.
    EXPECT_EQ (compareVersion ("99999999999999999999.0.0", 0, 0), 1);
    EXPECT_EQ (compareVersion ("-99999999999999999999.0.0", 0, 0), -1);
    EXPECT_EQ (compareVersion ("1.99999999999999999999.0", 2, 0), 1);
    EXPECT_EQ (compareVersion ("1.2.99999999999999999999", 2, 0), 1);
    EXPECT_EQ (compareVersion ("1.2.2147483647", 2, 2147483647), 0);
}

} // namespace olvo

//==============================================================================
namespace olvo
{

TEST (DownscaleByHalving, HalvesWhileTheGoverningSideIsMoreThanTwiceItsTarget)
{
    const struct { int w, h, tw, th, expectedW, expectedH; } table[] {
        { 1000, 400, 100, 100, 125, 50 },    // width governs: 1000 -> 500 -> 250 -> 125
        { 400, 1000, 100, 100, 50, 125 },    // height governs
        { 800, 400, 200, 100, 400, 200 },    // equal ratios: the width governs, and 400 is not more than twice 200
        { 300, 300, 100, 100, 150, 150 },
        { 1000, 1, 10, 10, 15, 1 },          // a side of 1 stays 1, never 0
        { 1, 1000, 10, 10, 1, 15 },
    };

    for (const auto& row : table)
    {
        const juce::Image source (juce::Image::ARGB, row.w, row.h, true);
        const auto result = downscaleByHalving (source, row.tw, row.th);
        EXPECT_EQ (result.getWidth(), row.expectedW) << row.w << "x" << row.h;
        EXPECT_EQ (result.getHeight(), row.expectedH) << row.w << "x" << row.h;
    }
}

TEST (DownscaleByHalving, ReturnsTheSourceItselfWhenThereIsNothingToDo)
{
    const juce::Image small (juce::Image::ARGB, 150, 150, true);
    EXPECT_TRUE (downscaleByHalving (small, 100, 100) == small);   // within twice the target: the same image
    EXPECT_TRUE (downscaleByHalving (small, 500, 500) == small);   // never enlarged
    EXPECT_TRUE (downscaleByHalving (small, 0, 100) == small);     // a target below 1
    EXPECT_TRUE (downscaleByHalving (small, 100, -3) == small);
    EXPECT_TRUE (downscaleByHalving ({}, 10, 10).isNull());
}

TEST (DownscaleByHalving, KeepsTheLookOfTheImage)
{
    juce::Image source (juce::Image::ARGB, 400, 400, true);
    {
        juce::Graphics g (source);
        g.fillAll (juce::Colours::red);
        g.setColour (juce::Colours::blue);
        g.fillRect (200, 0, 200, 400);
    }
    const auto result = downscaleByHalving (source, 50, 50);
    ASSERT_EQ (result.getWidth(), 100);
    EXPECT_EQ (result.getPixelAt (10, 50), juce::Colour (juce::Colours::red));
    EXPECT_EQ (result.getPixelAt (90, 50), juce::Colour (juce::Colours::blue));
}

TEST (SetIconButtonImages, ThreeImagesWithAMarginAndRoundedBackdrops)
{
    juce::Image icon (juce::Image::ARGB, 24, 24, true);
    icon.clear (icon.getBounds(), juce::Colours::red);

    juce::ImageButton button;
    button.setWantsKeyboardFocus (true);
    setIconButtonImages (button, icon);

    const auto normal = button.getNormalImage();
    const auto over = button.getOverImage();
    const auto down = button.getDownImage();

    for (const auto* image : { &normal, &over, &down })
    {
        EXPECT_EQ (image->getWidth(), 40);
        EXPECT_EQ (image->getHeight(), 40);
        EXPECT_EQ (image->getPixelAt (8, 8), juce::Colour (juce::Colours::red));    // the icon at (8, 8)
        EXPECT_EQ (image->getPixelAt (31, 31), juce::Colour (juce::Colours::red));
        EXPECT_EQ (image->getPixelAt (0, 0).getAlpha(), 0);                        // a round corner
    }

    EXPECT_EQ (normal.getPixelAt (20, 2).getAlpha(), 0);   // nothing behind the icon
    EXPECT_EQ (over.getPixelAt (20, 2), juce::Colour (juce::Colours::lightgrey));
    EXPECT_EQ (down.getPixelAt (20, 2), juce::Colour (juce::Colours::darkgrey));

    // The corner is 0.2 x 40 = 8: on the diagonal, 2 pixels in is outside the curve, 4 in is inside.
    EXPECT_LT (over.getPixelAt (1, 1).getAlpha(), 40);
    EXPECT_EQ (over.getPixelAt (4, 4).getAlpha(), 255);

    EXPECT_FALSE (button.getWantsKeyboardFocus());

    juce::ImageButton empty;
    setIconButtonImages (empty, {});
    EXPECT_EQ (empty.getNormalImage().getWidth(), 16);
    EXPECT_EQ (empty.getNormalImage().getHeight(), 16);
}

} // namespace olvo
