#pragma once

#include "engine/OlvoThread.h"

#include <juce_core/juce_core.h>

#include <array>
#include <functional>

namespace olvo
{

//==============================================================================
/** The application's version as the information window and the update popup show it. */
constexpr const char* applicationVersionText = "1.2.8";

/** What one device slot holds, as the information window shows it. */
struct SlotEntry
{
    int code = 0, major = 0, minor = 0;

    /** The program's name; empty for an empty slot (and for every slot while no device is open). */
    juce::String name;

    /** "code major.minor name", or empty when the name is empty. */
    juce::String item() const;

    /** The same program (code and version) as another slot: the window lists it once. */
    bool sameProgramAs (const SlotEntry& other) const
    {
        return code == other.code && major == other.major && minor == other.minor;
    }
};

using SlotEntries = std::array<SlotEntry, wire::slotCount>;

/** The six slots of the engine's slot table (a copy). Names are read within their 32 bytes up to the first zero
    byte, one character per byte (Latin-1); with no device open every name is empty. */
SlotEntries slotEntriesOf (const SlotTable& table, bool deviceOpen);

/** Measures a text's width as the window draws it (the regular application font at height 20). */
using TextWidth = std::function<float (const juce::String&)>;

/** The table of the slots' programs below the version lines.

    Firmware 1.2.0 or newer (or a version that cannot be read): three lines of pairs, slots 4; 5, then 0; 1, then
    2; 3, where the second slot of a pair is left out when it is empty or holds the same program as the first.

    Older firmware: two columns, slots 0..3 on the left and 4 and 5 on the right, aligned by padding with spaces
    measured with `width`; a slot holding the same program as the slot before it (1, 2, 3 and 5) is left out, and
    empty left entries are skipped. A space width that is not positive means no padding.
*/
juce::String slotTableText (const SlotEntries& slots, const juce::String& firmwareVersion, const TextWidth& width);

/** The whole information text: serial number, firmware and application versions, then the slot table. */
juce::String informationText (const juce::String& serial, const juce::String& firmwareVersion,
                              const SlotEntries& slots, const TextWidth& width);

} // namespace olvo
