#pragma once

#include <memory>

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

} // namespace olvo::test
