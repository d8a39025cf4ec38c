// Decoding images named by URL: any bytes a server sends give an image or none, within a size limit read before
// anything is allocated for the pixels.

#include "ImageDecoding.h"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
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

    /** One decompression with libpng's full reader (its simplified reader scrambles interlaced images of 16 bits per
        channel). libpng reports an error by calling error(), which must not return: it jumps back to the function
        that called it, so those functions hold only plain values. */
    struct PngDecoder
    {
        png_structp png = nullptr;
        png_infop info = nullptr;
        Cursor input;
        bool ranOut = false;   ///< the data ended before the image did
        bool anyRowRead = false;
        int passes = 1;

        explicit PngDecoder (const Cursor& c) : input (c)
        {
            png = png_create_read_struct (PNG_LIBPNG_VER_STRING, nullptr, error, warning);
            if (png != nullptr)
                info = png_create_info_struct (png);
        }

        ~PngDecoder()
        {
            if (png != nullptr)
                png_destroy_read_struct (&png, info != nullptr ? &info : nullptr, nullptr);
        }

        /** Reads the header chunks and sets the output to 8-bit BGRA (alpha not premultiplied) in sRGB. */
        bool start (int width, int height)
        {
            if (info == nullptr || setjmp (png_jmpbuf (png)) != 0)
                return false;

            png_set_read_fn (png, this, read);

            // The compressed data is asked for in small pieces, so that a file cut short loses only its last piece
            // (libpng asks for a whole chunk at once otherwise, and gets nothing when the chunk is cut).
            png_set_compression_buffer_size (png, 256);

            // Only the chunks that change the pixels are read; text, profiles and the rest are skipped unparsed.
            static const png_byte wanted[] { 'g', 'A', 'M', 'A', 0, 's', 'R', 'G', 'B', 0, 't', 'R', 'N', 'S', 0 };
            png_set_keep_unknown_chunks (png, PNG_HANDLE_CHUNK_NEVER, nullptr, -1);
            png_set_keep_unknown_chunks (png, PNG_HANDLE_CHUNK_AS_DEFAULT, wanted, 3);

            png_read_info (png, info);
            if ((int) png_get_image_width (png, info) != width || (int) png_get_image_height (png, info) != height)
                return false;

            // Palettes, low-bit grey and tRNS become 8-bit RGBA; the file's gAMA is applied on the way to sRGB, and
            // a file without one is taken as sRGB already, as browsers do.
            png_set_expand (png);
            png_set_scale_16 (png);
            png_set_gray_to_rgb (png);
            png_set_bgr (png);
            png_set_add_alpha (png, 0xff, PNG_FILLER_AFTER);
            png_set_alpha_mode (png, PNG_ALPHA_PNG, PNG_DEFAULT_sRGB);
            passes = png_set_interlace_handling (png);
            png_read_update_info (png, info);

            return png_get_rowbytes (png, info) == (size_t) width * 4;
        }

        /** Decodes every pass into the rows; a row that a later pass fills keeps what the earlier passes gave it. */
        bool readRows (const juce::Image::BitmapData& bitmap)
        {
            if (setjmp (png_jmpbuf (png)) != 0)
                return false;

            for (int pass = 0; pass < passes; ++pass)
            {
                for (int y = 0; y < bitmap.height; ++y)
                {
                    png_read_row (png, bitmap.getLinePointer (y), nullptr);
                    anyRowRead = true;
                }
            }
            return true;
        }

        static void error (png_structp p, png_const_charp) { png_longjmp (p, 1); }
        static void warning (png_structp, png_const_charp) {}

        static void read (png_structp p, png_bytep out, size_t n)
        {
            auto& self = *static_cast<PngDecoder*> (png_get_io_ptr (p));
            if (! self.input.has (n))
            {
                self.ranOut = true;
                png_error (p, "cut short");
            }
            std::memcpy (out, self.input.data + self.input.pos, n);
            self.input.pos += n;
        }

        JUCE_DECLARE_NON_COPYABLE (PngDecoder)
    };

    juce::Image decodePng (const Cursor& c, const ImageHeader& header)
    {
        PngDecoder decoder (c);
        if (! decoder.start (header.width, header.height))
            return {};

        // Rows the data never reaches stay transparent.
        juce::Image image (juce::Image::ARGB, header.width, header.height, true);
        {
            const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::readWrite);
            if (bitmap.pixelStride != 4)
                return {};

            // A file cut short keeps what was decoded; a corrupt one (a bad checksum, broken compressed data) is
            // refused.
            if (! decoder.readRows (bitmap) && ! (decoder.ranOut && decoder.anyRowRead))
                return {};

            for (int y = 0; y < bitmap.height; ++y)
            {
                auto* line = bitmap.getLinePointer (y);
                for (int x = 0; x < bitmap.width; ++x)
                {
                    auto* in = line + 4 * x;
                    juce::PixelARGB pixel (in[3], in[2], in[1], in[0]);
                    pixel.premultiply();
                    *reinterpret_cast<juce::PixelARGB*> (in) = pixel;
                }
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
        bool cmyk = false;

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

            // libjpeg gives CMYK and YCCK files only as CMYK: those are turned into RGB afterwards.
            cmyk = info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK;
            info.out_color_space = cmyk ? JCS_CMYK : JCS_RGB;
            jpeg_start_decompress (&info);
            return info.output_components == (cmyk ? 4 : 3);
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

        const auto components = (size_t) decoder.info.output_components;
        const auto stride = (size_t) header.width * components;
        std::vector<uint8_t> pixels (stride * (size_t) header.height, 0x80);
        if (! decoder.readRows (pixels.data(), stride))
            return {};

        // Adobe's files (marked by their APP14 segment) store CMYK inverted, as 255 minus the ink; others store the
        // ink itself.
        const auto adobe = decoder.info.saw_Adobe_marker != 0;
        auto paper = [adobe] (uint8_t value) { return adobe ? (int) value : 255 - value; };   // the share left uninked
        auto cmykToRgb = [&paper] (const uint8_t* in)
        {
            const auto k = paper (in[3]);
            auto channel = [&paper, k] (uint8_t value) { return (uint8_t) ((paper (value) * k + 127) / 255); };
            return juce::Colour (channel (in[0]), channel (in[1]), channel (in[2]));
        };

        juce::Image image (juce::Image::RGB, header.width, header.height, false);
        const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::writeOnly);
        for (int y = 0; y < header.height; ++y)
        {
            const auto* in = pixels.data() + (size_t) y * stride;
            for (int x = 0; x < header.width; ++x, in += components)
                bitmap.setPixelColour (x, y, decoder.cmyk ? cmykToRgb (in) : juce::Colour (in[0], in[1], in[2]));
        }
        return image;
    }

    //==============================================================================
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

    /** The first image descriptor, found by walking the screen's palette and the extensions before it. */
    void readGifSize (Cursor c, ImageHeader& header)
    {
        if (! c.has (13))
            return;

        const int screenFlags = c.data[10];
        c.pos = 13;
        if ((screenFlags & 0x80) != 0)
            c.skip (3 * ((size_t) 2 << (screenFlags & 7)));

        for (;;)
        {
            const int block = c.byte();

            if (block == '!')
            {
                if (c.byte() < 0 || ! skipSubBlocks (c))
                    return;
                continue;
            }

            if (block != ',' || ! c.has (9))
                return;   // the end, or anything else, before an image

            header.width = c.u16le (c.pos + 4);
            header.height = c.u16le (c.pos + 6);
            return;
        }
    }

    /** Reads the first image of a GIF with giflib, row by row, into colour indexes. */
    struct GifDecoder
    {
        GifFileType* gif = nullptr;
        Cursor input;
        int transparent = -1;   ///< the colour index the graphics control extension before the image names

        explicit GifDecoder (const Cursor& c) : input (c)
        {
            int error = 0;
            gif = DGifOpen (this, read, &error);
        }

        ~GifDecoder()
        {
            if (gif != nullptr)
                DGifCloseFile (gif, nullptr);
        }

        /** Walks the records up to the first image descriptor and reads it. */
        bool findImage()
        {
            if (gif == nullptr)
                return false;

            for (;;)
            {
                GifRecordType record;
                if (DGifGetRecordType (gif, &record) == GIF_ERROR)
                    return false;

                if (record == IMAGE_DESC_RECORD_TYPE)
                    return DGifGetImageDesc (gif) == GIF_OK;

                if (record != EXTENSION_RECORD_TYPE)
                    return false;   // the end before any image

                int code = 0;
                GifByteType* block = nullptr;
                if (DGifGetExtension (gif, &code, &block) == GIF_ERROR)
                    return false;

                GraphicsControlBlock control;
                if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr
                    && DGifExtensionToGCB (block[0], block + 1, &control) == GIF_OK)
                    transparent = control.TransparentColor;

                while (block != nullptr)
                    if (DGifGetExtensionNext (gif, &block) == GIF_ERROR)
                        return false;
            }
        }

        static int read (GifFileType* file, GifByteType* out, int n)
        {
            auto& c = static_cast<GifDecoder*> (file->UserData)->input;
            const auto available = (int) std::min ((size_t) std::max (n, 0), c.size - c.pos);
            std::memcpy (out, c.data + c.pos, (size_t) available);
            c.pos += (size_t) available;
            return available;
        }

        JUCE_DECLARE_NON_COPYABLE (GifDecoder)
    };

    juce::Image decodeGif (const Cursor& c, const ImageHeader& header)
    {
        GifDecoder decoder (c);
        if (! decoder.findImage())
            return {};

        const auto& desc = decoder.gif->Image;
        const auto* colours = desc.ColorMap != nullptr ? desc.ColorMap : decoder.gif->SColorMap;
        if (desc.Width != header.width || desc.Height != header.height || colours == nullptr)
            return {};

        // Rows in the order they are stored: interlaced images store every 8th row from 0, every 8th from 4, every
        // 4th from 2, then every 2nd from 1.
        std::vector<int> rows;
        if (desc.Interlace)
        {
            for (auto [start, step] : std::initializer_list<std::pair<int, int>> { { 0, 8 }, { 4, 8 }, { 2, 4 }, { 1, 2 } })
                for (int y = start; y < header.height; y += step)
                    rows.push_back (y);
        }
        else
        {
            for (int y = 0; y < header.height; ++y)
                rows.push_back (y);
        }

        // A file cut short or broken keeps the rows decoded before: the rest, the transparent colour and indexes past
        // the palette stay transparent.
        juce::Image image (juce::Image::ARGB, header.width, header.height, true);
        const juce::Image::BitmapData bitmap (image, juce::Image::BitmapData::writeOnly);
        std::vector<GifPixelType> line ((size_t) header.width);

        for (const auto y : rows)
        {
            if (DGifGetLine (decoder.gif, line.data(), header.width) == GIF_ERROR)
                break;

            for (int x = 0; x < header.width; ++x)
            {
                const int index = line[(size_t) x];
                if (index == decoder.transparent || index >= colours->ColorCount)
                    continue;

                const auto& rgb = colours->Colors[index];
                bitmap.setPixelColour (x, y, juce::Colour (rgb.Red, rgb.Green, rgb.Blue));
            }
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
        case ImageHeader::Format::gif:  readGifSize (cursor, header); break;
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
        case ImageHeader::Format::gif:  return decodeGif (cursor, header);
        case ImageHeader::Format::unknown: break;
    }
    return {};
}

} // namespace olvo
