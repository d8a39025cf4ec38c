// olvo-webapi: the local device web API as a program of its own, for running the application against it by hand.
//
//   olvo-webapi [--port N] [--mode M] [--mode-seconds S] [--scenario file.json] [--max-seconds S]
//               [--own-web-app yes] [--images DIR]
//
// With --mode-seconds S the mode holds for S seconds from the first request only, and normal replies follow: a
// server that fails for a while and then recovers.
// With --own-web-app yes the replies point the web view at the server's own stand-in page (/app/) instead of the
// maker's web application, which is not reachable here. With --images DIR the server serves DIR's files under
// /images/, and the replies name them instead of the image hosts of the content: each package's logo and icon and
// the filler image by the file name of their URL.
// Prints "listening on <url>" first, then one line per request; ends on SIGINT, SIGTERM or after --max-seconds.

#include "sim/webapi/LocalWebApi.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <iostream>
#include <mutex>
#include <optional>
#include <thread>

namespace
{
    volatile std::sig_atomic_t stopRequested = 0;

    void onSignal (int)
    {
        stopRequested = 1;
    }

    constexpr int defaultMaxSeconds = 3600;
    constexpr int pollIntervalMs = 100;

    int usage (const char* message)
    {
        std::cerr << "olvo-webapi: " << message << "\n"
                  << "usage: olvo-webapi [--port N] [--mode M] [--mode-seconds S] [--scenario file.json]"
                     " [--max-seconds S] [--own-web-app yes] [--images DIR]\n"
                  << "modes: normal, error[:msg], warn[:msg], warn-no-uid[:msg], uid-mismatch, redirect[:hops],\n"
                  << "       redirect-to:url, empty, drop, html, http500, stall[:ms], oversized[:bytes],\n"
                  << "       deep[:bytes], junk, raw:body\n";
        return 2;
    }
} // namespace

int main (int argc, char* argv[])
{
    int port = 0, maxSeconds = defaultMaxSeconds, modeSeconds = -1;
    bool ownWebApp = false;
    juce::File images;
    auto mode = olvo::sim::ReplyMode();
    auto scenario = olvo::sim::LocalWebApi::defaultScenario();

    for (int i = 1; i < argc; ++i)
    {
        juce::String option (argv[i]);

        if (i + 1 >= argc)
            return usage ("every option takes a value");

        juce::String value (argv[++i]);

        if (option == "--port" && value.containsOnly ("0123456789") && value.length() <= 5)
        {
            port = value.getIntValue();
        }
        else if (option == "--max-seconds" && value.containsOnly ("0123456789") && value.length() <= 7)
        {
            maxSeconds = value.getIntValue();
        }
        else if (option == "--mode-seconds" && value.containsOnly ("0123456789") && value.length() <= 7)
        {
            modeSeconds = value.getIntValue();
        }
        else if (option == "--own-web-app" && (value == "yes" || value == "no"))
        {
            ownWebApp = value == "yes";
        }
        else if (option == "--images")
        {
            images = juce::File::getCurrentWorkingDirectory().getChildFile (value);
            if (! images.isDirectory())
                return usage ("bad option or value");
        }
        else if (option == "--mode")
        {
            auto parsed = olvo::sim::ReplyMode::parse (value);
            if (! parsed)
                return usage ("unknown mode");
            mode = *parsed;
        }
        else if (option == "--scenario")
        {
            juce::var json;
            auto parse = juce::JSON::parse (juce::File::getCurrentWorkingDirectory().getChildFile (value)
                                                .loadFileAsString(), json);
            auto applied = parse.wasOk() ? olvo::sim::LocalWebApi::applyOverrides (scenario, json) : parse;
            if (! applied.wasOk())
                return usage (("scenario: " + applied.getErrorMessage()).toRawUTF8());
        }
        else
        {
            return usage ("bad option or value");
        }
    }

    if (port > 65535)
        return usage ("port out of range");

    std::mutex outputLock;
    std::atomic<bool> requested { false };
    olvo::sim::LocalWebApi api;
    api.setScenario (scenario);
    api.setMode (mode);
    api.setRequestLogger ([&outputLock, &requested] (const juce::String& line)
    {
        requested = true;
        std::lock_guard<std::mutex> lock (outputLock);
        std::cout << line << std::endl;
    });

    std::signal (SIGINT, onSignal);
    std::signal (SIGTERM, onSignal);

    const bool ownImages = images != juce::File();
    api.setImagesFolder (images);   // none: nothing is served

    if (api.start (port) == 0)
    {
        std::cerr << "olvo-webapi: cannot listen on 127.0.0.1:" << port << "\n";
        return 1;
    }

    if (ownWebApp)
        scenario.webAppUrl = api.webAppUrl();

    if (ownImages)
    {
        const auto own = [&api] (const juce::String& url)
        {
            return api.imageUrl (url.fromLastOccurrenceOf ("/", false, false));
        };
        for (auto& package : scenario.packages)
        {
            package.brandLogo = own (package.brandLogo);
            package.brandIcon = own (package.brandIcon);
        }
        scenario.fillerImage = own (scenario.fillerImage);
    }

    if (ownWebApp || ownImages)
        api.setScenario (scenario);

    {
        std::lock_guard<std::mutex> lock (outputLock);
        std::cout << "listening on " << api.url() << std::endl;
    }

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds (maxSeconds);
    std::optional<std::chrono::steady_clock::time_point> modeEnds;

    while (stopRequested == 0 && std::chrono::steady_clock::now() < deadline)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (pollIntervalMs));

        if (modeSeconds < 0)
            continue;

        // The time is counted from the first request (the logger sees it just after its answer went out).
        if (! modeEnds && requested)
            modeEnds = std::chrono::steady_clock::now() + std::chrono::seconds (modeSeconds);

        if (modeEnds && std::chrono::steady_clock::now() >= *modeEnds)
        {
            api.clearModes();
            modeSeconds = -1;
            std::lock_guard<std::mutex> lock (outputLock);
            std::cout << "mode ended: normal replies from now on" << std::endl;
        }
    }

    api.stop();
    std::lock_guard<std::mutex> lock (outputLock);
    std::cout << "stopped" << std::endl;
    return 0;
}
