// Decoding images named by URL: any bytes a server sends give an image or none, within a size limit read before
// anything is allocated for the pixels.

#include "ImageDecoding.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

#include <jpeglib.h>

namespace olvo
{

namespace
{
    /** A read cursor over the data that never reads past its end. */
    struct Cursor
    {
        const uint8_t* data;
        size_t size, pos = 0;

        bool has (size_t n) const { return pos <= size && size - pos >= n; }
        int byte() { return has (1) ? data[pos++] : -1; }
        void skip (size_t n) { pos = has (n) ? pos + n : size; }
        int u16be (size_t at) const { return (data[at] << 8) | data[at + 1]; }
        int u16le (size_t at) const { return data[at] | (data[at + 1] << 8); }
        uint32_t u32be (size_t at) const
        {
            return ((uint32_t) data[at] << 24) | ((uint32_t) data[at + 1] << 16) | ((uint32_t) data[at + 2] << 8)
                   | (uint32_t) data[at + 3];
        }
    };

    const uint8_t pngSignature[] { 0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a };

    ImageHeader::Format formatOf (const Cursor& c)
    {
        if (c.has (8) && std::memcmp (c.data, pngSignature, sizeof (pngSignature)) == 0)
            return ImageHeader::Format::png;
        if (c.has (3) && c.data[0] == 0xff && c.data[1] == 0xd8 && c.data[2] == 0xff)
            return ImageHeader::Format::jpeg;
        if (c.has (6) && (std::memcmp (c.data, "GIF87a", 6) == 0 || std::memcmp (c.data, "GIF89a", 6) == 0))
            return ImageHeader::Format::gif;
        return ImageHeader::Format::unknown;
    }

    //==============================================================================
    /** IHDR, the first chunk after the signature: length, "IHDR", width, height (big-endian). */
    void readPngSize (const Cursor& c, ImageHeader& header)
    {
        if (! c.has (24) || std::memcmp (c.data + 12, "IHDR", 4) != 0)
            return;

        const auto w = c.u32be (16), h = c.u32be (20);
        if (w <= 0x7fffffffu && h <= 0x7fffffffu)
        {
            header.width = (int) w;
            header.height = (int) h;
        }
    }

    juce::Image decodePng (const Cursor& c, const ImageHeader& header)
    {
        png_image png;
        std::memset (&png, 0, sizeof (png));
        png.version = PNG_IMAGE_VERSION;

        // libpng's simplified reader catches its own errors, reports them as a false result and frees the image.
        if (! png_image_begin_read_from_memory (&png, c.data, c.size))
            return {};

        if ((int) png.width != header.width || (int) png.height != header.height)
        {
            png_image_free (&png);
            return {};
        }

        png.format = PNG_FORMAT_BGRA;
        const auto stride = (size_t) PNG_IMAGE_ROW_STRIDE (png);
        std::vector<uint8_t> pixels ((size_t) PNG_IMAGE_BUFFER_SIZE (png, stride));

        if (! png_image_finish_read (&png, nullptr, pixels.data(), (png_int_32) stride, nullptr))
            return {};

        juce::Image image (juce::Image::ARGB, (int) png.width, (int) png.height, false);
        const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::writeOnly);

        for (int y = 0; y < image.getHeight(); ++y)
        {
            const auto* in = pixels.data() + (size_t) y * stride;
            for (int x = 0; x < image.getWidth(); ++x, in += 4)
            {
                juce::PixelARGB pixel (in[3], in[2], in[1], in[0]);
                pixel.premultiply();
                *reinterpret_cast<juce::PixelARGB*> (bitmap.getPixelPointer (x, y)) = pixel;
            }
        }
        return image;
    }

    //==============================================================================
    bool isStartOfFrame (int marker)
    {
        return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    }

    /** The first frame header (SOFn), found by walking the marker segments that come before it. */
    void readJpegSize (Cursor c, ImageHeader& header)
    {
        c.pos = 2;   // after SOI

        for (;;)
        {
            if (c.byte() != 0xff)
                return;

            int marker = c.byte();
            while (marker == 0xff)   // fill bytes
                marker = c.byte();

            if (marker < 0 || marker == 0xd8 || marker == 0xd9 || marker == 0xda)
                return;   // the end, or the scan, before any frame

            if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
                continue;   // markers without a length

            if (! c.has (2))
                return;
            const auto length = (size_t) c.u16be (c.pos);
            if (length < 2)
                return;

            if (isStartOfFrame (marker))
            {
                if (length < 7 || ! c.has (7))
                    return;
                header.height = c.u16be (c.pos + 3);
                header.width = c.u16be (c.pos + 5);
                return;
            }

            c.skip (length);
        }
    }

    /** libjpeg reports an error by calling error_exit, which must not return: it jumps back to the decoder. */
    struct JpegErrors
    {
        jpeg_error_mgr manager;
        std::jmp_buf jump;

        static void exit (j_common_ptr info) { std::longjmp (reinterpret_cast<JpegErrors*> (info->err)->jump, 1); }
        static void quiet (j_common_ptr) {}
        static void quietMessage (j_common_ptr, int) {}
    };

    /** One decompression. The functions that may be jumped out of hold only plain values. */
    struct JpegDecoder
    {
        jpeg_decompress_struct info;
        JpegErrors errors;
        bool created = false;

        JpegDecoder()
        {
            std::memset (&info, 0, sizeof (info));
            info.err = jpeg_std_error (&errors.manager);
            errors.manager.error_exit = JpegErrors::exit;
            errors.manager.output_message = JpegErrors::quiet;
            errors.manager.emit_message = JpegErrors::quietMessage;
        }

        ~JpegDecoder()
        {
            if (created)
                jpeg_destroy_decompress (&info);
        }

        bool start (const uint8_t* data, size_t size)
        {
            if (setjmp (errors.jump) != 0)
                return false;

            jpeg_create_decompress (&info);
            created = true;
            jpeg_mem_src (&info, data, (unsigned long) size);
            jpeg_read_header (&info, TRUE);
            info.out_color_space = JCS_RGB;
            jpeg_start_decompress (&info);
            return info.output_components == 3;
        }

        bool readRows (uint8_t* pixels, size_t stride)
        {
            if (setjmp (errors.jump) != 0)
                return false;

            while (info.output_scanline < info.output_height)
            {
                JSAMPROW row = pixels + (size_t) info.output_scanline * stride;
                if (jpeg_read_scanlines (&info, &row, 1) != 1)
                    return false;
            }
            jpeg_finish_decompress (&info);
            return true;
        }

        JUCE_DECLARE_NON_COPYABLE (JpegDecoder)
    };

    juce::Image decodeJpeg (const Cursor& c, const ImageHeader& header)
    {
        JpegDecoder decoder;
        if (! decoder.start (c.data, c.size)
            || (int) decoder.info.output_width != header.width || (int) decoder.info.output_height != header.height)
            return {};

        const auto stride = (size_t) header.width * 3;
        std::vector<uint8_t> pixels (stride * (size_t) header.height, 0x80);
        if (! decoder.readRows (pixels.data(), stride))
            return {};

        juce::Image image (juce::Image::RGB, header.width, header.height, false);
        const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < header.height; ++y)
        {
            const auto* in = pixels.data() + (size_t) y * stride;
            for (int x = 0; x < header.width; ++x, in += 3)
                bitmap.setPixelColour (x, y, juce::Colour (in[0], in[1], in[2]));
        }
        return image;
    }

    //==============================================================================
    /** The first image of a GIF: its size, colours and where its compressed data starts. */
    struct GifFrame
    {
        int width = 0, height = 0;
        bool interlaced = false;
        const uint8_t* palette = nullptr;
        int paletteSize = 0;
        int transparent = -1;
        int minCodeSize = 0;
        size_t dataStart = 0;
    };

    /** Skips a run of sub-blocks (each a length byte and its bytes, up to a length of 0); false at the data's end. */
    bool skipSubBlocks (Cursor& c)
    {
        for (;;)
        {
            const int n = c.byte();
            if (n < 0)
                return false;
            if (n == 0)
                return true;
            if (! c.has ((size_t) n))
                return false;
            c.skip ((size_t) n);
        }
    }

    bool findFirstGifFrame (Cursor c, GifFrame& frame)
    {
        if (! c.has (13))
            return false;

        const int screenFlags = c.data[10];
        c.pos = 13;

        const uint8_t* globalPalette = nullptr;
        int globalSize = 0;
        if ((screenFlags & 0x80) != 0)
        {
            globalSize = 2 << (screenFlags & 7);
            if (! c.has (3 * (size_t) globalSize))
                return false;
            globalPalette = c.data + c.pos;
            c.skip (3 * (size_t) globalSize);
        }

        for (;;)
        {
            const int block = c.byte();

            if (block == '!')
            {
                const int label = c.byte();
                if (label < 0)
                    return false;

                // A graphic control extension names the transparent colour of the image after it.
                if (label == 0xf9 && c.has (5) && c.data[c.pos] >= 4)
                    frame.transparent = (c.data[c.pos + 1] & 1) != 0 ? c.data[c.pos + 4] : -1;

                if (! skipSubBlocks (c))
                    return false;
                continue;
            }

            if (block != ',' || ! c.has (10))
                return false;   // the end, or anything else, before an image

            frame.width = c.u16le (c.pos + 4);
            frame.height = c.u16le (c.pos + 6);
            const int flags = c.data[c.pos + 8];
            frame.interlaced = (flags & 0x40) != 0;
            c.skip (9);

            frame.palette = globalPalette;
            frame.paletteSize = globalSize;
            if ((flags & 0x80) != 0)
            {
                frame.paletteSize = 2 << (flags & 7);
                if (! c.has (3 * (size_t) frame.paletteSize))
                    return false;
                frame.palette = c.data + c.pos;
                c.skip (3 * (size_t) frame.paletteSize);
            }

            frame.minCodeSize = c.byte();
            frame.dataStart = c.pos;
            return frame.palette != nullptr && frame.minCodeSize >= 1 && frame.minCodeSize <= 11;
        }
    }

    /** The colour indexes of a frame's pixels, in the order they are stored, as far as the data goes. */
    std::vector<uint8_t> decodeLzw (Cursor c, const GifFrame& frame)
    {
        std::vector<uint8_t> bytes;
        c.pos = frame.dataStart;
        for (int n = c.byte(); n > 0; n = c.byte())
        {
            const auto available = std::min ((size_t) n, c.size - c.pos);
            bytes.insert (bytes.end(), c.data + c.pos, c.data + c.pos + available);
            c.skip ((size_t) n);
        }

        size_t bit = 0;
        auto readCode = [&bytes, &bit] (int bits)
        {
            if (bit + (size_t) bits > bytes.size() * 8)
                return -1;
            int code = 0;
            for (int i = 0; i < bits; ++i, ++bit)
                code |= ((bytes[bit >> 3] >> (bit & 7)) & 1) << i;
            return code;
        };

        constexpr int maxCodes = 4096;
        const int clear = 1 << frame.minCodeSize, end = clear + 1;
        std::vector<uint16_t> prefix (maxCodes);
        std::vector<uint8_t> suffix (maxCodes), stack;
        for (int i = 0; i < clear && i < maxCodes; ++i)
            suffix[(size_t) i] = (uint8_t) i;

        const auto count = (size_t) frame.width * (size_t) frame.height;
        std::vector<uint8_t> indexes;
        indexes.reserve (count);

        int codeSize = frame.minCodeSize + 1, next = clear + 2, previous = -1;
        uint8_t first = 0;

        while (indexes.size() < count)
        {
            int code = readCode (codeSize);
            if (code < 0 || code == end)
                break;

            if (code == clear)
            {
                codeSize = frame.minCodeSize + 1;
                next = clear + 2;
                previous = -1;
                continue;
            }

            if (previous < 0)
            {
                if (code >= clear)
                    break;   // a code before the table has any
                indexes.push_back ((uint8_t) code);
                first = (uint8_t) code;
                previous = code;
                continue;
            }

            const int incoming = code;
            stack.clear();

            if (code > next || (code == next && next >= maxCodes))
                break;   // a code the table cannot have yet

            if (code == next)
            {
                stack.push_back (first);
                code = previous;
            }

            // Each entry's prefix is an earlier entry: the walk ends at a root.
            while (code >= clear)
            {
                stack.push_back (suffix[(size_t) code]);
                code = prefix[(size_t) code];
            }
            first = (uint8_t) code;
            stack.push_back (first);

            while (! stack.empty() && indexes.size() < count)
            {
                indexes.push_back (stack.back());
                stack.pop_back();
            }

            if (next < maxCodes)
            {
                prefix[(size_t) next] = (uint16_t) previous;
                suffix[(size_t) next] = first;
                ++next;
                if (next == (1 << codeSize) && codeSize < 12)
                    ++codeSize;
            }
            previous = incoming;
        }
        return indexes;
    }

    juce::Image decodeGif (const Cursor& c)
    {
        GifFrame frame;
        if (! findFirstGifFrame (c, frame) || frame.width <= 0 || frame.height <= 0)
            return {};

        const auto indexes = decodeLzw (c, frame);

        // Rows in the order they are stored: interlaced images store every 8th row from 0, every 8th from 4, every
        // 4th from 2, then every 2nd from 1.
        std::vector<int> rows;
        if (frame.interlaced)
        {
            for (auto [start, step] : std::initializer_list<std::pair<int, int>> { { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } })
                for (int y = start; y < frame.height; y += step)
                    rows.push_back (y);
        }
        else
        {
            for (int y = 0; y < frame.height; ++y)
                rows.push_back (y);
        }

        // Pixels the data does not reach stay transparent, as do the transparent colour and indexes past the
        // palette.
        juce::Image image (juce::Image::ARGB, frame.width, frame.height, true);
        const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::writeOnly);
        for (size_t i = 0; i < indexes.size(); ++i)
        {
            const int index = indexes[i];
            if (index == frame.transparent || index >= frame.paletteSize)
                continue;

            const auto* rgb = frame.palette + 3 * index;
            bitmap.setPixelColour ((int) (i % (size_t) frame.width), rows[i / (size_t) frame.width],
                                   juce::Colour (rgb[0], rgb[1], rgb[2]));
        }
        return image;
    }
}

//==============================================================================
ImageHeader readImageHeader (const void* data, size_t size)
{
    if (data == nullptr || size <= 4)
        return {};

    const Cursor cursor { static_cast<const uint8_t*> (data), size };
    ImageHeader header;
    header.format = formatOf (cursor);

    switch (header.format)
    {
        case ImageHeader::Format::png:  readPngSize (cursor, header); break;
        case ImageHeader::Format::jpeg: readJpegSize (cursor, header); break;
        case ImageHeader::Format::gif:
        {
            GifFrame frame;
            if (findFirstGifFrame (cursor, frame))
            {
                header.width = frame.width;
                header.height = frame.height;
            }
            break;
        }
        case ImageHeader::Format::unknown: break;
    }
    return header;
}

juce::Image decodeImageWithinLimits (const void* data, size_t size, const ImageLimits& limits)
{
    const auto header = readImageHeader (data, size);

    if (header.width <= 0 || header.height <= 0 || header.width > limits.maxSide || header.height > limits.maxSide
        || (int64_t) header.width * header.height > limits.maxPixels)
        return {};

    const Cursor cursor { static_cast<const uint8_t*> (data), size };
    switch (header.format)
    {
        case ImageHeader::Format::png:  return decodePng (cursor, header);
        case ImageHeader::Format::jpeg: return decodeJpeg (cursor, header);
        case ImageHeader::Format::gif:  return decodeGif (cursor);
        case ImageHeader::Format::unknown: break;
    }
    return {};
}

} // namespace olvo
