// The programs that ship, as a user meets them: OlvoAssistantSim (the application on the simulated device) under an
// X server of its own with a window manager and, where the test wants one, a tray host; driven with xdotool and
// wmctrl. The application's single-instance lock is machine-wide, so these tests run one at a time.

#include "XSession.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <sstream>

namespace olvo::test
{

namespace
{
    const std::string program = OLVO_APP_PROGRAM;
    const std::string webApiProgram = OLVO_WEBAPI_PROGRAM;

    std::vector<std::string> mainWindows() { return XSession::visibleWindows ({ "--name", "^OlvoAssistant$" }); }

    /** The application's visible 22 x 22 window (the icon), and where it is. */
    std::string iconWindow (int* x = nullptr, int* y = nullptr)
    {
        for (const auto& id : XSession::visibleWindows ({ "--class", "^OlvoAssistant$" }))
        {
            std::istringstream geometry (XSession::run ({ "xdotool", "getwindowgeometry", "--shell", id }));
            std::map<std::string, int> values;
            for (std::string line; std::getline (geometry, line);)
                if (const auto eq = line.find ('='); eq != std::string::npos)
                    values[line.substr (0, eq)] = std::atoi (line.substr (eq + 1).c_str());

            if (values["WIDTH"] == 22 && values["HEIGHT"] == 22)
            {
                if (x != nullptr) *x = values["X"];
                if (y != nullptr) *y = values["Y"];
                return id;
            }
        }
        return {};
    }

    /** The icon once docked in trayer's panel (top right of the 1280-wide screen), not in a window manager's frame. */
    std::string dockedIcon()
    {
        int x = 0, y = 0;
        const auto id = iconWindow (&x, &y);
        return x >= 1200 && y < 24 ? id : std::string();
    }

    int count (const std::string& text, const std::string& part)
    {
        int n = 0;
        for (auto at = text.find (part); at != std::string::npos; at = text.find (part, at + 1))
            ++n;
        return n;
    }

    std::string openMenu()
    {
        const auto menus = XSession::visibleWindows ({ "--name", "^menu$" });
        return menus.empty() ? std::string() : menus.front();
    }

    /** Clicks the icon (again, as a user would, when no menu came), waits for its menu and clicks the item at the
        given fraction of the menu's height (again while the menu stays open). */
    ::testing::AssertionResult chooseFromMenu (const std::string& icon, double itemCentre)
    {
        std::string menu;
        for (int click = 0; click < 3 && menu.empty(); ++click)
        {
            XSession::run ({ "xdotool", "mousemove", "--window", icon, "11", "11", "click", "1" });
            XSession::waitFor ([&] { menu = openMenu(); return ! menu.empty(); }, 5000);
        }
        if (menu.empty())
            return ::testing::AssertionFailure() << "no menu opened";

        std::istringstream geometry (XSession::run ({ "xdotool", "getwindowgeometry", "--shell", menu }));
        int width = 0, height = 0;
        for (std::string line; std::getline (geometry, line);)
        {
            if (line.rfind ("WIDTH=", 0) == 0)  width = std::stoi (line.substr (6));
            if (line.rfind ("HEIGHT=", 0) == 0) height = std::stoi (line.substr (7));
        }
        if (height < 20)
            return ::testing::AssertionFailure() << "menu " << width << "x" << height;

        // A JUCE menu ignores a release that comes right after it opened (it takes it for the opening click).
        const auto x = std::to_string (width / 2), y = std::to_string ((int) (height * itemCentre));
        XSession::run ({ "xdotool", "mousemove", "--window", menu, x, y });
        for (int click = 0; click < 10; ++click)
        {
            XSession::sleepMs (500);
            XSession::run ({ "xdotool", "mousemove", "--window", menu, x, y, "click", "1" });
            if (XSession::waitFor ([] { return openMenu().empty(); }, 3000))
                return ::testing::AssertionSuccess();
        }
        return ::testing::AssertionFailure() << "the menu stayed open";
    }

    /** The fields of /proc/<pid>/stat a test needs; nothing when the process is gone (it may end while read). */
    struct ProcessStat
    {
        std::string state;
        pid_t parent = 0, group = 0;
    };

    std::optional<ProcessStat> readStat (const std::string& pid)
    {
        std::ifstream stat ("/proc/" + pid + "/stat");
        std::string line;
        if (! std::getline (stat, line))
            return std::nullopt;
        const auto afterName = line.rfind (')');   // the name may hold spaces and parentheses
        if (afterName == std::string::npos || afterName + 2 > line.size())
            return std::nullopt;

        ProcessStat fields;
        std::istringstream (line.substr (afterName + 2)) >> fields.state >> fields.parent >> fields.group;
        if (fields.state.empty())
            return std::nullopt;
        return fields;
    }

    /** The child processes of parent with the given argument. */
    std::vector<std::string> childrenWithArgument (pid_t parent, const std::string& argument)
    {
        std::vector<std::string> found;
        for (const auto& entry : std::filesystem::directory_iterator ("/proc"))   // processes, not threads
        {
            const auto pid = entry.path().filename().string();
            if (pid.find_first_not_of ("0123456789") != std::string::npos)
                continue;

            const auto stat = readStat (pid);
            if (! stat || stat->parent != parent || stat->state == "Z")
                continue;

            std::ifstream cmdline ("/proc/" + pid + "/cmdline");
            std::string all ((std::istreambuf_iterator<char> (cmdline)), std::istreambuf_iterator<char>());
            if (all.find (argument) != std::string::npos)
                found.push_back (pid);
        }
        return found;
    }

    /** True while the process exists and has not ended (a zombie has). */
    bool isAlive (const std::string& pid)
    {
        const auto stat = readStat (pid);
        return stat && stat->state != "Z";
    }

    /** The process group of a process (0 when it is gone). */
    pid_t processGroupOf (const std::string& pid)
    {
        const auto stat = readStat (pid);
        return stat ? stat->group : 0;
    }

    /** The ids of the threads of a process with the given name. */
    std::vector<std::string> threadsNamed (pid_t pid, const std::string& name)
    {
        std::vector<std::string> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator ("/proc/" + std::to_string (pid) + "/task", error))
        {
            std::ifstream comm (entry.path() / "comm");
            std::string line;
            if (std::getline (comm, line) && line == name)
                found.push_back (entry.path().filename().string());
        }
        return found;
    }

    /** Starts the program; fails when another instance holds the machine-wide lock (it would exit at once). */
    std::unique_ptr<Process> startProgram()
    {
        auto app = std::make_unique<Process> (std::vector<std::string> { program });
        EXPECT_TRUE (app->started());
        return app;
    }

    /** A folder of its own for a test's files, removed with it. */
    struct ScratchFolder
    {
        ScratchFolder()
        {
            char name[] = "/tmp/olvo-e2e-XXXXXX";
            if (mkdtemp (name) != nullptr)
                path = name;
        }

        ~ScratchFolder()
        {
            if (! path.empty())
                std::filesystem::remove_all (path);
        }

        std::string write (const std::string& file, const std::string& text) const
        {
            const auto full = path + "/" + file;
            std::ofstream (full) << text;
            return full;
        }

        std::string path;
    };

    /** Sets an environment variable for the programs a test starts, and removes it afterwards. */
    struct ScopedEnvironment
    {
        ScopedEnvironment (const char* n, const std::string& value) : name (n) { setenv (name, value.c_str(), 1); }
        ~ScopedEnvironment() { unsetenv (name); }
        const char* name;
    };

    /** For the programs a test starts: the local web API with its built-in content, which asks for the web view
        (its own stand-in page as the web application), or with the view type given; and a device plugged in from
        the start. So the web view shows, and its helper runs, once the device's first poll is answered. */
    struct ServerAndDevice
    {
        explicit ServerAndDevice (const ScratchFolder& folder, const std::string& viewType = {})
            : webApi (viewType.empty()
                          ? std::vector<std::string> { webApiProgram, "--own-web-app", "yes", "--max-seconds", "240" }
                          : std::vector<std::string> { webApiProgram, "--own-web-app", "yes", "--max-seconds", "240",
                                                       "--scenario", folder.write ("server.json", "{ \"view_type\": \""
                                                                                                      + viewType + "\" }") })
        {
            if (! webApi.waitForOutput ("listening on", 60000))
                return;
            const auto listening = webApi.output();
            const auto start = listening.find ("http://");
            api.emplace ("OLVO_API_URL", listening.substr (start, listening.find_first_of (" \n", start) - start));
            device.emplace ("OLVO_SIM_SCENARIO", folder.write ("device.txt", "plug\n"));
        }

        bool isUp() const { return api.has_value(); }

        /** True once the engine has confirmed "Up to Date" (a request answered with nothing to write). */
        bool upToDate() const
        {
            const auto out = webApi.output();
            return out.find (" -> nochange\n") != std::string::npos || out.find (" -> full\n") != std::string::npos;
        }

        Process webApi;
        std::optional<ScopedEnvironment> api, device;
    };

    /** The web view helpers a program started. */
    std::vector<std::string> webViewHelpers (const Process& app)
    {
        return childrenWithArgument (app.processId(), "--juce-gtkwebkitfork-child");
    }
}

//==============================================================================
TEST (RealProgram, TheWindowShowsWhenTheDeviceArrivesAndHidesWithItsPopupsWhenTheDeviceGoes)
{
    const XSession session (true);
    ASSERT_EQ (session.failure(), "") << session.failure();
    const ScratchFolder folder;
    ASSERT_FALSE (folder.path.empty());

    // The local web API, with a regimen whose next phase is ready: the next-phase popup opens once synced.
    const auto serverScenario = folder.write ("server.json", R"({ "view_type": "link", "regimen": {
        "regimen_name": "Four-week starter plan", "current_phase_name": "Getting started", "current_phase": 1,
        "phase_total": 3, "current_phase_duration_total": 7, "current_phase_remaining": 2, "ready_to_advance": true,
        "force_update": false, "advancement_message": "Week one is done.", "delay_options": { "7": "1 week" } } })");
    Process webApi ({ webApiProgram, "--scenario", serverScenario, "--max-seconds", "240" });
    ASSERT_TRUE (webApi.waitForOutput ("listening on", 60000)) << webApi.output();
    const auto listening = webApi.output();
    const auto urlStart = listening.find ("http://");
    const auto url = listening.substr (urlStart, listening.find_first_of (" \n", urlStart) - urlStart);

    // The device as the server wants it, plugged in a few seconds after start and pulled out later.
    const auto deviceScenario = folder.write ("device.txt",
        "identity serial=E2E-1 uid=5,6,7,8 version=1.2.0\n"
        "slot 0 name=Calm_A code=12 version=1.2\nslot 1 name=Calm_B code=13 version=1.2\n"
        "slot 2 name=Warmth_A code=31 version=1.0\nslot 3 name=Warmth_B code=32 version=1.0\n"
        "slot 4 name=Balance_A code=21 version=2.1\nslot 5 name=Balance_B code=22 version=2.1\n"
        "at 4000 plug\nat 20000 unplug\n");

    const ScopedEnvironment api ("OLVO_API_URL", url);
    const ScopedEnvironment device ("OLVO_SIM_SCENARIO", deviceScenario);
    auto app = startProgram();
    const FailureRecord record ({ { "program", app.get() }, { "webapi", &webApi } });
    const auto popups = [] { return XSession::visibleWindows ({ "--name", "^OlvoAssistant - Update Available$" }); };

    ASSERT_TRUE (XSession::waitFor ([] { return ! dockedIcon().empty(); }, 60000)) << app->output();
    EXPECT_TRUE (mainWindows().empty()) << "no device yet: the window stays hidden";

    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; }, 60000))
        << "the device arrived, the window did not show\n" << app->output();
    EXPECT_TRUE (XSession::waitFor ([&] { return popups().size() == 1; }, 60000))
        << "no next-phase popup\n" << webApi.output();

    // Closed, not only hidden with the window: its X window is gone.
    const auto popupExists = []
    {
        return ! XSession::windows ({ "--name", "^OlvoAssistant - Update Available$" }).empty();
    };
    EXPECT_TRUE (XSession::waitFor ([&] { return mainWindows().empty() && ! popupExists(); }, 60000))
        << "the device went, the window or its popup stayed";
    EXPECT_TRUE (app->isRunning()) << "it waits for the device, in the tray";

    app->sendSignal (SIGINT);
    ASSERT_TRUE (app->waitForExit (30000));
    const auto out = app->output();
    const auto shown = out.find ("Process type 1 (foreground application)");
    ASSERT_NE (shown, std::string::npos) << out;
    EXPECT_NE (out.find ("Process type 4 (menu-bar only)", shown), std::string::npos) << out;
}

//==============================================================================
TEST (RealProgram, WithATrayHostItStartsHiddenShowsFromItsMenuHidesOnCloseAndQuitsWithStatusOne)
{
    const XSession session (true);
    ASSERT_EQ (session.failure(), "") << session.failure();

    auto app = startProgram();
    const FailureRecord record ({ { "program", app.get() } });
    std::string icon;
    ASSERT_TRUE (XSession::waitFor ([&] { icon = dockedIcon(); return ! icon.empty(); }, 60000))
        << "no icon docked\n" << app->output();
    EXPECT_TRUE (mainWindows().empty()) << "the window stays hidden at start";

    ASSERT_TRUE (chooseFromMenu (icon, 0.25));   // "Show OlvoAssistant"
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; })) << "the window did not show";

    // The window manager's close: the window goes, the process and its icon stay.
    XSession::run ({ "wmctrl", "-i", "-c", mainWindows().front() });
    EXPECT_TRUE (XSession::waitFor ([] { return mainWindows().empty(); })) << "close did not hide the window";
    EXPECT_TRUE (app->isRunning());
    // Read while the tray lays its icons out again, the icon's place can be missing for a moment.
    EXPECT_TRUE (XSession::waitFor ([&] { return dockedIcon() == icon; })) << "the icon did not stay docked";

    EXPECT_TRUE (webViewHelpers (*app).empty()) << "no web view was shown: no web engine runs";

    ASSERT_TRUE (chooseFromMenu (icon, 0.75));   // "Quit OlvoAssistant"
    ASSERT_TRUE (app->waitForExit (10000)) << "quit did not end the process";
    EXPECT_EQ (app->exitStatus(), 1);

    // These lines sat in the buffer of a pipe: quitting flushed them.
    const auto out = app->output();
    EXPECT_EQ (count (out, "Process type 4 (menu-bar only)"), 2) << out;
    EXPECT_EQ (count (out, "Process type 1 (foreground application)"), 1) << out;
}

TEST (RealProgram, WithoutATrayHostItShowsItsWindowAtStartAndLeavesNoStrayIcon)
{
    const XSession session (false);
    ASSERT_EQ (session.failure(), "") << session.failure();
    const ScratchFolder folder;
    ASSERT_FALSE (folder.path.empty());

    // The device follows a file the test writes and removes; its polls are refused at once (no web API), so the
    // engine is never held up in one when the device goes.
    const auto plugFile = folder.path + "/plugged";
    const ScopedEnvironment device ("OLVO_SIM_SCENARIO", folder.write ("device.txt", "plug-file " + plugFile + "\n"));
    const ScopedEnvironment api ("OLVO_API_URL", "http://127.0.0.1:9/device/");

    auto app = startProgram();
    const FailureRecord record ({ { "program", app.get() } });
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; }, 60000))
        << "the window did not show\n" << app->output();
    XSession::sleepMs (1500);   // the icon would have been docked by now
    EXPECT_EQ (iconWindow(), "");

    EXPECT_TRUE (webViewHelpers (*app).empty()) << "no web view was shown: no web engine runs";

    // Neither closing it nor the device's going can hide it (nothing could bring it back but the device): it is
    // minimised, and the device's arrival brings it back.
    const auto window = mainWindows().front();
    const auto iconic = [&]
    {
        return XSession::run ({ "xprop", "-id", window, "WM_STATE" }).find ("Iconic") != std::string::npos;
    };
    const auto restored = [&] { return mainWindows().size() == 1 && ! iconic(); };

    XSession::run ({ "wmctrl", "-i", "-c", window });
    EXPECT_TRUE (XSession::waitFor (iconic)) << XSession::run ({ "xprop", "-id", window });

    folder.write ("plugged", "");
    EXPECT_TRUE (XSession::waitFor (restored, 60000)) << "the device arrived, the window stayed minimised\n"
                                                       << XSession::run ({ "xprop", "-id", window });

    std::filesystem::remove (plugFile);
    EXPECT_TRUE (XSession::waitFor (iconic, 60000)) << "the device went: minimised, not hidden\n"
                                                     << XSession::run ({ "xprop", "-id", window });
    char listed[32];
    std::snprintf (listed, sizeof (listed), "0x%08lx", std::stoul (window));   // as wmctrl names windows
    const auto windowList = XSession::run ({ "wmctrl", "-l" });
    EXPECT_NE (windowList.find (listed), std::string::npos) << listed << " not in the window list:\n" << windowList;

    folder.write ("plugged", "");
    EXPECT_TRUE (XSession::waitFor (restored, 60000)) << "the device came back, the window did not";
    EXPECT_TRUE (app->isRunning());

    // An interrupt quits normally: the window (and with it the worker) is deleted before JUCE goes.
    app->sendSignal (SIGINT);
    ASSERT_TRUE (app->waitForExit (30000)) << "no exit after an interrupt";
    EXPECT_EQ (app->exitStatus(), 0);
    EXPECT_EQ (count (app->output(), "No system tray"), 1) << app->output();
}

namespace
{
    /** Waits (a hang guard of 60 s) until the icon is docked in trayer's panel: its window, empty when it never was. */
    std::string waitForDockedIcon()
    {
        std::string icon;
        XSession::waitFor ([&] { icon = dockedIcon(); return ! icon.empty(); }, 60000);
        return icon;
    }

    /** True while the window manager lists the main window, shown or minimised: the user can reach it. */
    bool mainWindowListed()
    {
        const auto listed = XSession::run ({ "wmctrl", "-l" });
        for (const auto& id : XSession::windows ({ "--name", "^OlvoAssistant$" }))
        {
            char name[32];
            std::snprintf (name, sizeof (name), "0x%08lx", std::stoul (id));   // as wmctrl names windows
            if (listed.find (name) != std::string::npos)
                return true;
        }
        return false;
    }
}

// A panel that crashes or restarts takes the icon's place with it: the window put away in the tray is always within
// reach meanwhile, and the icon docks again as soon as a tray host is back.
TEST (RealProgram, WhenItsTrayHostRestartsTheIconDocksAgainAndTheWindowStaysWithinReach)
{
    XSession session (true);
    ASSERT_EQ (session.failure(), "") << session.failure();

    auto app = startProgram();
    const FailureRecord record ({ { "program", app.get() } });
    auto icon = waitForDockedIcon();
    ASSERT_FALSE (icon.empty()) << "no icon docked\n" << app->output();
    EXPECT_FALSE (mainWindowListed()) << "hidden in the tray at start";

    // The tray host crashes: the window it held is minimised, in the window list, not put in the user's way.
    session.stopTrayHost();
    ASSERT_TRUE (XSession::waitFor (mainWindowListed, 60000)) << "no tray, and the window hidden\n" << app->output();
    EXPECT_TRUE (mainWindows().empty()) << "shown minimised";
    EXPECT_EQ (iconWindow(), "") << "no icon left on the screen";
    for (int sample = 0; sample < 10; ++sample, XSession::sleepMs (200))
        ASSERT_TRUE (mainWindowListed()) << "out of reach while the tray is away";

    // The tray host is back: the icon docks again, and the window goes back into the tray.
    ASSERT_TRUE (session.startTrayHost());
    icon = waitForDockedIcon();
    ASSERT_FALSE (icon.empty()) << "the icon did not dock again\n" << app->output();
    EXPECT_TRUE (XSession::waitFor ([] { return ! mainWindowListed(); })) << "not put away into the tray again";

    // Its menu works; a restart while the window shows leaves it shown, and closing it puts it into the new tray.
    ASSERT_TRUE (chooseFromMenu (icon, 0.25));   // "Show OlvoAssistant"
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; })) << "the window did not show";
    session.stopTrayHost();
    ASSERT_TRUE (session.startTrayHost());
    icon = waitForDockedIcon();
    ASSERT_FALSE (icon.empty()) << "the icon did not dock after the second restart\n" << app->output();
    EXPECT_EQ (mainWindows().size(), 1u) << "the window shown stays shown";

    XSession::run ({ "wmctrl", "-i", "-c", mainWindows().front() });
    EXPECT_TRUE (XSession::waitFor ([] { return ! mainWindowListed(); })) << "close did not put it into the tray";

    ASSERT_TRUE (chooseFromMenu (icon, 0.75));   // "Quit OlvoAssistant"
    ASSERT_TRUE (app->waitForExit (10000)) << "quit did not end the process";
    EXPECT_EQ (app->exitStatus(), 1);
    EXPECT_EQ (count (app->output(), "The system tray has gone"), 2) << app->output();
    EXPECT_EQ (count (app->output(), "A system tray is there"), 2) << app->output();
}

// Autostart at login often runs before the panel.
TEST (RealProgram, ATrayHostThatStartsAfterItTakesItsIcon)
{
    XSession session (false);
    ASSERT_EQ (session.failure(), "") << session.failure();

    auto app = startProgram();
    const FailureRecord record ({ { "program", app.get() } });
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; }, 60000))
        << "the window did not show\n" << app->output();
    EXPECT_EQ (iconWindow(), "");

    ASSERT_TRUE (session.startTrayHost());
    const auto icon = waitForDockedIcon();
    ASSERT_FALSE (icon.empty()) << "the tray that came later took no icon\n" << app->output();
    EXPECT_EQ (mainWindows().size(), 1u) << "the window shown at start stays";

    // From now on the tray's rule: closing puts the window into the tray, and its menu brings it back.
    XSession::run ({ "wmctrl", "-i", "-c", mainWindows().front() });
    EXPECT_TRUE (XSession::waitFor ([] { return ! mainWindowListed(); })) << "close did not put it into the tray";
    ASSERT_TRUE (chooseFromMenu (icon, 0.25));   // "Show OlvoAssistant"
    EXPECT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; })) << "the window did not show";

    app->sendSignal (SIGINT);
    ASSERT_TRUE (app->waitForExit (30000)) << "no exit after an interrupt";
    EXPECT_EQ (app->exitStatus(), 0);
}

// The web engine (the web view's helper and WebKit's processes, some 350 MB) runs only once the server's view type
// asks for the web view; quitting ends it, also from the menu, which ends the process without destructors.
TEST (RealProgram, ItsWebEngineRunsOnlyOnceTheViewTypeAsksForTheWebView)
{
    const struct { const char* viewType; bool webView; } table[] {
        { "link", false }, { "link_only", false }, { "webview", true },
    };

    for (const auto& row : table)
    {
        const XSession session (true);
        ASSERT_EQ (session.failure(), "") << session.failure();
        const ScratchFolder folder;
        ServerAndDevice server (folder, row.viewType);
        ASSERT_TRUE (server.isUp()) << server.webApi.output();

        auto app = startProgram();
        const FailureRecord record ({ { "program", app.get() }, { "webapi", &server.webApi } });
        const auto icon = waitForDockedIcon();
        ASSERT_FALSE (icon.empty()) << row.viewType << ": no icon docked\n" << app->output();
        ASSERT_TRUE (XSession::waitFor ([&] { return server.upToDate(); }, 60000))
            << row.viewType << ": never up to date\n" << server.webApi.output();

        std::vector<std::string> helpers;
        if (row.webView)
        {
            ASSERT_TRUE (XSession::waitFor ([&] { helpers = webViewHelpers (*app); return helpers.size() == 1; }, 30000))
                << "the web view's helper did not start";
            EXPECT_TRUE (XSession::waitFor ([&]
            {
                return ! childrenWithArgument (std::stoi (helpers.front()), "WebKitWebProcess").empty();
            }, 30000)) << "the helper started no WebKit";
            EXPECT_TRUE (server.webApi.waitForOutput ("GET /app/", 30000)) << "the page did not load";
        }
        else
        {
            XSession::sleepMs (1500);   // some timer passes with the view type the reply brought
            EXPECT_TRUE (webViewHelpers (*app).empty()) << row.viewType << ": a web engine runs for nothing";
            EXPECT_EQ (server.webApi.output().find ("GET /app/"), std::string::npos) << row.viewType;
        }

        ASSERT_TRUE (chooseFromMenu (icon, 0.75));   // "Quit OlvoAssistant"
        ASSERT_TRUE (app->waitForExit (10000)) << row.viewType << ": quit did not end the process";
        EXPECT_EQ (app->exitStatus(), 1);
        for (const auto& helper : helpers)
            EXPECT_TRUE (XSession::waitFor ([&] { return ! isAlive (helper); })) << "helper " << helper << " outlived it";
    }
}

// Ctrl-C in a terminal interrupts the application and its web view's helper together (one process group): the
// application still quits normally, and ends its helper itself.
TEST (RealProgram, AnInterruptToItsWholeProcessGroupQuitsItNormally)
{
    const XSession session (false);
    ASSERT_EQ (session.failure(), "") << session.failure();
    const ScratchFolder folder;
    const ServerAndDevice webView (folder);
    ASSERT_TRUE (webView.isUp()) << webView.webApi.output();

    // setsid: the program leads a process group of its own, as a terminal's foreground job does.
    auto app = std::make_unique<Process> (std::vector<std::string> { "setsid", program });
    const FailureRecord record ({ { "program", app.get() }, { "webapi", &webView.webApi } });
    ASSERT_TRUE (app->started());
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; }, 60000))
        << "the window did not show\n" << app->output();

    std::vector<std::string> helpers;
    ASSERT_TRUE (XSession::waitFor ([&]
    {
        helpers = webViewHelpers (*app);
        return helpers.size() == 1;
    }, 30000)) << "the web view's helper runs";

    // Until the helper's main has run, it is still in the application's group: a terminal's Ctrl-C comes later,
    // after the web view's first page too (a quit while the helper reports a page is the web view's own test).
    XSession::waitFor ([&] { return processGroupOf (helpers.front()) != app->processId(); }, 5000);
    XSession::sleepMs (2000);

    kill (-app->processId(), SIGINT);
    ASSERT_TRUE (app->waitForExit (30000)) << "no exit after an interrupt to its process group";
    EXPECT_EQ (app->exitStatus(), 0);
    EXPECT_TRUE (XSession::waitFor ([&] { return ! isAlive (helpers.front()); })) << "the helper outlived it";
}

// The web view's helper goes when the web view ends it with SIGTERM (after asking it to quit), exiting rather than
// being killed by the signal; and when the application's end of its command pipe closes (it used to read the end of
// the pipe over and over, busy for ever).
TEST (RealProgram, TheWebViewsHelperEndsOnSigtermAndWhenItsCommandPipeCloses)
{
    const struct { const char* what; std::function<void (Process&)> end; bool exitsWithZero; } table[] {
        { "SIGTERM", [] (Process& helper) { helper.sendSignal (SIGTERM); }, true },
        { "command pipe closed", [] (Process& helper) { helper.closeInput(); }, false },
    };

    for (const auto& row : table)
    {
        const XSession session (false);
        ASSERT_EQ (session.failure(), "") << session.failure();

        // Started as JUCE starts it, with the two ends of its command pipes: standard input, a pipe this test keeps
        // open until it closes it, and standard output.
        Process helper ({ program, "--juce-gtkwebkitfork-child", "0", "1" }, true);
        ASSERT_TRUE (helper.started());
        ASSERT_TRUE (XSession::waitFor ([&]
        {
            return ! childrenWithArgument (helper.processId(), "WebKitWebProcess").empty();
        }, 30000)) << row.what << ": the helper did not start WebKit\n" << helper.output();

        row.end (helper);
        ASSERT_TRUE (helper.waitForExit (10000)) << row.what << ": the helper runs on";
        if (row.exitsWithZero)
        {
            EXPECT_EQ (helper.exitStatus(), 0) << row.what << ": killed by the signal, or failed";
        }
    }
}

// A web view's helper that dies (a crash, the kernel's out-of-memory killer) ends the web view's thread, which read
// its pipe in a busy loop for ever, and the program still quits normally.
TEST (RealProgram, AfterItsWebViewsHelperIsKilledItsWebViewThreadEndsAndItStillQuits)
{
    const XSession session (false);
    ASSERT_EQ (session.failure(), "") << session.failure();
    const ScratchFolder folder;
    const ServerAndDevice webView (folder);
    ASSERT_TRUE (webView.isUp()) << webView.webApi.output();

    auto app = startProgram();
    const FailureRecord record ({ { "program", app.get() }, { "webapi", &webView.webApi } });
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; }, 60000))
        << "the window did not show\n" << app->output();

    std::vector<std::string> helpers;
    ASSERT_TRUE (XSession::waitFor ([&]
    {
        helpers = webViewHelpers (*app);
        return helpers.size() == 1;
    }, 30000)) << "the web view's helper runs";
    ASSERT_TRUE (XSession::waitFor ([&] { return ! threadsNamed (app->processId(), "Webview").empty(); }))
        << "no web view thread";

    kill (std::stoi (helpers.front()), SIGKILL);
    EXPECT_TRUE (XSession::waitFor ([&] { return threadsNamed (app->processId(), "Webview").empty(); }))
        << "the web view's thread runs on without its helper";

    app->sendSignal (SIGINT);
    ASSERT_TRUE (app->waitForExit (30000)) << "no exit after an interrupt";
    EXPECT_EQ (app->exitStatus(), 0);
}

TEST (RealProgram, ASecondLaunchExitsPromptlyWhileTheFirstKeepsRunning)
{
    const XSession session (false);
    ASSERT_EQ (session.failure(), "") << session.failure();

    auto first = startProgram();
    ASSERT_TRUE (XSession::waitFor ([] { return mainWindows().size() == 1; }, 60000))
        << "the first did not show its window (another OlvoAssistant running on this machine?)\n"
        << first->output();

    auto second = startProgram();
    const FailureRecord record ({ { "first", first.get() }, { "second", second.get() } });
    ASSERT_TRUE (second->waitForExit (10000)) << "the second instance keeps running";
    EXPECT_EQ (second->exitStatus(), 0);
    EXPECT_EQ (second->output().find ("Process type"), std::string::npos) << "the second started an application";

    EXPECT_TRUE (first->isRunning());
    EXPECT_EQ (mainWindows().size(), 1u);

    first->sendSignal (SIGINT);
    EXPECT_TRUE (first->waitForExit (30000));
}

} // namespace olvo::test
