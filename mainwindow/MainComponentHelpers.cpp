// The main window's content: the image cache, the dialogs it launches, and the engine state its parts share.

#include "MainComponent.h"

#include "engine/Clock.h"
#include "look/Palette.h"

namespace olvo
{

juce::Image MainComponent::getImageForURL (const juce::String& url)
{
    return imageCache.get (url);
}

juce::DialogWindow* MainComponent::launchDialog (juce::DialogWindow::LaunchOptions& options)
{
    openDialogs.removeIf ([] (const auto& window) { return window == nullptr; });

    auto* window = dialogLauncher (options);
    if (window != nullptr)
        openDialogs.add (window);
    return window;
}

void MainComponent::closeOpenDialogs()
{
    // A dialog launched asynchronously belongs to JUCE's modal manager, which lets go of one that is deleted.
    for (auto& window : openDialogs)
        if (auto* w = window.getComponent())
            delete w;

    openDialogs.clear();
}

bool MainComponent::devicePresent() const
{
    constexpr int64_t firmwareRestartGraceMs = 5000;
    return thread->deviceOpen || nowMs() < thread->lastFirmwareAttempt + firmwareRestartGraceMs;
}

void MainComponent::noteUserActivity()
{
    if (thread != nullptr)
        thread->windowStart = nowMs();
}

MainLayout MainComponent::currentLayout() const
{
    GroupMask available = 0;
    for (int g = 0; g < 3; ++g)
        if (uiPalette[g] != 0xffffffffu)
            available |= 1 << g;

    return computeMainLayout (getWidth(), getHeight(), available);
}

loadedProgram::SlotCodes MainComponent::slotCodes() const
{
    loadedProgram::SlotCodes codes {};
    if (thread->deviceOpen)
        thread->slotTable.read ([&codes] (const SlotTable& table)
        {
            std::copy (std::begin (table.slotProgramCode), std::end (table.slotProgramCode), codes.begin());
            return 0;
        });
    return codes;
}

} // namespace olvo
