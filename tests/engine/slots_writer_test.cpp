// Writing a program file into a device slot: what lands in the device's flash, what the slot table records, and
// which descriptors are turned away before anything reaches the device.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"
#include "engine/JsonValues.h"

#include <juce_core/juce_core.h>

#include <sstream>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    using Block = std::array<uint8_t, 1024>;

    std::vector<uint8_t> patternImage (size_t size, uint8_t seed = 1)
    {
        std::vector<uint8_t> image (size);
        for (size_t i = 0; i < size; ++i)
            image[i] = (uint8_t) (seed + i * 13 + i / 1024);
        return image;
    }

    juce::String base64Of (const std::vector<uint8_t>& bytes)
    {
        return juce::Base64::toBase64 (bytes.data(), bytes.size());
    }

    juce::var descriptor (const juce::var& code, const juce::var& fileData, const juce::var& name = "Program",
                          const juce::var& major = "1", const juce::var& minor = "2")
    {
        auto* d = new juce::DynamicObject();
        if (! code.isVoid())      d->setProperty ("program_code", code);
        if (! fileData.isVoid())  d->setProperty ("file_data", fileData);
        if (! name.isVoid())      d->setProperty ("program_name", name);
        if (! major.isVoid())     d->setProperty ("version_major", major);
        if (! minor.isVoid())     d->setProperty ("version_minor", minor);
        return juce::var (d);
    }

    Block blockOf (const std::vector<uint8_t>& image, int k)
    {
        Block b;
        b.fill (0xFF);
        for (size_t i = 0; i < 1024 && (size_t) k * 1024 + i < image.size(); ++i)
            b[i] = image[(size_t) k * 1024 + i];
        return b;
    }

    Block filled (uint8_t value)
    {
        Block b;
        b.fill (value);
        return b;
    }

    /** Block writes the device received: the block numbers of the set-block-address commands. */
    std::vector<int> addressedBlocks()
    {
        std::vector<int> blocks;
        for (auto& c : SimDevice::commandLog())
            if (! c.isOutputReport && c.code == wire::cmdSetBlockAddress && c.bytes[1] != 0)
                blocks.push_back (c.bytes[1]);
        return blocks;
    }

    /** The writer's own lines ("Write ..."), without the device layer's. */
    std::string writerLines (const std::string& out)
    {
        std::string result;
        std::istringstream in (out);
        for (std::string line; std::getline (in, line);)
            if (line.rfind ("Write ", 0) == 0)
                result += line + "\n";
        return result;
    }

    std::string nameOf (const SlotInfo& info)
    {
        return std::string (info.name, strnlen (info.name, sizeof (info.name)));
    }

    class SlotWriter : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            test::EngineTest::SetUp();
            makeEngine();
            SimDevice::plug();
            ASSERT_EQ (device_open(), 0);

            // Every slot block starts with a marker, so that a block the writer must leave alone shows it did.
            for (int n = 64; n < 256; ++n)
                SimDevice::setBlock (n, marker);

            SimDevice::clearCommandLog();
        }

        void recordInTable (int slot, const char* name, int code, int major, int minor)
        {
            engine->slotTable.update ([=] (SlotTable& t)
            {
                std::memset (t.slotProgramName[slot], 0, 32);
                std::memcpy (t.slotProgramName[slot], name, std::strlen (name));
                t.slotProgramCode[slot] = code;
                t.slotVersionMajor[slot] = major;
                t.slotVersionMinor[slot] = minor;
            });
        }

        SlotInfo entry (int slot) const { return engine->slotTable.get().slot (slot); }

        const Block marker = filled (0x5A);
    };
}

//==============================================================================
// An image of any size fills whole blocks from the slot's first block on: a short last block is padded with 0xFF,
// nothing past 32 KB is written, and blocks after the image (and other slots) are left alone.
TEST_F (SlotWriter, ImageSizesMapOntoTheSlotsBlocks)
{
    struct Case { int slot; size_t size; int blocksWritten; };
    const Case cases[] {
        { 0, 1500,   2 },
        { 5, 768,    1 },
        { 2, 32768,  32 },
        { 3, 40000,  32 },
        { 1, 1024,   1 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE ("slot " + std::to_string (c.slot) + ", " + std::to_string (c.size) + " bytes");
        SimDevice::clearCommandLog();

        const auto image = patternImage (c.size, (uint8_t) c.slot);
        engine->writeFrequencySlot (c.slot, descriptor ("4711", base64Of (image), "Calm", "3", "14"));

        const int first = 64 + 32 * c.slot;
        for (int k = 0; k < 32; ++k)
            EXPECT_EQ (SimDevice::block (first + k), k < c.blocksWritten ? blockOf (image, k) : marker) << "block " << k;

        EXPECT_EQ ((int) addressedBlocks().size(), c.blocksWritten);
        for (int b : addressedBlocks())
            EXPECT_TRUE (b >= first && b < first + 32) << "wrote block " << b << " outside the slot";

        const auto info = entry (c.slot);
        EXPECT_EQ (info.code, 4711);
        EXPECT_EQ (info.major, 3);
        EXPECT_EQ (info.minor, 14);
        EXPECT_EQ (nameOf (info), "Calm");
        EXPECT_FALSE (engine->writingSlot.load());
    }

    EXPECT_EQ (SimDevice::violationCount(), 0);
}

TEST_F (SlotWriter, Base64WrappedInLinesIsDecodedWithoutTheWhitespace)
{
    const auto image = patternImage (3000);
    const auto text = base64Of (image);

    juce::String wrapped;
    for (int i = 0; i < text.length(); i += 76)
        wrapped << text.substring (i, i + 76) << (i % 152 == 0 ? "\r\n" : "\n ");

    engine->writeFrequencySlot (1, descriptor (12, wrapped));

    for (int k = 0; k < 3; ++k)
        EXPECT_EQ (SimDevice::block (96 + k), blockOf (image, k)) << "block " << k;
    EXPECT_EQ (entry (1).code, 12);
}

//==============================================================================
// Descriptors that must not touch the device or the slot table.
TEST_F (SlotWriter, RejectedDescriptorsLeaveDeviceAndTableAlone)
{
    const auto valid = base64Of (patternImage (2048));
    const juce::String chars1023 = valid.substring (0, 1023);
    juce::String malformed = valid;
    malformed = malformed.substring (0, 1500) + "-_" + malformed.substring (1502);

    auto array = juce::var (juce::Array<juce::var> { "0", "x" });

    struct Case { const char* what; int slot; juce::var descriptor; const char* line; };
    const Case cases[] {
        { "1023 characters",             2, descriptor ("7", chars1023),   "file data too short/missing: 1023\n" },
        { "no file data",                2, descriptor ("7", juce::var()), "file data too short/missing: 0\n" },
        { "characters outside Base64",   2, descriptor ("7", malformed),   "file data malformed/empty: " },
        { "code that is not a number",   2, descriptor ("abc", valid),     "program code not a number: \"abc\"\n" },
        { "no code at all",              2, descriptor (juce::var(), valid), "program code not a number: \"\"\n" },
        { "code that is a boolean",      2, descriptor (true, valid),      "program code not a number" },
        { "fractional code as text",     2, descriptor ("0.5", valid),     "program code not a number" },
        { "fractional code as a number", 2, descriptor (0.5, valid),       "program code not a number" },
        { "version major 256",           2, descriptor ("7", valid, "N", "256", "0"), "program version out of range: 256.0\n" },
        { "negative version minor",      2, descriptor ("7", valid, "N", "1", -1),   "program version out of range: 1.-1\n" },
        { "erase with a bad version",    2, descriptor ("0", juce::var(), "N", "0", "300"), "program version out of range" },
        { "an array, not an object",     2, array,                         "" },
        { "a string, not an object",     2, juce::var ("0"),               "" },
        { "slot below 0",               -1, descriptor ("7", valid),       "" },
        { "slot above 5",                6, descriptor ("0", juce::var()), "" },
    };

    recordInTable (2, "Before", 99, 4, 5);
    const auto tableBefore = engine->slotTable.get();

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        SimDevice::clearCommandLog();

        testing::internal::CaptureStdout();
        engine->writeFrequencySlot (c.slot, c.descriptor);
        const auto out = testing::internal::GetCapturedStdout();

        EXPECT_TRUE (SimDevice::commandLog().empty());
        EXPECT_EQ (out.rfind (c.line, 0), 0u) << out;
        if (*c.line == 0)
        {
            EXPECT_EQ (out, "");
        }

        const auto table = engine->slotTable.get();
        EXPECT_EQ (std::memcmp (&table, &tableBefore, sizeof (table)), 0);
        EXPECT_FALSE (engine->writingSlot.load());
    }

    for (int n = 64; n < 256; ++n)
        ASSERT_EQ (SimDevice::block (n), marker) << "block " << n;
}

TEST_F (SlotWriter, ExactlyOneThousandTwentyFourCharactersAreEnough)
{
    const auto text = base64Of (patternImage (2048)).substring (0, 1024);   // 768 bytes
    engine->writeFrequencySlot (0, descriptor ("5", text));

    juce::MemoryOutputStream decoded;
    ASSERT_TRUE (juce::Base64::convertFromBase64 (decoded, text));
    const auto* p = static_cast<const uint8_t*> (decoded.getData());
    EXPECT_EQ (SimDevice::block (64), blockOf ({ p, p + decoded.getDataSize() }, 0));
    EXPECT_EQ (entry (0).code, 5);
}

//==============================================================================
// A code that reads as 0 erases: 32 blocks of zeros, whatever file data came with it; the entry keeps the name.
TEST_F (SlotWriter, CodeZeroWritesZerosToEveryBlockOfTheSlot)
{
    struct Case { juce::var code; juce::var fileData; };
    const Case cases[] {
        { "0", juce::var() },
        { 0, juce::var() },
        { 0.0, juce::var() },
        { " 0", base64Of (patternImage (4096)) },
    };

    int slot = 0;
    for (auto& c : cases)
    {
        SCOPED_TRACE (json::text (c.code).toStdString());
        recordInTable (slot, "Old", 55, 1, 1);

        testing::internal::CaptureStdout();
        engine->writeFrequencySlot (slot, descriptor (c.code, c.fileData, "[Empty]", "0", "0"));
        const auto out = testing::internal::GetCapturedStdout();

        EXPECT_EQ (out, "Writing zeros to frequency slot " + std::to_string (slot) + "\n");
        for (int k = 0; k < 32; ++k)
            EXPECT_EQ (SimDevice::block (64 + 32 * slot + k), filled (0)) << "block " << k;
        EXPECT_EQ (entry (slot).code, 0);
        EXPECT_EQ (nameOf (entry (slot)), "[Empty]");
        ++slot;
    }
}

//==============================================================================
TEST_F (SlotWriter, NamesAreCutToThirtyTwoBytesAtACharacterBoundary)
{
    struct Case { juce::String name; std::string stored; bool terminated; };
    const std::string forty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789abcd";
    const std::string thirtyOne (31, 'n');

    const Case cases[] {
        { "Sleep", "Sleep", true },
        { juce::String (forty), forty.substr (0, 32), false },
        { juce::String (forty.substr (0, 32)), forty.substr (0, 32), false },
        { juce::String::fromUTF8 ((thirtyOne + "\xC3\xA9").c_str()), thirtyOne, true },              // é would straddle byte 32
        { juce::String::fromUTF8 ((std::string (30, 'n') + "\xC3\xA9" "x").c_str()), std::string (30, 'n') + "\xC3\xA9", false },
        { juce::String::fromUTF8 ((std::string (29, 'n') + "\xE2\x82\xAC\xE2\x82\xAC").c_str()), std::string (29, 'n') + "\xE2\x82\xAC", true },
        { {}, "", true },
    };

    const auto data = base64Of (patternImage (1024));
    for (auto& c : cases)
    {
        SCOPED_TRACE (c.stored);
        engine->writeFrequencySlot (4, descriptor ("9", data, c.name));

        const auto table = engine->slotTable.get();
        const char* raw = table.slotProgramName[4];
        EXPECT_EQ (std::string (raw, strnlen (raw, 32)), c.stored);
        if (c.terminated)
        {
            EXPECT_EQ (raw[c.stored.size()], 0);
        }
        for (size_t i = c.stored.size(); i < 32; ++i)
            EXPECT_EQ (raw[i], 0) << "byte " << i;
    }
}

//==============================================================================
// A block is tried four times: three failures and a success go on with the file; four failures end the slot.
TEST_F (SlotWriter, ABlockFailingThreeTimesIsRetriedAndTheWriteGoesOn)
{
    const auto image = patternImage (4096);
    for (int attempt = 1; attempt <= 3; ++attempt)
        SimDevice::failChecksumOn (64 + 32 + 2, attempt);

    testing::internal::CaptureStdout();
    engine->writeFrequencySlot (1, descriptor ("31", base64Of (image), "Retry"));
    const auto out = testing::internal::GetCapturedStdout();

    EXPECT_EQ (writerLines (out), "Write block 96+2 failed (-92), retry #1\n"
                    "Write block 96+2 failed (-92), retry #2\n"
                    "Write block 96+2 failed (-92), retry #3\n");
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ (SimDevice::block (96 + k), blockOf (image, k)) << "block " << k;
    EXPECT_EQ (entry (1).code, 31);
    EXPECT_FALSE (engine->writingSlot.load());
}

TEST_F (SlotWriter, FourFailuresEndTheSlotAndClearItsEntry)
{
    const auto image = patternImage (4096);
    for (int attempt = 1; attempt <= 4; ++attempt)
        SimDevice::failChecksumOn (64 + 2, attempt);

    recordInTable (0, "Old file name", 17, 2, 3);

    testing::internal::CaptureStdout();
    engine->writeFrequencySlot (0, descriptor ("31", base64Of (image), "New"));
    const auto out = testing::internal::GetCapturedStdout();

    EXPECT_EQ (writerLines (out), "Write block 64+2 failed (-92), retry #1\n"
                    "Write block 64+2 failed (-92), retry #2\n"
                    "Write block 64+2 failed (-92), retry #3\n"
                    "Write block 64+2 failed (-92), retry #4\n"
                    "Write WAV0 failed (-92) on block 2\n");

    EXPECT_EQ (SimDevice::block (64), blockOf (image, 0));
    EXPECT_EQ (SimDevice::block (65), blockOf (image, 1));
    EXPECT_EQ (SimDevice::block (66), marker) << "the failed block is not committed";
    EXPECT_EQ (SimDevice::block (67), marker) << "blocks after the failed one are not written";

    const auto info = entry (0);
    EXPECT_EQ (info.code, 0);
    EXPECT_EQ (info.major, 0);
    EXPECT_EQ (info.minor, 0);
    EXPECT_EQ (nameOf (info), "");
    EXPECT_TRUE (engine->writingSlot.load()) << "stays set after a failed slot";
}

TEST_F (SlotWriter, ADeviceGoneMidSlotFailsTheSlotWithoutHanging)
{
    SimDevice::unplugAfterCommands (19 * 3);   // three blocks: one address and 18 chunks each
    recordInTable (3, "Old", 8, 1, 0);

    testing::internal::CaptureStdout();
    engine->writeFrequencySlot (3, descriptor ("31", base64Of (patternImage (32768)), "New"));
    const auto out = testing::internal::GetCapturedStdout();

    EXPECT_NE (out.find ("Write WAV3 failed (-1) on block "), std::string::npos) << out;
    EXPECT_EQ (entry (3).code, 0);
}

//==============================================================================
// A thread that is asked to stop gives up the slot between attempts instead of writing on.
TEST_F (SlotWriter, AStoppingThreadGivesUpTheSlot)
{
    struct Writer : juce::Thread
    {
        Writer (OlvoThread& e, juce::var d) : juce::Thread ("writer"), engineRef (e), desc (std::move (d)) {}
        void run() override
        {
            signalThreadShouldExit();
            engineRef.writeFrequencySlot (2, desc);
        }
        OlvoThread& engineRef;
        juce::var desc;
    };

    recordInTable (2, "Old", 8, 1, 0);
    Writer writer (*engine, descriptor ("31", base64Of (patternImage (32768)), "New"));
    writer.startThread();
    ASSERT_TRUE (writer.waitForThreadToExit (20000));

    EXPECT_TRUE (addressedBlocks().empty());
    EXPECT_EQ (entry (2).code, 0) << "a slot given up counts as failed";
}
