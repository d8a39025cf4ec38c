#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

/** Height of the tooltip text; the main window's layout sets it to 0.03 x its height. Message thread only. */
extern float tooltipFontHeight;

/** The tooltip text laid out centred, wrapped by word onto lines of balanced length at most 400 wide, in the bold
    application font at tooltipFontHeight. */
juce::TextLayout makeTooltipLayout (const juce::String& text, juce::Colour colour);

//==============================================================================
/**
    The application's look-and-feel: JUCE's V4 look with a few drawing rules of its own. Scroll-bar buttons are
    shown, text buttons use the application font, toggle buttons get a tick box scaled to the button, linear sliders
    get a thin track and an outlined white thumb, and tooltips are placed and drawn with their own layout in the bold
    application font. Colours are JUCE's defaults until the owner sets its own (see Palette.h).

    Every font taken from the application fonts falls back to a default font of the same height while they are not
    published.
*/
class MyCustomLookAndFeel : public juce::LookAndFeel_V4
{
public:
    MyCustomLookAndFeel() = default;
    ~MyCustomLookAndFeel() override = default;

    //==============================================================================
    bool areScrollbarButtonsVisible() override { return true; }

    /** The regular application font at 0.7 x the button's height. */
    juce::Font getTextButtonFont (juce::TextButton&, int buttonHeight) override;

    /** A tick box of 1.1 x 0.75 x the button's height at the left, the text beside it at 0.75 x the height; a
        disabled button (or one inside a disabled parent) draws its text at half opacity. */
    void drawToggleButton (juce::Graphics&, juce::ToggleButton&, bool highlighted, bool down) override;

    /** Bars fill one rectangle in the track colour; other styles draw a track 1/8 of the slider's thickness and a
        white thumb, outlined in the thumb colour, half the thickness across. */
    void drawLinearSlider (juce::Graphics&, int x, int y, int width, int height, float sliderPos, float minSliderPos,
                           float maxSliderPos, juce::Slider::SliderStyle, juce::Slider&) override;

    /** Half the slider's thickness (its height when horizontal, its width otherwise). */
    int getSliderThumbRadius (juce::Slider&) override;

    /** Left of the parent area's centre the tip opens 24 pixels right of the mouse, right of it 12 pixels to its
        left; below the centre it opens above the mouse. Always within the parent area. */
    juce::Rectangle<int> getTooltipBounds (const juce::String& tipText, juce::Point<int> screenPos,
                                           juce::Rectangle<int> parentArea) override;

    /** A plain rectangle in the tooltip background colour with the laid-out text. */
    void drawTooltip (juce::Graphics&, const juce::String& text, int width, int height) override;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MyCustomLookAndFeel)
};

} // namespace olvo
