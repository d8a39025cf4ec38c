#pragma once

#include "engine/Clock.h"
#include "mainwindow/MainComponent.h"
#include "mainwindow/WebView.h"
#include "platform/Links.h"

#include <juce_gui_extra/juce_gui_extra.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace olvo::test
{

//==============================================================================
// The GUI tests' main (GuiTestMain.cpp) initialises JUCE's GUI and behaves as the application does (a standalone
// JUCE program: X error handlers, the web view's helper re-runs this executable). Tests run under an X server
// (scripts/test starts one); the message loop runs only when a test pumps it.

/** Runs the message loop until the condition holds; false when it did not within the time. The time is a guard
    against a hang, far above what any condition needs on a slow or loaded machine under the sanitizers. */
bool pumpUntil (const std::function<bool()>& condition, int timeoutMs = 30000);

/** Runs the message loop for the given time. */
void pumpFor (int ms);

/** The id of this process's thread of that name (its /proc comm); 0 when there is none. */
int threadNamed (const std::string& name);

/** The component as it paints itself (children included), at scale 1. */
juce::Image snapshot (juce::Component& component);

/** True when the two colours differ by at most the tolerance in every channel. */
bool near (juce::Colour a, juce::Colour b, int tolerance = 2);

/** The leftmost column, within x0..x1 (exclusive) and rows y0..y1, holding a pixel that differs from the background
    by more than the tolerance; -1 when none. */
int firstColumnDiffering (const juce::Image& image, juce::Colour background, int x0, int x1, int y0, int y1,
                          int tolerance = 40);

/** A plain left click at the component's origin, for handlers that take a mouse event. */
juce::MouseEvent clickOn (juce::Component& component);

//==============================================================================
/** A web view for window tests: records what it is asked to load and never starts a helper process. */
class StandInWebView : public juce::Component,
                       public WebView
{
public:
    juce::Component& getComponent() override { return *this; }
    void load (const juce::String& url) override { loadedUrls.add (url); }

    /** Plays a navigation as the browser reports one; answers whether it was allowed. */
    bool navigate (const juce::String& url) { return notePageAboutToLoad (url); }

    juce::StringArray loadedUrls;

    static WebView::Factory factory();
};

/** Options for a window under test: worker and timer stopped, a stand-in web view, an endpoint nobody answers, and
    an image fetcher that never reaches the network (every URL: no connection). */
MainComponent::Options windowTestOptions();

//==============================================================================
/** Dialogs a window would launch, captured instead of shown: the options as they were at the launch, and the
    content (taken over; its look-and-feel, recorded, is taken off it so that it may outlive the window). */
class DialogCapture
{
public:
    struct Launch
    {
        std::unique_ptr<juce::Component> content;
        juce::LookAndFeel* contentLookAndFeel = nullptr;
        juce::String title;
        juce::Colour background;
        bool escapeKeyTriggersCloseButton = false, useNativeTitleBar = false, resizable = true;
    };

    /** A launcher for MainComponent::Options::launchDialog that records into this capture; returns no window. */
    DialogLauncher launcher();

    std::vector<Launch> launches;
};

//==============================================================================
/** Holds the engine's clock (engine/Clock.h) still for the lifetime of the object: time moves only when the test
    advances it; sleeps and waits take real time. Install it while no engine thread runs. */
class ScopedManualClock : public Clock
{
public:
    ScopedManualClock();
    ~ScopedManualClock() override;

    int64_t nowMs() override { return now.load(); }
    void sleepMs (int ms) override;
    bool waitOnThread (juce::Thread& thread, int ms) override;

    void advance (int64_t ms) { now += ms; }

    std::atomic<int64_t> now;
};

//==============================================================================
/** Captures the links the application opens (after the link rule) instead of starting a browser. */
class ScopedLinkCapture
{
public:
    ScopedLinkCapture();
    ~ScopedLinkCapture();

    juce::StringArray links;

private:
    platform::LinkLauncher previous;
};

//==============================================================================
/** Code that a test runs in a child process of its own (a fresh copy of the test executable, with JUCE's GUI
    initialised): for what ends the process. Register at namespace scope:
        static olvo::test::ChildRoutine quit ("quit-now", [] { ...; return 0; });
*/
class ChildRoutine
{
public:
    ChildRoutine (const char* name, std::function<int()> body);
};

/** Runs a registered routine in a child process; its exit code and everything it wrote on standard output and
    standard error (both through one pipe, as a shell pipe would take them). */
struct ChildResult
{
    bool finished = false;
    int exitCode = -1;
    juce::String output;
};

ChildResult runChild (const char* name, int timeoutMs = 120000);

/** Called by the test main for --olvo-test-child <name>: runs the routine, returns its result (127 when unknown). */
int runChildRoutine (const char* name);

} // namespace olvo::test
