#include "ImageUrlCache.h"

#include "engine/Clock.h"
#include "engine/JsonValues.h"

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
