#include "AppGlobals.h"

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
