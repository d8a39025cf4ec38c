#pragma once

#include "ImageDecoding.h"

#include <juce_graphics/juce_graphics.h>

#include <juce_core/juce_core.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace olvo
{

//==============================================================================
/** Limits of one image download. Every wait is bounded, so that a stalled host costs a download slot no longer. */
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

/** Downloads an http or https URL by GET within the limits (redirects followed; curl follows none to file:).
    Called on a juce::Thread, it also ends soon after that thread is asked to exit (a timed-out result). */
ImageFetch fetchImageOverHttp (const juce::String& url, const ImageFetchLimits& limits = {});

//==============================================================================
/** The bounds of an ImageUrlCache. */
struct ImageCacheSettings
{
    int maxEntries = 64;
    int64_t maxCachedPixels = 48ll * 1024 * 1024;
    int retryAfterMs = 60 * 1000;   ///< on the engine's clock
    int inUseForMs = 5000;          ///< an entry asked for this recently is in use (the window asks every 500 ms)
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
    maxEntries URLs and maxCachedPixels pixels; beyond that the least recently used entries go, but never one whose
    download is pending nor one still in use (asked for within inUseForMs). While only such entries fill it, a new
    URL is not fetched (a null image), and an image that arrives without room is not kept (its entry remembers its
    size), until entries fall out of use and make room. So a window that asks for more images than fit is shown
    those that do, and never downloads the same images again and again.

    Downloads run on the cache's own thread, one at a time: get() never waits for the network. It gives the image of
    a URL once its download has ended, and a null image while the download is queued or running; the caller asks
    again later (the main window does on each pass of its timer) and redraws what changed.

    Each download writes one line on standard output: "ICache [n] <url> size <h>x<w> <bytes> bytes" for a kept
    result (n results kept before it; a null image is 0x0), or "ICache [n] <url> no image: <reason>" otherwise.
    get(), entries() and clear() may be called from any thread; the owner calls them from the message thread.
    Destroying the cache cancels a running download and waits for it to end (a fraction of a second).
*/
class ImageUrlCache : private juce::Thread
{
public:
    /** Fetches one URL, on the cache's thread; the application's fetches over HTTP, tests give their own. A fetcher
        that may wait long should give up once juce::Thread::currentThreadShouldExit() is true. */
    using Fetcher = std::function<ImageFetch (const juce::String& url)>;

    using Settings = ImageCacheSettings;

    /** An empty fetcher fetches over HTTP with the default limits. */
    explicit ImageUrlCache (Fetcher fetcher = {}, Settings settings = {});

    ~ImageUrlCache() override;

    /** The image of a URL, possibly null (see the class comment); starts its download when it has none. An empty
        URL gives a null image. Never blocks on the network. */
    juce::Image get (const juce::String& url);

    /** One cached URL. */
    struct Entry
    {
        juce::String url;
        juce::Image image;
        int64_t retryAt = 0;    ///< a failed download: next try at this time (ms); 0: a kept result
        uint64_t lastUse = 0;   ///< order of use, the latest highest
        int64_t lastUsedAt = 0; ///< when it was last asked for (ms, on the engine's clock)
        int64_t noRoomFor = 0;  ///< an image that arrived without room: its pixels (fetched again once they fit)
        bool pending = false;   ///< its download is queued or running
    };

    /** A copy of the entries, in no particular order. */
    std::vector<Entry> entries() const;

    /** True while a download is queued or running. */
    bool hasPendingDownloads() const;

    /** Empties the cache; a download in progress is dropped when it ends. */
    void clear();

private:
    void run() override;
    void store (const juce::String& url, const ImageFetch& fetch, uint64_t clearsBefore);
    /** Drops least recently used entries, neither pending nor in use, until `entries` more entries and `pixels`
        more pixels fit (as far as that goes). */
    void evict (int64_t now, int entries, int64_t pixels);
    bool isFull (int entries, int64_t pixels) const;
    int64_t cachedPixels() const;

    Fetcher fetcher;
    Settings settings;

    mutable std::mutex lock;           // guards everything below
    std::vector<Entry> cached;
    std::deque<juce::String> queue;    // URLs waiting for the thread, oldest first
    uint64_t useCounter = 0;
    uint64_t clears = 0;               // clear() calls: a download begun before one is dropped

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ImageUrlCache)
};

} // namespace olvo
