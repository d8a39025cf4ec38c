#include "FakeTrayHost.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

namespace olvo::test
{

/** The host's own X connection, used by its own thread only once the selection is owned. */
struct FakeTrayHost::Connection
{
    Display* display = nullptr;
    Window window = 0;
    std::atomic<bool> stopping { false };
    std::thread embedder;

    /** Takes each icon that asks to be docked into a window of this client's, as a tray's notification area. */
    void embedIcons()
    {
        const auto opcode = XInternAtom (display, "_NET_SYSTEM_TRAY_OPCODE", False);
        while (! stopping)
        {
            while (XPending (display) > 0)
            {
                XEvent event {};
                XNextEvent (display, &event);

                constexpr long requestDock = 0;
                if (event.type != ClientMessage || event.xclient.message_type != opcode
                    || event.xclient.data.l[1] != requestDock)
                    continue;

                const auto icon = (Window) event.xclient.data.l[2];
                XSetWindowAttributes attributes {};
                attributes.override_redirect = True;
                const auto place = XCreateWindow (display, DefaultRootWindow (display), 1250, 0, 22, 22, 0,
                                                  CopyFromParent, InputOutput, CopyFromParent, CWOverrideRedirect,
                                                  &attributes);
                XAddToSaveSet (display, icon);   // when this host goes, the icon goes back to the root, as it came
                XReparentWindow (display, icon, place, 0, 0);
                XMapWindow (display, place);
                XMapWindow (display, icon);
                XSync (display, False);
            }
            std::this_thread::sleep_for (std::chrono::milliseconds (10));
        }
    }
};

FakeTrayHost::FakeTrayHost (Docking docking)
    : connection (std::make_unique<Connection>())
{
    auto& c = *connection;
    c.display = XOpenDisplay (nullptr);
    if (c.display == nullptr)
        return;

    const auto screen = DefaultScreen (c.display);
    c.window = XCreateSimpleWindow (c.display, RootWindow (c.display, screen), 0, 0, 1, 1, 0, 0, 0);
    const auto selection = XInternAtom (c.display, ("_NET_SYSTEM_TRAY_S" + std::to_string (screen)).c_str(), False);
    XSetSelectionOwner (c.display, selection, c.window, CurrentTime);

    // It tells the clients that it is there, as a tray host does once it holds the selection.
    XEvent manager {};
    manager.xclient.type = ClientMessage;
    manager.xclient.window = RootWindow (c.display, screen);
    manager.xclient.message_type = XInternAtom (c.display, "MANAGER", False);
    manager.xclient.format = 32;
    manager.xclient.data.l[0] = CurrentTime;
    manager.xclient.data.l[1] = (long) selection;
    manager.xclient.data.l[2] = (long) c.window;
    XSendEvent (c.display, RootWindow (c.display, screen), False, StructureNotifyMask, &manager);
    XSync (c.display, False);

    if (docking == Docking::embeds)
        c.embedder = std::thread ([&c] { c.embedIcons(); });
}

FakeTrayHost::~FakeTrayHost()
{
    if (connection->display == nullptr)
        return;

    connection->stopping = true;
    if (connection->embedder.joinable())
        connection->embedder.join();

    // The selection goes with its owner's window; the icons' places go with the connection (not destroyed here: that
    // would destroy the icons inside them).
    XDestroyWindow (connection->display, connection->window);
    XCloseDisplay (connection->display);
}

bool isMappedOnDisplay (void* windowHandle)
{
    if (windowHandle == nullptr)
        return false;

    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return false;

    XWindowAttributes attributes {};
    const bool mapped = XGetWindowAttributes (display, (Window) (uintptr_t) windowHandle, &attributes) != 0
                        && attributes.map_state != IsUnmapped;
    XCloseDisplay (display);
    return mapped;
}

std::optional<uint32_t> pixelOnDisplay (void* windowHandle, int x, int y)
{
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return std::nullopt;

    std::optional<uint32_t> colour;
    if (windowHandle != nullptr)
    {
        if (auto* image = XGetImage (display, (Window) (uintptr_t) windowHandle, x, y, 1, 1, AllPlanes, ZPixmap))
        {
            colour = (uint32_t) XGetPixel (image, 0, 0) & 0xffffffu;
            XDestroyImage (image);
        }
    }
    XCloseDisplay (display);
    return colour;
}

bool FakeTrayHost::isValid() const
{
    return connection->display != nullptr;
}

} // namespace olvo::test
