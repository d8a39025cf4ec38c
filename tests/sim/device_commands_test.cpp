// What the device does with each command, byte for byte, and what its status report carries.

#include "device_TestHost.h"

#include "sim/FirmwareImage.h"

namespace olvo::sim::test
{

TEST_F (DeviceTest, StatusReportCarriesTheDeviceState)
{
    SimDevice::setChargeState (3);
    SimDevice::setBattery (0x1234, 0xABCD);
    SimDevice::setBatteryReference (0x5678);
    SimDevice::setDeviceClock (-2);
    std::array<uint8_t, 32> record {};
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = (uint8_t) (0x40 + i);
    SimDevice::setSettings (record);
    auto* dev = plugAndOpen();

    auto s = status (dev);
    EXPECT_EQ (s[1], 3);
    EXPECT_EQ (u16le (&s[2]), 0x1234);
    EXPECT_EQ (s[8], 1);                    // normal firmware runs code bank 1
    EXPECT_EQ (s[9], 0);
    EXPECT_EQ (s[10], 91);                  // no block write pending
    EXPECT_EQ ((int32_t) u32be (&s[12]), -2);
    EXPECT_EQ (u16le (&s[16]), 0xABCD);
    EXPECT_EQ (s[32], 0x40);
    EXPECT_EQ (s[52], 0x40 + 20);
    EXPECT_EQ (u16le (&s[53]), 0x5678);     // the reference, not what the record said
    EXPECT_EQ (s[55], 0x40 + 23);

    // The device clock runs with the sim clock.
    advance (3500);
    s = status (dev);
    EXPECT_EQ ((int32_t) u32be (&s[12]), 1);
}

TEST_F (DeviceTest, SettingsCommandStoresTheRecordButKeepsTheBatteryReference)
{
    SimDevice::setBatteryReference (0x0102);
    auto* dev = plugAndOpen();

    std::array<uint8_t, 32> record;
    for (size_t i = 0; i < record.size(); ++i)
        record[i] = (uint8_t) (i + 1);
    ASSERT_EQ (send (dev, Request (1).data (1, record.data(), record.size())), 65);

    auto expected = record;
    expected[21] = 0x02;
    expected[22] = 0x01;
    EXPECT_EQ (SimDevice::settings(), expected);

    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 0);      // no answer to settings
}

struct IdsCase
{
    const char* name;
    std::string serial;
    bool bootLoader;
    std::array<int, 3> expectedVersion;
};

TEST_F (DeviceTest, GetIdsReplyLayout)
{
    const std::string thirtyTwo = "0123456789ABCDEF0123456789ABCDEF";
    const IdsCase cases[] = {
        { "short serial",               "OLVO-7",  false, { 1, 2, 0x0304 } },
        { "serial of 32 characters",    thirtyTwo, false, { 1, 2, 0x0304 } },
        { "boot loader: no version",    "OLVO-7",  true,  { 0, 0, 0 } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SimDevice::reset();
        SimDevice::setSerial (c.serial);
        SimDevice::setUid ({ 0x11223344, 0, 0xFFFFFFFF, 0x80000001 });
        SimDevice::setFirmwareVersion (1, 2, 0x0304);
        SimDevice::setBootLoaderMode (c.bootLoader);
        auto* dev = plugAndOpen();

        ASSERT_EQ (send (dev, Request (2)), 65);
        std::array<uint8_t, 65> reply;
        ASSERT_EQ (readReply (dev, reply), 64);
        EXPECT_EQ (reply[0], 2);

        const uint8_t* ids = reply.data() + 1;     // reply byte k + 1 = identity byte k
        EXPECT_EQ (std::string ((const char*) ids, c.serial.size()), c.serial);
        if (c.serial.size() < 32)
        {
            EXPECT_EQ (ids[c.serial.size()], 0);
        }
        EXPECT_EQ (u32le (ids + 32), 0x11223344u);
        EXPECT_EQ (u32le (ids + 36), 0u);
        EXPECT_EQ (u32le (ids + 40), 0xFFFFFFFFu);
        EXPECT_EQ (u32le (ids + 44), 0x80000001u);
        EXPECT_EQ (ids[59], c.expectedVersion[0]);
        EXPECT_EQ (ids[60], c.expectedVersion[1]);
        EXPECT_EQ ((ids[61] << 8) | ids[62], c.expectedVersion[2]);
    }
}

TEST_F (DeviceTest, SlotEntriesRoundTripThroughSetAndGetFilename)
{
    auto* dev = plugAndOpen();
    const uint8_t name[32] = { 'C', 'a', 'l', 'm', 0x80 | 'x' };
    ASSERT_EQ (send (dev, Request (10).at (1, 4).data (2, name, 32).u32be (34, 0xA1B2C3D4).at (38, 3).at (39, 7)), 65);

    const auto entry = SimDevice::slotEntry (4);
    EXPECT_EQ (std::memcmp (entry.name.data(), name, 32), 0);   // stored as sent, top bit included
    EXPECT_EQ (entry.code, 0xA1B2C3D4u);
    EXPECT_EQ (entry.major, 3);
    EXPECT_EQ (entry.minor, 7);

    ASSERT_EQ (send (dev, Request (11).at (1, 4)), 65);
    std::array<uint8_t, 65> reply;
    ASSERT_EQ (readReply (dev, reply), 64);
    EXPECT_EQ (reply[0], 11);
    EXPECT_EQ (reply[1], 4);
    EXPECT_EQ (std::memcmp (reply.data() + 2, name, 32), 0);
    EXPECT_EQ (u32be (reply.data() + 34), 0xA1B2C3D4u);
    EXPECT_EQ (reply[38], 3);
    EXPECT_EQ (reply[39], 7);
}

TEST_F (DeviceTest, SlotNumbersAboveFiveAreIgnored)
{
    auto* dev = plugAndOpen();
    send (dev, Request (10).at (1, 6).at (2, 'X').u32be (34, 9));
    send (dev, Request (11).at (1, 6));

    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 0);
    for (int s = 0; s < 6; ++s)
        EXPECT_EQ (SimDevice::slotEntry (s), SimSlotEntry {});
    EXPECT_EQ (SimDevice::violationCount(), 2);
}

struct LogCase
{
    size_t words;
    int page;
    int validBytes;     // expected reply byte 2
};

TEST_F (DeviceTest, LogPagesCarryFifteenWordsEach)
{
    const LogCase cases[] = {
        { 0, 0, 0 }, { 15, 0, 60 }, { 15, 1, 0 }, { 16, 1, 4 }, { 20, 1, 20 }, { 600, 39, 60 }, { 600, 40, 0 },
        { 3840, 255, 60 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::to_string (c.words) + " words, page " + std::to_string (c.page));
        SimDevice::reset();
        std::vector<uint32_t> words;
        for (size_t i = 0; i < c.words; ++i)
            words.push_back (0xE0000000u + (uint32_t) i);
        SimDevice::setLogWords (words);
        auto* dev = plugAndOpen();

        ASSERT_EQ (send (dev, Request (12).at (1, (uint8_t) c.page)), 65);
        std::array<uint8_t, 65> reply;
        ASSERT_EQ (readReply (dev, reply), 64);
        EXPECT_EQ (reply[0], 12);
        EXPECT_EQ (reply[1], c.page);
        EXPECT_EQ (reply[2], c.validBytes);

        for (int w = 0; w < c.validBytes / 4; ++w)
            EXPECT_EQ (u32le (reply.data() + 4 + 4 * w), 0xE0000000u + (uint32_t) (c.page * 15 + w));
        for (int i = 4 + c.validBytes; i < 64; ++i)
            EXPECT_EQ (reply[(size_t) i], 0);
    }
}

TEST_F (DeviceTest, UnknownCommandsAreLoggedAndChangeNothing)
{
    auto* dev = plugAndOpen();
    const auto before = status (dev);
    ASSERT_EQ (send (dev, Request (0x77).at (1, 1).at (2, 2)), 65);

    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 0);
    EXPECT_EQ (status (dev), before);

    const auto log = SimDevice::commandLog();
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (log[0].code, 0x77);
    EXPECT_EQ (log[0].bytes[2], 2);
    EXPECT_FALSE (log[0].isOutputReport);
    EXPECT_EQ (SimDevice::violationCount(), 0);
}

TEST_F (DeviceTest, TheBootLoaderKeepsSlotNamesButIgnoresSettingsAndLog)
{
    SimDevice::setBootLoaderMode (true);
    SimDevice::setLogWords ({ 1, 2, 3 });
    auto* dev = plugAndOpen();

    send (dev, Request (1).at (1, 0x55));
    send (dev, Request (12).at (1, 0));

    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 0);
    EXPECT_EQ (SimDevice::settings()[0], 0);

    send (dev, Request (10).at (1, 0).at (2, 'A'));
    EXPECT_EQ (SimDevice::slotEntry (0).name[0], 'A');
    send (dev, Request (11).at (1, 0));
    ASSERT_GT (readReply (dev, reply), 0);
    EXPECT_EQ (reply[0], 11);
    EXPECT_EQ (reply[2], 'A');
    EXPECT_EQ (status (dev)[8], 0);
}

} // namespace olvo::sim::test
