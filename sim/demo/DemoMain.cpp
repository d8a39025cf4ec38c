// Runs the engine against the simulated device and the local web API and shows what happens: the engine's status
// as it syncs the device, one poll's request and result, and what the engine read from the device and wrote into it.
//
//   olvo-demo [--seconds N]
//
// OLVO_SIM_SCENARIO (see sim/device/README.md) can change the device further; it is read when the engine first
// opens the device.

#include "engine/DeviceProtocol.h"
#include "engine/OlvoThread.h"
#include "sim/device/SimDevice.h"
#include "sim/webapi/LocalWebApi.h"

#include <chrono>
#include <cstdio>
#include <thread>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    juce::String statusText (int status, int step)
    {
        switch (status)
        {
            case SyncStatus::noDevice:      return "No Device";
            case SyncStatus::connecting:    return "Connecting";
            case SyncStatus::noConnection:  return "No Connection";
            case SyncStatus::updating:      return "Updating (" + juce::String (step) + ")";
            case SyncStatus::unknownDevice: return "Unknown Device";
            case SyncStatus::error:         return "ERROR";
            case SyncStatus::upToDate:      return "Up to Date";
            default:                        return "INVALID";
        }
    }

    void say (const juce::String& line)
    {
        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    juce::String hex8 (uint32_t v) { return juce::String::toHexString ((juce::int64) v).paddedLeft ('0', 8); }

    juce::String slotLine (const SlotInfo& s, int index)
    {
        return "  slot " + juce::String (index) + ": \"" + s.nameText() + "\" code " + juce::String (s.code)
               + " version " + juce::String (s.major) + "." + juce::String (s.minor);
    }

    void setUpDevice()
    {
        SimDevice::reset();
        SimDevice::setSerial ("OLVO-DEMO-0042");
        SimDevice::setUid ({ 0x0001A2B3, 0x00C0FFEE, 0x12345678, 0x00000042 });
        SimDevice::setFirmwareVersion (1, 1, 4);   // older than the server's: the demo includes a firmware update
        SimDevice::setBattery (60500, 60800);
        SimDevice::setChargeState (0);
        SimDevice::setDeviceClock (1'700'000'000);
        SimDevice::setLogWords ({ 0x0000000A, 0xEE000001, 0x16553F10, 0x80000105, 0x70000000 | 0x6553F50,
                                  0x60030007, 0x26554010 });

        sim::SimSlotEntry entry;
        const char* name = "Factory program";
        std::memcpy (entry.name.data(), name, std::strlen (name));
        entry.code = 9;
        entry.major = 1;
        SimDevice::setSlotEntry (0, entry);
        SimDevice::plug();
    }
}

int main (int argc, char** argv)
{
    int seconds = 60;
    for (int i = 1; i + 1 < argc; ++i)
        if (juce::String (argv[i]) == "--seconds")
            seconds = juce::jmax (5, juce::String (argv[i + 1]).getIntValue());


    sim::LocalWebApi server;
    if (server.start() == 0)
    {
        say ("Could not start the local web API.");
        return 1;
    }
    say ("Local web API: " + server.url());

    setUpDevice();
    const auto version = SimDevice::firmwareVersion();
    say ("Simulated device plugged in: firmware " + juce::String (version[0]) + "." + juce::String (version[1]) + "."
         + juce::String (version[2]) + "; the server offers six program files and firmware 1.2.0");
    say ("");

    auto engine = std::make_unique<OlvoThread>();
    engine->defaultApiUrl.set (server.url());
    engine->startThread();

    const auto start = std::chrono::steady_clock::now();
    const auto deadline = start + std::chrono::seconds (seconds);
    juce::String shown;
    bool synced = false, wasUpdating = false;

    while (std::chrono::steady_clock::now() < deadline)
    {
        const int status = engine->status, step = engine->syncStep;
        const auto text = statusText (status, step);

        if (text != shown)
        {
            const double t = std::chrono::duration<double> (std::chrono::steady_clock::now() - start).count();
            say ("[" + juce::String (t, 1).paddedLeft (' ', 5) + " s] status: " + text);
            shown = text;
        }

        wasUpdating = wasUpdating || status == SyncStatus::updating;
        if (wasUpdating && status == SyncStatus::upToDate && step == 0)
        {
            synced = true;
            break;
        }

        std::this_thread::sleep_for (std::chrono::milliseconds (5));
    }

    juce::String serial;
    engine->getSerialNumber (serial);
    const auto firmware = engine->getFirmwareVersionString();
    const float batteryLevel = engine->getBatteryLevel();
    const float batteryVoltage = engine->batteryVoltage;

    engine->signalThreadShouldExit();
    engine->stopThread (OlvoThread::stopTimeoutMs);

    say ("");
    const auto requests = server.requests();
    if (! requests.empty())
    {
        say ("The first poll's request (" + juce::String ((int) requests.front().rawBody.size()) + " bytes):");
        say (requests.front().body);
        say ("Its reply: " + requests.front().reply);
        say (juce::String ((int) requests.size()) + " requests in all; the last reply: " + requests.back().reply);
        say ("");
    }

    const auto ids = engine->deviceIds.get();
    say ("What the engine read from the device:");
    say ("  serial " + serial + ", UID " + hex8 (ids.uidWord (0)) + ":" + hex8 (ids.uidWord (1)) + ":"
         + hex8 (ids.uidWord (2)) + ":" + hex8 (ids.uidWord (3)) + ", firmware " + firmware);
    const auto status = engine->statusReport.get();
    say ("  battery readings " + juce::String (wire::getU16LE (status.bytes + wire::statusBattery1)) + " and "
         + juce::String (wire::getU16LE (status.bytes + wire::statusBattery2)) + ": "
         + juce::String (batteryVoltage, 3) + " V, level " + juce::String (batteryLevel, 2));

    const auto table = engine->slotTable.get();
    for (int s = 0; s < wire::slotCount; ++s)
        say (slotLine (table.slot (s), s));

    juce::String words;
    for (int i = 0; i < engine->logCount; ++i)
        words << " " << hex8 (engine->logWords[i]);
    say ("  usage log: " + juce::String (engine->logCount) + " words:" + words);

    say ("");
    say ("What the device now holds:");
    const auto now = SimDevice::firmwareVersion();
    say ("  firmware " + juce::String (now[0]) + "." + juce::String (now[1]) + "." + juce::String (now[2])
         + (SimDevice::inBootLoader() ? " (boot loader)" : ""));
    int matching = 0;
    for (int s = 0; s < wire::slotCount; ++s)
    {
        const auto entry = SimDevice::slotEntry (s);
        const auto file = sim::LocalWebApi::programFile ((int) entry.code);
        bool same = entry.code != 0;
        for (int k = 0; k < wire::imageBlocks && same; ++k)
        {
            const auto block = SimDevice::block (wire::slotFirstBlock (s) + k);
            same = std::equal (block.begin(), block.end(), file.begin() + k * wire::blockSize);
        }
        matching += same ? 1 : 0;
        SlotInfo info;
        std::memcpy (info.name, entry.name.data(), sizeof (info.name));
        info.code = (int) entry.code;
        info.major = entry.major;
        info.minor = entry.minor;
        say (slotLine (info, s) + (same ? ", flash equals the server's file" : ""));
    }

    juce::String record;
    for (auto b : SimDevice::settings())
        record << juce::String::toHexString ((int) b).paddedLeft ('0', 2) << " ";
    say ("  settings record: " + record.trimEnd());
    say ("");
    say (synced ? "Sync complete: " + juce::String (matching) + " of 6 slots hold the server's files."
                : "The sync did not complete within " + juce::String (seconds) + " s.");

    server.stop();
    return synced ? 0 : 1;
}
