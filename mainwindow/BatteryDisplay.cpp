#include "BatteryDisplay.h"

#include "look/Fonts.h"

#include <cmath>

namespace olvo
{

void BatteryDisplay::setReading (float newLevel, uint8_t newFlags)
{
    const auto before = levelText();
    const auto flagsBefore = flags;

    level = newLevel;
    flags = newFlags;

    if (levelText() != before || flags != flagsBefore)
        repaint();
}

double BatteryDisplay::shownLevel() const
{
    if ((flags & charging) != 0)
        return level;

    if ((double) level > 0.97)
        return 1.0;

    if ((double) level > 0.92)
        return 0.92 + ((double) level - 0.92) * 0.08 / 0.05;

    return level;
}

bool BatteryDisplay::hasReading() const
{
    return level >= 0.0f && std::isfinite (level);
}

juce::String BatteryDisplay::levelText() const
{
    if (! hasReading())
        return {};

    const char* word = (flags & weak) != 0 ? "Weak:"
                     : ((flags & charging) == 0 && level > 0.5f) ? "Charged:"
                     : "Battery:";

    return juce::String (word) + " " + juce::String ((int) juce::jlimit (0.0, 1.0e6, shownLevel() * 100.0)) + "%";
}

void updateBatteryGauge (BatteryDisplay& gauge, float level, uint8_t flags)
{
    float shown = level > 1.0f ? 1.0f : (level >= 0.0f ? level : 0.0f);   // NaN fails both tests: 0

    if ((gauge.flags & BatteryDisplay::charging) != 0 && shown > 0.99f)
        shown = 0.99f;

    // Whole percent of a level the gauge may hold (set by other code: a negative one or NaN), without overflow.
    const auto percentOf = [] (float l)
    {
        return std::isfinite (l) ? (int) std::floor (100.0f * juce::jlimit (-1.0f, 2.0f, l)) : -100;
    };

    if (flags != gauge.flags || percentOf (gauge.level) != percentOf (shown))
        gauge.repaint();

    gauge.flags = flags;
    gauge.level = shown;
}

void BatteryDisplay::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth();
    const auto h = (float) getHeight();

    g.fillAll (findColour (juce::ResizableWindow::backgroundColourId));

    if (hasReading())
    {
        g.setColour ((double) level > 0.2 ? juce::Colour (0xff72b1d0) : juce::Colours::red);
        g.fillRect (2, 2, (int) juce::jlimit (0.0, (double) w, shownLevel() * (0.3 * w - 4.0)), getHeight() - 4);
    }

    g.setColour (juce::Colours::grey);
    g.drawRoundedRectangle (1.0f, 1.0f, 0.3f * w - 2.0f, h - 2.0f, 0.1f * h, 2.0f);

    // The terminal: a small cap on the right of the body, with rounded corners once the gauge is wide enough.
    const auto r = 0.005f * w;
    juce::Path terminal;
    terminal.startNewSubPath (0.3f * w, 0.25f * h);
    terminal.lineTo (0.31f * w, 0.25f * h);
    if (r > 0.0f)
        terminal.addArc (0.31f * w, 0.25f * h, 0.01f * w, 0.01f * w, 0.0f, 1.570795f, false);
    terminal.lineTo (0.32f * w, 0.75f * h - 0.01f * w);
    if (r > 0.0f)
        terminal.addArc (0.31f * w, 0.75f * h - 0.01f * w, 0.01f * w, 0.01f * w, 1.570795f, 3.14159f, false);
    terminal.lineTo (0.3f * w, 0.75f * h);
    g.strokePath (terminal, juce::PathStrokeType (2.0f, juce::PathStrokeType::beveled, juce::PathStrokeType::butt));

    const auto text = levelText();
    if (text.isEmpty())
        return;

    // The text fills 58 % of the width at the size that fits the widest text it can show.
    auto font = fontOf (appFontRegular, 16.0f);
    const auto widest = juce::jmax (font.getStringWidthFloat ("Battery: 100%."),
                                    font.getStringWidthFloat ("Charged: 100%."));
    if (widest <= 0.0f)
        return;   // a face without glyphs: nothing sensible to draw

    font.setHeight (0.58f * w * 16.0f / widest);
    g.setFont (font);
    g.setColour (findColour (juce::DocumentWindow::textColourId));
    g.drawText (text, juce::Rectangle<int> ((int) (0.4f * w), 0, (int) (0.58f * w), getHeight()),
                juce::Justification::left, true);
}

} // namespace olvo
