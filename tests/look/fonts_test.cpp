#include "look/Fonts.h"

#include "BinaryData.h"

#include <gtest/gtest.h>

namespace olvo
{

TEST (Fonts, TheThreeEmbeddedFacesAreOpenTypeSourceSansPro)
{
    for (const auto* data : { BinaryData::SourceSansProRegular_otf, BinaryData::SourceSansProLight_otf,
                              BinaryData::SourceSansProBold_otf })
        EXPECT_EQ (juce::String (data, 4), "OTTO");

    for (auto face : { EmbeddedFace::regular, EmbeddedFace::light, EmbeddedFace::bold })
    {
        const auto font = loadEmbeddedFont (face);
        EXPECT_TRUE (font.getTypefaceName().startsWith ("Source Sans Pro")) << font.getTypefaceName();
        EXPECT_FLOAT_EQ (font.getHeight(), 14.0f);
    }
}

TEST (Fonts, TheFacesDiffer)
{
    const juce::String text ("Hamburgefonstiv 0123456789");
    const auto width = [&] (EmbeddedFace face) { return loadEmbeddedFont (face).withHeight (40.0f).getStringWidthFloat (text); };

    const auto light = width (EmbeddedFace::light), regular = width (EmbeddedFace::regular),
               bold = width (EmbeddedFace::bold);
    EXPECT_GT (light, 100.0f);
    EXPECT_LT (light, regular);
    EXPECT_LT (regular, bold);
    EXPECT_NE (loadEmbeddedFont (EmbeddedFace::regular).withHeight (40.0f).getStringWidthFloat (text),
               juce::Font (40.0f).getStringWidthFloat (text));   // not the system's default face
}

TEST (Fonts, NullMeansADefaultFontOfTheRequestedHeight)
{
    const auto font = fontOf (nullptr, 21.0f);
    EXPECT_FLOAT_EQ (font.getHeight(), 21.0f);
    EXPECT_EQ (font.getTypefaceName(), juce::Font (21.0f).getTypefaceName());

    const auto regular = loadEmbeddedFont (EmbeddedFace::regular);
    EXPECT_FLOAT_EQ (fontOf (&regular, 33.0f).getHeight(), 33.0f);
    EXPECT_EQ (fontOf (&regular, 33.0f).getTypefaceName(), regular.getTypefaceName());
    EXPECT_FLOAT_EQ (fontOf (&regular, 1.0e6f).getHeight(), 10000.0f);   // JUCE's limit
}

TEST (Fonts, PublishedWhileTheOwnerLivesAndResetWhenItGoes)
{
    ASSERT_EQ (appFontRegular, nullptr);

    const juce::Font r1, l1, b1, r2, l2, b2;
    auto older = std::make_unique<PublishedFonts> (r1, l1, b1);
    EXPECT_EQ (appFontRegular, &r1);
    EXPECT_EQ (appFontLight, &l1);
    EXPECT_EQ (appFontBold, &b1);

    // A newer owner takes over; the older one, going first, leaves the newer one's fonts published.
    auto newer = std::make_unique<PublishedFonts> (r2, l2, b2);
    older.reset();
    EXPECT_EQ (appFontRegular, &r2);
    EXPECT_EQ (appFontBold, &b2);

    newer.reset();
    EXPECT_EQ (appFontRegular, nullptr);
    EXPECT_EQ (appFontLight, nullptr);
    EXPECT_EQ (appFontBold, nullptr);
}

} // namespace olvo
