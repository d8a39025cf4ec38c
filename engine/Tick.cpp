#include "OlvoThread.h"

#include "Clock.h"
#include "DeviceProtocol.h"
#include "JsonValues.h"

#include <cstdio>
#include <utility>

namespace olvo
{

namespace
{
    constexpr int64_t minimumWindowMs = 30 * 60 * 1000;
    constexpr uint8_t statusUnread = 42;   // put into byte 8 before a read: still there means nothing came
    constexpr int minimumStatusBytes = 60;
    constexpr int statusClockEnd = wire::statusClock + 4;

    juce::String slotGaveUpMessage()
    {
        return "Program download has failed after " + juce::String (OlvoThread::maxWritesOfARefusedFile)
               + " attempts.  Please disconnect and reconnect your device to try again.";
    }

    // An identity reply identifies the device only when it holds the whole identity: one cut before the UID would
    // read as UID zero (another device), one cut before the version as firmware 0.0.0.
    constexpr int identityMinBytes = 1 + wire::idsTertiary + 2;

    const uint8_t emptyName[wire::slotNameSize] {};

    void printLine (const juce::String& line)
    {
        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    juce::var erasedSlotDescriptor()
    {
        auto* d = new juce::DynamicObject();
        d->setProperty ("program_code", "0");
        d->setProperty ("program_name", "[Empty]");
        d->setProperty ("version_major", "0");
        d->setProperty ("version_minor", "0");
        return juce::var (d);
    }
}

//==============================================================================
int64_t OlvoThread::pollingWindowMs() const
{
    const int64_t sum = (int64_t) std::max (0, fastPollingDuration.load())
                      + (int64_t) std::max (0, slowPollingDuration.load());
    return sum > 1800 ? sum * 1000 : minimumWindowMs;
}

bool OlvoThread::anyChangePending() const
{
    for (int i = 0; i < 3; ++i)
        if (durationChanged[i] || levelChanged[i] || updateProgramChoice[i])
            return true;
    return packageChoicePending;
}

int OlvoThread::checkDevice()
{
    const auto now = nowMs();

    if (device_open() != 0)
    {
        windowStart = now;
        noDeviceAtLastCheck = true;
        return 0;
    }

    // The idle rule lets go of the device once nobody has used it for the polling window, but never in the middle
    // of a sync or a firmware update: those would be cut half-written. A device found where the last check found
    // none has just been plugged in: the user is there, even if the window went away a moment before (and took the
    // window's start back with it); letting it go would leave it unseen until it is plugged in again.
    const bool justPluggedIn = std::exchange (noDeviceAtLastCheck, false);

    if (now > windowStart.load() + pollingWindowMs() && syncStep == 0)
    {
        if (! justPluggedIn)
        {
            device_close();
            return 0;
        }

        windowStart = now;
    }

    DeviceIds ids;
    if (get_ids (ids.bytes) >= identityMinBytes)
    {
        deviceIds.set (ids);
        return 1;
    }

    device_close();

    if (device_open() != 0)
        return 0;

    const int n = get_ids (ids.bytes);
    deviceIds.set (ids);
    return n >= identityMinBytes ? 1 : -1;
}

void OlvoThread::sendSettingsRecord (uint8_t* record)
{
    record[wire::settingsBatteryRef] = 0;
    record[wire::settingsBatteryRef + 1] = 0;

    // A record that did not go out changed nothing: the report keeps what the device really holds.
    if (! send_settings (record))
        return;

    // What was sent is what the device now has: a second record in the same tick must start from it, not from the
    // status report read before the first. The battery reference is the device's own and stays as reported.
    statusReport.update ([record] (StatusReport& report)
    {
        auto* settings = report.deviceSettings();
        for (int i = 0; i < wire::settingsSize; ++i)
            if (i != wire::settingsBatteryRef && i != wire::settingsBatteryRef + 1)
                settings[i] = record[i];
    });
}

//==============================================================================
void OlvoThread::tick()
{
    const DeviceIds previousIds = deviceIds.unguarded();
    const int deviceState = checkDevice();

    if (deviceState <= 0)
    {
        if (deviceOpen)
            resetAfterDeviceLoss();

        resetWithoutDevice();
        return;
    }

    // Another device was plugged in between two ticks: nothing of the first one's sync may reach it. It arrives
    // as a new device does.
    if (deviceOpen && std::memcmp (previousIds.bytes + wire::idsUid, deviceIds.unguarded().bytes + wire::idsUid,
                                   4 * sizeof (uint32_t)) != 0)
    {
        resetAfterDeviceLoss();
        resetWithoutDevice();
    }

    if (! deviceOpen)
    {
        status = SyncStatus::connecting;
        pollRetry.reset();   // a device just plugged in is polled for at once
    }

    deviceOpen = true;

    if (! readStatus())
        return;

    pollStep();
    usageLogStep();
    syncSteps();

    // The firmware step found another device: the rest of this tick belongs to the next arrival.
    if (! deviceOpen)
        return;

    userSettingsStep();
    slotErasingStep();

    if (batteryTickCounter >= 9)
    {
        batteryTickCounter = 0;
        batteryStep();
    }
    else
    {
        ++batteryTickCounter;
    }
}

bool OlvoThread::readStatus()
{
    StatusReport report = statusReport.unguarded();
    report.bytes[wire::statusCodeBank] = statusUnread;

    const int n = read_status_report (report.bytes);

    if (n < minimumStatusBytes || report.bytes[wire::statusCodeBank] == statusUnread)
        return false;

    statusReport.set (report);
    return true;
}

void OlvoThread::pollStep()
{
    const int current = status;

    // Forced: a choice saved while up to date, a next-phase decision, or run values asked for with a poll.
    bool forced = false;
    if (current == SyncStatus::upToDate)
    {
        const bool dirty = choiceDirty.exchange (false);
        forced = dirty && (updateProgramChoice[0] || updateProgramChoice[1] || updateProgramChoice[2]
                           || packageChoicePending);
    }
    if (regimenAdvancementDelay != 0 || sendSlotValues > 1)
        forced = true;

    // Timed: on the schedule the server gave, held off while the user has an unsaved change.
    bool timed = false;
    const int fastInterval = pollingIntervalFast;
    if (current != SyncStatus::updating && fastInterval > 0 && ! isUserEditing())
    {
        const int64_t elapsed = (nowMs() - windowStart.load()) / 1000;
        const int64_t fastDuration = std::max (0, fastPollingDuration.load());
        const int64_t slowDuration = std::max (0, slowPollingDuration.load());
        const int slowInterval = pollingIntervalSlow;

        if (elapsed < fastInterval)
            lastPollAt = 0;

        const int64_t sinceLast = elapsed - lastPollAt.load();

        if (elapsed < fastDuration)
            timed = sinceLast >= fastInterval;
        else if (elapsed < fastDuration + slowDuration)
            timed = slowInterval > 0 && sinceLast >= slowInterval;

        if (timed)
            lastPollAt = (int32_t) std::min<int64_t> (elapsed, std::numeric_limits<int32_t>::max());
    }

    // The user's activity (the window moved the polling window's start on) gets an attempt at once.
    const int64_t activity = windowStart.load();
    if (activity > windowStartSeen)
        pollRetry.startAfresh();
    windowStartSeen = activity;

    // A poll in the middle of a sync would read the blanked slot names back: it waits until the sync has ended.
    if (! batteryValid || syncStep != 0)
        return;

    // Polled again until a poll succeeds: while connecting or without a connection, and after any poll of that kind
    // that failed, but at the pace of the retry policy. Polls on the schedule and forced ones go at once.
    const bool retry = current == SyncStatus::connecting || current == SyncStatus::noConnection || pollRetry.pending();

    if (! (forced || timed || (retry && pollRetry.due (nowMs()))))
        return;

    // A save due in this tick reaches the device before the poll. Polled first, the server would be told the old
    // values, and its reply's run values, which the sync writes into the device, would undo the save.
    if (settingsDirty && userSettingsStep())
        readStatus();   // the poll reports what the device now holds, whether or not the record went out

    int rc;
    if (forced)
    {
        status = SyncStatus::connecting;
        printLine ("non-poll: ns " + juce::String (status.load()) + " rs 1 nas " + juce::String (sendSlotValues.load()));
        rc = pollServer (true, false);
    }
    else if (! timed)
    {
        printLine ("non-poll: ns " + juce::String (current) + " rs 0 nas " + juce::String (sendSlotValues.load()));
        rc = pollServer (true, false);
    }
    else
    {
        rc = pollServer (true, true);
    }

    // Any answer but a reply the engine can use, or "nochange", is a failure. One on the schedule while nothing
    // was being retried leaves the retrying to the schedule, as its status does.
    if (rc >= 0 || rc == -4)
        pollRetry.reset();
    else if (forced || ! timed || pollRetry.pending())
        pollRetry.failed (nowMs(), PollRetry::capMs (pollingIntervalSlow));

    if (rc >= 0)
    {
        status = SyncStatus::updating;
        syncStep = 1;
        slotsGivenUp = 0;
    }
    else if (rc == -42)
    {
        status = SyncStatus::unknownDevice;
    }
    else if (rc == -1)
    {
        if (! timed || forced)
            status = SyncStatus::noConnection;
    }
    else if (rc == -2 || rc == -3)
    {
        status = SyncStatus::error;
    }
    else if (rc == -4)
    {
        if (status != SyncStatus::unknownDevice)
            status = SyncStatus::upToDate;
    }
    else
    {
        serverMessage.set ("Unknown JSON error");
        status = SyncStatus::error;
    }
}

void OlvoThread::usageLogStep()
{
    if (logTickCounter < 9 && syncStep != 8)
    {
        ++logTickCounter;
        return;
    }

    logTickCounter = 0;
    logCount = get_log (logWords, wire::logMaxWords);

    if (! device_is_open())
        return;

    // The clock is read once more for the offset; a failed read keeps the offset the log was last dated with.
    uint8_t local[wire::reportSize] {};
    if (read_status_report (local) > statusClockEnd)
        rtcOffset = nowMs() / 1000 - (int32_t) wire::getU32BE (local + wire::statusClock);
}

void OlvoThread::syncSteps()
{
    int step = syncStep;
    if (step <= 0)
        return;

    if (step <= wire::slotCount)
    {
        if (step == 1)
        {
            // A file the device has refused as often as it is tried is dropped here already: the names are not
            // blanked and written back for a sync that writes nothing.
            bool anyPending = false;
            for (int s = 0; s < wire::slotCount; ++s)
            {
                auto& descriptor = frequencyUpdates[s];
                if (slotFileGivenUp (s, descriptor))
                {
                    writeFrequencySlot (s, descriptor);   // notes the slot as given up
                    descriptor = juce::var();
                }
                anyPending = anyPending || json::isObject (descriptor);
            }

            // The device's names are blanked while its slots are rewritten, so a half-written slot never shows
            // the name of the file it held before.
            if (anyPending)
                for (unsigned s = 0; s < (unsigned) wire::slotCount; ++s)
                    set_filename (s, emptyName, 0, 0, 0);
        }

        while (step <= wire::slotCount && ! json::isObject (frequencyUpdates[step - 1]))
            ++step;

        syncStep = step;

        if (step <= wire::slotCount)
        {
            const juce::var descriptor = frequencyUpdates[step - 1];
            writeFrequencySlot (step - 1, descriptor);
            frequencyUpdates[step - 1] = juce::var();
            return;
        }
    }

    if (step == 7)
    {
        if (json::isObject (firmwareUpdate))
        {
            firmwareStep();
        }
        else
        {
            firmwareFailureCount = 0;
            syncStep = 8;
        }
    }
    else if (step == 8)
    {
        applyDeviceSettings (regimenFlag);
        regimenFlag = false;

        if (updatesPending)
            writeSlotNames();

        syncStep = 9;
    }
    else if (step >= 9)
    {
        // A page load in the web view during the sync asked for a poll: keep that request standing.
        int current = status;
        while (current != SyncStatus::noConnection && ! status.compare_exchange_weak (current, SyncStatus::upToDate))
        {
        }

        pollServer (false, false);
        applyDeviceSettings (regimenFlag);
        regimenFlag = false;

        // The sync went on without a file the device keeps refusing: say so, as a firmware that would not go in.
        if (std::exchange (slotsGivenUp, 0) != 0)
        {
            serverMessage.set (slotGaveUpMessage());
            int shown = SyncStatus::upToDate;
            status.compare_exchange_strong (shown, SyncStatus::error);
        }

        syncStep = 0;
        updatesPending = false;
    }
}

void OlvoThread::writeSlotNames()
{
    const auto table = slotTable.get();
    for (unsigned s = 0; s < (unsigned) wire::slotCount; ++s)
        set_filename (s, reinterpret_cast<const uint8_t*> (table.slotProgramName[s]), table.slotProgramCode[s],
                      table.slotVersionMajor[s], table.slotVersionMinor[s]);
}

bool OlvoThread::userSettingsStep()
{
    if (! settingsDirty.exchange (false))
        return false;

    uint8_t record[wire::settingsSize];
    std::memcpy (record, statusReport.unguarded().deviceSettings(), sizeof (record));

    const auto version = FirmwareVersion::of (deviceIds.unguarded());
    bool any = false;

    for (int i = 0; i < 3; ++i)
    {
        if (durationChanged[i].exchange (false))
        {
            const int at = firmware::durationByteOf (firmware::groupOfDurationField (i));
            record[at] = (uint8_t) (requestedDuration[i].low.load() & 0xFF);
            record[at + 1] = (uint8_t) (requestedDuration[i].high.load() & 0xFF);
            any = true;
        }
    }

    for (int group = 0; group < 3; ++group)
    {
        if (levelChanged[group].exchange (false))
        {
            record[firmware::levelByteOf (group)] = firmware::encodeLevel (version, requestedLevel[group]);
            any = true;
        }
    }

    if (any)
        sendSettingsRecord (record);

    return any;
}

void OlvoThread::slotErasingStep()
{
    // Not while a sync runs (its status may have been changed under it by a page load): the erase would take the
    // place of a file still to be written, and the poll it asks for would be lost when the sync ends.
    if (status == SyncStatus::updating || syncStep != 0)
        return;

    const int mask = slotClearMask.exchange (0);
    if (mask == 0)
        return;

    bool erased = false;

    for (int s = 0; s < wire::slotCount; ++s)
    {
        if ((mask & (1 << s)) == 0 || slotTable.unguarded().slotProgramCode[s] == 0)
            continue;

        frequencyUpdates[s] = erasedSlotDescriptor();
        writeFrequencySlot (s, frequencyUpdates[s]);
        frequencyUpdates[s] = juce::var();

        slotTable.update ([s] (SlotTable& t) { t.slotProgramCode[s] = 0; });
        set_filename ((unsigned) s, emptyName, 0, 0, 0);
        erased = true;
    }

    if (erased)
        status = SyncStatus::connecting;
}

} // namespace olvo
