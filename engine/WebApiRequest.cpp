// The poll request, the exchange with the device web API and the transport under it.

#include "OlvoThread.h"

#include "DeviceProtocol.h"
#include "JsonGate.h"
#include "JsonValues.h"
#include "WebApiTransport.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

namespace olvo
{

namespace
{
    constexpr int maxPasses = 3;              // the first POST and up to two more after "api_url" redirects
    constexpr int maxHttpRedirects = 5;
    // A read blocks until its chunk is full, and the limits are checked between reads, so a chunk is small; but not
    // very small: JUCE's curl stream shifts (and reallocates) what it holds after every read. At the slowest rate
    // curl lets pass (100 bytes a second) a chunk lasts some 10 s.
    constexpr int readChunkBytes = 1024;
    constexpr int idleReadGapMs = 5;          // only back ends whose read can return nothing before the end wait
    constexpr int uidWords = 4;
    constexpr int uidWordDigits = 8;

    // The application version the server knows this client by.
    constexpr const char* appOperatingSystem = "MAC";
    constexpr const char* appVersionMajor = "1";
    constexpr const char* appVersionMinor = "2";
    constexpr const char* appVersionTertiary = "8";

    const char* const groupKeys[3] { "multi", "bright", "orange" };
    const char* const runParameterKeys[3] { "purple", "blue", "orange" };

    struct AtomicLimits
    {
        std::atomic<int> connectTimeoutMs { webapi::TransportLimits().connectTimeoutMs };
        std::atomic<int> stallTimeoutMs { webapi::TransportLimits().stallTimeoutMs };
        std::atomic<int> startAllowanceMs { webapi::TransportLimits().startAllowanceMs };
        std::atomic<int> minBytesPerSecond { webapi::TransportLimits().minBytesPerSecond };
        std::atomic<int> maxReplyBytes { webapi::TransportLimits().maxReplyBytes };
    };

    AtomicLimits& limitsInForce()
    {
        static AtomicLimits limits;
        return limits;
    }

    void printLine (const juce::String& line)
    {
        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    juce::String formatUid (const DeviceIds& ids)
    {
        juce::StringArray words;
        for (int i = 0; i < uidWords; ++i)
            words.add (juce::String::toHexString (ids.uidWord (i)).paddedLeft ('0', uidWordDigits));
        return words.joinIntoString (":");
    }

    /** "scheme://authority" of a URL, lower-cased; empty when it has none. */
    juce::String originOf (const juce::String& url)
    {
        const int schemeEnd = url.indexOf ("://");
        if (schemeEnd <= 0)
            return {};

        const int hostStart = schemeEnd + 3;
        int hostEnd = url.indexOfAnyOf ("/?#", hostStart);
        if (hostEnd < 0)
            hostEnd = url.length();

        return url.substring (0, hostEnd).toLowerCase();
    }

    bool isHttpUrl (const juce::String& url)
    {
        return url.startsWithIgnoreCase ("http://") || url.startsWithIgnoreCase ("https://");
    }

    /** Reads the slots from the device; a slot that answers refreshes the engine's table and joins "slots". */
    juce::var readSlots (OlvoThread& engine, const FirmwareVersion& version)
    {
        auto* slots = new juce::DynamicObject();

        for (int s = 0; s < wire::slotCount; ++s)
        {
            uint8_t name[wire::slotNameSize] {};
            int code = 0, major = 0, minor = 0;

            if (get_filename ((unsigned) s, name, &code, &major, &minor) <= 0)
                continue;

            engine.slotTable.update ([&] (SlotTable& t)
            {
                std::memcpy (t.slotProgramName[s], name, sizeof (name));
                t.slotProgramCode[s] = code;
                t.slotVersionMajor[s] = major;
                t.slotVersionMinor[s] = minor;
            });

            const auto nameLength = strnlen (reinterpret_cast<const char*> (name), sizeof (name));

            auto* slot = new juce::DynamicObject();
            slot->setProperty ("program_code", juce::String (code));
            slot->setProperty ("program_name", juce::String (reinterpret_cast<const char*> (name), nameLength));
            slot->setProperty ("version_major", juce::String (major));
            slot->setProperty ("version_minor", juce::String (minor));
            slots->setProperty (juce::String (firmware::slotKey (version, s)), juce::var (slot));
        }

        return juce::var (slots);
    }

    juce::var firmwareObject (const FirmwareVersion& version)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("version_major", juce::String (version.major));
        o->setProperty ("version_minor", juce::String (version.minor));
        o->setProperty ("version_tertiary", juce::String (version.tertiary));
        return juce::var (o);
    }
}

//==============================================================================
namespace webapi
{

TransportLimits transportLimits()
{
    auto& l = limitsInForce();
    TransportLimits result;
    result.connectTimeoutMs = l.connectTimeoutMs;
    result.stallTimeoutMs = l.stallTimeoutMs;
    result.startAllowanceMs = l.startAllowanceMs;
    result.minBytesPerSecond = l.minBytesPerSecond;
    result.maxReplyBytes = l.maxReplyBytes;
    return result;
}

void setTransportLimits (const TransportLimits& limits)
{
    auto& l = limitsInForce();
    l.connectTimeoutMs = std::max (1, limits.connectTimeoutMs);
    l.stallTimeoutMs = std::max (1, limits.stallTimeoutMs);
    l.startAllowanceMs = std::max (1, limits.startAllowanceMs);
    l.minBytesPerSecond = std::max (1, limits.minBytesPerSecond);
    l.maxReplyBytes = std::max (1, limits.maxReplyBytes);
}

bool postJson (const juce::String& url, const juce::String& body, juce::String& replyText, size_t* bytesReceived)
{
    replyText = {};

    if (bytesReceived != nullptr)
        *bytesReceived = 0;

    // juce::URL reads file: URLs from disk; only the web is asked.
    if (! isHttpUrl (url))
        return false;

    const auto limits = transportLimits();

    // Taken as it stands: a parsed URL would move its query string into the POST body, in front of the JSON.
    const auto target = juce::URL::createWithoutParsing (url).withPOSTData (body);
    const auto options = juce::URL::InputStreamOptions (juce::URL::ParameterHandling::inPostData)
                             .withExtraHeaders ("Content-Type: application/json")
                             .withConnectionTimeoutMs (limits.connectTimeoutMs)
                             .withNumRedirectsToFollow (maxHttpRedirects);

    // Real time: these limits are about a real network, whatever clock the engine runs on.
    const auto started = juce::Time::getMillisecondCounter();
    const auto stream = target.createInputStream (options);

    if (stream == nullptr || stream->getTotalLength() > limits.maxReplyBytes)
        return false;

    juce::MemoryOutputStream received;
    char chunk[readChunkBytes];
    auto lastByteAt = juce::Time::getMillisecondCounter();

    for (;;)
    {
        const int n = stream->read (chunk, (int) sizeof (chunk));
        const auto now = juce::Time::getMillisecondCounter();

        if (n > 0)
        {
            if ((juce::int64) received.getDataSize() + n > (juce::int64) limits.maxReplyBytes)
                return false;

            received.write (chunk, (size_t) n);
            lastByteAt = now;
        }
        else if (stream->isExhausted())
        {
            break;
        }

        // A slow link may take its time as long as it keeps up the slowest rate; a stopping engine does not wait.
        if ((juce::int64) (now - started) > limits.timeAllowedMs ((juce::int64) received.getDataSize())
            || now - lastByteAt > (juce::uint32) limits.stallTimeoutMs
            || juce::Thread::currentThreadShouldExit())
            return false;

        if (n <= 0)
            juce::Thread::sleep (idleReadGapMs);
    }

    // A transfer that broke off (time-out, reset, short body) is not a reply, whatever part of it arrived.
    if (auto* web = dynamic_cast<juce::WebInputStream*> (stream.get()); web != nullptr && web->isError())
        return false;

    replyText = juce::String::createStringFromData (received.getData(), (int) received.getDataSize());

    if (bytesReceived != nullptr)
        *bytesReceived = received.getDataSize();

    return replyText.isNotEmpty();
}

juce::var parseReplyText (const juce::String& replyText)
{
    // A "{" is one byte in UTF-8 and never part of another character: the cut can be made on the bytes.
    const char* const whole = replyText.toRawUTF8();
    const char* const firstBrace = std::strchr (whole, '{');
    const bool cut = firstBrace != nullptr && firstBrace != whole;

    const juce::String text = cut ? juce::String (juce::CharPointer_UTF8 (firstBrace)) : replyText;
    const char* const start = cut ? firstBrace : whole;

    if (json::JsonGate::check (start, std::strlen (start)) != json::JsonGate::Verdict::accepted)
        return {};

    return juce::JSON::parse (text);
}

bool isAcceptableApiUrl (const juce::String& candidate, const juce::String& defaultUrl)
{
    if (! json::isSafeLink (candidate))
        return false;

    if (candidate.startsWithIgnoreCase ("https://"))
        return true;

    const auto origin = originOf (candidate);
    return origin.isNotEmpty() && origin == originOf (defaultUrl);
}

int handleReplyText (OlvoThread& engine, const juce::String& replyText, const juce::String& requestUid, bool process)
{
    const auto reply = parseReplyText (replyText);
    return engine.processReply (reply, json::text (reply["UID"]), requestUid, process);
}

} // namespace webapi

//==============================================================================
juce::var OlvoThread::buildRequest (bool process, bool allowNochange, juce::String& uidOut)
{
    const auto ids = deviceIds.get();
    const auto version = FirmwareVersion::of (ids);

    auto* request = new juce::DynamicObject();
    juce::var result (request);

    uidOut = formatUid (ids);
    request->setProperty ("UID", uidOut);

    if (allowNochange)
        request->setProperty ("allow_nochange", true);

    request->setProperty ("slots", readSlots (*this, version));
    request->setProperty ("firmware", firmwareObject (version));

    auto* app = new juce::DynamicObject();
    app->setProperty ("operating_system", appOperatingSystem);
    app->setProperty ("version_major", appVersionMajor);
    app->setProperty ("version_minor", appVersionMinor);
    app->setProperty ("version_tertiary", appVersionTertiary);
    request->setProperty ("app", juce::var (app));

    int delay = -1;

    if (process)
    {
        // Each request is taken with an exchange: a choice the window makes right now is either in this request or
        // still pending for the next one.
        bool taken[3] {};
        bool anyTaken = false;
        for (int g = 0; g < 3; ++g)
        {
            taken[g] = updateProgramChoice[g].exchange (false);
            anyTaken = anyTaken || taken[g];
        }

        if (anyTaken)
        {
            auto* choices = new juce::DynamicObject();
            for (int g = 0; g < 3; ++g)
                if (taken[g])
                    choices->setProperty (groupKeys[g], (int) chosenConfigId[g]);
            request->setProperty ("update_program_choices", juce::var (choices));
        }

        const int decision = regimenAdvancementDelay.exchange (0);
        if (decision != 0)
            delay = decision > 0 ? decision : 0;

        if (packageChoicePending.exchange (false))
        {
            const int index = chosenPackageIndex;
            const auto offered = packages.get();
            if (index >= 0 && index < offered.size())
                request->setProperty ("update_package_choice", offered.getReference (index).packageId);
        }
    }
    else
    {
        const int threshold = lastRtc;
        if (threshold >= 0)
        {
            auto logs = buildLogsObject (threshold);
            if (logs.hasProperty ("1"))
                request->setProperty ("logs", logs);
            lastRtc = -1;
        }
    }

    if (sendSlotValues.exchange (0) != 0)
    {
        const auto report = statusReport.get();
        const auto* settings = report.deviceSettings();
        const bool open = deviceOpen;

        auto* values = new juce::DynamicObject();
        for (int g = 0; g < 3; ++g)
        {
            auto* group = new juce::DynamicObject();
            if (open)
                group->setProperty ("brightness", firmware::presentLevel (version, settings, g));
            group->setProperty ("duration", firmware::presentDuration (version, settings, g));
            values->setProperty (runParameterKeys[g], juce::var (group));
        }
        request->setProperty ("app_slot_program_values", juce::var (values));
    }

    request->setProperty ("regimen_advancement_delay", juce::String (delay));
    return result;
}

int OlvoThread::pollServer (bool process, bool allowNochange)
{
    juce::String requestUid;
    const auto requestText = json::toJsonText (buildRequest (process, allowNochange, requestUid));

    const auto defaultUrl = defaultApiUrl.get();
    if (apiUrl.get().isEmpty())
        apiUrl.set (defaultUrl);

    auto url = apiUrl.get();
    juce::var reply;
    juce::String replyUid;

    for (int pass = 0; pass < maxPasses; ++pass)
    {
        if (juce::Thread::currentThreadShouldExit())
            return -1;

        printLine ("JSON body size: " + juce::String (requestText.length()));

        juce::String replyText;
        size_t replyBytes = 0;
        if (! webapi::postJson (url, requestText, replyText, &replyBytes))
        {
            printLine ("Error retrieving URL: " + url);

            if (juce::Thread::currentThreadShouldExit())
                return -1;

            // A redirect target that stopped answering is not kept: the next poll starts from the default again.
            if (url != defaultUrl)
                apiUrl.set ({});
            return -1;
        }

        printLine ({});
        printLine ("JSON Received bytes:" + juce::String ((juce::int64) replyBytes) + " iLoop " + juce::String (pass));

        reply = webapi::parseReplyText (replyText);
        replyUid = json::text (reply["UID"]);

        const auto next = json::text (reply["api_url"]);
        if (next.isEmpty() || next == url || ! webapi::isAcceptableApiUrl (next, defaultUrl))
            break;

        apiUrl.set (next);
        printLine ("Redirected to API: " + next);
        url = next;
    }

    return processReply (reply, replyUid, requestUid, process);
}

} // namespace olvo
