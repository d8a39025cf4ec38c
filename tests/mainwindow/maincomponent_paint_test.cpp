#include "GuiTestSupport.h"
#include "TimerFixture.h"

#include "mainwindow/AppGlobals.h"
#include "mainwindow/MainComponent.h"

#include "look/Palette.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    const juce::Colour background (0xfff1f7fa);
    const juce::Colour white (0xffffffff);
    constexpr juce::uint32 groupColours[3] { 0xffd151b1, 0xff0094ff, 0xffe8903e };

    /** A window under test whose palette the test sets; the palette is put back afterwards. */
    struct Painting : public ::testing::Test
    {
        std::unique_ptr<MainComponent> window;
        ImageUrlCache::Fetcher fetcher;

        void SetUp() override
        {
            launchCommandLine = {};
            auto options = test::windowTestOptions();
            if (fetcher)
                options.fetchImage = fetcher;
            window = std::make_unique<MainComponent> (options);
        }

        void TearDown() override
        {
            window.reset();
            for (int g = 0; g < 3; ++g)
                uiPalette[g] = uiPaletteStart[(size_t) g];
        }

        MainComponent& c() { return *window; }

        void setGroups (std::initializer_list<int> available)
        {
            for (int g = 0; g < 3; ++g)
                uiPalette[g] = 0xffffffff;
            for (int g : available)
                uiPalette[g] = groupColours[g];
        }

        /** What the window paints itself, without its children. */
        juce::Image painted()
        {
            juce::Image image (juce::Image::ARGB, c().getWidth(), c().getHeight(), true);
            juce::Graphics g (image);
            c().paint (g);
            return image;
        }

        MainLayout layout() const { return computeMainLayout (window->getWidth(), window->getHeight(), 7); }
    };

    juce::Point<int> centreOf (juce::Rectangle<float> r) { return r.getCentre().roundToInt(); }
}

TEST_F (Painting, APanelOnlyForEachAvailableGroup)
{
    setGroups ({ 0, 2 });
    const auto image = painted();
    const auto l = layout();

    for (int g = 0; g < 3; ++g)
    {
        // A point of the panel's upper part, away from its badge and its neighbours' shadows.
        const auto probe = juce::Point<int> (l.x (g) + l.colW / 2, l.T + (int) (0.45 * l.R));
        const bool available = g != 1;
        EXPECT_EQ (test::near (image.getPixelAt (probe.x, probe.y), white), available) << g;
        EXPECT_EQ (test::near (image.getPixelAt (probe.x, probe.y), background, 4), ! available) << g;

        // The badge in the group's colour, just inside its disc.
        const auto badge = l.badgeCentre (g);
        const auto inBadge = image.getPixelAt ((int) (badge.x - 0.8f * l.badgeRadius()), (int) badge.y);
        EXPECT_EQ (test::near (inBadge, juce::Colour (groupColours[g]), 8), available) << g;

        // The band at the bottom and its caption.
        const auto band = l.band (g);
        EXPECT_EQ (test::near (image.getPixelAt ((int) band.getCentreX(), (int) band.getBottom() - 3), background, 2),
                   true) << g;
        EXPECT_EQ (test::firstColumnDiffering (image, background, l.durationCaption (g).getX(),
                                               l.durationCaption (g).getRight(), l.durationCaption (g).getY(),
                                               l.durationCaption (g).getBottom()) >= 0, available) << g;
    }
}

TEST_F (Painting, NoPanelsShadowFallsOnItsNeighbour)
{
    setGroups ({ 0, 1, 2 });
    const auto image = painted();
    const auto l = layout();

    // The right edge of panels 0 and 1, near the top: the next panel's shadow reaches here, under the panel.
    for (int g = 0; g < 2; ++g)
        for (int y : { l.T + 3, l.T + l.R / 4 })
            EXPECT_TRUE (test::near (image.getPixelAt (l.x (g) + l.colW - 4, y), white, 1)) << g << " at " << y;

    // Between the panels the shadows are there.
    EXPECT_FALSE (test::near (image.getPixelAt (l.x (1) - l.gap / 2, l.T + l.R / 2), background, 2));
}

TEST_F (Painting, SunsAreGreyedOutWhileTheLevelCannotChange)
{
    setGroups ({ 0, 1, 2 });
    const auto l = layout();

    // Without a device the range is 0..0: greyed out.
    auto image = painted();
    const auto greyed = image.getPixelAt (centreOf (l.smallSun (0)).x, centreOf (l.smallSun (0)).y);
    const auto greyedLarge = image.getPixelAt (centreOf (l.largeSun (2)).x, centreOf (l.largeSun (2)).y);

    // An open device on firmware 1.2.0: levels 1..10 for every group.
    c().thread->deviceIds.update ([] (DeviceIds& ids) { ids.bytes[wire::idsMajor] = 1; ids.bytes[wire::idsMinor] = 2; });
    c().thread->deviceOpen = true;
    image = painted();
    const auto plain = image.getPixelAt (centreOf (l.smallSun (0)).x, centreOf (l.smallSun (0)).y);

    EXPECT_TRUE (test::near (plain, juce::Colour (0xff7d8c92), 24)) << plain.toString();   // the sun's grey core
    EXPECT_GT (greyed.getBrightness(), plain.getBrightness() + 0.2f);
    EXPECT_GT (greyedLarge.getBrightness(), plain.getBrightness() + 0.2f);

    // A server that fixes group 1 at one level greys out that group only.
    c().thread->limits.update ([] (auto& limits) { limits[1].brightnessMin = limits[1].brightnessMax = 4; });
    image = painted();
    EXPECT_GT (image.getPixelAt (centreOf (l.smallSun (1)).x, centreOf (l.smallSun (1)).y).getBrightness(),
               plain.getBrightness() + 0.2f);
    EXPECT_TRUE (test::near (image.getPixelAt (centreOf (l.smallSun (2)).x, centreOf (l.smallSun (2)).y), plain, 4));
}

TEST_F (Painting, TheDayPillOnlyWithADayText)
{
    setGroups ({});
    const auto W = (float) c().getWidth();
    const auto H = (float) c().getHeight();
    const auto p = 0.052f * H;
    // The pill's left cap, where no text is drawn (no phase counter: it starts at 0.07 W).
    const juce::Point<int> cap ((int) (0.07f * W + p / 2.0f), (int) (0.119f * H + p / 2.0f));

    c().dayText = {};
    EXPECT_TRUE (test::near (painted().getPixelAt (cap.x, cap.y), background));

    c().dayText = "Day 1 of 28";
    EXPECT_TRUE (test::near (painted().getPixelAt (cap.x, cap.y), juce::Colour (0xffd2f0f5)));

    // With a phase counter the pill moves right by the counter's width.
    c().phaseText = "Phase 2 of 3";
    const auto w1 = fontOf (appFontRegular, 0.055f * H).getStringWidthFloat (c().phaseText);
    const auto image = painted();
    EXPECT_TRUE (test::near (image.getPixelAt (cap.x + (int) w1, cap.y), juce::Colour (0xffd2f0f5)));
    EXPECT_TRUE (test::near (image.getPixelAt ((int) (0.07f * W + w1) - 3, cap.y), background));
}

TEST_F (Painting, ThePhaseTextsAreDrawnWhateverTheGroups)
{
    setGroups ({});
    c().phaseText = "Phase 2 of 3";
    c().phaseNameText = "Building Resilience";
    const auto image = painted();
    const auto H = c().getHeight();
    const auto W = c().getWidth();

    const int counterInk = test::firstColumnDiffering (image, background, 0, W, (int) (0.1 * H), (int) (0.16 * H));
    const int nameInk = test::firstColumnDiffering (image, background, 0, W, (int) (0.17 * H), (int) (0.25 * H));
    EXPECT_GE (counterInk, (int) (0.05 * W));
    EXPECT_LT (counterInk, (int) (0.05 * W) + 10);
    EXPECT_GE (nameInk, (int) (0.05 * W));
    EXPECT_LT (nameInk, (int) (0.05 * W) + 10);
}

//==============================================================================
namespace
{
    /** The columns of an image row band that hold ink of the colour, -1 when none. */
    int lastColumnOfColour (const juce::Image& image, juce::Colour colour, int y0, int y1)
    {
        for (int x = image.getWidth(); --x >= 0;)
            for (int y = y0; y < y1; ++y)
                if (test::near (image.getPixelAt (x, y), colour, 60))
                    return x;
        return -1;
    }
}

TEST_F (Painting, ADropdownButtonShowsItsStateAsATriangleAfterTheCaption)
{
    auto& button = c().durationButtons[0];
    button.setSize (200, 40);
    const float t = 0.4f * 40;
    const auto black = juce::Colours::black;

    auto render = [&] (const juce::String& text, int state)
    {
        c().renderDropdownButton (button, text, state, false, black, background);
        return button.getNormalImage();
    };

    // Not centred: the content ends at the text's width + 1; the triangle's box starts half a box later.
    const auto textWidth = fontOf (appFontRegular, 30.0f).getStringWidthFloat ("30 min");
    const auto x = (int) (textWidth + 1.0f + t / 2.0f);
    const juce::Point<int> nearApex (x + (int) (0.5f * t), (int) (0.6f * 40));
    const juce::Point<int> wideOnlyOpen (x + (int) (0.15f * t), (int) (0.63f * 40));

    auto image = render ("30 min", dropdown::closed);
    EXPECT_EQ (image.getWidth(), 200);
    EXPECT_TRUE (test::near (image.getPixelAt (nearApex.x, nearApex.y), black, 60));
    EXPECT_TRUE (test::near (image.getPixelAt (wideOnlyOpen.x, wideOnlyOpen.y), background, 30));

    image = render ("30 min", dropdown::open);
    EXPECT_TRUE (test::near (image.getPixelAt (wideOnlyOpen.x, wideOnlyOpen.y), black, 60));

    image = render ("30 min", dropdown::noList);
    EXPECT_TRUE (test::near (image.getPixelAt (nearApex.x, nearApex.y), background, 2));
    EXPECT_EQ (button.getWantsKeyboardFocus(), false);

    // A caption wider than the button: the box sits at the right edge and covers the end of the text.
    const auto wide = juce::String::repeatedString ("l", 60);
    const int boxLeft = 200 - (int) t;
    EXPECT_GT (lastColumnOfColour (render (wide, dropdown::noList), black, 0, 18), boxLeft);
    EXPECT_LT (lastColumnOfColour (render (wide, dropdown::closed), black, 0, 18), boxLeft);

    // Smaller than 3 x 3: the button keeps its image.
    const auto before = render ("30 min", dropdown::closed);
    button.setSize (2, 40);
    c().renderDropdownButton (button, "other", dropdown::open, false, black, background);
    EXPECT_TRUE (button.getNormalImage() == before);
}

TEST_F (Painting, ACentredCaptionPutsTheTriangleAfterTheCentredText)
{
    auto& button = c().programButtons[0];
    button.setSize (300, 40);
    c().renderDropdownButton (button, "Focus", dropdown::closed, true, juce::Colours::black, white);
    const auto image = button.getNormalImage();

    const auto textWidth = fontOf (appFontRegular, 30.0f).getStringWidthFloat ("Focus");
    const float t = 16.0f;
    const auto apexX = (int) ((300.0f + textWidth) / 2.0f + t / 2.0f + 0.5f * t);
    EXPECT_TRUE (test::near (image.getPixelAt (apexX, 24), juce::Colours::black, 60));
    const int textStart = test::firstColumnDiffering (image, white, 0, 300, 0, 40);
    EXPECT_NEAR (textStart, (300.0f - textWidth) / 2.0f, 4.0f);
}

namespace
{
    /** A fetcher serving a 40 x 20 red PNG for every URL. */
    ImageUrlCache::Fetcher redLogo()
    {
        return [] (const juce::String&) { return test::redLogoFetch(); };
    }

    struct PaintingWithImages : public Painting
    {
        void SetUp() override
        {
            fetcher = redLogo();
            Painting::SetUp();
        }
    };
}

TEST_F (PaintingWithImages, ThePackageButtonShowsTheCurrentPackagesLogoAtItsLeft)
{
    PackageInfo package;
    package.brandLogo = "https://cdn.olvo.example/logo.png";
    package.isCurrent = 1;
    c().thread->packages.set ({ package });
    c().packageListState = dropdown::closed;
    c().resized();

    // The logo arrives from the cache's thread; the next drawing shows it.
    ASSERT_TRUE (test::pumpUntil ([this] { return ! c().imageCache.hasPendingDownloads(); }));
    c().resized();

    const auto image = c().packageButton.getNormalImage();
    const int h = c().packageButton.getHeight();   // 42: the logo is scaled to 84 x 42
    ASSERT_EQ (h, 42);
    EXPECT_TRUE (test::near (image.getPixelAt (2, h / 2), juce::Colours::red, 10));
    EXPECT_TRUE (test::near (image.getPixelAt (82, h / 2), juce::Colours::red, 10));
    EXPECT_TRUE (test::near (image.getPixelAt (88, h / 2), background, 10));

    // The triangle after it: xe = 84 + 1, half a box on.
    const float t = 0.4f * (float) h;
    EXPECT_TRUE (test::near (image.getPixelAt ((int) (85.0f + t), (int) (0.56f * (float) h)), juce::Colours::black, 60));
    EXPECT_EQ (c().imageCache.entries().size(), 1u);

    // The filler image button draws the image fitted into the whole button.
    auto& filler = c().fillerImageButton;
    filler.setSize (100, 100);
    c().getImageForURL ("https://cdn.olvo.example/filler.png");
    ASSERT_TRUE (test::pumpUntil ([this] { return ! c().imageCache.hasPendingDownloads(); }));
    c().renderDropdownButton (filler, "https://cdn.olvo.example/filler.png", 0, false, juce::Colours::black,
                              juce::Colour (uiPalette[7]));
    const auto fillerImage = filler.getNormalImage();
    EXPECT_TRUE (test::near (fillerImage.getPixelAt (50, 50), juce::Colours::red, 10));
    EXPECT_TRUE (test::near (fillerImage.getPixelAt (50, 5), juce::Colour (uiPalette[7]), 10));   // 100 x 50, centred
}

TEST_F (Painting, WithoutAnImageThePackageButtonKeepsOnlyItsBackgroundAndTriangle)
{
    PackageInfo package;
    package.brandLogo = "https://cdn.olvo.example/logo.png";   // the test fetcher brings nothing
    c().thread->packages.set ({ package });
    c().packageListState = dropdown::closed;
    c().resized();

    const auto image = c().packageButton.getNormalImage();
    const int h = image.getHeight();
    const float t = 0.4f * (float) h;
    EXPECT_TRUE (test::near (image.getPixelAt (2, h / 2), background, 2));
    EXPECT_TRUE (test::near (image.getPixelAt ((int) t, (int) (0.56f * (float) h)), juce::Colours::black, 60));
}

} // namespace olvo
