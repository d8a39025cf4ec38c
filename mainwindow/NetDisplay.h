#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

/** The angle in degrees of the "updating" icon, shared by every status display: 0, 45, ... 315, 0. */
extern int updatingIconAngle;

//==============================================================================
/**
    The engine's status as a text and an icon; the icon turns while an update runs.

    The owner calls setState from its timer with the engine's status and update step, and sets the bounds. The label
    takes the look-and-feel's label colours and the regular application font.
*/
class NetDisplay : public juce::Component
{
public:
    NetDisplay();
    ~NetDisplay() override;

    //==============================================================================
    /** Shows a status: 0 "No Device", 1 "Connecting", 2 "No Connection", 3 "Updating (<step>)", 5 "Unknown Device",
        6 "ERROR", 7 "Up to Date", anything else "INVALID" with the error icon. A repeated status other than 3 changes
        nothing; status 3 rebuilds the text and turns the icon by 45 degrees on every call. */
    void setState (int status, int step);

    void paint (juce::Graphics&) override;
    void resized() override;

    //==============================================================================
    /** The last status shown; -1 at construction and after an unknown status. */
    int currentStatus = -1;

    juce::Label statusLabel;
    juce::ImageComponent statusIcon;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (NetDisplay)
};

} // namespace olvo
