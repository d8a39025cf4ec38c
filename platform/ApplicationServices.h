#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo::platform
{

//==============================================================================
/** The macOS application services the windows rely on, in the form they take here.

    On macOS the application turns itself into a menu-bar-only process while its window is away and into a normal
    foreground application while it is shown, hides all its windows at once, and activates itself. On Linux (X11):
    - the process type has no effect: it is recorded (tests read it) and logged on standard output;
    - hiding hides our top-level windows (and dismisses open menus), not the menu-bar icon;
    - activating un-minimises the given window and brings it to the front with the keyboard focus; a window that
      is not visible stays hidden (raising it on X11 would map it again);
    - the application counts as active while one of its windows has the keyboard focus.
    Message thread only.
*/

/** The process types of macOS's TransformProcessType, with their values. */
enum class ProcessType
{
    foreground = 1,   ///< a normal application: Dock icon and menu bar
    uiElement = 4     ///< menu-bar only: no Dock icon
};

/** Turns the process into the given type: records it and writes one line on standard output. */
void transformProcessType (ProcessType type);

/** The type last given to transformProcessType (foreground, as for any new process, before the first call). */
ProcessType currentProcessType();

/** Hides every top-level window of the application and dismisses any open popup menu. */
void hideApplication();

/** Makes a window visible: as a normal window, or minimised (mapped as an icon of the window manager's: in its
    window list, not on the screen). How a window that is visible already shows is left as it is. */
void showWindow (juce::ResizableWindow& window, bool minimised);

/** Hides a window, also one that is minimised: such a window is not mapped, so that unmapping it (all JUCE does)
    would leave it minimised in the window manager's list; it is withdrawn. */
void hideWindow (juce::ResizableWindow& window);

/** True while showWindow makes this window visible minimised. JUCE's top-level window brings a window that becomes
    visible to the front, which would restore it: the window's visibilityChanged must not, meanwhile. */
bool isBeingShownMinimised (const juce::Component& window);

/** Activates the application on the given window: un-minimises it, brings it to the front and focuses it, if it is
    visible. Null does nothing. */
void activateApplication (juce::ResizableWindow* window);

/** True while one of the application's windows has the keyboard focus. */
bool isApplicationActive();

/** Ends the process at once with the given status, after flushing standard output and standard error (buffered
    lines would be lost in a pipe). No destructor, no shutdown code runs. */
[[noreturn]] void exitNow (int status);

} // namespace olvo::platform
