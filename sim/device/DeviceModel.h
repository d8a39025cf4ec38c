#pragma once

#include "SimDevice.h"

#include <hidapi.h>

#include <algorithm>
#include <bitset>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <utility>

namespace olvo::sim::detail
{

//==============================================================================
// The device's wire layout, from the device's side. Offsets are within the 64 device bytes (after the report id).
namespace wire
{
    constexpr int reportSize = 64;
    constexpr int bufferSize = 65;
    constexpr int replyQueueLimit = 32;

    constexpr unsigned short normalVendor = 0x0D60, normalProduct = 0xC000;
    constexpr unsigned short bootVendor   = 0x1FC9, bootProduct   = 0x0081;

    constexpr uint8_t cmdSettings        = 1;
    constexpr uint8_t cmdGetIds          = 2;
    constexpr uint8_t cmdSetBlockAddress = 8;
    constexpr uint8_t cmdWriteBlockData  = 9;
    constexpr uint8_t cmdSetFilename     = 10;
    constexpr uint8_t cmdGetFilename     = 11;
    constexpr uint8_t cmdGetLog          = 12;
    constexpr uint8_t cmdSetCodeBank     = 16;

    // Requests.
    constexpr int settingsAt       = 1;     // cmd 1: the 32-byte record
    constexpr int blockNumberAt    = 1;     // cmd 8 and 9
    constexpr int blockChecksumAt  = 2;     // cmd 8: u32 big-endian
    constexpr int chunkIndexAt     = 2;     // cmd 9
    constexpr int chunkLengthAt    = 3;     // cmd 9
    constexpr int chunkDataAt      = 4;     // cmd 9
    constexpr int slotAt           = 1;     // cmd 10 and 11
    constexpr int slotNameAt       = 2;     // cmd 10 and 11: 32 bytes
    constexpr int slotCodeAt       = 34;    // u32 big-endian
    constexpr int slotMajorAt      = 38;
    constexpr int slotMinorAt      = 39;
    constexpr int logPageAt        = 1;     // cmd 12, request and reply
    constexpr int logValidBytesAt  = 2;     // cmd 12 reply
    constexpr int logDataAt        = 4;     // cmd 12 reply: 15 words little-endian
    constexpr int logWordsPerPage  = 15;
    constexpr int codeBankAt       = 1;     // cmd 16

    // Identity (get_ids reply byte k + 1 = identity byte k).
    constexpr int idsSerial     = 0;
    constexpr int idsSerialSize = 32;
    constexpr int idsUid        = 32;       // four u32 little-endian
    constexpr int idsMajor      = 59;
    constexpr int idsMinor      = 60;
    constexpr int idsTertiary   = 61;       // u16 big-endian

    // Status report.
    constexpr int statusChargeState   = 1;
    constexpr int statusBattery1      = 2;  // u16 little-endian
    constexpr int statusCodeBank      = 8;
    constexpr int statusBlockProgress = 9;
    constexpr int statusBlockState    = 10;
    constexpr int statusClock         = 12; // s32 big-endian
    constexpr int statusBattery2      = 16; // u16 little-endian
    constexpr int statusSettings      = 32;

    // Settings record.
    constexpr int settingsSize         = 32;
    constexpr int settingsBatteryRefAt = 21;    // u16 little-endian, the device's own

    // Block writes.
    constexpr uint8_t blockBusy         = 0;
    constexpr uint8_t blockFinished     = 91;
    constexpr uint8_t blockChecksumFail = 92;
    constexpr int blockSize       = 1024;
    constexpr int blockCount      = 256;
    constexpr int chunkSize       = 60;
    constexpr int lastChunkSize   = 4;
    constexpr int chunksPerBlock  = 18;
    constexpr int firmwareFirst   = 32, firmwareLast = 63;
    constexpr int slotBlocksFirst = 64;
    constexpr int slotCount       = 6;
}

//==============================================================================
/** One input report waiting in a handle's queue. */
struct Report
{
    std::array<uint8_t, wire::reportSize> bytes {};
    int length = wire::reportSize;      ///< what hid_read reports for it
};

/** A reply held back until the handle has been read a few more times, or until a point in sim time. */
struct LateReport
{
    Report report;
    int readsLeft = 0;
    int64_t readyAtMs = -1;             ///< when 0 or more: readable from then on, whatever the reads
};

class DeviceModel;

/** One parsed scenario line. */
struct ScenarioStep
{
    int64_t atMs = 0;                           ///< relative to the load while parsing, absolute once scheduled
    int line = 0;
    std::function<void (DeviceModel&)> apply;
};

/** Parses scenario text into steps (times relative to the load). False with a message naming the line on error. */
bool parseScenario (const std::string& text, std::vector<ScenarioStep>& steps, std::string& error);

} // namespace olvo::sim::detail

//==============================================================================
/** An open handle. It stays valid until hid_close, but is gone (reads -1) once its device generation has passed. */
struct hid_device_
{
    uint64_t generation = 0;
    bool nonBlocking = false;
    std::deque<olvo::sim::detail::Report> queue;
    std::vector<olvo::sim::detail::LateReport> late;
    const wchar_t* lastError = L"Success";
};

namespace olvo::sim::detail
{

//==============================================================================
/**
    The device itself: its state, how it answers each command, and the host-side handle rules of hidraw.

    Not thread-safe on its own: every caller holds the one lock (see lockDevice) and calls advance() first, so that
    time-driven events have happened before the call looks at the state.
*/
class DeviceModel
{
public:
    DeviceModel();
    ~DeviceModel();

    //==============================================================================
    void reset();
    void setClock (std::function<int64_t()> nowMs);
    int64_t now() const;

    /** Runs every time-driven event that is due: restart steps, timed scenario lines, slow block completion. */
    void advance();

    //==============================================================================
    void plug()                                     { plugged = true; noteChange(); }
    void unplug();
    bool isPlugged() const                          { return plugged; }
    bool isPresent() const                          { return plugged && ! (restart.active && restart.detached); }
    void unplugAfterCommands (int n)                { unplugAfter = n > 0 ? n : 0; }
    void unplugAfterBlock (int n)                   { unplugAfterBlockNumber = n; }
    void unplugOnCommand (uint8_t code)             { unplugOnCode = code; }
    void refuseOpen (bool shouldRefuse)             { openRefused = shouldRefuse; }
    void setRestartDelays (int detachMs, int attachMs);

    void setSerial (const std::string& text)        { serial = text.substr (0, wire::idsSerialSize); noteChange(); }
    void setUid (std::array<uint32_t, 4> words)     { uid = words; }
    void setFirmwareVersion (int major, int minor, int tertiary);
    std::array<int, 3> firmwareVersion() const      { return version; }
    void setBootLoaderMode (bool bootLoader);
    bool inBootLoader() const                       { return bootMode; }

    void setBattery (uint16_t first, uint16_t second)   { battery1 = first; battery2 = second; }
    uint16_t batteryFirst() const                       { return battery1; }
    uint16_t batterySecond() const                      { return battery2; }
    void setBatteryReference (uint16_t reference)       { batteryRef = reference; }
    void setChargeState (uint8_t state)                 { chargeState = state; }
    void setDeviceClock (int32_t seconds);
    int32_t deviceClock() const;
    void setLogWords (std::vector<uint32_t> words)      { logWords = std::move (words); }
    void setSettings (const std::array<uint8_t, 32>& record);
    std::array<uint8_t, 32> settingsRecord() const;

    std::array<uint8_t, 1024> block (int n) const;
    void setBlock (int n, const std::array<uint8_t, 1024>& data);
    uint8_t blockWriteState() const                 { return blockState; }
    SimSlotEntry slotEntry (int s) const;
    void setSlotEntry (int s, const SimSlotEntry& entry);

    std::vector<SimCommand> commandLog() const      { return { commands.begin(), commands.end() }; }
    void clearCommandLog()                          { commands.clear(); }
    std::vector<std::string> violations() const     { return violationLines; }
    int violationCount() const                      { return violationTotal; }
    void clearViolations()                          { violationLines.clear(); violationTotal = 0; }
    SimCounters counters() const                    { return callCounters; }

    void failChecksumOn (int blockNumber, int attempt)  { checksumFaults.insert ({ blockNumber, attempt }); }
    void failChecksumAlways (int blockNumber)           { wornBlocks.insert (blockNumber); }
    void slowCompletion (int statusReads, int ms);
    void strayReplyNext (uint8_t code)                  { strayCode = code; strayPending = true; }
    void lateReplyNext (uint8_t command, int reads)     { lateReplies[command] = std::max (0, reads); }
    void delayReplies (uint8_t command, int ms)         { replyDelays[command] = std::max (0, ms); }
    void shortReplyNext (uint8_t command, int length);
    void setAnswerFilter (std::function<void (SimAnswer&)> filter)  { answerFilter = std::move (filter); }

    int loadScenario (const std::string& text, std::string& error);

    /** From now on the device's state (see writeState) is written to this file whenever it has changed; empty: off. */
    void setStateFile (const std::string& path)     { stateFile = path; noteChange(); }

    /** Writes the state file when one is set and something it shows changed since it was last written: attachment,
        mode, version, serial, settings, slot entries and a hash of each slot's and the firmware's flash blocks. */
    void writeStateIfChanged();

    /** From now on the device follows the file: plugged in when it appears, pulled out when it goes (checked every
        50 ms; only a change of the file counts, so the device's own unplugging stands). Empty: off. */
    void setPlugFile (const std::string& path)      { plugFile = path; plugFileExisted = false; nextPlugFileCheckMs = 0; }

    //==============================================================================
    // The hidapi side.
    int hidInit();
    int hidExit();
    hid_device* open (unsigned short vendor, unsigned short product, const wchar_t* serialNumber);
    void close (hid_device* dev);
    bool knows (const hid_device* dev) const        { return handles.count (const_cast<hid_device*> (dev)) != 0; }
    int openHandleCount() const                     { return (int) handles.size(); }
    bool isLive (const hid_device* dev) const       { return isPresent() && dev->generation == generation; }
    int setNonBlocking (hid_device* dev, int nonBlock);
    bool isNonBlocking (const hid_device* dev) const    { return dev->nonBlocking; }
    int sendFeatureReport (hid_device* dev, const unsigned char* data, size_t length);
    int getFeatureReport (hid_device* dev, unsigned char* data, size_t length);
    int writeOutputReport (hid_device* dev, const unsigned char* data, size_t length);
    /** One attempt at reading a queued reply; countsAsCall is false for the repeated polls inside one timed read. */
    int read (hid_device* dev, unsigned char* data, size_t length, bool countsAsCall);
    void countReadCall()                            { ++callCounters.reads; }
    void hostFault (const std::string& what)        { violation (what); }
    const wchar_t* error (const hid_device* dev) const;
    hid_device_info* enumerate (unsigned short vendor, unsigned short product) const;

private:
    //==============================================================================
    using Request = std::array<uint8_t, wire::reportSize>;

    void handleCommand (const Request& request);
    void setBlockAddress (int blockNumber, uint32_t checksum);
    void writeChunk (const Request& request);
    void completeBlock();
    void finishBlock();
    void dropBlockWrite();
    void setCodeBank (int bank);
    void detachForRestart();
    void attachAfterRestart();
    void enterMode (bool bootLoader, std::array<int, 3> newVersion);
    bool acceptsBlock (int blockNumber) const;
    bool firmwareImageComplete (std::array<int, 3>& imageVersion) const;

    Report identityReply() const;
    Report statusReport() const;
    void queueReply (uint8_t command, Report reply);
    void goneForGood();
    void violation (const std::string& what);
    void logCommand (const Request& request, bool isOutput);
    void noteChange()                               { stateChanged = true; }
    unsigned short currentVendor() const            { return bootMode ? wire::bootVendor : wire::normalVendor; }
    unsigned short currentProduct() const           { return bootMode ? wire::bootProduct : wire::normalProduct; }

    //==============================================================================
    std::function<int64_t()> clock;

    // Attachment. A generation counts detachments: a handle opened in an older one is gone.
    bool plugged = false;
    uint64_t generation = 1;
    std::set<hid_device*> handles;
    const wchar_t* globalError = L"Success";

    struct Restart
    {
        bool active = false, detached = false;
        bool towardsNormal = false;         // the command asked for the normal firmware
        bool targetBoot = true;             // decided when it detaches
        std::array<int, 3> targetVersion {};
        int64_t detachAt = 0, attachAt = 0;
    };
    Restart restart;
    int detachDelayMs = 50, attachDelayMs = 300;

    // Identity and readings.
    std::string serial;
    std::array<uint32_t, 4> uid {};
    std::array<int, 3> version {};
    bool bootMode = false;
    uint16_t battery1 = 0, battery2 = 0, batteryRef = 0;
    uint8_t chargeState = 0;
    int32_t rtcSeconds = 0;
    int64_t rtcSetAtMs = 0;
    std::vector<uint32_t> logWords;
    std::array<uint8_t, wire::settingsSize> settings {};
    std::array<SimSlotEntry, wire::slotCount> slots {};
    std::vector<std::array<uint8_t, wire::blockSize>> flash;

    // The block write in progress.
    uint8_t blockState = wire::blockFinished, blockProgress = 0;
    int stagedBlock = -1;                   // -1: none open
    uint32_t stagedChecksum = 0;
    bool stagedRefused = false, stagedFault = false;
    std::array<uint8_t, wire::blockSize> staged {};
    std::bitset<wire::chunksPerBlock> chunksSeen;
    bool completing = false, commitOnFinish = false;
    uint8_t finalState = wire::blockFinished;
    int completionReadsLeft = 0;
    bool completionCountsReads = false;
    int64_t completionAt = 0;
    std::map<int, int> addressAttempts;
    std::set<int> firmwareBlocksWritten;    // since the boot loader was entered

    // Faults.
    bool openRefused = false;
    int unplugAfter = 0;
    int unplugAfterBlockNumber = -1;        // -1: off
    uint8_t unplugOnCode = 0;               // 0: off
    std::set<std::pair<int, int>> checksumFaults;
    std::set<int> wornBlocks;               // every write fails its checksum
    int slowReads = 0, slowMs = 0;
    bool strayPending = false;
    uint8_t strayCode = 0;
    std::map<uint8_t, int> lateReplies, shortReplies, replyDelays;
    std::function<void (SimAnswer&)> answerFilter;

    // Records.
    std::deque<SimCommand> commands;
    std::vector<std::string> violationLines;
    int violationTotal = 0;
    SimCounters callCounters;

    // The state file for a test in another process.
    std::string stateFile;
    bool stateChanged = false;
    static constexpr int plugFileCheckIntervalMs = 50;
    std::string plugFile;
    bool plugFileExisted = false;
    int64_t nextPlugFileCheckMs = 0;

    // Scenario.
    bool scenarioArmed = true;
    std::vector<ScenarioStep> scheduled;    // sorted by time
};

//==============================================================================
/** The process-wide device, locked and brought up to date with the clock. */
class LockedDevice
{
public:
    LockedDevice();
    DeviceModel* operator->()                       { return &model; }
    DeviceModel& operator*()                        { return model; }
    ~LockedDevice();
    void unlock()                                   { lock.unlock(); }
    void relock();

private:
    std::unique_lock<std::mutex> lock;
    DeviceModel& model;
};

} // namespace olvo::sim::detail
