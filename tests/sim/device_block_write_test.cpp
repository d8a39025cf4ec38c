// Block writes from the device's side: staging, checksum, reset with block 0, and the blocks each mode accepts.

#include "device_TestHost.h"

namespace olvo::sim::test
{

namespace
{
    Block erased()
    {
        Block b;
        b.fill (0xFF);
        return b;
    }
}

TEST_F (DeviceTest, ABlockWithTheRightChecksumIsCommitted)
{
    auto* dev = plugAndOpen();
    const auto data = patternBlock (1);

    ASSERT_EQ (send (dev, Request (8).at (1, 64).u32be (2, blockChecksum (data))), 65);
    auto s = status (dev);
    EXPECT_LE (s[10], 89);
    EXPECT_EQ (s[9], 0);

    for (int chunk = 0; chunk < 5; ++chunk)
        send (dev, Request (9).at (1, 64).at (2, (uint8_t) chunk).at (3, 60).data (4, data.data() + 60 * chunk, 60));
    s = status (dev);
    EXPECT_LE (s[10], 89);
    EXPECT_EQ (s[9], 5);
    EXPECT_EQ (SimDevice::block (64), erased());

    writeBlock (dev, 64, data);
    s = status (dev);
    EXPECT_EQ (s[10], 91);
    EXPECT_EQ (s[9], 18);
    EXPECT_EQ (SimDevice::block (64), data);
    EXPECT_EQ (SimDevice::block (65), erased());
    EXPECT_EQ (SimDevice::violationCount(), 1);   // the second address came without a reset first
}

TEST_F (DeviceTest, AWrongChecksumFailsAndCommitsNothing)
{
    auto* dev = plugAndOpen();
    const auto data = patternBlock (2);
    writeBlock (dev, 100, data, blockChecksum (data) + 1);

    EXPECT_EQ (status (dev)[10], 92);
    EXPECT_EQ (SimDevice::block (100), erased());
    EXPECT_EQ (SimDevice::violationCount(), 0);
}

TEST_F (DeviceTest, BlockZeroResetsAnUnfinishedWrite)
{
    auto* dev = plugAndOpen();
    const auto data = patternBlock (3);
    send (dev, Request (8).at (1, 70).u32be (2, blockChecksum (data)));
    for (int chunk = 0; chunk < 10; ++chunk)
        send (dev, Request (9).at (1, 70).at (2, (uint8_t) chunk).at (3, 60).data (4, data.data() + 60 * chunk, 60));

    send (dev, Request (8));
    auto s = status (dev);
    EXPECT_EQ (s[10], 91);
    EXPECT_EQ (s[9], 0);

    // The staged data are gone: the rest of the chunks complete nothing.
    for (int chunk = 10; chunk < 18; ++chunk)
    {
        const uint8_t length = chunk == 17 ? 4 : 60;
        send (dev, Request (9).at (1, 70).at (2, (uint8_t) chunk).at (3, length).data (4, data.data() + 60 * chunk, length));
    }
    EXPECT_EQ (SimDevice::block (70), erased());
    EXPECT_EQ (SimDevice::violationCount(), 8);

    // A fresh write after the reset works.
    writeBlock (dev, 70, data);
    EXPECT_EQ (status (dev)[10], 91);
    EXPECT_EQ (SimDevice::block (70), data);
}

struct ModeCase
{
    bool bootLoader;
    int block;
    bool commits;
};

TEST_F (DeviceTest, EachModeCommitsOnlyItsOwnBlocks)
{
    // The normal firmware takes program slots only, the boot loader the firmware and the slots: nothing writes the
    // firmware it is running from, and blocks below 32 are never written.
    const ModeCase cases[] = {
        { false, 64, true }, { false, 255, true }, { false, 63, false }, { false, 32, false }, { false, 31, false },
        { false, 1, false }, { true, 32, true }, { true, 63, true }, { true, 64, true }, { true, 255, true },
        { true, 31, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE ((c.bootLoader ? "boot loader, block " : "normal firmware, block ") + std::to_string (c.block));
        SimDevice::reset();
        SimDevice::setBootLoaderMode (c.bootLoader);
        auto* dev = plugAndOpen();
        const auto data = patternBlock (c.block);

        writeBlock (dev, c.block, data);
        EXPECT_EQ (status (dev)[10], c.commits ? 91 : 92);
        EXPECT_EQ (SimDevice::block (c.block), c.commits ? data : erased());
        EXPECT_EQ (SimDevice::violationCount(), c.commits ? 0 : 1);
    }
}

TEST_F (DeviceTest, MalformedChunksAreIgnoredAndNoted)
{
    auto* dev = plugAndOpen();
    const auto data = patternBlock (4);

    send (dev, Request (9).at (1, 80).at (2, 0).at (3, 60));                 // no block write open
    send (dev, Request (8).at (1, 80).u32be (2, blockChecksum (data)));
    send (dev, Request (9).at (1, 81).at (2, 0).at (3, 60));                 // another block than the open one
    send (dev, Request (9).at (1, 80).at (2, 18).at (3, 60));                // no such chunk
    send (dev, Request (9).at (1, 80).at (2, 3).at (3, 59));                 // wrong length
    send (dev, Request (9).at (1, 80).at (2, 17).at (3, 60));                // the last chunk is 4 bytes

    EXPECT_EQ (status (dev)[9], 0);
    EXPECT_EQ (SimDevice::violationCount(), 5);
    EXPECT_EQ (SimDevice::block (80), erased());
    EXPECT_EQ (SimDevice::block (81), erased());
}

} // namespace olvo::sim::test
