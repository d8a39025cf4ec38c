// The local device web API over real HTTP: what it records, what it answers, and how it fails on purpose.

#include "sim/FirmwareImage.h"
#include "sim/webapi/LocalWebApi.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <functional>
#include <set>
#include <thread>

namespace
{
using olvo::sim::FirmwareVersion;
using olvo::sim::LocalWebApi;
using olvo::sim::ReplyMode;
using olvo::sim::Scenario;
using Kind = ReplyMode::Kind;

constexpr const char* uidA = "000012ab:00000000:ffffffff:00000001";
constexpr const char* uidB = "00000001:00000002:00000003:0000000c";
constexpr int waitMs = 20000;

struct Slot
{
    int code = 0, major = 0, minor = 0;
};

/** What the server wants in each device slot, worked out from the scenario's own tables. */
std::array<Slot, 6> wantedSlots (const Scenario& sc)
{
    std::array<Slot, 6> slots;
    for (size_t s = 0; s < 6; ++s)
    {
        slots[s] = { sc.wantedSlotCodes[s], sc.wantedSlotCodes[s] != 0 ? 1 : 0, 0 };   // an empty slot reads 0.0
        for (auto& p : sc.programs)
            if (p.code == sc.wantedSlotCodes[s])
                slots[s] = { p.code, p.versionMajor, p.versionMinor };
    }
    return slots;
}

/** A poll request as a device would send it. */
struct DeviceReport
{
    juce::String uid { uidA };
    std::optional<FirmwareVersion> firmware { FirmwareVersion { 1, 2, 0 } };
    std::array<Slot, 6> slots = wantedSlots (LocalWebApi::defaultScenario());
    bool lowSlotKeysAlways = false;     // a client that gets the "7"/"8" keying wrong
    bool allowNochange = false;
    juce::String delay { "-1" };
    juce::DynamicObject::Ptr extra { new juce::DynamicObject() };

    std::string json() const
    {
        juce::DynamicObject::Ptr o (new juce::DynamicObject()), slotsObj (new juce::DynamicObject());
        o->setProperty ("UID", uid);
        if (allowNochange)
            o->setProperty ("allow_nochange", true);

        auto high = firmware && firmware->usesHighSlotKeys() && ! lowSlotKeysAlways;
        for (int s = 0; s < 6; ++s)
        {
            juce::DynamicObject::Ptr e (new juce::DynamicObject());
            e->setProperty ("program_code", juce::String (slots[(size_t) s].code));
            e->setProperty ("program_name", "slot " + juce::String (s));
            e->setProperty ("version_major", juce::String (slots[(size_t) s].major));
            e->setProperty ("version_minor", juce::String (slots[(size_t) s].minor));
            slotsObj->setProperty (juce::String (high && (s == 2 || s == 3) ? s + 5 : s + 1), e.get());
        }
        o->setProperty ("slots", slotsObj.get());

        if (firmware)
        {
            juce::DynamicObject::Ptr fw (new juce::DynamicObject());
            fw->setProperty ("version_major", juce::String (firmware->major));
            fw->setProperty ("version_minor", juce::String (firmware->minor));
            fw->setProperty ("version_tertiary", juce::String (firmware->tertiary));
            o->setProperty ("firmware", fw.get());
        }

        for (auto& nv : extra->getProperties())
            o->setProperty (nv.name, nv.value);
        o->setProperty ("regimen_advancement_delay", delay);
        return juce::JSON::toString (juce::var (o.get())).toStdString();
    }
};

juce::var parse (const std::string& text)
{
    return juce::JSON::parse (juce::String::fromUTF8 (text.data(), (int) text.size()));
}

juce::var object (std::initializer_list<std::pair<const char*, juce::var>> properties)
{
    juce::DynamicObject::Ptr o (new juce::DynamicObject());
    for (auto& p : properties)
        o->setProperty (p.first, p.second);
    return o.get();
}

/** Decodes Base64 the way a careful client must: whitespace stripped first, a failed decode is an empty result. */
std::vector<uint8_t> decode (const juce::String& text)
{
    juce::MemoryOutputStream out;
    if (! juce::Base64::convertFromBase64 (out, text.removeCharacters (" \t\r\n")))
        return {};
    auto* p = static_cast<const uint8_t*> (out.getData());
    return { p, p + out.getDataSize() };
}

std::set<juce::String> keysOf (const juce::var& v)
{
    std::set<juce::String> keys;
    if (auto* o = v.getDynamicObject())
        for (auto& nv : o->getProperties())
            keys.insert (nv.name.toString());
    return keys;
}

class WebApiTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_GT (api.start(), 0);
    }

    httplib::Result post (const std::string& body, const char* contentType = "application/json",
                          const std::string& path = "/device/")
    {
        httplib::Client client ("127.0.0.1", api.port());
        client.set_connection_timeout (10, 0);
        client.set_read_timeout (30, 0);
        return client.Post (path.c_str(), body, contentType);
    }

    /** httplib's client always names a content type; this request has none. Returns the whole answer. */
    std::string postWithoutContentType (const std::string& body)
    {
        juce::StreamingSocket socket;
        if (! socket.connect ("127.0.0.1", api.port(), waitMs))
            return {};

        auto request = "POST /device/ HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\nContent-Length: "
                     + std::to_string (body.size()) + "\r\n\r\n" + body;
        if (socket.write (request.data(), (int) request.size()) != (int) request.size())
            return {};

        std::string answer;
        char buffer[4096];
        for (int reads = 0; reads < 10000 && socket.waitUntilReady (true, waitMs) == 1; ++reads)
        {
            auto n = socket.read (buffer, (int) sizeof (buffer), false);
            if (n <= 0)
                break;
            answer.append (buffer, (size_t) n);
        }
        return answer;
    }

    /** Posts the report and returns the parsed reply (void when there was none). */
    juce::var poll (const DeviceReport& report, const std::string& path = "/device/")
    {
        auto res = post (report.json(), "application/json", path);
        EXPECT_TRUE (res) << "no reply from " << path;
        return res ? parse (res->body) : juce::var();
    }

    bool isNochange (const juce::var& reply)
    {
        return reply["status"].toString() == "nochange" && keysOf (reply).size() == 1;
    }

    LocalWebApi api;
};

//==============================================================================
TEST_F (WebApiTest, RecordsTheRawBodyWhateverTheContentType)
{
    // Form-encoded bodies above 8 KB and multipart bodies are what an HTTP library likes to decode or refuse.
    auto big = DeviceReport();
    big.extra->setProperty ("padding", juce::String (std::string (20000, 'a')) + "&x=1%20");

    struct Case { const char* contentType; std::string body; };
    const Case cases[] {
        { "application/json", DeviceReport().json() },
        { "application/x-www-form-urlencoded", big.json() },
        { "text/plain; charset=utf-8", DeviceReport().json() },
        { "multipart/form-data; boundary=xyz", DeviceReport().json() },
        { nullptr, DeviceReport().json() },     // no Content-Type header at all
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.contentType != nullptr ? c.contentType : "none");
        api.clearRequests();

        if (c.contentType != nullptr)
        {
            auto res = post (c.body, c.contentType);
            ASSERT_TRUE (res);
            EXPECT_EQ (res->status, 200);
            EXPECT_EQ (parse (res->body)["UID"].toString(), uidA);
        }
        else
        {
            auto answer = postWithoutContentType (c.body);
            EXPECT_EQ (answer.rfind ("HTTP/1.1 200", 0), 0u) << answer.substr (0, 100);
        }

        auto r = api.lastRequest();
        ASSERT_TRUE (r);
        EXPECT_EQ (r->method, "POST");
        EXPECT_EQ (r->path, "/device/");
        EXPECT_EQ (r->contentType, juce::String (c.contentType != nullptr ? c.contentType : ""));
        EXPECT_EQ (r->rawBody, c.body);
        EXPECT_EQ (r->body.toStdString(), c.body);
        EXPECT_EQ (r->json["UID"].toString(), uidA);
    }
}

TEST_F (WebApiTest, JuceClientPostIsAnswered)
{
    // The transport the application uses: JUCE's URL over curl, with a body large enough for "Expect: 100-continue".
    DeviceReport report;
    report.extra->setProperty ("padding", juce::String (std::string (100000, 'p')));
    auto body = report.json();

    auto text = juce::URL (api.url()).withPOSTData (juce::String (body))
                    .readEntireTextStream (true);
    EXPECT_EQ (juce::JSON::parse (text)["UID"].toString(), uidA);
    ASSERT_TRUE (api.lastRequest());
    EXPECT_EQ (api.lastRequest()->rawBody, body);
}

TEST_F (WebApiTest, GetIsRecordedAndRefused)
{
    // What a POST turns into when an HTTP layer follows a 302: the tests must be able to see it.
    httplib::Client client ("127.0.0.1", api.port());
    auto res = client.Get ("/device/");
    ASSERT_TRUE (res);
    EXPECT_EQ (res->status, 405);
    ASSERT_TRUE (api.lastRequest());
    EXPECT_EQ (api.lastRequest()->method, "GET");
}

TEST_F (WebApiTest, ServesAStandInWebAppPageBesideTheDeviceApi)
{
    EXPECT_EQ (api.webAppUrl(), api.urlForPath ("/app/"));

    httplib::Client client ("127.0.0.1", api.port());
    auto res = client.Get ("/app/");
    ASSERT_TRUE (res);
    EXPECT_EQ (res->status, 200);
    EXPECT_NE (res->get_header_value ("Content-Type").find ("text/html"), std::string::npos);
    EXPECT_NE (res->body.find ("<title>Olvo web app</title>"), std::string::npos);
}

TEST_F (WebApiTest, HostileRequestBodiesAreRecordedWithoutCrashingTheServer)
{
    const std::string bodies[] {
        std::string (200 * 1024, '['),      // would overflow the stack of a recursive parser
        "{\"UID\": \"abc\"",                // cut short
        std::string ("\xff\xfe{\"UID\":1}"),  // not UTF-8
        "",
    };

    for (auto& body : bodies)
    {
        SCOPED_TRACE (body.substr (0, 16));
        api.clearRequests();
        auto res = post (body);
        ASSERT_TRUE (res);
        EXPECT_EQ (res->status, 200);
        ASSERT_TRUE (api.lastRequest());
        EXPECT_EQ (api.lastRequest()->rawBody, body);
        EXPECT_TRUE (api.lastRequest()->json.isVoid());
    }
}

//==============================================================================
TEST_F (WebApiTest, DefaultReplyCarriesTheContentAndTheMissingFiles)
{
    auto sc = LocalWebApi::defaultScenario();
    DeviceReport report;
    report.firmware = FirmwareVersion { 1, 1, 4 };
    report.slots = {};     // an empty device

    auto reply = poll (report);
    EXPECT_EQ (reply["UID"].toString(), uidA);

    for (auto key : { "web_app_url", "last_rtc", "program_choices", "regimen", "packages_list", "limits",
                      "program_run_parameters", "polling", "filler", "weak_battery_threshold", "help_url",
                      "help_button_tooltip", "view_type", "webapp_link_text", "frequency_updates",
                      "firmware_updates", "server_time" })
        EXPECT_TRUE (reply.hasProperty (key)) << key;

    EXPECT_EQ ((int) reply["last_rtc"], 0);
    for (auto group : { "multi", "bright", "orange" })
    {
        auto* list = reply["program_choices"][group].getArray();
        ASSERT_TRUE (list != nullptr && ! list->isEmpty()) << group;
        EXPECT_EQ (keysOf (list->getFirst()), (std::set<juce::String> { "config_id", "name", "description", "freq_files" }));
        EXPECT_TRUE (reply["limits"][group]["brightness"].hasProperty ("max"));
        EXPECT_TRUE (reply["limits"][group]["duration"].hasProperty ("start"));
    }
    for (auto group : { "purple", "blue", "orange" })
        EXPECT_TRUE (reply["program_run_parameters"][group][0].hasProperty ("duration")) << group;
    EXPECT_EQ (keysOf (reply["polling"]), (std::set<juce::String> { "polling_interval_fast", "polling_interval_slow",
                                                                    "fast_polling_duration", "slow_polling_duration",
                                                                    "reset_polling_window" }));

    auto regimen = reply["regimen"];
    EXPECT_EQ ((int) regimen["current_phase"], 1);
    EXPECT_EQ ((int) regimen["phase_total"], 3);
    EXPECT_FALSE ((bool) regimen["just_advanced_phase"]);
    EXPECT_TRUE (regimen["next_phase"].hasProperty ("advancement_title"));
    EXPECT_EQ (regimen["delay_options"]["1"].toString(), "1 day");
    EXPECT_EQ (regimen["delay_options"]["7"].toString(), "1 week");
    ASSERT_TRUE (reply["packages_list"].size() == 2);
    EXPECT_EQ ((int) reply["packages_list"][0]["is_current"], 1);

    // Firmware 1.1: slots keyed "1".."6", each with the file for the wanted code.
    auto updates = reply["frequency_updates"];
    ASSERT_EQ (keysOf (updates), (std::set<juce::String> { "1", "2", "3", "4", "5", "6" }));
    for (int s = 0; s < 6; ++s)
    {
        auto d = updates[juce::Identifier (juce::String (s + 1))];
        auto code = sc.wantedSlotCodes[(size_t) s];
        EXPECT_EQ (d["program_code"].toString(), juce::String (code));
        EXPECT_TRUE (d["program_name"].isString() && d["version_major"].isString() && d["version_minor"].isString());
        auto bytes = decode (d["file_data"].toString());
        EXPECT_EQ ((int) bytes.size(), LocalWebApi::fileSize) << "slot " << s;
        EXPECT_TRUE (bytes == LocalWebApi::programFile (code)) << "slot " << s;
    }
    EXPECT_TRUE (LocalWebApi::programFile (12) != LocalWebApi::programFile (13));

    // Firmware 1.1.4 is older than the wanted 1.2.0.
    ASSERT_EQ (reply["firmware_updates"].size(), 1);
    auto fw = reply["firmware_updates"][0];
    EXPECT_EQ (fw["version_major"].toString() + "." + fw["version_minor"].toString() + "."
                   + fw["version_tertiary"].toString(), "1.2.0");
    auto image = decode (fw["file_data"].toString());
    ASSERT_EQ ((int) image.size(), LocalWebApi::fileSize);
    EXPECT_TRUE (image == LocalWebApi::firmwareImage (1, 2, 0));
    int major = -1, minor = -1, tertiary = -1;
    ASSERT_TRUE (olvo::sim::FirmwareImageHeader::read (image.data(), major, minor, tertiary));
    EXPECT_EQ (major * 10000 + minor * 100 + tertiary, 10200);
}

TEST_F (WebApiTest, FrequencyFilesGoToTheSlotsThatDifferUnderTheFirmwaresKeys)
{
    auto sc = LocalWebApi::defaultScenario();
    sc.wantedSlotCodes[5] = 0;     // the server wants the last slot emptied
    api.setScenario (sc);
    auto wanted = wantedSlots (sc);

    struct Case
    {
        const char* what;
        FirmwareVersion firmware;
        std::function<void (DeviceReport&)> change;
        std::set<juce::String> keys;
    };
    const Case cases[] {
        { "as wanted, 1.2",         { 1, 2, 0 },  [] (DeviceReport&) {},                                      {} },
        { "as wanted, 1.1",         { 1, 1, 9 },  [] (DeviceReport&) {},                                      {} },
        { "all wrong, 1.0",         { 1, 0, 12 }, [] (DeviceReport& r) { r.slots.fill ({ 99, 1, 0 }); },       { "1", "2", "3", "4", "5", "6" } },
        { "all wrong, 1.1",         { 1, 1, 9 },  [] (DeviceReport& r) { r.slots.fill ({ 99, 1, 0 }); },       { "1", "2", "3", "4", "5", "6" } },
        { "all wrong, 1.2",         { 1, 2, 0 },  [] (DeviceReport& r) { r.slots.fill ({ 99, 1, 0 }); },       { "1", "2", "7", "8", "5", "6" } },
        { "all wrong, 2.0",         { 2, 0, 0 },  [] (DeviceReport& r) { r.slots.fill ({ 99, 1, 0 }); },       { "1", "2", "7", "8", "5", "6" } },
        { "code and minor differ",  { 1, 2, 0 },  [] (DeviceReport& r) { r.slots[1].code = 77; r.slots[4].minor += 1; }, { "2", "5" } },
        { "major differs",          { 1, 1, 0 },  [] (DeviceReport& r) { r.slots[2].major += 1; },             { "3" } },
        { "old keys on 1.2",        { 1, 2, 0 },  [] (DeviceReport& r) { r.lowSlotKeysAlways = true; },        { "7", "8" } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        DeviceReport report;
        report.firmware = c.firmware;
        report.slots = wanted;
        c.change (report);
        auto updates = poll (report)["frequency_updates"];
        EXPECT_EQ (keysOf (updates), c.keys);

        // Slot 5 (key "6") is wanted empty: an erase descriptor without a file.
        if (c.keys.count ("6") != 0)
        {
            auto erase = updates["6"];
            EXPECT_EQ (erase["program_code"].toString(), "0");
            EXPECT_FALSE (erase.hasProperty ("file_data"));
        }
    }
}

TEST_F (WebApiTest, FirmwareGoesOnlyToAnOlderDevice)
{
    struct Case { std::optional<FirmwareVersion> reported; bool update; };
    const Case cases[] {
        { FirmwareVersion { 0, 9, 99 }, true }, { FirmwareVersion { 1, 1, 65535 }, true },
        { FirmwareVersion { 1, 2, 0 }, false }, { FirmwareVersion { 1, 3, 0 }, false },
        { FirmwareVersion { 2, 0, 0 }, false }, { std::nullopt, false },     // never flash on a guess
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.reported ? c.reported->major * 1000000 + c.reported->minor * 100000 + c.reported->tertiary : -1);
        DeviceReport report;
        report.firmware = c.reported;
        EXPECT_EQ (poll (report)["firmware_updates"].size(), c.update ? 1 : 0);
    }
}

TEST_F (WebApiTest, LineBrokenBase64DecodesOnceTheWhitespaceIsStripped)
{
    auto sc = LocalWebApi::defaultScenario();
    sc.base64LineBreaks = true;
    api.setScenario (sc);

    DeviceReport report;
    report.slots[0] = {};
    report.firmware = FirmwareVersion { 1, 0, 0 };
    auto reply = poll (report);

    for (auto text : { reply["frequency_updates"]["1"]["file_data"].toString(),
                       reply["firmware_updates"][0]["file_data"].toString() })
    {
        auto lines = juce::StringArray::fromLines (text);
        EXPECT_GT (lines.size(), 500);
        for (auto& line : lines)
            EXPECT_LE (line.length(), 76);
    }

    EXPECT_TRUE (decode (reply["frequency_updates"]["1"]["file_data"].toString())
                 == LocalWebApi::programFile (sc.wantedSlotCodes[0]));
    EXPECT_TRUE (decode (reply["firmware_updates"][0]["file_data"].toString()) == LocalWebApi::firmwareImage (1, 2, 0));
}

//==============================================================================
TEST_F (WebApiTest, NochangeOnlyWhenNothingWouldChange)
{
    struct Step
    {
        const char* what;
        std::function<void (DeviceReport&)> change;
        bool nochange;
    };

    auto withExtra = [] (const char* key, juce::var value)
    {
        return [key, value] (DeviceReport& r) { r.extra->setProperty (key, value); };
    };
    auto none = [] (DeviceReport&) {};

    const Step steps[] {
        { "first poll of a device",          none, false },
        { "same again",                      none, true },
        { "without allow_nochange",          [] (DeviceReport& r) { r.allowNochange = false; }, false },
        { "allowed again",                   none, true },
        { "a program choice",                withExtra ("update_program_choices", object ({ { "bright", 101 } })), false },
        { "a package choice",                withExtra ("update_package_choice", 11), false },
        { "a log upload",                    withExtra ("logs", object ({ { "1", object ({ { "rtc", 5 }, { "timestamp", 6 }, { "type", "Stop" } }) } })), false },
        { "slot values",                     withExtra ("app_slot_program_values", object ({ { "purple", object ({ { "duration", 20 } }) } })), false },
        { "a postponement",                  [] (DeviceReport& r) { r.delay = "7"; }, false },
        { "a slot that differs",             [] (DeviceReport& r) { r.slots[3].minor = 9; }, false },
        { "older firmware",                  [] (DeviceReport& r) { r.firmware = FirmwareVersion { 1, 1, 0 }; }, false },
        { "back to what the server wants",   none, true },
        { "another device",                  [] (DeviceReport& r) { r.uid = uidB; }, false },
        { "the first device still settled",  none, true },
    };

    for (auto& step : steps)
    {
        SCOPED_TRACE (step.what);
        DeviceReport report;
        report.allowNochange = true;
        step.change (report);
        EXPECT_EQ (isNochange (poll (report)), step.nochange);
    }

    // New content: every device gets one full reply.
    api.setScenario (api.scenario());
    DeviceReport settled;
    settled.allowNochange = true;
    EXPECT_FALSE (isNochange (poll (settled)));
    EXPECT_TRUE (isNochange (poll (settled)));
    EXPECT_EQ (api.device (uidA)->nochangeReplies, 5);
}

//==============================================================================
TEST_F (WebApiTest, ProgramAndPackageChoicesChangeWhatTheServerSends)
{
    DeviceReport report;
    report.extra->setProperty ("update_program_choices", object ({ { "bright", 102 }, { "multi", 202 } }));
    report.extra->setProperty ("update_package_choice", 12);
    auto reply = poll (report);

    auto dev = api.device (uidA);
    ASSERT_TRUE (dev);
    EXPECT_EQ (dev->chosenConfigIds, (std::array<int, 3> { 202, 102, -1 }));
    EXPECT_EQ (dev->currentPackageId, 12);
    EXPECT_EQ ((int) reply["packages_list"][0]["is_current"], 0);
    EXPECT_EQ ((int) reply["packages_list"][1]["is_current"], 1);

    // Bright 102 holds files 14 and 15 (slots 0 and 1), multi 202 files 23 and 24 (slots 4 and 5).
    auto updates = reply["frequency_updates"];
    ASSERT_EQ (keysOf (updates), (std::set<juce::String> { "1", "2", "5", "6" }));
    EXPECT_EQ (updates["1"]["program_code"].toString(), "14");
    EXPECT_EQ (updates["6"]["program_code"].toString(), "24");
    EXPECT_TRUE (decode (updates["2"]["file_data"].toString()) == LocalWebApi::programFile (15));

    // An unknown package leaves the current one.
    DeviceReport unknown;
    unknown.extra->setProperty ("update_package_choice", 99);
    poll (unknown);
    EXPECT_EQ (api.device (uidA)->currentPackageId, 12);
}

// The run values a device reports are what the server then holds and hands out, for that device only, until new
// content comes; a group reported without a level keeps the level the server had.
TEST_F (WebApiTest, ReportedRunValuesAreKeptAndHandedOut)
{
    const auto defaults = LocalWebApi::defaultScenario().runParameters;
    auto run = [] (const juce::var& reply, const char* group)
    {
        const auto first = reply["program_run_parameters"][group][0];
        return std::make_pair ((int) first["brightness"], (int) first["duration"]);
    };

    DeviceReport report;
    report.extra->setProperty ("app_slot_program_values",
                               object ({ { "purple", object ({ { "brightness", 9 }, { "duration", 40 } }) },
                                         { "blue", object ({ { "duration", 12 } }) } }));
    const auto reply = poll (report);
    EXPECT_EQ (run (reply, "purple"), std::make_pair (9, 40)) << "the reply to the report already carries it";
    EXPECT_EQ (run (reply, "blue"), std::make_pair (defaults[1].brightness, 12));
    EXPECT_EQ (run (reply, "orange"), std::make_pair (defaults[2].brightness, defaults[2].duration));

    EXPECT_EQ (run (poll (DeviceReport()), "purple"), std::make_pair (9, 40)) << "kept for later polls";

    DeviceReport other;
    other.uid = uidB;
    EXPECT_EQ (run (poll (other), "purple"), std::make_pair (defaults[0].brightness, defaults[0].duration));

    api.setScenario (api.scenario());
    EXPECT_EQ (run (poll (DeviceReport()), "purple"), std::make_pair (defaults[0].brightness, defaults[0].duration));
}

TEST_F (WebApiTest, UploadedLogsMoveLastRtcAndAreKeptOnce)
{
    auto entry = [] (int rtc, const char* type) { return object ({ { "rtc", rtc }, { "timestamp", rtc + 1000 }, { "type", type } }); };

    DeviceReport first;
    first.extra->setProperty ("logs", object ({ { "1", entry (100, "Treat") }, { "2", entry (250, "Stop") } }));
    EXPECT_EQ ((int) poll (first)["last_rtc"], 250);
    EXPECT_EQ ((int) poll (DeviceReport())["last_rtc"], 250);

    // The client sends again everything at or after last_rtc.
    DeviceReport second;
    second.extra->setProperty ("logs", object ({ { "1", entry (250, "Stop") }, { "2", entry (300, "Reset") } }));
    EXPECT_EQ ((int) poll (second)["last_rtc"], 300);

    auto dev = api.device (uidA);
    ASSERT_TRUE (dev);
    ASSERT_EQ (dev->logs.size(), 3u);
    EXPECT_EQ (dev->logs[2].type, "Reset");
    EXPECT_EQ (dev->logs[2].timestamp, 1300);
}

TEST_F (WebApiTest, AdvancingTheRegimenIsAnnouncedOnce)
{
    DeviceReport advance;
    advance.delay = "0";
    auto regimen = poll (advance)["regimen"];
    EXPECT_EQ ((int) regimen["current_phase"], 2);
    EXPECT_TRUE ((bool) regimen["just_advanced_phase"]);
    EXPECT_EQ (regimen["welcome_message_title"].toString(), "Phase 2: Building up");

    EXPECT_FALSE ((bool) poll (DeviceReport())["regimen"]["just_advanced_phase"]);

    // A failed reply does not swallow the announcement.
    api.pushMode (ReplyMode::error ("later"), 1);
    poll (advance);
    EXPECT_EQ ((int) poll (advance)["regimen"]["current_phase"], 3);
    api.pushMode (ReplyMode::of (Kind::emptyBody), 1);
    post (DeviceReport().json());
    EXPECT_FALSE ((bool) poll (DeviceReport())["regimen"]["just_advanced_phase"]);

    // The last phase stays the last; a postponement is recorded.
    poll (advance);
    DeviceReport postpone;
    postpone.delay = "7";
    regimen = poll (postpone)["regimen"];
    EXPECT_EQ ((int) regimen["current_phase"], 3);
    EXPECT_FALSE (regimen.hasProperty ("next_phase"));
    EXPECT_EQ (api.device (uidA)->lastAdvancementDelay, "7");
}

//==============================================================================
TEST_F (WebApiTest, EachFailureModeAnswersAsItShould)
{
    struct Case
    {
        const char* what;
        ReplyMode mode;
        std::function<void (const httplib::Response&)> check;
    };

    const Case cases[] {
        { "error", ReplyMode::error ("Device blocked"), [] (auto& res)
          {
              auto j = parse (res.body);
              EXPECT_EQ (j["status"].toString(), "error");
              EXPECT_EQ (j["message"].toString(), "Device blocked");
          } },
        { "warn", ReplyMode::warn ("Renew soon"), [] (auto& res)
          {
              auto j = parse (res.body);
              EXPECT_EQ (j["warn"]["message"].toString(), "Renew soon");
              EXPECT_EQ (j["UID"].toString(), uidA);
          } },
        { "warn without UID", ReplyMode::warn ("Renew soon", false), [] (auto& res)
          {
              auto j = parse (res.body);
              EXPECT_EQ (j["warn"]["message"].toString(), "Renew soon");
              EXPECT_FALSE (j.hasProperty ("UID"));
          } },
        { "UID mismatch", ReplyMode::of (Kind::uidMismatch), [] (auto& res)
          {
              auto j = parse (res.body);
              EXPECT_EQ (j["UID"].toString(), juce::String (uidA).toUpperCase());
              EXPECT_NE (j["UID"].toString(), uidA);
              EXPECT_TRUE (j.hasProperty ("program_choices"));
          } },
        { "empty body", ReplyMode::of (Kind::emptyBody), [] (auto& res)
          {
              EXPECT_EQ (res.status, 200);
              EXPECT_TRUE (res.body.empty());
          } },
        { "HTML", ReplyMode::of (Kind::htmlBody), [] (auto& res)
          {
              EXPECT_EQ (res.get_header_value ("Content-Type").rfind ("text/html", 0), 0u);
              EXPECT_EQ (res.body.rfind ("<!DOCTYPE html>", 0), 0u);
          } },
        { "HTTP 500 with JSON", ReplyMode::of (Kind::serverError), [] (auto& res)
          {
              EXPECT_EQ (res.status, 500);
              EXPECT_EQ (parse (res.body)["status"].toString(), "error");
          } },
        { "oversized", ReplyMode::of (Kind::oversized), [] (auto& res)
          {
              EXPECT_GE (res.body.size(), 8u * 1024 * 1024);
              EXPECT_EQ (parse (res.body)["UID"].toString(), uidA);
          } },
        { "deeply nested", ReplyMode::of (Kind::deepNesting), [] (auto& res)
          {
              // Only looked at, never parsed: that is the point of it.
              EXPECT_EQ (res.body.size(), 200u * 1024);
              EXPECT_EQ (res.body.find_first_not_of ('['), std::string::npos);
          } },
        { "junk before the JSON", ReplyMode::of (Kind::junkBeforeJson), [] (auto& res)
          {
              EXPECT_EQ (res.body.rfind ("xx{", 0), 0u);
              EXPECT_TRUE (parse (res.body).isVoid());
              EXPECT_EQ (parse (res.body.substr (2))["UID"].toString(), uidA);
          } },
        { "raw", ReplyMode::raw ("{\"status\": \"maintenance\"}", 503), [] (auto& res)
          {
              EXPECT_EQ (res.status, 503);
              EXPECT_EQ (res.body, "{\"status\": \"maintenance\"}");
          } },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        api.setMode (c.mode);
        auto res = post (DeviceReport().json());
        ASSERT_TRUE (res);
        c.check (*res);
    }
}

TEST_F (WebApiTest, CountedModesRunOutIntoThePermanentOne)
{
    api.setMode (ReplyMode::warn ("w"));
    api.pushMode (ReplyMode::error ("e"), 2);
    api.pushMode (ReplyMode::of (Kind::emptyBody), 1);

    std::vector<std::string> seen;
    for (int i = 0; i < 5; ++i)
    {
        auto res = post (DeviceReport().json());
        ASSERT_TRUE (res);
        auto j = parse (res->body);
        seen.push_back (res->body.empty() ? "empty" : j.hasProperty ("warn") ? "warn" : j["status"].toString().toStdString());
    }
    EXPECT_EQ (seen, (std::vector<std::string> { "error", "error", "empty", "warn", "warn" }));

    api.clearModes();
    EXPECT_EQ (parse (post (DeviceReport().json())->body)["status"].toString(), "ok");
}

TEST_F (WebApiTest, RedirectChainNamesTheNextHopOnThisServer)
{
    api.setMode (ReplyMode::redirectChain (2));
    std::string path = "/device/";
    std::vector<juce::String> named;

    for (int pass = 0; pass < 10; ++pass)
    {
        auto reply = poll (DeviceReport(), path);
        EXPECT_TRUE (reply.hasProperty ("program_choices")) << path;   // every hop is a full reply
        auto next = reply["api_url"].toString();
        if (next.isEmpty())
            break;
        named.push_back (next);
        ASSERT_TRUE (next.startsWith (api.urlForPath ("/")));
        path = next.fromFirstOccurrenceOf (api.urlForPath (""), false, false).toStdString();
    }

    EXPECT_EQ (named, (std::vector<juce::String> { api.urlForPath ("/device/r1/"), api.urlForPath ("/device/r2/") }));
    std::vector<juce::String> paths;
    for (auto& r : api.requests())
        paths.push_back (r.path);
    EXPECT_EQ (paths, (std::vector<juce::String> { "/device/", "/device/r1/", "/device/r2/" }));
}

TEST_F (WebApiTest, HostileRedirectTargetsAreOnlyNamed)
{
    for (auto target : { "file:///etc/passwd", "http://10.0.0.1/device/" })
    {
        SCOPED_TRACE (target);
        api.clearRequests();
        api.setMode (ReplyMode::redirectTo (target));
        EXPECT_EQ (poll (DeviceReport())["api_url"].toString(), target);
        EXPECT_EQ (api.requests().size(), 1u);
    }
}

TEST_F (WebApiTest, StallEndsWhenTheServerStops)
{
    api.pushMode (ReplyMode::stall (120000), 1);

    bool answered = true;
    std::thread client ([&answered, port = api.port()]
    {
        httplib::Client c ("127.0.0.1", port);
        c.set_read_timeout (300, 0);
        answered = (bool) c.Post ("/device/", DeviceReport().json(), "application/json");
    });

    EXPECT_TRUE (api.waitForRequests (1, waitMs));
    api.stop();
    client.join();
    EXPECT_FALSE (answered);
    EXPECT_FALSE (api.isRunning());

    // And the server starts again afterwards.
    ASSERT_GT (api.start(), 0);
    EXPECT_EQ (poll (DeviceReport())["UID"].toString(), uidA);
}

TEST_F (WebApiTest, DropBreaksTheReplyAndIsRecorded)
{
    api.pushMode (ReplyMode::of (Kind::drop), 1);
    EXPECT_FALSE (post (DeviceReport().json())) << "the client sees a broken reply, not an answer";
    ASSERT_EQ (api.requests().size(), 1u);
    EXPECT_EQ (api.requests().front().reply, "dropped");
    EXPECT_EQ (poll (DeviceReport())["UID"].toString(), uidA) << "the next request is answered";
}

TEST_F (WebApiTest, StallAnswersAfterItsLimit)
{
    api.pushMode (ReplyMode::stall (50), 1);
    auto reply = poll (DeviceReport());
    EXPECT_EQ (reply["UID"].toString(), uidA);
    EXPECT_TRUE (reply.hasProperty ("program_choices"));
}

TEST_F (WebApiTest, ClientsPostWhileATestReconfigures)
{
    constexpr int clients = 4, pollsEach = 15;
    std::vector<std::thread> threads;
    std::atomic<int> answered { 0 };

    for (int t = 0; t < clients; ++t)
        threads.emplace_back ([&, t]
        {
            DeviceReport report;
            report.uid = juce::String::formatted ("%08x:00000000:00000000:00000000", t);
            report.allowNochange = true;
            for (int i = 0; i < pollsEach; ++i)
                if (post (report.json()))
                    ++answered;
        });

    for (int i = 0; i < 20; ++i)
    {
        auto sc = api.scenario();
        sc.helpUrl = "https://help.olvo.example/" + juce::String (i);
        api.setScenario (sc);
        api.pushMode (ReplyMode::warn ("busy"), 1);
        api.requests();
        api.device (uidA);
    }

    for (auto& t : threads)
        t.join();

    EXPECT_EQ (answered.load(), clients * pollsEach);
    EXPECT_TRUE (api.waitForRequests (clients * pollsEach, waitMs));
}

//==============================================================================
TEST (WebApiOptions, ModeNamesParse)
{
    struct Case { const char* option; std::optional<Kind> kind; juce::String text; int number; };
    const Case cases[] {
        { "normal", Kind::normal, "", 0 },
        { "error:Device blocked", Kind::error, "Device blocked", 0 },
        { "warn-no-uid", Kind::warnWithoutUid, "", 0 },
        { "drop", Kind::drop, "", 0 },
        { "redirect:3", Kind::redirect, "", 3 },
        { "redirect-to:file:///etc/passwd", Kind::redirect, "file:///etc/passwd", 2 },
        { "stall:250", Kind::stall, "", 250 },
        { "oversized:1000", Kind::oversized, "", 1000 },
        { "raw:{\"a\":1}", Kind::raw, "{\"a\":1}", 0 },
        { "bogus", std::nullopt, "", 0 },
        { "redirect:many", std::nullopt, "", 0 },
        { "empty:1", std::nullopt, "", 0 },
        { "redirect-to", std::nullopt, "", 0 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.option);
        auto m = ReplyMode::parse (c.option);
        ASSERT_EQ (m.has_value(), c.kind.has_value());
        if (! m)
            continue;
        EXPECT_EQ (m->kind, *c.kind);
        EXPECT_EQ (m->text, c.text);
        auto number = c.kind == Kind::redirect ? m->hops : c.kind == Kind::stall ? m->limitMs
                    : c.kind == Kind::oversized ? m->size : 0;
        EXPECT_EQ (number, c.number);
    }
}

TEST (WebApiOptions, ScenarioFileOverrides)
{
    auto sc = LocalWebApi::defaultScenario();
    auto ok = LocalWebApi::applyOverrides (sc, juce::JSON::parse (R"({"wanted_firmware": "2.0.1",
        "wanted_slots": [1, 2, 3, 4, 5, 0], "base64_line_breaks": true, "help_url": "https://elsewhere.example/"})"));
    ASSERT_TRUE (ok.wasOk()) << ok.getErrorMessage();
    EXPECT_TRUE (sc.wantedFirmware == (FirmwareVersion { 2, 0, 1 }));
    EXPECT_EQ (sc.wantedSlotCodes, (std::array<int, 6> { 1, 2, 3, 4, 5, 0 }));
    EXPECT_TRUE (sc.base64LineBreaks);
    EXPECT_EQ (sc.extraKeys["help_url"].toString(), "https://elsewhere.example/");

    for (auto bad : { R"([1, 2])", R"({"wanted_firmware": "2.0"})", R"({"wanted_firmware": "a.b.c"})",
                      R"({"wanted_slots": [1, 2, 3]})" })
    {
        auto copy = LocalWebApi::defaultScenario();
        EXPECT_FALSE (LocalWebApi::applyOverrides (copy, juce::JSON::parse (bad)).wasOk()) << bad;
    }

    // Extra keys reach the reply.
    LocalWebApi api;
    api.setScenario (sc);
    ASSERT_GT (api.start(), 0);
    httplib::Client client ("127.0.0.1", api.port());
    auto res = client.Post ("/device/", DeviceReport().json(), "application/json");
    ASSERT_TRUE (res);
    EXPECT_EQ (parse (res->body)["help_url"].toString(), "https://elsewhere.example/");
}

} // namespace
