#include "GuiTestSupport.h"

#include "mainwindow/WebView.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <thread>

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

} // namespace olvo
