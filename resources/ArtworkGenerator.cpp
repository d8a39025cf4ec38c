// Draws the application's artwork as PNG files, so that the images are reproducible and reviewable as code.
//
//   olvo-artwork <output folder> <font folder>
//
// The font folder holds the Source Sans Pro faces (the glyphs in the icons and the banner are drawn in them, not in
// whatever the build machine has installed). Runs headless: images, paths and text only, no window.

#include <juce_graphics/juce_graphics.h>

#include <cstdio>
#include <functional>

namespace
{
    using juce::Colour;
    using juce::Graphics;
    using juce::Path;
    using juce::PathStrokeType;
    using juce::Rectangle;

    const Colour ringBlue { 0xff7cc7ea };     // the light-blue ring of the information and help icons
    const Colour markBlue { 0xff2a8fc4 };     // the application's mark
    const Colour grey { 0xff7d8c92 };         // the windows' grey text colour
    const Colour red { 0xffd9413a };
    const Colour green { 0xff3aa55d };
    const Colour orange { 0xffe8903e };
    const Colour white { juce::Colours::white };

    /** The faces the glyphs are drawn in, loaded in main. */
    struct Faces
    {
        juce::Font regular, bold;
    };

    const Faces* faces = nullptr;

    juce::Font loadFace (const juce::File& file)
    {
        juce::MemoryBlock data;
        if (! file.loadFileAsData (data) || data.getSize() == 0)
            return {};

        return juce::Font (juce::Typeface::createSystemTypefaceFor (data.getData(), data.getSize()));
    }

    /** Adds an open line (stroked with round caps it becomes a ray or a bar). */
    void addLine (Path& p, juce::Point<float> a, juce::Point<float> b)
    {
        p.startNewSubPath (a);
        p.lineTo (b);
    }

    /** One glyph, centred in the area at the given height. */
    void drawGlyph (Graphics& g, const juce::String& text, Rectangle<float> area, float height, Colour colour,
                    const juce::Font& face)
    {
        g.setColour (colour);
        g.setFont (face.withHeight (height));
        g.drawText (text, area, juce::Justification::centred, false);
    }

    /** The application's mark: a thick ring, a bright core and three short rays above it. */
    void drawMark (Graphics& g, Rectangle<float> area, Colour colour)
    {
        const auto s = juce::jmin (area.getWidth(), area.getHeight());
        const auto centre = area.getCentre().translated (0.0f, 0.07f * s);
        const auto r = 0.28f * s;

        g.setColour (colour);
        g.drawEllipse (Rectangle<float> (2 * r, 2 * r).withCentre (centre), 0.12f * s);
        g.fillEllipse (Rectangle<float> (0.7f * r, 0.7f * r).withCentre (centre));

        Path rays;
        for (float angle : { -0.6f, 0.0f, 0.6f })
        {
            addLine (rays, centre.getPointOnCircumference (r + 0.11f * s, angle),
                     centre.getPointOnCircumference (r + 0.17f * s, angle));
        }
        g.strokePath (rays, PathStrokeType (0.07f * s, PathStrokeType::curved, PathStrokeType::rounded));
    }

    void drawRingWithGlyph (Graphics& g, Rectangle<float> area, const juce::String& glyph)
    {
        const auto s = area.getWidth();
        g.setColour (ringBlue);
        g.drawEllipse (area.reduced (0.07f * s), 0.09f * s);
        drawGlyph (g, glyph, area, 0.62f * s, grey, faces->bold);
    }

    /** A plug seen from the side, centred on x: body, two prongs, cable. */
    Path plugPath (float s, float x, bool facingRight)
    {
        Path p;
        const auto body = Rectangle<float> (0.22f * s, 0.26f * s).withCentre ({ x, 0.5f * s });
        p.addRoundedRectangle (body, 0.04f * s);

        const auto front = facingRight ? body.getRight() : body.getX();
        for (float y : { 0.42f * s, 0.58f * s })
            p.addRectangle (facingRight ? front : front - 0.12f * s, y - 0.025f * s, 0.12f * s, 0.05f * s);

        const auto back = facingRight ? body.getX() : body.getRight();
        p.addRectangle (facingRight ? back - 0.2f * s : back, 0.5f * s - 0.03f * s, 0.2f * s, 0.06f * s);
        return p;
    }

    /** A socket: a rounded block with two holes, facing left. */
    Path socketPath (float s, float x)
    {
        Path p;
        p.addRoundedRectangle (Rectangle<float> (0.18f * s, 0.4f * s).withCentre ({ x, 0.5f * s }), 0.04f * s);
        p.addRectangle (x + 0.09f * s, 0.47f * s, 0.2f * s, 0.06f * s);   // cable
        return p;
    }

    void cross (Graphics& g, juce::Point<float> centre, float size, float thickness, Colour colour)
    {
        Path p;
        addLine (p, centre.translated (-size, -size), centre.translated (size, size));
        addLine (p, centre.translated (-size, size), centre.translated (size, -size));
        g.setColour (colour);
        g.strokePath (p, PathStrokeType (thickness, PathStrokeType::curved, PathStrokeType::rounded));
    }

    Path cloudPath (float s)
    {
        Path p;
        p.addEllipse (0.14f * s, 0.42f * s, 0.3f * s, 0.3f * s);
        p.addEllipse (0.3f * s, 0.26f * s, 0.4f * s, 0.4f * s);
        p.addEllipse (0.56f * s, 0.4f * s, 0.3f * s, 0.3f * s);
        p.addRoundedRectangle (0.29f * s, 0.52f * s, 0.42f * s, 0.2f * s, 0.02f * s);
        return p;
    }

    /** Eight dots on a circle, fading round: turned by 45 degrees it is the next frame of a spinner. */
    void drawSpinner (Graphics& g, float s)
    {
        const juce::Point<float> centre (0.5f * s, 0.5f * s);
        for (int i = 0; i < 8; ++i)
        {
            const auto p = centre.getPointOnCircumference (0.34f * s, juce::MathConstants<float>::pi * 0.25f * (float) i);
            const auto d = (0.1f + 0.008f * (float) i) * s;
            g.setColour (markBlue.withAlpha (0.2f + 0.8f * (float) i / 7.0f));
            g.fillEllipse (Rectangle<float> (d, d).withCentre (p));
        }
    }

    void drawDisc (Graphics& g, float s, Colour colour)
    {
        g.setColour (colour);
        g.fillEllipse (0.06f * s, 0.06f * s, 0.88f * s, 0.88f * s);
    }

    void drawTick (Graphics& g, float s)
    {
        Path p;
        p.startNewSubPath (0.28f * s, 0.52f * s);
        p.lineTo (0.44f * s, 0.68f * s);
        p.lineTo (0.73f * s, 0.35f * s);
        g.setColour (white);
        g.strokePath (p, PathStrokeType (0.1f * s, PathStrokeType::curved, PathStrokeType::rounded));
    }

    void drawSun (Graphics& g, float s, float coreFraction, float rayInner, float rayOuter)
    {
        const juce::Point<float> centre (0.5f * s, 0.5f * s);
        g.setColour (grey);
        g.fillEllipse (Rectangle<float> (coreFraction * s, coreFraction * s).withCentre (centre));

        Path rays;
        for (int i = 0; i < 8; ++i)
        {
            const auto angle = juce::MathConstants<float>::pi * 0.25f * (float) i;
            addLine (rays, centre.getPointOnCircumference (rayInner * s, angle),
                     centre.getPointOnCircumference (rayOuter * s, angle));
        }
        g.strokePath (rays, PathStrokeType (0.06f * s, PathStrokeType::curved, PathStrokeType::rounded));
    }

    struct Artwork
    {
        const char* file;
        int width, height;
        std::function<void (Graphics&, float w, float h)> draw;
    };

    const std::vector<Artwork>& artworks()
    {
        static const std::vector<Artwork> list
        {
            // Menu-bar icon: the mark in colour, and a black template of it.
            { "trayIconColour.png", 201, 200, [] (Graphics& g, float w, float h)
                { drawMark (g, { w, h }, markBlue); } },
            { "trayIconTemplate.png", 201, 200, [] (Graphics& g, float w, float h)
                { drawMark (g, { w, h }, juce::Colours::black); } },

            // The desktop's application icon (square, as icon themes want it): the mark on a light tile. Installed,
            // not embedded.
            { "appIcon.png", 256, 256, [] (Graphics& g, float s, float)
                {
                    const auto tile = Rectangle<float> (s, s).reduced (0.06f * s);
                    g.setColour (white);
                    g.fillRoundedRectangle (tile, 0.18f * s);
                    g.setColour (ringBlue);
                    g.drawRoundedRectangle (tile, 0.18f * s, 0.02f * s);
                    drawMark (g, tile.reduced (0.08f * s), markBlue);
                } },

            // Status icons.
            { "statusNoDevice.png", 200, 200, [] (Graphics& g, float s, float)
                {
                    g.setColour (grey);
                    g.fillPath (plugPath (s, 0.42f * s, true));
                    cross (g, { 0.8f * s, 0.26f * s }, 0.07f * s, 0.04f * s, grey);
                } },
            { "statusConnecting.png", 200, 200, [] (Graphics& g, float s, float)
                {
                    g.setColour (markBlue);
                    g.fillPath (plugPath (s, 0.3f * s, true));
                    g.fillPath (socketPath (s, 0.78f * s));
                    for (int i = 0; i < 3; ++i)
                        g.fillEllipse (Rectangle<float> (0.035f * s, 0.035f * s)
                                           .withCentre ({ (0.54f + 0.045f * (float) i) * s, 0.5f * s }));
                } },
            { "statusNoConnection.png", 200, 200, [] (Graphics& g, float s, float)
                {
                    g.setColour (grey);
                    g.fillPath (cloudPath (s));
                    cross (g, { 0.5f * s, 0.52f * s }, 0.09f * s, 0.05f * s, red);
                } },
            { "statusUpdating.png", 200, 200, [] (Graphics& g, float s, float) { drawSpinner (g, s); } },
            { "statusUnknownDevice.png", 200, 200, [] (Graphics& g, float s, float)
                {
                    g.setColour (orange);
                    g.drawRoundedRectangle (0.26f * s, 0.1f * s, 0.48f * s, 0.8f * s, 0.08f * s, 0.06f * s);
                    drawGlyph (g, "?", { 0.0f, 0.0f, s, s }, 0.52f * s, orange, faces->bold);
                } },
            { "statusError.png", 200, 200, [] (Graphics& g, float s, float)
                {
                    drawDisc (g, s, red);
                    drawGlyph (g, "!", { 0.0f, 0.0f, s, s }, 0.7f * s, white, faces->bold);
                } },
            { "statusUpToDate.png", 200, 200, [] (Graphics& g, float s, float)
                {
                    drawDisc (g, s, green);
                    drawTick (g, s);
                } },

            // Information and help buttons.
            { "infoIcon.png", 200, 200, [] (Graphics& g, float s, float) { drawRingWithGlyph (g, { s, s }, "i"); } },
            { "helpIcon.png", 200, 200, [] (Graphics& g, float s, float) { drawRingWithGlyph (g, { s, s }, "?"); } },

            // The banner: the mark and the application's name.
            { "logoBanner.png", 807, 200, [] (Graphics& g, float w, float h)
                {
                    drawMark (g, { 0.0f, 0.0f, h, h }, markBlue);
                    g.setColour (Colour (0xff3c4a50));
                    g.setFont (faces->regular.withHeight (0.56f * h));
                    g.drawText ("Olvo Assistant", Rectangle<float> (1.1f * h, 0.0f, w - 1.1f * h, h),
                                juce::Justification::centredLeft, false);
                } },

            // Program-group icons, white on the group's coloured badge: several lights, bright light, warm light.
            { "groupMulti.png", 153, 153, [] (Graphics& g, float s, float)
                {
                    g.setColour (white);
                    for (auto c : { juce::Point<float> (0.38f, 0.4f), { 0.62f, 0.4f }, { 0.5f, 0.62f } })
                        g.drawEllipse (Rectangle<float> (0.36f * s, 0.36f * s).withCentre (c * s), 0.06f * s);
                } },
            { "groupBright.png", 153, 153, [] (Graphics& g, float s, float)
                {
                    Path star;
                    star.addStar ({ 0.5f * s, 0.5f * s }, 4, 0.1f * s, 0.42f * s);
                    g.setColour (white);
                    g.fillPath (star);
                } },
            { "groupOrange.png", 153, 153, [] (Graphics& g, float s, float)
                {
                    g.setColour (white);
                    Path waves;
                    for (float y : { 0.32f, 0.5f, 0.68f })
                    {
                        waves.startNewSubPath (0.18f * s, y * s);
                        waves.cubicTo (0.34f * s, (y - 0.1f) * s, 0.5f * s, (y + 0.1f) * s, 0.66f * s, y * s);
                        waves.quadraticTo (0.74f * s, (y - 0.05f) * s, 0.82f * s, y * s);
                    }
                    g.strokePath (waves, PathStrokeType (0.07f * s, PathStrokeType::curved, PathStrokeType::rounded));
                } },

            // The brightness slider's ends: a small sun and a large sun.
            { "sunSmall.png", 128, 128, [] (Graphics& g, float s, float) { drawSun (g, s, 0.32f, 0.25f, 0.38f); } },
            { "sunLarge.png", 144, 144, [] (Graphics& g, float s, float) { drawSun (g, s, 0.42f, 0.3f, 0.43f); } },
        };
        return list;
    }

    bool writePng (const juce::Image& image, const juce::File& file)
    {
        file.deleteFile();
        juce::FileOutputStream out (file);
        return out.openedOk() && juce::PNGImageFormat().writeImageToStream (image, out);
    }
}

int main (int argc, char* argv[])
{
    if (argc != 3)
    {
        std::fprintf (stderr, "usage: olvo-artwork <output folder> <font folder>\n");
        return 2;
    }

    const juce::File outputFolder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const juce::File fontFolder (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));

    const auto fontsPresent = fontFolder.getChildFile ("SourceSansPro-Bold.otf").existsAsFile()
                              && fontFolder.getChildFile ("SourceSansPro-Regular.otf").existsAsFile();
    if (! fontsPresent)   // (the set-up fetches them, checked)
    {
        std::fprintf (stderr, "olvo-artwork: cannot load the fonts from %s\n", fontFolder.getFullPathName().toRawUTF8());
        return 1;
    }

    auto loaded = std::make_unique<Faces> (Faces { loadFace (fontFolder.getChildFile ("SourceSansPro-Regular.otf")),
                                                   loadFace (fontFolder.getChildFile ("SourceSansPro-Bold.otf")) });
    faces = loaded.get();

    if (! outputFolder.createDirectory())
    {
        std::fprintf (stderr, "olvo-artwork: cannot create %s\n", outputFolder.getFullPathName().toRawUTF8());
        return 1;
    }

    for (const auto& art : artworks())
    {
        juce::Image image (juce::Image::ARGB, art.width, art.height, true);
        {
            Graphics g (image);
            art.draw (g, (float) art.width, (float) art.height);
        }

        if (! writePng (image, outputFolder.getChildFile (art.file)))
        {
            std::fprintf (stderr, "olvo-artwork: cannot write %s\n", art.file);
            return 1;
        }
    }

    faces = nullptr;
    loaded.reset();
    juce::DeletedAtShutdown::deleteAll();   // JUCE's typeface cache
    return 0;
}
