#include "sim/webapi/LocalWebApi.h"

#include "sim/FirmwareImage.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>

namespace olvo::sim
{
namespace
{
    constexpr const char* host = "127.0.0.1";
    constexpr const char* routePattern = R"(/device/(r[0-9]{1,3}/)?)";
    constexpr const char* webAppPath = "/app/";
    constexpr const char* imagesPath = "/images";

    constexpr const char* webAppPage = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>Olvo web app</title></head>
<body style="margin:0;font-family:sans-serif;background:#f4f6f8;color:#253040">
<div style="padding:32px 40px">
<h1 style="font-weight:300;margin:0 0 12px">Olvo web app</h1>
<p>Your treatment plan, sessions and tips appear here.</p>
<p style="color:#6a7788">This page is served by the local device web API on this machine.</p>
</div></body></html>
)";
    /** Where the pre-routing handler keeps the client's Content-Type (see start()). */
    constexpr const char* originalContentTypeHeader = "X-Olvo-Original-Content-Type";

    constexpr int maxRecordedRequests = 1000;
    constexpr size_t maxStoredLogEntries = 100000;
    constexpr int maxLogEntriesPerRequest = 100000;
    constexpr int maxRequestNesting = 64;           // juce::JSON::parse recurses without a limit
    constexpr size_t maxRequestBytes = 16 * 1024 * 1024;
    constexpr int maxStallMs = 600 * 1000;
    constexpr int maxRedirectHops = 100;
    constexpr int maxReplyPadding = 64 * 1024 * 1024;
    constexpr int defaultOversizedBytes = 8 * 1024 * 1024;
    constexpr int defaultDeepNestingBytes = 200 * 1024;
    constexpr int startTimeoutMs = 10000;
    constexpr int base64LineLength = 76;
    constexpr int slotCount = 6;
    constexpr int groupCount = 3;

    const char* const groupKeys[groupCount] { "multi", "bright", "orange" };
    const char* const runParameterKeys[groupCount] { "purple", "blue", "orange" };
    enum Group { multi = 0, bright = 1, orange = 2 };

    //==============================================================================
    /** splitmix64: small, fast and the same everywhere, so that tests can recompute every file. */
    struct SplitMix64
    {
        uint64_t state;

        uint64_t next() noexcept
        {
            uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            return z ^ (z >> 31);
        }
    };

    void fillPseudoRandom (std::vector<uint8_t>& data, size_t from, uint64_t seed)
    {
        SplitMix64 rng { seed };

        for (size_t i = from; i < data.size(); i += 8)
        {
            auto word = rng.next();

            for (size_t b = 0; b < 8 && i + b < data.size(); ++b)
                data[i + b] = (uint8_t) (word >> (8 * b));
        }
    }

    //==============================================================================
    bool isJsonObject (const juce::var& v)      { return v.isObject() && ! v.isArray(); }

    /** Reads an integer from a JSON number or the digits at the start of a text, clamped: a plain var cast of a
        number like 1e20 would be undefined. */
    juce::int64 toInt64 (const juce::var& v, juce::int64 fallback)
    {
        constexpr double limit = 9.0e18;

        if (v.isBool() || v.isInt() || v.isInt64())
            return (juce::int64) v;

        if (v.isDouble())
        {
            auto d = (double) v;
            return std::isfinite (d) ? (juce::int64) juce::jlimit (-limit, limit, d) : fallback;
        }

        if (! v.isString())
            return fallback;

        auto text = v.toString().trimStart();
        auto p = text.getCharPointer();
        bool negative = false;

        if (*p == '-' || *p == '+')
            negative = (p.getAndAdvance() == '-');

        if (! juce::CharacterFunctions::isDigit (*p))
            return fallback;

        juce::int64 value = 0;

        for (int digits = 0; juce::CharacterFunctions::isDigit (*p); ++digits)
        {
            auto digit = (juce::int64) (p.getAndAdvance() - '0');
            if (digits < 18)
                value = value * 10 + digit;
        }

        return negative ? -value : value;
    }

    int toInt (const juce::var& v, int fallback)
    {
        return (int) juce::jlimit ((juce::int64) std::numeric_limits<int>::min(),
                                   (juce::int64) std::numeric_limits<int>::max(),
                                   toInt64 (v, fallback));
    }

    /** True when no array or object in the text nests deeper than the limit (strings are skipped). */
    bool nestingWithin (const std::string& text, int limit)
    {
        int depth = 0;
        bool inString = false, escaped = false;

        for (auto c : text)
        {
            if (inString)
            {
                if (escaped)
                    escaped = false;
                else if (c == '\\')
                    escaped = true;
                else if (c == '"')
                    inString = false;
            }
            else if (c == '"')
            {
                inString = true;
            }
            else if (c == '[' || c == '{')
            {
                if (++depth > limit)
                    return false;
            }
            else if (c == ']' || c == '}')
            {
                --depth;
            }
        }

        return true;
    }

    std::optional<FirmwareVersion> parseVersionText (const juce::String& text)
    {
        auto parts = juce::StringArray::fromTokens (text, ".", "");

        if (parts.size() != 3)
            return std::nullopt;

        FirmwareVersion v;
        int* fields[] { &v.major, &v.minor, &v.tertiary };

        for (int i = 0; i < 3; ++i)
        {
            if (! parts[i].containsOnly ("0123456789") || parts[i].isEmpty() || parts[i].length() > 5)
                return std::nullopt;
            *fields[i] = parts[i].getIntValue();
        }

        return v;
    }

    juce::String versionText (const FirmwareVersion& v)
    {
        return juce::String (v.major) + "." + juce::String (v.minor) + "." + juce::String (v.tertiary);
    }

    //==============================================================================
    /** Small builder for reply objects. */
    struct Obj
    {
        juce::DynamicObject::Ptr o { new juce::DynamicObject() };

        Obj& set (const char* key, const juce::var& value)      { o->setProperty (key, value); return *this; }
        operator juce::var() const                              { return juce::var (o.get()); }
    };

    juce::String encodeBase64 (const std::vector<uint8_t>& data, bool withLineBreaks)
    {
        auto text = juce::Base64::toBase64 (data.data(), data.size());

        if (! withLineBreaks)
            return text;

        auto flat = text.toStdString();
        std::string broken;
        broken.reserve (flat.size() + 2 * (flat.size() / base64LineLength + 1));

        for (size_t i = 0; i < flat.size(); i += base64LineLength)
        {
            if (i > 0)
                broken += "\r\n";
            broken.append (flat, i, base64LineLength);
        }

        return juce::String (broken);
    }

    /** What the request says about the device. */
    struct Report
    {
        juce::String uid;
        bool hasFirmware = false;
        FirmwareVersion firmware;
        bool allowNochange = false;
        bool carriesUpdates = false;    // choices, package, delay decision, logs or slot values
    };

    juce::String delayText (const juce::var& request)
    {
        auto delay = request["regimen_advancement_delay"];
        return delay.isVoid() ? juce::String ("-1") : delay.toString().trim();
    }

    Report readReport (const juce::var& request)
    {
        Report r;
        r.uid = request["UID"].toString();
        r.allowNochange = request["allow_nochange"].isBool() && (bool) request["allow_nochange"];

        auto fw = request["firmware"];

        if (isJsonObject (fw) && fw.hasProperty ("version_major"))
        {
            r.hasFirmware = true;
            r.firmware = { toInt (fw["version_major"], 0), toInt (fw["version_minor"], 0),
                           toInt (fw["version_tertiary"], 0) };
        }

        r.carriesUpdates = request.hasProperty ("update_program_choices")
                        || request.hasProperty ("update_package_choice")
                        || request.hasProperty ("logs")
                        || request.hasProperty ("app_slot_program_values")
                        || delayText (request) != "-1";
        return r;
    }

    juce::String slotKey (int slot, bool highKeys)
    {
        return juce::String (highKeys && (slot == 2 || slot == 3) ? slot + 5 : slot + 1);
    }

    ProgramFile programFor (const Scenario& sc, int code)
    {
        if (code == 0)
            return { 0, "[Empty]", 0, 0 };

        for (auto& p : sc.programs)
            if (p.code == code)
                return p;

        return { code, "Program " + juce::String (code), 1, 0 };
    }

    /** The scenario's slots, with the slots of each group the device chose a program for following that
        program's files: bright in slots 0 and 1, orange in 2 and 3 (only where the firmware has them), multi in 4
        and 5. */
    std::array<int, slotCount> wantedCodes (const Scenario& sc, const DeviceRecord& dev, const Report& report)
    {
        auto codes = sc.wantedSlotCodes;
        const int firstSlot[groupCount] { 4, 0, 2 };

        for (int g = 0; g < groupCount; ++g)
        {
            if (dev.chosenConfigIds[(size_t) g] < 0 || (g == orange && ! report.firmware.usesHighSlotKeys()))
                continue;

            for (auto& choice : sc.programChoices[(size_t) g])
            {
                if (choice.configId != dev.chosenConfigIds[(size_t) g])
                    continue;

                auto files = juce::StringArray::fromTokens (choice.freqFiles, ",", "");

                for (int i = 0; i < juce::jmin (2, files.size()); ++i)
                    codes[(size_t) (firstSlot[g] + i)] = files[i].trim().getIntValue();
                break;
            }
        }

        return codes;
    }

    juce::var regimenObject (const Scenario& sc, const DeviceRecord& dev)
    {
        auto& phases = sc.regimen.phases;
        auto total = (int) phases.size();
        auto index = juce::jlimit (0, juce::jmax (0, total - 1), dev.currentPhase - 1);
        RegimenPhase none;
        auto& phase = total > 0 ? phases[(size_t) index] : none;
        bool hasNext = index + 1 < total;

        Obj delays;
        for (auto& option : sc.regimen.delayOptions)
            if (option.first.isNotEmpty())
                delays.set (option.first.toRawUTF8(), option.second);

        Obj r;
        r.set ("regimen_name", sc.regimen.name)
         .set ("current_phase_name", phase.name)
         .set ("current_phase", total > 0 ? index + 1 : 0)
         .set ("phase_total", total)
         .set ("current_phase_duration_total", phase.durationTotal)
         .set ("current_phase_remaining", dev.currentPhaseRemaining)
         .set ("ready_to_advance", dev.readyToAdvance && hasNext)
         .set ("force_update", sc.regimen.forceUpdate)
         .set ("advancement_message", phase.advancementMessage);

        if (hasNext)
        {
            auto& next = phases[(size_t) index + 1];
            r.set ("next_phase", Obj().set ("advancement_message", next.advancementMessage)
                                      .set ("advancement_title", next.advancementTitle));
        }

        r.set ("just_advanced_phase", dev.justAdvancedPending)
         .set ("welcome_message", phase.welcomeMessage)
         .set ("welcome_url", phase.welcomeUrl)
         .set ("welcome_message_title", phase.welcomeTitle)
         .set ("delay_options", delays);
        return r;
    }

    /** The scenario's content for one device, with descriptors for what the device lacks. Slots that differ from
        what the server wants go into mismatchedSlots, whether or not a descriptor was sent for them. */
    juce::var fullReply (const Scenario& sc, const DeviceRecord& dev, const juce::var& request, const Report& report,
                         juce::StringArray& sentSlots, int& mismatchedSlots, bool& sentFirmware)
    {
        Obj reply;
        reply.set ("status", "ok").set ("UID", report.uid).set ("web_app_url", sc.webAppUrl);

        if (! sc.appUpdate.isVoid())
            reply.set ("app_update", sc.appUpdate);

        reply.set ("last_rtc", dev.newestRtc >= 0 ? juce::var (dev.newestRtc) : juce::var (sc.initialLastRtc));

        if (sc.sendProgramChoices)
        {
            Obj choices;
            for (int g = 0; g < groupCount; ++g)
            {
                juce::Array<juce::var> list;
                for (auto& c : sc.programChoices[(size_t) g])
                    list.add (Obj().set ("config_id", c.configId).set ("name", c.name)
                                   .set ("description", c.description).set ("freq_files", c.freqFiles));
                choices.set (groupKeys[g], list);
            }
            reply.set ("program_choices", choices);
        }

        if (sc.sendRegimen)
            reply.set ("regimen", regimenObject (sc, dev));

        juce::Array<juce::var> packages;
        for (auto& p : sc.packages)
            packages.add (Obj().set ("package_id", p.packageId).set ("is_current", p.packageId == dev.currentPackageId ? 1 : 0)
                               .set ("brand_name", p.brandName).set ("presentation_name", p.presentationName)
                               .set ("brand_logo", p.brandLogo).set ("brand_icon", p.brandIcon));
        reply.set ("packages_list", packages);

        Obj limits;
        for (int g = 0; g < groupCount; ++g)
        {
            auto& l = sc.limits[(size_t) g];
            limits.set (groupKeys[g], Obj().set ("brightness", Obj().set ("min", l.brightnessMin).set ("max", l.brightnessMax)
                                                                    .set ("start", l.brightnessStart))
                                           .set ("duration", Obj().set ("min", l.durationMin).set ("max", l.durationMax)
                                                                  .set ("start", l.durationStart)));
        }
        reply.set ("limits", limits);

        if (sc.sendRunParameters)
        {
            Obj run;
            for (int g = 0; g < groupCount; ++g)
            {
                auto& p = dev.runParameters[(size_t) g];
                run.set (runParameterKeys[g], juce::Array<juce::var> { Obj().set ("brightness", p.brightness)
                                                                            .set ("duration", p.duration) });
            }
            reply.set ("program_run_parameters", run);
        }

        auto& poll = sc.polling;
        reply.set ("polling", Obj().set ("polling_interval_fast", poll.intervalFast)
                                   .set ("polling_interval_slow", poll.intervalSlow)
                                   .set ("fast_polling_duration", poll.fastDuration)
                                   .set ("slow_polling_duration", poll.slowDuration)
                                   .set ("reset_polling_window", poll.resetWindow));
        reply.set ("filler", Obj().set ("filler_link", sc.fillerLink).set ("filler_image", sc.fillerImage)
                                  .set ("filler_text", sc.fillerText));
        reply.set ("weak_battery_threshold", sc.weakBatteryThreshold);

        if (! sc.treatmentType.isVoid())
            reply.set ("treatment_type", sc.treatmentType);

        reply.set ("help_url", sc.helpUrl).set ("help_button_tooltip", sc.helpButtonTooltip)
             .set ("view_type", sc.viewType).set ("webapp_link_text", sc.webappLinkText);

        // Frequency files: every slot whose reported program or version differs from the wanted one. A slot the
        // request leaves out (or reports under the wrong key) counts as empty.
        auto highKeys = report.firmware.usesHighSlotKeys();
        auto wanted = wantedCodes (sc, dev, report);
        auto slots = request["slots"];
        Obj updates;

        for (int s = 0; s < slotCount; ++s)
        {
            auto key = slotKey (s, highKeys);
            auto reported = slots[juce::Identifier (key)];
            auto want = programFor (sc, wanted[(size_t) s]);
            auto code = isJsonObject (reported) ? toInt (reported["program_code"], 0) : 0;
            auto major = isJsonObject (reported) ? toInt (reported["version_major"], 0) : 0;
            auto minor = isJsonObject (reported) ? toInt (reported["version_minor"], 0) : 0;

            if (code == want.code && major == want.versionMajor && minor == want.versionMinor)
                continue;

            ++mismatchedSlots;

            if (want.code == 0 && sc.emptySlotsByForcedUpdate && sc.regimen.forceUpdate)
                continue;

            Obj d;
            d.set ("program_code", juce::String (want.code));
            if (want.code != 0)
                d.set ("file_data", encodeBase64 (LocalWebApi::programFile (want.code), sc.base64LineBreaks));
            d.set ("program_name", want.name)
             .set ("version_major", juce::String (want.versionMajor))
             .set ("version_minor", juce::String (want.versionMinor));
            updates.set (key.toRawUTF8(), d);
            sentSlots.add (key);
        }
        reply.set ("frequency_updates", updates);

        // Firmware only to a device that said which version it runs: never flash on a guess.
        juce::Array<juce::var> firmware;
        auto& fw = sc.wantedFirmware;

        if (report.hasFirmware && report.firmware < fw)
        {
            firmware.add (Obj().set ("file_data", encodeBase64 (LocalWebApi::firmwareImage (fw.major, fw.minor, fw.tertiary),
                                                                sc.base64LineBreaks))
                               .set ("version_major", juce::String (fw.major))
                               .set ("version_minor", juce::String (fw.minor))
                               .set ("version_tertiary", juce::String (fw.tertiary)));
            sentFirmware = true;
        }
        reply.set ("firmware_updates", firmware);

        reply.set ("server_time", sc.serverTime != 0 ? sc.serverTime : juce::Time::currentTimeMillis() / 1000);

        if (auto* extra = isJsonObject (sc.extraKeys) ? sc.extraKeys.getDynamicObject() : nullptr)
            for (auto& nv : extra->getProperties())
                reply.o->setProperty (nv.name, nv.value);

        return reply;
    }

    std::string toJson (const juce::var& v)
    {
        return juce::JSON::toString (v, true).toStdString();
    }

    juce::String describeRequest (const RecordedRequest& r)
    {
        auto& json = r.json;
        if (! isJsonObject (json))
            return r.rawBody.empty() ? "empty" : "not JSON";

        auto report = readReport (json);
        juce::String s ("uid=" + report.uid);
        s << " fw=" << (report.hasFirmware ? versionText (report.firmware) : juce::String ("?"));

        if (auto* slots = json["slots"].getDynamicObject())
            s << " slots=" << slots->getProperties().size();
        if (report.allowNochange)
            s << " allow_nochange";
        if (json.hasProperty ("update_program_choices"))
            s << " +choices";
        if (json.hasProperty ("update_package_choice"))
            s << " +package=" << json["update_package_choice"].toString();
        if (auto* logs = json["logs"].getDynamicObject())
            s << " +logs(" << logs->getProperties().size() << ")";
        if (json.hasProperty ("app_slot_program_values"))
        {
            // Brightness/duration per run-parameter group, as the device's settings record holds them.
            s << " +slot_values(";
            const auto& values = json["app_slot_program_values"];
            for (auto* key : { "purple", "blue", "orange" })
                s << (key[0] == 'p' ? "" : " ") << key << "=" << values[key]["brightness"].toString() << "/"
                  << values[key]["duration"].toString();
            s << ")";
        }
        if (delayText (json) != "-1")
            s << " +delay=" << delayText (json);
        return s;
    }
} // namespace

//==============================================================================
std::optional<ReplyMode> ReplyMode::parse (const juce::String& option)
{
    auto name = option.upToFirstOccurrenceOf (":", false, false).trim().toLowerCase();
    auto hasArg = option.containsChar (':');
    auto arg = option.fromFirstOccurrenceOf (":", false, false);
    auto number = [&] (int fallback) { return hasArg ? arg.trim().getIntValue() : fallback; };
    auto numericArg = ! hasArg || (arg.trim().isNotEmpty() && arg.trim().containsOnly ("0123456789"));

    using K = Kind;
    struct Entry { const char* name; K kind; };
    const Entry plain[] { { "normal", K::normal }, { "uid-mismatch", K::uidMismatch }, { "empty", K::emptyBody },
                          { "drop", K::drop }, { "html", K::htmlBody }, { "http500", K::serverError }, { "junk", K::junkBeforeJson } };

    for (auto& e : plain)
        if (name == e.name)
            return hasArg ? std::nullopt : std::optional<ReplyMode> (of (e.kind));

    if (name == "error")        return error (arg);
    if (name == "warn")         return warn (arg, true);
    if (name == "warn-no-uid")  return warn (arg, false);
    if (name == "raw" && hasArg) return raw (arg);
    if (name == "redirect-to" && arg.isNotEmpty()) return redirectTo (arg);

    if (! numericArg)
        return std::nullopt;

    if (name == "redirect")     return redirectChain (number (2));
    if (name == "stall")        return stall (number (30000));

    if (name == "oversized" || name == "deep")
    {
        auto m = of (name == "deep" ? K::deepNesting : K::oversized);
        m.size = number (0);
        return m;
    }

    return std::nullopt;
}

//==============================================================================
LocalWebApi::LocalWebApi()
    : content (defaultScenario())
{
}

LocalWebApi::~LocalWebApi()
{
    stop();
}

int LocalWebApi::start (int requestedPort)
{
    if (isRunning())
        return port();

    auto srv = std::make_unique<httplib::Server>();

    // Every answer closes its connection, so stop() never waits for an idle keep-alive connection.
    srv->set_keep_alive_max_count (1);
    srv->set_keep_alive_timeout (1);
    srv->set_read_timeout (5, 0);
    srv->set_write_timeout (5, 0);
    srv->set_payload_max_length (maxRequestBytes);

    // httplib decodes form bodies (refusing those over 8 KB) and parses multipart bodies by their Content-Type.
    // The client's content type is moved to a header of our own first, so the handler gets the raw body whatever
    // the client declared. The request object is httplib's own non-const local, so the cast is sound.
    srv->set_pre_routing_handler ([] (const httplib::Request& req, httplib::Response&)
    {
        auto& mutableRequest = const_cast<httplib::Request&> (req);

        if (mutableRequest.has_header ("Content-Type"))
        {
            auto type = mutableRequest.get_header_value ("Content-Type");
            mutableRequest.headers.erase ("Content-Type");
            mutableRequest.headers.emplace (originalContentTypeHeader, type);
        }

        return httplib::Server::HandlerResponse::Unhandled;
    });

    auto handler = [this] (const httplib::Request& req, httplib::Response& res) { handle (req, res); };
    srv->Post (routePattern, handler);
    srv->Get (routePattern, handler);
    srv->Get (webAppPath, [this] (const httplib::Request&, httplib::Response& res)
    {
        res.set_content (webAppPage, "text/html; charset=utf-8");

        std::function<void (const juce::String&)> logger;
        {
            std::lock_guard<std::mutex> lock (mutex);
            logger = requestLogger;
        }
        if (logger)
            logger (juce::String ("GET ") + webAppPath);
    });
    if (imagesFolder.isDirectory())
        srv->set_mount_point (imagesPath, imagesFolder.getFullPathName().toStdString());

    auto bound = requestedPort == 0 ? srv->bind_to_any_port (host)
                                    : (srv->bind_to_port (host, requestedPort) ? requestedPort : -1);
    if (bound <= 0)
        return 0;

    {
        std::lock_guard<std::mutex> lock (mutex);
        stopping = false;
        running = true;
        boundPort = bound;
    }

    server = std::move (srv);
    serverThread = std::thread ([s = server.get()] { s->listen_after_bind(); });

    // httplib's stop() does nothing until the accept loop runs: wait for it, so that stop() cannot hang.
    auto deadline = juce::Time::getMillisecondCounter() + (juce::uint32) startTimeoutMs;

    while (! server->is_running() && juce::Time::getMillisecondCounter() < deadline)
        std::this_thread::sleep_for (std::chrono::milliseconds (1));

    if (! server->is_running())
    {
        stop();
        return 0;
    }

    return bound;
}

void LocalWebApi::stop()
{
    {
        std::lock_guard<std::mutex> lock (mutex);
        if (! running)
            return;
        stopping = true;
    }

    changed.notify_all();   // wakes stalled requests

    if (server != nullptr)
        server->stop();

    if (serverThread.joinable())
        serverThread.join();

    server.reset();

    std::lock_guard<std::mutex> lock (mutex);
    running = false;
    boundPort = 0;
}

bool LocalWebApi::isRunning() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return running;
}

int LocalWebApi::port() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return boundPort;
}

juce::String LocalWebApi::url() const
{
    return urlForPath ("/device/");
}

juce::String LocalWebApi::urlForPath (const juce::String& path) const
{
    return "http://" + juce::String (host) + ":" + juce::String (port()) + path;
}

juce::String LocalWebApi::webAppUrl() const
{
    return urlForPath (webAppPath);
}

void LocalWebApi::setImagesFolder (const juce::File& folder)
{
    imagesFolder = folder;
}

juce::String LocalWebApi::imageUrl (const juce::String& fileName) const
{
    return urlForPath (juce::String (imagesPath) + "/" + fileName);
}

void LocalWebApi::setRequestLogger (std::function<void (const juce::String&)> logger)
{
    std::lock_guard<std::mutex> lock (mutex);
    requestLogger = std::move (logger);
}

//==============================================================================
void LocalWebApi::setScenario (const Scenario& scenario)
{
    auto copy = scenario;
    // Deep copies, so that a caller changing its own vars later cannot touch what the server threads read.
    copy.extraKeys = scenario.extraKeys.clone();
    copy.treatmentType = scenario.treatmentType.clone();
    copy.appUpdate = scenario.appUpdate.clone();

    std::lock_guard<std::mutex> lock (mutex);
    content = std::move (copy);
    ++generation;

    for (auto& d : devices)
        resetDevice (d.second.record);
}

Scenario LocalWebApi::scenario() const
{
    std::lock_guard<std::mutex> lock (mutex);
    auto copy = content;
    copy.extraKeys = content.extraKeys.clone();
    copy.treatmentType = content.treatmentType.clone();
    copy.appUpdate = content.appUpdate.clone();
    return copy;
}

juce::Result LocalWebApi::applyOverrides (Scenario& scenario, const juce::var& json)
{
    auto* obj = isJsonObject (json) ? json.getDynamicObject() : nullptr;

    if (obj == nullptr)
        return juce::Result::fail ("a scenario must be a JSON object");

    auto extra = isJsonObject (scenario.extraKeys) ? scenario.extraKeys.clone() : juce::var (new juce::DynamicObject());

    for (auto& nv : obj->getProperties())
    {
        auto key = nv.name.toString();

        if (key == "wanted_firmware")
        {
            auto version = parseVersionText (nv.value.toString());
            if (! version)
                return juce::Result::fail ("wanted_firmware must look like \"1.2.0\"");
            scenario.wantedFirmware = *version;
        }
        else if (key == "wanted_slots")
        {
            auto* codes = nv.value.getArray();
            if (codes == nullptr || codes->size() != slotCount)
                return juce::Result::fail ("wanted_slots must be an array of six program codes");
            for (int s = 0; s < slotCount; ++s)
                scenario.wantedSlotCodes[(size_t) s] = toInt ((*codes)[s], 0);
        }
        else if (key == "base64_line_breaks")
        {
            scenario.base64LineBreaks = (bool) nv.value;
        }
        else
        {
            extra.getDynamicObject()->setProperty (nv.name, nv.value.clone());
        }
    }

    scenario.extraKeys = extra;
    return juce::Result::ok();
}

//==============================================================================
void LocalWebApi::setMode (const ReplyMode& mode)
{
    std::lock_guard<std::mutex> lock (mutex);
    permanentMode = mode;
    queuedModes.clear();
}

void LocalWebApi::pushMode (const ReplyMode& mode, int count)
{
    if (count <= 0)
        return;

    std::lock_guard<std::mutex> lock (mutex);
    queuedModes.emplace_back (mode, count);
}

void LocalWebApi::clearModes()
{
    setMode (ReplyMode());
}

ReplyMode LocalWebApi::takeMode()
{
    if (queuedModes.empty())
        return permanentMode;

    auto mode = queuedModes.front().first;

    if (--queuedModes.front().second <= 0)
        queuedModes.pop_front();

    return mode;
}

//==============================================================================
std::vector<RecordedRequest> LocalWebApi::requests() const
{
    std::lock_guard<std::mutex> lock (mutex);
    return { recorded.begin(), recorded.end() };
}

std::optional<RecordedRequest> LocalWebApi::lastRequest() const
{
    std::lock_guard<std::mutex> lock (mutex);
    if (recorded.empty())
        return std::nullopt;
    return recorded.back();
}

void LocalWebApi::clearRequests()
{
    std::lock_guard<std::mutex> lock (mutex);
    recorded.clear();
    requestCount = 0;
}

bool LocalWebApi::waitForRequests (int count, int timeoutMs) const
{
    std::unique_lock<std::mutex> lock (mutex);
    return changed.wait_for (lock, std::chrono::milliseconds (juce::jmax (0, timeoutMs)),
                             [&] { return requestCount >= count; });
}

std::optional<DeviceRecord> LocalWebApi::device (const juce::String& uid) const
{
    std::lock_guard<std::mutex> lock (mutex);
    auto it = devices.find (uid);
    if (it == devices.end())
        return std::nullopt;

    auto copy = it->second.record;
    copy.slotProgramValues = copy.slotProgramValues.clone();
    return copy;
}

//==============================================================================
std::vector<uint8_t> LocalWebApi::programFile (int code)
{
    std::vector<uint8_t> data ((size_t) fileSize);
    fillPseudoRandom (data, 0, 0x4f4c564f00000000ULL ^ (uint64_t) (uint32_t) code);
    return data;
}

std::vector<uint8_t> LocalWebApi::firmwareImage (int major, int minor, int tertiary)
{
    constexpr size_t headerSize = 8;
    std::vector<uint8_t> data ((size_t) fileSize);
    FirmwareImageHeader::write (data.data(), major, minor, tertiary);
    fillPseudoRandom (data, headerSize, 0x4f4c465700000000ULL ^ ((uint64_t) (major & 0xff) << 24)
                                                              ^ ((uint64_t) (minor & 0xff) << 16)
                                                              ^ (uint64_t) (tertiary & 0xffff));
    return data;
}

//==============================================================================
Scenario LocalWebApi::defaultScenario()
{
    Scenario sc;

    sc.programChoices[multi] = {
        { 201, "Multi Balance", "Alternating red and near-infrared for all-round sessions.", "21,22" },
        { 202, "Multi Recovery", "Longer, gentler sessions after exercise.", "23,24" },
    };
    sc.programChoices[bright] = {
        { 101, "Bright Calm", "Low steady brightness for the evening.", "12,13" },
        { 102, "Bright Focus", "A brisk morning program.", "14,15" },
        { 103, "Bright Single", "One file for both halves.", "16" },
    };
    sc.programChoices[orange] = {
        { 301, "Orange Warmth", "Warm light for relaxing sessions.", "31,32" },
    };

    sc.limits[multi] = { 1, 10, 5, 1, 60, 20 };
    sc.limits[bright] = { 1, 10, 6, 1, 120, 30 };
    sc.limits[orange] = { 1, 4, 2, 1, 9999, 45 };
    sc.runParameters = { RunParameters { 5, 20 }, RunParameters { 6, 30 }, RunParameters { 2, 45 } };
    sc.polling = { 60, 3600, 600, 86400, 0 };

    sc.regimen.name = "Four-week starter plan";
    sc.regimen.phases = {
        { "Getting started", 7, "Week one is done: time to move on.", "Ready for week two?",
          "Welcome to your starter plan.", "https://app.olvo.example/welcome/1", "Welcome" },
        { "Building up", 14, "Two more weeks done.", "Move on to the maintenance phase?",
          "Phase two adds an evening session.", "https://app.olvo.example/welcome/2", "Phase 2: Building up" },
        { "Maintenance", 30, "", "",
          "You have reached the maintenance phase.", "https://app.olvo.example/welcome/3", "" },
    };
    sc.regimen.currentPhase = 1;
    sc.regimen.currentPhaseRemaining = 2;
    sc.regimen.readyToAdvance = false;
    sc.regimen.forceUpdate = false;
    sc.regimen.delayOptions = { { "1", "1 day" }, { "7", "1 week" } };

    sc.packages = {
        { 11, "Olvo", "Starter package", "https://cdn.olvo.example/logo-starter.png",
          "https://cdn.olvo.example/icon-starter.png" },
        { 12, "Olvo", "Sports package", "https://cdn.olvo.example/logo-sports.png",
          "https://cdn.olvo.example/icon-sports.png" },
    };
    sc.currentPackageId = 11;

    sc.programs = {
        { 12, "Calm A", 1, 2 }, { 13, "Calm B", 1, 2 }, { 14, "Focus A", 1, 0 }, { 15, "Focus B", 1, 0 },
        { 16, "Single", 1, 0 }, { 21, "Balance A", 2, 1 }, { 22, "Balance B", 2, 1 }, { 23, "Recovery A", 1, 0 },
        { 24, "Recovery B", 1, 0 }, { 31, "Warmth A", 1, 0 }, { 32, "Warmth B", 1, 0 },
    };
    sc.wantedSlotCodes = { 12, 13, 31, 32, 21, 22 };
    sc.wantedFirmware = { 1, 2, 0 };

    sc.helpUrl = "https://help.olvo.example/assistant";
    sc.helpButtonTooltip = "Help with your device";
    sc.webAppUrl = "https://app.olvo.example/";
    sc.viewType = "webview";
    sc.webappLinkText = "Open the Olvo web app";
    sc.fillerLink = "https://app.olvo.example/tips";
    sc.fillerImage = "https://cdn.olvo.example/tips.png";
    sc.fillerText = "Tip: sessions work best at the same time every day.";
    sc.weakBatteryThreshold = "0.3";
    sc.extraKeys = juce::var (new juce::DynamicObject());
    return sc;
}

void LocalWebApi::resetDevice (DeviceRecord& r) const
{
    r.chosenConfigIds = { -1, -1, -1 };
    r.currentPackageId = content.currentPackageId;
    r.currentPhase = content.regimen.currentPhase;
    r.currentPhaseRemaining = content.regimen.currentPhaseRemaining;
    r.readyToAdvance = content.regimen.readyToAdvance;
    r.justAdvancedPending = false;
    r.lastAdvancementDelay = {};
    r.runParameters = content.runParameters;
}

LocalWebApi::DeviceState& LocalWebApi::deviceFor (const juce::String& uid)
{
    auto it = devices.find (uid);

    if (it == devices.end())
    {
        it = devices.emplace (uid, DeviceState()).first;
        resetDevice (it->second.record);
    }

    return it->second;
}

//==============================================================================
RecordedRequest LocalWebApi::makeRecord (const httplib::Request& req) const
{
    RecordedRequest r;
    r.method = req.method;
    r.path = req.path;
    r.contentType = req.get_header_value (originalContentTypeHeader);
    r.rawBody = req.body;

    auto size = (int) req.body.size();

    if (size > 0 && juce::CharPointer_UTF8::isValidString (req.body.data(), size)
          && std::find (req.body.begin(), req.body.end(), '\0') == req.body.end())
        r.body = juce::String::fromUTF8 (req.body.data(), size);

    if (r.body.isNotEmpty() && nestingWithin (req.body, maxRequestNesting))
    {
        juce::var parsed;
        if (juce::JSON::parse (r.body, parsed).wasOk())
            r.json = parsed;
    }

    return r;
}

bool LocalWebApi::applyRequest (DeviceState& state, const juce::var& request)
{
    auto& dev = state.record;
    bool any = false;

    if (auto* choices = isJsonObject (request["update_program_choices"]) ? request["update_program_choices"].getDynamicObject()
                                                                         : nullptr)
    {
        for (int g = 0; g < groupCount; ++g)
        {
            if (choices->hasProperty (groupKeys[g]))
            {
                dev.chosenConfigIds[(size_t) g] = toInt (choices->getProperty (groupKeys[g]), -1);
                any = true;
            }
        }
    }

    if (request.hasProperty ("update_package_choice"))
    {
        auto id = toInt (request["update_package_choice"], -1);

        for (auto& p : content.packages)
            if (p.packageId == id)
                dev.currentPackageId = id;
        any = true;
    }

    auto delay = delayText (request);

    if (delay != "-1")
    {
        dev.lastAdvancementDelay = delay;
        auto phaseCount = (int) content.regimen.phases.size();

        if (delay == "0")
        {
            if (dev.currentPhase < phaseCount)
            {
                ++dev.currentPhase;
                dev.currentPhaseRemaining = content.regimen.phases[(size_t) dev.currentPhase - 1].durationTotal;
                dev.readyToAdvance = false;
                dev.justAdvancedPending = true;
            }
        }
        else if (toInt (juce::var (delay), 0) > 0)
        {
            dev.readyToAdvance = false;     // postponed
        }

        any = true;
    }

    if (auto* logs = isJsonObject (request["logs"]) ? request["logs"].getDynamicObject() : nullptr)
    {
        int taken = 0;

        for (auto& nv : logs->getProperties())
        {
            if (++taken > maxLogEntriesPerRequest)
                break;

            auto& e = nv.value;
            if (! isJsonObject (e))
                continue;

            UsageLogEntry entry { toInt64 (e["rtc"], 0), toInt64 (e["timestamp"], 0), e["type"].toString(),
                                  toInt (e["num"], 0), toInt (e["prog_id"], 0) };

            // The client sends again every entry at or after "last_rtc", so the newest one comes back each time.
            if (std::find (dev.logs.begin(), dev.logs.end(), entry) == dev.logs.end()
                  && dev.logs.size() < maxStoredLogEntries)
                dev.logs.push_back (entry);

            dev.newestRtc = juce::jmax (dev.newestRtc, entry.rtc);
        }

        any = true;
    }

    if (request.hasProperty ("app_slot_program_values"))
    {
        const auto& values = request["app_slot_program_values"];
        dev.slotProgramValues = values.clone();

        // As a real server: what the device reports becomes what the server holds and hands out again.
        for (int g = 0; g < groupCount; ++g)
        {
            const auto& reported = values[runParameterKeys[g]];
            auto& run = dev.runParameters[(size_t) g];
            if (reported.hasProperty ("brightness"))
                run.brightness = toInt (reported["brightness"], run.brightness);
            if (reported.hasProperty ("duration"))
                run.duration = toInt (reported["duration"], run.duration);
        }

        any = true;
    }

    return any;
}

LocalWebApi::Reply LocalWebApi::composeContent (const RecordedRequest& record, const ReplyMode& mode)
{
    using K = ReplyMode::Kind;
    Reply reply;
    auto report = readReport (record.json);
    auto& state = deviceFor (report.uid);
    applyRequest (state, record.json);

    juce::StringArray sentSlots;
    int mismatchedSlots = 0;
    bool sentFirmware = false;
    auto full = fullReply (content, state.record, record.json, report, sentSlots, mismatchedSlots, sentFirmware);
    bool unchanged = mismatchedSlots == 0 && ! sentFirmware && ! report.carriesUpdates
                  && state.hadFullReply && state.repliedGeneration == generation;

    if (mode.kind == K::normal && report.allowNochange && unchanged)
    {
        ++state.record.nochangeReplies;
        reply.body = toJson (Obj().set ("status", "nochange"));
        reply.summary = "nochange";
        return reply;
    }

    auto* obj = full.getDynamicObject();
    reply.summary = "full";

    if (mode.kind == K::redirect)
    {
        juce::String target = mode.text;

        if (target.isEmpty())
        {
            auto hop = record.path.startsWith ("/device/r") ? record.path.substring (9).getIntValue() : 0;

            if (hop < juce::jlimit (0, maxRedirectHops, mode.hops))
                target = "http://" + juce::String (host) + ":" + juce::String (boundPort)
                       + "/device/r" + juce::String (hop + 1) + "/";
        }

        if (target.isNotEmpty())
        {
            obj->setProperty ("api_url", target);
            reply.summary << " -> " << target;
        }
    }
    else if (mode.kind == K::uidMismatch)
    {
        auto other = report.uid.toUpperCase();
        obj->setProperty ("UID", other != report.uid ? other : "X" + report.uid);
        reply.summary << " with a wrong UID";
    }
    else if (mode.kind == K::oversized)
    {
        auto size = juce::jlimit (0, maxReplyPadding, mode.size > 0 ? mode.size : defaultOversizedBytes);
        obj->setProperty ("padding", juce::String (std::string ((size_t) size, 'x')));
        reply.summary << ", oversized";
    }

    if (sentSlots.size() > 0)
        reply.summary << " (slots " << sentSlots.joinIntoString (",") << ")";
    if (sentFirmware)
        reply.summary << " (firmware " << versionText (content.wantedFirmware) << ")";

    reply.body = (mode.kind == K::junkBeforeJson ? "xx" : "") + toJson (full);

    state.record.justAdvancedPending = false;
    state.hadFullReply = true;
    state.repliedGeneration = generation;
    ++state.record.fullReplies;
    return reply;
}

LocalWebApi::Reply LocalWebApi::compose (const RecordedRequest& record, const ReplyMode& mode)
{
    using K = ReplyMode::Kind;
    Reply reply;
    auto uid = record.json["UID"].toString();
    auto text = [&] (const char* fallback) { return mode.text.isNotEmpty() ? mode.text : juce::String (fallback); };

    switch (mode.kind)
    {
        case K::normal:
        case K::uidMismatch:
        case K::redirect:
        case K::oversized:
        case K::junkBeforeJson:
        case K::stall:
            reply = composeContent (record, mode.kind == K::stall ? ReplyMode() : mode);
            break;

        case K::error:
            reply.body = toJson (Obj().set ("status", "error").set ("message", text ("This device is not registered."))
                                      .set ("web_app_url", content.webAppUrl));
            reply.summary = "error";
            break;

        case K::warn:
        case K::warnWithoutUid:
        {
            Obj warn;
            warn.set ("warn", Obj().set ("message", text ("Your subscription ends soon.")));
            if (mode.kind == K::warn)
                warn.set ("UID", uid);
            reply.body = toJson (warn);
            reply.summary = mode.kind == K::warn ? "warn" : "warn without UID";
            break;
        }

        case K::emptyBody:
            reply.summary = "empty body";
            break;

        case K::drop:
            reply.abort = true;
            reply.summary = "dropped";
            break;

        case K::htmlBody:
            reply.status = 502;
            reply.contentType = "text/html";
            reply.body = "<!DOCTYPE html>\n<html><head><title>502 Bad Gateway</title></head>"
                         "<body><h1>Bad Gateway</h1><p>The upstream server did not answer.</p></body></html>\n";
            reply.summary = "HTML page";
            break;

        case K::serverError:
            reply.status = 500;
            reply.body = toJson (Obj().set ("status", "error").set ("message", text ("Internal server error")));
            reply.summary = "HTTP 500";
            break;

        case K::deepNesting:
            reply.body.assign ((size_t) juce::jlimit (1, maxReplyPadding, mode.size > 0 ? mode.size
                                                                                       : defaultDeepNestingBytes), '[');
            reply.summary = "deeply nested";
            break;

        case K::raw:
            reply.body = mode.text.toStdString();
            reply.summary = "raw";
            break;
    }

    if (mode.httpStatus > 0)
        reply.status = mode.httpStatus;

    return reply;
}

void LocalWebApi::handle (const httplib::Request& req, httplib::Response& res)
{
    auto record = makeRecord (req);
    Reply reply;
    std::function<void (const juce::String&)> logger;

    {
        std::unique_lock<std::mutex> lock (mutex);
        logger = requestLogger;

        auto store = [&] (const juce::String& summary)
        {
            record.reply = summary;
            recorded.push_back (record);
            if ((int) recorded.size() > maxRecordedRequests)
                recorded.pop_front();
            ++requestCount;
            changed.notify_all();
        };

        if (stopping)
        {
            reply.abort = true;
            reply.summary = "dropped: stopping";
        }
        else if (record.method != "POST")
        {
            reply.status = 405;
            reply.contentType = "text/plain";
            reply.summary = "refused: not a POST";
            store (reply.summary);
        }
        else
        {
            auto mode = takeMode();

            if (mode.kind == ReplyMode::Kind::stall)
            {
                // Recorded first, so that a test can wait for the request and then stop the server.
                store ("stall");
                auto limit = std::chrono::milliseconds (juce::jlimit (0, maxStallMs, mode.limitMs));
                changed.wait_for (lock, limit, [this] { return stopping; });

                if (stopping)
                {
                    reply.abort = true;
                    reply.summary = "stall ended by stop";
                }
                else
                {
                    reply = compose (record, mode);
                    reply.summary = "stall, then " + reply.summary;
                }
            }
            else
            {
                reply = compose (record, mode);
                store (reply.summary);
            }
        }
    }

    if (logger)
        logger (record.method + " " + record.path + " " + juce::String ((juce::int64) record.rawBody.size())
                + " bytes " + describeRequest (record) + " -> " + reply.summary);

    if (reply.abort)
    {
        // Headers go out, then the body provider fails: the client sees a broken reply, not an answer.
        res.set_content_provider (1, "application/json", [] (size_t, size_t, httplib::DataSink&) { return false; });
        return;
    }

    res.status = reply.status;
    res.set_content (reply.body, reply.contentType.c_str());
}

} // namespace olvo::sim
