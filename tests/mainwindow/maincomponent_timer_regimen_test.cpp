// The main window's timer pass for the lower half: the package list and its clicks, the four popups with their
// gates and texts, the next-phase decision, the regimen's texts, and the web view, link and filler controls.

#include "TimerFixture.h"

#include "mainwindow/TimerRules.h"
#include "windows/Popups.h"

namespace olvo
{

using test::TimerPass;

//==============================================================================
TEST_F (TimerPass, ThePackageListShowsThePackagesAndSelectsTheCurrentOne)
{
    plug (1, 2, 0);

    const struct { const char* what; juce::Array<PackageInfo> packages; int state; int selected; } table[] {
        { "none", {}, dropdown::noList, -1 },
        { "one: no list to open, its row still selected", { package (11, "Starter") }, dropdown::noList, 0 },
        { "two, the second current", { package (11, "Starter"), package (12, "Sports", 1) }, dropdown::closed, 1 },
        { "two, none current: the first", { package (11, "Starter"), package (12, "Sports") }, dropdown::closed, 0 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        e().packages.set (row.packages);
        c().layoutDirty = false;
        pass();

        EXPECT_EQ (c().packageListModel.getNumRows(), row.packages.size());
        for (int i = 0; i < row.packages.size(); ++i)
            EXPECT_EQ (c().packageListModel.names[i], row.packages[i].presentationName);
        EXPECT_EQ (c().packageListState, row.state);
        EXPECT_EQ (c().packageList.getSelectedRow(), row.selected);
    }

    // Unchanged rows: no new layout.
    c().layoutDirty = false;
    pass();
    EXPECT_FALSE (c().layoutDirty);
    e().packages.set ({ package (11, "Starter"), package (12, "Sports"), package (13, "Night") });
    pass();
    EXPECT_EQ (c().packageListModel.getNumRows(), 3);
}

TEST_F (TimerPass, APackageClickChoosesThePackageWhileUpToDateByTheRowTheUserSaw)
{
    plug (1, 2, 0);
    e().packages.set ({ package (11, "Starter", 1), package (12, "Sports") });
    pass();
    ASSERT_EQ (c().packageList.getSelectedRow(), 0);

    // Outside up to date nothing is chosen.
    e().status = SyncStatus::noConnection;
    clickRow (c().packageListModel, c().packageList, 1);
    pass();
    EXPECT_FALSE (e().packageChoicePending);

    // Up to date: the index of the package the user saw in that row.
    e().status = SyncStatus::upToDate;
    clickRow (c().packageListModel, c().packageList, 1);
    pass();
    EXPECT_TRUE (e().packageChoicePending);
    EXPECT_EQ (e().chosenPackageIndex, 1);
    pass();
    EXPECT_TRUE (c().saveButton.isVisible()) << "the user is editing";
    c().buttonClicked (&c().cancelButton);
    pass();
    EXPECT_EQ (c().packageList.getSelectedRow(), 0);

    // The current package's row: nothing to choose.
    clickRow (c().packageListModel, c().packageList, 0);
    pass();
    EXPECT_FALSE (e().packageChoicePending);

    // The server sends the packages in another order between the click and the pass: Sports is now row 0.
    clickRow (c().packageListModel, c().packageList, 1);
    e().packages.set ({ package (12, "Sports"), package (11, "Starter", 1) });
    pass();
    EXPECT_TRUE (e().packageChoicePending);
    EXPECT_EQ (e().chosenPackageIndex, 0);

    // A package the server no longer offers is not chosen.
    c().buttonClicked (&c().cancelButton);
    pass();
    clickRow (c().packageListModel, c().packageList, 0);
    e().packages.set ({ package (11, "Starter", 1), package (13, "Night") });
    pass();
    EXPECT_FALSE (e().packageChoicePending);
}

//==============================================================================
TEST_F (TimerPass, TheWarningPopupOncePerPresenceOfTheDevice)
{
    plug (1, 2, 0, SyncStatus::unknownDevice);
    e().serverMessage.set ("This device is not registered.");
    pass();
    ASSERT_EQ (dialogs.launches.size(), 1u);
    EXPECT_EQ (dialogs.launches[0].title, "OlvoAssistant - Warning");
    EXPECT_EQ (popup (0).kind, PopupKind::warning);
    EXPECT_EQ (popup (0).message, "This device is not registered.");
    EXPECT_EQ (popup (0).heading, "Warning");

    pass();
    EXPECT_EQ (dialogs.launches.size(), 1u) << "once";

    // The device goes and comes back: again.
    unplug();
    pass();
    plug (1, 2, 0, SyncStatus::unknownDevice);
    pass();
    EXPECT_EQ (dialogs.launches.size(), 2u);

    // Without a message nothing is shown, and nothing is shown later in this presence.
    unplug();
    pass();
    e().serverMessage.set ({});
    plug (1, 2, 0, SyncStatus::unknownDevice);
    pass();
    e().serverMessage.set ("Late message");
    pass();
    EXPECT_EQ (dialogs.launches.size(), 2u);
    EXPECT_TRUE (c().warningShown);

    // Another status, or no device: none.
    rebuild();
    e().serverMessage.set ("Server down");
    plug (1, 2, 0, SyncStatus::error);
    pass();
    unplug();
    e().status = SyncStatus::unknownDevice;
    pass();
    EXPECT_TRUE (dialogs.launches.empty());
}

TEST_F (TimerPass, TheApplicationUpdatePopupAndItsDailyRepeat)
{
    auto* update = new juce::DynamicObject();
    update->setProperty ("version_major", 1);
    update->setProperty ("version_minor", 2);
    update->setProperty ("version_tertiary", 7);
    update->setProperty ("download_url", "https://olvo.example/get");
    update->setProperty ("detail_url", "https://olvo.example/notes");
    e().appUpdate.set (juce::var (update));

    pass();
    EXPECT_TRUE (dialogs.launches.empty()) << "only with an open device";

    plug (1, 2, 0);
    {
        juce::Component blocker;
        blocker.enterModalState (false);
        pass();
        blocker.exitModalState (0);
    }
    EXPECT_TRUE (dialogs.launches.empty()) << "not over another dialog";

    pass();
    ASSERT_EQ (dialogs.launches.size(), 1u);
    EXPECT_EQ (dialogs.launches[0].title, "OlvoAssistant - New App");
    EXPECT_EQ (popup (0).message, "New Version: 1.2.7");
    EXPECT_EQ (popup (0).urlOrChoices, "https://olvo.example/get");
    EXPECT_EQ (popup (0).link, "https://olvo.example/notes");
    EXPECT_EQ (popup (0).heading, "New App Available");
    EXPECT_EQ (c().nextAppUpdateCheck, clock.nowMs() + 86'400'000);

    clock.advance (86'400'000);
    pass();
    EXPECT_EQ (dialogs.launches.size(), 1u);
    clock.advance (1);
    pass();
    EXPECT_EQ (dialogs.launches.size(), 2u);

    // Our own version: nothing, and the check runs again on every pass.
    update->setProperty ("version_tertiary", 8);
    clock.advance (86'400'001);
    pass();
    EXPECT_EQ (dialogs.launches.size(), 2u);
    EXPECT_LT (c().nextAppUpdateCheck, clock.nowMs());
}

TEST_F (TimerPass, TheNextPhasePopupAndItsGates)
{
    struct Row { const char* what; bool ready, force; int delay; int64_t offerIn; bool blocked; bool shown; };
    const Row table[] {
        { "ready", true, false, 0, -1, false, true },
        { "not ready", false, false, 0, -1, false, false },
        { "forced by the server", true, true, 0, -1, false, false },
        { "a decision on its way", true, false, 7, -1, false, false },
        { "advance on its way", true, false, -1, -1, false, false },
        { "offered a moment ago", true, false, 0, 0, false, false },
        { "blocked by a dialog", true, false, 0, -1, true, false },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        plug (1, 2, 0);
        pass();
        e().readyToAdvance = row.ready;
        e().forceUpdate = row.force;
        e().regimenAdvancementDelay = row.delay;
        e().delayOptions.set ("1:1 day;7:1 week;");
        c().nextPhaseOffer = clock.nowMs() + row.offerIn;

        juce::Component blocker;
        if (row.blocked)
            blocker.enterModalState (false);

        pass();
        blocker.exitModalState (0);

        EXPECT_EQ (dialogs.launches.size(), row.shown ? 1u : 0u);
        if (row.shown)
        {
            EXPECT_EQ (dialogs.launches[0].title, "OlvoAssistant - Update Available");
            EXPECT_EQ (popup (0).kind, PopupKind::nextPhase);
            EXPECT_EQ (popup (0).urlOrChoices, "1:1 day;7:1 week;");
            EXPECT_EQ (popup (0).message, defaultAdvancementMessage);
            EXPECT_EQ (popup (0).heading, "Configuration Update Available");
            EXPECT_EQ (popup (0).delayBox.getNumItems(), 2);
            EXPECT_EQ (c().nextPhaseOffer, clock.nowMs() + 3'600'000);
        }
    }

    // The server's texts when it sends them.
    rebuild();
    plug (1, 2, 0);
    e().readyToAdvance = true;
    e().advancementMessage.set ("Two more weeks done.");
    e().advancementTitle.set ("Move on to the maintenance phase?");
    pass();
    ASSERT_EQ (dialogs.launches.size(), 1u);
    EXPECT_EQ (popup (0).message, "Two more weeks done.");
    EXPECT_EQ (popup (0).heading, "Move on to the maintenance phase?");

    // Without the device the offer is never made (every such pass moves the offer time to now).
    rebuild();
    e().readyToAdvance = true;
    pass();
    pass();
    EXPECT_TRUE (dialogs.launches.empty());
}

TEST_F (TimerPass, TheConfigurationUpdatedPopupOncePerWelcome)
{
    plug (1, 2, 0);
    e().welcomeMessage.set ("Phase two adds an evening session.");
    e().welcomeUrl.set ("https://app.olvo.example/welcome/2");
    e().welcomeMessageTitle.set ("Phase 2: Building up");

    // Behind a dialog it waits, and the welcome stays.
    {
        juce::Component blocker;
        blocker.enterModalState (false);
        pass();
        blocker.exitModalState (0);
    }
    EXPECT_TRUE (dialogs.launches.empty());
    EXPECT_EQ (e().welcomeMessage.get(), "Phase two adds an evening session.");

    pass();
    ASSERT_EQ (dialogs.launches.size(), 1u);
    EXPECT_EQ (dialogs.launches[0].title, "OlvoAssistant - Configuration Updated");
    EXPECT_EQ (popup (0).kind, PopupKind::configurationUpdated);
    EXPECT_EQ (popup (0).message, "Phase two adds an evening session.");
    EXPECT_EQ (popup (0).urlOrChoices, "https://app.olvo.example/welcome/2");
    EXPECT_EQ (popup (0).heading, "Phase 2: Building up");
    EXPECT_EQ (e().welcomeMessage.get(), "");
    EXPECT_EQ (e().welcomeUrl.get(), "");
    EXPECT_EQ (e().welcomeMessageTitle.get(), "");

    pass();
    EXPECT_EQ (dialogs.launches.size(), 1u);
}

TEST_F (TimerPass, TheNextPhaseDecisionReachesTheEngine)
{
    enum Device { same, gone, another };
    const struct { const char* what; int result, kind; Device device; int delay; bool acted; } table[] {
        { "ADVANCE", -1, PopupKind::nextPhase, same, -1, true },
        { "LATER, two weeks", 14, PopupKind::nextPhase, same, 14, true },
        { "closed", 0, PopupKind::nextPhase, same, 0, false },
        { "another kind", 1, PopupKind::warning, same, 0, false },
        { "a decision after the device has gone", -1, PopupKind::nextPhase, gone, 0, false },
        { "another device plugged in between two passes", -1, PopupKind::nextPhase, another, 0, false },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        plug (1, 2, 0);
        e().deviceIds.update ([] (DeviceIds& ids) { ids.bytes[wire::idsUid] = 0x11; });
        pass();

        // The popup is raised for this device.
        e().readyToAdvance = true;
        c().nextPhaseOffer = 0;
        pass();
        ASSERT_EQ (dialogs.launches.size(), 1u);
        e().readyToAdvance = false;

        if (row.device == gone)
            unplug();
        if (row.device == another)
            e().deviceIds.update ([] (DeviceIds& ids) { ids.bytes[wire::idsUid] = 0x22; });
        e().regimenAdvancementDelay = 0;
        e().levelChanged[2] = true;
        e().slotClearMask = 0b11;
        c().nextPhaseOffer = 0;

        MainComponent::popupClosed (row.result, &c(), row.kind);
        EXPECT_EQ (e().regimenAdvancementDelay, row.delay);
        EXPECT_EQ (e().levelChanged[2], ! row.acted);
        EXPECT_EQ (e().slotClearMask, row.acted ? 0 : 0b11);
        EXPECT_EQ (c().nextPhaseOffer, row.acted ? clock.nowMs() + 20'000 : 0);
    }

    // The owner has gone.
    MainComponent::popupClosed (-1, nullptr, PopupKind::nextPhase);
}

struct TimerPassWithRealDialogs : public TimerPass
{
    TimerPassWithRealDialogs() { realDialogs = true; }
};

TEST_F (TimerPassWithRealDialogs, LaterWithADelayChosenInThePopupReachesTheEngine)
{
    plug (1, 2, 0);
    e().readyToAdvance = true;
    e().delayOptions.set ("7:1 week;14:2 weeks;");
    pass();
    ASSERT_EQ (c().openPopups.size(), 1);

    auto* modal = juce::Component::getCurrentlyModalComponent();
    ASSERT_NE (modal, nullptr);
    auto* dialog = dynamic_cast<juce::DialogWindow*> (modal);
    ASSERT_NE (dialog, nullptr);
    auto& later = dynamic_cast<OlvoPopup&> (*dialog->getContentComponent());
    later.delayBox.setSelectedId (2, juce::dontSendNotification);
    later.dismissButton.triggerClick();

    EXPECT_TRUE (test::pumpUntil ([&] { return e().regimenAdvancementDelay == 14; }));
    EXPECT_EQ (c().openPopups.size(), 0);

    // A new offer waits 20 s, not an hour.
    EXPECT_EQ (c().nextPhaseOffer, clock.nowMs() + 20'000);
}

//==============================================================================
TEST_F (TimerPass, ThePhaseAndDayTextsFollowEveryChangeOfTheRegimen)
{
    plug (1, 2, 0);
    const auto regimen = [this] (int32_t phase, int32_t total, int32_t days, int32_t remaining, const char* name)
    {
        e().currentPhase = phase;
        e().phaseTotal = total;
        e().currentPhaseDurationTotal = days;
        e().currentPhaseRemaining = remaining;
        e().currentPhaseName.set (name);
        pass();
    };

    const struct { int32_t phase, total, days, remaining; const char* name; const char* phaseText;
                   const char* dayText; } table[] {
        { 2, 3, 28, 28, "Building up", "Phase 2 of 3", "Day 1 of 28" },
        { 2, 4, 28, 28, "Building up", "Phase 2 of 4", "Day 1 of 28" },   // the total alone
        { 3, 4, 28, 28, "Building up", "Phase 3 of 4", "Day 1 of 28" },   // the phase alone
        { 3, 4, 30, 28, "Building up", "Phase 3 of 4", "Day 3 of 30" },   // the phase's length alone
        { 3, 4, 30, 28, "Maintenance", "Phase 3 of 4", "Day 3 of 30" },   // the name alone
        { 3, 4, 30, 0, "Maintenance", "Phase 3 of 4", "Complete" },
        { 1, 1, 30, 10, "Maintenance", "", "" },
    };

    for (const auto& row : table)
    {
        regimen (row.phase, row.total, row.days, row.remaining, row.name);
        EXPECT_EQ (c().phaseText, row.phaseText) << row.phaseText << " " << row.dayText;
        EXPECT_EQ (c().dayText, row.dayText) << row.phaseText << " " << row.dayText;
        EXPECT_EQ (c().phaseNameText, row.name);
    }
}

//==============================================================================
TEST_F (TimerPass, TheWebViewLoadsTheWebApplicationOnceForThePresentDevice)
{
    e().viewType.set ("webview");
    e().webAppUrl.set ("https://app.olvo.example/");
    pass();
    EXPECT_TRUE (webView().loadedUrls.isEmpty()) << "no device: no page";
    EXPECT_FALSE (webView().isVisible());

    plug (1, 2, 0);
    pass();
    pass();
    EXPECT_EQ (webView().loadedUrls, juce::StringArray { "https://app.olvo.example/" });
    EXPECT_TRUE (webView().isVisible());
    EXPECT_FALSE (c().linkButton.isVisible());

    e().webAppUrl.set ("https://app.olvo.example/v2");
    pass();
    EXPECT_EQ (webView().loadedUrls.size(), 2);

    // The device goes: hidden and forgotten, not loaded again; it loads afresh when the device is back.
    unplug();
    pass();
    pass();
    EXPECT_FALSE (webView().isVisible());
    EXPECT_EQ (c().loadedWebUrl, "");
    EXPECT_EQ (webView().loadedUrls.size(), 2);
    plug (1, 2, 0);
    pass();
    EXPECT_EQ (webView().loadedUrls.size(), 3);

    // Another view type hides it.
    e().viewType.set ("link");
    pass();
    EXPECT_FALSE (webView().isVisible());
}

TEST_F (TimerPass, APageLoadMakesTheEnginePollOnlyOutsideASyncAndTheServersMessages)
{
    e().viewType.set ("webview");
    e().webAppUrl.set ("https://app.olvo.example/");
    plug (1, 2, 0);
    pass();

    const struct { int status; int after; } table[] {
        { SyncStatus::upToDate, SyncStatus::noConnection },
        { SyncStatus::connecting, SyncStatus::noConnection },
        { SyncStatus::updating, SyncStatus::updating },
        { SyncStatus::unknownDevice, SyncStatus::unknownDevice },
        { SyncStatus::error, SyncStatus::error },
    };

    for (const auto& row : table)
    {
        e().status = row.status;
        ASSERT_TRUE (webView().navigate ("https://app.olvo.example/page"));
        pass();
        EXPECT_EQ (e().status, row.after) << row.status;
        EXPECT_FALSE (webView().pageLoadStarted) << row.status;
    }

    // A load while the view is hidden is forgotten: it polls nothing later.
    e().viewType.set ("link");
    e().status = SyncStatus::upToDate;
    webView().navigate ("https://app.olvo.example/late");
    pass();
    EXPECT_FALSE (webView().pageLoadStarted);
    e().viewType.set ("webview");
    pass();
    EXPECT_EQ (e().status, SyncStatus::upToDate);
}

TEST_F (TimerPass, TheLinkAndFillerControlsPerViewType)
{
    plug (1, 2, 0);
    e().webAppUrl.set ("https://app.olvo.example/");
    e().webappLinkText.set ("Open the Olvo web app");
    e().fillerLink.set ("https://app.olvo.example/tips");
    e().fillerText.set ("Tip: sessions work best at the same time every day.");

    e().viewType.set ("link_only");
    pass();
    EXPECT_TRUE (c().linkButton.isVisible());
    EXPECT_EQ (c().linkButton.getButtonText(), "Open the Olvo web app");
    EXPECT_TRUE (c().fillerTextButton.isVisible());
    EXPECT_EQ (c().fillerTextButton.getButtonText(), "Tip: sessions work best at the same time every day.");
    EXPECT_TRUE (c().fillerImageButton.isVisible());

    e().viewType.set ("webview");
    pass();
    EXPECT_TRUE (c().linkButton.isVisible());
    EXPECT_EQ (c().linkButton.getButtonText(), "Tip: sessions work best at the same time every day.");
    EXPECT_FALSE (c().fillerTextButton.isVisible());

    e().fillerText.set ({});
    pass();
    EXPECT_FALSE (c().linkButton.isVisible());
    EXPECT_FALSE (c().fillerTextButton.isVisible());

    // The filler image only for the device present.
    unplug();
    pass();
    EXPECT_FALSE (c().fillerImageButton.isVisible());
}

} // namespace olvo
