#pragma once

#include "engine/OlvoThread.h"

#include <array>
#include <optional>
#include <vector>

namespace olvo
{

//==============================================================================
/**
    Which program groups the main window has already asked, on its own, for their first program.

    When the device holds none of a group's programs the window requests the first one, as a SAVE would. If the
    sync that follows still leaves none of them in the device (the server sends no file, or the device refuses it),
    asking again on every pass would make a forced poll and a sync twice a second for as long as the device stays
    plugged in. So the request is made once for a group and its list of programs; it may be made again when the
    list changes, when the device has gone and come back, or after the user picked a program in that group.

    Message thread only.
*/
class DefaultChoiceRequests
{
public:
    /** True when the first program of this list may be requested for the group now; it then counts as asked. */
    bool mayRequest (int group, const std::vector<ProgramChoice>& choices)
    {
        auto& asked = askedFor[(size_t) group];
        auto list = identityOf (choices);

        if (asked == list)
            return false;

        asked = std::move (list);
        return true;
    }

    /** The user picked a program in this group: a later automatic choice is asked afresh. */
    void forget (int group)     { askedFor[(size_t) group].reset(); }

    /** The device has gone: every group is asked afresh when it is back. */
    void forgetAll()            { askedFor = {}; }

private:
    /** What makes two lists the same here: their programs, by id, name and frequency files, in order. */
    struct Entry
    {
        int configId = 0;
        juce::String name;
        int freqFiles[2] { -1, -1 };

        bool operator== (const Entry& o) const
        {
            return configId == o.configId && name == o.name && freqFiles[0] == o.freqFiles[0]
                   && freqFiles[1] == o.freqFiles[1];
        }
    };

    static std::vector<Entry> identityOf (const std::vector<ProgramChoice>& choices)
    {
        std::vector<Entry> list;
        for (const auto& c : choices)
            list.push_back ({ c.configId, c.name, { c.freqFiles[0], c.freqFiles[1] } });
        return list;
    }

    std::array<std::optional<std::vector<Entry>>, 3> askedFor;
};

} // namespace olvo
