// The main window's content: the image cache, the popups and the information dialog it launches, and the engine state
// its parts share.

#include "MainComponent.h"

#include "engine/Clock.h"
#include "look/Palette.h"
#include "windows/OlvoInfo.h"
#include "windows/Popups.h"

namespace olvo
{

juce::Image MainComponent::getImageForURL (const juce::String& url)
{
    return imageCache.get (url);
}

void MainComponent::showPopup (int kind, const juce::String& urlOrChoices, const juce::String& message,
                               const juce::String& heading, const juce::String& link)
{
    if (kind == PopupKind::nextPhase)
        nextPhaseDevice = presentDeviceUid (*thread);   // its decision is about this device only

    auto* window = launchPopup (popupOptions, { kind, urlOrChoices, message, heading, link }, *this, *lookAndFeel,
                                dialogLauncher);
    openPopups.add (window);

    if (window != nullptr && kind == PopupKind::nextPhase)
        juce::ModalComponentManager::getInstance()->attachCallback (
            window, juce::ModalCallbackFunction::forComponent (popupClosed, this, kind));
}

void MainComponent::popupClosed (int result, MainComponent* owner, int kind)
{
    popupClosedFor (result, owner, kind);
}

void MainComponent::openInformation()
{
    openInfoWindows.add (launchInfoWindow (infoOptions, *thread, *this, *lookAndFeel, dialogLauncher));
}

bool MainComponent::isBlockedByDialog() const
{
    return isCurrentlyBlockedByAnotherModalComponent();
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

} // namespace olvo
