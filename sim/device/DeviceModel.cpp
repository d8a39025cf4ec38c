#include "DeviceModel.h"
#include "sim/FirmwareImage.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace olvo::sim::detail
{

namespace
{
    constexpr size_t commandLogLimit = 65536;
    constexpr size_t violationLimit = 1000;

    uint32_t getU32BE (const uint8_t* p)  { return ((uint32_t) p[0] << 24) | ((uint32_t) p[1] << 16) | ((uint32_t) p[2] << 8) | p[3]; }
    uint32_t getU32LE (const uint8_t* p)  { return p[0] | ((uint32_t) p[1] << 8) | ((uint32_t) p[2] << 16) | ((uint32_t) p[3] << 24); }
    void putU32BE (uint8_t* p, uint32_t v) { p[0] = (uint8_t) (v >> 24); p[1] = (uint8_t) (v >> 16); p[2] = (uint8_t) (v >> 8); p[3] = (uint8_t) v; }
    void putU32LE (uint8_t* p, uint32_t v) { p[0] = (uint8_t) v; p[1] = (uint8_t) (v >> 8); p[2] = (uint8_t) (v >> 16); p[3] = (uint8_t) (v >> 24); }
    void putU16LE (uint8_t* p, uint16_t v) { p[0] = (uint8_t) v; p[1] = (uint8_t) (v >> 8); }

    int64_t floorDiv (int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0); }

    // hid_error texts: static, so the pointer stays valid for ever.
    constexpr const wchar_t* errorNone       = L"Success";
    constexpr const wchar_t* errorGone       = L"Device disconnected";
    constexpr const wchar_t* errorNotFound   = L"No such device";
    constexpr const wchar_t* errorRefused    = L"Failed to open a device with path 'sim:olvo': Permission denied";
    constexpr const wchar_t* errorReportId   = L"Report id must be 0";
    constexpr const wchar_t* errorLength     = L"Report too short";
    constexpr const wchar_t* errorBadHandle  = L"Unknown device handle";
}

//==============================================================================
DeviceModel::DeviceModel()
{
    reset();
}

DeviceModel::~DeviceModel()
{
    for (auto* dev : handles)
        delete dev;
}

void DeviceModel::reset()
{
    plugged = false;
    ++generation;       // handles still open are gone, but stay registered for hid_close
    globalError = errorNone;
    restart = {};
    detachDelayMs = 50;
    attachDelayMs = 300;

    serial = "OLVO-SIM-0001";
    uid = { 0x12AB, 0, 0xFFFFFFFF, 1 };
    version = { 1, 2, 0 };
    bootMode = false;
    battery1 = battery2 = 61000;        // about 4.0 V
    batteryRef = 0;
    chargeState = 0;
    rtcSeconds = 0;
    rtcSetAtMs = now();
    logWords.clear();
    settings.fill (0);
    slots = {};
    flash.assign (wire::blockCount, {});
    for (auto& b : flash)
        b.fill (0xFF);

    dropBlockWrite();
    blockState = wire::blockFinished;
    addressAttempts.clear();
    firmwareBlocksWritten.clear();

    openRefused = false;
    unplugAfter = 0;
    unplugAfterBlockNumber = -1;
    unplugOnCode = 0;
    checksumFaults.clear();
    wornBlocks.clear();
    slowReads = slowMs = 0;
    strayPending = false;
    lateReplies.clear();
    shortReplies.clear();
    replyDelays.clear();
    answerFilter = nullptr;

    commands.clear();
    violationLines.clear();
    violationTotal = 0;
    callCounters = {};

    scenarioArmed = true;
    scheduled.clear();
    stateFile.clear();
    stateChanged = false;
    plugFile.clear();
    plugFileExisted = false;
}

int64_t DeviceModel::now() const
{
    if (clock)
        return clock();

    return std::chrono::duration_cast<std::chrono::milliseconds> (std::chrono::steady_clock::now().time_since_epoch()).count();
}

void DeviceModel::setClock (std::function<int64_t()> nowMs)
{
    // Everything pending keeps its distance from "now", so a new clock with another epoch moves nothing.
    const auto before = now();
    clock = std::move (nowMs);
    const auto shift = now() - before;

    rtcSetAtMs += shift;
    restart.detachAt += shift;
    restart.attachAt += shift;
    completionAt += shift;

    for (auto& step : scheduled)
        step.atMs += shift;
}

void DeviceModel::advance()
{
    const auto t = now();

    // A test in another process plugs the device in by creating the file and pulls it out by removing it.
    if (! plugFile.empty() && t >= nextPlugFileCheckMs)
    {
        nextPlugFileCheckMs = t + plugFileCheckIntervalMs;
        const bool exists = access (plugFile.c_str(), F_OK) == 0;

        if (exists != plugFileExisted)
        {
            plugFileExisted = exists;
            exists ? plug() : unplug();
        }
    }

    // Restart steps and scenario lines in time order, since a scenario line may unplug a restarting device.
    for (;;)
    {
        const bool restartDue = restart.active && t >= (restart.detached ? restart.attachAt : restart.detachAt);
        const auto restartAt = restart.detached ? restart.attachAt : restart.detachAt;
        const bool stepDue = ! scheduled.empty() && t >= scheduled.front().atMs;

        if (restartDue && (! stepDue || restartAt <= scheduled.front().atMs))
        {
            if (restart.detached)
                attachAfterRestart();
            else
                detachForRestart();
        }
        else if (stepDue)
        {
            auto step = std::move (scheduled.front());
            scheduled.erase (scheduled.begin());
            step.apply (*this);
        }
        else
        {
            break;
        }
    }

    // Completion counted in status reads shows at a status read; completion by time alone shows whenever it is due.
    if (completing && ! completionCountsReads && t >= completionAt)
        finishBlock();
}

//==============================================================================
void DeviceModel::unplug()
{
    if (! plugged)
        return;

    // Losing power during a restart: the switch was already asked for, so the device comes back in the new mode.
    if (restart.active)
    {
        if (! restart.detached)
            detachForRestart();

        attachAfterRestart();
    }

    plugged = false;
    unplugAfter = 0;
    goneForGood();
    noteChange();
}

void DeviceModel::setRestartDelays (int detachMs, int attachMs)
{
    detachDelayMs = std::max (0, detachMs);
    attachDelayMs = std::max (0, attachMs);
}

void DeviceModel::setFirmwareVersion (int major, int minor, int tertiary)
{
    version = { major & 0xFF, minor & 0xFF, tertiary & 0xFFFF };
    noteChange();
}

void DeviceModel::setBootLoaderMode (bool bootLoader)
{
    restart = {};
    enterMode (bootLoader, version);
}

void DeviceModel::setDeviceClock (int32_t seconds)
{
    rtcSeconds = seconds;
    rtcSetAtMs = now();
}

int32_t DeviceModel::deviceClock() const
{
    return (int32_t) (uint32_t) ((int64_t) rtcSeconds + floorDiv (now() - rtcSetAtMs, 1000));
}

void DeviceModel::setSettings (const std::array<uint8_t, 32>& record)
{
    for (int i = 0; i < wire::settingsSize; ++i)
        if (i != wire::settingsBatteryRefAt && i != wire::settingsBatteryRefAt + 1)
            settings[(size_t) i] = record[(size_t) i];
    noteChange();
}

std::array<uint8_t, 32> DeviceModel::settingsRecord() const
{
    auto record = settings;
    putU16LE (record.data() + wire::settingsBatteryRefAt, batteryRef);
    return record;
}

std::array<uint8_t, 1024> DeviceModel::block (int n) const
{
    if (n < 0 || n >= wire::blockCount)
    {
        std::array<uint8_t, 1024> erased;
        erased.fill (0xFF);
        return erased;
    }

    return flash[(size_t) n];
}

void DeviceModel::setBlock (int n, const std::array<uint8_t, 1024>& data)
{
    if (n >= 0 && n < wire::blockCount)
        flash[(size_t) n] = data;
    noteChange();
}

SimSlotEntry DeviceModel::slotEntry (int s) const
{
    return s >= 0 && s < wire::slotCount ? slots[(size_t) s] : SimSlotEntry {};
}

void DeviceModel::setSlotEntry (int s, const SimSlotEntry& entry)
{
    if (s >= 0 && s < wire::slotCount)
        slots[(size_t) s] = entry;
    noteChange();
}

void DeviceModel::slowCompletion (int statusReads, int ms)
{
    slowReads = std::max (0, statusReads);
    slowMs = std::max (0, ms);
}

void DeviceModel::shortReplyNext (uint8_t command, int length)
{
    shortReplies[command] = std::clamp (length, 0, wire::reportSize);
}

int DeviceModel::loadScenario (const std::string& text, std::string& error)
{
    std::vector<ScenarioStep> steps;

    if (! parseScenario (text, steps, error))
        return -1;

    const auto base = now();

    for (auto& step : steps)
        step.atMs += base;

    scheduled.insert (scheduled.end(), steps.begin(), steps.end());
    std::stable_sort (scheduled.begin(), scheduled.end(),
                      [] (const ScenarioStep& a, const ScenarioStep& b) { return a.atMs < b.atMs; });
    advance();
    return (int) steps.size();
}

//==============================================================================
hid_device* DeviceModel::open (unsigned short vendor, unsigned short product, const wchar_t* serialNumber)
{
    auto refuse = [this] (const wchar_t* why) -> hid_device*
    {
        globalError = why;
        ++callCounters.refusedOpens;
        return nullptr;
    };

    if (! isPresent())
        return refuse (errorNotFound);

    // As in hid_enumerate, 0 matches any vendor or product.
    if ((vendor != 0 && vendor != currentVendor()) || (product != 0 && product != currentProduct()))
        return refuse (errorNotFound);

    if (serialNumber != nullptr && std::wstring (serialNumber) != std::wstring (serial.begin(), serial.end()))
        return refuse (errorNotFound);

    if (openRefused)
        return refuse (errorRefused);

    auto* dev = new hid_device;
    dev->generation = generation;
    handles.insert (dev);
    ++callCounters.opens;
    globalError = errorNone;
    return dev;
}

void DeviceModel::close (hid_device* dev)
{
    if (! knows (dev))
    {
        violation ("hid_close on a handle that is not open");
        return;
    }

    handles.erase (dev);
    delete dev;
    ++callCounters.closes;
}

int DeviceModel::hidInit()
{
    ++callCounters.initCalls;

    if (scenarioArmed)
    {
        scenarioArmed = false;

        if (const char* path = std::getenv ("OLVO_SIM_SCENARIO"); path != nullptr && *path != 0)
        {
            std::string text, error;

            if (auto* f = std::fopen (path, "rb"))
            {
                char buffer[4096];
                size_t n;

                while ((n = std::fread (buffer, 1, sizeof (buffer), f)) > 0)
                    text.append (buffer, n);

                std::fclose (f);

                if (loadScenario (text, error) < 0)
                    std::fprintf (stderr, "olvo sim: scenario %s: %s (scenario not loaded)\n", path, error.c_str());
            }
            else
            {
                std::fprintf (stderr, "olvo sim: cannot read scenario file %s\n", path);
            }
        }
    }

    return 0;
}

int DeviceModel::hidExit()
{
    ++callCounters.exitCalls;
    return 0;
}

int DeviceModel::setNonBlocking (hid_device* dev, int nonBlock)
{
    if (! isLive (dev))
    {
        dev->lastError = errorGone;
        return -1;
    }

    dev->nonBlocking = nonBlock != 0;
    return 0;
}

int DeviceModel::sendFeatureReport (hid_device* dev, const unsigned char* data, size_t length)
{
    if (! isLive (dev))
    {
        dev->lastError = errorGone;
        return -1;
    }

    if (data == nullptr || length < 2)
    {
        dev->lastError = errorLength;
        violation ("feature report of " + std::to_string (length) + " bytes");
        return -1;
    }

    if (data[0] != 0)
    {
        dev->lastError = errorReportId;
        violation ("feature report with report id " + std::to_string (data[0]));
        return -1;
    }

    if (length != (size_t) wire::bufferSize)
        violation ("feature report of " + std::to_string (length) + " bytes (the device takes 65)");

    // Short reports arrive zero-padded; the device never sees more than its 64 bytes.
    Request request {};
    std::memcpy (request.data(), data + 1, std::min (length - 1, (size_t) wire::reportSize));

    // Pulled out just as the host sends: the command never arrives and the send fails.
    if (unplugOnCode != 0 && request[0] == unplugOnCode)
    {
        unplugOnCode = 0;
        unplug();
        dev->lastError = errorGone;
        return -1;
    }

    dev->lastError = errorNone;
    ++callCounters.featureSends;
    ++callCounters.commands[request[0]];
    logCommand (request, false);
    handleCommand (request);

    if (unplugAfter > 0 && --unplugAfter == 0)
        unplug();

    return (int) length;
}

int DeviceModel::getFeatureReport (hid_device* dev, unsigned char* data, size_t length)
{
    if (! isLive (dev))
    {
        dev->lastError = errorGone;
        return -1;
    }

    if (data == nullptr || length < 1)
    {
        dev->lastError = errorLength;
        return -1;
    }

    if (data[0] != 0)
    {
        dev->lastError = errorReportId;
        violation ("status read with report id " + std::to_string (data[0]));
        return -1;
    }

    ++callCounters.statusReads;

    if (completing)
    {
        if (completionReadsLeft > 0)
            --completionReadsLeft;
        else if (now() >= completionAt)
            finishBlock();
    }

    auto report = statusReport();

    if (answerFilter)
    {
        SimAnswer answer;
        answer.isStatusReport = true;
        answer.bytes = report.bytes;
        answerFilter (answer);
        report.bytes = answer.bytes;
        report.length = std::clamp (answer.length, 0, wire::reportSize);
    }

    // The count includes the report id, as hidraw's does; an empty report reads as nothing at all.
    if (report.length == 0)
        return 0;

    const auto n = std::min (length, (size_t) report.length + 1);
    data[0] = 0;
    std::memcpy (data + 1, report.bytes.data(), n - 1);
    dev->lastError = errorNone;
    return (int) n;
}

int DeviceModel::writeOutputReport (hid_device* dev, const unsigned char* data, size_t length)
{
    if (! isLive (dev))
    {
        dev->lastError = errorGone;
        return -1;
    }

    if (data == nullptr || length < 1)
    {
        dev->lastError = errorLength;
        return -1;
    }

    Request request {};
    std::memcpy (request.data(), data + 1, std::min (length - 1, (size_t) wire::reportSize));
    ++callCounters.outputReports;
    logCommand (request, true);
    dev->lastError = errorNone;
    return (int) length;
}

int DeviceModel::read (hid_device* dev, unsigned char* data, size_t length, bool countsAsCall)
{
    if (! isLive (dev))
    {
        dev->queue.clear();
        dev->late.clear();
        dev->lastError = errorGone;
        return -1;
    }

    // A reply delayed in time is readable once its time has come.
    const auto t = now();
    for (auto it = dev->late.begin(); it != dev->late.end();)
    {
        if (it->readyAtMs >= 0 && t >= it->readyAtMs)
        {
            dev->queue.push_back (it->report);
            it = dev->late.erase (it);
        }
        else
        {
            ++it;
        }
    }

    int result = 0;

    if (! dev->queue.empty())
    {
        const auto report = dev->queue.front();
        dev->queue.pop_front();
        const auto n = std::min (length, (size_t) report.length);

        if (n > 0 && data != nullptr)
            std::memcpy (data, report.bytes.data(), n);

        result = (int) n;
    }

    // A reply held back by reads becomes readable once enough further reads have gone by.
    if (countsAsCall)
    {
        for (auto it = dev->late.begin(); it != dev->late.end();)
        {
            if (it->readyAtMs < 0 && --it->readsLeft <= 0)
            {
                dev->queue.push_back (it->report);
                it = dev->late.erase (it);
            }
            else
            {
                ++it;
            }
        }
    }

    while (dev->queue.size() > (size_t) wire::replyQueueLimit)
        dev->queue.pop_front();

    dev->lastError = errorNone;
    return result;
}

const wchar_t* DeviceModel::error (const hid_device* dev) const
{
    if (dev == nullptr)
        return globalError;

    return knows (dev) ? dev->lastError : errorBadHandle;
}

hid_device_info* DeviceModel::enumerate (unsigned short vendor, unsigned short product) const
{
    if (! isPresent()
        || (vendor != 0 && vendor != currentVendor())
        || (product != 0 && product != currentProduct()))
        return nullptr;

    auto* info = new hid_device_info {};
    const char path[] = "sim:olvo";
    info->path = new char[sizeof (path)];
    std::memcpy (info->path, path, sizeof (path));
    info->vendor_id = currentVendor();
    info->product_id = currentProduct();
    info->serial_number = new wchar_t[serial.size() + 1];

    for (size_t i = 0; i < serial.size(); ++i)
        info->serial_number[i] = (wchar_t) (unsigned char) serial[i];

    info->serial_number[serial.size()] = 0;
    info->release_number = bootMode ? 0 : (unsigned short) (((version[0] & 0xFF) << 8) | (version[1] & 0xFF));
    info->interface_number = 0;
    info->bus_type = HID_API_BUS_USB;
    return info;
}

//==============================================================================
void DeviceModel::handleCommand (const Request& request)
{
    switch (request[0])
    {
        case wire::cmdSettings:
            if (! bootMode)
            {
                std::array<uint8_t, 32> record;
                std::memcpy (record.data(), request.data() + wire::settingsAt, record.size());
                setSettings (record);
            }
            break;

        case wire::cmdGetIds:
            queueReply (wire::cmdGetIds, identityReply());
            break;

        case wire::cmdSetBlockAddress:
            setBlockAddress (request[wire::blockNumberAt], getU32BE (request.data() + wire::blockChecksumAt));
            break;

        case wire::cmdWriteBlockData:
            writeChunk (request);
            break;

        case wire::cmdSetFilename:
        {
            const int slot = request[wire::slotAt];

            if (slot >= wire::slotCount)
            {
                violation ("set_filename for slot " + std::to_string (slot));
                break;
            }

            auto& entry = slots[(size_t) slot];
            std::memcpy (entry.name.data(), request.data() + wire::slotNameAt, entry.name.size());
            entry.code = getU32BE (request.data() + wire::slotCodeAt);
            entry.major = request[wire::slotMajorAt];
            entry.minor = request[wire::slotMinorAt];
            noteChange();
            break;
        }

        case wire::cmdGetFilename:
        {
            const int slot = request[wire::slotAt];

            if (slot >= wire::slotCount)
            {
                violation ("get_filename for slot " + std::to_string (slot));
                break;
            }

            const auto& entry = slots[(size_t) slot];
            Report reply;
            reply.bytes[0] = wire::cmdGetFilename;
            reply.bytes[wire::slotAt] = (uint8_t) slot;
            std::memcpy (reply.bytes.data() + wire::slotNameAt, entry.name.data(), entry.name.size());
            putU32BE (reply.bytes.data() + wire::slotCodeAt, entry.code);
            reply.bytes[wire::slotMajorAt] = entry.major;
            reply.bytes[wire::slotMinorAt] = entry.minor;
            queueReply (wire::cmdGetFilename, reply);
            break;
        }

        case wire::cmdGetLog:
        {
            if (bootMode)
                break;

            const int page = request[wire::logPageAt];
            const size_t first = (size_t) page * wire::logWordsPerPage;
            const size_t count = first < logWords.size() ? std::min ((size_t) wire::logWordsPerPage, logWords.size() - first) : 0;

            Report reply;
            reply.bytes[0] = wire::cmdGetLog;
            reply.bytes[wire::logPageAt] = (uint8_t) page;
            reply.bytes[wire::logValidBytesAt] = (uint8_t) (count * 4);

            for (size_t i = 0; i < count; ++i)
                putU32LE (reply.bytes.data() + wire::logDataAt + 4 * i, logWords[first + i]);

            queueReply (wire::cmdGetLog, reply);
            break;
        }

        case wire::cmdSetCodeBank:
            setCodeBank (request[wire::codeBankAt]);
            break;

        default:
            break;      // unknown commands are logged and otherwise ignored, as the device does
    }
}

Report DeviceModel::identityReply() const
{
    std::array<uint8_t, wire::reportSize> ids {};
    std::memcpy (ids.data() + wire::idsSerial, serial.data(), std::min (serial.size(), (size_t) wire::idsSerialSize));

    for (int i = 0; i < 4; ++i)
        putU32LE (ids.data() + wire::idsUid + 4 * i, uid[(size_t) i]);

    // The boot loader reports no firmware version.
    const auto shown = bootMode ? std::array<int, 3> {} : version;
    ids[wire::idsMajor] = (uint8_t) shown[0];
    ids[wire::idsMinor] = (uint8_t) shown[1];
    ids[wire::idsTertiary] = (uint8_t) (shown[2] >> 8);
    ids[wire::idsTertiary + 1] = (uint8_t) shown[2];

    Report reply;
    reply.bytes[0] = wire::cmdGetIds;
    std::memcpy (reply.bytes.data() + 1, ids.data(), wire::reportSize - 1);
    return reply;
}

Report DeviceModel::statusReport() const
{
    Report r;
    auto* b = r.bytes.data();
    b[wire::statusChargeState] = chargeState;
    putU16LE (b + wire::statusBattery1, battery1);
    b[wire::statusCodeBank] = bootMode ? 0 : 1;
    b[wire::statusBlockProgress] = blockProgress;
    b[wire::statusBlockState] = blockState;
    putU32BE (b + wire::statusClock, (uint32_t) deviceClock());
    putU16LE (b + wire::statusBattery2, battery2);
    const auto record = settingsRecord();
    std::memcpy (b + wire::statusSettings, record.data(), record.size());
    return r;
}

void DeviceModel::queueReply (uint8_t command, Report reply)
{
    if (answerFilter)
    {
        SimAnswer answer;
        answer.command = command;
        answer.bytes = reply.bytes;
        answerFilter (answer);

        if (answer.drop)
            return;

        reply.bytes = answer.bytes;
        reply.length = std::clamp (answer.length, 0, wire::reportSize);
    }

    Report stray;
    stray.bytes[0] = strayCode;
    const bool withStray = strayPending;
    strayPending = false;

    if (auto it = shortReplies.find (command); it != shortReplies.end())
    {
        reply.length = it->second;
        shortReplies.erase (it);
    }

    int lateBy = 0;

    if (auto it = lateReplies.find (command); it != lateReplies.end())
    {
        lateBy = it->second;
        lateReplies.erase (it);
    }

    const auto delay = replyDelays.find (command);
    const int64_t readyAt = delay != replyDelays.end() && delay->second > 0 ? now() + delay->second : -1;

    // As with hidraw, every open handle gets its own copy of each input report.
    for (auto* dev : handles)
    {
        if (! isLive (dev))
            continue;

        if (withStray)
            dev->queue.push_back (stray);

        if (readyAt >= 0)
            dev->late.push_back ({ reply, 0, readyAt });
        else if (lateBy > 0)
            dev->late.push_back ({ reply, lateBy });
        else
            dev->queue.push_back (reply);

        while (dev->queue.size() > (size_t) wire::replyQueueLimit)
            dev->queue.pop_front();
    }
}

//==============================================================================
bool DeviceModel::acceptsBlock (int blockNumber) const
{
    // The boot loader writes the firmware and the program slots; the normal firmware never the code it runs.
    if (bootMode)
        return blockNumber >= wire::firmwareFirst && blockNumber < wire::blockCount;

    return blockNumber >= wire::slotBlocksFirst && blockNumber < wire::blockCount;
}

void DeviceModel::setBlockAddress (int blockNumber, uint32_t checksum)
{
    if (blockNumber == 0)
    {
        dropBlockWrite();
        return;
    }

    if (stagedBlock >= 0 || completing)
        violation ("block address " + std::to_string (blockNumber) + " while block " + std::to_string (stagedBlock)
                   + " was unfinished (no reset first)");

    dropBlockWrite();
    const int attempt = ++addressAttempts[blockNumber];
    stagedBlock = blockNumber;
    stagedChecksum = checksum;
    staged.fill (0);
    chunksSeen.reset();
    blockState = wire::blockBusy;
    blockProgress = 0;
    stagedFault = checksumFaults.count ({ blockNumber, attempt }) != 0 || wornBlocks.count (blockNumber) != 0;
    stagedRefused = ! acceptsBlock (blockNumber);

    if (stagedRefused)
        violation ("block " + std::to_string (blockNumber) + " written while in the "
                   + (bootMode ? "boot loader" : "normal firmware") + ", which refuses it");
}

void DeviceModel::writeChunk (const Request& request)
{
    const int blockNumber = request[wire::blockNumberAt];
    const int index = request[wire::chunkIndexAt];
    const int length = request[wire::chunkLengthAt];
    const auto where = "chunk " + std::to_string (index) + " of block " + std::to_string (blockNumber);

    if (stagedBlock < 0 || completing)
        return violation (where + " with no block write open");

    if (blockNumber != stagedBlock)
        return violation (where + " while block " + std::to_string (stagedBlock) + " is open");

    if (index >= wire::chunksPerBlock)
        return violation (where + ": no such chunk");

    const int expected = index == wire::chunksPerBlock - 1 ? wire::lastChunkSize : wire::chunkSize;

    if (length != expected)
        return violation (where + " of " + std::to_string (length) + " bytes (expected " + std::to_string (expected) + ")");

    std::memcpy (staged.data() + wire::chunkSize * index, request.data() + wire::chunkDataAt, (size_t) length);
    chunksSeen.set ((size_t) index);
    blockProgress = (uint8_t) chunksSeen.count();

    if (chunksSeen.all())
        completeBlock();
}

void DeviceModel::completeBlock()
{
    uint32_t sum = 0;

    for (int i = 0; i < wire::blockSize; i += 4)
        sum += getU32LE (staged.data() + i);

    commitOnFinish = sum == stagedChecksum && ! stagedRefused && ! stagedFault;
    finalState = commitOnFinish ? wire::blockFinished : wire::blockChecksumFail;
    completing = true;
    completionReadsLeft = slowReads;
    completionCountsReads = slowReads > 0;
    completionAt = now() + slowMs;

    if (slowReads == 0 && slowMs == 0)
        finishBlock();
}

void DeviceModel::finishBlock()
{
    if (commitOnFinish)
    {
        flash[(size_t) stagedBlock] = staged;
        noteChange();

        if (stagedBlock >= wire::firmwareFirst && stagedBlock <= wire::firmwareLast)
            firmwareBlocksWritten.insert (stagedBlock);

        // Pulled out once the command (or status read) that finished this block has been answered.
        if (stagedBlock == unplugAfterBlockNumber)
        {
            unplugAfterBlockNumber = -1;
            unplugAfter = 1;
        }
    }

    blockState = finalState;
    stagedBlock = -1;
    completing = false;
    commitOnFinish = false;
}

void DeviceModel::dropBlockWrite()
{
    stagedBlock = -1;
    completing = false;
    commitOnFinish = false;
    chunksSeen.reset();
    blockState = wire::blockFinished;
    blockProgress = 0;
}

//==============================================================================
void DeviceModel::setCodeBank (int bank)
{
    if (restart.active)
        return;

    const bool towardsBoot = bank == 0 && ! bootMode;
    const bool towardsNormal = bank == 1 && bootMode;

    if (! towardsBoot && ! towardsNormal)
        return;

    restart = {};
    restart.active = true;
    restart.towardsNormal = towardsNormal;
    restart.detachAt = now() + detachDelayMs;
    restart.attachAt = restart.detachAt + attachDelayMs;
}

bool DeviceModel::firmwareImageComplete (std::array<int, 3>& imageVersion) const
{
    if (firmwareBlocksWritten.size() != (size_t) (wire::firmwareLast - wire::firmwareFirst + 1))
        return false;

    return FirmwareImageHeader::read (flash[(size_t) wire::firmwareFirst].data(),
                                      imageVersion[0], imageVersion[1], imageVersion[2]);
}

void DeviceModel::detachForRestart()
{
    // The boot loader starts the new image only when all of it arrived and it carries a valid header.
    restart.targetBoot = true;
    restart.targetVersion = version;

    if (restart.towardsNormal)
    {
        std::array<int, 3> imageVersion {};

        if (firmwareImageComplete (imageVersion))
        {
            restart.targetBoot = false;
            restart.targetVersion = imageVersion;
        }
    }

    restart.detached = true;
    goneForGood();
}

void DeviceModel::attachAfterRestart()
{
    restart.active = false;
    restart.detached = false;
    enterMode (restart.targetBoot, restart.targetVersion);

    if (restart.targetBoot)
        ++callCounters.bootLoaderRestarts;
}

void DeviceModel::enterMode (bool bootLoader, std::array<int, 3> newVersion)
{
    bootMode = bootLoader;
    version = newVersion;
    noteChange();

    if (bootLoader)
        firmwareBlocksWritten.clear();
}

void DeviceModel::goneForGood()
{
    ++generation;
    dropBlockWrite();

    for (auto* dev : handles)
    {
        dev->queue.clear();
        dev->late.clear();
    }
}

//==============================================================================
void DeviceModel::violation (const std::string& what)
{
    ++violationTotal;

    if (violationLines.size() < violationLimit)
        violationLines.push_back (what);
}

void DeviceModel::logCommand (const Request& request, bool isOutput)
{
    SimCommand c;
    c.code = request[0];
    c.bytes = request;
    c.timeMs = now();
    c.isOutputReport = isOutput;
    commands.push_back (c);

    if (commands.size() > commandLogLimit)
        commands.pop_front();
}

//==============================================================================
namespace
{
    /** FNV-1a, 64 bits: enough to tell a test whether a region holds the bytes it expects. */
    uint64_t fnv1a64 (const std::vector<std::array<uint8_t, wire::blockSize>>& flash, int first, int count)
    {
        uint64_t hash = 0xcbf29ce484222325ull;

        for (int b = first; b < first + count; ++b)
            for (auto byte : flash[(size_t) b])
                hash = (hash ^ byte) * 0x100000001b3ull;

        return hash;
    }
}

void DeviceModel::writeStateIfChanged()
{
    if (stateFile.empty() || ! stateChanged)
        return;

    stateChanged = false;

    // Written beside the file and renamed over it, so that a reader never sees half of it.
    const auto temporary = stateFile + ".new";
    FILE* out = std::fopen (temporary.c_str(), "w");

    if (out == nullptr)
        return;

    std::fprintf (out, "plugged %d\nmode %s\nversion %d.%d.%d\nserial %s\nsettings",
                  plugged ? 1 : 0, bootMode ? "boot-loader" : "normal", version[0], version[1], version[2],
                  serial.c_str());

    for (auto byte : settingsRecord())
        std::fprintf (out, " %02x", byte);

    std::fprintf (out, "\n");

    for (int s = 0; s < wire::slotCount; ++s)
    {
        const auto& entry = slots[(size_t) s];
        const auto nameLength = std::find (entry.name.begin(), entry.name.end(), 0) - entry.name.begin();
        std::fprintf (out, "slot %d code=%u version=%d.%d name=%.*s\n", s, entry.code, entry.major, entry.minor,
                      (int) nameLength, (const char*) entry.name.data());
    }

    constexpr int regionBlocks = wire::firmwareLast - wire::firmwareFirst + 1;
    std::fprintf (out, "firmware-blocks %016llx\n",
                  (unsigned long long) fnv1a64 (flash, wire::firmwareFirst, regionBlocks));

    for (int s = 0; s < wire::slotCount; ++s)
        std::fprintf (out, "slot-blocks %d %016llx\n", s,
                      (unsigned long long) fnv1a64 (flash, wire::slotBlocksFirst + s * regionBlocks, regionBlocks));

    std::fclose (out);
    std::rename (temporary.c_str(), stateFile.c_str());
}

//==============================================================================
namespace
{
    std::mutex& deviceMutex()
    {
        static std::mutex m;
        return m;
    }

    DeviceModel& theDevice()
    {
        static DeviceModel device;
        return device;
    }
}

LockedDevice::LockedDevice()
    : lock (deviceMutex()), model (theDevice())
{
    model.advance();
}

LockedDevice::~LockedDevice()
{
    if (lock.owns_lock())
        model.writeStateIfChanged();
}

void LockedDevice::relock()
{
    lock.lock();
    model.advance();
}

} // namespace olvo::sim::detail
