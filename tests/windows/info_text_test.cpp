#include "windows/InfoText.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    struct Slot
    {
        int code, major, minor;
        const char* name;
    };

    SlotEntries entries (std::initializer_list<Slot> slots)
    {
        SlotEntries result;
        size_t k = 0;
        for (const auto& s : slots)
            result[k++] = { s.code, s.major, s.minor, juce::String (s.name) };
        return result;
    }

    /** Every character 10 wide, a space too, unless a test says otherwise. */
    float tenEach (const juce::String& text) { return 10.0f * (float) text.length(); }

    const juce::String nbsp = juce::String::charToString ((juce::juce_wchar) 0x00a0);
    juce::String spaces (int n) { return juce::String::repeatedString (" ", n); }

    // Items of 11, 10, 11 and 9 characters.
    const Slot alpha { 1, 1, 0, "Alpha" }, beta { 2, 1, 0, "Beta" }, gamma { 3, 1, 0, "Gamma" },
               delta { 4, 1, 0, "Delta" }, eps { 5, 1, 0, "Eps" }, none { 0, 0, 0, "" };
}

TEST (InfoText, PairsFromFirmware120OnAndForVersionsThatCannotBeRead)
{
    // Slot 5 holds slot 4's program (another name does not matter: code and version decide), slot 3 slot 2's.
    const auto slots = entries ({ { 101, 1, 0, "Calm" }, { 102, 1, 0, "Focus" }, { 103, 2, 1, "Sleep" },
                                  { 103, 2, 1, "Sleep" }, { 201, 1, 1, "Relief" }, { 201, 1, 1, "Relief Two" } });
    const juce::String expected ("201 1.1 Relief\n101 1.0 Calm; 102 1.0 Focus\n103 2.1 Sleep");

    for (const auto* firmware : { "1.2.0", "1.2.7", "1.10.0", "2.0.0", "", "1.2", "Waiting" })
        EXPECT_EQ (slotTableText (slots, firmware, tenEach), expected) << firmware;

    // Slot 2 is compared with nothing in pairs: the same program as slot 1 is still listed.
    const auto second = entries ({ alpha, beta, beta, none, delta, eps });
    EXPECT_EQ (slotTableText (second, "1.2.0", tenEach),
               "4 1.0 Delta; 5 1.0 Eps\n1 1.0 Alpha; 2 1.0 Beta\n2 1.0 Beta");
}

TEST (InfoText, ColumnsBeforeFirmware120)
{
    const struct { const char* what; SlotEntries slots; juce::String expected; } table[] {
        // M = 5 spaces + Alpha + Delta = 270: line 1 gets 5 spaces; the left column pads to M less a no-break space.
        { "slot 1 repeats slot 0, slot 5 slot 4", entries ({ alpha, alpha, beta, gamma, delta, delta }),
          "1 1.0 Alpha" + spaces (5) + "4 1.0 Delta"
          + "\n2 1.0 Beta" + spaces (16) + nbsp
          + "\n3 1.0 Gamma" + spaces (15) + nbsp },
        { "only slots 0, 4 and 5", entries ({ alpha, none, none, none, delta, eps }),
          "1 1.0 Alpha" + spaces (5) + "4 1.0 Delta"
          + "\n" + nbsp + spaces (17) + "5 1.0 Eps" },
        { "slot 5 beside the first left entry after slot 0", entries ({ alpha, none, beta, gamma, delta, eps }),
          "1 1.0 Alpha" + spaces (5) + "4 1.0 Delta"
          + "\n2 1.0 Beta" + spaces (8) + "5 1.0 Eps"
          + "\n3 1.0 Gamma" + spaces (15) + nbsp },
        // M = 5 spaces + slot 1 + slot 5 = 280: line 1 is padded to it as well.
        { "the second line is the wider", entries ({ { 1, 1, 0, "A" }, { 2, 1, 0, "LongerName" }, none, none,
                                                     { 4, 1, 0, "D" }, { 5, 1, 0, "E" } }),
          "1 1.0 A" + spaces (14) + "4 1.0 D" + "\n2 1.0 LongerName" + spaces (5) + "5 1.0 E" },
        { "a left entry wider than M gets no padding", entries ({ alpha, none, none,
                                                                  { 3, 1, 0, "AVeryLongProgramNameForSlotThree" },
                                                                  delta, none }),
          "1 1.0 Alpha" + spaces (5) + "4 1.0 Delta" + "\n3 1.0 AVeryLongProgramNameForSlotThree" + nbsp },
        { "no device: every entry empty", entries ({}),
          spaces (5) },
    };

    for (const auto& row : table)
        EXPECT_EQ (slotTableText (row.slots, "1.1.9", tenEach), row.expected) << row.what;

    EXPECT_EQ (slotTableText (table[0].slots, "0.9.9", tenEach), table[0].expected);
}

TEST (InfoText, PaddingNeedsASpaceWithAWidth)
{
    const auto slots = entries ({ alpha, none, beta, none, delta, eps });

    for (const float spaceWidth : { 0.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(), 1.0e-30f })
    {
        const auto width = [spaceWidth] (const juce::String& text)
        {
            return text == " " ? spaceWidth : 10.0f * (float) text.length();
        };

        // A space nearly 0 wide would ask for 3e31 spaces on line 2: capped at 1000.
        EXPECT_EQ (slotTableText (slots, "1.1.0", width),
                   "1 1.0 Alpha4 1.0 Delta\n2 1.0 Beta" + spaces (spaceWidth > 0.0f ? 1000 : 0) + "5 1.0 Eps")
            << spaceWidth;
    }
}

TEST (InfoText, SlotNamesAreReadWithinTheirBytesOneCharacterPerByte)
{
    SlotTable table;
    std::memset (table.slotProgramName[0], 'x', wire::slotNameSize);   // no terminator: slot 1's name follows
    std::memcpy (table.slotProgramName[1], "Caf\xe9 \xb5", 7);            // Latin-1 bytes
    std::memcpy (table.slotProgramName[2], "Two\0Hidden", 10);
    table.slotProgramCode[0] = 7;
    table.slotVersionMajor[0] = 1;
    table.slotVersionMinor[0] = 12;

    const auto open = slotEntriesOf (table, true);
    EXPECT_EQ (open[0].name, juce::String::repeatedString ("x", 32));
    EXPECT_EQ (open[0].item(), "7 1.12 " + juce::String::repeatedString ("x", 32));
    EXPECT_EQ (open[1].name, juce::String (juce::CharPointer_UTF8 ("Caf\xc3\xa9 \xc2\xb5")));
    EXPECT_EQ (open[2].name, "Two");
    EXPECT_EQ (open[3].item(), "");

    for (const auto& entry : slotEntriesOf (table, false))
        EXPECT_EQ (entry.item(), "") << "no device, no items";
}

TEST (InfoText, TheWholeText)
{
    EXPECT_EQ (informationText ("", "", entries ({}), tenEach),
               "Serial Number: \nFirmware Version: \nOlvoAssist Version: 1.2.8\n\n\n");

    EXPECT_EQ (informationText ("Waiting", "", entries ({}), tenEach),
               "Serial Number: Waiting\nFirmware Version: \nOlvoAssist Version: 1.2.8\n\n\n");

    EXPECT_EQ (informationText ("OLV-000123", "1.2.4", entries ({ alpha, beta, none, none, delta, none }), tenEach),
               "Serial Number: OLV-000123\nFirmware Version: 1.2.4\nOlvoAssist Version: 1.2.8\n"
               "4 1.0 Delta\n1 1.0 Alpha; 2 1.0 Beta\n");
}

} // namespace olvo
