#include "TimerRules.h"

#include "UiHelpers.h"

#include "engine/JsonValues.h"
#include "engine/OlvoThread.h"
#include "windows/InfoText.h"

namespace olvo
{

RegimenTexts regimenTexts (int32_t currentPhase, int32_t phaseTotal, int32_t durationTotal, int32_t remaining)
{
    if (phaseTotal < 2)
        return {};

    const auto phase = "Phase " + juce::String (currentPhase) + " of " + juce::String (phaseTotal);

    if (remaining < 1)
        return { phase, "Complete" };

    const int64_t day = (int64_t) durationTotal - (int64_t) remaining + 1;
    return { phase, "Day " + juce::String (day) + " of " + juce::String (durationTotal) };
}

//==============================================================================
AppUpdateOffer appUpdateOffer (const juce::var& appUpdate, bool deviceOpen)
{
    if (! deviceOpen || ! json::isObject (appUpdate))
        return {};

    const auto number = [&appUpdate] (const char* key) { return json::atoiClamped (json::text (appUpdate[key])); };
    const int major = number ("version_major"), minor = number ("version_minor"), tertiary = number ("version_tertiary");

    const auto version = juce::String (major) + "." + juce::String (minor) + "." + juce::String (tertiary);
    const bool offered = version != applicationVersionText && major >= 1 && ! (major == 1 && minor < 2);

    if (! offered)
        return {};

    return { json::text (appUpdate["download_url"]), json::text (appUpdate["detail_url"]), "New Version: " + version };
}

//==============================================================================
juce::String marqueeFrame (int32_t counter)
{
    static const char* const frames[] { ".  .  .  Updating.  .  .  ",
                                        " .  .  . Updating .  .  . ",
                                        "  .  .  .Updating  .  .  ." };

    const juce::String noBreakSpace = juce::String::charToString ((juce::juce_wchar) 0xa0);
    return noBreakSpace + frames[((counter % 3) + 3) % 3] + noBreakSpace;
}

juce::String olderFirmwareGroup2Caption (const juce::String& firmwareText)
{
    return compareVersion (firmwareText, 0, 14) >= 0 ? "Balance & Restore" : "";
}

bool showsWebAppLink (const juce::String& viewType, const juce::String& webAppUrl)
{
    return viewType.startsWith ("link") && webAppUrl.isNotEmpty();
}

bool pageLoadMayPoll (int status)
{
    return status != SyncStatus::updating && status != SyncStatus::unknownDevice && status != SyncStatus::error;
}

//==============================================================================
WebPanelPlan webPanelPlan (const juce::String& viewType, const juce::String& webAppUrl,
                           const juce::String& webappLinkText, const juce::String& fillerLink,
                           const juce::String& fillerText)
{
    WebPanelPlan plan;

    if (viewType == "webview" && webAppUrl.isNotEmpty())
        plan.webViewUrl = webAppUrl;

    plan.linkVisible = showsWebAppLink (viewType, webAppUrl);
    if (plan.linkVisible)
        plan.linkText = webappLinkText;

    if (fillerLink.isNotEmpty() && fillerText.isNotEmpty())
    {
        if (plan.linkVisible)
        {
            plan.fillerTextVisible = true;
            plan.fillerText = fillerText;
        }
        else
        {
            plan.linkVisible = true;
            plan.linkText = fillerText;
        }
    }

    return plan;
}

} // namespace olvo
