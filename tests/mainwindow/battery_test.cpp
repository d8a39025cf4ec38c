#include "GuiTestSupport.h"

#include "mainwindow/BatteryDisplay.h"

#include "look/Fonts.h"
#include "look/MyCustomLookAndFeel.h"
#include "look/Palette.h"

#include <gtest/gtest.h>

#include <limits>

namespace olvo
{

namespace
{
    constexpr uint8_t charging = BatteryDisplay::charging, weak = BatteryDisplay::weak;

    struct Gauge
    {
        MyCustomLookAndFeel lf;
        BatteryDisplay gauge;

        Gauge (float level, uint8_t flags)
        {
            setWindowColours (lf);
            gauge.setLookAndFeel (&lf);
            gauge.setBounds (0, 0, 200, 30);
            gauge.level = level;
            gauge.flags = flags;
        }

        ~Gauge() { gauge.setLookAndFeel (nullptr); }

        juce::Image paint() { return test::snapshot (gauge); }
    };

    const juce::Colour background (0xfff1f7fa);

    /** Columns of the text area (40 % .. 98 % of the width) holding a darker pixel. */
    bool hasText (const juce::Image& image)
    {
        return test::firstColumnDiffering (image, background, 80, 196, 0, 30, 80) >= 0;
    }
}

TEST (BatteryDisplay, TextForEachReading)
{
    const struct { float level; uint8_t flags; const char* text; } table[] {
        { -1.0f, 0, "" },
        { std::numeric_limits<float>::quiet_NaN(), 0, "" },
        { 0.0f, 0, "Battery: 0%" },
        { 0.4f, 0, "Battery: 40%" },
        { 0.5f, 0, "Battery: 50%" },
        { 0.51f, 0, "Charged: 50%" },            // as a float 0.51 lies just below 0.51: truncated
        { 0.625f, 0, "Charged: 62%" },
        { 0.92f, 0, "Charged: 92%" },
        { 0.95f, 0, "Charged: 96%" },            // 0.92 + 0.03 x 1.6
        { 0.97f, 0, "Charged: 100%" },           // 0.97 as a float lies above 0.97
        { 0.98f, 0, "Charged: 100%" },
        { 0.95f, charging, "Battery: 94%" },     // as a float 0.95 lies just below 0.95
        { 0.5f, charging, "Battery: 50%" },
        { 0.99f, charging, "Battery: 99%" },
        { 0.125f, weak, "Weak: 12%" },
        { 0.875f, weak | charging, "Weak: 87%" },
        { 0.95f, weak, "Weak: 96%" },
    };

    for (const auto& row : table)
    {
        BatteryDisplay gauge;
        gauge.level = row.level;
        gauge.flags = row.flags;
        EXPECT_EQ (gauge.levelText(), row.text) << row.level << " flags " << (int) row.flags;
    }
}

TEST (BatteryDisplay, FillIsRedUpToAFifthAndBlueAbove)
{
    const struct { float level; juce::uint32 fill; } table[] {
        { 0.15f, 0xffff0000 }, { 0.2f, 0xff72b1d0 }, { 0.25f, 0xff72b1d0 }, { 0.8f, 0xff72b1d0 },
    };
    for (const auto& row : table)
    {
        Gauge g (row.level, 0);
        const auto image = g.paint();
        EXPECT_EQ (image.getPixelAt (4, 15).getARGB(), row.fill) << row.level;
        EXPECT_TRUE (hasText (image));
    }

    // The fill's width is the shown level of the body's inside: 0.8 of 56 pixels from x = 2.
    Gauge g (0.8f, 0);
    const auto image = g.paint();
    EXPECT_EQ (image.getPixelAt (45, 15).getARGB(), 0xff72b1d0u);
    EXPECT_TRUE (test::near (image.getPixelAt (50, 15), background));
}

TEST (BatteryDisplay, WithoutAReadingOnlyTheOutlineIsDrawn)
{
    Gauge g (-1.0f, 0);
    const auto image = g.paint();
    EXPECT_TRUE (test::near (image.getPixelAt (4, 15), background));
    EXPECT_TRUE (test::near (image.getPixelAt (1, 15), juce::Colours::grey, 90));   // the body's outline
    EXPECT_FALSE (hasText (image));
}

TEST (BatteryDisplay, TextIsDrawnWithOrWithoutTheApplicationFont)
{
    ASSERT_EQ (appFontRegular, nullptr);
    {
        Gauge g (0.4f, 0);
        EXPECT_TRUE (hasText (g.paint()));
    }

    const auto regular = loadEmbeddedFont (EmbeddedFace::regular);
    const PublishedFonts published (regular, regular, regular);
    Gauge g (0.4f, 0);
    EXPECT_TRUE (hasText (g.paint()));
}

TEST (BatteryDisplay, AFaceWithoutWidthDrawsNoText)
{
    // A face whose texts measure 0 wide (JUCE cannot make one from a broken font file: it crashes on those).
    const auto empty = loadEmbeddedFont (EmbeddedFace::regular).withHorizontalScale (0.0f);
    ASSERT_EQ (empty.withHeight (16.0f).getStringWidthFloat ("Battery: 100%."), 0.0f);

    const PublishedFonts published (empty, empty, empty);
    Gauge g (0.4f, 0);
    const auto image = g.paint();
    EXPECT_FALSE (hasText (image));
    EXPECT_EQ (image.getPixelAt (4, 15).getARGB(), 0xff72b1d0u);
}

namespace
{
    /** Counts the gauge's repaint requests (JUCE asks a component's cached image first). */
    struct RepaintCounter : public juce::CachedComponentImage
    {
        int count = 0;

        void paint (juce::Graphics&) override {}
        bool invalidateAll() override { ++count; return false; }
        bool invalidate (const juce::Rectangle<int>&) override { ++count; return false; }
        void releaseResources() override {}
    };

    struct CountedGauge
    {
        BatteryDisplay gauge;
        RepaintCounter* counter = new RepaintCounter();   // owned by the gauge

        CountedGauge (float level, uint8_t flags)
        {
            gauge.setBounds (0, 0, 200, 30);
            gauge.setVisible (true);
            gauge.setCachedComponentImage (counter);
            gauge.level = level;
            gauge.flags = flags;
        }
    };
}

TEST (BatteryDisplay, TheWindowsUpdateRule)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();

    // Levels that are exact in binary, so that the whole percent is plain to see.
    const struct { const char* what; float level; uint8_t flags; float newLevel; uint8_t newFlags;
                   float shown; bool repaints; } table[] {
        { "same whole percent", 0.25f, 0, 0.2578125f, 0, 0.2578125f, false },
        { "next whole percent", 0.25f, 0, 0.265625f, 0, 0.265625f, true },
        { "a step down", 0.25f, 0, 0.2421875f, 0, 0.2421875f, true },
        { "flags change", 0.5f, 0, 0.5f, weak, 0.5f, true },
        { "above 1", 0.5f, 0, 1.5f, 0, 1.0f, true },
        { "no reading shows 0", 0.0f, 0, -1.0f, 0, 0.0f, false },
        { "not a number shows 0", 0.0f, 0, nan, 0, 0.0f, false },
        { "from the gauge's start (no reading) to 0", -1.0f, 0, 0.0f, 0, 0.0f, true },
        { "from a gauge holding NaN", nan, 0, 0.5f, 0, 0.5f, true },
        { "charging: never full", 0.5f, charging, 1.0f, charging, 0.99f, true },
        { "charging: 0.99 itself", 0.99f, charging, 0.99f, charging, 0.99f, false },
        { "charging only from now: full this time", 0.5f, 0, 1.0f, charging, 1.0f, true },
        { "charging until now: capped once more", 0.99f, charging, 1.0f, 0, 0.99f, true },
    };

    for (const auto& row : table)
    {
        CountedGauge g (row.level, row.flags);
        g.counter->count = 0;
        updateBatteryGauge (g.gauge, row.newLevel, row.newFlags);

        EXPECT_EQ (g.gauge.level, row.shown) << row.what;
        EXPECT_EQ (g.gauge.flags, row.newFlags) << row.what;
        EXPECT_EQ (g.counter->count > 0, row.repaints) << row.what;
    }

    // Plugged in at full charge: 1.0 at the first pass, 0.99 from the pass after the charging flag reached the gauge.
    CountedGauge g (0.5f, 0);
    for (const float expected : { 1.0f, 0.99f, 0.99f })
    {
        updateBatteryGauge (g.gauge, 1.0f, charging);
        EXPECT_EQ (g.gauge.level, expected);
    }
}

} // namespace olvo
