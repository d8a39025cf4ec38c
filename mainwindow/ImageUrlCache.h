#pragma once

#include "ImageDecoding.h"

#include <juce_graphics/juce_graphics.h>

#include <cstdint>
#include <functional>
#include <vector>

namespace olvo
{

//==============================================================================
/** Limits of one image download. The message thread waits for it, so every wait is bounded. */
struct ImageFetchLimits
{
    int connectTimeoutMs = 5000;              ///< connect (and, on curl, low-speed) limit
    int totalTimeoutMs = 15000;               ///< the whole download, redirects included
    int maxBytes = 8 * 1024 * 1024;           ///< a larger body is no image
    int maxRedirects = 5;
};

/** The outcome of one image download. */
struct ImageFetch
{
    enum class Result
    {
        body,           ///< a complete body with a success status (2xx)
        noConnection,   ///< no connection, or it broke off
        httpError,      ///< a status other than 2xx (the body is not kept)
        timedOut,       ///< the whole download took too long
        tooLarge        ///< the body (declared or received) is over the byte limit
    };

    Result result = Result::noConnection;
    int statusCode = 0;
    juce::MemoryBlock body;
};

/** Downloads an http or https URL by GET within the limits (redirects followed; curl follows none to file:). */
ImageFetch fetchImageOverHttp (const juce::String& url, const ImageFetchLimits& limits = {});

//==============================================================================
/** The bounds of an ImageUrlCache. */
struct ImageCacheSettings
{
    int maxEntries = 32;
    int64_t maxCachedPixels = 48ll * 1024 * 1024;
    int retryAfterMs = 60 * 1000;   ///< on the engine's clock
    ImageLimits imageLimits;
};

//==============================================================================
/**
    Images named by URL (package logos and icons, the server's filler image), fetched once and kept in memory.

    Only absolute http and https URLs are fetched (a text from the server never reads a local file). An image is kept
    with its URL, and so is a body that is no usable image (not PNG, JPEG or GIF, a declared size over the limits, a
    body over the byte limit): asking again gives the same (null) image without network access. A download that
    brought nothing (no connection, an HTTP error status, a time-out) is remembered as a failure and tried again only
    after retryAfterMs on the engine's clock, not on every pass of the window's timer. The cache holds at most
    maxEntries URLs and maxCachedPixels pixels; beyond that the least recently used entries go.

    Each download writes one line on standard output: "ICache [n] <url> size <h>x<w> <bytes> bytes" for a kept
    result (n entries before it; a null image is 0x0), or "ICache [n] <url> no image: <reason>" otherwise.
    Message thread only: a download blocks it for up to the fetch limits.
*/
class ImageUrlCache
{
public:
    /** Fetches one URL; the application's fetches over HTTP, tests give their own. */
    using Fetcher = std::function<ImageFetch (const juce::String& url)>;

    using Settings = ImageCacheSettings;

    /** An empty fetcher fetches over HTTP with the default limits. */
    explicit ImageUrlCache (Fetcher fetcher = {}, Settings settings = {});

    /** The image of a URL, possibly null (see the class comment). An empty URL gives a null image. */
    juce::Image get (const juce::String& url);

    /** One cached URL. */
    struct Entry
    {
        juce::String url;
        juce::Image image;
        int64_t retryAt = 0;    ///< a failed download: next try at this time (ms); 0: a kept result
        uint64_t lastUse = 0;
    };

    const std::vector<Entry>& entries() const { return cached; }

    /** Empties the cache. */
    void clear() { cached.clear(); }

private:
    void evict();

    Fetcher fetcher;
    Settings settings;
    std::vector<Entry> cached;
    uint64_t useCounter = 0;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ImageUrlCache)
};

} // namespace olvo
