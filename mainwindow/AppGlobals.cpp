#include "AppGlobals.h"

#include "MainComponent.h"

#include "platform/ApplicationServices.h"

namespace olvo
{

juce::String launchCommandLine;
juce::DocumentWindow* currentMainWindow = nullptr;
bool menuBarIconInTray = false;

void showMainWindow()
{
    auto* window = currentMainWindow;
    if (window == nullptr)
        return;

    if (auto* content = dynamic_cast<MainComponent*> (window->getContentComponent()))
        content->windowRequest = MainComponent::WindowRequest::shown;

    window->setVisible (true);
    platform::transformProcessType (platform::ProcessType::foreground);

    if (! platform::isApplicationActive())
        platform::activateApplication (window);

    window->toFront (true);
}

void hideMainWindow()
{
    auto* window = currentMainWindow;
    if (window == nullptr)
        return;

    // A raise, due or to come, would bring back the window just put away (a minimised window counts as showing
    // until the window manager has taken it).
    if (auto* content = dynamic_cast<MainComponent*> (window->getContentComponent()))
    {
        content->raiseWindowPending = false;
        content->windowRequest = MainComponent::WindowRequest::putAway;
    }

    if (! menuBarIconInTray)
    {
        window->setMinimised (true);
        return;
    }

    window->setVisible (false);
    platform::hideApplication();
    platform::transformProcessType (platform::ProcessType::uiElement);
}

} // namespace olvo
