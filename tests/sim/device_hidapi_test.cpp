// The hidraw conventions of the simulated hidapi: who may open, report sizes, report ids, the reply queue and
// what a handle does once its device has gone.

#include "device_TestHost.h"

#include <thread>

namespace olvo::sim::test
{

struct OpenCase
{
    const char* name;
    bool plugged, bootLoader, refused;
    unsigned short vendor, product;
    bool opens;
};

TEST_F (DeviceTest, OpenAnswersOnlyTheIdentityOfTheCurrentMode)
{
    const OpenCase cases[] = {
        { "normal firmware, normal identity",    true,  false, false, 0x0D60, 0xC000, true  },
        { "normal firmware, boot identity",      true,  false, false, 0x1FC9, 0x0081, false },
        { "boot loader, boot identity",          true,  true,  false, 0x1FC9, 0x0081, true  },
        { "boot loader, normal identity",        true,  true,  false, 0x0D60, 0xC000, false },
        { "unplugged",                           false, false, false, 0x0D60, 0xC000, false },
        { "open refused",                        true,  false, true,  0x0D60, 0xC000, false },
        { "other vendor",                        true,  false, false, 0x0D61, 0xC000, false },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        SimDevice::reset();
        SimDevice::setBootLoaderMode (c.bootLoader);
        SimDevice::refuseOpen (c.refused);

        if (c.plugged)
            SimDevice::plug();

        auto* dev = open (c.vendor, c.product);
        EXPECT_EQ (dev != nullptr, c.opens);
        EXPECT_EQ (SimDevice::counters().opens, c.opens ? 1 : 0);
        EXPECT_NE (hid_error (nullptr), nullptr);
    }
}

TEST_F (DeviceTest, OpenBySerialMatchesOnlyTheDevicesSerial)
{
    SimDevice::setSerial ("ABC-1");
    SimDevice::plug();
    EXPECT_EQ (hid_open (0x0D60, 0xC000, L"XYZ"), nullptr);

    auto* dev = hid_open (0x0D60, 0xC000, L"ABC-1");
    ASSERT_NE (dev, nullptr);
    hid_close (dev);
    EXPECT_EQ (SimDevice::counters().closes, 1);
}

TEST_F (DeviceTest, InitAndExitSucceedAndAreCounted)
{
    EXPECT_EQ (hid_init(), 0);
    EXPECT_EQ (hid_init(), 0);
    EXPECT_EQ (hid_exit(), 0);
    EXPECT_EQ (SimDevice::counters().initCalls, 2);
    EXPECT_EQ (SimDevice::counters().exitCalls, 1);
}

TEST_F (DeviceTest, FeatureReportsAre65BytesWithReportIdZero)
{
    auto* dev = plugAndOpen();

    unsigned char buffer[65] {};
    buffer[1] = 1;
    EXPECT_EQ (hid_send_feature_report (dev, buffer, 65), 65);
    EXPECT_EQ (hid_get_feature_report (dev, buffer, 65), 65);
    EXPECT_EQ (buffer[0], 0);
    EXPECT_EQ (SimDevice::violationCount(), 0);

    // Another report id is refused (the device has only report 0); another length is accepted but noted.
    unsigned char other[65] {};
    other[0] = 1;
    EXPECT_EQ (hid_send_feature_report (dev, other, 65), -1);
    EXPECT_EQ (hid_get_feature_report (dev, other, 65), -1);

    unsigned char shortReport[10] {};
    shortReport[1] = 1;
    EXPECT_EQ (hid_send_feature_report (dev, shortReport, sizeof (shortReport)), 10);
    EXPECT_EQ (SimDevice::violationCount(), 3);
}

TEST_F (DeviceTest, AHandleIsGoneForGoodOnceTheDeviceWent)
{
    auto* dev = plugAndOpen();
    SimDevice::unplug();

    std::array<uint8_t, 65> reply;
    unsigned char buffer[65] {};
    EXPECT_EQ (readReply (dev, reply), -1);
    EXPECT_EQ (send (dev, Request (2)), -1);
    EXPECT_EQ (hid_get_feature_report (dev, buffer, 65), -1);
    EXPECT_EQ (hid_write (dev, buffer, 65), -1);
    EXPECT_NE (hid_error (dev), nullptr);

    // Plugged in again, the old handle stays gone; a new one works.
    auto* fresh = plugAndOpen();
    EXPECT_EQ (readReply (dev, reply), -1);
    EXPECT_EQ (send (dev, Request (2)), -1);
    EXPECT_EQ (send (fresh, Request (2)), 65);
    EXPECT_EQ (readReply (fresh, reply), 64);
}

TEST_F (DeviceTest, RepliesQueueUpToABoundDroppingTheOldest)
{
    auto* dev = plugAndOpen();
    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 0);

    for (int page = 0; page < 40; ++page)
        ASSERT_EQ (send (dev, Request (12).at (1, (uint8_t) page)), 65);

    for (int expectedPage = 8; expectedPage < 40; ++expectedPage)
    {
        ASSERT_EQ (readReply (dev, reply), 64);
        EXPECT_EQ (reply[0], 12);
        EXPECT_EQ (reply[1], expectedPage);
    }

    EXPECT_EQ (readReply (dev, reply), 0);
}

TEST_F (DeviceTest, ReadCopiesAtMostTheBufferLength)
{
    auto* dev = plugAndOpen();
    send (dev, Request (2));

    unsigned char small[10];
    std::memset (small, 0xEE, sizeof (small));
    EXPECT_EQ (hid_read (dev, small, 4), 4);
    EXPECT_EQ (small[0], 2);
    EXPECT_EQ (small[4], 0xEE);
}

TEST_F (DeviceTest, OutputReportsAreLoggedButNotAnswered)
{
    auto* dev = plugAndOpen();
    unsigned char buffer[65] {};
    buffer[1] = 2;
    EXPECT_EQ (hid_write (dev, buffer, 65), 65);

    std::array<uint8_t, 65> reply;
    EXPECT_EQ (readReply (dev, reply), 0);

    const auto log = SimDevice::commandLog();
    ASSERT_EQ (log.size(), 1u);
    EXPECT_EQ (log[0].code, 2);
    EXPECT_TRUE (log[0].isOutputReport);
    EXPECT_EQ (log[0].timeMs, virtualNow.load());
}

TEST_F (DeviceTest, ReadTimeoutReturnsAQueuedReplyOrNothing)
{
    auto* dev = plugAndOpen();
    unsigned char buffer[65];
    EXPECT_EQ (hid_read_timeout (dev, buffer, sizeof (buffer), 20), 0);

    send (dev, Request (2));
    EXPECT_EQ (hid_read_timeout (dev, buffer, sizeof (buffer), 20), 64);
    EXPECT_EQ (buffer[0], 2);
}

TEST_F (DeviceTest, ReadTimeoutSeesAReplyQueuedByAnotherHandleMeanwhile)
{
    // Like hidraw, every open handle receives each input report.
    auto* reader = plugAndOpen();
    auto* sender = openNormal();
    ASSERT_NE (sender, nullptr);

    std::thread other ([sender] { std::this_thread::sleep_for (std::chrono::milliseconds (20)); send (sender, Request (2)); });
    unsigned char buffer[65] {};
    const int n = hid_read_timeout (reader, buffer, sizeof (buffer), -1);
    other.join();
    EXPECT_EQ (n, 64);
    EXPECT_EQ (buffer[0], 2);
}

TEST_F (DeviceTest, EnumerateListsThePresentIdentity)
{
    EXPECT_EQ (hid_enumerate (0, 0), nullptr);

    SimDevice::setSerial ("S-9");
    SimDevice::plug();
    auto* list = hid_enumerate (0x0D60, 0);
    ASSERT_NE (list, nullptr);
    EXPECT_EQ (list->vendor_id, 0x0D60);
    EXPECT_EQ (list->product_id, 0xC000);
    EXPECT_EQ (std::wstring (list->serial_number), L"S-9");
    EXPECT_EQ (list->next, nullptr);
    hid_free_enumeration (list);

    EXPECT_EQ (hid_enumerate (0x1FC9, 0x0081), nullptr);
}

// A device the user has no permission for: listed, but neither way of opening it succeeds, and hidapi says why.
TEST_F (DeviceTest, APresentDeviceThatRefusesToOpenIsStillListed)
{
    SimDevice::plug();
    SimDevice::refuseOpen (true);

    auto* list = hid_enumerate (0x0D60, 0xC000);
    ASSERT_NE (list, nullptr);
    EXPECT_EQ (hid_open_path (list->path), nullptr);
    EXPECT_NE (std::wstring (hid_error (nullptr)).find (L"Permission denied"), std::wstring::npos);
    EXPECT_EQ (hid_open (0x0D60, 0xC000, nullptr), nullptr);

    SimDevice::refuseOpen (false);
    auto* dev = hid_open_path (list->path);
    EXPECT_NE (dev, nullptr);
    hid_close (dev);
    hid_free_enumeration (list);
}

TEST_F (DeviceTest, CallsOnAHandleThatIsNotOpenAreRefusedAndNoted)
{
    SimDevice::plug();
    int notAHandle = 0;
    auto* bogus = reinterpret_cast<hid_device*> (&notAHandle);
    unsigned char buffer[65] {};

    EXPECT_EQ (hid_send_feature_report (bogus, buffer, 65), -1);
    EXPECT_EQ (hid_read (bogus, buffer, 65), -1);
    EXPECT_EQ (hid_read (nullptr, buffer, 65), -1);
    EXPECT_NE (hid_error (bogus), nullptr);
    EXPECT_EQ (SimDevice::violationCount(), 3);
    EXPECT_EQ (notAHandle, 0);
}

} // namespace olvo::sim::test
