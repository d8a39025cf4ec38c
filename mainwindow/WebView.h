#pragma once

#include <juce_gui_extra/juce_gui_extra.h>

#include <functional>
#include <memory>

namespace olvo
{

//==============================================================================
/**
    What the main window needs of its web view: a component to place, a way to load a page, and the page-load latch
    that the window's timer reads and clears.

    Navigation is limited to http, https and about:blank; anything else (file:, javascript:, data:, custom schemes)
    is refused and latches nothing.

    The real one is WebViewComponent, whose browser starts a helper process once the view is first needed; tests
    give the window a stand-in through a Factory so that they never start one.
*/
class WebView
{
public:
    virtual ~WebView() = default;

    /** The component to add to the window. */
    virtual juce::Component& getComponent() = 0;

    /** Starts loading a page (subject to the navigation rule, like every other navigation). */
    virtual void load (const juce::String& url) = 0;

    /** True for a URL the view may navigate to: http, https or about:blank. */
    static bool isAllowedNavigation (const juce::String& url);

    /** Applies the navigation rule to a navigation about to start; latches an allowed one (pageLoadStarted,
        lastUrl) and answers whether it may go ahead. */
    bool notePageAboutToLoad (const juce::String& url);

    //==============================================================================
    /** Set by each allowed navigation (a redirect or a link click included) until the owner clears it. */
    bool pageLoadStarted = false;

    /** The URL of the last allowed navigation. */
    juce::String lastUrl;

    /** Makes the web view for a window. */
    using Factory = std::function<std::unique_ptr<WebView>()>;
};

//==============================================================================
/** The embedded browser (WebKit through JUCE), made the first time it is needed: when a page is first loaded or
    the view first shown. Making JUCE's browser forks a helper process that re-runs the executable (so the
    program's main must be JUCE's, or route --juce-gtkwebkitfork-child to it), and the helper starts WebKit's
    processes, some 350 MB, for as long as the browser lives: a window that never shows its web view starts none of
    them. Until then this is an empty component in the browser's place.

    The helper sends its window once it has started GTK and WebKit (JUCE's browser, as this build mends it, does not
    wait for it on the message thread); pages asked for before wait for it. On X11, JUCE maps the helper's window as
    soon as it is inside a window on the desktop, whether the browser is visible or not; the helper's window is
    taken out while this view is hidden and put back when shown. */
class WebViewComponent : public juce::Component,
                         public WebView,
                         private juce::AsyncUpdater
{
public:
    WebViewComponent();
    ~WebViewComponent() override;

    juce::Component& getComponent() override { return *this; }

    /** Loads the page; without a browser yet, once it is made. */
    void load (const juce::String& url) override;

    /** True once the browser, and with it its helper process, has been made: on the message thread's next turn
        after the first load or showing (not inside the caller's work: forking the helper holds the thread some
        milliseconds, and the first showing comes with the window's own). */
    bool hasBrowser() const { return browser != nullptr; }

    /** True once the helper has started and sent its window (shortly after the browser is made). */
    bool hasHelperWindow() const;

    /** True while the helper's window is placed in the view (it is when the view is visible and the helper has
        sent it). */
    bool isEmbeddedWindowAttached() const;

    /** Shown for the first time: makes the browser. */
    void visibilityChanged() override;
    void resized() override;

private:
    class Browser;

    void handleAsyncUpdate() override;

    std::unique_ptr<Browser> browser;

    /** The page asked for before the browser was made. */
    juce::String pendingUrl;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WebViewComponent)
};

} // namespace olvo
