#pragma once

#include <juce_core/juce_core.h>

#include <array>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib
{
class Server;
struct Request;
struct Response;
} // namespace httplib

namespace olvo::sim
{

//==============================================================================
/** A firmware version as the device reports it (major.minor.tertiary). */
struct FirmwareVersion
{
    int major = 0, minor = 0, tertiary = 0;

    /** True for firmware that keys slots 2 and 3 as "7" and "8": major above 1, or 1 with minor above 1. */
    bool usesHighSlotKeys() const noexcept      { return major > 1 || (major == 1 && minor > 1); }

    bool operator< (const FirmwareVersion& o) const noexcept
    {
        return major != o.major ? major < o.major : (minor != o.minor ? minor < o.minor : tertiary < o.tertiary);
    }
    bool operator== (const FirmwareVersion& o) const noexcept
    {
        return major == o.major && minor == o.minor && tertiary == o.tertiary;
    }
};

/** One selectable program of a group ("multi", "bright" or "orange"). */
struct ProgramChoice
{
    int configId = 0;
    juce::String name, description;
    juce::String freqFiles;     ///< program codes of the group's two slots, e.g. "12,13"
};

/** Brightness and duration bounds of one group. */
struct GroupLimits
{
    int brightnessMin = 1, brightnessMax = 10, brightnessStart = 5;
    int durationMin = 1, durationMax = 9999, durationStart = 30;
};

/** Run parameters of one group, as the server asks the device to use them. */
struct RunParameters
{
    int brightness = 5, duration = 30;
};

/** The polling schedule the server hands out (seconds). */
struct PollingSchedule
{
    int intervalFast = 60, intervalSlow = 3600, fastDuration = 600, slowDuration = 86400, resetWindow = 0;
};

/** A frequency-program file the server can send: its code, display name and version. */
struct ProgramFile
{
    int code = 0;
    juce::String name;
    int versionMajor = 1, versionMinor = 0;
};

/** One phase of a treatment regimen with the texts shown around it. */
struct RegimenPhase
{
    juce::String name;
    int durationTotal = 0;                      ///< days
    juce::String advancementMessage, advancementTitle;
    juce::String welcomeMessage, welcomeUrl, welcomeTitle;
};

/** A treatment regimen: phases, the current one (1-based) and the delay choices for postponing an advance. */
struct Regimen
{
    juce::String name;
    std::vector<RegimenPhase> phases;
    int currentPhase = 1;
    int currentPhaseRemaining = 0;
    bool readyToAdvance = false, forceUpdate = false;
    std::vector<std::pair<juce::String, juce::String>> delayOptions;   ///< value (e.g. "7") and text ("1 week")
};

/** An entry of the package list. */
struct Package
{
    int packageId = 0;
    juce::String brandName, presentationName, brandLogo, brandIcon;
};

//==============================================================================
/** What the server offers: the content of its replies and what it wants on the device. Change a copy of
    LocalWebApi::defaultScenario() and hand it to LocalWebApi::setScenario. Groups are indexed multi, bright,
    orange; run parameters purple, blue, orange. */
struct Scenario
{
    std::array<std::vector<ProgramChoice>, 3> programChoices;
    bool sendProgramChoices = true;             ///< false leaves "program_choices" out
    std::array<GroupLimits, 3> limits;
    bool sendRunParameters = true;              ///< false leaves "program_run_parameters" out
    std::array<RunParameters, 3> runParameters;
    PollingSchedule polling;
    bool sendRegimen = true;                    ///< false leaves "regimen" out
    Regimen regimen;
    std::vector<Package> packages;
    int currentPackageId = 0;

    std::vector<ProgramFile> programs;          ///< names and versions by code; unknown codes get "Program <code>" 1.0
    std::array<int, 6> wantedSlotCodes {};      ///< per device slot; 0 wants the slot empty
    bool emptySlotsByForcedUpdate = false;      ///< with the regimen's "force_update": no descriptor for a slot
                                                ///< wanted empty, the device empties it itself
    FirmwareVersion wantedFirmware;
    bool base64LineBreaks = false;              ///< "file_data" broken into lines of 76 characters (CR LF)

    int initialLastRtc = 0;                     ///< "last_rtc" before any log was uploaded
    juce::int64 serverTime = 0;                 ///< 0 sends the host's clock
    juce::String helpUrl, helpButtonTooltip, webAppUrl, viewType, webappLinkText;
    juce::String fillerLink, fillerImage, fillerText, weakBatteryThreshold;
    juce::var treatmentType, appUpdate;         ///< void leaves the key out
    juce::var extraKeys;                        ///< object: its properties are added to, or replace keys of, full replies
};

//==============================================================================
/** How the server answers. Besides normal replies, each kind is one way a server or a network can fail. */
struct ReplyMode
{
    enum class Kind
    {
        normal,             ///< the scenario's reply (or "nochange")
        error,              ///< {"status": "error", "message": text}
        warn,               ///< {"warn": {"message": text}, "UID": ...}
        warnWithoutUid,     ///< {"warn": {"message": text}}
        uidMismatch,        ///< a full reply whose "UID" is the request's in upper case
        redirect,           ///< a full reply naming "api_url": text when given, else the next hop of a chain
        emptyBody,          ///< HTTP 200 with no body
        drop,               ///< the connection breaks before the reply is whole (headers, then nothing)
        htmlBody,           ///< an HTML error page
        serverError,        ///< HTTP 500 with {"status": "error", ...}
        stall,              ///< no answer until limitMs passes (then a normal reply) or stop() is called
        oversized,          ///< a full reply padded to `size` bytes (default 8 MB)
        deepNesting,        ///< `size` bytes of "[" (default 200 KB)
        junkBeforeJson,     ///< "xx" followed by a full reply
        raw                 ///< exactly `text`
    };

    Kind kind = Kind::normal;
    juce::String text;      ///< message (error, warn), target URL (redirect), body (raw)
    int hops = 2;           ///< redirect chain length: /device/ -> /device/r1/ -> ... -> /device/r<hops>/
    int limitMs = 30000;    ///< stall limit
    int size = 0;           ///< body size for oversized / deepNesting; 0 takes the default
    int httpStatus = 0;     ///< 0 takes the kind's own status

    static ReplyMode of (Kind k)                                    { ReplyMode m; m.kind = k; return m; }
    static ReplyMode error (juce::String message)                   { auto m = of (Kind::error); m.text = std::move (message); return m; }
    static ReplyMode warn (juce::String message, bool withUid = true)
    {
        auto m = of (withUid ? Kind::warn : Kind::warnWithoutUid);
        m.text = std::move (message);
        return m;
    }
    static ReplyMode redirectChain (int hopCount)                   { auto m = of (Kind::redirect); m.hops = hopCount; return m; }
    static ReplyMode redirectTo (juce::String url)                  { auto m = of (Kind::redirect); m.text = std::move (url); return m; }
    static ReplyMode stall (int limitMilliseconds)                  { auto m = of (Kind::stall); m.limitMs = limitMilliseconds; return m; }
    static ReplyMode raw (juce::String body, int status = 200)
    {
        auto m = of (Kind::raw);
        m.text = std::move (body);
        m.httpStatus = status;
        return m;
    }

    /** Reads a mode from its command-line form: "normal", "error[:msg]", "warn[:msg]", "warn-no-uid[:msg]",
        "uid-mismatch", "redirect[:hops]", "redirect-to:url", "empty", "drop", "html", "http500", "stall[:ms]",
        "oversized[:bytes]", "deep[:bytes]", "junk", "raw:body". */
    static std::optional<ReplyMode> parse (const juce::String& option);
};

//==============================================================================
/** One request as the server received it. */
struct RecordedRequest
{
    juce::String method, path, contentType;     ///< contentType: the header as sent, empty when absent
    std::string rawBody;                        ///< the bytes as sent
    juce::String body;                          ///< the body as UTF-8 text (empty when not valid UTF-8)
    juce::var json;                             ///< the parsed body; void when not JSON or nested too deeply
    juce::String reply;                         ///< a short summary of what the server answered
};

/** One uploaded usage-log entry. */
struct UsageLogEntry
{
    juce::int64 rtc = 0, timestamp = 0;
    juce::String type;
    int num = 0, progId = 0;

    bool operator== (const UsageLogEntry& o) const
    {
        return rtc == o.rtc && timestamp == o.timestamp && type == o.type && num == o.num && progId == o.progId;
    }
};

/** What the server keeps about one device (by the request's "UID"). */
struct DeviceRecord
{
    std::array<int, 3> chosenConfigIds { -1, -1, -1 };  ///< multi, bright, orange; -1 when none was chosen
    int currentPackageId = 0;
    int currentPhase = 1, currentPhaseRemaining = 0;
    bool readyToAdvance = false;
    bool justAdvancedPending = false;           ///< the next full reply says "just_advanced_phase": true
    juce::String lastAdvancementDelay;          ///< the last delay other than "-1" the device sent
    std::vector<UsageLogEntry> logs;            ///< uploaded entries, duplicates dropped
    juce::int64 newestRtc = -1;                 ///< newest uploaded "rtc"; -1 before any upload
    juce::var slotProgramValues;                ///< the last "app_slot_program_values"
    std::array<RunParameters, 3> runParameters; ///< purple, blue, orange as the replies carry them: the scenario's,
                                                ///< until the device reports its own values, which are then kept
    int fullReplies = 0, nochangeReplies = 0;
};

//==============================================================================
/**
    A local stand-in for the maker's device web API, on 127.0.0.1, for the tests and the demo.

    It answers POST /device/ (and the redirect hops /device/r<N>/) from the server's side of the contract: it
    compares what the device reports with what the scenario wants and sends frequency files and firmware, reacts to
    program and package choices, log uploads and regimen decisions, and can fail in the ways a real server or
    network fails. Every request is recorded for the tests. The HTTP server runs on its own threads; all state sits
    behind one mutex, so a test thread may reconfigure it while a client posts.

    start(), stop() and the destructor belong to the owning thread; everything else may be called from any thread.
*/
class LocalWebApi
{
public:
    /** Size of every frequency file and firmware image. */
    static constexpr int fileSize = 32768;

    LocalWebApi();
    /** Stops the server. */
    ~LocalWebApi();

    //==============================================================================
    /** Listens on 127.0.0.1 (port 0 picks a free one); returns the port, or 0 when it could not listen. */
    int start (int port = 0);
    /** Stops listening, wakes stalled requests (their clients see a broken reply) and waits for the threads. */
    void stop();
    /** True between a successful start() and stop(). */
    bool isRunning() const;
    /** The port listened on, 0 when stopped. */
    int port() const;
    /** "http://127.0.0.1:<port>/device/". */
    juce::String url() const;
    /** "http://127.0.0.1:<port>" followed by path. */
    juce::String urlForPath (const juce::String& path) const;
    /** "http://127.0.0.1:<port>/app/": a small page standing in for the maker's web application, so that a window
        run against this server shows a page in its web view without the internet. */
    juce::String webAppUrl() const;
    /** Called with one line per request (on a server thread, outside the lock), "GET /app/" for the web
        application's page; set before start(). */
    void setRequestLogger (std::function<void (const juce::String&)> logger);
    /** Serves the files of a folder by GET under "/images/" (images for the replies to name, where the image hosts
        of the built-in content are not reachable); set before start(). */
    void setImagesFolder (const juce::File& folder);
    /** "http://127.0.0.1:<port>/images/" followed by a file name. */
    juce::String imageUrl (const juce::String& fileName) const;

    //==============================================================================
    /** The built-in content: three program groups, limits, a three-phase regimen, two packages, six slots. */
    static Scenario defaultScenario();
    /** Replaces the content. Device records go back to the scenario's choices, phase and run values (logs are
        kept), and the next poll of every device gets a full reply. */
    void setScenario (const Scenario& scenario);
    /** A copy of the current content. */
    Scenario scenario() const;
    /** Applies a scenario file's JSON object: "wanted_firmware" ("1.2.0"), "wanted_slots" (six codes),
        "base64_line_breaks" (bool); every other key goes into extraKeys. */
    static juce::Result applyOverrides (Scenario& scenario, const juce::var& json);

    //==============================================================================
    /** Sets the mode used whenever no counted mode is queued; clears the queue. */
    void setMode (const ReplyMode& mode);
    /** Queues a mode for the next `count` requests (after those queued before it). */
    void pushMode (const ReplyMode& mode, int count);
    /** Back to normal replies, nothing queued. */
    void clearModes();

    //==============================================================================
    /** The requests received since the last clearRequests() (the newest 1000). */
    std::vector<RecordedRequest> requests() const;
    /** The newest request, if any. */
    std::optional<RecordedRequest> lastRequest() const;
    /** Forgets the recorded requests. */
    void clearRequests();
    /** Waits until at least `count` requests arrived since clearRequests(), at most timeoutMs; true when they did. */
    bool waitForRequests (int count, int timeoutMs) const;
    /** What the server keeps about the device with this "UID". */
    std::optional<DeviceRecord> device (const juce::String& uid) const;

    //==============================================================================
    /** The frequency file for a program code: 32768 bytes, the same on every call. */
    static std::vector<uint8_t> programFile (int code);
    /** A firmware image with the version in its header and deterministic filler. */
    static std::vector<uint8_t> firmwareImage (int major, int minor, int tertiary);

private:
    struct DeviceState
    {
        DeviceRecord record;
        juce::uint64 repliedGeneration = 0;     ///< content generation of the last full reply
        bool hadFullReply = false;
    };

    struct Reply
    {
        int status = 200;
        std::string body, contentType { "application/json" };
        juce::String summary;
        bool abort = false;
    };

    void handle (const httplib::Request&, httplib::Response&);
    RecordedRequest makeRecord (const httplib::Request&) const;
    ReplyMode takeMode();
    Reply compose (const RecordedRequest&, const ReplyMode&);
    Reply composeContent (const RecordedRequest&, const ReplyMode&);
    bool applyRequest (DeviceState&, const juce::var& request);
    DeviceState& deviceFor (const juce::String& uid);
    void resetDevice (DeviceRecord&) const;

    mutable std::mutex mutex;
    mutable std::condition_variable changed;

    Scenario content;
    juce::uint64 generation = 1;
    ReplyMode permanentMode;
    std::deque<std::pair<ReplyMode, int>> queuedModes;
    std::deque<RecordedRequest> recorded;
    int requestCount = 0;
    std::map<juce::String, DeviceState> devices;
    bool stopping = false;
    bool running = false;
    int boundPort = 0;

    std::function<void (const juce::String&)> requestLogger;
    juce::File imagesFolder;
    std::unique_ptr<httplib::Server> server;
    std::thread serverThread;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (LocalWebApi)
};

} // namespace olvo::sim
