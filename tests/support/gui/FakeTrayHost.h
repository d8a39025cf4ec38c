#pragma once

#include <cstdint>
#include <memory>
#include <optional>

namespace olvo::test
{

/** Owns the tray selection (_NET_SYSTEM_TRAY_S<screen>) of the test display for as long as it lives, as a tray host
    does, without docking anything: enough for the application to believe a tray is there. */
class FakeTrayHost
{
public:
    FakeTrayHost();
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
