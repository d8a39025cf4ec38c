#include "DeviceModel.h"

namespace olvo::sim
{

using detail::LockedDevice;

//==============================================================================
void SimDevice::reset()                                         { LockedDevice()->reset(); }
void SimDevice::setClock (std::function<int64_t()> nowMs)       { LockedDevice()->setClock (std::move (nowMs)); }
int64_t SimDevice::now()                                        { return LockedDevice()->now(); }

//==============================================================================
void SimDevice::plug()                                          { LockedDevice()->plug(); }
void SimDevice::unplug()                                        { LockedDevice()->unplug(); }
bool SimDevice::isPlugged()                                     { return LockedDevice()->isPlugged(); }
bool SimDevice::isPresent()                                     { return LockedDevice()->isPresent(); }
int SimDevice::openHandleCount()                                { return LockedDevice()->openHandleCount(); }
void SimDevice::unplugAfterCommands (int n)                     { LockedDevice()->unplugAfterCommands (n); }
void SimDevice::unplugAfterBlock (int block)                    { LockedDevice()->unplugAfterBlock (block); }
void SimDevice::unplugOnCommand (uint8_t code)                  { LockedDevice()->unplugOnCommand (code); }
void SimDevice::refuseOpen (bool shouldRefuse)                  { LockedDevice()->refuseOpen (shouldRefuse); }
void SimDevice::setRestartDelays (int detachMs, int attachMs)   { LockedDevice()->setRestartDelays (detachMs, attachMs); }

//==============================================================================
void SimDevice::setSerial (const std::string& serial)           { LockedDevice()->setSerial (serial); }
void SimDevice::setUid (std::array<uint32_t, 4> uid)            { LockedDevice()->setUid (uid); }
void SimDevice::setFirmwareVersion (int major, int minor, int tertiary)
{
    LockedDevice()->setFirmwareVersion (major, minor, tertiary);
}
std::array<int, 3> SimDevice::firmwareVersion()                 { return LockedDevice()->firmwareVersion(); }
void SimDevice::setBootLoaderMode (bool bootLoader)             { LockedDevice()->setBootLoaderMode (bootLoader); }
bool SimDevice::inBootLoader()                                  { return LockedDevice()->inBootLoader(); }

//==============================================================================
void SimDevice::setBattery (uint16_t first, uint16_t second)    { LockedDevice()->setBattery (first, second); }
void SimDevice::setBatteryReference (uint16_t reference)        { LockedDevice()->setBatteryReference (reference); }
void SimDevice::setChargeState (uint8_t state)                  { LockedDevice()->setChargeState (state); }
void SimDevice::setDeviceClock (int32_t seconds)                { LockedDevice()->setDeviceClock (seconds); }
int32_t SimDevice::deviceClock()                                { return LockedDevice()->deviceClock(); }
void SimDevice::setLogWords (std::vector<uint32_t> words)       { LockedDevice()->setLogWords (std::move (words)); }
void SimDevice::setSettings (std::array<uint8_t, 32> record)    { LockedDevice()->setSettings (record); }
std::array<uint8_t, 32> SimDevice::settings()                   { return LockedDevice()->settingsRecord(); }

//==============================================================================
std::array<uint8_t, 1024> SimDevice::block (int n)              { return LockedDevice()->block (n); }
void SimDevice::setBlock (int n, const std::array<uint8_t, 1024>& data) { LockedDevice()->setBlock (n, data); }
uint8_t SimDevice::blockWriteState()                            { return LockedDevice()->blockWriteState(); }
SimSlotEntry SimDevice::slotEntry (int s)                       { return LockedDevice()->slotEntry (s); }
void SimDevice::setSlotEntry (int s, const SimSlotEntry& entry) { LockedDevice()->setSlotEntry (s, entry); }

//==============================================================================
std::vector<SimCommand> SimDevice::commandLog()                 { return LockedDevice()->commandLog(); }
void SimDevice::clearCommandLog()                               { LockedDevice()->clearCommandLog(); }
std::vector<std::string> SimDevice::violations()                { return LockedDevice()->violations(); }
int SimDevice::violationCount()                                 { return LockedDevice()->violationCount(); }
void SimDevice::clearViolations()                               { LockedDevice()->clearViolations(); }
SimCounters SimDevice::counters()                               { return LockedDevice()->counters(); }

//==============================================================================
void SimDevice::failChecksumOn (int block, int attempt)         { LockedDevice()->failChecksumOn (block, attempt); }
void SimDevice::failChecksumAlways (int block)                  { LockedDevice()->failChecksumAlways (block); }
void SimDevice::slowCompletion (int statusReads, int ms)        { LockedDevice()->slowCompletion (statusReads, ms); }
void SimDevice::strayReplyNext (uint8_t code)                   { LockedDevice()->strayReplyNext (code); }
void SimDevice::lateReplyNext (uint8_t command, int reads)      { LockedDevice()->lateReplyNext (command, reads); }
void SimDevice::delayReplies (uint8_t command, int ms)          { LockedDevice()->delayReplies (command, ms); }
void SimDevice::setAnswerFilter (std::function<void (SimAnswer&)> filter)
{
    LockedDevice()->setAnswerFilter (std::move (filter));
}
void SimDevice::shortReplyNext (uint8_t command, int length)    { LockedDevice()->shortReplyNext (command, length); }

//==============================================================================
int SimDevice::loadScenario (const std::string& text, std::string& error)
{
    return LockedDevice()->loadScenario (text, error);
}

} // namespace olvo::sim
