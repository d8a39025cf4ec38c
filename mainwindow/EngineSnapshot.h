#pragma once

#include "DropdownRules.h"

#include "engine/FirmwareRules.h"
#include "engine/OlvoThread.h"

#include <juce_core/juce_core.h>

#include <array>
#include <cstdint>
#include <vector>

namespace olvo
{

//==============================================================================
/**
    What one pass of the main window's timer knows of the engine: one read of its guarded copies and atomics, taken
    at the start of the pass under the engine's lock, and one clock value for the whole pass. The worker stores a
    reply's parts one after another (choices, then regimen and packages, then limits), so a pass may see a reply
    half stored; every step reads this one copy, and the next pass sees the rest.

    The steps of the pass decide on this copy only. What the pass itself writes into the engine's requests it notes
    here too (noteOwnRequests), so that a later step of the same pass sees that the user is now editing.
*/
struct EngineSnapshot
{
    /** Reads the engine at `now` (the engine's clock). */
    static EngineSnapshot of (const OlvoThread& engine, int64_t now);

    /** Takes the engine's request flags again after the pass wrote some of them. */
    void noteOwnRequests (const OlvoThread& engine);

    /** userIsEditing of the request flags as read (and as the pass changed them). */
    bool editing() const { return userIsEditing (changePending, saveInFlight); }

    //==============================================================================
    int64_t now = 0;

    /** The engine's presence rule at `now` (open, or within the grace after a firmware attempt). */
    bool present = false;
    bool deviceOpen = false;
    int status = SyncStatus::noDevice;
    int syncStep = 0;

    /** Present only by the grace after a firmware attempt: the device is restarting, and the engine, which has let
        go of it, knows nothing of it meanwhile (no colours, no firmware, no settings, no slots). */
    bool restarting() const { return present && ! deviceOpen; }

    /** The firmware as text ("1.2.0", empty without an open device) and as numbers (as last identified). */
    juce::String firmwareText;
    FirmwareVersion firmware;

    /** The device's settings record and the program codes of its slots (all 0 while it is not open). */
    std::array<uint8_t, wire::settingsSize> settings {};
    loadedProgram::SlotCodes slotCodes {};

    /** Per program group: its colour (-1 not available), its program choices, its limits and its brightness range. */
    int32_t groupColours[3] {};
    std::array<std::vector<ProgramChoice>, 3> programChoices;
    std::array<GroupLimits, 3> limits;
    Range brightness[3];

    /** The user's requests: a change pending; a save of it in flight. */
    bool changePending = false;
    bool saveInFlight = false;
    bool updatesPending = false;

    float batteryLevel = -1.0f;
    uint8_t batteryFlags = 0;   ///< the engine's flags while the device is open and the reading valid, else 0

    /** The server's message (empty while the device is not open) and its application-update offer. */
    juce::String serverMessage;
    juce::var appUpdate;

    juce::Array<PackageInfo> packages;
    bool packageChoicePending = false;
    int chosenPackageIndex = 0;
    juce::String currentPackageLogo;

    int32_t currentPhase = 0, phaseTotal = 0, currentPhaseDurationTotal = 0, currentPhaseRemaining = 0;
    juce::String currentPhaseName, delayOptions, advancementMessage, advancementTitle, welcomeMessage;
    bool readyToAdvance = false, forceUpdate = false;
    int32_t regimenAdvancementDelay = 0;

    juce::String viewType, webAppUrl, webappLinkText, fillerLink, fillerText, fillerImage;
};

} // namespace olvo
