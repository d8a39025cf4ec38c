#pragma once

#include "Dialogs.h"
#include "OlvoPopup.h"

#include "engine/Clock.h"
#include "engine/OlvoThread.h"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

namespace olvo
{

//==============================================================================
// The main window's popups: what MainComponent::showPopup builds and launches, and what MainComponent::popupClosed
// does with a next-phase decision. Message thread only.

/** The window title's suffix and the heading of a popup. */
struct PopupTitles
{
    juce::String suffix, heading;
};

/** By kind: newApp "New App", nextPhase "Update Available", configurationUpdated "Configuration Updated", each with
    its default heading when the heading is empty; warning: the heading, "Error" when empty, is the suffix too; any
    other kind: "Unknown", with the heading "This is not the title" (which it does not draw). */
PopupTitles popupTitles (int kind, const juce::String& heading);

//==============================================================================
/** One choice of the next-phase popup's delay list. */
struct DelayOption
{
    int id = 0;            ///< the list's item id: the option's position in the text, from 1
    juce::String name;     ///< the item's text
    int value = 0;         ///< the delay handed to the server, above 0

    bool operator== (const DelayOption& o) const { return id == o.id && name == o.name && value == o.value; }
};

/** The delay that LATER hands on when the list offers nothing of the server's ("1 week"). */
constexpr int defaultDelay = 7;

/** The choices of a delay options text: tokens separated by ";", each a value, ":" and a name (text between double
    quotes is not split). A token's id is its position from 1, so a token that is left out still uses its id. Left
    out: a token without ":" or with an empty name, and one whose value is not a whole number above 0 (LATER never
    means "advance now"). Values saturate at the largest int. Without any choice left: "1 week" (id 1, value 7). */
juce::Array<DelayOption> parseDelayOptions (const juce::String& text);

/** What LATER hands on with the item id selected in the list: that option's value, or defaultDelay when the id is
    none of the options. Always above 0. */
int laterResult (const juce::String& delayOptionsText, int selectedId);

//==============================================================================
/** A popup configured for the request, with the look-and-feel, sized to 0.8 x the main window content's size. */
std::unique_ptr<OlvoPopup> makePopup (const PopupRequest& request, const juce::Component& mainContent,
                                      juce::LookAndFeel& lookAndFeel);

/** Builds the popup (makePopup) and launches it as the main window's dialogs are (launchDialog), titled by
    popupTitles. Returns the dialog window, null when the launcher made none. The caller tracks the window and,
    for a next-phase popup, attaches its modal callback (popupClosedFor). */
juce::DialogWindow* launchPopup (juce::DialogWindow::LaunchOptions& options, const PopupRequest& request,
                                 const juce::Component& mainContent, juce::LookAndFeel& lookAndFeel,
                                 const DialogLauncher& launcher = {});

//==============================================================================
/** Drops every change the user has not sent: durations, levels, program and package choices, and the slots that
    were to be erased (also when the server asked for the erase). The requested values stay as they are. */
void cancelUserRequests (OlvoThread& engine);

/** A device as the popups tell devices apart: the four words of its UID. */
using DeviceUid = std::array<uint32_t, 4>;

/** The UID of the device present now (the presence rule of getSerialNumber); nothing while none is. */
std::optional<DeviceUid> presentDeviceUid (const OlvoThread& engine);

/** What a closed next-phase popup does to the engine. Nothing for another kind, for result 0 (closed with its close
    button or Escape, or by the main window) or another value that is neither -1 (ADVANCE) nor a delay above 0, and
    nothing unless the device the popup was raised for (decidedFor, presentDeviceUid at its launch) is still the one
    present: a decision about one device's regimen never reaches the next, even one plugged in between two of the
    window's timer passes. Otherwise: the next offer waits 20 s (nextPhaseOffer = now + 20000), every pending user
    request is cancelled (cancelUserRequests) and the decision becomes the engine's regimenAdvancementDelay, which
    its next poll sends. Returns true when it acted. */
bool applyNextPhaseDecision (OlvoThread& engine, int result, int kind, const std::optional<DeviceUid>& decidedFor,
                             int64_t now, int64_t& nextPhaseOffer);

/** The body of MainComponent::popupClosed, the modal callback of a next-phase popup, bound to its owner with
    juce::ModalCallbackFunction::forComponent: JUCE calls it after the owner has been deleted too, with a null owner,
    and nothing happens then. Owner has `thread` (the engine, pointer-like), int64 `nextPhaseOffer` and
    `nextPhaseDevice` (the device the popup was raised for). */
template <typename Owner>
void popupClosedFor (int result, Owner* owner, int kind)
{
    if (owner == nullptr || owner->thread == nullptr)
        return;

    applyNextPhaseDecision (*owner->thread, result, kind, owner->nextPhaseDevice, nowMs(), owner->nextPhaseOffer);
}

} // namespace olvo
