#include "FakeTrayHost.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <string>

namespace olvo::test
{

struct FakeTrayHost::Connection
{
    Display* display = nullptr;
    Window window = 0;
};

FakeTrayHost::FakeTrayHost()
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
    XSync (c.display, False);
}

FakeTrayHost::~FakeTrayHost()
{
    if (connection->display == nullptr)
        return;

    XDestroyWindow (connection->display, connection->window);   // the selection goes with its owner's window
    XCloseDisplay (connection->display);
}

bool isMappedOnDisplay (void* windowHandle)
{
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr || windowHandle == nullptr)
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
