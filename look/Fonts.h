#pragma once

#include <juce_graphics/juce_graphics.h>

namespace olvo
{

//==============================================================================
/** The three embedded faces of the Source Sans Pro family, published for every window by their owner (the main
    window's content). Null while no owner exists: readers go through fontOf, which gives a default font then.
    Message thread only. */
extern const juce::Font* appFontRegular;
extern const juce::Font* appFontLight;
extern const juce::Font* appFontBold;

/** A copy of *font at the given height (JUCE keeps it within 0.1 .. 10000), or a default font of that height when
    font is null. */
juce::Font fontOf (const juce::Font* font, float height);

/** The embedded faces. */
enum class EmbeddedFace { regular, light, bold };

/** A font of the embedded face, at JUCE's default height; a default font if the face cannot be decoded. */
juce::Font loadEmbeddedFont (EmbeddedFace face);

//==============================================================================
/** Publishes three fonts through appFontRegular, appFontLight and appFontBold for as long as it lives, and resets
    each pointer that still points at its fonts when it goes. Declare it after the fonts it publishes. */
class PublishedFonts
{
public:
    PublishedFonts (const juce::Font& regular, const juce::Font& light, const juce::Font& bold);
    ~PublishedFonts();

private:
    const juce::Font& regular;
    const juce::Font& light;
    const juce::Font& bold;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PublishedFonts)
};

} // namespace olvo
