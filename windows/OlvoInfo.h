#pragma once

#include "engine/OlvoThread.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/** The device-information window's content (an empty shell for now): the main window launches it in a dialog and
    hands it the engine. Its 500 ms timer starts with it. */
class OlvoInfo : public juce::Component,
                 public juce::Button::Listener,
                 public juce::Timer
{
public:
    OlvoInfo();
    ~OlvoInfo() override;

    void buttonClicked (juce::Button*) override;
    void timerCallback() override;

    /** The engine, set by the launcher; not owned. */
    OlvoThread* thread = nullptr;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OlvoInfo)
};

} // namespace olvo
