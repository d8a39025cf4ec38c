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

    The real one is WebViewComponent, whose construction starts a helper process; tests give the window a stand-in
    through a Factory so that they never start one.
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
/** The embedded browser (WebKit through JUCE). Its construction forks a helper process that re-runs the executable,
    so the program's main must be JUCE's (or route --juce-gtkwebkitfork-child to it).

    On X11, JUCE maps the helper's window as soon as the browser is inside a window on the desktop, whether the
    browser is visible or not; this one takes that window out while it is hidden and puts it back when shown. */
class WebViewComponent : public juce::WebBrowserComponent,
                         public WebView
{
public:
    WebViewComponent();
    ~WebViewComponent() override;

    juce::Component& getComponent() override { return *this; }
    void load (const juce::String& url) override { goToURL (url); }

    /** The navigation rule and the latch (see WebView). */
    bool pageAboutToLoad (const juce::String& newURL) override;

    /** True while the helper's window is placed in this component (it is when the component is visible). */
    bool isEmbeddedWindowAttached() const;

    void visibilityChanged() override;

private:
    void updateEmbeddedWindow();

    /** JUCE's component holding the helper's window (the browser's one child); null without WebKit. */
    juce::Component* embeddedWindow = nullptr;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (WebViewComponent)
};

} // namespace olvo
