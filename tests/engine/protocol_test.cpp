// The device layer against the simulated device: what reaches the device, byte for byte, and what comes back.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"
#include "sim/FirmwareImage.h"

#include <hidapi.h>

#include <numeric>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    class DeviceLayer : public test::EngineTest
    {
    protected:
        void plugAndOpen()
        {
            SimDevice::plug();
            ASSERT_EQ (device_open(), 0);
            SimDevice::clearCommandLog();
        }

        /** Feature-report commands the device received, in order (output reports left out). */
        static std::vector<sim::SimCommand> commands()
        {
            std::vector<sim::SimCommand> result;
            for (auto& c : SimDevice::commandLog())
                if (! c.isOutputReport)
                    result.push_back (c);
            return result;
        }

        static std::array<uint8_t, 1024> patternBlock (uint8_t seed)
        {
            std::array<uint8_t, 1024> data {};
            for (size_t i = 0; i < data.size(); ++i)
                data[i] = (uint8_t) (seed + i * 7);
            return data;
        }
    };

    std::array<uint8_t, 32> nameBytes (const char* text)
    {
        std::array<uint8_t, 32> name {};
        std::memcpy (name.data(), text, std::min<size_t> (32, std::strlen (text)));
        return name;
    }
}

//==============================================================================
TEST_F (DeviceLayer, OpensEitherIdentityOnlyWhenPresent)
{
    EXPECT_EQ (device_open(), 1) << "nothing attached";
    EXPECT_FALSE (device_is_open());

    SimDevice::refuseOpen (true);
    SimDevice::plug();
    EXPECT_EQ (device_open(), 1) << "open refused";

    SimDevice::refuseOpen (false);
    EXPECT_EQ (device_open(), 0);
    EXPECT_EQ (device_open(), 0) << "already open";
    EXPECT_EQ (SimDevice::counters().opens, 1);

    device_close();
    EXPECT_FALSE (device_is_open());

    SimDevice::setBootLoaderMode (true);
    EXPECT_EQ (device_open(), 0) << "the boot loader's identity is the fallback";
}

TEST_F (DeviceLayer, StatusReportIsTheSixtyFourDataBytes)
{
    SimDevice::setBattery (0x1234, 0xBEEF);
    SimDevice::setChargeState (1);
    plugAndOpen();

    uint8_t status[64] {};
    EXPECT_EQ (read_status_report (status), 65);
    EXPECT_EQ (status[wire::statusChargeState], 1);
    EXPECT_EQ (wire::getU16LE (status + wire::statusBattery1), 0x1234);
    EXPECT_EQ (wire::getU16LE (status + wire::statusBattery2), 0xBEEF);
    EXPECT_EQ (status[wire::statusCodeBank], 1);

    SimDevice::unplug();
    EXPECT_EQ (read_status_report (status), -1);
}

//==============================================================================
// The send-only commands, as they arrive at the device.
TEST_F (DeviceLayer, SendOnlyCommandLayouts)
{
    plugAndOpen();

    std::array<uint8_t, 32> settings {};
    for (int i = 0; i < 32; ++i)
        settings[(size_t) i] = (uint8_t) (0xA0 + i);
    EXPECT_TRUE (send_settings (settings.data()));

    const auto name = nameBytes ("Program name that fills 32 bytes");
    set_filename (4, name.data(), 0x01020304, 7, 9);
    set_code_bank (1);

    const auto sent = commands();
    ASSERT_EQ (sent.size(), 3u);

    struct Expect { int at; std::vector<uint8_t> bytes; };
    std::array<uint8_t, 32> slotName {};
    std::copy (name.begin(), name.end(), slotName.begin());

    const std::vector<std::pair<int, Expect>> cases {
        { 0, { 0, { wire::cmdSettings } } },
        { 0, { 1, std::vector<uint8_t> (settings.begin(), settings.end()) } },
        { 1, { 0, { wire::cmdSetFilename, 4 } } },
        { 1, { 2, std::vector<uint8_t> (slotName.begin(), slotName.end()) } },
        { 1, { 34, { 0x01, 0x02, 0x03, 0x04, 7, 9 } } },
        { 2, { 0, { wire::cmdSetCodeBank, 1 } } },
    };

    for (auto& [index, expect] : cases)
        for (size_t k = 0; k < expect.bytes.size(); ++k)
            EXPECT_EQ (sent[(size_t) index].bytes[(size_t) expect.at + k], expect.bytes[k])
                << "command " << index << " byte " << expect.at + k;

    EXPECT_EQ (SimDevice::slotEntry (4).code, 0x01020304u);
    EXPECT_EQ (SimDevice::violationCount(), 0);
}

TEST_F (DeviceLayer, SendsNothingWithoutDeviceOrForBadSlots)
{
    uint8_t record[32] {};
    EXPECT_FALSE (send_settings (record)) << "nothing went out";
    set_code_bank (0);
    set_filename (0, record, 1, 1, 1);

    plugAndOpen();
    set_filename (6, record, 1, 1, 1);
    EXPECT_EQ (get_filename (6, nullptr, nullptr, nullptr, nullptr), -1);
    EXPECT_TRUE (SimDevice::commandLog().empty());
}

//==============================================================================
TEST_F (DeviceLayer, IdentityComesBackAndNeverInheritsTheLastOne)
{
    SimDevice::setSerial ("SERIAL-42");
    SimDevice::setUid ({ 0x11111111, 0x22222222, 0x33333333, 0x44444444 });
    SimDevice::setFirmwareVersion (1, 0, 300);
    plugAndOpen();

    DeviceIds ids;
    EXPECT_GT (get_ids (ids.bytes), 0);
    EXPECT_STREQ ((const char*) ids.bytes, "SERIAL-42");
    EXPECT_EQ (ids.uidWord (2), 0x33333333u);
    EXPECT_EQ (ids.major(), 1);
    EXPECT_EQ (ids.minor(), 0);
    EXPECT_EQ (ids.tertiary(), 300);

    SimDevice::unplug();
    EXPECT_EQ (get_ids (ids.bytes), -1);
    EXPECT_EQ (ids.uidWord (2), 0u) << "a failed read leaves no identity behind";
    EXPECT_EQ (ids.major(), 0);
}

TEST_F (DeviceLayer, IdentityRequestIsSentAgainAfterTheSixthEmptyRead)
{
    plugAndOpen();
    SimDevice::lateReplyNext (wire::cmdGetIds, 8);
    SimDevice::strayReplyNext (wire::cmdGetLog);

    testing::internal::CaptureStdout();
    DeviceIds ids;
    const int n = get_ids (ids.bytes);
    const auto out = testing::internal::GetCapturedStdout();

    EXPECT_GT (n, 0);
    EXPECT_EQ (ids.uidWord (0), 0x12ABu);
    EXPECT_NE (out.find ("try_read reply [0](64) 12 (expected 2)"), std::string::npos) << out;
    EXPECT_NE (out.find ("Sent null write (65)"), std::string::npos) << out;
    EXPECT_NE (out.find ("resent request (65)"), std::string::npos) << out;

    // The resend is the identity request, whatever the stray reply left in the buffer.
    const auto log = SimDevice::commandLog();
    int idsRequests = 0, outputReports = 0;
    for (auto& c : log)
    {
        EXPECT_EQ (c.code, wire::cmdGetIds);
        (c.isOutputReport ? outputReports : idsRequests) += 1;
    }
    EXPECT_EQ (idsRequests, 2);
    EXPECT_EQ (outputReports, 1);
}

TEST_F (DeviceLayer, ReplyWaitEndsWithoutAnswer)
{
    plugAndOpen();

    SimDevice::lateReplyNext (wire::cmdGetFilename, 1000);
    EXPECT_EQ (get_filename (0, nullptr, nullptr, nullptr, nullptr), 0) << "no reply at all";

    // A stray reply followed by silence: the wait reports the stray and ends on the last attempt's result.
    SimDevice::strayReplyNext (wire::cmdGetLog);
    SimDevice::lateReplyNext (wire::cmdGetFilename, 1000);
    testing::internal::CaptureStdout();
    EXPECT_EQ (get_filename (0, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_NE (testing::internal::GetCapturedStdout().find ("try_read reply [0](64) 12 (expected 11)"),
               std::string::npos);
}

TEST_F (DeviceLayer, LateReplyCannotAnswerTheNextRequest)
{
    SimDevice::plug();
    sim::SimSlotEntry first, second;
    first.name = nameBytes ("first");
    first.code = 111;
    second.name = nameBytes ("second");
    second.code = 222;
    SimDevice::setSlotEntry (0, first);
    SimDevice::setSlotEntry (1, second);
    ASSERT_EQ (device_open(), 0);

    // Slot 0's reply arrives only after the wait for it has given up.
    SimDevice::lateReplyNext (wire::cmdGetFilename, 22);
    EXPECT_EQ (get_filename (0, nullptr, nullptr, nullptr, nullptr), 0);

    uint8_t name[32];
    int code = 0;
    EXPECT_GT (get_filename (1, name, &code, nullptr, nullptr), 0);
    EXPECT_EQ (code, 222);
    EXPECT_STREQ ((const char*) name, "second");
}

TEST_F (DeviceLayer, RepliesLateInTimeCannotShiftASlotEntry)
{
    // A slot entry's reply carries no slot number: one taken as the answer to the next request would put slot s's
    // entry in slot s + 1's place.
    struct Case
    {
        const char* name;
        int delayMs;        // every get_filename reply this late (sim time)
        bool onlyFirst;     // only slot 0's reply late
        bool answered;      // the slots after slot 0 are read
    };

    const Case cases[] {
        { "every reply after its wait", 300, false, false },
        { "only the first one after its wait", 300, true, true },
        { "every reply late but within its wait", 150, false, true },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        device_close();
        SimDevice::reset();
        SimDevice::plug();

        for (int s = 0; s < 6; ++s)
        {
            sim::SimSlotEntry entry;
            entry.name = nameBytes (("slot " + std::to_string (s)).c_str());
            entry.code = (uint32_t) (100 + s);
            SimDevice::setSlotEntry (s, entry);
        }

        ASSERT_EQ (device_open(), 0);
        SimDevice::delayReplies (wire::cmdGetFilename, c.delayMs);

        for (unsigned s = 0; s < 6; ++s)
        {
            uint8_t name[32] {};
            int code = -1;
            const int n = get_filename (s, name, &code, nullptr, nullptr);

            if (n > 0)
            {
                EXPECT_EQ (code, (int) (100 + s)) << "slot " << s;
                EXPECT_EQ (std::string ((const char*) name), "slot " + std::to_string (s));
            }

            EXPECT_EQ (n > 0, s == 0 ? c.delayMs < 200 : c.answered) << "slot " << s;

            if (c.onlyFirst)
                SimDevice::delayReplies (wire::cmdGetFilename, 0);
        }
    }
}

//==============================================================================
TEST_F (DeviceLayer, SlotEntryIsReadSevenBitWithinThirtyTwoBytes)
{
    SimDevice::plug();
    sim::SimSlotEntry entry;
    for (auto& b : entry.name)
        b = 0xC1;   // 'A' with the top bit set, no terminator anywhere
    entry.code = 0x80000001;
    entry.major = 3;
    entry.minor = 250;
    SimDevice::setSlotEntry (5, entry);
    ASSERT_EQ (device_open(), 0);

    uint8_t name[32];
    int code = 0, major = 0, minor = 0;
    EXPECT_GT (get_filename (5, name, &code, &major, &minor), 0);
    for (int i = 0; i < 31; ++i)
        EXPECT_EQ (name[i], 'A') << i;
    EXPECT_EQ (name[31], 0);
    EXPECT_EQ ((uint32_t) code, 0x80000001u);
    EXPECT_EQ (major, 3);
    EXPECT_EQ (minor, 250);
}

TEST_F (DeviceLayer, ShortSlotReplyLeavesTheNameEmpty)
{
    SimDevice::plug();
    sim::SimSlotEntry entry;
    entry.name = nameBytes ("hidden");
    SimDevice::setSlotEntry (2, entry);
    ASSERT_EQ (device_open(), 0);

    SimDevice::shortReplyNext (wire::cmdGetFilename, 2);
    uint8_t name[32];
    std::memset (name, 'x', sizeof (name));
    EXPECT_EQ (get_filename (2, name, nullptr, nullptr, nullptr), 2);
    for (auto b : name)
        EXPECT_EQ (b, 0);
}

//==============================================================================
TEST_F (DeviceLayer, UsageLogPagesAreReadUntilShortPageOrFull)
{
    struct Case { int deviceWords; int expected; };
    for (auto c : { Case { 0, 0 }, Case { 1, 1 }, Case { 15, 15 }, Case { 31, 31 }, Case { 512, 512 },
                    Case { 2000, 512 } })
    {
        std::vector<uint32_t> words ((size_t) c.deviceWords);
        std::iota (words.begin(), words.end(), 0x10000000u);
        SimDevice::setLogWords (words);
        plugAndOpen();

        uint32_t out[wire::logMaxWords + 8];
        std::fill (std::begin (out), std::end (out), 0xDEADBEEFu);
        EXPECT_EQ (get_log (out, wire::logMaxWords), c.expected) << c.deviceWords;

        for (int i = 0; i < c.expected; ++i)
            ASSERT_EQ (out[i], 0x10000000u + (uint32_t) i) << c.deviceWords << " word " << i;
        for (int i = wire::logMaxWords; i < wire::logMaxWords + 8; ++i)
            EXPECT_EQ (out[i], 0xDEADBEEFu) << "nothing written past the end";

        int pages = 0;
        for (auto& cmd : commands())
        {
            if (cmd.code == wire::cmdGetLog)
            {
                EXPECT_EQ (cmd.bytes[1], pages++);
            }
        }
        EXPECT_LE (pages, c.deviceWords / 15 + 2);
        device_close();
    }
}

//==============================================================================
TEST_F (DeviceLayer, BlockIsWrittenInEighteenChunksWithItsChecksum)
{
    plugAndOpen();
    const auto data = patternBlock (3);

    EXPECT_GT (write_block (64, data.data()), 0);
    EXPECT_EQ (SimDevice::block (64), data);

    const auto sent = commands();
    ASSERT_EQ (sent.size(), 19u);
    EXPECT_EQ (sent[0].code, wire::cmdSetBlockAddress);
    EXPECT_EQ (sent[0].bytes[1], 64);
    EXPECT_EQ (wire::getU32BE (sent[0].bytes.data() + 2), block_checksum (data.data()));

    for (int j = 0; j < 18; ++j)
    {
        const auto& chunk = sent[(size_t) j + 1];
        EXPECT_EQ (chunk.code, wire::cmdWriteBlockData);
        EXPECT_EQ (chunk.bytes[1], 64);
        EXPECT_EQ (chunk.bytes[2], j);
        EXPECT_EQ (chunk.bytes[3], j == 17 ? 4 : 60);
        EXPECT_EQ (std::memcmp (chunk.bytes.data() + 4, data.data() + 60 * j, chunk.bytes[3]), 0);
    }
    EXPECT_EQ (SimDevice::violationCount(), 0);
}

TEST_F (DeviceLayer, BlockChecksumIsTheSumOfLittleEndianWords)
{
    std::array<uint8_t, 1024> data {};
    data[0] = 0x01;            // word 0 = 1
    data[4 + 3] = 0x80;        // word 1 = 0x80000000
    data[1020 + 3] = 0x80;     // word 255 = 0x80000000: the sum wraps
    EXPECT_EQ (block_checksum (data.data()), 1u);
}

TEST_F (DeviceLayer, BlockWriteFailures)
{
    plugAndOpen();
    const auto data = patternBlock (9);

    testing::internal::CaptureStderr();
    EXPECT_EQ (write_block (31, data.data()), -1);
    EXPECT_EQ (write_block (256, data.data()), -1) << "one byte on the wire";
    EXPECT_NE (testing::internal::GetCapturedStderr().find ("Cannot write below block 32. (31)"), std::string::npos);
    EXPECT_TRUE (SimDevice::commandLog().empty());

    SimDevice::failChecksumOn (70, 1);
    testing::internal::CaptureStdout();
    EXPECT_EQ (write_block (70, data.data()), -92);
    EXPECT_NE (testing::internal::GetCapturedStdout().find ("CRC error detected writing block 70.  Caller must retry."),
               std::string::npos);
    EXPECT_EQ (SimDevice::block (70)[0], 0xFF) << "not committed";
    EXPECT_GT (write_block (70, data.data()), 0) << "the second attempt goes through";
    EXPECT_EQ (SimDevice::block (70), data);

    // A completion the host never sees is a failure, not a success.
    SimDevice::slowCompletion (100000, 0);
    EXPECT_EQ (write_block (71, data.data()), -1);
    SimDevice::slowCompletion (150, 0);
    EXPECT_GT (write_block (72, data.data()), 0) << "late but within the wait";

    SimDevice::slowCompletion (0, 0);
    SimDevice::unplugAfterCommands (5);
    EXPECT_EQ (write_block (73, data.data()), -1) << "device gone in the middle";
}

TEST_F (DeviceLayer, UnfinishedBlockWriteIsResetFirst)
{
    plugAndOpen();

    // Someone left block 80 half-written.
    hid_device* other = hid_open (wire::normalVendor, wire::normalProduct, nullptr);
    ASSERT_NE (other, nullptr);
    uint8_t request[65] {};
    request[1] = wire::cmdSetBlockAddress;
    request[2] = 80;
    ASSERT_EQ (hid_send_feature_report (other, request, sizeof (request)), 65);
    hid_close (other);
    ASSERT_LE (SimDevice::blockWriteState(), wire::blockBusyMax);
    SimDevice::clearCommandLog();

    const auto data = patternBlock (1);
    testing::internal::CaptureStderr();
    EXPECT_GT (write_block (81, data.data()), 0);
    EXPECT_NE (testing::internal::GetCapturedStderr().find ("Write-block in progress"), std::string::npos);

    const auto sent = commands();
    ASSERT_GE (sent.size(), 2u);
    EXPECT_EQ (sent[0].code, wire::cmdSetBlockAddress);
    EXPECT_EQ (sent[0].bytes[1], 0) << "block 0 resets the unfinished write";
    EXPECT_EQ (sent[1].bytes[1], 81);
    EXPECT_EQ (SimDevice::block (81), data);
    EXPECT_EQ (SimDevice::block (80)[0], 0xFF);
}
