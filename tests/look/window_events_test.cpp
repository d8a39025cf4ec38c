// The events of a window (JUCE's Linux windowing, mended by cmake/patches/juce-linux-windows.patch): JUCE dispatched
// them only when its connection to the X server became readable, so an event its connection had already read while
// waiting for a reply (a property read, a sync) waited for the next one to arrive: on a quiet desktop, for ever.
#include "FakeTrayHost.h"
#include "GuiTestSupport.h"

#include <juce_gui_extra/juce_gui_extra.h>

#include <gtest/gtest.h>

#include <X11/Xlib.h>

namespace olvo
{

namespace
{
    /** A small window that counts the presses of a mouse button on it. */
    class PressedWindow : public juce::Component
    {
    public:
        PressedWindow()
        {
            setOpaque (true);
            setBounds (1200, 400, 60, 40);
            addToDesktop (0);
            setVisible (true);
        }

        void paint (juce::Graphics& g) override { g.fillAll (juce::Colours::grey); }
        void mouseDown (const juce::MouseEvent&) override { ++presses; }
        void mouseUp (const juce::MouseEvent&) override { ++releases; }

        int presses = 0, releases = 0;
    };

    /** Presses and releases the first mouse button on the window, as the X server would send them, from a connection
        of the test's own; returns once the X server has sent them on. */
    bool sendClick (Display* display, void* windowHandle)
    {
        const auto window = (Window) (uintptr_t) windowHandle;
        bool sent = true;
        for (const int type : { ButtonPress, ButtonRelease })
        {
            XEvent event {};
            event.xbutton.type = type;
            event.xbutton.window = window;
            event.xbutton.root = DefaultRootWindow (display);
            event.xbutton.time = CurrentTime;
            event.xbutton.x = 10;
            event.xbutton.y = 10;
            event.xbutton.same_screen = True;
            event.xbutton.button = Button1;
            event.xbutton.state = type == ButtonRelease ? Button1Mask : 0;
            sent = XSendEvent (display, window, False, type == ButtonPress ? ButtonPressMask : ButtonReleaseMask,
                               &event) != 0 && sent;
        }
        XSync (display, False);
        return sent;
    }
}

TEST (WindowEvents, AnEventReadWhileWaitingForAReplyIsDispatchedWithoutAnotherToFollow)
{
    Display* display = XOpenDisplay (nullptr);
    ASSERT_NE (display, nullptr);

    PressedWindow window;
    ASSERT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (window.getPeer()->getNativeHandle()); }));
    test::pumpFor (200);   // whatever the mapping brought has been dispatched

    for (int click = 1; click <= 3; ++click)
    {
        ASSERT_TRUE (sendClick (display, window.getPeer()->getNativeHandle()));

        // The click is on JUCE's connection before the reply to this property read: the read takes it off.
        EXPECT_FALSE (window.getPeer()->isMinimised());
        EXPECT_EQ (window.presses, click - 1);

        EXPECT_TRUE (test::pumpUntil ([&] { return window.releases == click; }))
            << "click " << click << " waits for another event to arrive";
        EXPECT_EQ (window.presses, click);
    }

    XCloseDisplay (display);
}

} // namespace olvo
