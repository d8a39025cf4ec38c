#include "EngineSnapshot.h"

namespace olvo
{

EngineSnapshot EngineSnapshot::of (const OlvoThread& engine, int64_t now)
{
    EngineSnapshot s;
    s.now = now;

    // The engine's lock is re-entrant: the guarded copies and the accessors below all take it inside this one hold,
    // so that the worker cannot replace a reply's values halfway through the read. Nothing here does I/O.
    const juce::ScopedLock sl (engine.lock);

    s.deviceOpen = engine.deviceOpen;
    s.present = engine.devicePresentAt (now);
    s.status = engine.status;
    s.syncStep = engine.syncStep;

    s.firmwareText = engine.getFirmwareVersionString();
    s.firmware = engine.firmwareVersion();
    s.settings = engine.deviceSettings();

    if (s.deviceOpen)
    {
        const auto table = engine.slotTable.get();
        std::copy (std::begin (table.slotProgramCode), std::end (table.slotProgramCode), s.slotCodes.begin());
    }

    engine.getGroupColours (s.groupColours);
    s.programChoices = engine.programChoices.get();
    s.limits = engine.limits.get();
    for (int g = 0; g < 3; ++g)
        engine.getBrightnessLimits (g, &s.brightness[g].lo, &s.brightness[g].hi);

    s.noteOwnRequests (engine);
    s.updatesPending = engine.updatesPending;

    s.batteryLevel = engine.getBatteryLevel();
    s.batteryFlags = s.deviceOpen && engine.batteryValid ? (uint8_t) (engine.batteryFlags & 0xff) : (uint8_t) 0;

    s.serverMessage = s.deviceOpen ? engine.serverMessage.get() : juce::String();
    s.appUpdate = engine.appUpdate.get();

    s.packages = engine.packages.get();
    s.packageChoicePending = engine.packageChoicePending;
    s.chosenPackageIndex = engine.chosenPackageIndex;
    engine.getCurrentPackageName (s.currentPackageLogo);

    s.currentPhase = engine.currentPhase;
    s.phaseTotal = engine.phaseTotal;
    s.currentPhaseDurationTotal = engine.currentPhaseDurationTotal;
    s.currentPhaseRemaining = engine.currentPhaseRemaining;
    s.currentPhaseName = engine.currentPhaseName.get();
    s.delayOptions = engine.delayOptions.get();
    s.advancementMessage = engine.advancementMessage.get();
    s.advancementTitle = engine.advancementTitle.get();
    s.welcomeMessage = engine.welcomeMessage.get();
    s.readyToAdvance = engine.readyToAdvance;
    s.forceUpdate = engine.forceUpdate;
    s.regimenAdvancementDelay = engine.regimenAdvancementDelay;

    s.viewType = engine.viewType.get();
    s.webAppUrl = engine.webAppUrl.get();
    s.webappLinkText = engine.webappLinkText.get();
    s.fillerLink = engine.fillerLink.get();
    s.fillerText = engine.fillerText.get();
    s.fillerImage = engine.fillerImage.get();

    return s;
}

void EngineSnapshot::noteOwnRequests (const OlvoThread& engine)
{
    changePending = engine.anyChangePending();
    saveInFlight = engine.saveInFlight();
}

} // namespace olvo
