#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

/** The application's command-line arguments, stored by the application object before the main window's content is
    built (which reads its "-v" option). Message thread only. */
extern juce::String launchCommandLine;

/** The main window while the application runs (set by the application object, null before and after): the
    menu-bar icon's menu and the main window's timer show, hide and raise it through this. Message thread only. */
extern juce::DocumentWindow* currentMainWindow;

/** True while the menu-bar icon sits in a tray, where its menu can show a hidden main window again (set by the
    icon through setMenuBarIconInTray). Message thread only. */
extern bool menuBarIconInTray;

/** The icon has docked in a tray (true), or has no tray now (false: the tray host has gone, or refused the icon).
    Without a tray the main window must stay reachable: one put away (hidden) is shown minimised, in the window
    manager's window list. With a tray again, a window that was put away while there was none, and is still
    minimised, is put away into the tray once more. Message thread only. */
void setMenuBarIconInTray (bool inTray);

/** Shows the main window (currentMainWindow): makes it visible, makes the process a foreground application,
    activates it if it is not active and brings the window to the front. The menu's "Show" and the device's arrival
    do this. Nothing without a main window. */
void showMainWindow();

/** Hides the main window (currentMainWindow) with the whole application and makes the process menu-bar only. The
    window's close button and the device's going do this. Without an icon in a tray (none, or one the tray did not
    take), a hidden window could come back only with the device: it is minimised instead and stays in the window
    list. Either way the timer raises it no more until it is shown again. Nothing without a main window. */
void hideMainWindow();

} // namespace olvo
