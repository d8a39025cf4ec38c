#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace olvo
{

//==============================================================================
// Rules of the main window's timer pass, as plain functions over plain values. The pass applies them to its read
// of the engine (EngineSnapshot.h).

/** The regimen's two texts: the phase counter and the day badge. */
struct RegimenTexts
{
    juce::String phaseText, dayText;

    bool operator== (const RegimenTexts& o) const { return phaseText == o.phaseText && dayText == o.dayText; }
};

/** "Phase <current> of <total>" and, for the day, "Complete" once remaining is below 1, else "Day <d> of <days>"
    with d = days - remaining + 1 (computed in 64 bits: no overflow whatever the server sends); both empty for a
    regimen of fewer than two phases. */
RegimenTexts regimenTexts (int32_t currentPhase, int32_t phaseTotal, int32_t durationTotal, int32_t remaining);

//==============================================================================
/** What the application-update popup offers: the download page (empty: nothing to offer), the details page, and the
    message "New Version: <major>.<minor>.<tertiary>". */
struct AppUpdateOffer
{
    juce::String download, detail, message;

    bool isOffered() const { return download.isNotEmpty(); }
};

/** The offer in the server's "app_update" object, read while the device is open: each version number is the
    integer at the start of its property's text (0 when missing), the pages are "download_url" and "detail_url".
    Nothing is offered without an open device, for a value that is not an object, for the application's own version
    (applicationVersionText), for a major version below 1, or for 1.x below 1.2. Other versions are offered, older
    ones (1.2.7) included. */
AppUpdateOffer appUpdateOffer (const juce::var& appUpdate, bool deviceOpen);

//==============================================================================
/** The next-phase popup's message when the server sends none. */
constexpr const char* defaultAdvancementMessage =
    "The next phase of the protocol is available now.If you feel ready to move on, click ADVANCE.\n\n"
    "If you would prefer to spend more time in the current phase, select a delay in the dropdown, then click LATER.";

/** A frame of the marquee that the program captions show while an update runs, for the frame counter (mod 3): 28
    characters, a no-break space at each end. */
juce::String marqueeFrame (int32_t counter);

/** The caption of group 2's program dropdown on firmware before 1.2.0, which offers no list there: "Balance &
    Restore" from 1.0.14 on, else empty. */
juce::String olderFirmwareGroup2Caption (const juce::String& firmwareText);

/** True for a view type that shows a link button to the web application: it starts with "link" (case-sensitive:
    "link" and "link_only") and there is a web application URL. */
bool showsWebAppLink (const juce::String& viewType, const juce::String& webAppUrl);

/** A page loaded in the web view asks the engine to poll (by setting its status to "No Connection") only when the
    status is not "Updating", "Unknown Device" or "ERROR": it would cut a running sync short, or replace the
    server's message. */
bool pageLoadMayPoll (int status);

//==============================================================================
/** The lower panel by the server's view settings: the web view, the link button and the filler text button. */
struct WebPanelPlan
{
    /** The page the web view shows; empty: the web view is hidden. */
    juce::String webViewUrl;

    /** The link button, and its text while it shows. */
    bool linkVisible = false;
    juce::String linkText;

    /** The filler text button, and its text while it shows. */
    bool fillerTextVisible = false;
    juce::String fillerText;
};

/** The plan for the server's settings: the web view shows the web application for view type "webview"; the link
    button shows for a link view (showsWebAppLink) with the link text, and the filler text, when there is a filler
    link and text, goes on the filler text button beside a link, or on the link button (which then shows) without
    one. */
WebPanelPlan webPanelPlan (const juce::String& viewType, const juce::String& webAppUrl,
                           const juce::String& webappLinkText, const juce::String& fillerLink,
                           const juce::String& fillerText);

} // namespace olvo
