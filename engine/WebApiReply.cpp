// Applying a poll reply to the engine: what the server says, copied into the members the tick and the windows read.

#include "OlvoThread.h"

#include "Clock.h"
#include "JsonValues.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>

namespace olvo
{

namespace
{
    constexpr float defaultWeakThreshold = 0.25f;
    constexpr float weakThresholdMin = 0.1f, weakThresholdMax = 1.0f;
    constexpr int maxFrequencyKey = 8;
    constexpr int firstHighSlotKey = 7;        // "7" and "8" stand for slots 2 and 3 after firmware 1.1
    constexpr int highSlotKeyOffset = 5;

    const char* const groupKeys[3] { "multi", "bright", "orange" };
    const char* const runParameterKeys[3] { "purple", "blue", "orange" };

    void printLine (const juce::String& line)
    {
        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    ProgramChoice choiceOf (const juce::var& element)
    {
        ProgramChoice c;
        c.configId = json::atoiClamped (json::text (element["config_id"]));
        c.name = json::text (element["name"]);
        c.description = json::text (element["description"]);

        juce::StringArray files;
        files.addTokens (json::text (element["freq_files"]), ",", "\"");
        if (files.size() >= 1)
            c.freqFiles[0] = json::atoiClamped (files[0]);
        if (files.size() >= 2)
            c.freqFiles[1] = json::atoiClamped (files[1]);
        return c;
    }

    std::array<std::vector<ProgramChoice>, 3> programChoicesOf (const juce::var& choices)
    {
        std::array<std::vector<ProgramChoice>, 3> lists;
        for (int g = 0; g < 3; ++g)
            if (const auto* elements = choices[groupKeys[g]].getArray())
                for (auto& element : *elements)
                    lists[(size_t) g].push_back (choiceOf (element));
        return lists;
    }

    std::array<GroupLimits, 3> limitsOf (const juce::var& limits)
    {
        std::array<GroupLimits, 3> result {};
        if (! json::isObject (limits))
            return result;

        for (int g = 0; g < 3; ++g)
        {
            const auto& group = limits[groupKeys[g]];
            if (! json::isObject (group))
                continue;

            auto& l = result[(size_t) g];
            const auto& brightness = group["brightness"];
            if (json::isObject (brightness))
            {
                l.brightnessMax = json::toInt (brightness["max"]);
                l.brightnessMin = json::toInt (brightness["min"]);
                l.brightnessStart = json::toInt (brightness["start"]);
            }

            const auto& duration = group["duration"];
            if (json::isObject (duration))
            {
                l.durationMax = json::toInt (duration["max"]);
                l.durationMin = json::toInt (duration["min"]);
                l.durationStart = json::toInt (duration["start"]);
            }
        }
        return result;
    }

    float weakThresholdOf (const juce::var& value)
    {
        const auto text = json::text (value);
        if (text.isEmpty())
            return defaultWeakThreshold;

        // The number at the start of the text, read without JUCE's reader, whose exponent overflows on long runs
        // of digits, and without the C locale's idea of a decimal point.
        const auto utf8 = text.trimStart().toStdString();
        const char* begin = utf8.c_str();
        if (*begin == '+')
            ++begin;

        double d = 0.0;
        if (std::from_chars (begin, utf8.c_str() + utf8.size(), d).ec != std::errc())
            return defaultWeakThreshold;

        const auto f = (float) d;
        return std::isfinite (d) && f >= weakThresholdMin && f <= weakThresholdMax ? f : defaultWeakThreshold;
    }

    /** The update offer as sent, except that its links are kept only when they are safe to open. */
    juce::var sanitisedAppUpdate (const juce::var& offer)
    {
        if (! json::isObject (offer))
            return offer;

        auto* copy = new juce::DynamicObject();
        for (auto& property : offer.getDynamicObject()->getProperties())
        {
            const auto name = property.name.toString();
            const bool isLink = name.endsWithIgnoreCase ("url") || name.endsWithIgnoreCase ("link");
            copy->setProperty (property.name, isLink ? juce::var (json::safeLink (property.value)) : property.value);
        }
        return juce::var (copy);
    }

    /** The slots to erase when the regimen forces an update and a group is left without programs. */
    int forcedEraseMask (const FirmwareVersion& version, const std::array<std::vector<ProgramChoice>, 3>& lists)
    {
        int mask = 0;
        if (version.newerThan11())
        {
            if (lists[1].empty()) mask |= 0x03;
            if (lists[0].empty()) mask |= 0x30;
            if (lists[2].empty()) mask |= 0x0C;
        }
        else
        {
            if (lists[1].empty()) mask |= 0x0F;
            if (lists[0].empty()) mask |= 0x30;
        }
        return mask;
    }
}

int OlvoThread::processReply (const juce::var& reply, const juce::String& replyUid, const juce::String& requestUid,
                              bool process)
{
    serverMessage.set ({});

    // Not an object: nothing in it can be trusted, not even to wipe what earlier replies left.
    if (! json::isObject (reply))
    {
        serverMessage.set ("UUID Mismatch");
        return -3;
    }

    const auto replyStatus = json::text (reply["status"]);

    if (replyStatus == "nochange")
    {
        printLine ("Poll returned nochange " + juce::String (lastPollAt.load()));
        return -4;
    }

    webAppUrl.set (json::safeLink (reply["web_app_url"]));
    appUpdate.set (sanitisedAppUpdate (reply["app_update"]));

    if (replyStatus == "error")
    {
        serverMessage.set (json::text (reply["message"]));
        return -2;
    }

    if (reply.hasProperty ("warn"))
    {
        const auto& warn = reply["warn"];
        serverMessage.set (json::isObject (warn) ? json::text (warn["message"]) : juce::String());
        return -42;
    }

    if (replyUid != requestUid)
    {
        serverMessage.set ("UUID Mismatch");
        return -3;
    }

    lastRtc = reply.hasProperty ("last_rtc") ? json::toInt (reply["last_rtc"]) : -1;

    const auto choices = programChoicesOf (reply["program_choices"]);
    programChoices.set (choices);

    regimenFlag = parseRegimen (reply);

    limits.set (limitsOf (reply["limits"]));

    for (auto& rp : runParameters)
        rp = {};

    const auto& runValues = reply["program_run_parameters"];
    if (json::isObject (runValues))
    {
        for (int g = 0; g < 3; ++g)
        {
            const auto* list = runValues[runParameterKeys[g]].getArray();
            if (list == nullptr || list->isEmpty())
                continue;

            const auto& first = list->getReference (0);
            runParameters[g].brightness = json::toInt (first["brightness"]);
            runParameters[g].duration = json::toInt (first["duration"]);
        }
    }
    else
    {
        // The server does not know what the device runs: the next request reports the device's own values.
        int none = 0;
        sendSlotValues.compare_exchange_strong (none, 1);
    }

    pollingIntervalFast = 0;
    pollingIntervalSlow = 0;
    fastPollingDuration = 0;
    slowPollingDuration = 0;

    const auto& polling = reply["polling"];
    if (json::isObject (polling))
    {
        pollingIntervalFast = json::toInt (polling["polling_interval_fast"]);
        pollingIntervalSlow = json::toInt (polling["polling_interval_slow"]);
        fastPollingDuration = json::toInt (polling["fast_polling_duration"]);
        slowPollingDuration = json::toInt (polling["slow_polling_duration"]);

        const int resetWindow = json::toInt (polling["reset_polling_window"]);
        if (resetWindow != 0)
            windowStart = nowMs();

        printLine ("Polling fast: " + juce::String (pollingIntervalFast.load()) + ","
                   + juce::String (fastPollingDuration.load()) + " slow: " + juce::String (pollingIntervalSlow.load())
                   + "," + juce::String (slowPollingDuration.load()) + " rw: " + juce::String (resetWindow));
    }

    // The schedule counts on from this exchange, not from the window's start: counted from there, the next timed
    // poll would be due at once, and a server that answers each one in full (a file the device never takes) would
    // be polled on every tick.
    lastPollAt = (int32_t) juce::jlimit<int64_t> (0, std::numeric_limits<int32_t>::max(),
                                                  (nowMs() - windowStart.load()) / 1000);

    const auto& filler = reply["filler"];
    const bool hasFiller = json::isObject (filler);

    weakBatteryThreshold = weakThresholdOf (reply["weak_battery_threshold"]);
    treatmentType = reply["treatment_type"];

    {
        // The window reads these texts as a set on its timer: they change together.
        const juce::ScopedLock sl (lock);
        fillerLink.set (hasFiller ? json::safeLink (filler["filler_link"]) : juce::String());
        fillerImage.set (hasFiller ? json::safeLink (filler["filler_image"]) : juce::String());
        fillerText.set (hasFiller ? json::text (filler["filler_text"]) : juce::String());

        helpUrl.set (json::safeLink (reply["help_url"]));
        helpButtonTooltip.set (json::text (reply["help_button_tooltip"]));

        const auto startOption = defaultViewType.get();
        viewType.set (startOption.isNotEmpty() ? startOption : json::text (reply["view_type"]));
        webappLinkText.set (json::text (reply["webapp_link_text"]));
    }

    if (! process)
        return 0;

    const auto version = firmwareVersion();
    const auto& updates = reply["frequency_updates"];
    const bool hasUpdates = json::isObject (updates);

    for (int k = 1; k <= maxFrequencyKey; ++k)
    {
        const juce::var v = hasUpdates ? updates[juce::Identifier (juce::String (k))] : juce::var();
        const bool isDescriptor = json::isObject (v);

        if (k < firstHighSlotKey)
            frequencyUpdates[k - 1] = isDescriptor ? v : juce::var();
        else if (version.newerThan11())
            frequencyUpdates[k - highSlotKeyOffset] = v;

        if (isDescriptor)
            updatesPending = true;
    }

    if (const auto* firmwareList = reply["firmware_updates"].getArray();
        firmwareList != nullptr && ! firmwareList->isEmpty() && json::isObject (firmwareList->getReference (0)))
    {
        firmwareUpdate = firmwareList->getReference (0);
        updatesPending = true;
    }

    // A forced update empties the slots of every group left without programs, also when the reply has no
    // "program_choices" at all: the server then wants those slots empty.
    if (forceUpdate)
        slotClearMask.fetch_or (forcedEraseMask (version, choices));

    const auto sentTime = json::toInt64 (reply["server_time"]);
    serverTime = sentTime != 0 ? sentTime : nowMs() / 1000;
    return 1;
}

} // namespace olvo
