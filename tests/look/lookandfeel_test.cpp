#include "GuiTestSupport.h"

#include "look/Fonts.h"
#include "look/MyCustomLookAndFeel.h"
#include "look/Palette.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    const juce::Colour white (juce::Colours::white);

    juce::Image whiteImage (int w, int h)
    {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics (image).fillAll (white);
        return image;
    }

    /** Rows y0..y1 of columns x0..x1 that hold a pixel darker than the threshold. */
    int rowsWithInk (const juce::Image& image, int x0, int x1, int threshold = 128)
    {
        int rows = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = x0; x < x1; ++x)
                if (image.getPixelAt (x, y).getBrightness() * 255.0f < (float) threshold)
                {
                    ++rows;
                    break;
                }
        return rows;
    }

    float darkest (const juce::Image& image, int x0, int x1)
    {
        float result = 1.0f;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = x0; x < x1; ++x)
                result = juce::jmin (result, image.getPixelAt (x, y).getBrightness());
        return result;
    }

    struct ToggleFixture
    {
        MyCustomLookAndFeel lf;
        juce::Component parent;
        juce::ToggleButton button { "IIIIII" };

        ToggleFixture()
        {
            button.setColour (juce::ToggleButton::textColourId, juce::Colours::black);
            button.setColour (juce::ToggleButton::tickDisabledColourId, juce::Colours::blue);
            button.setColour (juce::ToggleButton::tickColourId, juce::Colours::blue);
            parent.addAndMakeVisible (button);
            button.setBounds (0, 0, 300, 40);
        }

        juce::Image draw (bool ticked = false)
        {
            button.setToggleState (ticked, juce::dontSendNotification);
            auto image = whiteImage (300, 40);
            juce::Graphics g (image);
            lf.drawToggleButton (g, button, false, false);
            return image;
        }
    };
}

//==============================================================================
TEST (LookAndFeel, ToggleButtonScalesItsTickBoxAndTextToTheButton)
{
    ToggleFixture f;
    const auto image = f.draw (true);

    // 40 high: text 30, box 33 wide from x = 4, text from x = 33 + 10 = 43, nothing between.
    const auto boxLeft = test::firstColumnDiffering (image, white, 0, 300, 0, 40);
    EXPECT_TRUE (boxLeft == 3 || boxLeft == 4) << boxLeft;
    EXPECT_TRUE (test::near (image.getPixelAt (20, 20), juce::Colours::blue, 60)) << "ticked box is filled";
    EXPECT_EQ (test::firstColumnDiffering (image, white, 39, 43, 0, 40), -1);

    const auto textLeft = test::firstColumnDiffering (image, white, 39, 300, 0, 40);
    EXPECT_GE (textLeft, 43);
    EXPECT_LT (textLeft, 50);

    // Glyphs of a 30-pixel font: far taller than the 15 pixels JUCE's own toggle button stops at.
    EXPECT_GT (rowsWithInk (image, 43, 300), 16);
}

TEST (LookAndFeel, DisabledToggleButtonTextIsDrawnAtHalfOpacity)
{
    ToggleFixture f;
    EXPECT_LT (darkest (f.draw(), 43, 300), 0.1f);

    f.button.setEnabled (false);
    const auto byItself = darkest (f.draw(), 43, 300);
    EXPECT_NEAR (byItself, 0.5f, 0.08f);

    f.button.setEnabled (true);
    f.parent.setEnabled (false);
    EXPECT_NEAR (darkest (f.draw(), 43, 300), byItself, 0.02f);
}

TEST (LookAndFeel, HorizontalSliderHasAThinTrackAndAnOutlinedWhiteThumb)
{
    MyCustomLookAndFeel lf;
    juce::Slider slider (juce::Slider::LinearHorizontal, juce::Slider::NoTextBox);
    slider.setBounds (0, 0, 200, 40);
    slider.setColour (juce::Slider::backgroundColourId, juce::Colours::blue);
    slider.setColour (juce::Slider::trackColourId, juce::Colours::red);
    slider.setColour (juce::Slider::thumbColourId, juce::Colours::green);
    EXPECT_EQ (lf.getSliderThumbRadius (slider), 20);

    auto image = whiteImage (200, 40);
    {
        juce::Graphics g (image);
        lf.drawLinearSlider (g, 0, 0, 200, 40, 100.0f, 0.0f, 0.0f, juce::Slider::LinearHorizontal, slider);
    }

    // A 5-pixel track (40 / 8) on the centre line: value part red up to the thumb, the rest blue.
    for (int y : { 18, 19, 20, 21 })
    {
        EXPECT_TRUE (test::near (image.getPixelAt (40, y), juce::Colours::red, 10)) << y;
        EXPECT_TRUE (test::near (image.getPixelAt (160, y), juce::Colours::blue, 10)) << y;
    }
    for (int y : { 15, 25 })
    {
        EXPECT_TRUE (test::near (image.getPixelAt (40, y), white, 10)) << y;
        EXPECT_TRUE (test::near (image.getPixelAt (160, y), white, 10)) << y;
    }

    // The thumb, 20 across at x = 100: white inside (covering the track), a thin green ring at radius 10.
    EXPECT_TRUE (test::near (image.getPixelAt (100, 20), white, 10));
    EXPECT_TRUE (test::near (image.getPixelAt (95, 20), white, 10));
    EXPECT_GT (image.getPixelAt (90, 20).getGreen(), image.getPixelAt (90, 20).getRed() + 40);
    EXPECT_TRUE (test::near (image.getPixelAt (100, 5), white, 10));
    EXPECT_TRUE (test::near (image.getPixelAt (86, 20), juce::Colours::red, 10));
}

TEST (LookAndFeel, SliderThumbRadiusIsHalfTheThickness)
{
    MyCustomLookAndFeel lf;
    const struct { juce::Slider::SliderStyle style; int w, h, radius; } table[] {
        { juce::Slider::LinearHorizontal, 200, 41, 20 },
        { juce::Slider::LinearBar, 200, 30, 15 },
        { juce::Slider::TwoValueHorizontal, 200, 10, 5 },
        { juce::Slider::LinearVertical, 33, 200, 16 },
        { juce::Slider::ThreeValueVertical, 40, 200, 20 },
        { juce::Slider::Rotary, 60, 80, 30 },
    };
    for (const auto& row : table)
    {
        juce::Slider slider (row.style, juce::Slider::NoTextBox);
        slider.setSize (row.w, row.h);
        EXPECT_EQ (lf.getSliderThumbRadius (slider), row.radius) << "style " << (int) row.style;
    }
}

TEST (LookAndFeel, LinearBarFillsOneRectangleInTheTrackColour)
{
    MyCustomLookAndFeel lf;
    juce::Slider slider (juce::Slider::LinearBar, juce::Slider::NoTextBox);
    slider.setBounds (0, 0, 200, 40);
    slider.setColour (juce::Slider::trackColourId, juce::Colours::red);

    auto image = whiteImage (200, 40);
    {
        juce::Graphics g (image);
        lf.drawLinearSlider (g, 0, 0, 200, 40, 120.0f, 0.0f, 0.0f, juce::Slider::LinearBar, slider);
    }
    EXPECT_TRUE (test::near (image.getPixelAt (60, 20), juce::Colours::red, 10));
    EXPECT_TRUE (test::near (image.getPixelAt (118, 2), juce::Colours::red, 10));
    EXPECT_TRUE (test::near (image.getPixelAt (125, 20), white, 10));
}

//==============================================================================
TEST (LookAndFeel, TooltipOpensAwayFromTheCentreAndStaysInsideTheParentArea)
{
    MyCustomLookAndFeel lf;
    const juce::Rectangle<int> area (0, 0, 1000, 800);

    const auto leftTop = lf.getTooltipBounds ("Device Info", { 100, 100 }, area);
    EXPECT_EQ (leftTop.getX(), 124);
    EXPECT_EQ (leftTop.getY(), 106);

    const auto rightBottom = lf.getTooltipBounds ("Device Info", { 700, 600 }, area);
    EXPECT_EQ (rightBottom.getRight(), 700 - 12);
    EXPECT_EQ (rightBottom.getBottom(), 600 - 6);
    EXPECT_EQ (rightBottom.getWidth(), leftTop.getWidth());

    // At the centre itself it still opens to the right and below.
    EXPECT_EQ (lf.getTooltipBounds ("x", { 500, 400 }, area).getPosition(), juce::Point<int> (524, 406));

    // Too big for the area: cut to it.
    const juce::Rectangle<int> small (10, 10, 80, 20);
    const auto cut = lf.getTooltipBounds ("A tooltip far wider than its parent area", { 15, 15 }, small);
    EXPECT_TRUE (small.contains (cut));
}

TEST (LookAndFeel, LongTooltipsWrapOntoBalancedLines)
{
    juce::String text;
    for (int i = 0; i < 40; ++i)
        text << "word" << i << " ";

    const auto layout = makeTooltipLayout (text.trim(), juce::Colours::black);
    ASSERT_GE (layout.getNumLines(), 3);
    EXPECT_LE (layout.getWidth(), 400.0f);

    float shortest = 1.0e9f, longest = 0.0f;
    for (int i = 0; i < layout.getNumLines(); ++i)
    {
        const auto w = layout.getLine (i).getLineBoundsX().getLength();
        shortest = juce::jmin (shortest, w);
        longest = juce::jmax (longest, w);
    }
    EXPECT_GT (shortest, 0.6f * longest);
}

TEST (LookAndFeel, TooltipIsBlackTextOnLightGoldenrodYellowWithoutFrame)
{
    MyCustomLookAndFeel lf;
    setWindowColours (lf);

    juce::Image image (juce::Image::ARGB, 120, 30, true);
    {
        juce::Graphics g (image);
        lf.drawTooltip (g, "Help", 120, 30);
    }

    for (auto corner : { juce::Point<int> (0, 0), { 119, 0 }, { 0, 29 }, { 119, 29 } })
        EXPECT_EQ (image.getPixelAt (corner.x, corner.y).getARGB(), 0xfffafad2u);
    EXPECT_LT (darkest (image, 0, 120), 0.15f);
}

TEST (LookAndFeel, WithoutPublishedFontsButtonsAndTooltipsUseADefaultFontOfTheSameHeight)
{
    ASSERT_EQ (appFontRegular, nullptr);
    MyCustomLookAndFeel lf;
    juce::TextButton button ("SAVE");

    const auto font = lf.getTextButtonFont (button, 40);
    EXPECT_FLOAT_EQ (font.getHeight(), 28.0f);
    EXPECT_EQ (font.getTypefaceName(), juce::Font (28.0f).getTypefaceName());
    EXPECT_GT (makeTooltipLayout ("How to Guide", juce::Colours::black).getWidth(), 0.0f);

    const auto regular = loadEmbeddedFont (EmbeddedFace::regular);
    const auto light = loadEmbeddedFont (EmbeddedFace::light);
    const auto bold = loadEmbeddedFont (EmbeddedFace::bold);
    const PublishedFonts published (regular, light, bold);
    EXPECT_EQ (lf.getTextButtonFont (button, 40).getTypefaceName(), regular.getTypefaceName());
    EXPECT_FLOAT_EQ (lf.getTextButtonFont (button, 40).getHeight(), 28.0f);
}

} // namespace olvo
