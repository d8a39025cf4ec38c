#include "look/MyCustomLookAndFeel.h"
#include "look/Palette.h"

#include <gtest/gtest.h>

namespace olvo
{

TEST (Palette, StartsWithTheEightColoursAndTheDropdownBackground)
{
    const juce::uint32 expected[8] { 0xffffffff, 0xffffffff, 0xffffffff, 0xfff1f7fa,
                                     0xffffffff, 0xff000000, 0xff7d8c92, 0xffe2e8f2 };
    for (int i = 0; i < 8; ++i)
    {
        EXPECT_EQ (uiPaletteStart[(size_t) i], expected[i]) << "entry " << i;
        EXPECT_EQ (uiPalette[i], expected[i]) << "entry " << i;
    }
    EXPECT_EQ (dropdownBackgroundColour, 0xfff1f7fa);
}

TEST (Palette, WindowColoursReadBackFromTheLookAndFeel)
{
    MyCustomLookAndFeel lf;
    setWindowColours (lf);

    const juce::uint32 p3 = 0xfff1f7fa, p5 = 0xff000000, clear = 0x00ffffff;
    const struct { int id; juce::uint32 colour; } table[] {
        { 0x1001b00, 0xfffafad2 }, { 0x1001c00, p5 },      // tooltip background, text
        { 0x1005700, p3 },         { 0x1005701, p5 },      // window background, document window text
        { 0x1000280, p3 },         { 0x1000281, p5 },      // label
        { 0x1000100, p3 },         { 0x1000102, p5 },      // text button
        { 0x1000200, p3 },         { 0x1000201, p5 },      // text editor background, text
        { 0x1000203, p5 },         { 0x1000205, clear },   // highlighted text, outline
        { 0x1000206, clear },      { 0x1000207, clear },   // focused outline, shadow
        { 0x1002800, p3 },         { 0x1002820, p5 },      // list box
        { 0x1000400, 0xff808080 },                         // scroll-bar thumb
        { 0x1000b00, p3 },         { 0x1000a00, p5 },      // combo box background, text
        { 0x1000e00, p5 },                                 // combo box arrow
        { 0x1000700, p3 },         { 0x1000600, p5 },      // popup menu background, text
    };
    ASSERT_EQ (std::size (table), 22u);

    for (const auto& row : table)
        EXPECT_EQ (lf.findColour (row.id).getARGB(), row.colour) << "colour id 0x" << std::hex << row.id;

    // The ids match JUCE's names for them.
    EXPECT_EQ (juce::TooltipWindow::backgroundColourId, 0x1001b00);
    EXPECT_EQ (juce::ListBox::textColourId, 0x1002820);
    EXPECT_EQ (juce::ComboBox::arrowColourId, 0x1000e00);

    // Everything else keeps JUCE's V4 default.
    juce::LookAndFeel_V4 plain;
    for (int id : { (int) juce::Slider::thumbColourId, (int) juce::ToggleButton::textColourId,
                    (int) juce::TextButton::buttonOnColourId, (int) juce::ScrollBar::trackColourId })
        EXPECT_EQ (lf.findColour (id), plain.findColour (id)) << "colour id 0x" << std::hex << id;
}

TEST (Palette, MenuColoursAreLightGreyAndBlack)
{
    MyCustomLookAndFeel lf;
    setMenuColours (lf);
    EXPECT_EQ (lf.findColour (juce::PopupMenu::backgroundColourId).getARGB(), 0xfff2f2f2u);
    EXPECT_EQ (lf.findColour (juce::PopupMenu::textColourId).getARGB(), 0xff000000u);
}

} // namespace olvo
