#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace olvo::test
{

/** Owns the tray selection (_NET_SYSTEM_TRAY_S<screen>) of the test display for as long as it lives, as a tray host
    does, and says so to the clients (the MANAGER message on the root window). By default it docks nothing, as a tray that refuses an icon: enough for the application to believe a tray
    is there. With Docking::embeds it takes every icon that asks into a 22 x 22 window of its own, as a tray does. */
class FakeTrayHost
{
public:
    enum class Docking { refuses, embeds };

    explicit FakeTrayHost (Docking docking = Docking::refuses);
    ~FakeTrayHost();

    /** False when the display could not be opened. */
    bool isValid() const;

private:
    struct Connection;
    std::unique_ptr<Connection> connection;
};

/** True when the X window (a JUCE peer's native handle) is mapped on the test display, as the X server sees it. */
bool isMappedOnDisplay (void* windowHandle);

/** The colour (0xRRGGBB) of a pixel of the X window as the X server shows it, read back from the test display (a
    24-bit TrueColor screen, as Xvfb's); nothing when it cannot be read. */
std::optional<uint32_t> pixelOnDisplay (void* windowHandle, int x, int y);

} // namespace olvo::test
