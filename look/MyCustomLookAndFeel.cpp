#include "MyCustomLookAndFeel.h"

#include "Fonts.h"

namespace olvo
{

float tooltipFontHeight = 15.0f;

namespace
{
    bool isHorizontalStyle (juce::Slider::SliderStyle style)
    {
        using S = juce::Slider;
        return style == S::LinearHorizontal || style == S::LinearBar || style == S::TwoValueHorizontal
               || style == S::ThreeValueHorizontal;
    }
}

juce::TextLayout makeTooltipLayout (const juce::String& text, juce::Colour colour)
{
    juce::AttributedString s;
    s.setJustification (juce::Justification::centred);
    s.setWordWrap (juce::AttributedString::byWord);
    s.setLineSpacing (0.0f);
    s.setReadingDirection (juce::AttributedString::natural);
    s.append (text, fontOf (appFontBold, tooltipFontHeight), colour);

    juce::TextLayout layout;
    layout.createLayoutWithBalancedLineLengths (s, 400.0f);
    return layout;
}

juce::Font MyCustomLookAndFeel::getTextButtonFont (juce::TextButton&, int buttonHeight)
{
    return fontOf (appFontRegular, 0.7f * (float) buttonHeight);
}

void MyCustomLookAndFeel::drawToggleButton (juce::Graphics& g, juce::ToggleButton& button, bool highlighted, bool down)
{
    const auto h = (float) button.getHeight();
    const auto fontSize = 0.75f * h;
    const auto tickWidth = 1.1f * fontSize;

    drawTickBox (g, button, 4.0f, (h - tickWidth) * 0.5f, tickWidth, tickWidth, button.getToggleState(),
                 button.isEnabled(), highlighted, down);

    g.setColour (button.findColour (juce::ToggleButton::textColourId));
    g.setFont (fontSize);

    if (! button.isEnabled())   // false as well when a parent is disabled
        g.setOpacity (0.5f);

    const auto textX = juce::roundToInt (tickWidth) + 10;
    g.drawFittedText (button.getButtonText(), textX, 0, juce::jmax (0, button.getWidth() - textX - 2),
                      button.getHeight(), juce::Justification::centredLeft, 10, 0.0f);
}

void MyCustomLookAndFeel::drawLinearSlider (juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                                            float minSliderPos, float maxSliderPos,
                                            juce::Slider::SliderStyle style, juce::Slider& slider)
{
    using S = juce::Slider;
    const bool horizontal = isHorizontalStyle (style);
    const auto fx = (float) x, fy = (float) y, fw = (float) width, fh = (float) height;

    if (style == S::LinearBar || style == S::LinearBarVertical)
    {
        g.setColour (slider.findColour (S::trackColourId));
        g.fillRect (horizontal ? juce::Rectangle<float> (fx, fy + 0.5f, sliderPos - fx, fh - 1.0f)
                               : juce::Rectangle<float> (fx + 0.5f, sliderPos, fw - 1.0f, fy + fh - sliderPos));
        return;
    }

    const bool twoValue = style == S::TwoValueVertical || style == S::TwoValueHorizontal;
    const bool threeValue = style == S::ThreeValueVertical || style == S::ThreeValueHorizontal;
    const auto thickness = horizontal ? height : width;
    const auto trackWidth = 0.125f * (float) thickness;

    const juce::Point<float> start = horizontal ? juce::Point<float> (fx, fy + 0.5f * fh)
                                                : juce::Point<float> (fx + 0.5f * fw, fy + fh);
    const juce::Point<float> end = horizontal ? juce::Point<float> (fx + fw, start.y)
                                              : juce::Point<float> (start.x, fy);
    const auto onTrack = [&] (float pos) { return horizontal ? juce::Point<float> (pos, start.y)
                                                             : juce::Point<float> (start.x, pos); };
    const juce::PathStrokeType stroke (trackWidth, juce::PathStrokeType::curved, juce::PathStrokeType::rounded);

    juce::Path background;
    background.startNewSubPath (start);
    background.lineTo (end);
    g.setColour (slider.findColour (S::backgroundColourId));
    g.strokePath (background, stroke);

    const auto minPoint = (twoValue || threeValue) ? onTrack (minSliderPos) : start;
    const auto maxPoint = onTrack ((twoValue || threeValue) ? maxSliderPos : sliderPos);
    const auto thumbPoint = threeValue ? onTrack (sliderPos) : maxPoint;

    juce::Path valueTrack;
    valueTrack.startNewSubPath (minPoint);
    valueTrack.lineTo (thumbPoint);
    g.setColour (slider.findColour (S::trackColourId));
    g.strokePath (valueTrack, stroke);

    const auto thumbColour = slider.findColour (S::thumbColourId);

    if (! twoValue)
    {
        const auto thumbWidth = (float) getSliderThumbRadius (slider);
        const auto thumb = juce::Rectangle<float> (thumbWidth, thumbWidth).withCentre (thumbPoint);
        g.setColour (juce::Colours::white.withAlpha (thumbColour.getAlpha()));
        g.fillEllipse (thumb);
        g.setColour (thumbColour);
        g.drawEllipse (thumb, 1.0f);
    }

    if (twoValue || threeValue)
    {
        const auto sr = juce::jmin (trackWidth, 0.4f * (float) thickness);
        const auto size = 2.0f * trackWidth;

        if (horizontal)
        {
            drawPointer (g, minSliderPos - sr, juce::jmax (0.0f, fy + 0.5f * fh - size), size, thumbColour, 2);
            drawPointer (g, maxSliderPos - trackWidth, juce::jmin (fy + fh - size, fy + 0.5f * fh), size,
                         thumbColour, 4);
        }
        else
        {
            drawPointer (g, juce::jmax (0.0f, fx + 0.5f * fw - size), minSliderPos - trackWidth, size, thumbColour, 1);
            drawPointer (g, juce::jmin (fx + fw - size, fx + 0.5f * fw), maxSliderPos - sr, size, thumbColour, 3);
        }
    }
}

int MyCustomLookAndFeel::getSliderThumbRadius (juce::Slider& slider)
{
    return (isHorizontalStyle (slider.getSliderStyle()) ? slider.getHeight() : slider.getWidth()) / 2;
}

juce::Rectangle<int> MyCustomLookAndFeel::getTooltipBounds (const juce::String& tipText, juce::Point<int> screenPos,
                                                            juce::Rectangle<int> parentArea)
{
    const auto layout = makeTooltipLayout (tipText, juce::Colours::black);
    const auto w = (int) (layout.getWidth() + 14.0f);
    const auto h = (int) (layout.getHeight() + 6.0f);

    return juce::Rectangle<int> (screenPos.x > parentArea.getCentreX() ? screenPos.x - (w + 12) : screenPos.x + 24,
                                 screenPos.y > parentArea.getCentreY() ? screenPos.y - (h + 6) : screenPos.y + 6,
                                 w, h)
        .constrainedWithin (parentArea);
}

void MyCustomLookAndFeel::drawTooltip (juce::Graphics& g, const juce::String& text, int width, int height)
{
    g.setColour (findColour (juce::TooltipWindow::backgroundColourId));
    g.fillRect (0, 0, width, height);

    makeTooltipLayout (text, findColour (juce::TooltipWindow::textColourId))
        .draw (g, juce::Rectangle<int> (width, height).toFloat());
}

} // namespace olvo
