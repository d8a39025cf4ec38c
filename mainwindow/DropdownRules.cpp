#include "DropdownRules.h"

#include "UiHelpers.h"

namespace olvo
{

namespace dropdown
{
    Toggle toggle (int32_t state, int32_t openDropdown, int index)
    {
        if (state == open)
            return { closed, openDropdown == index ? (int32_t) noneOpen : openDropdown, ListAction::hide };

        if (state == closed && openDropdown < 0)
            return { open, index, ListAction::show };

        return { state, openDropdown, ListAction::none };
    }
}

namespace loadedProgram
{
    SlotRange slotsOf (int group, const juce::String& firmwareText)
    {
        if (compareVersion (firmwareText, 2, 0) < 0)
        {
            if (group == 0) return { 4, 5 };
            if (group == 1) return { 0, 3 };
            return {};
        }

        if (group == 0) return { 4, 5 };
        if (group == 1) return { 0, 1 };
        if (group == 2) return { 2, 3 };
        return {};
    }

    int bestMatch (int group, const std::vector<ProgramChoice>& choices, const juce::String& firmwareText,
                   const SlotCodes& codes)
    {
        const auto slots = slotsOf (group, firmwareText);
        int best = -1, bestScore = 0;

        for (size_t i = 0; i < choices.size(); ++i)
        {
            int score = 0;
            for (int s = slots.first; s <= slots.last; ++s)
                score += (codes[(size_t) s] == choices[i].freqFiles[0] ? 1 : 0)
                         + (codes[(size_t) s] == choices[i].freqFiles[1] ? 1 : 0);

            if (score > bestScore)
            {
                best = (int) i;
                bestScore = score;
            }
        }
        return best;
    }

    int32_t eraseMask (int group, const juce::String& firmwareText, const SlotCodes& codes,
                       const EraseConditions& c)
    {
        if (userIsEditing (c.requestPending, c.saveInFlight) || ! c.devicePresent || c.status != SyncStatus::upToDate)
            return 0;

        const auto slots = slotsOf (group, firmwareText);
        int32_t mask = 0;
        for (int s = slots.first; s <= slots.last; ++s)
            if (codes[(size_t) s] != 0)
                mask |= 1 << s;
        return mask;
    }
}

} // namespace olvo
