#include "platform/ApplicationServices.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace olvo::platform
{

namespace
{
    ProcessType processType = ProcessType::foreground;

    /** A connection of our own to the X server, opened once (the window is shown on the device's arrival, where
        opening one would cost the pass); null without a display. */
    Display* ownDisplay()
    {
        static Display* const display = XOpenDisplay (nullptr);
        return display;
    }

    const juce::Component* windowShownMinimised = nullptr;

    /** The window whose hints last asked to be mapped minimised (none: every window's ask for the normal state). */
    juce::Component::SafePointer<juce::Component> windowWithIconicHint;
}

void transformProcessType (ProcessType type)
{
    processType = type;
    std::printf ("Process type %d (%s)\n", (int) type,
                 type == ProcessType::uiElement ? "menu-bar only" : "foreground application");
}

ProcessType currentProcessType()
{
    return processType;
}

void hideApplication()
{
    juce::PopupMenu::dismissAllActiveMenus();

    for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
        if (auto* window = juce::TopLevelWindow::getTopLevelWindow (i))
            window->setVisible (false);
}

void showWindow (juce::ResizableWindow& window, bool minimised)
{
    // The state a window manager gives a window it maps from withdrawn is the one its hints ask for: one shown
    // minimised once must not come back minimised the next time.
    const bool hintToChange = minimised || windowWithIconicHint == &window;
    if (hintToChange && ! window.isVisible() && window.getWindowHandle() != nullptr)
    {
        if (Display* display = ownDisplay())
        {
            const auto handle = (Window) (uintptr_t) window.getWindowHandle();
            auto* hints = XGetWMHints (display, handle);
            if (hints == nullptr)
                hints = XAllocWMHints();

            if (hints != nullptr)
            {
                hints->flags |= StateHint;
                hints->initial_state = minimised ? IconicState : NormalState;
                XSetWMHints (display, handle, hints);
                XFree (hints);
            }

            XSync (display, False);   // before JUCE's connection maps it
            windowWithIconicHint = minimised ? &window : nullptr;
        }
    }

    windowShownMinimised = minimised ? &window : nullptr;
    window.setVisible (true);
    windowShownMinimised = nullptr;
}

void hideWindow (juce::ResizableWindow& window)
{
    const bool minimised = window.isVisible() && window.isMinimised();
    window.setVisible (false);

    if (Display* display = ownDisplay(); minimised && display != nullptr && window.getWindowHandle() != nullptr)
    {
        // The window manager withdraws a window that is not mapped on the unmap notice the client sends it.
        XWithdrawWindow (display, (Window) (uintptr_t) window.getWindowHandle(), DefaultScreen (display));
        XSync (display, False);
    }
}

bool isBeingShownMinimised (const juce::Component& window)
{
    return windowShownMinimised == &window;
}

void activateApplication (juce::ResizableWindow* window)
{
    if (window == nullptr || ! window->isVisible())
        return;

    if (window->isMinimised())
        window->setMinimised (false);

    window->toFront (true);
}

bool isApplicationActive()
{
    return juce::Process::isForegroundProcess();
}

void exitNow (int status)
{
    std::fflush (stdout);
    std::fflush (stderr);
    std::_Exit (status);
}

} // namespace olvo::platform
