// The regimen and the package list of a poll reply.

#include "OlvoThread.h"

#include "JsonValues.h"

#include <cstdio>

namespace olvo
{

namespace
{
    constexpr int maxDelayDigits = 9;   // a delay value always fits an int

    void printLine (const juce::String& line)
    {
        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    /** A boolean as juce::var reads one, except that text goes through the clamping integer read: var's own reading
        of text negates a 32-bit value, which overflows on "-2147483648". */
    bool flagOf (const juce::var& v)
    {
        if (! v.isString())
            return (bool) v;

        const auto text = v.toString().trim();
        return json::atoiClamped (text) != 0 || text.equalsIgnoreCase ("true") || text.equalsIgnoreCase ("yes");
    }

    /** A delay option's name is the value the popup hands back: only a positive whole number will do. */
    bool isDelayValue (const juce::String& name)
    {
        return name.isNotEmpty() && name.length() <= maxDelayDigits && name.containsOnly ("0123456789")
               && name.getIntValue() > 0;
    }

    /** "value:text;" pairs: the popup splits at ";" and ":", so those (and quotes) cannot stay in a text. */
    juce::String delayOptionsText (const juce::var& options)
    {
        juce::String text;
        if (! json::isObject (options))
            return text;

        for (auto& option : options.getDynamicObject()->getProperties())
        {
            const auto name = option.name.toString();
            if (! isDelayValue (name))
                continue;

            const auto label = json::text (option.value).replaceCharacters (";:\"", "   ");
            text << name << ":" << label << ";";
        }
        return text;
    }

    PackageInfo packageOf (const juce::var& element)
    {
        PackageInfo p;
        if (! json::isObject (element))
            return p;

        p.packageId = json::toInt (element["package_id"]);
        p.isCurrent = json::toInt (element["is_current"]);
        p.brandName = json::text (element["brand_name"]);
        p.presentationName = json::text (element["presentation_name"]);
        p.brandLogo = json::safeLink (element["brand_logo"]);
        p.brandIcon = json::safeLink (element["brand_icon"]);
        return p;
    }
}

bool OlvoThread::parseRegimen (const juce::var& reply)
{
    const auto& regimen = reply["regimen"];
    bool justAdvanced = false;

    if (! json::isObject (regimen))
    {
        clearRegimen();
    }
    else
    {
        auto message = json::text (regimen["advancement_message"]);
        const auto& nextPhase = regimen["next_phase"];
        const bool hasNextPhase = json::isObject (nextPhase);
        if (hasNextPhase && nextPhase.hasProperty ("advancement_message"))
            message = json::text (nextPhase["advancement_message"]);

        justAdvanced = flagOf (regimen["just_advanced_phase"]);

        auto title = json::text (regimen["welcome_message_title"]);
        if (title.isEmpty())
            title = "Configuration Updated";

        const auto options = delayOptionsText (regimen["delay_options"]);

        {
            // The texts change together, so a window never shows one reply's name with another's message.
            const juce::ScopedLock sl (lock);
            regimenName.set (json::text (regimen["regimen_name"]));
            currentPhaseName.set (json::text (regimen["current_phase_name"]));
            advancementMessage.set (message);
            if (hasNextPhase)
                advancementTitle.set (json::text (nextPhase["advancement_title"]));

            if (justAdvanced)
            {
                welcomeMessage.set (json::text (regimen["welcome_message"]));
                welcomeUrl.set (json::safeLink (regimen["welcome_url"]));
                welcomeMessageTitle.set (title);
            }

            delayOptions.set (options);
        }

        currentPhase = json::toInt (regimen["current_phase"]);
        phaseTotal = json::toInt (regimen["phase_total"]);
        currentPhaseDurationTotal = json::toInt (regimen["current_phase_duration_total"]);
        currentPhaseRemaining = json::toInt (regimen["current_phase_remaining"]);
        readyToAdvance = flagOf (regimen["ready_to_advance"]);
        forceUpdate = flagOf (regimen["force_update"]);
    }

    juce::Array<PackageInfo> list;
    const auto& offered = reply["packages_list"];

    if (const auto* elements = offered.getArray())
    {
        for (int i = 0; i < elements->size(); ++i)
        {
            const auto p = packageOf (elements->getReference (i));
            list.add (p);
            printLine ("RL[" + juce::String (i) + "] " + p.brandLogo + " " + p.brandIcon + " name "
                       + p.presentationName + " " + juce::String (p.isCurrent));
        }
    }

    packages.set (std::move (list));
    return justAdvanced;
}

} // namespace olvo
