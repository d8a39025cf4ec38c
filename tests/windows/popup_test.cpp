#include "GuiTestSupport.h"

#include "windows/Popups.h"

#include "look/MyCustomLookAndFeel.h"
#include "look/Palette.h"

#include <gtest/gtest.h>

#include <optional>

namespace olvo
{

namespace
{
    const juce::Colour background (0xfff1f7fa);

    /** Stands in for the main window: what popupClosedFor needs of it. */
    struct FakeOwner : public juce::Component
    {
        OlvoThread* thread = nullptr;
        int64_t nextPhaseOffer = 0;
        std::optional<DeviceUid> nextPhaseDevice;
    };

    struct PopupTest : public ::testing::Test
    {
        // The look-and-feel outlives every popup; the options may hold one that was never launched.
        MyCustomLookAndFeel lookAndFeel;
        juce::Component mainContent;
        juce::DialogWindow::LaunchOptions options;
        OpenDialogs dialogs;

        PopupTest()
        {
            setWindowColours (lookAndFeel);
            mainContent.setSize (702, 468);
        }

        ~PopupTest() override
        {
            dialogs.deleteAll();
            test::pumpFor (20);
        }

        struct Launched
        {
            juce::Component::SafePointer<juce::DialogWindow> window;
            std::shared_ptr<std::optional<int>> result;

            OlvoPopup& popup() const { return *dynamic_cast<OlvoPopup*> (window->getContentComponent()); }
        };

        /** Launches the popup as the application does (an asynchronous modal dialog) and records its result. */
        Launched launch (const PopupRequest& request)
        {
            auto* window = launchPopup (options, request, mainContent, lookAndFeel);
            auto result = std::make_shared<std::optional<int>>();
            juce::ModalComponentManager::getInstance()->attachCallback (
                window, juce::ModalCallbackFunction::create ([result] (int r) { *result = r; }));
            dialogs.add (window);
            return { window, result };
        }

        /** Clicks a button as the user does and waits for the dialog's result. */
        static std::optional<int> click (const Launched& launched, juce::Button& button)
        {
            button.triggerClick();
            test::pumpUntil ([&launched] { return launched.result->has_value() && launched.window == nullptr; });
            return *launched.result;
        }
    };

    const PopupRequest newApp { PopupKind::newApp, "https://olvo.example/download", "New Version: 1.3.0", "", "" };
    const PopupRequest newAppWithDetails { PopupKind::newApp, "https://olvo.example/download", "New Version: 1.3.0",
                                           "", "https://olvo.example/details" };
    const PopupRequest nextPhase { PopupKind::nextPhase, "7:1 week;14:2 weeks;", "Ready for phase 3?",
                                   "Phase 3", "" };
    const PopupRequest welcome { PopupKind::configurationUpdated, "https://olvo.example/welcome", "Phase 3 has begun.",
                                 "Welcome", "" };
    const PopupRequest warning { PopupKind::warning, "", "This device is not registered.", "Warning", "" };
    const PopupRequest unknown { 7, "https://olvo.example/x", "Message", "Heading", "https://olvo.example/y" };
}

TEST_F (PopupTest, EachKindHasItsCaptionsHeadingAndLayout)
{
    // A 702 x 468 main window: popups of 561 x 374; buttons at y 325, 29 high.
    const struct { const char* what; PopupRequest request; const char* dismiss; const char* action;
                   bool actionVisible, delayVisible; const char* heading; int actionX, actionW, dismissX; } table[] {
        { "update", newApp, "LATER", "UPDATE", true, false, "New App Available", 112, 112, 336 },
        { "update with details", newAppWithDetails, "DETAILS", "UPDATE", true, false, "New App Available",
          112, 112, 336 },
        { "next phase", nextPhase, "LATER", "ADVANCE", true, true, "Phase 3", 56, 112, 224 },
        { "configuration updated", welcome, "DONE", "INFO", true, false, "Welcome", 112, 112, 336 },
        { "configuration updated without a page", { PopupKind::configurationUpdated, "", "Done.", "", "" }, "DONE",
          "INFO", false, false, "Configuration Updated", 112, 112, 336 },
        { "warning", warning, "DONE", "UPDATE", false, false, "Warning", 112, 56, 224 },
        { "warning without heading", { PopupKind::warning, "", "Oops", "", "" }, "DONE", "UPDATE", false, false,
          "Error", 112, 56, 224 },
        { "unknown kind", unknown, "DONE", "EXIT", true, false, "This is not the title", 112, 112, 336 },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        const auto popup = makePopup (row.request, mainContent, lookAndFeel);

        EXPECT_EQ (popup->getWidth(), 561);
        EXPECT_EQ (popup->getHeight(), 374);
        EXPECT_EQ (&popup->getLookAndFeel(), &lookAndFeel);
        EXPECT_EQ (popup->kind, row.request.kind);
        EXPECT_EQ (popup->heading, row.heading);
        EXPECT_EQ (popup->message, row.request.message);

        EXPECT_EQ (popup->dismissButton.getButtonText(), row.dismiss);
        EXPECT_TRUE (popup->dismissButton.isVisible());
        EXPECT_EQ (popup->actionButton.getButtonText(), row.action);
        EXPECT_EQ (popup->actionButton.isVisible(), row.actionVisible);
        EXPECT_EQ (popup->delayBox.isVisible(), row.delayVisible);

        EXPECT_EQ (popup->actionButton.getBounds(), juce::Rectangle<int> (row.actionX, 325, row.actionW, 29));
        EXPECT_EQ (popup->dismissButton.getBounds(), juce::Rectangle<int> (row.dismissX, 325, 112, 29));
        if (row.delayVisible)
        {
            EXPECT_EQ (popup->delayBox.getBounds(), juce::Rectangle<int> (392, 325, 112, 29));
        }
    }
}

TEST_F (PopupTest, TheDelayListOffersTheServersDelaysAndSelectsAnExistingOne)
{
    const struct { const char* options; juce::StringArray items; int selectedId; } table[] {
        { "7:1 week;14:2 weeks;", { "1 week", "2 weeks" }, 1 },
        { "", { "1 week" }, 1 },
        { "no colon;14:2 weeks", { "2 weeks" }, 2 },
        { "-1:advance;0:now;28:4 weeks", { "4 weeks" }, 3 },
    };

    for (const auto& row : table)
    {
        auto request = nextPhase;
        request.urlOrChoices = row.options;
        const auto popup = makePopup (request, mainContent, lookAndFeel);

        juce::StringArray items;
        for (int i = 0; i < popup->delayBox.getNumItems(); ++i)
            items.add (popup->delayBox.getItemText (i));

        EXPECT_EQ (items, row.items) << row.options;
        EXPECT_EQ (popup->delayBox.getSelectedId(), row.selectedId) << row.options;
    }
}

TEST_F (PopupTest, ButtonsCloseTheDialogWithTheirResultAndOpenTheirLinks)
{
    enum Which { dismiss, action };
    const struct { const char* what; PopupRequest request; Which button; int selectIndex; int result;
                   juce::StringArray links; } table[] {
        { "LATER on an update", newApp, dismiss, -1, 1, {} },
        { "UPDATE", newApp, action, -1, 1, { "https://olvo.example/download" } },
        { "UPDATE without a link only closes", { PopupKind::newApp, "", "New Version: 1.3.0", "", "" }, action, -1, 1,
          {} },
        { "DETAILS", newAppWithDetails, dismiss, -1, 1, { "https://olvo.example/details" } },
        { "ADVANCE", nextPhase, action, -1, -1, {} },
        { "LATER, first delay", nextPhase, dismiss, 0, 7, {} },
        { "LATER, second delay", nextPhase, dismiss, 1, 14, {} },
        { "LATER without options", { PopupKind::nextPhase, "", "m", "", "" }, dismiss, -1, 7, {} },
        { "LATER after a token without \":\"", { PopupKind::nextPhase, "7:1 week;junk;28:4 weeks", "m", "", "" },
          dismiss, 1, 28, {} },
        { "INFO", welcome, action, -1, 1, { "https://olvo.example/welcome" } },
        { "DONE on a welcome", welcome, dismiss, -1, 1, {} },
        { "DONE on a warning", warning, dismiss, -1, 1, {} },
        { "EXIT of an unknown kind opens nothing", unknown, action, -1, 1, {} },
        { "DONE of an unknown kind", unknown, dismiss, -1, 1, {} },
        // Links go through the platform's rule: only plain absolute http(s) URLs reach the browser.
        { "UPDATE with a link that is not a plain URL", { PopupKind::newApp, "http://olvo.example/$(touch x)",
          "New Version: 1.3.0", "", "" }, action, -1, 1, {} },
        { "DETAILS with a file link", { PopupKind::newApp, "https://olvo.example/download", "m", "",
          "file:///etc/passwd" }, dismiss, -1, 1, {} },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        const test::ScopedLinkCapture links;
        const auto launched = launch (row.request);
        ASSERT_NE (launched.window, nullptr);
        EXPECT_TRUE (launched.window->isCurrentlyModal());

        auto& popup = launched.popup();
        if (row.selectIndex >= 0)
            popup.delayBox.setSelectedItemIndex (row.selectIndex, juce::dontSendNotification);

        const auto result = click (launched, row.button == action ? popup.actionButton : popup.dismissButton);
        EXPECT_EQ (result, std::optional<int> (row.result));
        EXPECT_EQ (launched.window, nullptr) << "the dialog deletes itself";
        EXPECT_EQ (links.links, row.links);
    }
}

TEST_F (PopupTest, WithoutADialogAButtonOnlyOpensItsLink)
{
    const test::ScopedLinkCapture links;
    const auto popup = makePopup (newApp, mainContent, lookAndFeel);
    popup->buttonClicked (&popup->actionButton);
    popup->buttonClicked (&popup->dismissButton);
    EXPECT_EQ (links.links, juce::StringArray { "https://olvo.example/download" });
}

TEST_F (PopupTest, LaunchedAsAModalDialogOfTheMainWindow)
{
    juce::StringArray titles;
    const DialogLauncher record = [&titles] (juce::DialogWindow::LaunchOptions& o) -> juce::DialogWindow*
    {
        titles.add (o.dialogTitle);
        EXPECT_EQ (o.dialogBackgroundColour, background);
        EXPECT_TRUE (o.escapeKeyTriggersCloseButton);
        EXPECT_TRUE (o.useNativeTitleBar);
        EXPECT_FALSE (o.resizable);
        EXPECT_TRUE (o.content.willDeleteObject());
        EXPECT_NE (dynamic_cast<OlvoPopup*> (o.content.get()), nullptr);
        return nullptr;
    };

    for (const auto& request : { newApp, nextPhase, welcome, warning, unknown,
                                 PopupRequest { PopupKind::warning, "", "m", "", "" } })
        EXPECT_EQ (launchPopup (options, request, mainContent, lookAndFeel, record), nullptr);

    EXPECT_EQ (titles, juce::StringArray ({ "OlvoAssistant - New App", "OlvoAssistant - Update Available",
                                            "OlvoAssistant - Configuration Updated", "OlvoAssistant - Warning",
                                            "OlvoAssistant - Unknown", "OlvoAssistant - Error" }));

    // A popup that was built but never launched goes when the next one takes its place.
    const juce::Component::SafePointer<juce::Component> unlaunched (options.content.get());
    ASSERT_NE (unlaunched, nullptr);
    launch (warning);
    EXPECT_EQ (unlaunched, nullptr);
    dialogs.deleteAll();

    // Once in its window, the popup moves the window up by an eighth of its height (374 / 8 = 46), once.
    const auto launched = launch (nextPhase);
    ASSERT_NE (launched.window, nullptr);
    EXPECT_EQ (launched.window->getName(), "OlvoAssistant - Update Available");
    EXPECT_TRUE (launched.window->isShowing());
    EXPECT_EQ (launched.popup().getBounds(), juce::Rectangle<int> (0, 0, 561, 374)) << "in its window too";
    const auto contentTop = launched.popup().getScreenPosition().y;
    ASSERT_TRUE (test::pumpUntil ([&launched] { return ! launched.popup().isTimerRunning(); }));
    EXPECT_EQ (launched.window->getY(), contentTop - 46);
    test::pumpFor (50);
    EXPECT_EQ (launched.window->getY(), contentTop - 46);
}

TEST_F (PopupTest, ANextPhaseDecisionReachesTheEngineOfAnOwnerThatStillExists)
{
    OlvoThread engine;   // worker not started
    engine.deviceOpen = true;

    const auto launchFor = [this, &engine] (FakeOwner& owner)
    {
        auto launched = launch (nextPhase);
        owner.nextPhaseDevice = presentDeviceUid (engine);   // as the main window records it
        juce::ModalComponentManager::getInstance()->attachCallback (
            launched.window, juce::ModalCallbackFunction::forComponent (popupClosedFor<FakeOwner>, &owner, 3));
        return launched;
    };

    {
        // Escape closes it with 0: nothing changes.
        FakeOwner owner;
        owner.thread = &engine;
        engine.slotClearMask = 1;
        const auto launched = launchFor (owner);
        auto& window = static_cast<juce::Component&> (*launched.window);
        EXPECT_TRUE (window.keyPressed (juce::KeyPress (juce::KeyPress::escapeKey)));
        ASSERT_TRUE (test::pumpUntil ([&launched] { return launched.result->has_value(); }));
        EXPECT_EQ (**launched.result, 0);
        EXPECT_EQ (engine.regimenAdvancementDelay, 0);
        EXPECT_EQ (engine.slotClearMask, 1);
        EXPECT_EQ (owner.nextPhaseOffer, 0);
    }
    {
        // The owner goes while the popup is open: JUCE still calls back, with a null owner.
        auto owner = std::make_unique<FakeOwner>();
        owner->thread = &engine;
        const auto launched = launchFor (*owner);
        owner.reset();
        EXPECT_EQ (click (launched, launched.popup().actionButton), std::optional<int> (-1));
        test::pumpFor (20);
        EXPECT_EQ (engine.regimenAdvancementDelay, 0);
        EXPECT_EQ (engine.slotClearMask, 1);
    }
    {
        // ADVANCE with the owner there: the engine advances, pending requests are dropped, the offer waits 20 s.
        FakeOwner owner;
        owner.thread = &engine;
        const auto before = nowMs();
        const auto launched = launchFor (owner);
        EXPECT_EQ (click (launched, launched.popup().actionButton), std::optional<int> (-1));
        ASSERT_TRUE (test::pumpUntil ([&engine] { return engine.regimenAdvancementDelay == -1; }));
        EXPECT_EQ (engine.slotClearMask, 0);
        EXPECT_GE (owner.nextPhaseOffer, before + 20000);
        EXPECT_LE (owner.nextPhaseOffer, nowMs() + 20000);
    }
}

TEST_F (PopupTest, EveryLaunchedDialogIsTrackedUntilClosedOrDeleted)
{
    OlvoThread engine;
    engine.deviceOpen = true;
    FakeOwner owner;
    owner.thread = &engine;

    // A warning raised while an update and a next-phase popup are open: all three are tracked.
    const auto first = launch (newApp);
    const auto second = launch (nextPhase);
    juce::ModalComponentManager::getInstance()->attachCallback (
        second.window, juce::ModalCallbackFunction::forComponent (popupClosedFor<FakeOwner>, &owner, 3));
    const auto third = launch (warning);
    EXPECT_EQ (dialogs.size(), 3);

    // The device goes (or the window hides): every one closes with 0, which decides nothing.
    dialogs.closeAll();
    EXPECT_EQ (dialogs.size(), 0);
    ASSERT_TRUE (test::pumpUntil ([&] { return first.window == nullptr && second.window == nullptr
                                               && third.window == nullptr; }));
    EXPECT_EQ (*first.result, std::optional<int> (0));
    EXPECT_EQ (*second.result, std::optional<int> (0));
    EXPECT_EQ (engine.regimenAdvancementDelay, 0);

    // A dialog that was made without a modal state (a launcher of its own) is deleted.
    const juce::Component::SafePointer<juce::DialogWindow> plain (
        launchPopup (options, warning, mainContent, lookAndFeel, [] (auto& o) { return o.create(); }));
    dialogs.add (plain);
    ASSERT_NE (plain, nullptr);
    dialogs.closeAll();
    EXPECT_EQ (plain, nullptr);

    // A closed dialog drops out by itself.
    const auto closing = launch (warning);
    click (closing, closing.popup().dismissButton);
    EXPECT_EQ (dialogs.size(), 0);

    // Teardown: deleted at once, before what they use goes; their callbacks still come, with 0.
    const auto a = launch (nextPhase);
    const auto b = launch (welcome);
    dialogs.deleteAll();
    EXPECT_EQ (a.window, nullptr);
    EXPECT_EQ (b.window, nullptr);
    ASSERT_TRUE (test::pumpUntil ([&] { return a.result->has_value() && b.result->has_value(); }));
    EXPECT_EQ (**a.result, 0);
}

TEST_F (PopupTest, WhatIsDrawnDependsOnTheKind)
{
    // Rows of the popup (374 high) where a text may be: the heading box of kinds 3 to 5 (37..74, from x 112),
    // kind 1's heading (74..112), and the line where an unknown kind names itself (149..186).
    const auto textIn = [] (const juce::Image& image, int y0, int y1)
    {
        return test::firstColumnDiffering (image, background, 100, 461, y0 + 2, y1 - 2, 60) >= 0;
    };

    const struct { const char* what; PopupRequest request; bool upper, kind1Heading, unknownLine; } table[] {
        { "next phase", nextPhase, true, false, false },
        { "warning", warning, true, false, false },
        { "update", newApp, false, true, true },   // kind 1's message line is where an unknown kind names itself
        { "unknown kind: no heading, its number", unknown, false, false, true },
    };

    for (const auto& row : table)
    {
        auto request = row.request;
        request.message = row.request.kind == PopupKind::newApp ? request.message : juce::String();
        const auto popup = makePopup (request, mainContent, lookAndFeel);
        const auto image = test::snapshot (*popup);

        EXPECT_EQ (textIn (image, 37, 74), row.upper) << row.what;
        EXPECT_EQ (textIn (image, 74, 112), row.kind1Heading) << row.what;
        EXPECT_EQ (textIn (image, 149, 186), row.unknownLine) << row.what;
        EXPECT_TRUE (test::near (image.getPixelAt (2, 2), background)) << row.what;
    }
}

TEST_F (PopupTest, ALongMessageIsLaidOutAgainInASmallerFont)
{
    // 374 high: 22.44 pixels (24 / 400), or 18.7 (20 / 400) when the first layout is taller than 0.55 x 374.
    const auto glyphHeight = [] (const juce::String& message)
    {
        auto glyphs = OlvoPopup::layoutMessage (message, 561, 374);
        return glyphs.getNumGlyphs() > 0 ? glyphs.getGlyph (0).getBounds().getHeight() : 0.0f;
    };

    EXPECT_NEAR (glyphHeight ("Phase 3 has begun."), 22.44f, 0.01f);

    const juce::String builtIn ("The next phase of the protocol is available now.If you feel ready to move on, click "
                                "ADVANCE.\n\nIf you would prefer to spend more time in the current phase, select a "
                                "delay in the dropdown, then click LATER.");
    EXPECT_NEAR (glyphHeight (builtIn), 22.44f, 0.01f);

    const auto tall = juce::String::repeatedString ("A line of the message.\n", 12);
    EXPECT_NEAR (glyphHeight (tall), 18.7f, 0.01f);
}

} // namespace olvo
