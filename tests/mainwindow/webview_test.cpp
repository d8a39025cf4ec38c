#include "GuiTestSupport.h"
#include "TimerFixture.h"

#include "mainwindow/WebView.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace olvo
{

TEST (WebView, NavigationIsLimitedToHttpHttpsAndTheBlankPage)
{
    const struct { const char* url; bool allowed; } table[] {
        { "https://app.olvo.example/", true },
        { "http://127.0.0.1:8080/page", true },
        { "HTTPS://APP.OLVO.EXAMPLE/", true },
        { "about:blank", true },
        { "About:Blank", true },
        { "", false },
        { "about:config", false },
        { "file:///etc/passwd", false },
        { "javascript:alert(1)", false },
        { "data:text/html,<p>hello</p>", false },
        { "olvo://open", false },
        { "ftp://olvo.example/", false },
        { " https://app.olvo.example/", false },
        { "httpx://app.olvo.example/", false },
    };

    test::StandInWebView view;
    for (const auto& row : table)
    {
        view.pageLoadStarted = false;
        view.lastUrl = "before";
        EXPECT_EQ (WebView::isAllowedNavigation (row.url), row.allowed) << row.url;
        EXPECT_EQ (view.navigate (row.url), row.allowed) << row.url;
        EXPECT_EQ (view.pageLoadStarted, row.allowed) << row.url;
        EXPECT_EQ (view.lastUrl, row.allowed ? juce::String (row.url) : juce::String ("before")) << row.url;
    }
}

TEST (WebView, EveryAllowedNavigationLatchesAgain)
{
    test::StandInWebView view;
    EXPECT_FALSE (view.pageLoadStarted);

    view.navigate ("https://app.olvo.example/");
    view.pageLoadStarted = false;                       // the owner acted on it
    view.navigate ("https://app.olvo.example/next");   // a redirect or a link click
    EXPECT_TRUE (view.pageLoadStarted);
    EXPECT_EQ (view.lastUrl, "https://app.olvo.example/next");
}

//==============================================================================
namespace
{
    /** Two pages on 127.0.0.1: the first moves on to the second by itself, the second tries to open a local file. */
    struct PageServer
    {
        httplib::Server server;
        std::thread thread;
        int port = 0;
        std::atomic<int> firstServed { 0 }, secondServed { 0 };

        PageServer()
        {
            server.Get ("/first", [this] (const httplib::Request&, httplib::Response& res)
            {
                ++firstServed;
                res.set_content ("<html><body><p>first</p><script>"
                                 "setTimeout(function() { location.href = '/second'; }, 50);"
                                 "</script></body></html>", "text/html");
            });
            server.Get ("/second", [this] (const httplib::Request&, httplib::Response& res)
            {
                ++secondServed;
                res.set_content ("<html><body><p>second</p><script>"
                                 "setTimeout(function() { location.href = 'file:///etc/hostname'; }, 50);"
                                 "</script></body></html>", "text/html");
            });
            port = server.bind_to_any_port ("127.0.0.1");
            thread = std::thread ([this] { server.listen_after_bind(); });
        }

        ~PageServer()
        {
            server.stop();
            thread.join();
        }

        juce::String url (const char* path) const { return "http://127.0.0.1:" + juce::String (port) + path; }
    };

    struct Window : public juce::DocumentWindow
    {
        Window() : juce::DocumentWindow ("web view test", juce::Colours::white, 0, true) {}
    };

    //==============================================================================
    // The web view as the system sees it: JUCE's thread that reads the helper's pipe ("Webview"), and the helper,
    // a child process re-running this executable.

    std::string firstLineOf (const std::filesystem::path& file)
    {
        std::ifstream in (file);
        std::string line;
        std::getline (in, line);
        return line;
    }

    /** The id of this process's web view thread; 0 when there is none. */
    int webViewThread() { return test::threadNamed ("Webview"); }

    /** The CPU time a thread of this process has had, in milliseconds. */
    double cpuMsOf (int thread)
    {
        return std::stod (firstLineOf ("/proc/self/task/" + std::to_string (thread) + "/schedstat")) / 1.0e6;
    }

    /** The system call a thread of this process is blocked in; -1 while it runs (or when it is gone). */
    long systemCallOf (int thread)
    {
        const auto line = firstLineOf ("/proc/self/task/" + std::to_string (thread) + "/syscall");
        return line.empty() || line == "running" ? -1 : std::stol (line);
    }

    /** The web view helper this process started; 0 when there is none. */
    pid_t webViewHelper()
    {
        for (const auto& entry : std::filesystem::directory_iterator ("/proc"))
        {
            const auto name = entry.path().filename().string();
            if (name.find_first_not_of ("0123456789") != std::string::npos)
                continue;

            const auto stat = firstLineOf (entry.path() / "stat");
            const auto afterName = stat.rfind (')');
            if (afterName == std::string::npos)
                continue;
            std::istringstream fields (stat.substr (afterName + 2));
            std::string state;
            pid_t parent = 0;
            fields >> state >> parent;

            std::ifstream cmdline (entry.path() / "cmdline");
            const std::string arguments ((std::istreambuf_iterator<char> (cmdline)), std::istreambuf_iterator<char>());
            const auto isHelper = arguments.find ("--juce-gtkwebkitfork-child") != std::string::npos;
            if (parent == getpid() && state != "Z" && isHelper)
                return (pid_t) std::stoi (name);
        }
        return 0;
    }

    bool processExists (pid_t pid) { return std::filesystem::exists ("/proc/" + std::to_string (pid)); }
}

TEST (WebViewComponent, LoadsAPageFromALocalServerAndRefusesOtherSchemes)
{
    PageServer pages;
    ASSERT_GT (pages.port, 0);

    Window window;
    WebViewComponent view;   // starts the helper process (this executable, re-run)
    view.setSize (400, 300);
    window.setContentNonOwned (&view, true);
    window.setVisible (true);

    // Hidden, JUCE would still show the helper's window: it is taken out while the view is hidden.
    ASSERT_TRUE (test::pumpUntil ([&] { return view.hasHelperWindow(); }, 30000)) << "the helper sent no window";
    view.setVisible (false);
    EXPECT_FALSE (view.isEmbeddedWindowAttached());
    view.setVisible (true);
    EXPECT_TRUE (view.isEmbeddedWindowAttached());

    view.load (pages.url ("/first"));
    ASSERT_TRUE (test::pumpUntil ([&] { return pages.secondServed > 0 && view.lastUrl == pages.url ("/second"); },
                                  30000))
        << "first served " << pages.firstServed << ", last URL " << view.lastUrl;
    EXPECT_TRUE (view.pageLoadStarted);

    // The second page's move to a file: URL is refused: nothing is latched.
    view.pageLoadStarted = false;
    test::pumpFor (1500);
    EXPECT_FALSE (view.pageLoadStarted);
    EXPECT_EQ (view.lastUrl, pages.url ("/second"));

    window.clearContentComponent();
}

TEST (WebViewComponent, StartsItsBrowserAndHelperOnlyOnceAPageIsLoadedOrItIsShown)
{
    const struct { const char* need; std::function<void (WebViewComponent&)> ask; bool attached; } table[] {
        { "a page loaded while hidden", [] (WebViewComponent& v) { v.load ("about:blank"); }, false },
        { "shown", [] (WebViewComponent& v) { v.setVisible (true); }, true },
        { "neither", [] (WebViewComponent&) {}, false },
    };

    for (const auto& row : table)
    {
        // As the main window holds it: a hidden child of a window on the screen.
        Window window;
        juce::Component content;
        content.setSize (400, 300);
        auto view = std::make_unique<WebViewComponent>();
        view->setBounds (content.getLocalBounds());
        content.addChildComponent (*view);
        window.setContentNonOwned (&content, true);
        window.setVisible (true);
        test::pumpFor (300);
        EXPECT_FALSE (view->hasBrowser()) << row.need;
        EXPECT_EQ (webViewHelper(), 0) << row.need;
        EXPECT_EQ (webViewThread(), 0) << row.need;

        row.ask (*view);
        const bool asked = std::string (row.need) != "neither";
        EXPECT_FALSE (view->hasBrowser()) << row.need << ": made within the caller's work";
        pid_t helper = 0;
        if (asked)
        {
            EXPECT_TRUE (test::pumpUntil ([&] { return view->hasBrowser(); }, 30000)) << row.need;
            EXPECT_TRUE (test::pumpUntil ([&] { return (helper = webViewHelper()) != 0; }, 30000)) << row.need;
            EXPECT_TRUE (test::pumpUntil ([&] { return view->hasHelperWindow(); }, 30000)) << row.need;
        }
        test::pumpFor (300);
        EXPECT_EQ (view->hasBrowser(), asked) << row.need;
        EXPECT_EQ (webViewHelper(), helper) << row.need;
        EXPECT_EQ (view->isEmbeddedWindowAttached(), row.attached) << row.need;

        // Teardown, whether it started one or not: none is left.
        view.reset();
        EXPECT_TRUE (helper == 0 || ! processExists (helper)) << row.need << ": the helper outlived its view";
        EXPECT_EQ (webViewHelper(), 0) << row.need;
        window.clearContentComponent();
    }
}

// JUCE's thread reading the helper's pipe polled it in a busy loop (most of a core for as long as a web view
// existed): it sleeps until the helper writes.
TEST (WebViewComponent, ItsThreadSleepsWhileNothingHappens)
{
    Window window;
    WebViewComponent view;
    view.setSize (400, 300);
    window.setContentNonOwned (&view, true);
    window.setVisible (true);

    int thread = 0;
    ASSERT_TRUE (test::pumpUntil ([&] { return (thread = webViewThread()) != 0; }, 30000)) << "no web view thread";
    view.load ("about:blank");
    test::pumpFor (2000);   // the page loaded, its events handled

    const auto before = cpuMsOf (thread);
    test::pumpFor (2000);
    const auto used = cpuMsOf (thread) - before;
    EXPECT_LT (used, 100.0) << "the web view's thread was busy for " << used << " ms out of 2000";

    window.clearContentComponent();
}

//==============================================================================
namespace
{
    /** The main window with the real web view. */
    struct MainWindowWebView : public test::TimerPass
    {
        MainWindowWebView() { realWebView = true; }
    };
}

TEST_F (MainWindowWebView, TheWebEngineStartsOnlyOnceTheViewTypeAsksForTheWebViewAndThenLoadsThePage)
{
    PageServer pages;
    ASSERT_GT (pages.port, 0);

    // The link views show nothing in the web view: no browser, no helper, for the device's whole presence; the
    // window goes without one.
    {
        const test::OnScreen screen (c());
        plug (1, 2, 0);
        e().webAppUrl.set (pages.url ("/first"));
        for (const char* type : { "link", "link_only", "" })
        {
            e().viewType.set (type);
            pass();
            pass();
            EXPECT_FALSE (dynamic_cast<WebViewComponent&> (*c().webView).hasBrowser()) << type;
            EXPECT_EQ (webViewHelper(), 0) << type;
        }
    }
    rebuild();
    EXPECT_EQ (webViewHelper(), 0);

    // "webview": the first pass that shows it asks for it, and the page loads.
    const test::OnScreen screen (c());
    auto& view = dynamic_cast<WebViewComponent&> (*c().webView);
    plug (1, 2, 0);
    e().webAppUrl.set (pages.url ("/first"));
    e().viewType.set ("webview");
    pass();
    EXPECT_TRUE (view.isVisible());
    EXPECT_FALSE (view.hasBrowser()) << "made within the pass, which shows the window too";
    EXPECT_TRUE (test::pumpUntil ([&] { return view.hasBrowser(); }, 30000));
    pid_t helper = 0;
    EXPECT_TRUE (test::pumpUntil ([&] { return (helper = webViewHelper()) != 0; }, 30000)) << "no helper";
    EXPECT_TRUE (test::pumpUntil ([&] { return pages.firstServed > 0 && view.lastUrl.isNotEmpty(); }, 30000))
        << "the page was not loaded";

    // The window goes with its browser's helper.
    window.reset();
    EXPECT_TRUE (helper == 0 || ! processExists (helper)) << "the helper outlived the window";
}

//==============================================================================
// A web view goes promptly, whatever became of its helper; each case in a process of its own, so that a hang or a
// signal shows as a failure of that case (a process ended by a signal has no output line after it).

static const char* const gone = "the web view is gone";

/** The helper of a new web view once its thread runs and its first events are handled; 0 when either is missing. */
static pid_t settledHelper()
{
    pid_t helper = 0;
    if (! test::pumpUntil ([&] { return webViewThread() != 0 && (helper = webViewHelper()) != 0; }, 30000))
        return std::puts ("no web view thread or helper"), 0;
    test::pumpFor (1000);
    return helper;
}

/** A web view with its browser (and helper) started. */
static std::unique_ptr<WebViewComponent> startedWebView()
{
    auto view = std::make_unique<WebViewComponent>();
    view->setVisible (true);
    test::pumpUntil ([&] { return view->hasBrowser(); }, 30000);
    return view;
}

/** The routine's end once its web view is deleted: the helper must have been reaped. */
static int endOnceReaped (pid_t helper)
{
    return processExists (helper) ? (std::puts ("the helper was not reaped"), 3) : (std::puts (gone), 0);
}

static test::ChildRoutine helperKilled ("web-view-helper-killed", []
{
    auto view = startedWebView();
    const auto helper = settledHelper();
    if (helper == 0)
        return 1;

    kill (helper, SIGKILL);
    if (! test::pumpUntil ([] { return webViewThread() == 0; }, 30000))
        return std::puts ("the web view's thread runs on without its helper"), 2;

    view->load ("http://127.0.0.1:9/");   // nobody to send it to: no SIGPIPE
    view.reset();
    return endOnceReaped (helper);
});

static test::ChildRoutine quitDuringPageEvent ("web-view-quit-during-page-event", []
{
    // The message loop does not run: the helper's report of its first page waits for it, and the web view's thread
    // waits (on a futex) until the message thread has handled it.
    auto view = startedWebView();
    int thread = 0, waiting = 0;
    for (int tries = 0; tries < 400 && waiting < 10; ++tries)
    {
        juce::Thread::sleep (50);
        thread = thread != 0 ? thread : webViewThread();
        waiting = thread != 0 && systemCallOf (thread) == SYS_futex ? waiting + 1 : 0;
    }
    if (waiting < 10)
        return std::puts ("the web view's thread never waited for the message thread"), 1;

    view.reset();            // quit() used to wait for that thread, which waited for this one
    test::pumpFor (500);     // the page's event, still queued, finds its web view gone
    return std::puts (gone), 0;
});

static test::ChildRoutine helperStopped ("web-view-helper-stopped", []
{
    auto view = startedWebView();
    const auto helper = settledHelper();
    if (helper == 0)
        return 1;

    kill (helper, SIGSTOP);   // answers nothing, not even SIGTERM: only SIGKILL ends it
    view.reset();
    return endOnceReaped (helper);
});

static test::ChildRoutine quitBeforeHelperWindow ("web-view-quit-before-helper-window", []
{
    // Deleted at once: the helper has not sent its window yet (it is still starting GTK and WebKit).
    auto view = startedWebView();
    view.reset();
    if (waitpid (-1, nullptr, WNOHANG) != -1 || errno != ECHILD)
        return std::puts ("the helper was not reaped"), 3;
    test::pumpFor (500);   // the thread's news of the helper's window, if any, finds the web view gone
    return std::puts (gone), 0;
});

TEST (WebViewComponent, GoesPromptlyWhateverBecameOfItsHelper)
{
    const struct { const char* routine; const char* helper; } table[] {
        { "web-view-quit-before-helper-window", "still starting: its window not sent yet" },
        { "web-view-helper-killed", "killed: the web view's thread ends, a page load sends nothing" },
        { "web-view-quit-during-page-event", "reporting a page the message thread has not handled yet" },
        { "web-view-helper-stopped", "answering nothing: sent SIGTERM then SIGKILL, and reaped" },
    };

    for (const auto& row : table)
    {
        const auto result = test::runChild (row.routine);
        EXPECT_TRUE (result.finished) << row.helper << ": hangs\n" << result.output;
        EXPECT_EQ (result.exitCode, 0) << row.helper << "\n" << result.output;
        EXPECT_TRUE (result.output.contains (gone)) << row.helper << "\n" << result.output;
    }
}

} // namespace olvo
