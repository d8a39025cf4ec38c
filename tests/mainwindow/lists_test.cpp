#include "GuiTestSupport.h"

#include "mainwindow/CollectionModel.h"
#include "mainwindow/RegimenModel.h"

#include "look/Fonts.h"
#include "look/MyCustomLookAndFeel.h"
#include "look/Palette.h"

#include <gtest/gtest.h>

#include <cmath>

namespace olvo
{

namespace
{
    const juce::Colour background (0xfff1f7fa);

    /** The rightmost column (within the rows) holding ink, -1 when none. */
    int lastColumnDiffering (const juce::Image& image, juce::Colour bg, int tolerance = 40)
    {
        for (int x = image.getWidth(); --x >= 0;)
            for (int y = 0; y < image.getHeight(); ++y)
                if (! test::near (image.getPixelAt (x, y), bg, tolerance))
                    return x;
        return -1;
    }

    /** Paints one row of a model the way a list box does, into an image of its own. */
    template <typename Model>
    juce::Image paintRow (Model& model, int row, int width, int height, bool selected)
    {
        juce::Image image (juce::Image::ARGB, width, height, true);
        juce::Graphics g (image);
        model.paintListBoxItem (row, g, width, height, selected);
        return image;
    }

    /** The window's look-and-feel and published faces, as the main window sets them up. */
    struct WindowLook
    {
        WindowLook() { setWindowColours (lf); }

        MyCustomLookAndFeel lf;
        juce::Font regular { loadEmbeddedFont (EmbeddedFace::regular) };
        juce::Font light { loadEmbeddedFont (EmbeddedFace::light) };
        juce::Font bold { loadEmbeddedFont (EmbeddedFace::bold) };
        PublishedFonts published { regular, light, bold };
    };

    /** A model with the window's look, as the main window sets its lists up. */
    template <typename Model>
    struct Styled : public WindowLook
    {
        Styled() { model.setLookAndFeel (&lf); }
        ~Styled() { model.setLookAndFeel (nullptr); }

        Model model;
    };

    int widthOf (const juce::Font& font, float height, const juce::String& text)
    {
        return (int) std::ceil (font.withHeight (height).getStringWidthFloat (text));
    }
}

//==============================================================================
TEST (CollectionModel, ARowWithoutDetailShowsTheNameAlone)
{
    Styled<CollectionModel> look;
    auto& model = look.model;
    model.names = { "Relax", "Focus" };
    model.details = { "", "Morning" };   // details may also be shorter than names

    const auto image = paintRow (model, 0, 300, 20, false);
    const auto nameWidth = widthOf (look.regular, 22.0f, "Relax");
    EXPECT_EQ (image.getPixelAt (299, 0), background);
    const auto first = test::firstColumnDiffering (image, background, 0, 300, 0, 20);
    EXPECT_GE (first, 4);
    EXPECT_LE (first, 7);
    const auto last = lastColumnDiffering (image, background);
    EXPECT_LE (last, 4 + nameWidth);                                  // no colon after it
    EXPECT_GE (last, 4 + nameWidth - 4);
}

TEST (CollectionModel, ADetailFollowsTheMeasuredNameInTheLightFace)
{
    Styled<CollectionModel> look;
    auto& model = look.model;
    model.names = { "Relax" };
    model.details = { "X" };

    const auto image = paintRow (model, 0, 300, 20, false);
    const auto nameWidth = widthOf (look.regular, 22.0f, "Relax:");
    const auto spaces = look.light.withHeight (22.0f).getStringWidthFloat ("   ");

    // "Relax:" ends within its measured width; after a gap of three light spaces comes the "X".
    EXPECT_EQ (test::firstColumnDiffering (image, background, 4 + nameWidth + 1, 4 + nameWidth + (int) spaces - 1,
                                           0, 20), -1);
    const auto detailStart = test::firstColumnDiffering (image, background, 4 + nameWidth + 1, 300, 0, 20);
    EXPECT_GE (detailStart, 4 + nameWidth + (int) spaces - 1);
    EXPECT_LE (detailStart, 4 + nameWidth + (int) spaces + 4);
}

TEST (CollectionModel, ANameTooWideIsCutAndLeavesNoRoomForItsDetail)
{
    Styled<CollectionModel> look;
    auto& model = look.model;
    model.names = { "A program name far wider than its row" };
    model.details = { "DETAIL" };

    const auto withDetail = paintRow (model, 0, 120, 20, false);
    model.details.clear();
    const auto withoutDetail = paintRow (model, 0, 120, 20, false);

    EXPECT_LE (lastColumnDiffering (withDetail, background), 120 - 2);
    EXPECT_LE (lastColumnDiffering (withDetail, background), lastColumnDiffering (withoutDetail, background) + 2);
}

TEST (CollectionModel, SelectedRowsGetTheirColourAndRowsPastTheEndOnlyABackground)
{
    Styled<CollectionModel> look;
    auto& model = look.model;
    model.names = { "Relax" };
    EXPECT_EQ (model.selectedRowColour, juce::Colours::lightblue);
    model.selectedRowColour = juce::Colour (0xffffb3b3);

    EXPECT_EQ (paintRow (model, 0, 100, 20, true).getPixelAt (98, 1).getARGB(), 0xffffb3b3u);
    EXPECT_EQ (paintRow (model, 0, 100, 20, false).getPixelAt (98, 1), background);

    const auto past = paintRow (model, 3, 100, 20, true);
    EXPECT_EQ (test::firstColumnDiffering (past, juce::Colour (0xffffb3b3), 0, 100, 0, 20, 0), -1);
}

TEST (ListModels, ClicksAreLatchedUntilTheOwnerClearsThem)
{
    CollectionModel collection;
    RegimenModel regimen;
    EXPECT_FALSE (collection.clicked);
    EXPECT_EQ (collection.clickedRow, -1);
    EXPECT_FALSE (regimen.clicked);
    EXPECT_EQ (regimen.clickedRow, -1);

    juce::ListBox list;
    const auto click = test::clickOn (list);
    for (auto* model : { static_cast<juce::ListBoxModel*> (&collection), static_cast<juce::ListBoxModel*> (&regimen) })
    {
        model->listBoxItemClicked (3, click);
        model->listBoxItemClicked (5, click);   // a second click before the owner looked
    }
    EXPECT_TRUE (collection.clicked);
    EXPECT_EQ (collection.clickedRow, 5);
    EXPECT_TRUE (regimen.clicked);
    EXPECT_EQ (regimen.clickedRow, 5);
}

TEST (ListModels, AClickKnowsWhetherTheRowsItWasMadeOnAreStillShown)
{
    CollectionModel programs;
    EXPECT_TRUE (programs.setRows ({ "Calm", "Focus" }, { "", "" }));
    EXPECT_FALSE (programs.setRows ({ "Calm", "Focus" }, { "", "" }));   // a refill with the same rows: no change

    juce::ListBox list;
    programs.listBoxItemClicked (1, test::clickOn (list));
    EXPECT_TRUE (programs.clickIsOnCurrentRows());

    // The rows are replaced between the click and the timer's pass: row 1 is now another program.
    EXPECT_TRUE (programs.setRows ({ "Sleep", "Calm", "Focus" }, { "", "", "" }));
    EXPECT_TRUE (programs.clicked);
    EXPECT_FALSE (programs.clickIsOnCurrentRows());

    // A new detail changes the rows as well; so does a change behind unchanged texts, when the owner says so.
    programs.listBoxItemClicked (0, test::clickOn (list));
    EXPECT_TRUE (programs.setRows ({ "Sleep", "Calm", "Focus" }, { "new", "", "" }));
    EXPECT_FALSE (programs.clickIsOnCurrentRows());
    programs.listBoxItemClicked (0, test::clickOn (list));
    programs.markRowsChanged();
    EXPECT_FALSE (programs.clickIsOnCurrentRows());

    RegimenModel packages;
    const juce::Image icon (juce::Image::ARGB, 20, 10, true);
    EXPECT_TRUE (packages.setRows ({ "Basic", "Plus" }, { icon, {} }));
    EXPECT_FALSE (packages.setRows ({ "Basic", "Plus" }, { juce::Image (juce::Image::ARGB, 20, 10, true), {} }));
    packages.listBoxItemClicked (1, test::clickOn (list));
    EXPECT_TRUE (packages.clickIsOnCurrentRows());

    const struct { const char* what; juce::StringArray names; juce::Array<juce::Image> images; } changes[] {
        { "a name", { "Basic", "Premium" }, { icon, {} } },
        { "an image's size", { "Basic", "Premium" }, { icon, icon } },
        { "fewer images", { "Basic", "Premium" }, { icon } },
        { "another row", { "Basic", "Premium", "Pro" }, { icon } },
    };
    for (const auto& change : changes)
    {
        packages.listBoxItemClicked (0, test::clickOn (list));
        EXPECT_TRUE (packages.setRows (change.names, change.images)) << change.what;
        EXPECT_FALSE (packages.clickIsOnCurrentRows()) << change.what;
    }
}

//==============================================================================
TEST (RegimenModel, AThumbnailFitsTheRowAndTheNameFollowsIt)
{
    Styled<RegimenModel> look;
    auto& model = look.model;

    juce::Image thumbnail (juce::Image::ARGB, 100, 50, true);
    thumbnail.clear (thumbnail.getBounds(), juce::Colours::red);
    model.images.add (thumbnail);
    model.names.add ("W");

    const auto image = paintRow (model, 0, 300, 27, false);
    for (auto p : { juce::Point<int> (1, 1), { 50, 25 }, { 25, 13 } })
        EXPECT_TRUE (test::near (image.getPixelAt (p.x, p.y), juce::Colours::red, 30)) << p.toString();
    EXPECT_EQ (image.getPixelAt (0, 13), background);
    EXPECT_EQ (image.getPixelAt (25, 0), background);

    const auto textStart = test::firstColumnDiffering (image, background, 51, 300, 0, 27);
    EXPECT_GE (textStart, 51);
    EXPECT_LE (textStart, 56);
    for (int y : { 1, 13, 25 })
        EXPECT_FALSE (test::near (image.getPixelAt (51, y), juce::Colours::red, 60)) << "50 wide, from x = 1";
}

TEST (RegimenModel, WithoutAUsableThumbnailTheNameStartsAtTheLeft)
{
    Styled<RegimenModel> look;
    auto& model = look.model;
    model.images.add (juce::Image());
    model.images.add (juce::Image (juce::Image::ARGB, 40, 1, true));
    model.names = { "W", "W" };

    for (int row : { 0, 1 })
    {
        const auto start = test::firstColumnDiffering (paintRow (model, row, 300, 27, false), background, 0, 300, 0, 27);
        EXPECT_GE (start, 1) << row;
        EXPECT_LE (start, 5) << row;
    }
}

TEST (RegimenModel, TheSelectedRowKeepsItsBackgroundAndGetsALightBlueFrame)
{
    Styled<RegimenModel> look;
    auto& model = look.model;
    model.images.add (juce::Image());
    model.names.add ("");

    const auto image = paintRow (model, 0, 100, 27, true);
    EXPECT_EQ (image.getPixelAt (1, 1), juce::Colours::lightblue);
    EXPECT_EQ (image.getPixelAt (2, 13), juce::Colours::lightblue);
    EXPECT_EQ (image.getPixelAt (96, 23), juce::Colours::lightblue);
    EXPECT_EQ (image.getPixelAt (50, 13), background);
    EXPECT_EQ (image.getPixelAt (0, 0), background);

    // Rows past the end of either array draw the background alone.
    model.names.add ("more names than images");
    const auto past = paintRow (model, 1, 100, 27, true);
    EXPECT_EQ (test::firstColumnDiffering (past, background, 0, 100, 0, 27, 0), -1);
}

} // namespace olvo
