#include "InfoText.h"

#include "mainwindow/UiHelpers.h"

#include <cmath>

namespace olvo
{

namespace
{
    const juce::String noBreakSpace = juce::String::charToString ((juce::juce_wchar) 0x00a0);

    /** A line is never padded by more spaces than this (a face whose space is nearly zero wide would ask for
        millions). */
    constexpr double maxPadding = 1000.0;

    /** Bytes up to the first zero byte, never past the field, each byte one character. */
    juce::String latin1Text (const char* bytes, size_t size)
    {
        juce::juce_wchar characters[wire::slotNameSize + 1] {};
        const auto length = std::min (size, (size_t) wire::slotNameSize);

        for (size_t i = 0; i < length && bytes[i] != 0; ++i)
            characters[i] = (juce::juce_wchar) (uint8_t) bytes[i];

        return juce::String (juce::CharPointer_UTF32 (characters));
    }

    /** The two-column layout of firmware before 1.2.0. */
    struct Columns
    {
        const std::array<juce::String, wire::slotCount>& items;
        float w[wire::slotCount] {};
        float space = 0.0f, noBreak = 0.0f;

        Columns (const std::array<juce::String, wire::slotCount>& itemsToShow, const TextWidth& width)
            : items (itemsToShow)
        {
            for (int k = 0; k < wire::slotCount; ++k)
                w[k] = items[(size_t) k].isEmpty() ? 0.0f : width (items[(size_t) k]);

            space = width (" ");
            noBreak = width (noBreakSpace);
        }

        /** Spaces filling about x. */
        juce::String pad (double x) const
        {
            if (! (space > 0.0f) || ! std::isfinite (x))
                return {};

            const auto count = x / (double) space;
            if (! (count >= 1.0))
                return {};

            return juce::String::repeatedString (" ", (int) juce::jmin (count, maxPadding));
        }

        juce::String text() const
        {
            const auto s = (double) space;
            const auto m = juce::jmax (5.0 * s + w[0] + w[4], 5.0 * s + w[1] + w[5]);

            auto table = items[0] + pad (m - w[0] - w[4]) + items[4];
            int next = 1;

            if (items[5].isNotEmpty())
            {
                int j = 1;
                while (j <= 3 && items[(size_t) j].isEmpty())
                    ++j;

                if (j > 3)
                    return table + "\n" + noBreakSpace + pad (m - noBreak - w[5]) + items[5];

                table << "\n" << items[(size_t) j] << pad (m - w[j] - w[5]) << items[5];
                next = j + 1;
            }

            for (int i = next; i <= 3; ++i)
                if (items[(size_t) i].isNotEmpty())
                    table << "\n" << items[(size_t) i] << pad (m - w[i] - noBreak) << noBreakSpace;

            return table;
        }
    };
}

//==============================================================================
juce::String SlotEntry::item() const
{
    if (name.isEmpty())
        return {};

    return juce::String (code) + " " + juce::String (major) + "." + juce::String (minor) + " " + name;
}

SlotEntries slotEntriesOf (const SlotTable& table, bool deviceOpen)
{
    SlotEntries entries;

    for (int k = 0; k < wire::slotCount; ++k)
    {
        auto& entry = entries[(size_t) k];
        entry.code = table.slotProgramCode[k];
        entry.major = table.slotVersionMajor[k];
        entry.minor = table.slotVersionMinor[k];

        if (deviceOpen)
            entry.name = latin1Text (table.slotProgramName[k], sizeof (table.slotProgramName[k]));
    }

    return entries;
}

juce::String slotTableText (const SlotEntries& slots, const juce::String& firmwareVersion, const TextWidth& width)
{
    const bool pairs = compareVersion (firmwareVersion, 2, 0) >= 0;

    // Which slot each slot is compared with: the first of its pair, or the slot before it in its column.
    const int comparedWith[wire::slotCount] { -1, 0, pairs ? -1 : 1, 2, -1, 4 };

    std::array<juce::String, wire::slotCount> items;
    for (int k = 0; k < wire::slotCount; ++k)
    {
        const auto other = comparedWith[k];
        const bool repeated = other >= 0 && slots[(size_t) k].sameProgramAs (slots[(size_t) other]);
        items[(size_t) k] = repeated ? juce::String() : slots[(size_t) k].item();
    }

    if (! pairs)
        return Columns (items, width).text();

    const auto pair = [&items] (int first, int second)
    {
        return items[(size_t) second].isEmpty() ? items[(size_t) first]
                                                : items[(size_t) first] + "; " + items[(size_t) second];
    };

    return pair (4, 5) + "\n" + pair (0, 1) + "\n" + pair (2, 3);
}

juce::String informationText (const juce::String& serial, const juce::String& firmwareVersion,
                              const SlotEntries& slots, const TextWidth& width)
{
    return "Serial Number: " + serial + "\nFirmware Version: " + firmwareVersion + "\nOlvoAssist Version: "
           + applicationVersionText + "\n" + slotTableText (slots, firmwareVersion, width);
}

} // namespace olvo
