#include "platform/MenuBarHost.h"

#include <juce_events/juce_events.h>   // before Xlib, whose macros JUCE's headers would not survive

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

    /** Runs X requests and tells whether the server refused one (a window gone meanwhile), keeping the error away
        from the process's X error handler (Xlib's default one ends the process). Message thread only. */
    bool succeeds (Display* display, const std::function<void()>& requests)
    {
        static bool failed = false;
        failed = false;

        XSync (display, False);
        auto* previous = XSetErrorHandler ([] (Display*, XErrorEvent*) { failed = true; return 0; });
        requests();
        XSync (display, False);
        XSetErrorHandler (previous);
        return ! failed;
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

//==============================================================================
struct TrayHostWatch::State
{
    ~State()
    {
        if (display != nullptr)
            XCloseDisplay (display);
    }

    /** The selection's owner now, with its window watched for its going (its DestroyNotify comes here). */
    Window watchOwner()
    {
        Window candidate = None;
        for (int attempt = 0; attempt < 3; ++attempt)
        {
            candidate = XGetSelectionOwner (display, selection);
            if (candidate == None)
                return None;

            // The owner may go between the requests: then watching it fails, or the selection has another owner.
            if (succeeds (display, [&] { XSelectInput (display, candidate, StructureNotifyMask); })
                && XGetSelectionOwner (display, selection) == candidate)
                break;
        }
        return candidate;
    }

    void handleEvents()
    {
        // Reading the owner again may queue more events, which the event loop would not see: until none is left.
        do
        {
            bool announced = false, ownerDestroyed = false;
            while (XPending (display) > 0)
            {
                XEvent event {};
                XNextEvent (display, &event);

                if (event.type == ClientMessage && event.xclient.message_type == manager
                    && (Atom) event.xclient.data.l[1] == selection)
                    announced = true;
                else if (event.type == DestroyNotify && owner != None && event.xdestroywindow.window == owner)
                    ownerDestroyed = true;
            }

            if (announced || ownerDestroyed)
                update (ownerDestroyed);
        }
        while (! stopped && XQLength (display) > 0);
    }

    void update (bool ownerDestroyed)
    {
        // A new tray host may have taken the selection by now, even with a window id like the old one's (the X
        // server hands a gone client's ids out again).
        const auto before = owner;
        owner = watchOwner();

        if (stopped)
            return;

        if (owner != None && (ownerDestroyed || owner != before))
            appeared();
        else if (owner == None && before != None)
            gone();
    }

    Display* display = nullptr;
    Atom selection = None, manager = None;
    Window owner = None;
    bool stopped = false;
    std::function<void()> appeared, gone;
};

TrayHostWatch::TrayHostWatch (std::function<void()> trayAppeared, std::function<void()> trayGone)
    : state (std::make_shared<State>())
{
    auto& s = *state;
    s.appeared = std::move (trayAppeared);
    s.gone = std::move (trayGone);

    s.display = XOpenDisplay (nullptr);
    if (s.display == nullptr)
        return;

    s.selection = traySelection (s.display);
    s.manager = XInternAtom (s.display, "MANAGER", False);

    // The root window's messages first, then the owner: a tray host that comes in between is not missed.
    XSelectInput (s.display, DefaultRootWindow (s.display), StructureNotifyMask);
    s.owner = s.watchOwner();

    // The event loop may still call a callback it has taken up after this watch has gone: it finds no state then.
    const std::weak_ptr<State> weak = state;
    const auto handle = [weak]
    {
        if (auto alive = weak.lock())
            alive->handleEvents();
    };
    juce::LinuxEventLoop::registerFdCallback (ConnectionNumber (s.display), [handle] (int) { handle(); });

    // Events read already wait in the connection's queue, where the event loop does not see them.
    juce::MessageManager::callAsync (handle);
}

TrayHostWatch::~TrayHostWatch()
{
    state->stopped = true;
    if (state->display != nullptr)
        juce::LinuxEventLoop::unregisterFdCallback (ConnectionNumber (state->display));
}

bool TrayHostWatch::isTrayPresent() const
{
    return state->owner != None;
}

} // namespace olvo::platform
