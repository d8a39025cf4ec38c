#include "AppGlobals.h"

#include "MainComponent.h"

#include "platform/ApplicationServices.h"

namespace olvo
{

juce::String launchCommandLine;
juce::DocumentWindow* currentMainWindow = nullptr;
bool menuBarIconInTray = false;

namespace
{
    /** The main window was put away while no tray held the icon (so it was minimised), and not shown since. */
    bool putAwayWithoutTray = false;

    void notePutAway (juce::DocumentWindow& window)
    {
        // A raise, due or to come, would bring back the window just put away (a minimised window counts as
        // showing until the window manager has taken it).
        if (auto* content = dynamic_cast<MainComponent*> (window.getContentComponent()))
        {
            content->raiseWindowPending = false;
            content->windowRequest = MainComponent::WindowRequest::putAway;
        }
    }
}

void showMainWindow()
{
    auto* window = currentMainWindow;
    if (window == nullptr)
        return;

    if (auto* content = dynamic_cast<MainComponent*> (window->getContentComponent()))
        content->windowRequest = MainComponent::WindowRequest::shown;

    const bool wasVisible = window->isVisible();
    putAwayWithoutTray = false;
    platform::showWindow (*window, false);
    platform::transformProcessType (platform::ProcessType::foreground);

    // A window that has just become visible, and shows, was brought to the front with the keyboard focus by JUCE's
    // top-level window; once is enough (each time is a round trip to the X server). One that was visible already
    // may be minimised, or behind others: it is activated.
    if (! wasVisible && window->isShowing())
        return;

    if (platform::isApplicationActive())
        window->toFront (true);
    else
        platform::activateApplication (window);
}

void hideMainWindow()
{
    auto* window = currentMainWindow;
    if (window == nullptr)
        return;

    notePutAway (*window);

    if (! menuBarIconInTray)
    {
        putAwayWithoutTray = true;
        window->setMinimised (true);
        return;
    }

    platform::hideWindow (*window);
    platform::hideApplication();
    platform::transformProcessType (platform::ProcessType::uiElement);
}

void setMenuBarIconInTray (bool inTray)
{
    menuBarIconInTray = inTray;

    auto* window = currentMainWindow;
    if (window == nullptr)
        return;

    if (! inTray)
    {
        // Hidden, it could come back only with the device.
        if (! window->isVisible())
        {
            putAwayWithoutTray = true;
            notePutAway (*window);
            platform::showWindow (*window, true);
        }
        return;
    }

    // Unless the user has brought it back meanwhile.
    if (putAwayWithoutTray && window->isVisible() && window->isMinimised())
        hideMainWindow();
    putAwayWithoutTray = false;
}

} // namespace olvo
