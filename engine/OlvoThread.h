#pragma once

#include "DeviceFormats.h"
#include "FirmwareRules.h"
#include "Guarded.h"
#include "PollRetry.h"

#include <juce_core/juce_core.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <vector>

#ifndef OLVO_DEFAULT_API_URL
 #define OLVO_DEFAULT_API_URL "https://device-api.olvo.example/device/"
#endif

namespace olvo
{

//==============================================================================
/** The engine's status, shown by the status display. */
namespace SyncStatus
{
    enum : int
    {
        noDevice      = 0,
        connecting    = 1,
        noConnection  = 2,
        updating      = 3,
        unknownDevice = 5,
        error         = 6,
        upToDate      = 7
    };
}

/** One program offered for a program group. */
struct ProgramChoice
{
    int configId = 0;
    juce::String name, description;
    int freqFiles[2] { -1, -1 };
};

/** Brightness and duration limits of one program group (durations in minutes). */
struct GroupLimits
{
    int brightnessMin = 1, brightnessMax = 10, brightnessStart = 5;
    int durationMin = 1, durationMax = 9999, durationStart = 30;
};

/** One package offered to the user. */
struct PackageInfo
{
    int packageId = 0;
    int isCurrent = 0;
    juce::String brandName, presentationName, brandLogo, brandIcon;
};

/** What one device slot holds. */
struct SlotInfo
{
    char name[wire::slotNameSize] {};   ///< NUL-terminated unless 32 long: read it as at most 32 bytes
    int code = 0, major = 0, minor = 0;

    /** The name as text, never reading past its 32 bytes. */
    juce::String nameText() const { return juce::String (name, strnlen (name, sizeof (name))); }
};

/** The engine's table of the six device slots. */
struct SlotTable
{
    int32_t slotProgramCode[wire::slotCount] {};
    int32_t slotVersionMajor[wire::slotCount] {};
    int32_t slotVersionMinor[wire::slotCount] {};
    char slotProgramName[wire::slotCount][wire::slotNameSize] {};

    SlotInfo slot (int s) const
    {
        SlotInfo info;
        std::memcpy (info.name, slotProgramName[s], sizeof (info.name));
        info.code = slotProgramCode[s];
        info.major = slotVersionMajor[s];
        info.minor = slotVersionMinor[s];
        return info;
    }
};

/** A frequency-slot file whose write the device refused, and how often: the same file is not written for ever. */
struct RefusedSlotFile
{
    uint64_t fingerprint = 0;   ///< of the file's code, versions and content
    int failures = 0;           ///< writes of it that failed, while the device stays plugged in
};

/** Run parameters of one program group from the server; 0 means none. */
struct RunParameters
{
    int brightness = 0, duration = 0;
};

/** Low and high byte of a requested duration, as the settings record stores them. */
struct RequestedDuration
{
    std::atomic<int32_t> low { 0 }, high { 0 };
};

/** The user is editing: a change is pending and no save of it is in flight. While editing, the windows keep what
    the user chose and the worker holds back its timed polls; otherwise the windows mirror the device and the server.
    The one rule for both. */
constexpr bool userIsEditing (bool changePending, bool saveInFlight)
{
    return changePending && ! saveInFlight;
}

/** Kinds of popup the windows raise on the engine's news. */
namespace PopupKind
{
    enum : int { newApp = 1, nextPhase = 3, configurationUpdated = 4, warning = 5 };
}

//==============================================================================
/** The one worker thread and the model it shares with the windows.

    The worker opens the device, reads it, polls the device web API and writes what the server sends into the device,
    one 100 ms tick at a time. The windows read the members below and write requests into them; the worker consumes
    the requests on its next tick.

    Sharing rules: scalars and request flags are atomics (a window writes a value first, then its flag; the worker
    takes the flag with an exchange). Compound members are Guarded: written and read across threads under `lock`,
    which is never held over device or network I/O.
*/
class OlvoThread : public juce::Thread
{
public:
    //==============================================================================
    /** Sets every member to its default and empties the regimen; the owner starts the thread. */
    OlvoThread();

    /** Stops the thread (bounded) if the owner did not, and lets go of the device. */
    ~OlvoThread() override;

    /** The thread body: wait 100 ms, tick, until asked to exit. */
    void run() override;

    //==============================================================================
    // Tick state machine.

    /** One 100 ms step of the worker. */
    void tick();

    /** 1 device open and identified, 0 no device (or let go), -1 identification failed twice. */
    int checkDevice();

    /** Empties the regimen texts and numbers and the package list. */
    void clearRegimen();

    /** Falls back to the defaults when a device that was open has gone (run once per loss). */
    void resetAfterDeviceLoss();

    /** What every tick without a device sets. */
    void resetWithoutDevice();

    /** The idle window: the longer of 30 minutes and the fast plus slow polling durations, in ms. */
    int64_t pollingWindowMs() const;

    /** True while the user has a change that is not yet saved or sent. */
    bool anyChangePending() const;

    /** A save of the user's changes is requested and not yet done (choiceDirty or settingsDirty). */
    bool saveInFlight() const { return choiceDirty || settingsDirty; }

    /** userIsEditing of the engine's request flags. */
    bool isUserEditing() const { return userIsEditing (anyChangePending(), saveInFlight()); }

    /** Sends a settings record (battery reference zeroed) and, once it went out, takes it as the device's record
        from now on. */
    void sendSettingsRecord (uint8_t* record);

    /** Writes all six slot names from the slot table into the device (they were blanked while the slots were
        rewritten). */
    void writeSlotNames();

    // The steps of a tick, in their order.
    bool readStatus();
    void pollStep();
    void usageLogStep();
    void syncSteps();
    /** Writes the user's saved values when a save is due: true when a record was sent (or its send tried). A poll
        in the same tick runs it first, so that the poll reports the saved values. */
    bool userSettingsStep();
    void slotErasingStep();

    //==============================================================================
    // Device web API.

    /** One exchange with the web API: 1 (processed in full) or 0 (without the update keys), -1 no reply,
        -2 server error, -3 UID mismatch, -4 nochange, -42 warning. */
    int pollServer (bool process, bool allowNochange);

    /** The request body for a poll (consumes the pending requests); uidOut receives the "UID" text. */
    juce::var buildRequest (bool process, bool allowNochange, juce::String& uidOut);

    /** Applies a parsed reply to the engine and decides the poll's result. */
    int processReply (const juce::var& reply, const juce::String& replyUid, const juce::String& requestUid,
                      bool process);

    /** The "logs" object of the usage-log entries dated at or after threshold (device seconds). */
    juce::var buildLogsObject (int32_t threshold) const;

    /** Reads "regimen" and "packages_list" from a reply; true when the regimen has just advanced a phase. */
    bool parseRegimen (const juce::var& reply);

    //==============================================================================
    // Device writes.

    /** Writes one frequency-program file into a slot (0..5) and records it in the slot table. A file whose write
        the device has refused maxWritesOfARefusedFile times is not written again (until the device is plugged in
        again): the slot is noted in slotsGivenUp instead. */
    void writeFrequencySlot (int slot, const juce::var& descriptor);

    /** True when this descriptor is the file the device has refused for this slot as often as it is tried. */
    bool slotFileGivenUp (int slot, const juce::var& descriptor) const;

    /** How often one file is written into a slot that refuses it, while the device stays plugged in. */
    static constexpr int maxWritesOfARefusedFile = 3;

    /** Brings the device's settings record in line with the server's wishes; sends it when something differs. */
    void applyDeviceSettings (bool regimenFlagArg);

    /** Sync step 7: writes a pending firmware image into the device. */
    void firmwareStep();

    /** Refreshes the filtered battery voltage and its flags (every 10th tick). */
    void batteryStep();

    //==============================================================================
    // Accessors for the windows (message thread).

    /** How long after a firmware attempt a device that is not open still counts as present: it is restarting. */
    static constexpr int64_t firmwareRestartGraceMs = 5000;

    /** The device counts as present: open, or less than firmwareRestartGraceMs after a firmware attempt. The windows'
        one presence rule (getSerialNumber answers by it too). */
    bool devicePresentAt (int64_t now) const
    {
        return deviceOpen || now < lastFirmwareAttempt.load() + firmwareRestartGraceMs;
    }

    /** The serial text; true while a device is present (devicePresentAt; "Waiting" during the grace). */
    bool getSerialNumber (juce::String& text) const;

    /** major.minor.tertiary, or empty without a device. */
    juce::String getFirmwareVersionString() const;

    /** The brightness range of a program group; either pointer may be null. */
    void getBrightnessLimits (int group, int* min, int* max) const;

    /** Requests a brightness level for a program group (only while up to date). */
    void setBrightness (int group, int level);

    /** Hands the user's changes over to be saved (SAVE, and the window's automatic program choice): the settings
        record, the program choices, and the run values reported with a forced poll. The settings flag goes first:
        a worker that sees the forced poll then also sees the record to write before it, so the poll never reports
        the values the save replaces (which the server's reply would then write back). */
    void requestSave();

    /** ARGB colours of the three program groups; -1 marks a group that is not available. */
    void getGroupColours (int32_t colours[3]) const;

    /** The logo URL of the current (or chosen) package, or empty. */
    void getCurrentPackageName (juce::String& out) const;

    /** The index of the current package in a package list: the chosen index while a choice is pending (which may lie
        outside the list), else the first package marked current, else 0; -1 for an empty list. */
    static int currentPackageIndex (const juce::Array<PackageInfo>& packages, bool choicePending, int chosenIndex);

    /** Battery level 0..1, or -1 when there is no reading. */
    float getBatteryLevel() const;

    /** The device's firmware version as last identified. */
    FirmwareVersion firmwareVersion() const { return FirmwareVersion::of (deviceIds.get()); }

    /** The device's settings record: bytes 32..63 of the last status report (a copy, taken under the lock). */
    std::array<uint8_t, wire::settingsSize> deviceSettings() const
    {
        return statusReport.read ([] (const StatusReport& report)
        {
            std::array<uint8_t, wire::settingsSize> record;
            std::memcpy (record.data(), report.deviceSettings(), record.size());
            return record;
        });
    }

    //==============================================================================
    /** The engine's one lock, for the Guarded members below. */
    juce::CriticalSection lock;

    //==============================================================================
    // Pending updates from the server (worker only).
    juce::var frequencyUpdates[wire::slotCount];
    juce::var firmwareUpdate;
    Guarded<juce::var> appUpdate { lock };
    std::atomic<bool> updatesPending { false };
    Guarded<juce::String> serverMessage { lock };

    // The slot table.
    Guarded<SlotTable> slotTable { lock };

    // Slot files the device refused (worker only), and the slots given up on in this sync (bit s = slot s).
    std::array<RefusedSlotFile, wire::slotCount> refusedSlotFiles {};
    int slotsGivenUp = 0;

    // Usage log (worker only).
    uint32_t logWords[wire::logMaxWords] {};
    int64_t rtcOffset = 0;
    int32_t logCount = 0;

    // Device state.
    Guarded<DeviceIds> deviceIds { lock };
    Guarded<StatusReport> statusReport { lock };
    std::atomic<int32_t> tickCount { 0 };
    std::atomic<int32_t> status { SyncStatus::noDevice };
    std::atomic<int32_t> syncStep { 0 };

    // User requests: durations (indexed by settings field: 0 = group 1, 1 = group 0, 2 = group 2) and levels.
    std::atomic<bool> durationChanged[3] {};
    RequestedDuration requestedDuration[3];
    std::atomic<bool> levelChanged[3] {};
    std::atomic<int32_t> requestedLevel[3] {};

    // Battery.
    std::atomic<float> batteryVoltage { 3.65f };
    std::atomic<float> batteryCorrection { 0.1f };
    std::atomic<bool> batteryValid { false };
    std::atomic<int32_t> batteryFlags { 0 };
    std::atomic<int32_t> weakCounter { 0 };
    std::atomic<float> weakBatteryThreshold { 0.25f };

    juce::var treatmentType;   // worker only
    std::atomic<bool> deviceOpen { false };
    std::atomic<bool> writingSlot { false };
    std::atomic<int32_t> lastRtc { -1 };

    // Program choices.
    Guarded<std::array<std::vector<ProgramChoice>, 3>> programChoices { lock };
    std::atomic<bool> updateProgramChoice[3] {};
    std::atomic<int32_t> chosenConfigId[3] {};

    // Regimen.
    Guarded<juce::String> regimenName { lock }, currentPhaseName { lock }, delayOptions { lock },
                          advancementMessage { lock }, advancementTitle { lock }, welcomeMessage { lock },
                          welcomeMessageTitle { lock }, welcomeUrl { lock };
    std::atomic<int32_t> currentPhase { 0 }, phaseTotal { 0 }, currentPhaseDurationTotal { 0 },
                         currentPhaseRemaining { -999999 };
    std::atomic<bool> readyToAdvance { false }, forceUpdate { false };
    std::atomic<int32_t> regimenAdvancementDelay { 0 };

    // Limits, run parameters, schedule.
    Guarded<std::array<GroupLimits, 3>> limits { lock };
    RunParameters runParameters[3];   // worker only
    std::atomic<int64_t> serverTime { 0 };
    std::atomic<int32_t> pollingIntervalFast { 0 }, pollingIntervalSlow { 0 },
                         fastPollingDuration { 0 }, slowPollingDuration { 0 };
    std::atomic<int32_t> lastPollAt { 0 };

    // Packages.
    Guarded<juce::Array<PackageInfo>> packages { lock };
    std::atomic<bool> packageChoicePending { false };
    std::atomic<int32_t> chosenPackageIndex { 0 };

    // Save requests and sync flags.
    std::atomic<bool> settingsDirty { false };
    std::atomic<bool> choiceDirty { false };
    std::atomic<bool> regimenFlag { false };
    std::atomic<int32_t> sendSlotValues { 0 };
    std::atomic<int64_t> windowStart { 0 };
    std::atomic<int64_t> lastFirmwareAttempt { 0 };
    std::atomic<int32_t> slotClearMask { 0 };

    // Links and texts.
    Guarded<juce::String> helpUrl { lock }, helpButtonTooltip { lock }, apiUrl { lock },
                          defaultApiUrl { lock, OLVO_DEFAULT_API_URL }, webAppUrl { lock }, viewType { lock },
                          webappLinkText { lock }, defaultViewType { lock }, fillerImage { lock },
                          fillerLink { lock }, fillerText { lock };

    // Counters of the tick (worker only; members rather than process-wide so that each engine starts afresh).
    int logTickCounter = 0;
    int batteryTickCounter = 10;
    std::atomic<int> firmwareFailureCount { 0 };

    /** The last device check found no device: one found now has just been plugged in (worker only). */
    bool noDeviceAtLastCheck = false;

    /** When the next poll is made after polls that failed (worker only). */
    PollRetry pollRetry;

    /** The polling window's start as the poll step last saw it: a later one is the user's activity (worker only). */
    int64_t windowStartSeen = 0;

    //==============================================================================
    /** How long a stopping engine waits for its tick to end. */
    static constexpr int stopTimeoutMs = 15000;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (OlvoThread)
};

} // namespace olvo
