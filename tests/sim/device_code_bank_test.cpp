// The code-bank switch: the device restarts into its boot loader, and back into the firmware now in flash.

#include "device_TestHost.h"

#include "sim/FirmwareImage.h"

namespace olvo::sim::test
{

namespace
{
    /** A firmware image of 32 blocks whose header names the given version. */
    std::vector<Block> firmwareImage (int major, int minor, int tertiary, bool withHeader = true)
    {
        std::vector<Block> blocks;
        for (int k = 0; k < 32; ++k)
            blocks.push_back (patternBlock (1000 + k));
        if (withHeader)
            FirmwareImageHeader::write (blocks[0].data(), major, minor, tertiary);
        return blocks;
    }
}

class CodeBankTest : public DeviceTest
{
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        SimDevice::setSerial ("SAME-ONE");
        SimDevice::setUid ({ 1, 2, 3, 4 });
        SimDevice::setRestartDelays (50, 300);
    }

    /** Lets the restart run its course (detach, then attach). */
    void restart()
    {
        advance (50);
        EXPECT_FALSE (SimDevice::isPresent());
        advance (300);
        EXPECT_TRUE (SimDevice::isPresent());
    }

    /** From normal firmware into the boot loader; returns the boot loader's handle. */
    hid_device* enterBootLoader()
    {
        auto* dev = plugAndOpen();
        EXPECT_EQ (send (dev, Request (16).at (1, 0)), 65);
        restart();
        auto* boot = openBoot();
        EXPECT_NE (boot, nullptr);
        return boot;
    }

    std::array<uint8_t, 65> ids (hid_device* dev)
    {
        std::array<uint8_t, 65> reply {};
        EXPECT_EQ (send (dev, Request (2)), 65);
        EXPECT_EQ (readReply (dev, reply), 64);
        return reply;
    }
};

TEST_F (CodeBankTest, BankZeroRestartsIntoTheBootLoader)
{
    auto* dev = plugAndOpen();
    ASSERT_EQ (send (dev, Request (16).at (1, 0)), 65);

    // Until the detach delay has passed, the normal firmware still answers.
    advance (49);
    EXPECT_EQ (status (dev)[8], 1);

    advance (1);
    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), -1);
    EXPECT_EQ (openNormal(), nullptr);
    EXPECT_EQ (openBoot(), nullptr);
    EXPECT_TRUE (SimDevice::isPlugged());
    EXPECT_EQ (SimDevice::counters().bootLoaderRestarts, 0);

    advance (300);
    EXPECT_EQ (SimDevice::counters().bootLoaderRestarts, 1);
    EXPECT_EQ (openNormal(), nullptr);
    auto* boot = openBoot();
    ASSERT_NE (boot, nullptr);
    EXPECT_TRUE (SimDevice::inBootLoader());
    EXPECT_EQ (status (boot)[8], 0);
    EXPECT_EQ (readReply (dev, reply), -1);     // the old handle stays gone

    const auto r = ids (boot);
    EXPECT_EQ (std::string ((const char*) r.data() + 1), "SAME-ONE");
    EXPECT_EQ (u32le (r.data() + 1 + 32), 1u);
    EXPECT_EQ (u32le (r.data() + 1 + 44), 4u);
    EXPECT_EQ (r[60], 0);
    EXPECT_EQ (r[61], 0);
    EXPECT_EQ (r[62] | r[63], 0);
}

struct ReturnCase
{
    const char* name;
    int blocksWritten;
    bool withHeader;
    bool backInNormal;
};

TEST_F (CodeBankTest, BankOneStartsTheNewFirmwareOnlyWhenAllOfItArrived)
{
    const ReturnCase cases[] = {
        { "whole image",             32, true,  true  },
        { "one block missing",       31, true,  false },
        { "image without a header",  32, false, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SimDevice::reset();
        SimDevice::setFirmwareVersion (1, 2, 0);
        auto* boot = enterBootLoader();
        ASSERT_NE (boot, nullptr);

        const auto image = firmwareImage (2, 3, 0x0104, c.withHeader);
        for (int k = 0; k < c.blocksWritten; ++k)
        {
            writeBlock (boot, 32 + k, image[(size_t) k]);
            ASSERT_EQ (status (boot)[10], 91);
        }

        ASSERT_EQ (send (boot, Request (16).at (1, 1)), 65);
        restart();

        if (c.backInNormal)
        {
            auto* normal = openNormal();
            ASSERT_NE (normal, nullptr);
            EXPECT_EQ (status (normal)[8], 1);
            const auto r = ids (normal);
            EXPECT_EQ (r[60], 2);
            EXPECT_EQ (r[61], 3);
            EXPECT_EQ ((r[62] << 8) | r[63], 0x0104);
            EXPECT_EQ (SimDevice::firmwareVersion(), (std::array<int, 3> { 2, 3, 0x0104 }));
        }
        else
        {
            EXPECT_EQ (openNormal(), nullptr);
            auto* again = openBoot();
            ASSERT_NE (again, nullptr);
            EXPECT_EQ (status (again)[8], 0);
        }
    }
}

TEST_F (CodeBankTest, ImageBlocksMustBeWrittenAgainAfterReenteringTheBootLoader)
{
    auto* boot = enterBootLoader();
    const auto image = firmwareImage (3, 0, 0);
    for (int k = 0; k < 31; ++k)
        writeBlock (boot, 32 + k, image[(size_t) k]);

    send (boot, Request (16).at (1, 1));       // incomplete: comes back as the boot loader
    restart();
    boot = openBoot();
    ASSERT_NE (boot, nullptr);

    writeBlock (boot, 63, image[31]);           // only the missing block
    send (boot, Request (16).at (1, 1));
    restart();
    EXPECT_TRUE (SimDevice::inBootLoader());
}

TEST_F (CodeBankTest, OtherBankRequestsAreIgnored)
{
    auto* dev = plugAndOpen();
    send (dev, Request (16).at (1, 1));         // already running bank 1
    send (dev, Request (16).at (1, 7));
    advance (1000);
    EXPECT_EQ (status (dev)[8], 1);

    SimDevice::setBootLoaderMode (true);
    send (dev, Request (16).at (1, 0));         // the boot loader is already there
    advance (1000);
    EXPECT_EQ (status (dev)[8], 0);
}

TEST_F (CodeBankTest, UnpluggingKeepsTheModeTheDeviceIsIn)
{
    enterBootLoader();
    SimDevice::unplug();
    EXPECT_EQ (plugAndOpen() != nullptr, true);
    EXPECT_TRUE (SimDevice::inBootLoader());

    // Unplugged while the switch to the boot loader is pending, it also comes back in the boot loader.
    SimDevice::reset();
    auto* dev = plugAndOpen();
    send (dev, Request (16).at (1, 0));
    SimDevice::unplug();
    SimDevice::plug();
    EXPECT_TRUE (SimDevice::inBootLoader());
    EXPECT_NE (openBoot(), nullptr);
}

} // namespace olvo::sim::test
