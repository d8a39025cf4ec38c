// The main window timer's rules as plain functions: regimen texts, the application-update offer, the marquee, the
// older firmware's group-2 caption, and the lower panel's plan by view type.

#include "mainwindow/TimerRules.h"

#include "engine/OlvoThread.h"

#include <gtest/gtest.h>

#include <climits>

namespace olvo
{

TEST (RegimenTexts, PhaseAndDayByTheRegimensNumbers)
{
    const struct { int32_t phase, total, days, remaining; const char* phaseText; const char* dayText; } table[] {
        { 2, 3, 28, 28, "Phase 2 of 3", "Day 1 of 28" },
        { 2, 3, 28, 1, "Phase 2 of 3", "Day 28 of 28" },
        { 2, 3, 28, 0, "Phase 2 of 3", "Complete" },
        { 2, 3, 28, -5, "Phase 2 of 3", "Complete" },
        { 1, 1, 28, 10, "", "" },                      // a single phase: no texts
        { 0, 0, 0, -999999, "", "" },                  // no regimen
        { 1, 2, 7, 9, "Phase 1 of 2", "Day -1 of 7" }, // the server's numbers as they come
        // Whatever the server sends, the day is computed without overflow.
        { 1, 2, INT_MAX, 1, "Phase 1 of 2", "Day 2147483647 of 2147483647" },
        { 1, 2, INT_MIN, INT_MAX, "Phase 1 of 2", "Day -4294967294 of -2147483648" },
        { 1, 2, INT_MAX, INT_MAX, "Phase 1 of 2", "Day 1 of 2147483647" },
    };

    for (const auto& row : table)
    {
        const auto texts = regimenTexts (row.phase, row.total, row.days, row.remaining);
        EXPECT_EQ (texts.phaseText, row.phaseText) << row.days << " " << row.remaining;
        EXPECT_EQ (texts.dayText, row.dayText) << row.days << " " << row.remaining;
    }
}

TEST (AppUpdateOffer, NewerAndOlderVersionsButNotOurOwnOrTheOldLine)
{
    const auto update = [] (juce::var major, juce::var minor, juce::var tertiary, const char* download = "https://olvo.example/get",
                            const char* detail = "https://olvo.example/notes")
    {
        auto* object = new juce::DynamicObject();
        if (! major.isVoid())    object->setProperty ("version_major", major);
        if (! minor.isVoid())    object->setProperty ("version_minor", minor);
        if (! tertiary.isVoid()) object->setProperty ("version_tertiary", tertiary);
        if (download != nullptr) object->setProperty ("download_url", download);
        if (detail != nullptr)   object->setProperty ("detail_url", detail);
        return juce::var (object);
    };

    const struct { const char* what; juce::var appUpdate; bool open; const char* message; } table[] {
        { "1.3.0", update (1, 3, 0), true, "New Version: 1.3.0" },
        { "1.2.7, older than ours, still offered", update (1, 2, 7), true, "New Version: 1.2.7" },
        { "2.0.0", update (2, 0, 0), true, "New Version: 2.0.0" },
        { "numbers as text", update ("1", "4", "2"), true, "New Version: 1.4.2" },
        { "text with a tail", update ("1x", "3.9", " 5"), true, "New Version: 1.3.5" },
        { "1.2.8, our own", update (1, 2, 8), true, nullptr },
        { "1.1.9", update (1, 1, 9), true, nullptr },
        { "0.9.0", update (0, 9, 0), true, nullptr },
        { "no version at all", update ({}, {}, {}), true, nullptr },
        { "no tertiary: 1.3.0", update (1, 3, {}), true, "New Version: 1.3.0" },
        { "huge numbers saturate", update ("99999999999", 0, 0), true, "New Version: 2147483647.0.0" },
        { "no download", update (1, 3, 0, nullptr), true, nullptr },
        { "empty download", update (1, 3, 0, ""), true, nullptr },
        { "no device", update (1, 3, 0), false, nullptr },
        { "not an object", juce::var ("1.3.0"), true, nullptr },
        { "an array", juce::var (juce::Array<juce::var> { 1, 3, 0 }), true, nullptr },
        { "nothing", juce::var(), true, nullptr },
    };

    for (const auto& row : table)
    {
        const auto offer = appUpdateOffer (row.appUpdate, row.open);
        EXPECT_EQ (offer.isOffered(), row.message != nullptr) << row.what;
        if (row.message != nullptr)
        {
            EXPECT_EQ (offer.message, row.message) << row.what;
            EXPECT_EQ (offer.download, "https://olvo.example/get") << row.what;
            EXPECT_EQ (offer.detail, "https://olvo.example/notes") << row.what;
        }
    }

    // Without a details page the offer has none.
    EXPECT_EQ (appUpdateOffer (update (1, 3, 0, "https://olvo.example/get", nullptr), true).detail, "");
}

TEST (Marquee, ThreeFramesOf28CharactersBetweenNoBreakSpaces)
{
    const juce::String nbsp = juce::String::charToString ((juce::juce_wchar) 0xa0);
    EXPECT_EQ (marqueeFrame (0), nbsp + ".  .  .  Updating.  .  .  " + nbsp);
    EXPECT_EQ (marqueeFrame (1), nbsp + " .  .  . Updating .  .  . " + nbsp);
    EXPECT_EQ (marqueeFrame (2), nbsp + "  .  .  .Updating  .  .  ." + nbsp);
    EXPECT_EQ (marqueeFrame (3), marqueeFrame (0));
    EXPECT_EQ (marqueeFrame (-1), marqueeFrame (2));

    for (int k = 0; k < 3; ++k)
        EXPECT_EQ (marqueeFrame (k).length(), 28);
}

TEST (OlderFirmware, Group2IsBalanceAndRestoreFrom1014)
{
    EXPECT_EQ (olderFirmwareGroup2Caption ("1.0.20"), "Balance & Restore");
    EXPECT_EQ (olderFirmwareGroup2Caption ("1.0.14"), "Balance & Restore");
    EXPECT_EQ (olderFirmwareGroup2Caption ("1.1.5"), "Balance & Restore");
    EXPECT_EQ (olderFirmwareGroup2Caption ("1.0.13"), "");
}

TEST (PageLoad, PollsOnlyOutsideASyncAndTheServersMessages)
{
    for (int status : { SyncStatus::noDevice, SyncStatus::connecting, SyncStatus::noConnection, SyncStatus::upToDate })
        EXPECT_TRUE (pageLoadMayPoll (status)) << status;
    for (int status : { SyncStatus::updating, SyncStatus::unknownDevice, SyncStatus::error })
        EXPECT_FALSE (pageLoadMayPoll (status)) << status;
}

TEST (WebPanel, ThePlanPerViewType)
{
    const juce::String app ("https://app.olvo.example/"), linkText ("Open the app"), filler ("https://olvo.example/tips"),
                       fillerText ("A tip");

    const struct { const char* viewType; juce::String webApp, fillerLink, fillerText;
                   const char* webView; bool link; const char* linkShows; bool fillerButton; } table[] {
        { "webview", app, {}, {}, "https://app.olvo.example/", false, "", false },
        { "webview", app, filler, fillerText, "https://app.olvo.example/", true, "A tip", false },
        { "webview", {}, {}, {}, "", false, "", false },
        { "link", app, {}, {}, "", true, "Open the app", false },
        { "link_only", app, filler, fillerText, "", true, "Open the app", true },
        { "link_only", {}, filler, fillerText, "", true, "A tip", false },     // no web application: the filler text
        { "link_only", app, filler, {}, "", true, "Open the app", false },     // filler text without text: none
        { "link_only", app, {}, fillerText, "", true, "Open the app", false }, // nor without a link
        { "Link", app, {}, {}, "", false, "", false },                          // case-sensitive
        { "", app, {}, {}, "", false, "", false },
    };

    for (const auto& row : table)
    {
        const auto plan = webPanelPlan (row.viewType, row.webApp, linkText, row.fillerLink, row.fillerText);
        const auto what = juce::String (row.viewType) + " " + row.webApp + " " + row.fillerLink + " " + row.fillerText;
        EXPECT_EQ (plan.webViewUrl, row.webView) << what;
        EXPECT_EQ (plan.linkVisible, row.link) << what;
        if (row.link)
        {
            EXPECT_EQ (plan.linkText, row.linkShows) << what;
        }
        EXPECT_EQ (plan.fillerTextVisible, row.fillerButton) << what;
        if (row.fillerButton)
        {
            EXPECT_EQ (plan.fillerText, fillerText) << what;
        }
    }
}

} // namespace olvo
