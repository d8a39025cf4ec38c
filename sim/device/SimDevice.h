#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace olvo::sim
{

//==============================================================================
/** One program slot as the device keeps it (what set_filename stores and get_filename returns). */
struct SimSlotEntry
{
    std::array<uint8_t, 32> name {};    ///< raw name bytes, not necessarily NUL-terminated
    uint32_t code = 0;                  ///< program code
    uint8_t major = 0;                  ///< program version major
    uint8_t minor = 0;                  ///< program version minor

    bool operator== (const SimSlotEntry& other) const
    {
        return name == other.name && code == other.code && major == other.major && minor == other.minor;
    }
};

/** One report the host sent to the device: a feature report (a command) or an output report. */
struct SimCommand
{
    uint8_t code = 0;                       ///< device byte 0
    std::array<uint8_t, 64> bytes {};       ///< the 64 device bytes (after the report id)
    int64_t timeMs = 0;                     ///< sim time when it arrived
    bool isOutputReport = false;            ///< true for hid_write, false for hid_send_feature_report
};

/** An answer the device is about to give, as an answer filter sees it (see SimDevice::setAnswerFilter). */
struct SimAnswer
{
    bool isStatusReport = false;            ///< a status report (feature report 0) rather than a reply
    uint8_t command = 0;                    ///< the command a reply answers (0 for a status report)
    std::array<uint8_t, 64> bytes {};       ///< the 64 device bytes
    int length = 64;                        ///< the data bytes the host's read gets (0..64)
    bool drop = false;                      ///< a reply that never arrives (not for status reports)
};

/** How often the host called into the simulated hidapi since the last reset(). */
struct SimCounters
{
    int initCalls = 0;          ///< hid_init
    int exitCalls = 0;          ///< hid_exit
    int opens = 0;              ///< hid_open calls that returned a handle
    int refusedOpens = 0;       ///< hid_open calls that returned NULL
    int closes = 0;             ///< hid_close on a known handle
    int featureSends = 0;       ///< hid_send_feature_report accepted by a live handle
    int outputReports = 0;      ///< hid_write accepted by a live handle
    int statusReads = 0;        ///< hid_get_feature_report answered by a live handle
    int reads = 0;              ///< hid_read and hid_read_timeout calls
    int bootLoaderRestarts = 0; ///< restarts (after a code-bank switch) that came back as the boot loader
    std::array<int, 256> commands {};   ///< feature reports accepted, by command code (unlike the command log, never
                                        ///< trimmed: for counting over long runs)
};

//==============================================================================
/**
    The one simulated treatment device of this process, seen from the test's side.

    The library also defines hidapi's C functions (hid_init, hid_open, hid_read, hid_send_feature_report, ...) over
    this device, so code written against <hidapi.h> talks to it when linked against this library instead of the real
    hidapi. The device answers every command as the device does; tests arrange its state and faults here and then
    look at what the host did to it.

    Time: everything time-driven (the restart after a code-bank switch, slow block completion, timed scenario lines)
    reads the clock given to setClock() and is evaluated lazily on each call, here or through hidapi; no thread runs
    in the background. All members are safe to call from any thread while another thread uses the hidapi functions.
*/
class SimDevice
{
public:
    SimDevice() = delete;

    //==============================================================================
    /** Back to a new device: unplugged, serial "OLVO-SIM-0001", UID {0x12AB, 0, 0xFFFFFFFF, 1}, firmware 1.2.0, normal
        mode, flash all 0xFF, slots empty, settings zero, no faults, logs and counters empty. Handles still open become
        gone (reads return -1) but stay valid for hid_close. The clock given to setClock() is kept. */
    static void reset();

    /** Sets the time source in milliseconds (any epoch, must not run backwards); an empty function restores the
        default monotonic real clock. Called with the device's lock held: it must not call back into the device. */
    static void setClock (std::function<int64_t()> nowMs);

    /** The sim time now, in milliseconds, from the clock in force. */
    static int64_t now();

    //==============================================================================
    /** Attaches the device to the bus, in the mode it was in when it was unplugged. */
    static void plug();

    /** Detaches it: every open handle is gone for good, an unfinished block write is lost. */
    static void unplug();

    /** True while the device is attached (including while it restarts after a code-bank switch). */
    static bool isPlugged();

    /** True while the device can be opened: attached and not in the middle of a restart. */
    static bool isPresent();

    /** How many handles the host holds open (hid_open or hid_open_path, not yet hid_close). */
    static int openHandleCount();

    /** Unplugs the device right after the n-th further feature-report command has been handled (0 = off). */
    static void unplugAfterCommands (int n);

    /** Unplugs the device once flash block n has been committed, right after the next feature-report command (the
        one that finished the block, unless a slow completion finished it on a status read); -1 = off. Once. */
    static void unplugAfterBlock (int block);

    /** Unplugs the device as the next feature-report command with this code arrives, before the device takes it:
        the host's send fails (0 = off). Once. */
    static void unplugOnCommand (uint8_t code);

    /** While true the device is present but cannot be opened, as one the user has no permission for: hid_enumerate
        lists it, hid_open and hid_open_path return NULL and hid_error (NULL) says "Permission denied". */
    static void refuseOpen (bool shouldRefuse);

    /** The restart after a code-bank switch: detach this long after the command, attach this long after detaching. */
    static void setRestartDelays (int detachMs, int attachMs);

    //==============================================================================
    /** Sets the serial text (at most 32 characters are kept). */
    static void setSerial (const std::string& serial);

    /** Sets the four UID words. */
    static void setUid (std::array<uint32_t, 4> uid);

    /** Sets the version of the normal firmware (what get_ids reports outside the boot loader). */
    static void setFirmwareVersion (int major, int minor, int tertiary);

    /** The version of the normal firmware as {major, minor, tertiary}. */
    static std::array<int, 3> firmwareVersion();

    /** Puts the device straight into its boot loader (true) or normal firmware (false), without a restart. */
    static void setBootLoaderMode (bool bootLoader);

    /** True while the device runs (or, unplugged, will start in) its boot loader. */
    static bool inBootLoader();

    //==============================================================================
    /** Sets the first and second battery readings of the status report. */
    static void setBattery (uint16_t first, uint16_t second);

    /** Sets the device's own battery reference reading (settings bytes 21..22 of the status report). */
    static void setBatteryReference (uint16_t reference);

    /** Sets the charge-state byte (1 charging, 3 weak). */
    static void setChargeState (uint8_t state);

    /** Sets the device clock in seconds; from now on it advances with the sim clock. */
    static void setDeviceClock (int32_t seconds);

    /** The device clock now, in seconds. */
    static int32_t deviceClock();

    /** Sets the device's usage log (any length; the host reads it 15 words a page). */
    static void setLogWords (std::vector<uint32_t> words);

    /** Sets the settings record; bytes 21..22 are ignored, they always show the battery reference. */
    static void setSettings (std::array<uint8_t, 32> settings);

    /** The settings record as the status report shows it (bytes 21..22 = the battery reference). */
    static std::array<uint8_t, 32> settings();

    //==============================================================================
    /** The 1024 bytes of flash block n (0..255); all 0xFF for an out-of-range n. */
    static std::array<uint8_t, 1024> block (int n);

    /** Writes flash block n directly, as if it had been programmed before (ignored out of range). */
    static void setBlock (int n, const std::array<uint8_t, 1024>& data);

    /** The status report's block-write state byte (91 finished, 92 failed, 89 or less busy). */
    static uint8_t blockWriteState();

    /** The entry of slot s (0..5); an empty entry out of range. */
    static SimSlotEntry slotEntry (int s);

    /** Sets the entry of slot s (0..5; ignored out of range). */
    static void setSlotEntry (int s, const SimSlotEntry& entry);

    //==============================================================================
    /** Every report the host sent since the last reset or clearCommandLog (the newest 65536 are kept). */
    static std::vector<SimCommand> commandLog();

    /** Empties the command log. */
    static void clearCommandLog();

    /** The host's protocol violations seen so far, one line each (the first 1000 are kept). */
    static std::vector<std::string> violations();

    /** How many protocol violations were seen (all of them, also beyond the ones kept). */
    static int violationCount();

    /** Forgets the violations seen so far. */
    static void clearViolations();

    /** The call counters. */
    static SimCounters counters();

    //==============================================================================
    /** The attempt-th write of the given block (counting set-block-address commands for it from 1) ends in state 92
        although its data and checksum are right. Several may be armed. */
    static void failChecksumOn (int block, int attempt);

    /** Every write of the given block ends in state 92: a worn flash block that the device refuses for good. */
    static void failChecksumAlways (int block);

    /** After the last chunk of a block, the final state shows only after this many further status reads and this
        much sim time (both; 0 and 0 = at once). Applies to every block write until changed. */
    static void slowCompletion (int statusReads, int ms);

    /** Before the next reply of any command, a reply echoing this other code is queued. */
    static void strayReplyNext (uint8_t code);

    /** The next reply to this command becomes readable only after this many further read calls on the handle. */
    static void lateReplyNext (uint8_t command, int reads);

    /** Every reply to this command becomes readable only this long (sim time) after its request; 0 = at once. */
    static void delayReplies (uint8_t command, int ms);

    /** The next reply to this command reads as only this many bytes. */
    static void shortReplyNext (uint8_t command, int length);

    /** Lets a test rewrite every answer before the host sees it: each reply as it is queued, each status report as
        it is read (an empty function, as after reset(): none). It runs with the device's lock held and must not call
        back into the device. */
    static void setAnswerFilter (std::function<void (SimAnswer&)> filter);

    //==============================================================================
    /** Parses scenario text (see README.md) and schedules it relative to the sim time now; lines without a time run
        at once. Returns the number of lines scheduled, or -1 with a message in error (nothing is scheduled then). */
    static int loadScenario (const std::string& text, std::string& error);
};

} // namespace olvo::sim
