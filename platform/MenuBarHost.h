#pragma once

#include <functional>
#include <memory>

namespace olvo::platform
{

/** Gives the icon's window (a JUCE peer's native handle) its size as size hints, before it asks to be docked: the
    tray sizes the icon's place from them when it embeds it, and JUCE sets them only after asking. */
void setTrayIconSizeHints (void* iconWindow, int width, int height);

/** The width the tray gives a docked icon (the width of the window it was embedded into), 0 while the icon's window
    (a JUCE peer's native handle) is not docked. Trays embed asynchronously; one that was asked before it was
    ready may leave the icon 1 pixel wide. */
int dockedIconWidth (void* iconWindow);

/** Follows the system tray as a tray client does: it sees a tray host take the selection _NET_SYSTEM_TRAY_S<screen>
    (the MANAGER message a tray host sends to the root window once it has it) and the owner's window go (a panel
    restarted, crashed, a session change). Trays come and go on a Linux desktop, also after the application has
    started (autostart at login often runs before the panel).

    The callbacks run on the message thread: trayAppeared when a tray host has taken the selection (one that takes
    the place of another included), trayGone when the tray host has gone and none holds the selection. It reads the
    X server through a connection of its own, watched by JUCE's event loop. Message thread only. */
class TrayHostWatch
{
public:
    TrayHostWatch (std::function<void()> trayAppeared, std::function<void()> trayGone);
    ~TrayHostWatch();

    /** True while a tray host owns the selection, as last seen (false without an X display). */
    bool isTrayPresent() const;

private:
    struct State;
    std::shared_ptr<State> state;
};

} // namespace olvo::platform
