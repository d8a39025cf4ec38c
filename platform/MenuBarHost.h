#pragma once

namespace olvo::platform
{

/** True when a system tray can take the menu-bar icon.

    On Linux (X11) the icon is an XEmbed tray icon, which works only while a tray host owns the selection
    _NET_SYSTEM_TRAY_S<screen> (a panel's notification area, or trayer). Stock GNOME and a bare X server have none:
    then there is no icon, and the application must stay reachable through its window. False without an X display.
*/
bool isTrayHostPresent();

/** Gives the icon's window (a JUCE peer's native handle) its size as size hints, before it asks to be docked: the
    tray sizes the icon's place from them when it embeds it, and JUCE sets them only after asking. */
void setTrayIconSizeHints (void* iconWindow, int width, int height);

/** The width the tray gives a docked icon (the width of the window it was embedded into), 0 while the icon's window
    (a JUCE peer's native handle) is not docked. Trays embed asynchronously; one that was asked before it was
    ready may leave the icon 1 pixel wide. */
int dockedIconWidth (void* iconWindow);

} // namespace olvo::platform
