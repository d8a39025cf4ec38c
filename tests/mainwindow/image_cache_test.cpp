#include "GuiTestSupport.h"

#include "mainwindow/ImageUrlCache.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <thread>
#include <tuple>

#include <jpeglib.h>

namespace olvo
{

namespace
{
    juce::MemoryBlock encoded (juce::ImageFileFormat&& format, int w, int h)
    {
        juce::Image image (juce::Image::RGB, w, h, true);
        image.clear (image.getBounds(), juce::Colours::orange);
        juce::MemoryOutputStream out;
        format.writeImageToStream (image, out);
        return out.getMemoryBlock();
    }

    juce::MemoryBlock png (int w = 20, int h = 10) { return encoded (juce::PNGImageFormat(), w, h); }
    juce::MemoryBlock jpeg (int w = 20, int h = 10) { return encoded (juce::JPEGImageFormat(), w, h); }

    /** GIFs of 16 x 11 pixels of 16 colours: pixel (x, y) has colour (7 x + 3 y) mod 16 (see patternColour); plain,
        interlaced, and with colour 1 (0, 255, 0) transparent. */
    const uint8_t plainGif[] = {
      0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x10, 0x00, 0x0b, 0x00, 0xf3, 0x00,
      0x00, 0xe0, 0x1f, 0x06, 0xf0, 0x0f, 0x2b, 0x80, 0x7f, 0x28, 0x90, 0x6f,
      0x4d, 0xa0, 0x5f, 0x72, 0x70, 0x8f, 0x03, 0x00, 0xff, 0x00, 0x10, 0xef,
      0x25, 0x20, 0xdf, 0x4a, 0x30, 0xcf, 0x6f, 0xc0, 0x3f, 0xbc, 0xb0, 0x4f,
      0x97, 0xd0, 0x2f, 0xe1, 0x40, 0xbf, 0x94, 0x50, 0xaf, 0xb9, 0x60, 0x9f,
      0xde, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
      0x00, 0x00, 0x10, 0x00, 0x0b, 0x00, 0x00, 0x04, 0x39, 0xd0, 0x14, 0xe0,
      0x54, 0x22, 0x47, 0x84, 0xc7, 0xda, 0x42, 0xc3, 0x95, 0x6d, 0xdd, 0x37,
      0x48, 0x94, 0xc2, 0x79, 0x20, 0x5a, 0x89, 0xda, 0x39, 0xbd, 0x98, 0xb6,
      0x7e, 0x56, 0x4d, 0xb2, 0x32, 0xb5, 0x9b, 0xae, 0x5c, 0xa6, 0x35, 0x13,
      0xda, 0x4a, 0xb4, 0xd1, 0x8d, 0x08, 0x38, 0xf2, 0x82, 0x22, 0x60, 0x11,
      0xb6, 0x4b, 0x51, 0x97, 0xb2, 0x08, 0x00, 0x3b
    };
    const uint8_t interlacedGif[] = {
      0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x10, 0x00, 0x0b, 0x00, 0xf3, 0x00,
      0x00, 0xe0, 0x1f, 0x06, 0xf0, 0x0f, 0x2b, 0x80, 0x7f, 0x28, 0x90, 0x6f,
      0x4d, 0xa0, 0x5f, 0x72, 0x70, 0x8f, 0x03, 0x00, 0xff, 0x00, 0x10, 0xef,
      0x25, 0x20, 0xdf, 0x4a, 0x30, 0xcf, 0x6f, 0xc0, 0x3f, 0xbc, 0xb0, 0x4f,
      0x97, 0xd0, 0x2f, 0xe1, 0x40, 0xbf, 0x94, 0x50, 0xaf, 0xb9, 0x60, 0x9f,
      0xde, 0x21, 0xf9, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x2c, 0x00, 0x00,
      0x00, 0x00, 0x10, 0x00, 0x0b, 0x00, 0x40, 0x04, 0x39, 0xd0, 0x14, 0xe0,
      0x54, 0x22, 0x47, 0x84, 0xc7, 0xda, 0x42, 0x83, 0xc6, 0x79, 0xa0, 0x44,
      0x59, 0x18, 0x9a, 0x6d, 0xdd, 0x37, 0x98, 0xce, 0xe8, 0xc2, 0xaa, 0x56,
      0x4e, 0xd5, 0xb5, 0xca, 0xa7, 0x2e, 0xb6, 0x37, 0x1f, 0x8b, 0xf4, 0xc2,
      0x29, 0x8a, 0x3d, 0xcc, 0x8f, 0x34, 0x9c, 0x19, 0x7d, 0x39, 0x65, 0xf3,
      0x06, 0x70, 0x26, 0x77, 0x9d, 0x08, 0x00, 0x3b
    };
    const uint8_t transparentGif[] = {
      0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x10, 0x00, 0x0b, 0x00, 0xf3, 0x00,
      0x00, 0xe0, 0x1f, 0x06, 0xf0, 0x0f, 0x2b, 0x80, 0x7f, 0x28, 0x90, 0x6f,
      0x4d, 0xa0, 0x5f, 0x72, 0x70, 0x8f, 0x03, 0x10, 0xef, 0x25, 0x20, 0xdf,
      0x4a, 0x30, 0xcf, 0x6f, 0xc0, 0x3f, 0xbc, 0xb0, 0x4f, 0x97, 0xd0, 0x2f,
      0xe1, 0x40, 0xbf, 0x94, 0x50, 0xaf, 0xb9, 0x60, 0x9f, 0xde, 0x00, 0x00,
      0x00, 0x21, 0xf9, 0x04, 0x01, 0x00, 0x00, 0x0f, 0x00, 0x2c, 0x00, 0x00,
      0x00, 0x00, 0x10, 0x00, 0x0b, 0x00, 0x00, 0x04, 0x39, 0xf0, 0x15, 0xd0,
      0x12, 0x22, 0x46, 0x04, 0xb7, 0x98, 0x3a, 0xc3, 0x95, 0x6d, 0xdd, 0x37,
      0x48, 0x54, 0xc2, 0x79, 0x20, 0x5a, 0x89, 0xda, 0x39, 0xbd, 0x98, 0xb6,
      0x7e, 0x56, 0x4d, 0xb2, 0x32, 0xb5, 0x9b, 0xae, 0x5c, 0xa6, 0x35, 0x13,
      0xda, 0x4a, 0xb4, 0xd1, 0x8d, 0x08, 0x38, 0xf2, 0x82, 0x22, 0x60, 0x11,
      0xb6, 0x4b, 0x51, 0x97, 0xb2, 0x08, 0x00, 0x3b
    };

    juce::Colour patternColour (int x, int y)
    {
        const int i = (7 * x + 3 * y) % 16;
        return juce::Colour ((juce::uint8) (i * 16 % 256), (juce::uint8) ((255 - i * 16) % 256), (juce::uint8) (i * 37 % 256));
    }

    /** A 1 x 1 GIF with a graphics-control extension before its image descriptor (at byte 27). */
    juce::MemoryBlock gif()
    {
        static const uint8_t bytes[] {
            'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0x80, 0, 0,   // screen 1 x 1, a palette of 2 colours
            0xff, 0xff, 0xff, 0, 0, 0,
            '!', 0xf9, 4, 1, 0, 0, 0, 0,                          // graphics control extension
            ',', 0, 0, 0, 0, 1, 0, 1, 0, 0,                        // image descriptor: 1 x 1
            2, 2, 0x44, 1, 0, ';' };
        return { bytes, sizeof (bytes) };
    }
    constexpr size_t gifDescriptor = 27;

    void putU16LE (juce::MemoryBlock& block, size_t at, int v)
    {
        block[at] = (char) (v & 0xff);
        block[at + 1] = (char) ((v >> 8) & 0xff);
    }

    void putU32BE (juce::MemoryBlock& block, size_t at, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            block[at + (size_t) i] = (char) (v >> (24 - 8 * i));
    }

    /** The offset of a JPEG's first frame header marker (FF C0..C2). */
    size_t startOfFrame (const juce::MemoryBlock& block)
    {
        auto* b = static_cast<const uint8_t*> (block.getData());
        for (size_t i = 2; i + 1 < block.getSize(); ++i)
            if (b[i] == 0xff && b[i + 1] >= 0xc0 && b[i + 1] <= 0xc2)
                return i;
        return 0;
    }

    juce::Image decode (const juce::MemoryBlock& block)
    {
        return decodeImageWithinLimits (block.getData(), block.getSize());
    }
}

//==============================================================================
TEST (ImageDecoding, ReadsTheDeclaredSizeOfEachFormatBeforeDecoding)
{
    const struct { const char* what; juce::MemoryBlock data; ImageHeader::Format format; int w, h; } table[] {
        { "png", png (20, 10), ImageHeader::Format::png, 20, 10 },
        { "jpeg", jpeg (33, 7), ImageHeader::Format::jpeg, 33, 7 },
        { "gif", gif(), ImageHeader::Format::gif, 1, 1 },
    };

    for (const auto& row : table)
    {
        const auto header = readImageHeader (row.data.getData(), row.data.getSize());
        EXPECT_EQ (header.format, row.format) << row.what;
        EXPECT_EQ (header.width, row.w) << row.what;
        EXPECT_EQ (header.height, row.h) << row.what;

        const auto image = decode (row.data);
        EXPECT_EQ (image.getWidth(), row.w) << row.what;
        EXPECT_EQ (image.getHeight(), row.h) << row.what;
    }
}

TEST (ImageDecoding, ASmallFileDeclaringAHugeImageIsRefusedWithoutDecoding)
{
    auto hugePng = png();
    putU32BE (hugePng, 16, 40000);
    putU32BE (hugePng, 20, 40000);

    auto hugeJpeg = jpeg();
    const auto sof = startOfFrame (hugeJpeg);
    ASSERT_GT (sof, 0u);
    hugeJpeg[sof + 5] = (char) 0xea;   // height 60000
    hugeJpeg[sof + 6] = (char) 0x60;
    hugeJpeg[sof + 7] = (char) 0xea;   // width 60000
    hugeJpeg[sof + 8] = (char) 0x60;

    auto hugeGif = gif();
    putU16LE (hugeGif, gifDescriptor + 5, 65535);
    putU16LE (hugeGif, gifDescriptor + 7, 65535);

    auto wideGif = gif();   // within the pixel count, beyond the longest side
    putU16LE (wideGif, gifDescriptor + 5, 20000);

    for (const auto* data : { &hugePng, &hugeJpeg, &hugeGif, &wideGif })
    {
        const auto header = readImageHeader (data->getData(), data->getSize());
        EXPECT_GT ((int64_t) header.width * header.height, 0);
        EXPECT_TRUE (decode (*data).isNull()) << header.width << "x" << header.height;
    }

    // The limits are the caller's.
    ImageLimits tight;
    tight.maxPixels = 199;
    const auto block = png (20, 10);
    EXPECT_TRUE (decodeImageWithinLimits (block.getData(), block.getSize(), tight).isNull());
    tight.maxPixels = 200;
    EXPECT_TRUE (decodeImageWithinLimits (block.getData(), block.getSize(), tight).isValid());
}

TEST (ImageDecoding, DataThatIsNoReadableImageGivesNone)
{
    auto zeroGif = gif();
    putU16LE (zeroGif, gifDescriptor + 5, 0);
    auto truncatedPng = png();
    truncatedPng.setSize (20);
    auto jpegWithoutFrame = jpeg();
    jpegWithoutFrame.setSize (startOfFrame (jpegWithoutFrame));
    jpegWithoutFrame.append ("\xff\xd9", 2);
    auto gifWithoutImage = gif();
    gifWithoutImage.setSize (gifDescriptor);
    gifWithoutImage.append (";", 1);

    const struct { const char* what; juce::MemoryBlock data; } table[] {
        { "text", juce::MemoryBlock ("<html>not found</html>", 22) },
        { "four bytes", juce::MemoryBlock ("\x89PNG", 4) },
        { "empty", juce::MemoryBlock() },
        { "gif of width 0", zeroGif },
        { "png cut in its header", truncatedPng },
        { "jpeg without a frame header", jpegWithoutFrame },
        { "gif without an image", gifWithoutImage },
    };

    for (const auto& row : table)
        EXPECT_TRUE (decode (row.data).isNull()) << row.what;

    EXPECT_TRUE (decodeImageWithinLimits (nullptr, 100).isNull());
}

TEST (ImageDecoding, ImagesDecodeToTheirColours)
{
    const struct { const char* what; const uint8_t* data; size_t size; bool transparentGreen; } gifs[] {
        { "plain", plainGif, sizeof (plainGif), false },
        { "interlaced", interlacedGif, sizeof (interlacedGif), false },   // rows stored 0, 8, 4, 2, 6, 10, 1, 3 ...
        { "transparent", transparentGif, sizeof (transparentGif), true },
    };

    for (const auto& gif : gifs)
    {
        const auto image = decodeImageWithinLimits (gif.data, gif.size);
        ASSERT_EQ (image.getWidth(), 16) << gif.what;
        ASSERT_EQ (image.getHeight(), 11) << gif.what;

        int wrong = 0;
        for (int y = 0; y < 11; ++y)
            for (int x = 0; x < 16; ++x)
            {
                const auto expected = patternColour (x, y);
                const auto green = expected == juce::Colour (0, 255, 0);
                const auto pixel = image.getPixelAt (x, y);
                wrong += gif.transparentGreen && green ? (pixel.getAlpha() != 0) : (pixel != expected);
            }
        EXPECT_EQ (wrong, 0) << gif.what;
    }

    // PNG keeps its alpha (premultiplied as JUCE draws it); JPEG comes close to its colours.
    juce::Image source (juce::Image::ARGB, 8, 8, true);
    source.clear ({ 0, 0, 4, 8 }, juce::Colours::blue.withAlpha ((juce::uint8) 128));
    source.clear ({ 4, 0, 4, 8 }, juce::Colours::orange);
    juce::MemoryOutputStream out;
    juce::PNGImageFormat().writeImageToStream (source, out);
    const auto fromPng = decodeImageWithinLimits (out.getData(), out.getDataSize());
    EXPECT_TRUE (test::near (fromPng.getPixelAt (1, 1), source.getPixelAt (1, 1), 3));
    EXPECT_EQ (fromPng.getPixelAt (1, 1).getAlpha(), 128);
    EXPECT_EQ (fromPng.getPixelAt (6, 6), juce::Colour (juce::Colours::orange));

    const auto fromJpeg = decode (jpeg (33, 7));
    EXPECT_TRUE (test::near (fromJpeg.getPixelAt (16, 3), juce::Colours::orange, 8));
}

TEST (ImageDecoding, CorruptOrCutDataGivesAnImageOrNoneButNeverACrash)
{
    // JUCE's own loaders, built against the system's libraries, crash on some of these (a division by zero in
    // libjpeg, a jump through a null pointer in libpng) and read outside a buffer on every GIF.
    juce::Random random (20240611);
    const juce::MemoryBlock seeds[] { png (64, 48), jpeg (64, 48), juce::MemoryBlock (plainGif, sizeof (plainGif)),
                                      juce::MemoryBlock (interlacedGif, sizeof (interlacedGif)), gif() };
    int decoded = 0, refused = 0;

    for (const auto& seed : seeds)
    {
        for (int i = 0; i < 1500; ++i)
        {
            auto data = seed;
            for (int n = 1 + random.nextInt (6); --n >= 0;)
                data[(size_t) random.nextInt ((int) data.getSize())] = (char) random.nextInt (256);
            if (random.nextInt (3) == 0)
                data.setSize ((size_t) random.nextInt ((int) data.getSize()));

            const auto image = decodeImageWithinLimits (data.getData(), data.getSize());
            ++(image.isValid() ? decoded : refused);
            ASSERT_LE ((int64_t) image.getWidth() * image.getHeight(), ImageLimits().maxPixels);
        }
    }

    // Both outcomes happen: the mutations are neither all harmless nor all fatal.
    EXPECT_GT (decoded, 100);
    EXPECT_GT (refused, 100);
}

//==============================================================================
namespace
{
    /** A file that make-test-images made with ImageMagick at build time. */
    juce::MemoryBlock testImage (const juce::String& name)
    {
        juce::MemoryBlock block;
        const auto file = juce::File (OLVO_TEST_IMAGES).getChildFile (name);
        EXPECT_TRUE (file.loadFileAsData (block)) << file.getFullPathName();
        return block;
    }

    /** The largest difference in any channel of the premultiplied pixels (so that nearly transparent ones count as
        little as they show) of rows y0 to y1 (exclusive, all by default); 1000 for images of other sizes. */
    int largestDifference (const juce::Image& a, const juce::Image& b, int y0 = 0, int y1 = -1)
    {
        if (a.isNull() || b.isNull() || a.getBounds() != b.getBounds())
            return 1000;

        int largest = 0;
        for (int y = y0; y < (y1 < 0 ? a.getHeight() : y1); ++y)
        {
            for (int x = 0; x < a.getWidth(); ++x)
            {
                const auto pa = a.getPixelAt (x, y).getPixelARGB(), pb = b.getPixelAt (x, y).getPixelARGB();
                for (auto [ca, cb] : { std::pair (pa.getRed(), pb.getRed()), std::pair (pa.getGreen(), pb.getGreen()),
                                       std::pair (pa.getBlue(), pb.getBlue()), std::pair (pa.getAlpha(), pb.getAlpha()) })
                    largest = std::max (largest, std::abs ((int) ca - (int) cb));
            }
        }
        return largest;
    }

    /** The offset of a PNG's first chunk of that type (at its length field); 0 when there is none. */
    size_t pngChunk (const juce::MemoryBlock& block, const char* type)
    {
        auto* b = static_cast<const uint8_t*> (block.getData());
        for (size_t at = 8; at + 8 <= block.getSize();)
        {
            if (std::memcmp (b + at + 4, type, 4) == 0)
                return at;
            at += 12 + (((size_t) b[at] << 24) | ((size_t) b[at + 1] << 16) | ((size_t) b[at + 2] << 8) | b[at + 3]);
        }
        return 0;
    }

    /** The image as a CMYK JPEG written by libjpeg: in Adobe's form (inverted, with its APP14 marker) or plainly
        (the ink, no marker). K is what no channel reaches, C, M and Y the rest of each channel's ink. */
    juce::MemoryBlock cmykJpeg (const juce::Image& source, bool adobe)
    {
        jpeg_compress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error (&errors);
        jpeg_create_compress (&info);

        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_mem_dest (&info, &out, &size);
        info.image_width = (JDIMENSION) source.getWidth();
        info.image_height = (JDIMENSION) source.getHeight();
        info.input_components = 4;
        info.in_color_space = JCS_CMYK;
        jpeg_set_defaults (&info);
        jpeg_set_colorspace (&info, JCS_CMYK);
        info.write_Adobe_marker = adobe ? TRUE : FALSE;
        jpeg_set_quality (&info, 95, TRUE);
        jpeg_start_compress (&info, TRUE);

        std::vector<JSAMPLE> row ((size_t) source.getWidth() * 4);
        for (int y = 0; y < source.getHeight(); ++y)
        {
            for (int x = 0; x < source.getWidth(); ++x)
            {
                const auto c = source.getPixelAt (x, y);
                const int r = c.getRed(), g = c.getGreen(), b = c.getBlue();
                const int k = 255 - std::max ({ r, g, b });
                auto ink = [k] (int channel)
                {
                    return k == 255 ? 0 : (255 * (255 - channel - k) + (255 - k) / 2) / (255 - k);
                };
                const int inks[] { ink (r), ink (g), ink (b), k };
                for (int i = 0; i < 4; ++i)
                    row[(size_t) (4 * x + i)] = (JSAMPLE) (adobe ? 255 - inks[i] : inks[i]);
            }
            JSAMPROW rows[] { row.data() };
            jpeg_write_scanlines (&info, rows, 1);
        }
        jpeg_finish_compress (&info);
        jpeg_destroy_compress (&info);

        juce::MemoryBlock block (out, size);
        std::free (out);
        return block;
    }
}

TEST (ImageDecoding, SixteenBitPngsDecodeAlikeInterlacedOrNotAndLikeTheirEightBitTwins)
{
    for (const auto* type : { "grey", "greyalpha", "rgb", "rgba" })
    {
        const juce::String name (type);
        const auto plain = decode (testImage ("png16-" + name + "-plain.png"));
        const auto interlaced = decode (testImage ("png16-" + name + "-interlaced.png"));
        const auto eightBit = decode (testImage ("png8-" + name + ".png"));

        ASSERT_EQ (plain.getBounds(), juce::Rectangle<int> (37, 29)) << type;
        EXPECT_EQ (largestDifference (interlaced, plain), 0) << type;
        EXPECT_LE (largestDifference (plain, eightBit), 2) << type;   // alpha and colour each rounded to 8 bits
    }

    // A file without gAMA is sRGB, as browsers and ImageMagick show it; one with gAMA 1.0 (linear) is brightened.
    const auto untagged = decode (testImage ("png16-rgb-untagged.png"));
    EXPECT_LE (largestDifference (untagged, decode (testImage ("png8-rgb.png"))), 1);
    const auto linear = decode (testImage ("png16-grey-linear.png"));
    EXPECT_TRUE (test::near (linear.getPixelAt (3, 3), juce::Colour::greyLevel (186.0f / 255.0f), 1))
        << linear.getPixelAt (3, 3).toDisplayString (true);
}

TEST (ImageDecoding, CmykAndYcckJpegsDecodeToTheirRgbSource)
{
    const auto source = decode (testImage ("jpeg-source.png"));
    ASSERT_EQ (source.getBounds(), juce::Rectangle<int> (48, 32));

    const struct { const char* what; juce::MemoryBlock data; } table[] {
        { "YCCK from ImageMagick", testImage ("jpeg-ycck.jpg") },
        { "CMYK, Adobe's inverted form", cmykJpeg (source, true) },
        { "CMYK without Adobe's marker", cmykJpeg (source, false) },
    };

    for (const auto& row : table)
        EXPECT_LE (largestDifference (decode (row.data), source), 4) << row.what;
}

TEST (ImageDecoding, GifsDecodeToTheirSourceInterlacedOrTransparent)
{
    const auto source = decode (testImage ("gif-source.png"));
    ASSERT_EQ (source.getBounds(), juce::Rectangle<int> (128, 96));

    EXPECT_EQ (largestDifference (decode (testImage ("gif-plain.gif")), source), 0);
    EXPECT_EQ (largestDifference (decode (testImage ("gif-interlaced.gif")), source), 0);

    // The colour of the corner is the transparent one.
    const auto transparent = decode (testImage ("gif-transparent.gif"));
    ASSERT_EQ (transparent.getBounds(), source.getBounds());
    int wrong = 0, clear = 0;
    for (int y = 0; y < source.getHeight(); ++y)
        for (int x = 0; x < source.getWidth(); ++x)
        {
            const auto expected = source.getPixelAt (x, y);
            const auto isClear = expected == source.getPixelAt (0, 0);
            clear += isClear;
            const auto pixel = transparent.getPixelAt (x, y);
            wrong += isClear ? pixel.getAlpha() != 0 : pixel != expected;
        }
    EXPECT_EQ (wrong, 0);
    EXPECT_GT (clear, 0);
}

TEST (ImageDecoding, AFileCutShortKeepsWhatWasDecodedAndACorruptPngIsRefused)
{
    // The rows before the cut come out as from the whole file (a JPEG's within a rounding), the last row does not.
    const struct { const char* name; double keep; int rowsDecoded, tolerance; } table[] {
        { "png16-rgb-plain.png", 0.6, 8, 0 },
        { "gif-plain.gif", 0.5, 30, 0 },
        { "jpeg-ycck.jpg", 0.6, 8, 1 },
    };

    for (const auto& row : table)
    {
        const auto whole = testImage (row.name);
        const auto full = decode (whole);
        auto cut = whole;
        cut.setSize ((size_t) ((double) whole.getSize() * row.keep));

        const auto partial = decode (cut);
        ASSERT_EQ (partial.getBounds(), full.getBounds()) << row.name;
        EXPECT_LE (largestDifference (partial, full, 0, row.rowsDecoded), row.tolerance) << row.name;
        EXPECT_GT (largestDifference (partial, full, full.getHeight() - 1), 0) << row.name;
    }

    // Cut in the IDAT chunk: an interlaced PNG keeps its first passes (every 8th pixel of every 8th row first).
    const auto interlacedFile = testImage ("png16-rgba-interlaced.png");
    const auto idat = pngChunk (interlacedFile, "IDAT");
    ASSERT_GT (idat, 0u);
    auto cutInterlaced = interlacedFile;
    cutInterlaced.setSize (idat + 8 + (pngChunk (interlacedFile, "IEND") - idat) / 2);
    const auto full = decode (interlacedFile), partial = decode (cutInterlaced);
    ASSERT_EQ (partial.getBounds(), full.getBounds());
    for (int y = 0; y < full.getHeight(); y += 8)
        for (int x = 0; x < full.getWidth(); x += 8)
            EXPECT_EQ (partial.getPixelAt (x, y), full.getPixelAt (x, y)) << x << ", " << y;

    // A checksum that does not match its chunk is corruption, not a short file.
    auto corrupt = testImage ("png16-rgb-plain.png");
    corrupt[pngChunk (corrupt, "IDAT") + 20] ^= 0x10;
    EXPECT_TRUE (decode (corrupt).isNull());
}

//==============================================================================
namespace
{
    /** A fetcher that serves prepared outcomes by URL and counts its calls. */
    struct FakeFetcher
    {
        std::map<juce::String, ImageFetch> outcomes;
        std::map<juce::String, int> calls;

        ImageUrlCache::Fetcher fetcher()
        {
            return [this] (const juce::String& url)
            {
                ++calls[url];
                const auto it = outcomes.find (url);
                return it != outcomes.end() ? it->second : ImageFetch {};
            };
        }

        void serve (const juce::String& url, ImageFetch::Result result, juce::MemoryBlock body = {}, int status = 200)
        {
            ImageFetch fetch;
            fetch.result = result;
            fetch.statusCode = status;
            fetch.body = std::move (body);
            outcomes[url] = std::move (fetch);
        }
    };

    const juce::String logo ("https://cdn.olvo.example/logo.png");

    /** Waits (bounded) until the cache has no download queued or running. */
    bool settled (const ImageUrlCache& cache, int timeoutMs = 20000)
    {
        return test::pumpUntil ([&cache] { return ! cache.hasPendingDownloads(); }, timeoutMs);
    }

    /** The image of a URL once its download (if it needs one) has ended, as a later pass of the window sees it. */
    juce::Image fetched (ImageUrlCache& cache, const juce::String& url)
    {
        cache.get (url);
        EXPECT_TRUE (settled (cache)) << url;
        return cache.get (url);
    }
}

TEST (ImageUrlCache, AnImageIsFetchedOnceAndKept)
{
    FakeFetcher net;
    net.serve (logo, ImageFetch::Result::body, png (20, 10));
    ImageUrlCache cache (net.fetcher());

    EXPECT_EQ (fetched (cache, logo).getWidth(), 20);
    EXPECT_EQ (fetched (cache, logo).getHeight(), 10);
    EXPECT_EQ (net.calls[logo], 1);
    EXPECT_EQ (cache.entries().size(), 1u);

    // The URL must match exactly.
    EXPECT_TRUE (fetched (cache, "https://cdn.olvo.example/LOGO.png").isNull());
    EXPECT_EQ (net.calls["https://cdn.olvo.example/LOGO.png"], 1);
}

TEST (ImageUrlCache, OnlyWebUrlsAreFetched)
{
    FakeFetcher net;
    ImageUrlCache cache (net.fetcher());

    for (const char* url : { "", "file:///etc/hostname", "/etc/hostname", "ftp://cdn.olvo.example/a.png",
                             "https:///no-host.png", "https://cdn.olvo.example/a b.png" })
    {
        EXPECT_TRUE (fetched (cache, url).isNull()) << url;
        EXPECT_EQ (net.calls.count (url), 0u) << url;
    }
    EXPECT_TRUE (cache.entries().empty());
}

TEST (ImageUrlCache, ABodyThatIsNoUsableImageIsKeptAsNone)
{
    auto huge = png();
    putU32BE (huge, 16, 40000);
    putU32BE (huge, 20, 40000);

    FakeFetcher net;
    net.serve ("https://a.example/text", ImageFetch::Result::body, juce::MemoryBlock ("hello world", 11));
    net.serve ("https://a.example/huge", ImageFetch::Result::body, huge);
    net.serve ("https://a.example/big", ImageFetch::Result::tooLarge);
    ImageUrlCache cache (net.fetcher());

    for (const char* url : { "https://a.example/text", "https://a.example/huge", "https://a.example/big" })
    {
        EXPECT_TRUE (fetched (cache, url).isNull()) << url;
        EXPECT_TRUE (fetched (cache, url).isNull()) << url;
        EXPECT_EQ (net.calls[url], 1) << url << ": asked again without the network";
    }
}

TEST (ImageUrlCache, AFailedDownloadIsTriedAgainAfterAMinuteNotOnEveryPass)
{
    test::ScopedManualClock clock;
    FakeFetcher net;
    net.serve (logo, ImageFetch::Result::httpError, {}, 404);
    ImageUrlCache cache (net.fetcher());

    EXPECT_TRUE (fetched (cache, logo).isNull());
    ASSERT_EQ (cache.entries().size(), 1u);
    EXPECT_NE (cache.entries()[0].retryAt, 0) << "a failure, not a kept (null) image";

    for (int pass = 0; pass < 10; ++pass)
    {
        clock.advance (500);
        EXPECT_TRUE (fetched (cache, logo).isNull());
    }
    EXPECT_EQ (net.calls[logo], 1);

    // The server is back: the next try after the minute brings the image, which is then kept.
    net.serve (logo, ImageFetch::Result::body, png (20, 10));
    clock.advance (60 * 1000);
    EXPECT_EQ (fetched (cache, logo).getWidth(), 20);
    EXPECT_EQ (net.calls[logo], 2);
    clock.advance (10 * 60 * 1000);
    EXPECT_EQ (fetched (cache, logo).getWidth(), 20);
    EXPECT_EQ (net.calls[logo], 2);
    EXPECT_EQ (cache.entries().size(), 1u);

    // Every kind of failure is remembered the same way.
    for (auto result : { ImageFetch::Result::noConnection, ImageFetch::Result::timedOut })
    {
        const juce::String url ("https://a.example/" + juce::String ((int) result));
        net.serve (url, result);
        EXPECT_TRUE (fetched (cache, url).isNull());
        EXPECT_TRUE (fetched (cache, url).isNull());
        EXPECT_EQ (net.calls[url], 1) << url;
    }
}

TEST (ImageUrlCache, HoldsABoundedNumberOfEntriesAndPixels)
{
    // Each image is asked for once, longer ago than an image in use: the least recently used go.
    test::ScopedManualClock clock;
    const auto fetchedLater = [&clock] (ImageUrlCache& cache, const juce::String& url)
    {
        clock.advance (10'000);
        return fetched (cache, url);
    };

    FakeFetcher net;
    for (int i = 0; i < 6; ++i)
        net.serve ("https://a.example/" + juce::String (i), ImageFetch::Result::body, png (20, 10));

    ImageCacheSettings settings;
    settings.maxEntries = 3;
    ImageUrlCache cache (net.fetcher(), settings);

    for (int i = 0; i < 3; ++i)
        fetchedLater (cache, "https://a.example/" + juce::String (i));
    fetchedLater (cache, "https://a.example/0");   // used again: the least recently used is now 1
    fetchedLater (cache, "https://a.example/3");

    ASSERT_EQ (cache.entries().size(), 3u);
    juce::StringArray urls;
    for (const auto& e : cache.entries())
        urls.add (e.url);
    EXPECT_TRUE (urls.contains ("https://a.example/0"));
    EXPECT_FALSE (urls.contains ("https://a.example/1"));

    settings.maxEntries = 100;
    settings.maxCachedPixels = 500;   // two images of 200 pixels
    ImageUrlCache small (net.fetcher(), settings);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ (fetchedLater (small, "https://a.example/" + juce::String (i)).getWidth(), 20);
    EXPECT_EQ (small.entries().size(), 2u);
}

TEST (ImageUrlCache, AWindowAskingForMoreImagesThanFitIsShownThoseThatFitAndDownloadsNoneTwice)
{
    // Every pass of the window asks for every package's icon; five do not fit in three entries, nor in the pixels of
    // two images.
    test::ScopedManualClock clock;
    FakeFetcher net;
    juce::StringArray icons;
    for (int i = 0; i < 5; ++i)
    {
        icons.add ("https://a.example/icon" + juce::String (i));
        net.serve (icons[i], ImageFetch::Result::body, png (20, 10));
    }

    for (const auto& [maxEntries, maxPixels, fit] : { std::tuple { 3, (int64_t) 1'000'000, 3 },
                                                      std::tuple { 100, (int64_t) 400, 2 } })
    {
        SCOPED_TRACE (maxEntries);
        net.calls.clear();
        ImageCacheSettings settings;
        settings.maxEntries = maxEntries;
        settings.maxCachedPixels = maxPixels;
        ImageUrlCache cache (net.fetcher(), settings);

        for (int pass = 0; pass < 20; ++pass)
        {
            for (const auto& url : icons)
                cache.get (url);
            ASSERT_TRUE (settled (cache));
            clock.advance (500);
        }

        int shown = 0;
        for (const auto& url : icons)
        {
            shown += cache.get (url).isValid() ? 1 : 0;
            EXPECT_LE (net.calls[url], 1) << url << " downloaded again";
        }
        EXPECT_EQ (shown, fit);
        EXPECT_LE ((int) cache.entries().size(), maxEntries);

        // Once the window no longer asks for the first icons, the next ones take their places.
        const int next = std::min (icons.size(), 2 * fit);
        for (int pass = 0; pass < 20; ++pass)
        {
            for (int i = fit; i < next; ++i)
                cache.get (icons[i]);
            ASSERT_TRUE (settled (cache));
            clock.advance (500);
        }
        for (int i = fit; i < next; ++i)
        {
            EXPECT_TRUE (cache.get (icons[i]).isValid()) << icons[i];
            EXPECT_LE (net.calls[icons[i]], 2) << icons[i];
        }
    }
}

//==============================================================================
namespace
{
    /** An image server on 127.0.0.1 with the ways a server goes wrong. */
    struct ImageServer
    {
        httplib::Server server;
        std::thread thread;
        int port = 0;
        std::atomic<bool> stopping { false };
        std::atomic<int> flakyRequests { 0 }, requests { 0 };
        juce::MemoryBlock image = png (20, 10);

        ImageServer()
        {
            auto send = [] (httplib::Response& res, const juce::MemoryBlock& body, const char* type = "image/png")
            {
                res.set_content (static_cast<const char*> (body.getData()), body.getSize(), type);
            };

            server.set_pre_routing_handler ([this] (const httplib::Request&, httplib::Response&)
            {
                ++requests;
                return httplib::Server::HandlerResponse::Unhandled;
            });
            server.Get ("/logo.png", [this, send] (const httplib::Request&, httplib::Response& res) { send (res, image); });
            server.Get ("/redirect", [] (const httplib::Request&, httplib::Response& res) { res.set_redirect ("/logo.png"); });
            server.Get (R"(/chain/(\d+))", [] (const httplib::Request& req, httplib::Response& res)
            {
                const int n = std::stoi (req.matches[1]);
                res.set_redirect (n > 1 ? "/chain/" + std::to_string (n - 1) : std::string ("/logo.png"));
            });
            server.Get ("/to-file", [] (const httplib::Request&, httplib::Response& res)
            {
                res.status = 302;
                res.set_header ("Location", "file:///etc/hostname");
            });
            server.Get ("/missing", [this, send] (const httplib::Request&, httplib::Response& res)
            {
                send (res, image);   // an error page that happens to be an image is still no image
                res.status = 404;
            });
            server.Get ("/flaky", [this, send] (const httplib::Request&, httplib::Response& res)
            {
                send (res, image);
                if (flakyRequests++ == 0)
                    res.status = 500;
            });
            server.Get ("/stall", [this] (const httplib::Request&, httplib::Response&)
            {
                for (int i = 0; i < 1500 && ! stopping; ++i)
                    std::this_thread::sleep_for (std::chrono::milliseconds (20));
            });
            server.Get ("/stall-in-body", [this] (const httplib::Request&, httplib::Response& res)
            {
                res.set_content_provider (100000, "image/png", [this] (size_t offset, size_t, httplib::DataSink& sink)
                {
                    static const std::string start (100, 'x');
                    if (offset == 0)
                        return sink.write (start.data(), start.size());
                    for (int i = 0; i < 1500 && ! stopping; ++i)
                        std::this_thread::sleep_for (std::chrono::milliseconds (20));
                    return false;
                });
            });
            server.Get ("/huge-body", [this] (const httplib::Request&, httplib::Response& res)
            {
                res.set_chunked_content_provider ("image/png", [this] (size_t offset, httplib::DataSink& sink)
                {
                    static const std::string chunk (64 * 1024, 'x');
                    if (stopping || offset > 64 * 1024 * 1024)
                    {
                        sink.done();
                        return true;
                    }
                    return sink.write (chunk.data(), chunk.size());
                });
            });
            server.Get ("/huge-declared", [this] (const httplib::Request&, httplib::Response& res)
            {
                res.set_content_provider (1024 * 1024 * 1024, "image/png",
                                          [this] (size_t, size_t, httplib::DataSink& sink)
                {
                    static const std::string chunk (4096, 'x');
                    return ! stopping && sink.write (chunk.data(), chunk.size());
                });
            });
            server.Get ("/huge-image.png", [this, send] (const httplib::Request&, httplib::Response& res)
            {
                auto huge = image;
                putU32BE (huge, 16, 40000);
                putU32BE (huge, 20, 40000);
                send (res, huge);
            });

            port = server.bind_to_any_port ("127.0.0.1");
            thread = std::thread ([this] { server.listen_after_bind(); });
            while (! server.is_running())
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
        }

        ~ImageServer()
        {
            stopping = true;
            server.stop();
            thread.join();
        }

        juce::String url (const juce::String& path) const { return "http://127.0.0.1:" + juce::String (port) + path; }
    };

    /** Short limits, so that a stalled server (30 s) costs the test a second; the whole download's limit comes
        well before curl's own low-speed cut (which the connection time-out sets). */
    ImageFetchLimits shortLimits()
    {
        ImageFetchLimits limits;
        limits.connectTimeoutMs = 10000;
        limits.totalTimeoutMs = 1000;
        return limits;
    }
}

TEST (ImageFetch, FollowsRedirectsToAnImageButNeverToALocalFile)
{
    ImageServer server;

    const struct { const char* path; ImageFetch::Result result; int status; } table[] {
        { "/logo.png", ImageFetch::Result::body, 200 },
        { "/redirect", ImageFetch::Result::body, 200 },
        { "/chain/5", ImageFetch::Result::body, 200 },        // five redirects are followed
        { "/chain/6", ImageFetch::Result::noConnection, 0 },  // a sixth is not
        { "/to-file", ImageFetch::Result::noConnection, 0 },  // curl follows no redirect to a local file
    };

    for (const auto& row : table)
    {
        const auto fetch = fetchImageOverHttp (server.url (row.path));
        EXPECT_EQ (fetch.result, row.result) << row.path;
        EXPECT_EQ (fetch.statusCode, row.status) << row.path;
        if (row.result == ImageFetch::Result::body)
            EXPECT_TRUE (fetch.body == server.image) << row.path;
        else
            EXPECT_EQ (fetch.body.getSize(), 0u) << row.path;
    }
}

TEST (ImageFetch, ErrorsStallsAndOversizedBodiesEndByTheirLimits)
{
    ImageServer server;

    // Each row is ended by one limit only, whatever the machine's speed: the stalls by a whole-download limit of a
    // second (the server stalls for longer, and would then answer with an empty body); the endless body by a byte
    // limit of 256 KB with no time limit that could come first; the declared 1 GB by the application's own limits,
    // before any of the body is read.
    ImageFetchLimits smallBody;
    smallBody.maxBytes = 256 * 1024;
    smallBody.totalTimeoutMs = 10 * 60 * 1000;

    const struct { const char* path; ImageFetch::Result result; ImageFetchLimits limits; } table[] {
        { "/missing", ImageFetch::Result::httpError, ImageFetchLimits() },
        { "/stall", ImageFetch::Result::timedOut, shortLimits() },
        { "/stall-in-body", ImageFetch::Result::timedOut, shortLimits() },
        { "/huge-body", ImageFetch::Result::tooLarge, smallBody },
        { "/huge-declared", ImageFetch::Result::tooLarge, ImageFetchLimits() },
    };

    for (const auto& row : table)
    {
        const auto fetch = fetchImageOverHttp (server.url (row.path), row.limits);
        EXPECT_EQ (fetch.result, row.result) << row.path;
        EXPECT_EQ (fetch.body.getSize(), 0u) << row.path;
    }

    // Nobody listening.
    ImageFetch closed;
    {
        ImageServer gone;
        closed = fetchImageOverHttp (gone.url ("/logo.png").replace (juce::String (gone.port), "9"));
    }
    EXPECT_EQ (closed.result, ImageFetch::Result::noConnection);
}

TEST (ImageUrlCache, AgainstALocalServer)
{
    test::ScopedManualClock clock;
    ImageServer server;
    ImageUrlCache cache ([] (const juce::String& url) { return fetchImageOverHttp (url, shortLimits()); });

    EXPECT_EQ (fetched (cache, server.url ("/redirect")).getWidth(), 20);

    // A huge declared size is kept as no image: not fetched again.
    EXPECT_TRUE (fetched (cache, server.url ("/huge-image.png")).isNull());
    const int afterHuge = server.requests;
    EXPECT_TRUE (fetched (cache, server.url ("/huge-image.png")).isNull());
    EXPECT_EQ (server.requests, afterHuge);

    // A 404 is not an image, whatever its body, and is tried again only after the minute.
    EXPECT_TRUE (fetched (cache, server.url ("/missing")).isNull());
    EXPECT_TRUE (fetched (cache, server.url ("/missing")).isNull());
    EXPECT_EQ (server.requests, afterHuge + 1);

    // A server error, then the server recovers: the retry after the minute brings the image.
    EXPECT_TRUE (fetched (cache, server.url ("/flaky")).isNull());
    EXPECT_TRUE (fetched (cache, server.url ("/flaky")).isNull());
    EXPECT_EQ (server.flakyRequests, 1);
    clock.advance (61 * 1000);
    EXPECT_EQ (fetched (cache, server.url ("/flaky")).getWidth(), 20);
    EXPECT_EQ (server.flakyRequests, 2);

    // A stalled server: the download ends by its limit (1 s; the server would stall for 30 s) as a failure that is
    // not retried on the next pass.
    const auto started = juce::Time::getMillisecondCounter();
    EXPECT_TRUE (fetched (cache, server.url ("/stall")).isNull());
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 20000u);
    const int afterStall = server.requests;
    EXPECT_TRUE (cache.get (server.url ("/stall")).isNull());
    EXPECT_FALSE (cache.hasPendingDownloads());
    EXPECT_EQ (server.requests, afterStall);
}

TEST (ImageUrlCache, AStalledHostHoldsUpNoCallerAndNoTeardown)
{
    ImageServer server;
    const auto stall = server.url ("/stall"), image = server.url ("/logo.png");

    // The application's limits: the stall would take 5 s or more to end on its own. A get needs microseconds; the
    // bounds below only tell that from a wait for the network.
    auto cache = std::make_unique<ImageUrlCache>();
    for (const auto& url : { stall, image })
    {
        const auto started = juce::Time::getMillisecondCounter();
        EXPECT_TRUE (cache->get (url).isNull()) << url;
        EXPECT_LT (juce::Time::getMillisecondCounter() - started, 3000u) << url << ": get waited for the network";
    }
    EXPECT_TRUE (test::pumpUntil ([&] { return server.requests > 0; }, 30000));

    // Asked again while the stalled download runs: still no wait, and no second request.
    for (int pass = 0; pass < 5; ++pass)
    {
        const auto started = juce::Time::getMillisecondCounter();
        EXPECT_TRUE (cache->get (stall).isNull());
        EXPECT_TRUE (cache->get (image).isNull());
        EXPECT_LT (juce::Time::getMillisecondCounter() - started, 3000u);
    }
    EXPECT_TRUE (cache->hasPendingDownloads());
    EXPECT_EQ (server.requests, 1) << "one download at a time";

    const auto started = juce::Time::getMillisecondCounter();
    cache.reset();
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 2000u) << "the teardown waited for the stalled host";
}

TEST (ImageUrlCache, ADownloadThatEndsAfterAClearIsDropped)
{
    juce::WaitableEvent release (true);
    std::atomic<int> calls { 0 };
    ImageUrlCache cache ([&] (const juce::String&)
    {
        ++calls;
        release.wait (10000);
        ImageFetch fetch;
        fetch.result = ImageFetch::Result::body;
        fetch.body = png (20, 10);
        return fetch;
    });

    EXPECT_TRUE (cache.get (logo).isNull());
    ASSERT_TRUE (test::pumpUntil ([&] { return calls == 1; }, 30000));
    cache.clear();
    release.signal();
    EXPECT_TRUE (settled (cache));
    EXPECT_TRUE (cache.entries().empty());

    // Asked again, it is fetched again.
    EXPECT_EQ (fetched (cache, logo).getWidth(), 20);
    EXPECT_EQ (calls, 2);
}

} // namespace olvo
