// The application's whole job as a user meets it, on the real program: OlvoAssistantSim under an X server of its own
// with openbox and trayer, driven with real input (xdotool), against the local web API, on a simulated device that
// the test plugs in and pulls out and whose flash, slots and settings it reads from the device's state file.

#include "WholeJob.h"

#include "sim/webapi/LocalWebApi.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace olvo::test
{

namespace
{
    const std::string mainTitle = "OlvoAssistant";

    /** What the device must hold once synced with the built-in server content: the wanted firmware and, per slot,
        the wanted program's entry and file. */
    std::vector<std::string> expectedDeviceLines()
    {
        const auto content = sim::LocalWebApi::defaultScenario();
        const auto& fw = content.wantedFirmware;
        std::vector<std::string> lines {
            "mode normal",
            "version " + std::to_string (fw.major) + "." + std::to_string (fw.minor) + "." + std::to_string (fw.tertiary),
            "firmware-blocks " + fnv1a64Hex (sim::LocalWebApi::firmwareImage (fw.major, fw.minor, fw.tertiary)) };

        for (int s = 0; s < 6; ++s)
        {
            const int code = content.wantedSlotCodes[(size_t) s];
            for (const auto& p : content.programs)
                if (p.code == code)
                    lines.push_back ("slot " + std::to_string (s) + " code=" + std::to_string (code) + " version="
                                     + std::to_string (p.versionMajor) + "." + std::to_string (p.versionMinor)
                                     + " name=" + p.name.toStdString());
            lines.push_back ("slot-blocks " + std::to_string (s) + " "
                             + fnv1a64Hex (sim::LocalWebApi::programFile (code)));
        }
        return lines;
    }

    /** The lines of `expected` that `state` lacks. */
    std::string missingLines (const std::string& state, const std::vector<std::string>& expected)
    {
        std::string missing;
        for (const auto& line : expected)
            if (state.find (line + "\n") == std::string::npos)
                missing += line + "\n";
        return missing;
    }

    /** The settings record in a state file. */
    std::vector<int> settingsOf (const std::string& state)
    {
        std::vector<int> record (32, -1);
        const auto at = state.find ("settings ");
        if (at == std::string::npos)
            return record;
        std::istringstream bytes (state.substr (at + 9, state.find ('\n', at) - at - 9));
        for (auto& b : record)
            bytes >> std::hex >> b;
        return record;
    }

    // Where firmware 1.2 keeps each group's level and duration in its settings record (group 0 and 2: minutes of
    // the hour, then hours; group 1: minutes, low byte first).
    constexpr int levelByte[3] { 17, 2, 18 };
    constexpr int durationByte[3] { 14, 12, 19 };
    int durationIn (const std::vector<int>& record, int group)
    {
        const int low = record[(size_t) durationByte[group]], high = record[(size_t) durationByte[group] + 1];
        return group == 1 ? low + 256 * high : low + 60 * high;
    }

    bool anyLineHas (const std::vector<std::string>& lines, size_t from, const std::string& part)
    {
        for (size_t i = from; i < lines.size(); ++i)
            if (lines[i].find (part) != std::string::npos)
                return true;
        return false;
    }

    // The device with older firmware than the server wants and one factory program: its first sync writes firmware
    // and all six slots.
    const std::string olderDevice = "identity serial=E2E-JOB-1 uid=0x0001A2B3,0x00C0FFEE,0x12345678,0x42 version=1.1.4\n"
                                    "slot 0 name=Factory code=9 version=1.0\n";

    // Fast polling, so that a decision reaches the server within seconds.
    const std::string fastPolling = R"("polling": { "polling_interval_fast": 2, "polling_interval_slow": 2,
        "fast_polling_duration": 600, "slow_polling_duration": 600, "reset_polling_window": 0 })";
}

//==============================================================================
// Plug-in to "Up to Date" with what the server sent in the device, a next-phase decision, a brightness change made
// with the mouse, the information window's text, and the window going with the device.
TEST_F (WholeJob, SyncsTheDeviceThenCarriesTheUsersDecisionsToDeviceAndServer)
{
    // The server hands out its run values in every reply and keeps the values the device reports; with the view
    // type "link" the sync writes the server's run values into the device, so a save the server missed is undone.
    startWebApi (R"({ "view_type": "link", )" + fastPolling + R"(, "regimen": {
        "regimen_name": "Four-week starter plan", "current_phase_name": "Getting started", "current_phase": 1,
        "phase_total": 3, "current_phase_duration_total": 7, "current_phase_remaining": 2, "ready_to_advance": true,
        "force_update": false, "advancement_message": "Week one is done.", "delay_options": { "7": "1 week" } } })");
    startProgram (olderDevice);
    ASSERT_TRUE (waitForIcon());
    EXPECT_TRUE (windowsNamed (mainTitle).empty()) << "no device yet: the window stays hidden";

    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000))
        << "the device arrived, the window did not show";
    ASSERT_TRUE (XSession::waitFor ([this] { return upToDateAfter (0); }, 120000)) << "never up to date";
    EXPECT_EQ (missingLines (deviceState(), expectedDeviceLines()), "") << deviceState();

    // The next phase is offered: ADVANCE sends the decision (delay 0).
    std::vector<std::string> popups;
    ASSERT_TRUE (XSession::waitFor ([&] { popups = windowsNamed ("OlvoAssistant - Update Available"); return popups.size() == 1; },
                                    60000)) << "no next-phase popup";
    auto before = requestLines().size();
    clickAt (popups.front(), 0.2, 0.91);   // ADVANCE
    EXPECT_TRUE (XSession::waitFor ([] { return windowsNamed ("OlvoAssistant - Update Available").empty(); }, 60000));
    EXPECT_TRUE (XSession::waitFor ([&] { return anyLineHas (requestLines(), before, "+delay=0"); }, 60000))
        << "the decision did not reach the server\n" << webApi->output();

    // The first group's level slider dragged to its right end (the server allows up to 10), then SAVE. Where they are:
    // the window's layout in fractions of its size (panels from 0.05 W, 0.03 W apart, from 0.33 H down for 0.43 H).
    const auto window = windowsNamed (mainTitle).front();
    const auto box = windowBox (window);
    const auto W = box.width, H = box.height;
    const int x0 = (int) (0.05 * W), colW = ((int) (0.9 * W) - 2 * (int) (0.03 * W)) / 3, pitch = colW + (int) (0.03 * W);
    const int T = (int) (0.33 * H), R = (int) (0.43 * H);
    const int sliderY = (int) (T + 0.45 * R) + (int) (0.2 * R) / 2;
    XSession::run ({ "xdotool", "mousemove", "--window", window, std::to_string (x0 + colW / 2), std::to_string (sliderY),
                     "mousedown", "1", "sleep", "0.2", "mousemove", "--window", window, std::to_string (x0 + colW + 20),
                     std::to_string (sliderY), "sleep", "0.2", "mouseup", "1" });
    // The SAVE button shows on a timer pass after the drag, however long that takes: clicked until the device takes
    // the level. Where it is hidden, the click lands on the status display, which does nothing.
    before = requestLines().size();
    const auto levelSaved = [&] { return settingsOf (deviceState())[levelByte[0]] == 10; };
    EXPECT_TRUE (XSession::waitFor ([&]
    {
        XSession::run ({ "xdotool", "mousemove", "--window", window,
                         std::to_string ((int) (x0 + pitch + colW - 0.1 * W) + (int) (0.05 * W)),
                         std::to_string ((int) (0.88 * H) + (int) (0.035 * H)), "click", "1" });
        return XSession::waitFor (levelSaved, 3000);
    }, 30000)) << "the device's settings record did not take the new level: " << deviceState();
    EXPECT_TRUE (XSession::waitFor ([&] { return anyLineHas (requestLines(), before, "+slot_values(purple=10/"); }, 15000))
        << "the poll SAVE forces did not report the new level\n" << webApi->output();
    const auto afterSave = requestLines().size();
    ASSERT_TRUE (XSession::waitFor ([&] { return upToDateAfter (afterSave); }, 60000)) << webApi->output();
    EXPECT_EQ (settingsOf (deviceState())[levelByte[0]], 10) << "the sync undid the save: " << deviceState();

    // The information window: its text, copied with the keyboard, names the device, its firmware and its programs.
    clickAt (window, 0.84, 0.87 + 0.03 * W / H);
    std::vector<std::string> info;
    ASSERT_TRUE (XSession::waitFor ([&] { info = windowsNamed ("OlvoAssistant - Information"); return info.size() == 1; },
                                    60000)) << "no information window";
    std::string text;
    XSession::waitFor ([&]   // the text arrives with the window's first timer pass
    {
        clickAt (info.front(), 0.5, 0.4);   // in the text
        XSession::run ({ "xdotool", "key", "ctrl+a", "ctrl+c" });
        text = clipboardText();
        return text.find ("Serial Number") != std::string::npos;
    }, 60000);
    for (const auto* part : { "Serial Number: E2E-JOB-1", "Firmware Version: 1.2.0", "12 1.2 Calm A", "13 1.2 Calm B",
                              "31 1.0 Warmth A", "32 1.0 Warmth B", "21 2.1 Balance A", "22 2.1 Balance B" })
        EXPECT_NE (text.find (part), std::string::npos) << part << " in:\n" << text;

    // The device goes: the window and the information window with it.
    pullOut();
    EXPECT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).empty(); }, 60000)) << "the window stayed";
    EXPECT_TRUE (windowsNamed ("OlvoAssistant - Information").empty());
}

//==============================================================================
// A server that does not know the device warns: the warning popup opens over the window, and nothing is written.
TEST_F (WholeJob, AServerWarningShowsItsPopupAndWritesNothing)
{
    startWebApi ({}, { "--mode", "warn:This device is registered to another account." });
    startProgram (olderDevice);
    ASSERT_TRUE (waitForIcon());

    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000));
    std::vector<std::string> warning;
    ASSERT_TRUE (XSession::waitFor ([&] { warning = windowsNamed ("OlvoAssistant - Warning"); return warning.size() == 1; },
                                    60000)) << "no warning popup\n" << webApi->output();
    EXPECT_EQ (missingLines (deviceState(), { "version 1.1.4", "slot 0 code=9 version=1.0 name=Factory",
                                              "slot 1 code=0 version=0.0 name=" }), "");

    clickAt (warning.front(), 0.5, 0.91);   // DONE
    EXPECT_TRUE (XSession::waitFor ([] { return windowsNamed ("OlvoAssistant - Warning").empty(); }, 60000));
    EXPECT_EQ (windowsNamed (mainTitle).size(), 1u) << "the window stays with the device";
}

//==============================================================================
// Texts from a server that means harm: links that a shell would run, file: URLs, an image of 64 MB, one declaring
// 60000 x 60000 pixels and an image host that never answers. No shell runs, no local file is opened, no image is
// kept, the program lives on, and the one acceptable link reaches the browser as one argument, unchanged.
TEST_F (WholeJob, HostileServerTextsRunNothingAndReadNothing)
{
    HostileImageHost images;
    ASSERT_NE (images.port(), 0);

    const auto canary = file ("canary");
    const auto secretPage = writeFile ("secret.html", "<p>local</p>");
    const auto secretImage = writeFile ("secret.png", "not read");
    const int watcher = inotify_init1 (IN_NONBLOCK);
    ASSERT_GE (watcher, 0);
    inotify_add_watch (watcher, secretPage.c_str(), IN_OPEN | IN_ACCESS);
    inotify_add_watch (watcher, secretImage.c_str(), IN_OPEN | IN_ACCESS);

    // The browser: records each argument it is given on a line of its own.
    std::filesystem::create_directories (file ("bin"));
    const auto browser = writeFile ("bin/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\" >> '"
                                                        + file ("opened") + "'; done\n");
    std::filesystem::permissions (browser, std::filesystem::perms::owner_all);
    const std::string oldPath = std::getenv ("PATH");
    setenv ("PATH", (file ("bin") + ":" + oldPath).c_str(), 1);

    const std::string acceptable = "https://tips.example/a?x=1;id=(sh)&y=2*z!";   // a shell's characters, a URL's too
    const auto json = [] (const std::string& text) { return "\"" + text + "\""; };
    startWebApi ("{ \"view_type\": \"link\", \"web_app_url\": " + json ("file://" + secretPage)
                 + ", \"webapp_link_text\": \"Open the web app\", \"help_url\": "
                 + json ("https://help.example/$(touch " + canary + ")")
                 + ", \"filler\": { \"filler_link\": " + json (acceptable) + ", \"filler_image\": "
                 + json (images.url ("/stall")) + ", \"filler_text\": " + json ("Tip: `touch " + canary + "`") + " }"
                 + ", \"packages_list\": ["
                 + " { \"package_id\": 11, \"is_current\": 1, \"brand_name\": \"Olvo\", \"presentation_name\": \"Starter\","
                 + " \"brand_logo\": " + json (images.url ("/huge")) + ", \"brand_icon\": " + json (images.url ("/huge.png")) + " },"
                 + " { \"package_id\": 12, \"is_current\": 0, \"brand_name\": \"Olvo\", \"presentation_name\": \"Sports\","
                 + " \"brand_logo\": " + json ("file://" + secretImage) + ", \"brand_icon\": " + json (images.url ("/stall"))
                 + " } ] }");
    startProgram (olderDevice);
    setenv ("PATH", oldPath.c_str(), 1);
    ASSERT_TRUE (waitForIcon());

    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000));
    ASSERT_TRUE (XSession::waitFor ([this] { return upToDateAfter (0); }, 120000)) << "never up to date";
    const auto window = windowsNamed (mainTitle).front();
    const auto box = windowBox (window);

    // Once the downloads have ended (the stalled ones after the fetch limits), every link the window offers: help,
    // the web app, the filler text.
    ASSERT_TRUE (XSession::waitFor ([&]
    {
        const auto asked = images.requests();
        return std::count (asked.begin(), asked.end(), "closed /stall") >= 1;
    }, 60000)) << "the stalled downloads did not end in time: " << ::testing::PrintToString (images.requests());
    for (const auto& [fx, fy] : { std::pair { 0.92, 0.87 + 0.03 * box.width / box.height }, { 0.84, 0.825 }, { 0.5, 0.825 } })
        clickAt (window, fx, fy);

    // The help page (the last link refused, the built-in one instead) and the filler's link reach the browser; the
    // web app's file: URL never does.
    const auto openedText = [this]
    {
        std::ifstream in (file ("opened"));
        return "\n" + std::string ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    };
    XSession::waitFor ([&]
    {
        const auto text = openedText();
        return text.find ("\n" + acceptable + "\n") != std::string::npos && text.find ("/olvo-app-how-to\n") != std::string::npos;
    }, 30000);
    XSession::sleepMs (500);   // anything else a click started has had its time too

    EXPECT_FALSE (std::filesystem::exists (canary)) << "a shell ran a server text";
    const auto opened = openedText();
    // The acceptable link as one argument, unchanged; the help button falls back to the built-in help page.
    EXPECT_NE (opened.find ("\n" + acceptable + "\n"), std::string::npos) << opened;
    std::istringstream links (opened);
    for (std::string link; std::getline (links, link);)
    {
        if (link.empty())
            continue;
        EXPECT_TRUE (link.rfind ("https://", 0) == 0 && link.find_first_of ("$`\\ '\"") == std::string::npos) << link;
    }

    char events[4096];
    EXPECT_LE (read (watcher, events, sizeof (events)), 0) << "a local file named by the server was opened";
    close (watcher);

    EXPECT_TRUE (app->isRunning());
    const auto out = app->output();
    for (const auto* path : { "/huge no image", "/huge.png size 0x0", "/stall no image" })
        EXPECT_NE (out.find (path), std::string::npos) << path << " in:\n" << out;
}

//==============================================================================
// An image host that accepts and never answers: the downloads wait on their own thread, and the window answers a
// click at once.
TEST_F (WholeJob, AStalledImageHostDoesNotFreezeTheWindow)
{
    HostileImageHost images;
    ASSERT_NE (images.port(), 0);
    startWebApi ("{ \"view_type\": \"link\", \"filler\": { \"filler_link\": \"\", \"filler_text\": \"Tip\", "
                 "\"filler_image\": \"" + images.url ("/stall") + "\" } }");
    startProgram (olderDevice);
    ASSERT_TRUE (waitForIcon());
    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000));
    ASSERT_TRUE (XSession::waitFor ([&]
    {
        const auto asked = images.requests();
        return std::find (asked.begin(), asked.end(), "/stall") != asked.end();
    }, 120000)) << "the stalled image was never asked for";

    const auto window = windowsNamed (mainTitle).front();
    const auto box = windowBox (window);
    clickAt (window, 0.84, 0.87 + 0.03 * box.width / box.height);   // the information button
    // A click takes well under 300 ms to open it; a message thread held by the download would hold it 5 s or more.
    EXPECT_TRUE (XSession::waitFor ([] { return ! windowsNamed ("OlvoAssistant - Information").empty(); }, 3000))
        << "the window did not answer a click within 3 s";
}

//==============================================================================
// The device pulled out in the middle of its firmware update (in its boot loader) and put back: the window goes and
// comes back with it, and the update completes with everything the server sent.
TEST_F (WholeJob, ADevicePulledOutDuringItsFirmwareUpdateIsUpdatedWhenPutBack)
{
    startWebApi ({});
    startProgram (olderDevice + "unplug-after-block 45\n");
    ASSERT_TRUE (waitForIcon());

    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000));
    ASSERT_TRUE (XSession::waitFor ([this] { return deviceState().rfind ("plugged 0\n", 0) == 0; }, 60000))
        << "the device was never pulled out\n" << deviceState();
    EXPECT_NE (deviceState().find ("mode boot-loader\n"), std::string::npos) << deviceState();
    EXPECT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).empty(); }, 60000)) << "the window stayed";

    pullOut();
    XSession::sleepMs (1500);   // the device notices its cable is out
    const auto before = requestLines().size();
    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000)) << "no window again";
    ASSERT_TRUE (XSession::waitFor ([&] { return upToDateAfter (before); }, 120000)) << "never up to date again";
    EXPECT_EQ (missingLines (deviceState(), expectedDeviceLines()), "") << deviceState();

    // The settings record holds the run parameters the server sent.
    const auto record = settingsOf (deviceState());
    const auto run = sim::LocalWebApi::defaultScenario().runParameters;
    for (int g = 0; g < 3; ++g)
    {
        EXPECT_EQ (record[(size_t) levelByte[g]], run[(size_t) g].brightness) << "group " << g;
        EXPECT_EQ (durationIn (record, g), run[(size_t) g].duration) << "group " << g;
    }
}

//==============================================================================
// A server that fails (HTTP 500) for its first 20 seconds, then recovers: the program shows "ERROR" meanwhile and
// polls it a handful of times, the window showing (the user's activity) included, then finds it back on a later retry
// with no user action and brings the device up to date.
TEST_F (WholeJob, AServerThatFailsAtFirstIsPolledSparinglyAndTheDeviceGetsUpToDateOnItsOwn)
{
    startWebApi ({}, { "--mode", "http500", "--mode-seconds", "20" });
    startProgram (olderDevice);
    ASSERT_TRUE (waitForIcon());

    plugIn();
    ASSERT_TRUE (XSession::waitFor ([] { return windowsNamed (mainTitle).size() == 1; }, 60000));
    ASSERT_TRUE (webApi->waitForOutput ("mode ended", 120000)) << "the server never recovered\n" << webApi->output();

    const auto lines = requestLines();
    const auto failed = (size_t) std::count_if (lines.begin(), lines.end(), [] (const std::string& line)
    {
        return line.find (" -> HTTP 500") != std::string::npos;
    });
    EXPECT_GE (failed, 2u) << "retried while the server failed";
    EXPECT_LE (failed, 12u) << "polled at the retry policy's pace\n" << webApi->output();

    // The next retry, some 30 s after the first poll, finds the server back.
    ASSERT_TRUE (XSession::waitFor ([&] { return upToDateAfter (failed); }, 120000))
        << "never up to date\n" << webApi->output();
    EXPECT_EQ (missingLines (deviceState(), expectedDeviceLines()), "") << deviceState();
}

} // namespace olvo::test
