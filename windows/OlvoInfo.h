#pragma once

#include "Dialogs.h"

#include "engine/OlvoThread.h"
#include "mainwindow/BatteryDisplay.h"
#include "mainwindow/NetDisplay.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/**
    The content of the information dialog: the device's serial number, its firmware version, the application's
    version and the programs in the device's six slots, with the application icon, the information symbol, the logo
    banner, the battery gauge, the connection status and a "DONE" button.

    Its 500 ms timer rebuilds the text from the engine (through its accessors and guarded copies), updates the
    gauge and the status, and closes the dialog when the device goes. It does nothing while `thread` is null; the
    launcher (launchInfoWindow) sets it. A test builds it with an engine whose worker is not started, stops the
    timer, sets the engine's fields and calls timerCallback.
*/
class OlvoInfo : public juce::Component,
                 public juce::Button::Listener,
                 public juce::Timer
{
public:
    /** Builds the children (the text empty until the first tick) and starts the 500 ms timer. */
    OlvoInfo();
    ~OlvoInfo() override;

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;

    /** "DONE" ends the enclosing dialog with 1. */
    void buttonClicked (juce::Button*) override;

    /** One pass: text, editor font, battery (and the close when the device has gone), status. */
    void timerCallback() override;

    //==============================================================================
    /** The engine; not owned, null until the launcher sets it. */
    OlvoThread* thread = nullptr;

    juce::TextEditor infoText;
    juce::TextButton doneButton;
    BatteryDisplay batteryDisplay;
    NetDisplay netDisplay;

    /** The battery level seen by this window's previous pass; -1 before the first. A level that turns negative
        after a reading (the device has gone) closes the dialog. Kept per window: a level left over from an earlier
        window would close a new one opened without a device at once. */
    float lastInfoBatteryLevel = -1.0f;

private:
    void applyEditorFont (float heightOver400Factor, float fallbackFactor);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OlvoInfo)
};

//==============================================================================
/** Launches the information dialog as the main window's Information button does: a new OlvoInfo with the
    look-and-feel and the engine, the main window content's size, titled "OlvoAssistant - Information" (see
    launchDialog). Returns the dialog window, null when the launcher made none. */
juce::DialogWindow* launchInfoWindow (juce::DialogWindow::LaunchOptions& options, OlvoThread& engine,
                                      const juce::Component& mainContent, juce::LookAndFeel& lookAndFeel,
                                      const DialogLauncher& launcher = {});

} // namespace olvo
