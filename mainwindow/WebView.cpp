#include "WebView.h"

#include <utility>

namespace olvo
{

bool WebView::isAllowedNavigation (const juce::String& url)
{
    return url.startsWithIgnoreCase ("http://") || url.startsWithIgnoreCase ("https://")
           || url.equalsIgnoreCase ("about:blank");
}

bool WebView::notePageAboutToLoad (const juce::String& url)
{
    if (! isAllowedNavigation (url))
        return false;

    lastUrl = url;
    pageLoadStarted = true;
    return true;
}

//==============================================================================
/** JUCE's browser, reporting its navigations to the view. */
class WebViewComponent::Browser : public juce::WebBrowserComponent
{
public:
    explicit Browser (WebView& owner)
        : juce::WebBrowserComponent (juce::WebBrowserComponent::Options {}),
          view (owner)
    {
    }

    ~Browser() override = default;   // JUCE's browser deletes the embedded component, attached or not

    bool pageAboutToLoad (const juce::String& newURL) override { return view.notePageAboutToLoad (newURL); }

    bool hasHelperWindow() const { return embeddedWindow != nullptr; }

    bool isEmbeddedWindowAttached() const
    {
        return embeddedWindow != nullptr && embeddedWindow->getParentComponent() == this;
    }

    /** Places the helper's window in the browser while shown, takes it out (which unmaps it) while hidden. */
    void showEmbeddedWindow (bool shouldShow)
    {
        shown = shouldShow;

        if (embeddedWindow == nullptr || shown == isEmbeddedWindowAttached())
            return;

        if (shown)
        {
            addAndMakeVisible (embeddedWindow);
            embeddedWindow->setBounds (getLocalBounds());
        }
        else
        {
            removeChildComponent (embeddedWindow);
        }
    }

    /** JUCE adds the component holding the helper's window (its one child) once the helper has started. */
    void childrenChanged() override
    {
        if (embeddedWindow != nullptr || getNumChildComponents() != 1)
            return;

        embeddedWindow = getChildComponent (0);
        showEmbeddedWindow (shown);
    }

private:
    WebView& view;

    /** JUCE's component holding the helper's window; null until the helper has started (or without WebKit). */
    juce::Component* embeddedWindow = nullptr;
    bool shown = false;
};

//==============================================================================
WebViewComponent::WebViewComponent() = default;

WebViewComponent::~WebViewComponent()   // the browser ends its helper
{
    cancelPendingUpdate();
}

void WebViewComponent::handleAsyncUpdate()
{
    if (browser != nullptr)
        return;

    // The helper's window is taken out before the browser joins a window on the desktop, unless it is to show.
    browser = std::make_unique<Browser> (*this);
    browser->showEmbeddedWindow (isVisible());
    browser->setBounds (getLocalBounds());
    addAndMakeVisible (*browser);

    if (pendingUrl.isNotEmpty())
        browser->goToURL (std::exchange (pendingUrl, {}));
}

void WebViewComponent::load (const juce::String& url)
{
    if (browser != nullptr)
    {
        browser->goToURL (url);
        return;
    }

    pendingUrl = url;
    triggerAsyncUpdate();
}

bool WebViewComponent::hasHelperWindow() const
{
    return browser != nullptr && browser->hasHelperWindow();
}

bool WebViewComponent::isEmbeddedWindowAttached() const
{
    return browser != nullptr && browser->isEmbeddedWindowAttached();
}

void WebViewComponent::visibilityChanged()
{
    if (browser != nullptr)
        browser->showEmbeddedWindow (isVisible());
    else if (isVisible())
        triggerAsyncUpdate();
}

void WebViewComponent::resized()
{
    if (browser != nullptr)
        browser->setBounds (getLocalBounds());
}

} // namespace olvo
