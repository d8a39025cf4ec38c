#pragma once

#include "BatteryDisplay.h"
#include "CollectionModel.h"
#include "NetDisplay.h"
#include "WebView.h"

#include "engine/OlvoThread.h"
#include "look/Fonts.h"
#include "look/MyCustomLookAndFeel.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

namespace olvo
{

//==============================================================================
/** How a MainComponent is built: seams for tests; the defaults are the application's. */
struct MainComponentOptions
{
    /** Start the worker thread (tests that drive the engine's fields themselves leave it stopped). */
    bool startWorker = true;

    /** Start the 500 ms timer (tests call timerCallback themselves). */
    bool startTimer = true;

    /** Makes the web view; empty: the real WebViewComponent (which starts a helper process). */
    WebView::Factory makeWebView;

    /** The device web API endpoint; empty: MainComponent::apiUrlFromEnvironment(). */
    juce::String apiUrl;
};

//==============================================================================
/**
    The main window's content: it owns the engine (the worker thread and the model it shares with the windows), the
    window's look-and-feel and the fonts every window uses, and it shows the engine's state.

    Construction loads and publishes the three faces, sets up the look-and-feel with the window's colours, builds the
    children, creates the engine with the API endpoint and starts it, sizes itself 702 x 468 and applies the "-v"
    start option from launchCommandLine. Destruction stops the worker (waiting for it), deletes it, takes the
    look-and-feel off every child and deletes it, and withdraws the fonts.

    The window reads the engine through its accessors and guarded copies and writes requests into its atomics. A
    window test builds it with Options that leave the worker and the timer stopped and give it a stand-in web view,
    sets engine fields, calls the timer pass (timerCallback) and reads what the children show.
*/
class MainComponent : public juce::Component,
                      private juce::Timer
{
public:
    /** Seams for tests (see MainComponentOptions). */
    using Options = MainComponentOptions;

    explicit MainComponent (Options options = {});
    ~MainComponent() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;

    /** One pass of the window's timer: shows the engine's status and battery. */
    void timerCallback() override;

    //==============================================================================
    /** The engine's endpoint for a value of OLVO_API_URL: the value when it is a plain absolute http(s) URL, the
        built-in default when it is empty; anything else is ignored with a line on standard error. */
    static juce::String chooseApiUrl (const juce::String& environmentValue);

    /** chooseApiUrl of the environment variable OLVO_API_URL. */
    static juce::String apiUrlFromEnvironment();

    /** Applies the start option: each token of the command line that begins with "-v" sets the engine's default
        view type to the rest of the token (a later one wins). Tokens are split at spaces, tabs and line breaks,
        except inside double quotes, which stay in the token. */
    static void applyStartOption (const juce::String& commandLine, OlvoThread& engine);

    //==============================================================================
    // Members, in the order they are built. The look-and-feel comes first so that it outlives every child even if
    // the explicit teardown changes; the published fonts after the fonts, so that the pointers go before them.

    /** The window's one look-and-feel: the main window, its lists and the dialogs it launches. */
    std::unique_ptr<MyCustomLookAndFeel> lookAndFeel;

    /** The embedded faces, published through appFontRegular, appFontLight and appFontBold. */
    juce::Font fontRegular, fontLight, fontBold;
    PublishedFonts publishedFonts;

    /** The engine; never null while the component exists. */
    std::unique_ptr<OlvoThread> thread;

    BatteryDisplay batteryDisplay;
    NetDisplay netDisplay;

    /** The program lists of the three program groups (models before their lists: a list must go first). */
    CollectionModel programListModels[3];
    juce::ListBox programLists[3];

    /** The web view (hidden until the server asks for it). */
    std::unique_ptr<WebView> webView;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};

} // namespace olvo
