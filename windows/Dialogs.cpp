#include "Dialogs.h"

namespace olvo
{

juce::DialogWindow* launchDialog (juce::DialogWindow::LaunchOptions& options, std::unique_ptr<juce::Component> content,
                                  const juce::String& titleSuffix, juce::LookAndFeel& lookAndFeel,
                                  const DialogLauncher& launcher)
{
    const auto contentSize = content->getLocalBounds();

    options.content.setOwned (content.release());
    options.dialogTitle = "OlvoAssistant - " + titleSuffix;
    options.dialogBackgroundColour = lookAndFeel.findColour (juce::ResizableWindow::backgroundColourId);
    options.escapeKeyTriggersCloseButton = true;
    options.useNativeTitleBar = true;
    options.resizable = false;

    auto* window = launcher ? launcher (options) : options.launchAsync();

    // JUCE sizes the window for its own title bar and border and then switches to the native title bar, which
    // leaves the content that much larger than it was made: give it its size back, centred as before.
    if (window != nullptr && window->getContentComponent() != nullptr
        && window->getContentComponent()->getLocalBounds() != contentSize)
    {
        window->setContentComponentSize (contentSize.getWidth(), contentSize.getHeight());
        window->centreAroundComponent (options.componentToCentreAround, window->getWidth(), window->getHeight());
    }

    return window;
}

//==============================================================================
void OpenDialogs::add (juce::DialogWindow* window)
{
    if (window == nullptr)
        return;

    windows.removeIf ([] (const auto& w) { return w == nullptr; });
    windows.add (window);
}

int OpenDialogs::size() const
{
    int count = 0;
    for (const auto& w : windows)
        if (w != nullptr)
            ++count;
    return count;
}

void OpenDialogs::closeAll (int result)
{
    // A dialog's modal callback may launch another: work on a copy, and forget only what was there.
    const auto toClose = windows;
    windows.clear();

    for (auto w : toClose)
    {
        if (w == nullptr)
            continue;

        if (w->isCurrentlyModal (false))
            w->exitModalState (result);
        else
            w.deleteAndZero();   // not in the modal manager's hands: nobody else would delete it
    }
}

void OpenDialogs::deleteAll()
{
    const auto toDelete = windows;
    windows.clear();

    for (auto w : toDelete)
        w.deleteAndZero();
}

} // namespace olvo
