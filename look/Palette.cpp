#include "Palette.h"

namespace olvo
{

juce::uint32 uiPalette[8] { uiPaletteStart[0], uiPaletteStart[1], uiPaletteStart[2], uiPaletteStart[3],
                            uiPaletteStart[4], uiPaletteStart[5], uiPaletteStart[6], uiPaletteStart[7] };

void setWindowColours (juce::LookAndFeel& lf)
{
    const juce::Colour background (uiPalette[3]);
    const juce::Colour text (uiPalette[5]);
    const auto none = juce::Colours::transparentWhite;

    lf.setColour (juce::TooltipWindow::backgroundColourId, juce::Colours::lightgoldenrodyellow);
    lf.setColour (juce::TooltipWindow::textColourId, text);
    lf.setColour (juce::ResizableWindow::backgroundColourId, background);
    lf.setColour (juce::DocumentWindow::textColourId, text);
    lf.setColour (juce::Label::backgroundColourId, background);
    lf.setColour (juce::Label::textColourId, text);
    lf.setColour (juce::TextButton::buttonColourId, background);
    lf.setColour (juce::TextButton::textColourOffId, text);
    lf.setColour (juce::TextEditor::backgroundColourId, background);
    lf.setColour (juce::TextEditor::textColourId, text);
    lf.setColour (juce::TextEditor::highlightedTextColourId, text);
    lf.setColour (juce::TextEditor::outlineColourId, none);
    lf.setColour (juce::TextEditor::focusedOutlineColourId, none);
    lf.setColour (juce::TextEditor::shadowColourId, none);
    lf.setColour (juce::ListBox::backgroundColourId, background);
    lf.setColour (juce::ListBox::textColourId, text);
    lf.setColour (juce::ScrollBar::thumbColourId, juce::Colours::grey);
    lf.setColour (juce::ComboBox::backgroundColourId, background);
    lf.setColour (juce::ComboBox::textColourId, text);
    lf.setColour (juce::ComboBox::arrowColourId, text);
    lf.setColour (juce::PopupMenu::backgroundColourId, background);
    lf.setColour (juce::PopupMenu::textColourId, text);
}

void setMenuColours (juce::LookAndFeel& lf)
{
    lf.setColour (juce::PopupMenu::backgroundColourId, juce::Colour (0xfff2f2f2));
    lf.setColour (juce::PopupMenu::textColourId, juce::Colours::black);
}

} // namespace olvo
