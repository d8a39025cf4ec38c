#include "ImageUrlCache.h"

#include "engine/Clock.h"
#include "engine/JsonValues.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <thread>

namespace olvo
{

namespace
{
    void printLine (const juce::String& line)
    {
        std::fputs ((line + "\n").toRawUTF8(), stdout);
        std::fflush (stdout);
    }
}

//==============================================================================
ImageFetch fetchImageOverHttp (const juce::String& url, const ImageFetchLimits& limits)
{
    ImageFetch fetch;

    juce::WebInputStream stream (juce::URL (url), false);
    stream.withConnectionTimeout (limits.connectTimeoutMs).withNumRedirectsToFollow (limits.maxRedirects);

    // The reads block inside JUCE; a watchdog cancels the stream once the whole download has taken too long, or
    // once the calling thread is asked to exit (its owner is going away).
    auto* const caller = juce::Thread::getCurrentThread();
    std::atomic<bool> cut { false };
    juce::WaitableEvent finished;
    std::thread watchdog ([&]
    {
        const auto deadline = juce::Time::getMillisecondCounterHiRes() + limits.totalTimeoutMs;
        for (;;)
        {
            const auto left = deadline - juce::Time::getMillisecondCounterHiRes();
            if (left <= 0 || (caller != nullptr && caller->threadShouldExit()))
                break;
            if (finished.wait (juce::jlimit (1, 50, (int) left)))
                return;
        }
        cut = true;
        stream.cancel();
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
    : juce::Thread ("ImageUrlCache"),
      fetcher (f ? std::move (f) : Fetcher ([] (const juce::String& url) { return fetchImageOverHttp (url); })),
      settings (s)
{
    startThread();
}

ImageUrlCache::~ImageUrlCache()
{
    // The running download sees the exit request within about 50 ms and cancels its stream; the generous limit only
    // guards against a fetcher that ignores it.
    signalThreadShouldExit();
    notify();
    stopThread (20000);
}

juce::Image ImageUrlCache::get (const juce::String& url)
{
    if (url.isEmpty())
        return {};

    const std::lock_guard<std::mutex> guard (lock);
    const auto now = nowMs();

    for (auto it = cached.begin(); it != cached.end(); ++it)
    {
        if (it->url != url)
            continue;

        it->lastUsedAt = now;

        if (it->pending)
            return {};

        if (it->noRoomFor > 0)
        {
            // Fetched again only once it fits: room is made among the entries no longer in use.
            const auto needed = it->noRoomFor;
            evict (now, 0, needed);
            if (isFull (0, needed))
                return {};

            cached.erase (std::find_if (cached.begin(), cached.end(), [&] (const Entry& e) { return e.url == url; }));
            break;
        }

        if (it->retryAt == 0)
        {
            it->lastUse = ++useCounter;
            return it->image;
        }

        if (now < it->retryAt)
            return {};

        cached.erase (it);
        break;
    }

    // Only the web: a text from the server must not read local files.
    if (! json::isSafeLink (url))
        return {};

    evict (now, 1, 1);
    if (isFull (1, 1))
        return {};   // every entry is in use: this one waits, rather than pushing out an image shown now

    cached.push_back ({ url, {}, 0, ++useCounter, now, 0, true });
    queue.push_back (url);
    notify();
    return {};
}

std::vector<ImageUrlCache::Entry> ImageUrlCache::entries() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return cached;
}

bool ImageUrlCache::hasPendingDownloads() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return std::any_of (cached.begin(), cached.end(), [] (const Entry& e) { return e.pending; });
}

void ImageUrlCache::clear()
{
    const std::lock_guard<std::mutex> guard (lock);
    cached.clear();
    queue.clear();
    ++clears;
}

void ImageUrlCache::run()
{
    while (! threadShouldExit())
    {
        juce::String url;
        uint64_t clearsBefore = 0;
        {
            const std::lock_guard<std::mutex> guard (lock);
            clearsBefore = clears;
            if (! queue.empty())
            {
                url = queue.front();
                queue.pop_front();
            }
        }

        if (url.isEmpty())
        {
            wait (-1);
            continue;
        }

        const auto fetch = fetcher (url);

        if (threadShouldExit())
            return;

        store (url, fetch, clearsBefore);
    }
}

void ImageUrlCache::store (const juce::String& url, const ImageFetch& fetch, uint64_t clearsBefore)
{
    // Decoded outside the lock: the message thread keeps getting the other images meanwhile.
    juce::Image image;
    if (fetch.result == ImageFetch::Result::body)
        image = decodeImageWithinLimits (fetch.body.getData(), fetch.body.getSize(), settings.imageLimits);

    const std::lock_guard<std::mutex> guard (lock);

    // Cleared while it ran: the result is no longer wanted, even when the URL was asked for again since.
    if (clears != clearsBefore)
        return;

    const auto isThisDownload = [&url] (const Entry& e) { return e.url == url && e.pending; };
    if (std::none_of (cached.begin(), cached.end(), isThisDownload))
        return;

    // n counts the results kept before this one, not the downloads still pending.
    const auto before = juce::String ((int) std::count_if (cached.begin(), cached.end(),
                                                           [] (const Entry& e) { return ! e.pending; }));

    // Room for the image is made while its entry is still pending, which no eviction takes.
    const auto pixels = (int64_t) image.getWidth() * image.getHeight();
    if (fetch.result == ImageFetch::Result::body)
        evict (nowMs(), 0, pixels);
    const bool noRoom = fetch.result == ImageFetch::Result::body && isFull (0, pixels);

    const auto entry = std::find_if (cached.begin(), cached.end(), isThisDownload);
    entry->pending = false;
    entry->lastUse = ++useCounter;   // the newest result: not the one evicted to make room for itself

    switch (fetch.result)
    {
        case ImageFetch::Result::body:
            if (noRoom)
            {
                // Keeping it would push out images in use: its size is remembered instead.
                entry->noRoomFor = pixels;
                printLine ("ICache [" + before + "] " + url + " no image: no room for "
                           + juce::String (image.getHeight()) + "x" + juce::String (image.getWidth()) + " now");
                break;
            }

            entry->image = image;
            printLine ("ICache [" + before + "] " + url + " size " + juce::String (image.getHeight()) + "x"
                       + juce::String (image.getWidth()) + " " + juce::String ((int64_t) fetch.body.getSize())
                       + " bytes");
            break;

        case ImageFetch::Result::tooLarge:
            printLine ("ICache [" + before + "] " + url + " no image: larger than the limit");
            break;

        case ImageFetch::Result::noConnection:
        case ImageFetch::Result::httpError:
        case ImageFetch::Result::timedOut:
        {
            const juce::String reason = fetch.result == ImageFetch::Result::httpError
                                            ? "HTTP status " + juce::String (fetch.statusCode)
                                            : fetch.result == ImageFetch::Result::timedOut ? "timed out" : "no connection";
            printLine ("ICache [" + before + "] " + url + " no image: " + reason + "; next try in "
                       + juce::String (settings.retryAfterMs / 1000) + " s");
            entry->retryAt = nowMs() + juce::jmax (1, settings.retryAfterMs);
            break;
        }
    }

    evict (nowMs(), 0, 0);
}

int64_t ImageUrlCache::cachedPixels() const
{
    int64_t total = 0;
    for (const auto& e : cached)
        total += (int64_t) e.image.getWidth() * e.image.getHeight();
    return total;
}

bool ImageUrlCache::isFull (int entries, int64_t pixels) const
{
    return (int) cached.size() + entries > settings.maxEntries || cachedPixels() + pixels > settings.maxCachedPixels;
}

void ImageUrlCache::evict (int64_t now, int entries, int64_t pixels)
{
    // A pending entry stays (its download is already queued), and so does one in use: evicting an image the window
    // shows would only have it downloaded again on its next pass.
    while (isFull (entries, pixels))
    {
        auto oldest = cached.end();
        for (auto it = cached.begin(); it != cached.end(); ++it)
            if (! it->pending && now - it->lastUsedAt >= settings.inUseForMs
                && (oldest == cached.end() || it->lastUse < oldest->lastUse))
                oldest = it;

        if (oldest == cached.end())
            break;
        cached.erase (oldest);
    }
}

} // namespace olvo
