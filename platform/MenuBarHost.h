#pragma once

namespace olvo::platform
{

/** True when a system tray can take the menu-bar icon.

    On Linux (X11) the icon is an XEmbed tray icon, which works only while a tray host owns the selection
    _NET_SYSTEM_TRAY_S<screen> (a panel's notification area, or trayer). Stock GNOME and a bare X server have none:
    then there is no icon, and the application must stay reachable through its window. False without an X display.
*/
bool isTrayHostPresent();

} // namespace olvo::platform
