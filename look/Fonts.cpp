#include "Fonts.h"

#include "BinaryData.h"

namespace olvo
{

const juce::Font* appFontRegular = nullptr;
const juce::Font* appFontLight = nullptr;
const juce::Font* appFontBold = nullptr;

juce::Font fontOf (const juce::Font* font, float height)
{
    return font != nullptr ? font->withHeight (height) : juce::Font (height);
}

juce::Font loadEmbeddedFont (EmbeddedFace face)
{
    const auto [data, size] = [face]() -> std::pair<const char*, int>
    {
        switch (face)
        {
            case EmbeddedFace::light: return { BinaryData::SourceSansProLight_otf, BinaryData::SourceSansProLight_otfSize };
            case EmbeddedFace::bold:  return { BinaryData::SourceSansProBold_otf, BinaryData::SourceSansProBold_otfSize };
            case EmbeddedFace::regular: break;
        }
        return { BinaryData::SourceSansProRegular_otf, BinaryData::SourceSansProRegular_otfSize };
    }();

    if (auto typeface = juce::Typeface::createSystemTypefaceFor (data, (size_t) size))
        return juce::Font (typeface);

    return {};
}

PublishedFonts::PublishedFonts (const juce::Font& r, const juce::Font& l, const juce::Font& b)
    : regular (r), light (l), bold (b)
{
    appFontRegular = &regular;
    appFontLight = &light;
    appFontBold = &bold;
}

PublishedFonts::~PublishedFonts()
{
    if (appFontRegular == &regular) appFontRegular = nullptr;
    if (appFontLight == &light)     appFontLight = nullptr;
    if (appFontBold == &bold)       appFontBold = nullptr;
}

} // namespace olvo
