#include "platform/MenuBarHost.h"

#include <X11/Xlib.h>

#include <string>

namespace olvo::platform
{

bool isTrayHostPresent()
{
    // A connection of our own: the question is asked once at start, before the icon exists.
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return false;

    const auto selection = "_NET_SYSTEM_TRAY_S" + std::to_string (DefaultScreen (display));
    const Atom atom = XInternAtom (display, selection.c_str(), False);
    const bool owned = XGetSelectionOwner (display, atom) != None;

    XCloseDisplay (display);
    return owned;
}

} // namespace olvo::platform
