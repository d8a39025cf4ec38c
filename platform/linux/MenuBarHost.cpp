#include "platform/MenuBarHost.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <string>

namespace olvo::platform
{

namespace
{
    Atom traySelection (Display* display)
    {
        const auto name = "_NET_SYSTEM_TRAY_S" + std::to_string (DefaultScreen (display));
        return XInternAtom (display, name.c_str(), False);
    }

    /** The bits of a resource id that name its X client: the same for every window one client creates. */
    unsigned long clientBitsMask()
    {
        unsigned long mask = 0;
        if (auto* connection = xcb_connect (nullptr, nullptr))
        {
            if (xcb_connection_has_error (connection) == 0)
                mask = ~(unsigned long) xcb_get_setup (connection)->resource_id_mask;
            xcb_disconnect (connection);
        }
        return mask;
    }

    /** The window's parent, or 0. */
    Window parentOf (Display* display, Window window)
    {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned int count = 0;
        if (XQueryTree (display, window, &root, &parent, &children, &count) == 0)
            return 0;
        if (children != nullptr)
            XFree (children);
        return parent;
    }
}

bool isTrayHostPresent()
{
    // A connection of our own: asked once at start, before the icon exists.
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return false;

    const bool owned = XGetSelectionOwner (display, traySelection (display)) != None;
    XCloseDisplay (display);
    return owned;
}

void setTrayIconSizeHints (void* iconWindow, int width, int height)
{
    if (iconWindow == nullptr)
        return;

    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return;

    if (auto* hints = XAllocSizeHints())
    {
        hints->flags = PMinSize | PBaseSize;
        hints->min_width = hints->base_width = width;
        hints->min_height = hints->base_height = height;
        XSetWMNormalHints (display, (Window) (uintptr_t) iconWindow, hints);
        XFree (hints);
    }

    XSync (display, False);
    XCloseDisplay (display);
}

int dockedIconWidth (void* iconWindow)
{
    if (iconWindow == nullptr)
        return 0;

    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return 0;

    int width = 0;
    const Window icon = (Window) (uintptr_t) iconWindow;
    const Window root = DefaultRootWindow (display);
    const Window tray = XGetSelectionOwner (display, traySelection (display));
    const Window parent = parentOf (display, icon);

    // Docked: inside a window of the tray host's own, not in a window manager's frame (a window manager may take
    // the icon's window for a top-level window before the tray has embedded it).
    const auto clientBits = clientBitsMask();
    XWindowAttributes attributes {};

    if (tray != None && parent != 0 && parent != root && clientBits != 0
        && (parent & clientBits) == (tray & clientBits)
        && XGetWindowAttributes (display, parent, &attributes) != 0 && attributes.map_state == IsViewable)
        width = attributes.width;

    XCloseDisplay (display);
    return width;
}

} // namespace olvo::platform
