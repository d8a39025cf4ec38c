#include "ImageUrlCache.h"

#include "engine/Clock.h"
#include "engine/JsonValues.h"

#include <atomic>
#include <cstring>
#include <cstdio>
#include <thread>

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

    ImageHeader pngHeader (Cursor c)
    {
        static const uint8_t signature[] { 0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a };
        ImageHeader header { ImageHeader::Format::png };

        // libpng reads IHDR as the first chunk after the signature: length, "IHDR", width, height (big-endian).
        if (! c.has (24) || std::memcmp (c.data, signature, sizeof (signature)) != 0
            || std::memcmp (c.data + 12, "IHDR", 4) != 0)
            return header;

        const auto w = c.u32be (16);
        const auto h = c.u32be (20);
        if (w <= 0x7fffffffu && h <= 0x7fffffffu)
        {
            header.width = (int) w;
            header.height = (int) h;
        }
        return header;
    }

    bool isStartOfFrame (int marker)
    {
        return marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc;
    }

    ImageHeader jpegHeader (Cursor c)
    {
        ImageHeader header { ImageHeader::Format::jpeg };
        c.pos = 2;   // after SOI

        // Marker segments up to the first frame header; anything unexpected (or the scan before a frame) ends the
        // search without a size.
        for (;;)
        {
            if (c.byte() != 0xff)
                return header;

            int marker = c.byte();
            while (marker == 0xff)   // fill bytes
                marker = c.byte();

            if (marker < 0 || marker == 0xd8 || marker == 0xd9 || marker == 0xda)
                return header;

            if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd7))
                continue;   // no length

            if (! c.has (2))
                return header;
            const auto length = (size_t) c.u16be (c.pos);
            if (length < 2)
                return header;

            if (isStartOfFrame (marker))
            {
                if (length < 7 || ! c.has (7))
                    return header;
                header.height = c.u16be (c.pos + 3);
                header.width = c.u16be (c.pos + 5);
                return header;
            }

            c.skip (length);
        }
    }

    /** Follows JUCE's GIF reader to the first image descriptor, whose size is the image it allocates. */
    ImageHeader gifHeader (Cursor c)
    {
        ImageHeader header { ImageHeader::Format::gif };

        if (! c.has (13) || (std::memcmp (c.data, "GIF87a", 6) != 0 && std::memcmp (c.data, "GIF89a", 6) != 0))
            return header;
        if (c.u16le (6) == 0 || c.u16le (8) == 0)
            return header;

        const int flags = c.data[10];
        c.pos = 13;
        if ((flags & 0x80) != 0)
            c.skip (3 * (size_t) (2 << (flags & 7)));

        auto dataBlock = [&c]
        {
            const int n = c.byte();
            if (n <= 0)
                return n;
            if (! c.has ((size_t) n))
            {
                c.pos = c.size;
                return -1;
            }
            c.skip ((size_t) n);
            return n;
        };

        for (;;)
        {
            const int b = c.byte();
            if (b < 0 || b == ';')
                return header;

            if (b == '!')
            {
                const int type = c.byte();
                if (type < 0)
                    return header;
                if (type == 0xf9 && dataBlock() < 0)
                    continue;   // as JUCE does; the next read finds the end

                int n = 0;
                do { n = dataBlock(); } while (n > 0);
                if (n < 0)
                    return header;
                continue;
            }

            if (b != ',')
                continue;   // JUCE skips any other byte

            if (! c.has (9))
                return header;
            header.width = c.u16le (c.pos + 4);
            header.height = c.u16le (c.pos + 6);
            return header;
        }
    }

    std::unique_ptr<juce::ImageFileFormat> decoderFor (const void* data, size_t size, ImageHeader::Format& format)
    {
        std::unique_ptr<juce::ImageFileFormat> formats[] { std::make_unique<juce::PNGImageFormat>(),
                                                           std::make_unique<juce::JPEGImageFormat>(),
                                                           std::make_unique<juce::GIFImageFormat>() };
        const ImageHeader::Format kinds[] { ImageHeader::Format::png, ImageHeader::Format::jpeg,
                                            ImageHeader::Format::gif };

        for (size_t i = 0; i < 3; ++i)
        {
            juce::MemoryInputStream in (data, size, false);
            if (formats[i]->canUnderstand (in))
            {
                format = kinds[i];
                return std::move (formats[i]);
            }
        }
        format = ImageHeader::Format::unknown;
        return {};
    }

    void printLine (const juce::String& line)
    {
        std::fputs ((line + "\n").toRawUTF8(), stdout);
        std::fflush (stdout);
    }
}

//==============================================================================
ImageHeader readImageHeader (const void* data, size_t size)
{
    if (data == nullptr || size <= 4)
        return {};

    ImageHeader::Format format;
    decoderFor (data, size, format);

    const Cursor cursor { static_cast<const uint8_t*> (data), size };
    switch (format)
    {
        case ImageHeader::Format::png:  return pngHeader (cursor);
        case ImageHeader::Format::jpeg: return jpegHeader (cursor);
        case ImageHeader::Format::gif:  return gifHeader (cursor);
        case ImageHeader::Format::unknown: break;
    }
    return {};
}

juce::Image decodeImageWithinLimits (const void* data, size_t size, const ImageLimits& limits)
{
    if (data == nullptr || size <= 4)
        return {};

    ImageHeader::Format format;
    auto decoder = decoderFor (data, size, format);
    const auto header = readImageHeader (data, size);

    if (decoder == nullptr || header.width <= 0 || header.height <= 0
        || header.width > limits.maxSide || header.height > limits.maxSide
        || (int64_t) header.width * header.height > limits.maxPixels)
        return {};

    juce::MemoryInputStream in (data, size, false);
    return decoder->decodeImage (in);
}

//==============================================================================
ImageFetch fetchImageOverHttp (const juce::String& url, const ImageFetchLimits& limits)
{
    ImageFetch fetch;

    juce::WebInputStream stream (juce::URL (url), false);
    stream.withConnectionTimeout (limits.connectTimeoutMs).withNumRedirectsToFollow (limits.maxRedirects);

    // The reads block inside JUCE; a watchdog cancels the stream once the whole download has taken too long.
    std::atomic<bool> cut { false };
    juce::WaitableEvent finished;
    std::thread watchdog ([&]
    {
        if (! finished.wait (limits.totalTimeoutMs))
        {
            cut = true;
            stream.cancel();
        }
    });

    auto outcome = [&] (ImageFetch::Result result)
    {
        finished.signal();
        watchdog.join();
        fetch.result = cut ? ImageFetch::Result::timedOut : result;
        if (fetch.result != ImageFetch::Result::body)
            fetch.body.reset();
        return std::move (fetch);
    };

    if (! stream.connect (nullptr) || stream.isError())
        return outcome (ImageFetch::Result::noConnection);

    fetch.statusCode = stream.getStatusCode();
    if (fetch.statusCode < 200 || fetch.statusCode > 299)
        return outcome (ImageFetch::Result::httpError);

    if (stream.getTotalLength() > limits.maxBytes)
        return outcome (ImageFetch::Result::tooLarge);

    juce::MemoryOutputStream body (fetch.body, false);
    char buffer[16384];
    while (! stream.isExhausted())
    {
        const int n = stream.read (buffer, (int) sizeof (buffer));
        if (n <= 0)
            break;
        if (body.getDataSize() + (size_t) n > (size_t) limits.maxBytes)
            return outcome (ImageFetch::Result::tooLarge);
        body.write (buffer, (size_t) n);
    }
    body.flush();

    if (stream.isError() || cut)
        return outcome (ImageFetch::Result::noConnection);

    return outcome (ImageFetch::Result::body);
}

//==============================================================================
ImageUrlCache::ImageUrlCache (Fetcher f, Settings s)
    : fetcher (f ? std::move (f) : Fetcher ([] (const juce::String& url) { return fetchImageOverHttp (url); })),
      settings (s)
{
}

juce::Image ImageUrlCache::get (const juce::String& url)
{
    if (url.isEmpty())
        return {};

    for (auto it = cached.begin(); it != cached.end(); ++it)
    {
        if (it->url != url)
            continue;

        if (it->retryAt == 0)
        {
            it->lastUse = ++useCounter;
            return it->image;
        }

        if (nowMs() < it->retryAt)
            return {};

        cached.erase (it);
        break;
    }

    // Only the web: a text from the server must not read local files.
    if (! json::isSafeLink (url))
        return {};

    const auto fetch = fetcher (url);
    const auto before = (int) cached.size();
    Entry entry { url, {}, 0, ++useCounter };

    switch (fetch.result)
    {
        case ImageFetch::Result::body:
            entry.image = decodeImageWithinLimits (fetch.body.getData(), fetch.body.getSize(), settings.imageLimits);
            printLine ("ICache [" + juce::String (before) + "] " + url + " size " + juce::String (entry.image.getHeight())
                       + "x" + juce::String (entry.image.getWidth()) + " " + juce::String ((int64_t) fetch.body.getSize())
                       + " bytes");
            break;

        case ImageFetch::Result::tooLarge:
            printLine ("ICache [" + juce::String (before) + "] " + url + " no image: larger than the limit");
            break;

        case ImageFetch::Result::noConnection:
        case ImageFetch::Result::httpError:
        case ImageFetch::Result::timedOut:
        {
            const juce::String reason = fetch.result == ImageFetch::Result::httpError
                                            ? "HTTP status " + juce::String (fetch.statusCode)
                                            : fetch.result == ImageFetch::Result::timedOut ? "timed out" : "no connection";
            printLine ("ICache [" + juce::String (before) + "] " + url + " no image: " + reason + "; next try in "
                       + juce::String (settings.retryAfterMs / 1000) + " s");
            entry.retryAt = nowMs() + juce::jmax (1, settings.retryAfterMs);
            break;
        }
    }

    auto image = entry.image;
    cached.push_back (std::move (entry));
    evict();
    return image;
}

void ImageUrlCache::evict()
{
    auto pixels = [this]
    {
        int64_t total = 0;
        for (const auto& e : cached)
            total += (int64_t) e.image.getWidth() * e.image.getHeight();
        return total;
    };

    while (cached.size() > 1
           && ((int) cached.size() > settings.maxEntries || pixels() > settings.maxCachedPixels))
    {
        auto oldest = cached.begin();
        for (auto it = cached.begin(); it != cached.end(); ++it)
            if (it->lastUse < oldest->lastUse)
                oldest = it;
        cached.erase (oldest);
    }
}

} // namespace olvo
