#include "OlvoThread.h"

#include "Clock.h"
#include "DeviceProtocol.h"

namespace olvo
{

namespace
{
    constexpr int tickIntervalMs = 100;
    constexpr int64_t firmwareAttemptLeadMs = 30000;

    std::array<GroupLimits, 3> defaultLimits() { return {}; }
}

OlvoThread::OlvoThread()
    : juce::Thread ("OlvoThread")
{
    clearRegimen();
    limits.set (defaultLimits());

    const auto now = nowMs();
    windowStart = now;
    lastFirmwareAttempt = now - firmwareAttemptLeadMs;
}

OlvoThread::~OlvoThread()
{
    // An owner that forgot to stop the engine must not leave a thread running over a destroyed object.
    if (isThreadRunning())
    {
        signalThreadShouldExit();
        notify();
        stopThread (stopTimeoutMs);
    }

    // An engine whose steps were run without its thread still holds the device.
    if (! isThreadRunning() && device_is_open())
        device_close();
}

void OlvoThread::run()
{
    tickCount = 0;

    while (! threadShouldExit())
    {
        clock().waitOnThread (*this, tickIntervalMs);

        if (threadShouldExit())
            break;

        ++tickCount;
        tick();
    }

    // The engine is the only user of the device: let go of it when it stops.
    device_close();
    deviceOpen = false;
}

void OlvoThread::clearRegimen()
{
    for (auto* text : { &regimenName, &currentPhaseName, &delayOptions, &advancementMessage, &advancementTitle,
                        &welcomeMessage, &welcomeMessageTitle, &welcomeUrl })
        text->set ({});

    currentPhase = 0;
    phaseTotal = 0;
    currentPhaseDurationTotal = 0;
    currentPhaseRemaining = -999999;
    readyToAdvance = false;
    forceUpdate = false;

    juce::Array<PackageInfo> none;
    packages.set (std::move (none));
}

void OlvoThread::resetAfterDeviceLoss()
{
    appUpdate.set ({});
    firmwareUpdate = juce::var();
    serverMessage.set ({});

    clearRegimen();

    limits.set (defaultLimits());
    for (auto& rp : runParameters)
        rp = {};
    pollingIntervalFast = 0;
    pollingIntervalSlow = 0;
    fastPollingDuration = 0;
    slowPollingDuration = 0;
    lastPollAt = 0;

    fillerLink.set ({});
    fillerImage.set ({});
    fillerText.set ({});

    for (int i = 0; i < 3; ++i)
    {
        durationChanged[i] = false;
        levelChanged[i] = false;
        updateProgramChoice[i] = false;
    }
    packageChoicePending = false;
    slotClearMask = 0;
    serverTime = 0;

    treatmentType = juce::var();
    apiUrl.set ({});
    viewType.set ({});

    // A sync in progress belongs to the device that went: the next device must receive nothing meant for it.
    syncStep = 0;
    updatesPending = false;
    for (auto& descriptor : frequencyUpdates)
        descriptor = juce::var();
    regimenFlag = false;
    regimenAdvancementDelay = 0;
    firmwareFailureCount = 0;

    // A file refused by this device is tried afresh when it (or another) is plugged in.
    refusedSlotFiles = {};
    slotsGivenUp = 0;
}

void OlvoThread::resetWithoutDevice()
{
    deviceOpen = false;
    status = SyncStatus::noDevice;
    batteryVoltage = 0.0f;
    batteryTickCounter = 10;
    batteryValid = false;
    batteryCorrection = 0.1f;
    batteryFlags = 0;
    weakCounter = 0;
    logCount = 0;
    logTickCounter = 0;
    rtcOffset = 0;   // the offset is the clock of the device that went
    lastRtc = -1;
    for (auto& flag : levelChanged)
        flag = false;
}

} // namespace olvo
