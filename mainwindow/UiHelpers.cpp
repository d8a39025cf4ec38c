#include "UiHelpers.h"

#include "engine/JsonValues.h"

namespace olvo
{

int32_t compareVersion (const juce::String& version, int32_t minor, int32_t tertiary)
{
    juce::StringArray parts;
    parts.addTokens (version, ".", "");

    if (parts.size() < 3)
        return 1;

    const auto major = json::atoiClamped (parts[0]);
    const auto minorOfText = json::atoiClamped (parts[1]);
    const auto tertiaryOfText = json::atoiClamped (parts[2]);

    if (major != 1)
        return major > 1 ? 1 : -1;

    if (minorOfText != minor)
        return minorOfText > minor ? 1 : -1;

    if (tertiaryOfText != tertiary)
        return tertiaryOfText > tertiary ? 1 : -1;

    return 0;
}

void setIconButtonImages (juce::ImageButton& button, const juce::Image& icon)
{
    constexpr int margin = 8;
    const int w = icon.getWidth() + 2 * margin;
    const int h = icon.getHeight() + 2 * margin;

    auto make = [&] (juce::Colour backdrop)
    {
        juce::Image image (juce::Image::ARGB, w, h, true);
        juce::Graphics g (image);

        if (! backdrop.isTransparent())
        {
            g.setColour (backdrop);
            g.fillRoundedRectangle (0.0f, 0.0f, (float) w, (float) h, 0.2f * (float) w);
        }

        if (icon.isValid())
            g.drawImageAt (icon, margin, margin);

        return image;
    };

    const auto none = juce::Colours::transparentBlack;
    button.setImages (false, true, true,
                      make (none), 1.0f, none,
                      make (juce::Colours::lightgrey), 1.0f, none,
                      make (juce::Colours::darkgrey), 1.0f, none,
                      0.0f);
    button.setWantsKeyboardFocus (false);
}

juce::Image downscaleByHalving (const juce::Image& source, int targetWidth, int targetHeight)
{
    if (! source.isValid() || targetWidth < 1 || targetHeight < 1)
        return source;

    const bool heightGoverns = (float) source.getHeight() / (float) targetHeight
                               > (float) source.getWidth() / (float) targetWidth;
    const int target = heightGoverns ? targetHeight : targetWidth;

    auto result = source;
    while ((int64_t) (heightGoverns ? result.getHeight() : result.getWidth()) > 2 * (int64_t) target)
        result = result.rescaled (juce::jmax (1, result.getWidth() / 2), juce::jmax (1, result.getHeight() / 2),
                                  juce::Graphics::highResamplingQuality);

    return result;
}

} // namespace olvo
