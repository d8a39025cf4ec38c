// The main window's timer pass: the device's arrival and going, the firmware grace, the window's visibility, the
// battery gauge and the status display.

#include "TimerFixture.h"

#include "FakeTrayHost.h"

#include "platform/ApplicationServices.h"
#include "windows/Popups.h"

namespace olvo
{

using test::TimerPass;

namespace
{
    /** A device on firmware 1.2.0 with two programs in each group (the first loaded), run values and a web view. */
    void setUpFullDevice (TimerPass& t)
    {
        t.plug (1, 2, 0);
        for (int g = 0; g < 3; ++g)
            t.setChoices (g, { TimerPass::choice (100 * g + 1, "First", 10 * g + 1, 10 * g + 2),
                               TimerPass::choice (100 * g + 2, "Second", 10 * g + 3, 10 * g + 4) });
        t.setSlotCodes ({ 11, 12, 21, 22, 1, 2 });   // group 1 in 0..1, group 2 in 2..3, group 0 in 4..5
        t.setSetting (wire::settingsDuration0, 20);
        t.e().viewType.set ("webview");
        t.e().webAppUrl.set ("https://app.olvo.example/");
    }
}

//==============================================================================
TEST_F (TimerPass, TheDeviceArrivingShowsTheWindowAsAForegroundApplicationAndRaisesItOnceMore)
{
    test::OnScreen screen (c());

    pass();
    EXPECT_FALSE (screen.frame.isVisible()) << "no device: the window stays hidden";
    EXPECT_FALSE (c().windowShown);

    plug (1, 2, 0);
    clock.advance (1000);
    pass();
    EXPECT_TRUE (screen.frame.isVisible());
    EXPECT_TRUE (c().windowShown);
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::foreground);
    EXPECT_EQ (e().windowStart, clock.nowMs()) << "shown: the user is there";
    EXPECT_TRUE (c().raiseWindowPending);
    EXPECT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (screen.frame.getWindowHandle()); }));

    clock.advance (500);
    pass();
    EXPECT_FALSE (c().raiseWindowPending) << "raised once more, once";
    EXPECT_TRUE (screen.frame.isVisible());
    EXPECT_EQ (e().windowStart, clock.nowMs() - 500) << "no change of visibility, no new activity";
}

TEST_F (TimerPass, TheDeviceGoingHidesTheWindowAndClearsEverythingOfTheDevice)
{
    test::OnScreen screen (c());
    setUpFullDevice (*this);
    pass();
    pass();

    ASSERT_TRUE (screen.frame.isVisible());
    for (int g = 0; g < 3; ++g)
    {
        ASSERT_EQ (c().programButtonText[g], "First");
        ASSERT_EQ (c().programListState[g], dropdown::closed);
        ASSERT_EQ (c().programListModels[g].getNumRows(), 2);
        ASSERT_GT (c().durationListModels[g].getNumRows(), 1);
    }
    ASSERT_EQ (c().durationButtonText[0], "20 min");
    ASSERT_EQ (c().loadedWebUrl, "https://app.olvo.example/");
    ASSERT_TRUE (c().webView->getComponent().isVisible());

    // The user has the duration list of group 1 open, and a program list had a click latched, when the device goes.
    c().buttonClicked (&c().durationButtons[1]);
    ASSERT_EQ (c().openDropdown, dropdown::duration (1));
    ASSERT_TRUE (c().durationLists[1].isVisible());
    e().levelChanged[0] = true;
    pass();
    ASSERT_TRUE (c().saveButton.isVisible());

    clickRow (c().programListModels[0], c().programLists[0], 1);
    clickRow (c().durationListModels[1], c().durationLists[1], 0);
    ASSERT_TRUE (c().programListModels[0].clicked && c().durationListModels[1].clicked);

    unplug();
    clock.advance (500);
    pass();

    EXPECT_FALSE (screen.frame.isVisible());
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::uiElement);
    EXPECT_FALSE (c().windowShown);
    EXPECT_EQ (e().windowStart, clock.nowMs() - 86'400'000) << "hidden: the user is gone";

    for (int g = 0; g < 3; ++g)
    {
        EXPECT_EQ (c().programButtonText[g], "") << g;
        EXPECT_EQ (c().durationButtonText[g], "") << g;
        EXPECT_EQ (c().programListState[g], dropdown::noList) << g;
        EXPECT_EQ (c().durationListState[g], dropdown::noList) << g;
        EXPECT_EQ (c().programListModels[g].getNumRows(), 0) << g;
        EXPECT_EQ (c().durationListModels[g].getNumRows(), 0) << g;
        EXPECT_FALSE (c().programLists[g].isVisible()) << g;
        EXPECT_FALSE (c().durationLists[g].isVisible()) << "the list itself is hidden " << g;
        EXPECT_EQ (c().programLists[g].getNumSelectedRows(), 0) << g;
        EXPECT_EQ (c().levelSliders[g].findColour (juce::Slider::trackColourId), juce::Colour (0xffd3d3d3)) << g;
        EXPECT_EQ (uiPalette[g], unavailable) << g;
        EXPECT_FALSE (c().programButtons[g].isVisible()) << g;
        EXPECT_FALSE (c().durationButtons[g].isVisible()) << g;
        EXPECT_FALSE (c().programListModels[g].clicked) << "a click on the device's rows goes with it " << g;
        EXPECT_FALSE (c().durationListModels[g].clicked) << g;
    }
    EXPECT_EQ (c().openDropdown, dropdown::noneOpen) << "the open list is closed with the device";
    EXPECT_FALSE (c().saveButton.isVisible());
    EXPECT_FALSE (c().cancelButton.isVisible());
    EXPECT_EQ (c().firmwareVersionText, "");
    EXPECT_FALSE (c().webView->getComponent().isVisible());
    EXPECT_EQ (c().loadedWebUrl, "");
    EXPECT_FALSE (c().warningShown);
    EXPECT_EQ (c().nextPhaseOffer, clock.nowMs());
    EXPECT_EQ (c().netDisplay.statusLabel.getText(), "No Device");

    // Every pass without the device keeps offers back until it returns.
    clock.advance (500);
    pass();
    EXPECT_EQ (c().nextPhaseOffer, clock.nowMs());
    EXPECT_FALSE (screen.frame.isVisible());
}

TEST_F (TimerPass, WhicheverListIsOpenClosesWithTheDevice)
{
    const struct { const char* what; int index; } table[] {
        { "a program list", dropdown::program (0) },
        { "a duration list", dropdown::duration (1) },
        { "the package list", dropdown::package },
    };

    const auto buttonAndList = [this] (int index) -> std::pair<juce::Button*, juce::ListBox*>
    {
        if (index == dropdown::package)
            return { &c().packageButton, &c().packageList };
        if (index < 3)
            return { &c().programButtons[index], &c().programLists[index] };
        return { &c().durationButtons[index - 3], &c().durationLists[index - 3] };
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        rebuild();
        setUpFullDevice (*this);
        e().packages.set ({ package (11, "Starter", 1), package (12, "Sports") });
        pass();

        const auto [button, list] = buttonAndList (row.index);
        c().buttonClicked (button);
        ASSERT_EQ (c().openDropdown, row.index);
        ASSERT_TRUE (list->isVisible());

        unplug();
        pass();
        EXPECT_EQ (c().openDropdown, dropdown::noneOpen);
        EXPECT_FALSE (list->isVisible());

        // Nothing is left half open: the next device's lists open at the first click.
        setUpFullDevice (*this);
        pass();
        c().buttonClicked (&c().durationButtons[2]);
        EXPECT_EQ (c().openDropdown, dropdown::duration (2));
    }
}

TEST_F (TimerPass, AFirmwareUpdateKeepsTheDevicePresentForFiveSeconds)
{
    setUpFullDevice (*this);
    pass();
    ASSERT_TRUE (c().windowShown);

    // The device restarts into its boot loader: closed, but within the grace after the attempt.
    unplug();
    e().status = SyncStatus::updating;
    e().syncStep = 7;
    e().lastFirmwareAttempt = clock.nowMs();

    clock.advance (4999);
    pass();
    EXPECT_TRUE (c().windowShown);
    EXPECT_EQ (c().netDisplay.statusLabel.getText(), "Updating (7)");
    EXPECT_EQ (c().programButtonText[1], "First");

    clock.advance (1);
    pass();
    EXPECT_FALSE (c().windowShown);
    EXPECT_EQ (c().netDisplay.statusLabel.getText(), "No Device");
    EXPECT_EQ (c().programButtonText[1], "");
}

TEST_F (TimerPass, TheFirstPassTakesAHiddenWindowAsItFindsIt)
{
    // The application starts with its window hidden (a tray host is there), and the device is plugged in but not
    // yet opened by the engine.
    test::OnScreen screen (c());
    const auto started = e().windowStart.load();

    clock.advance (500);
    pass();
    clock.advance (500);
    pass();
    EXPECT_EQ (e().windowStart, started) << "a window hidden since start-up did not just hide";
    EXPECT_FALSE (c().lastShowing);

    // The engine opens the device: the window shows, and that is new activity.
    plug (1, 2, 0);
    clock.advance (500);
    pass();
    EXPECT_TRUE (screen.frame.isVisible());
    EXPECT_EQ (e().windowStart, clock.nowMs());
}

TEST_F (TimerPass, ADeviceOpenAtTheFirstPassShowsTheWindowAsNewActivity)
{
    test::OnScreen screen (c());
    plug (1, 2, 0);
    clock.advance (700);
    pass();
    EXPECT_TRUE (screen.frame.isVisible());
    EXPECT_EQ (e().windowStart, clock.nowMs());
    EXPECT_TRUE (c().raiseWindowPending);
}

TEST_F (TimerPass, HidingTheWindowEndsTheUsersActivityAndADragAndNeverRaisesItAgain)
{
    test::OnScreen screen (c());
    plug (1, 2, 0);
    pass();
    ASSERT_TRUE (c().raiseWindowPending);
    ASSERT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (screen.frame.getWindowHandle()); }));

    // The user closes the window (it hides) in the middle of a slider drag, before the pending raise.
    c().userDragging = true;
    hideMainWindow();
    clock.advance (500);
    pass();

    EXPECT_FALSE (c().raiseWindowPending);
    EXPECT_FALSE (screen.frame.isVisible()) << "a hidden window is not shown again by the raise";
    EXPECT_TRUE (test::pumpUntil ([&] { return ! test::isMappedOnDisplay (screen.frame.getWindowHandle()); }));
    test::pumpFor (200);
    EXPECT_FALSE (test::isMappedOnDisplay (screen.frame.getWindowHandle())) << "mapped again";
    EXPECT_EQ (e().windowStart, clock.nowMs() - 86'400'000);
    EXPECT_FALSE (c().userDragging) << "the drag's end never comes to a hidden window";

    // The sliders mirror the device again.
    setSetting (wire::settingsLevel0, 6);
    pass();
    EXPECT_EQ (c().levelSliders[0].getValue(), 6.0);

    // Shown again from the menu: new activity, and one more raise.
    showMainWindow();
    clock.advance (500);
    pass();
    EXPECT_EQ (e().windowStart, clock.nowMs());
    EXPECT_TRUE (c().raiseWindowPending);
}

TEST_F (TimerPass, WithoutAnIconInATrayPuttingTheWindowAwayMinimisesItAndDropsItsPendingRaise)
{
    test::OnScreen screen (c());
    menuBarIconInTray = false;   // no tray host, or a tray that did not take the icon
    plug (1, 2, 0);
    pass();
    ASSERT_TRUE (screen.frame.isVisible());
    ASSERT_TRUE (c().raiseWindowPending);

    // The device goes before the raise was done (the device's going and the close button both put the window away
    // so): the raise would map the window again before the window manager had minimised it.
    hideMainWindow();
    EXPECT_FALSE (c().raiseWindowPending);
    EXPECT_TRUE (screen.frame.isVisible()) << "minimised, not hidden: nothing else could bring it back";
}

TEST_F (TimerPass, AWindowPutAwayIsNotRaisedBeforeTheWindowManagerHasTakenIt)
{
    struct RaiseCounter : juce::ComponentListener
    {
        void componentBroughtToFront (juce::Component&) override { ++raises; }
        int raises = 0;
    } counter;

    test::OnScreen screen (c());
    screen.frame.addComponentListener (&counter);
    menuBarIconInTray = false;
    plug (1, 2, 0);
    pass();
    pass();
    ASSERT_TRUE (screen.frame.isVisible());

    // The last pass found the window minimised (the device had come back to a window the user had minimised), and
    // the device goes now: this pass minimises it, and finds it still showing, the window manager not having taken
    // it yet (here there is none). Raising it as newly shown would undo the minimising.
    c().lastShowing = false;
    counter.raises = 0;
    unplug();
    pass();
    EXPECT_EQ (counter.raises, 0);
    EXPECT_FALSE (c().raiseWindowPending);
    pass();
    EXPECT_EQ (counter.raises, 0);

    // The device is back: the window is shown and raised again.
    plug (1, 2, 0);
    pass();
    EXPECT_GE (counter.raises, 1);
    screen.frame.removeComponentListener (&counter);
}

TEST_F (TimerPass, AWindowShownAgainButNotYetShowingKeepsTheUserThere)
{
    test::OnScreen screen (c());
    menuBarIconInTray = false;
    plug (1, 2, 0);
    pass();
    pass();
    ASSERT_TRUE (c().lastShowing);

    // The device came back to a minimised window: it is shown again, and the window manager has not restored it
    // yet (a hidden frame stands for it here; there is no window manager). Taking that for a hiding would take the
    // window's start a day back, and the engine would let go of the device just plugged in.
    showMainWindow();
    screen.frame.setVisible (false);
    clock.advance (500);
    const auto started = e().windowStart.load();
    pass();
    EXPECT_EQ (e().windowStart, started);
    EXPECT_FALSE (c().lastShowing);

    // Restored: new activity. Hidden once more after that, it is a hiding again.
    screen.frame.setVisible (true);
    clock.advance (500);
    pass();
    EXPECT_EQ (e().windowStart, clock.nowMs());
    EXPECT_NE (c().windowRequest, MainComponent::WindowRequest::shown);

    screen.frame.setVisible (false);
    clock.advance (500);
    pass();
    EXPECT_EQ (e().windowStart, clock.nowMs() - 86'400'000);
}

TEST_F (TimerPass, TooltipsExistOnlyWhileTheWindowShows)
{
    // A tooltip window listens to the mouse globally, and JUCE's desktop polls the pointer (with a timer of its own,
    // a private base) for as long as anything does.
    const auto desktopPollsThePointer = []
    {
        return ((juce::Timer&) juce::Desktop::getInstance()).isTimerRunning();
    };

    test::OnScreen screen (c());
    pass();
    EXPECT_FALSE (c().tooltipWindow) << "hidden since start-up";
    EXPECT_FALSE (desktopPollsThePointer());

    plug (1, 2, 0);
    pass();

    const struct { const char* what; std::function<void()> hide, showAgain; } paths[] {
        { "the device goes, and comes back", [this] { unplug(); }, [this] { plug (1, 2, 0); } },
        { "the user closes the window, and shows it from the tray menu", [] { hideMainWindow(); },
          [] { showMainWindow(); } },
    };

    for (const auto& path : paths)
    {
        SCOPED_TRACE (path.what);
        ASSERT_TRUE (screen.frame.isVisible());
        ASSERT_TRUE (c().tooltipWindow);
        EXPECT_EQ (c().tooltipWindow->getParentComponent(), &c());
        EXPECT_TRUE (desktopPollsThePointer());

        path.hide();
        clock.advance (500);
        pass();
        ASSERT_FALSE (screen.frame.isVisible());
        EXPECT_FALSE (c().tooltipWindow);
        EXPECT_FALSE (desktopPollsThePointer());

        path.showAgain();
        clock.advance (500);
        pass();
    }

    // Shown again, the tooltips work: the pointer moves over the help button, and its tip appears after the delay.
    // JUCE takes the pointer's position from the X server and the component under it from the window's events: the
    // test moves the pointer and hands the window the move as X would deliver it. Other tests' windows share this
    // display (without a window manager, at its origin or centre, and taking the focus as they show): the window
    // waits for the tip at the bottom right, keeping the focus and the pointer.
    ASSERT_TRUE (c().tooltipWindow);
    screen.frame.setTopLeftPosition (560, 500);
    ASSERT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (screen.frame.getWindowHandle()); }));
    auto* peer = screen.frame.getPeer();
    ASSERT_NE (peer, nullptr);
    const auto pointer = c().helpButton.getScreenBounds().getCentre();
    const auto keepPointerOnTheButton = [&]
    {
        if (! screen.frame.hasKeyboardFocus (true))
            screen.frame.grabKeyboardFocus();

        if (juce::Desktop::getMousePosition() != pointer)
            juce::Desktop::setMousePosition (pointer);

        if (juce::Desktop::getInstance().getMainMouseSource().getComponentUnderMouse() != &c().helpButton)
            peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse,
                                    peer->globalToLocal (pointer.toFloat()), juce::ModifierKeys(),
                                    juce::MouseInputSource::defaultPressure,
                                    juce::MouseInputSource::defaultOrientation, juce::Time::currentTimeMillis());
    };

    ASSERT_TRUE (test::pumpUntil ([&] { keepPointerOnTheButton(); return c().tooltipWindow->isVisible(); }));
    EXPECT_EQ (c().tooltipWindow->getBounds(),
               c().getLookAndFeel().getTooltipBounds ("How to Guide", c().getLocalPoint (nullptr, pointer),
                                                      c().getLocalBounds()));
}

//==============================================================================
struct TimerPassWithDialogs : public TimerPass
{
    TimerPassWithDialogs() { realDialogs = true; }

    static bool isOpen (const juce::String& title)
    {
        for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
            if (auto* w = dynamic_cast<juce::DialogWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
                if (w->getName() == title)
                    return true;
        return false;
    }
};

TEST_F (TimerPassWithDialogs, TheDeviceGoingClosesEveryPopupAndTheInformationWindowDecidingNothing)
{
    // Not on screen: nothing hides the dialogs with the window (which would make JUCE end their modal state).
    setUpFullDevice (*this);
    pass();

    c().buttonClicked (&c().infoButton);
    c().showPopup (PopupKind::nextPhase, "7:1 week;", "Ready?", "Phase 2", {});
    c().showPopup (PopupKind::warning, {}, "Not registered", "Warning", {});
    c().showPopup (PopupKind::newApp, "https://olvo.example/get", "New Version: 1.3.0", {}, {});
    EXPECT_EQ (c().openPopups.size(), 3);
    EXPECT_EQ (c().openInfoWindows.size(), 1);
    EXPECT_TRUE (isOpen ("OlvoAssistant - Update Available"));

    unplug();
    pass();
    EXPECT_EQ (c().openPopups.size(), 0);
    EXPECT_EQ (c().openInfoWindows.size(), 0);
    EXPECT_EQ (juce::ModalComponentManager::getInstance()->getNumModalComponents(), 0);
    for (auto* title : { "OlvoAssistant - Update Available", "OlvoAssistant - Warning", "OlvoAssistant - New App",
                         "OlvoAssistant - Information" })
        EXPECT_TRUE (test::pumpUntil ([title] { return ! isOpen (title); })) << title << " is still open";
    EXPECT_EQ (e().regimenAdvancementDelay, 0) << "closed, not decided";
}

TEST_F (TimerPassWithDialogs, HidingTheWindowClosesThePopups)
{
    test::OnScreen screen (c());
    plug (1, 2, 0);
    pass();

    c().showPopup (PopupKind::configurationUpdated, "https://olvo.example/welcome", "Welcome", "Phase 2", {});
    ASSERT_EQ (c().openPopups.size(), 1);

    // Only the main window hides (hiding the whole application would make JUCE end the popup's modal state).
    screen.frame.setVisible (false);
    pass();
    EXPECT_EQ (c().openPopups.size(), 0);
    EXPECT_TRUE (test::pumpUntil ([] { return ! isOpen ("OlvoAssistant - Configuration Updated"); }));
}

//==============================================================================
TEST_F (TimerPass, TheBatteryGaugeShowsTheEnginesReadingAndItsFlagsOnlyWithAValidReading)
{
    struct Row { const char* what; bool open, valid; float volts; int flags; uint8_t gaugeFlags; bool hasLevel; };
    const Row table[] {
        { "no device: no reading, shown as 0 %", false, false, 3.9f, 1, 0, false },
        { "open without a valid reading", true, false, 3.9f, 1, 0, false },
        { "a reading, charging", true, true, 3.9f, 1, 1, true },
        { "a reading, weak", true, true, 3.75f, 2, 2, true },
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.what);
        if (row.open)
            plug (1, 2, 0);
        else
            unplug();
        e().batteryValid = row.valid;
        e().batteryVoltage = row.volts;
        e().batteryFlags = row.flags;

        pass();
        EXPECT_EQ (c().batteryDisplay.flags, row.gaugeFlags);

        const auto level = e().getBatteryLevel();
        if (row.hasLevel)
        {
            ASSERT_GT (level, 0.0f);
            EXPECT_NEAR (c().batteryDisplay.level, juce::jmin (level, 0.99f), 0.001f);
        }
        else
        {
            EXPECT_EQ (c().batteryDisplay.level, 0.0f);
            EXPECT_TRUE (c().batteryDisplay.levelText().endsWith (" 0%")) << c().batteryDisplay.levelText();
        }
    }
}

TEST_F (TimerPass, TheStatusDisplayAndItsTooltip)
{
    enum Device { absent, open, restarting };
    const struct { Device device; int status, step; const char* message; const char* text; const char* tooltip; }
    table[] {
        { open, SyncStatus::upToDate, 0, "ignored", "Up to Date", "" },
        { open, SyncStatus::unknownDevice, 0, "This device is not registered.", "Unknown Device",
          "This device is not registered." },
        { open, SyncStatus::error, 0, "Server down", "ERROR", "Server down" },
        { open, SyncStatus::updating, 3, "ignored", "Updating (3)", "" },
        { open, SyncStatus::connecting, 0, "", "Connecting", "" },
        { absent, SyncStatus::error, 0, "Server down", "No Device", "" },
        { restarting, SyncStatus::error, 0, "Server down", "ERROR", "" },   // no message without an open device
    };

    for (const auto& row : table)
    {
        SCOPED_TRACE (row.text);
        e().serverMessage.set (row.message);
        if (row.device == open)
            plug (1, 2, 0);
        else
            unplug();
        e().lastFirmwareAttempt = row.device == restarting ? clock.nowMs() : clock.nowMs() - 60'000;
        e().status = row.status;
        e().syncStep = row.step;

        pass();
        EXPECT_EQ (c().netDisplay.statusLabel.getText(), row.text);
        EXPECT_EQ (c().netDisplay.statusIcon.getTooltip(), row.tooltip);
    }
}

//==============================================================================
TEST_F (TimerPass, ASteadyPassRedrawsNothing)
{
    setUpFullDevice (*this);
    e().packages.set ({ package (11, "Starter", 1), package (12, "Sports") });
    e().fillerImage.set ("https://cdn.olvo.example/tips.png");
    pass();
    pass();

    std::vector<juce::ImageButton*> buttons { &c().packageButton, &c().fillerImageButton };
    for (int g = 0; g < 3; ++g)
    {
        buttons.push_back (&c().programButtons[g]);
        buttons.push_back (&c().durationButtons[g]);
    }

    std::vector<juce::Image> images;
    for (auto* b : buttons)
        images.push_back (b->getNormalImage());
    const auto generations = std::make_tuple (c().programListModels[1].rowsGeneration,
                                              c().durationListModels[1].rowsGeneration,
                                              c().packageListModel.rowsGeneration);

    clock.advance (500);
    pass();

    EXPECT_FALSE (c().layoutDirty);
    for (size_t i = 0; i < buttons.size(); ++i)
        EXPECT_TRUE (buttons[i]->getNormalImage() == images[i]) << "button " << i << " was drawn again";
    EXPECT_EQ (generations, std::make_tuple (c().programListModels[1].rowsGeneration,
                                             c().durationListModels[1].rowsGeneration,
                                             c().packageListModel.rowsGeneration));

    // A change redraws what shows it.
    setSlotCodes ({ 13, 14, 21, 22, 1, 2 });
    pass();
    EXPECT_EQ (c().programButtonText[1], "Second");
    EXPECT_FALSE (c().programButtons[1].getNormalImage() == images[4]);
    EXPECT_TRUE (c().programButtons[0].getNormalImage() == images[2]);
}

//==============================================================================
namespace
{
    /** An image host that accepts and answers only when the test lets it: a red 40 x 20 PNG for every URL. It gives
        up, as the HTTP fetcher does, once the cache's thread is asked to exit. */
    struct TimerPassWithAStalledImageHost : public TimerPass
    {
        juce::WaitableEvent answer { true };
        std::atomic<int> asked { 0 };

        void SetUp() override
        {
            fetcher = [this] (const juce::String&)
            {
                ++asked;
                while (! answer.wait (20))
                    if (juce::Thread::currentThreadShouldExit())
                        return ImageFetch {};

                return test::redLogoFetch();
            };
            TimerPass::SetUp();
        }

        void TearDown() override
        {
            answer.signal();
            TimerPass::TearDown();
        }

        /** A pass, and how long it took (ms). */
        juce::uint32 timedPass()
        {
            const auto started = juce::Time::getMillisecondCounter();
            pass();
            return juce::Time::getMillisecondCounter() - started;
        }

        bool showsRedAtTheLeft (const juce::ImageButton& button)
        {
            const auto image = button.getNormalImage();
            return image.isValid() && test::near (image.getPixelAt (2, image.getHeight() / 2), juce::Colours::red, 10);
        }
    };
}

TEST_F (TimerPassWithAStalledImageHost, PassesGoOnWhileTheHostStallsAndShowTheImagesOnceTheyArrive)
{
    setUpFullDevice (*this);
    e().packages.set ({ package (11, "Starter", 1), package (12, "Sports") });
    c().packageListState = dropdown::closed;

    // A pass needs well under 100 ms, even under the sanitizers; the host would hold a blocking pass for good.
    EXPECT_LT (timedPass(), 20000u);
    ASSERT_TRUE (test::pumpUntil ([this] { return asked > 0; }));
    for (int i = 0; i < 3; ++i)
    {
        clock.advance (500);
        EXPECT_LT (timedPass(), 20000u);
    }
    EXPECT_EQ (asked, 1) << "one download at a time";
    EXPECT_FALSE (showsRedAtTheLeft (c().packageButton));
    EXPECT_TRUE (c().packageListModel.images[0].isNull());

    // The host answers: the next pass shows the logo on the package button, and the icons in the list.
    answer.signal();
    ASSERT_TRUE (test::pumpUntil ([this] { return ! c().imageCache.hasPendingDownloads(); }));
    clock.advance (500);
    pass();
    EXPECT_TRUE (showsRedAtTheLeft (c().packageButton));
    EXPECT_EQ (c().packageListModel.images[0].getWidth(), 40);
    EXPECT_EQ (c().packageListModel.images[1].getWidth(), 40);
}

TEST_F (TimerPassWithAStalledImageHost, TheWindowGoesAtOnceDuringAStalledDownload)
{
    setUpFullDevice (*this);
    e().packages.set ({ package (11, "Starter", 1) });
    pass();
    ASSERT_TRUE (test::pumpUntil ([this] { return asked > 0; }));

    // The host would hold a teardown that waited for it for good.
    const auto started = juce::Time::getMillisecondCounter();
    window.reset();
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 20000u);
}

} // namespace olvo
