#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/** What the main window asks a popup to show: its kind (PopupKind) and four texts. */
struct PopupRequest
{
    int kind = 0;

    /** The page the action button opens; for the next-phase popup the delay options ("7:1 week;14:2 weeks;"). */
    juce::String urlOrChoices;

    juce::String message;

    /** Shown above the message; an empty heading gets the kind's default (see popupHeading). */
    juce::String heading;

    /** The page that the update popup's "DETAILS" opens. */
    juce::String link;
};

//==============================================================================
/**
    The content of a popup dialog: an application update, the next regimen phase (with a choice of delays), a
    configuration update or a warning.

    It draws the application icon, the heading and the message, and offers a dismiss button and an action button
    (and for the next phase the delay list). A button opens its link through the platform layer and ends the
    enclosing dialog with its result: -1 for ADVANCE, the chosen delay for LATER, 1 for every other button. Once it
    sits in a dialog window, it moves that window up by an eighth of its own height (once).

    Built by makePopup (Popups.h), which configures it and sizes it to the main window.
*/
class OlvoPopup : public juce::Component,
                  public juce::Button::Listener,
                  public juce::Timer
{
public:
    /** Both buttons visible ("LATER" and "UPDATE"), the delay list hidden, kind 0; the 10 ms timer running. */
    OlvoPopup();
    ~OlvoPopup() override;

    /** Takes the request's texts and kind, and sets the buttons' captions and visibility and the delay list. */
    void configure (const PopupRequest& request);

    //==============================================================================
    void paint (juce::Graphics&) override;
    void resized() override;
    void buttonClicked (juce::Button*) override;

    /** Moves the enclosing dialog window up by an eighth of the popup's height, once it has one; then stops. */
    void timerCallback() override;

    //==============================================================================
    /** The message laid out in the popup's message box for a popup of the given size: the regular application
        font at h x 24 / 400 over at most 10 lines, or, when that is taller than the box, at h x 20 / 400 over at
        most 12 lines. */
    static juce::GlyphArrangement layoutMessage (const juce::String& message, int width, int height);

    //==============================================================================
    juce::TextButton dismissButton, actionButton;
    int kind = 0;
    juce::String urlOrChoices, message, heading, link;
    juce::ComboBox delayBox;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OlvoPopup)
};

} // namespace olvo
