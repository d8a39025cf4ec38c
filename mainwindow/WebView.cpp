#include "WebView.h"

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

WebViewComponent::WebViewComponent()
    : juce::WebBrowserComponent (juce::WebBrowserComponent::Options {})
{
    if (getNumChildComponents() == 1)
        embeddedWindow = getChildComponent (0);

    updateEmbeddedWindow();
}

WebViewComponent::~WebViewComponent() = default;   // JUCE's browser deletes the embedded component, attached or not

bool WebViewComponent::isEmbeddedWindowAttached() const
{
    return embeddedWindow != nullptr && embeddedWindow->getParentComponent() == this;
}

void WebViewComponent::visibilityChanged()
{
    juce::WebBrowserComponent::visibilityChanged();
    updateEmbeddedWindow();
}

void WebViewComponent::updateEmbeddedWindow()
{
    if (embeddedWindow == nullptr || isVisible() == isEmbeddedWindowAttached())
        return;

    if (isVisible())
    {
        addAndMakeVisible (embeddedWindow);
        embeddedWindow->setBounds (getLocalBounds());
    }
    else
    {
        removeChildComponent (embeddedWindow);   // unmaps the helper's window
    }
}

bool WebViewComponent::pageAboutToLoad (const juce::String& newURL)
{
    return notePageAboutToLoad (newURL);
}

} // namespace olvo
