#pragma once

#include <cstdint>
#include <cstring>

namespace olvo
{

//==============================================================================
/** The device's wire formats, declared once. Offsets are in the device view: the 64 bytes after the report id. */
namespace wire
{
    constexpr int reportSize = 64;          ///< bytes on the wire
    constexpr int bufferSize = 65;          ///< report id + bytes on the wire

    // Device identities.
    constexpr unsigned short normalVendor = 0x0D60, normalProduct = 0xC000;
    constexpr unsigned short bootVendor   = 0x1FC9, bootProduct   = 0x0081;

    // Command codes (device byte 0 of a request; echoed in byte 0 of its reply).
    constexpr uint8_t cmdSettings        = 1;
    constexpr uint8_t cmdGetIds          = 2;
    constexpr uint8_t cmdSetBlockAddress = 8;
    constexpr uint8_t cmdWriteBlockData  = 9;
    constexpr uint8_t cmdSetFilename     = 10;
    constexpr uint8_t cmdGetFilename     = 11;
    constexpr uint8_t cmdGetLog          = 12;
    constexpr uint8_t cmdSetCodeBank     = 16;

    // Status report.
    constexpr int statusChargeState   = 1;   ///< 1 charging, 3 weak
    constexpr int statusBattery1      = 2;   ///< u16 little-endian
    constexpr int statusCodeBank      = 8;
    constexpr int statusBlockProgress = 9;
    constexpr int statusBlockState    = 10;  ///< <= 89 busy, > 90 finished, 92 checksum failure
    constexpr int statusClock         = 12;  ///< s32 big-endian, seconds
    constexpr int statusBattery2      = 16;  ///< u16 little-endian (firmware 1.2 and later)
    constexpr int statusSettings      = 32;  ///< the 32-byte settings record

    constexpr int blockBusyMax      = 89;
    constexpr int blockFinishedMin  = 91;    ///< "above 90"
    constexpr int blockChecksumFail = 92;

    // Settings record (offsets from its start).
    constexpr int settingsSize           = 32;
    constexpr int settingsTreatment      = 0;
    constexpr int settingsLevel1         = 2;    ///< group 1 level
    constexpr int settingsDuration1      = 12;   ///< group 1 duration low, high at 13
    constexpr int settingsDuration0      = 14;   ///< group 0 duration minutes % 60, hours at 15
    constexpr int settingsShareUsage     = 16;   ///< non-zero: the usage log is not uploaded
    constexpr int settingsLevel0         = 17;
    constexpr int settingsLevel2         = 18;
    constexpr int settingsDuration2      = 19;   ///< group 2 duration minutes % 60, hours at 20
    constexpr int settingsBatteryRef     = 21;   ///< u16 little-endian; always sent back as zero

    // Identity (as kept in DeviceIds).
    constexpr int idsSerial      = 0;    ///< 32 bytes, NUL-terminated unless 32 long
    constexpr int idsSerialSize  = 32;
    constexpr int idsUid         = 32;   ///< four u32 little-endian words
    constexpr int idsMajor       = 59;
    constexpr int idsMinor       = 60;
    constexpr int idsTertiary    = 61;   ///< u16 big-endian

    // Slot entries (set_filename / get_filename).
    constexpr int slotCount      = 6;
    constexpr int slotNameSize   = 32;
    constexpr int filenameSlot   = 1;
    constexpr int filenameName   = 2;
    constexpr int filenameCode   = 34;   ///< u32 big-endian
    constexpr int filenameMajor  = 38;
    constexpr int filenameMinor  = 39;

    // Log pages.
    constexpr int logValidBytes  = 2;
    constexpr int logData        = 4;
    constexpr int logPageMaxData = 60;
    constexpr int logMaxWords    = 512;
    constexpr int logMaxPages    = 256;

    // Blocks.
    constexpr int blockSize        = 1024;
    constexpr int chunkSize        = 60;
    constexpr int chunksPerBlock   = 18;   ///< 17 of 60 bytes and one of 4
    constexpr int firstWritableBlock = 32;
    constexpr int lastBlock        = 255;
    constexpr int firmwareFirstBlock = 32;
    constexpr int imageBlocks      = 32;   ///< 32 KB per image
    constexpr int imageSize        = imageBlocks * blockSize;
    constexpr int slotFirstBlock (int slot) { return 64 + 32 * slot; }

    inline uint16_t getU16LE (const uint8_t* p)  { return (uint16_t) (p[0] | (p[1] << 8)); }
    inline uint32_t getU32LE (const uint8_t* p)  { return (uint32_t) p[0] | ((uint32_t) p[1] << 8) | ((uint32_t) p[2] << 16) | ((uint32_t) p[3] << 24); }
    inline uint32_t getU32BE (const uint8_t* p)  { return ((uint32_t) p[0] << 24) | ((uint32_t) p[1] << 16) | ((uint32_t) p[2] << 8) | (uint32_t) p[3]; }
    inline uint16_t getU16BE (const uint8_t* p)  { return (uint16_t) ((p[0] << 8) | p[1]); }
    inline void putU32BE (uint8_t* p, uint32_t v) { p[0] = (uint8_t) (v >> 24); p[1] = (uint8_t) (v >> 16); p[2] = (uint8_t) (v >> 8); p[3] = (uint8_t) v; }
}

//==============================================================================
/** The 64-byte status report, device byte 0 first. Its bytes 32..63 are the device's settings record. */
struct StatusReport
{
    uint8_t bytes[wire::reportSize] {};

    uint8_t* deviceSettings()             { return bytes + wire::statusSettings; }
    const uint8_t* deviceSettings() const { return bytes + wire::statusSettings; }
};

/** The device's identity reply as kept by the engine (64 bytes). */
struct DeviceIds
{
    uint8_t bytes[wire::reportSize] {};

    uint32_t uidWord (int i) const { return wire::getU32LE (bytes + wire::idsUid + 4 * i); }
    int major() const              { return bytes[wire::idsMajor]; }
    int minor() const              { return bytes[wire::idsMinor]; }
    int tertiary() const           { return wire::getU16BE (bytes + wire::idsTertiary); }
};

/** One 32-bit word of the device's usage log: a 4-bit type in the top bits and a 28-bit value. */
using DeviceLogEntry = uint32_t;

} // namespace olvo
