#include "platform/ApplicationServices.h"

#include <cstdio>
#include <cstdlib>

namespace olvo::platform
{

namespace
{
    ProcessType processType = ProcessType::foreground;
}

void transformProcessType (ProcessType type)
{
    processType = type;
    std::printf ("Process type %d (%s)\n", (int) type,
                 type == ProcessType::uiElement ? "menu-bar only" : "foreground application");
}

ProcessType currentProcessType()
{
    return processType;
}

void hideApplication()
{
    juce::PopupMenu::dismissAllActiveMenus();

    for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
        if (auto* window = juce::TopLevelWindow::getTopLevelWindow (i))
            window->setVisible (false);
}

void activateApplication (juce::ResizableWindow* window)
{
    if (window == nullptr || ! window->isVisible())
        return;

    if (window->isMinimised())
        window->setMinimised (false);

    window->toFront (true);
}

bool isApplicationActive()
{
    return juce::Process::isForegroundProcess();
}

void exitNow (int status)
{
    std::fflush (stdout);
    std::fflush (stderr);
    std::_Exit (status);
}

} // namespace olvo::platform
