#pragma once

#include "DemoTaskbarComponent.h"
#include "MessageThreadWatch.h"

#include "mainwindow/MainComponent.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <vector>

namespace olvo
{

//==============================================================================
/**
    The application object: one instance at a time, started hidden as a menu-bar process with its icon.

    initialise builds the one main window (content: MainComponent, which starts the engine) and the menu-bar icon,
    then hides the window and makes the process menu-bar only. Without a tray host the icon waits for one to appear,
    and the window is shown at start instead, so the user is never locked out (and so it is when the tray does not
    take the icon, and kept within reach whenever the tray host goes).
    shutdown deletes the window, which stops the engine before JUCE and the statics are torn down; the menu's "Quit"
    ends the process at once instead (status 1).
*/
class TrayTestApplication : public juce::JUCEApplication
{
public:
    /** The content's options (seams for tests); the defaults are the application's. */
    explicit TrayTestApplication (MainComponent::Options contentOptions = {});
    ~TrayTestApplication() override;

    //==============================================================================
    const juce::String getApplicationName() override { return "OlvoAssistant"; }
    const juce::String getApplicationVersion() override { return "1.0.0"; }
    bool moreThanOneInstanceAllowed() override { return false; }

    void initialise (const juce::String& commandLine) override;
    void shutdown() override;

    /** A second launch exits at once (JUCE's single-instance lock); nothing is done here. */
    void anotherInstanceStarted (const juce::String&) override {}
    void systemRequestedQuit() override { quit(); }

    //==============================================================================
    /**
        The main window: the native title bar with a close button only, resizable (without a corner resizer) between
        300 x 200 and 2400 x 1600 at a fixed aspect ratio of 1.5. Closing it only hides it (with no menu-bar icon in
        a tray to bring it back, it is minimised instead). It owns the menu-bar icon.
    */
    class MainWindow : public juce::DocumentWindow,
                       private juce::AsyncUpdater
    {
    public:
        MainWindow (const juce::String& name, MainComponent::Options contentOptions);
        ~MainWindow() override;

        void closeButtonPressed() override;
        void resized() override;

        /** Brought to the front when it becomes visible, unless it is shown minimised. */
        void visibilityChanged() override;

        /** The menu-bar icon, docked while there is a tray host. */
        std::unique_ptr<DemoTaskbarComponent> taskbarIcon;

    private:
        void handleAsyncUpdate() override;

        int sizeCorrections = 0;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainWindow)
    };

    /** The main window, from initialise to shutdown. */
    std::unique_ptr<MainWindow> mainWindow;

private:
    MainComponent::Options contentOptions;

    /** Every image embedded in the program, decoded at start and held while the application runs: JUCE's image
        cache drops an image nobody holds after some 5 s, and decodes it again the next time it is asked for, on
        the message thread (1 to 10 ms each: in the pass that shows a new status, or in the window's first paint). */
    std::vector<juce::Image> embeddedImages;
    std::unique_ptr<MessageThreadWatch> messageThreadWatch;   // only for measurements (OLVO_WATCH_MESSAGE_THREAD)

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (TrayTestApplication)
};

//==============================================================================
/** The factory that the program's main gives JUCE's standard application main (JUCEApplicationBase::createInstance):
    a new TrayTestApplication with the application's own options. */
juce::JUCEApplicationBase* createTrayTestApplication();

} // namespace olvo
