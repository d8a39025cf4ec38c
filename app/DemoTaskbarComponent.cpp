#include "DemoTaskbarComponent.h"

#include "BinaryData.h"
#include "look/Palette.h"
#include "mainwindow/AppGlobals.h"
#include "platform/ApplicationServices.h"
#include "platform/MenuBarHost.h"

#include <cstdio>

namespace olvo
{

//==============================================================================
/** Docks the icon again until the tray has given it its full width: a tray busy with the first request can leave
    the icon 1 pixel wide, or leave its window to the window manager, which takes it for a top-level window. A tray
    that has not taken it after some 6 s never will (some refuse JUCE's icon): the icon goes, and the window shows,
    so that the user is not locked out. */
class DemoTaskbarComponent::Docking : private juce::Timer
{
public:
    explicit Docking (DemoTaskbarComponent& iconToDock) : icon (iconToDock) { startTimer (300); }
    ~Docking() override { stopTimer(); }

private:
    void timerCallback() override
    {
        if (platform::dockedIconWidth (icon.getWindowHandle()) >= iconSize)
        {
            stopTimer();
            icon.docked();
            return;
        }

        if (++attempts > maxAttempts)
        {
            stopTimer();
            icon.giveUpDocking();
            return;
        }

        icon.dock();
    }

    static constexpr int maxAttempts = 20;
    DemoTaskbarComponent& icon;
    int attempts = 0;
};

//==============================================================================
DemoTaskbarComponent::DemoTaskbarComponent()
{
    setMenuColours (menuLookAndFeel);
    setIconTooltip ("OlvoAssistant App");

    const auto trayAppeared = [this]
    {
        std::puts ("A system tray is there: docking the menu-bar icon");
        startDocking();
    };
    trayWatch = std::make_unique<platform::TrayHostWatch> (trayAppeared, [this] { trayGone(); });
    if (trayWatch->isTrayPresent())
        startDocking();
    else
        removeFromDesktop();   // JUCE's icon makes its window at once: none until a tray host is there
}

DemoTaskbarComponent::~DemoTaskbarComponent()
{
    menuBarIconInTray = false;
    trayWatch.reset();
    docking.reset();
    stopTimer();
    juce::PopupMenu::dismissAllActiveMenus();   // an open menu uses our look-and-feel
}

bool DemoTaskbarComponent::hasTrayHost() const
{
    return trayWatch->isTrayPresent();
}

void DemoTaskbarComponent::startDocking()
{
    // A fresh window: the one docked in a tray host that has gone may have been left on the desktop.
    menuBarIconInTray = false;
    docking.reset();
    if (isOnDesktop())
        removeFromDesktop();

    dock();
    docking = std::make_unique<Docking> (*this);
}

void DemoTaskbarComponent::dock()
{
    // The tray gives the icon the size its window asks for when it docks it (a tray may have shrunk it since).
    setSize (iconSize, iconSize);

    if (! isOnDesktop())
        addToDesktop (0);

    platform::setTrayIconSizeHints (getWindowHandle(), getWidth(), getHeight());
    setIconImage (juce::ImageCache::getFromMemory (BinaryData::trayIconColour_png, BinaryData::trayIconColour_pngSize),
                  juce::ImageCache::getFromMemory (BinaryData::trayIconTemplate_png,
                                                   BinaryData::trayIconTemplate_pngSize));
}

void DemoTaskbarComponent::docked()
{
    setMenuBarIconInTray (true);
}

void DemoTaskbarComponent::giveUpDocking()
{
    std::puts ("The system tray did not take the menu-bar icon: the window stays open instead");
    removeFromDesktop();   // a window manager may have taken its window for a top-level one

    if (currentMainWindow != nullptr && ! currentMainWindow->isVisible())
        showMainWindow();
}

void DemoTaskbarComponent::trayGone()
{
    std::puts ("The system tray has gone: the window stays within reach until the menu-bar icon docks again");

    docking.reset();
    removeFromDesktop();   // the tray host may have left its window on the desktop
    setMenuBarIconInTray (false);
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

void quitNow()
{
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();

    platform::exitNow (1);
}

} // namespace olvo
