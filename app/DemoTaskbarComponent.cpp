#include "DemoTaskbarComponent.h"

#include "BinaryData.h"
#include "look/Palette.h"
#include "mainwindow/AppGlobals.h"
#include "platform/ApplicationServices.h"

namespace olvo
{

DemoTaskbarComponent::DemoTaskbarComponent()
{
    setMenuColours (menuLookAndFeel);

    const auto colourImage = juce::ImageCache::getFromMemory (BinaryData::trayIconColour_png,
                                                              BinaryData::trayIconColour_pngSize);
    const auto templateImage = juce::ImageCache::getFromMemory (BinaryData::trayIconTemplate_png,
                                                                BinaryData::trayIconTemplate_pngSize);

    // X11 trays dock the icon at the size its window has when it asks; a dock request sent before the message loop
    // has mapped anything leaves a 1-pixel-wide icon or none, so the icon asks again once the loop runs.
    setSize (22, 22);
    setIconImage (colourImage, templateImage);
    setIconTooltip ("OlvoAssistant App");

    juce::MessageManager::callAsync ([safe = juce::Component::SafePointer<DemoTaskbarComponent> (this),
                                      colourImage, templateImage]
    {
        if (safe != nullptr)
            safe->setIconImage (colourImage, templateImage);
    });
}

DemoTaskbarComponent::~DemoTaskbarComponent()
{
    stopTimer();
    juce::PopupMenu::dismissAllActiveMenus();   // an open menu uses our look-and-feel
}

void DemoTaskbarComponent::mouseDown (const juce::MouseEvent&)
{
    // macOS activates the application here; on X11 there is nothing to do before the menu opens.
    startTimer (50);
}

juce::PopupMenu DemoTaskbarComponent::createMenu()
{
    juce::PopupMenu menu;
    menu.setLookAndFeel (&menuLookAndFeel);
    menu.addItem (showItem, "Show OlvoAssistant", true, false);
    menu.addItem (quitItem, "Quit OlvoAssistant", true, false);
    return menu;
}

void DemoTaskbarComponent::timerCallback()
{
    stopTimer();

    createMenu().showMenuAsync (juce::PopupMenu::Options(),
                                juce::ModalCallbackFunction::forComponent (menuClosed, this));
}

void DemoTaskbarComponent::menuClosed (int result, DemoTaskbarComponent* icon)
{
    if (icon != nullptr)   // null when the icon has gone while the menu was open
        icon->menuItemChosen (result);
}

void DemoTaskbarComponent::menuItemChosen (int itemId)
{
    if (itemId == showItem)
        showMainWindow();
    else if (itemId == quitItem)
        quitNow();
}

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

void quitNow()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();

    platform::exitNow (1);
}

} // namespace olvo
