#pragma once

#include "look/MyCustomLookAndFeel.h"
#include "platform/MenuBarHost.h"

#include <juce_gui_extra/juce_gui_extra.h>

namespace olvo
{

//==============================================================================
/**
    The menu-bar icon and its menu: "Show OlvoAssistant" shows and activates the main window, "Quit OlvoAssistant"
    ends the process at once with status 1.

    On Linux this is an XEmbed tray icon, docked whenever a tray host is there: at start, when one appears later,
    and again when the tray host is replaced or restarts (platform::TrayHostWatch). While no tray holds it, it has no
    window of its own, and the main window stays reachable (setMenuBarIconInTray). A click anywhere on the icon
    opens the menu 50 ms later, at the mouse position. The menu's look-and-feel is owned here, one for all
    openings.
*/
class DemoTaskbarComponent : public juce::SystemTrayIconComponent,
                             private juce::Timer
{
public:
    /** The icon's side in pixels. */
    static constexpr int iconSize = 22;

    /** The menu's item ids. */
    enum MenuItem { showItem = 1, quitItem = 2 };

    DemoTaskbarComponent();
    ~DemoTaskbarComponent() override;

    /** True while a tray host is there to dock the icon (as the watch last saw it). */
    bool hasTrayHost() const;

    //==============================================================================
    /** Any button, anywhere on the icon: the menu opens 50 ms later. */
    void mouseDown (const juce::MouseEvent&) override;

    /** The menu, with its look-and-feel: two enabled, unticked items. */
    juce::PopupMenu createMenu();

    /** Acts on the menu's result: show the window, quit, or nothing (0: dismissed). */
    void menuItemChosen (int itemId);

    /** The look-and-feel of every menu this icon opens. */
    MyCustomLookAndFeel& getMenuLookAndFeel() noexcept { return menuLookAndFeel; }

private:
    void timerCallback() override;
    static void menuClosed (int result, DemoTaskbarComponent* icon);

    /** A tray host is there: docks the icon afresh, and checks that the tray takes it. */
    void startDocking();

    /** Asks the tray to dock the icon. */
    void dock();

    /** The tray has taken the icon. */
    void docked();

    /** The tray did not take the icon: it goes, and a hidden window shows instead. */
    void giveUpDocking();

    /** The tray host has gone, and with it the icon's place. */
    void trayGone();

    class Docking;
    MyCustomLookAndFeel menuLookAndFeel;
    std::unique_ptr<Docking> docking;
    std::unique_ptr<platform::TrayHostWatch> trayWatch;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (DemoTaskbarComponent)
};

//==============================================================================
/** The menu's "Quit" action: asks the application to quit, then ends the process at once with status 1 (standard
    output and error flushed first). */
[[noreturn]] void quitNow();

} // namespace olvo
