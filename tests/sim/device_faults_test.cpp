// The faults a test can arm, each seen from the host's side.

#include "device_TestHost.h"

#include <thread>

namespace olvo::sim::test
{

TEST_F (DeviceTest, FailChecksumOnFailsOnlyTheChosenAttempt)
{
    SimDevice::failChecksumOn (70, 2);
    auto* dev = plugAndOpen();
    const auto first = patternBlock (1), second = patternBlock (2), third = patternBlock (3);

    writeBlock (dev, 70, first);
    EXPECT_EQ (status (dev)[10], 91);
    writeBlock (dev, 70, second);
    EXPECT_EQ (status (dev)[10], 92);
    EXPECT_EQ (SimDevice::block (70), first);
    writeBlock (dev, 70, third);
    EXPECT_EQ (status (dev)[10], 91);
    EXPECT_EQ (SimDevice::block (70), third);
}

TEST_F (DeviceTest, AWornBlockFailsEveryAttemptAndOnlyThatBlock)
{
    SimDevice::failChecksumAlways (70);
    auto* dev = plugAndOpen();
    const auto before = SimDevice::block (70);

    for (int attempt = 1; attempt <= 6; ++attempt)
    {
        writeBlock (dev, 70, patternBlock (attempt));
        EXPECT_EQ (status (dev)[10], 92) << "attempt " << attempt;
    }
    EXPECT_EQ (SimDevice::block (70), before);

    writeBlock (dev, 71, patternBlock (9));
    EXPECT_EQ (status (dev)[10], 91);
    EXPECT_EQ (SimDevice::block (71), patternBlock (9));
}

TEST_F (DeviceTest, SlowCompletionHoldsTheFinalStateBackForReads)
{
    SimDevice::slowCompletion (3, 0);
    auto* dev = plugAndOpen();
    const auto data = patternBlock (5);
    writeBlock (dev, 90, data);

    for (int i = 0; i < 3; ++i)
    {
        const auto s = status (dev);
        EXPECT_LE (s[10], 89);
        EXPECT_EQ (s[9], 18);
    }

    EXPECT_NE (SimDevice::block (90), data);
    EXPECT_EQ (status (dev)[10], 91);
    EXPECT_EQ (SimDevice::block (90), data);
}

TEST_F (DeviceTest, SlowCompletionHoldsTheFinalStateBackForTime)
{
    SimDevice::slowCompletion (0, 200);
    auto* dev = plugAndOpen();
    const auto data = patternBlock (6);
    writeBlock (dev, 91, data, blockChecksum (data) ^ 1);

    advance (199);
    EXPECT_LE (status (dev)[10], 89);
    advance (1);
    EXPECT_EQ (status (dev)[10], 92);

    // A reset before the end abandons the block.
    writeBlock (dev, 92, data);
    send (dev, Request (8));
    advance (500);
    EXPECT_EQ (status (dev)[10], 91);
    EXPECT_NE (SimDevice::block (92), data);
}

TEST_F (DeviceTest, StrayReplyComesBeforeTheNextRealReply)
{
    SimDevice::strayReplyNext (5);
    auto* dev = plugAndOpen();
    send (dev, Request (2));

    std::array<uint8_t, 65> reply;
    ASSERT_EQ (readReply (dev, reply), 64);
    EXPECT_EQ (reply[0], 5);
    ASSERT_EQ (readReply (dev, reply), 64);
    EXPECT_EQ (reply[0], 2);
    EXPECT_EQ (readReply (dev, reply), 0);
}

TEST_F (DeviceTest, LateReplyNeedsFurtherReads)
{
    SimDevice::lateReplyNext (11, 3);
    auto* dev = plugAndOpen();
    send (dev, Request (11).at (1, 0));

    std::array<uint8_t, 65> reply;
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ (readReply (dev, reply), 0);
    ASSERT_EQ (readReply (dev, reply), 64);
    EXPECT_EQ (reply[0], 11);

    // Only the next reply was late.
    send (dev, Request (11).at (1, 0));
    EXPECT_EQ (readReply (dev, reply), 64);
}

TEST_F (DeviceTest, ShortReplyReportsFewerBytes)
{
    SimDevice::shortReplyNext (11, 2);
    auto* dev = plugAndOpen();
    send (dev, Request (2));
    send (dev, Request (11).at (1, 0));
    send (dev, Request (11).at (1, 0));

    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 64);     // another command is not affected
    EXPECT_EQ (readReply (dev, reply), 2);
    EXPECT_EQ (reply[0], 11);
    EXPECT_EQ (readReply (dev, reply), 64);
}

TEST_F (DeviceTest, UnplugAfterCommandsUnplugsRightAfterTheLastOne)
{
    SimDevice::unplugAfterCommands (3);
    auto* dev = plugAndOpen();
    unsigned char buffer[65] {};

    EXPECT_EQ (hid_get_feature_report (dev, buffer, 65), 65);   // status reads are not commands
    EXPECT_EQ (send (dev, Request (2)), 65);
    EXPECT_EQ (send (dev, Request (2)), 65);
    EXPECT_TRUE (SimDevice::isPlugged());
    EXPECT_EQ (send (dev, Request (1).at (1, 0x33)), 65);
    EXPECT_FALSE (SimDevice::isPlugged());
    EXPECT_EQ (SimDevice::settings()[0], 0x33);                  // the last command was still carried out
    EXPECT_EQ (send (dev, Request (2)), -1);
    EXPECT_EQ (hid_read (dev, buffer, 65), -1);
}

TEST_F (DeviceTest, UnplugAfterBlockWaitsForThatBlockToBeCommitted)
{
    SimDevice::unplugAfterBlock (71);
    auto* dev = plugAndOpen();
    const auto data = patternBlock (7);

    writeBlock (dev, 70, data);
    writeBlock (dev, 71, data, blockChecksum (data) ^ 1);       // a failed write of it does not count
    EXPECT_TRUE (SimDevice::isPlugged());
    writeBlock (dev, 71, data);
    EXPECT_FALSE (SimDevice::isPlugged());
    EXPECT_EQ (SimDevice::block (71), data);

    // Once only.
    dev = plugAndOpen();
    writeBlock (dev, 71, data);
    EXPECT_TRUE (SimDevice::isPlugged());
}

TEST_F (DeviceTest, HostAndTestThreadsMayCallAtTheSameTime)
{
    // A worker thread talks to the device through hidapi while this thread changes it; under ThreadSanitizer this
    // shows the state is guarded.
    SimDevice::plug();
    std::atomic<bool> stop { false };
    std::atomic<int> replies { 0 };

    std::thread host ([&]
    {
        while (! stop)
        {
            hid_init();
            if (auto* dev = hid_open (0x0D60, 0xC000, nullptr))
            {
                hid_set_nonblocking (dev, 1);
                unsigned char buffer[65] {};
                for (int i = 0; i < 50 && ! stop; ++i)
                {
                    buffer[0] = 0;
                    hid_get_feature_report (dev, buffer, 65);
                    buffer[0] = 0;
                    buffer[1] = 2;
                    hid_send_feature_report (dev, buffer, 65);
                    if (hid_read_timeout (dev, buffer, 65, 1) > 0)
                        ++replies;
                }
                hid_close (dev);
            }
            hid_exit();
        }
    });

    for (int i = 0; i < 200; ++i)
    {
        SimDevice::setBattery ((uint16_t) i, (uint16_t) (i + 1));
        SimDevice::setSettings ({});
        advance (10);
        if (i % 20 == 10)
            SimDevice::unplug();
        if (i % 20 == 15)
            SimDevice::plug();
        (void) SimDevice::commandLog().size();
        std::this_thread::sleep_for (std::chrono::microseconds (200));
    }

    stop = true;
    host.join();
    EXPECT_EQ (SimDevice::counters().opens, SimDevice::counters().closes);
}

} // namespace olvo::sim::test
