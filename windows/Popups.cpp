#include "Popups.h"

#include "engine/JsonValues.h"

namespace olvo
{

PopupTitles popupTitles (int kind, const juce::String& heading)
{
    const auto orDefault = [&heading] (const char* defaultHeading)
    {
        return heading.isNotEmpty() ? heading : juce::String (defaultHeading);
    };

    switch (kind)
    {
        case PopupKind::newApp:
            return { "New App", orDefault ("New App Available") };
        case PopupKind::nextPhase:
            return { "Update Available", orDefault ("Configuration Update Available") };
        case PopupKind::configurationUpdated:
            return { "Configuration Updated", orDefault ("Configuration Updated") };
        case PopupKind::warning:
            return { orDefault ("Error"), orDefault ("Error") };
        default:
            return { "Unknown", "This is not the title" };
    }
}

//==============================================================================
juce::Array<DelayOption> parseDelayOptions (const juce::String& text)
{
    juce::Array<DelayOption> options;

    juce::StringArray tokens;
    tokens.addTokens (text, ";", "\"");

    for (int i = 0; i < tokens.size(); ++i)
    {
        juce::StringArray parts;
        parts.addTokens (tokens[i], ":", "\"");

        if (parts.size() < 2 || parts[1].isEmpty() || ! json::startsWithInteger (parts[0]))
            continue;

        const auto value = json::atoiClamped (parts[0]);
        if (value < 1)
            continue;   // 0 would be no decision, a negative value "advance now"

        options.add ({ i + 1, parts[1], value });
    }

    if (options.isEmpty())
        options.add ({ 1, "1 week", defaultDelay });

    return options;
}

int laterResult (const juce::String& delayOptionsText, int selectedId)
{
    for (const auto& option : parseDelayOptions (delayOptionsText))
        if (option.id == selectedId)
            return option.value;

    return defaultDelay;
}

//==============================================================================
std::unique_ptr<OlvoPopup> makePopup (const PopupRequest& request, const juce::Component& mainContent,
                                      juce::LookAndFeel& lookAndFeel)
{
    auto popup = std::make_unique<OlvoPopup>();
    popup->setLookAndFeel (&lookAndFeel);

    auto configured = request;
    configured.heading = popupTitles (request.kind, request.heading).heading;
    popup->configure (configured);

    popup->setSize ((int) (0.8 * mainContent.getWidth()), (int) (0.8 * mainContent.getHeight()));
    return popup;
}

juce::DialogWindow* launchPopup (juce::DialogWindow::LaunchOptions& options, const PopupRequest& request,
                                 const juce::Component& mainContent, juce::LookAndFeel& lookAndFeel,
                                 const DialogLauncher& launcher)
{
    return launchDialog (options, makePopup (request, mainContent, lookAndFeel),
                         popupTitles (request.kind, request.heading).suffix, lookAndFeel, launcher);
}

//==============================================================================
void cancelUserRequests (OlvoThread& engine)
{
    for (int i = 0; i < 3; ++i)
    {
        engine.durationChanged[i] = false;
        engine.levelChanged[i] = false;
        engine.updateProgramChoice[i] = false;
    }

    engine.packageChoicePending = false;
    engine.slotClearMask = 0;
}

std::optional<DeviceUid> presentDeviceUid (const OlvoThread& engine)
{
    juce::String serial;
    if (! engine.getSerialNumber (serial))
        return std::nullopt;

    const auto ids = engine.deviceIds.get();
    return DeviceUid { ids.uidWord (0), ids.uidWord (1), ids.uidWord (2), ids.uidWord (3) };
}

bool applyNextPhaseDecision (OlvoThread& engine, int result, int kind, const std::optional<DeviceUid>& decidedFor,
                             int64_t now, int64_t& nextPhaseOffer)
{
    if (kind != PopupKind::nextPhase || ! (result == -1 || result > 0))
        return false;

    const auto present = presentDeviceUid (engine);
    if (! present || present != decidedFor)
        return false;

    nextPhaseOffer = now + 20000;
    cancelUserRequests (engine);
    engine.regimenAdvancementDelay = result;
    return true;
}

} // namespace olvo
