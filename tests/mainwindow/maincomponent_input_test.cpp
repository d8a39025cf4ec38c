#include "GuiTestSupport.h"

#include "mainwindow/AppGlobals.h"
#include "mainwindow/MainComponent.h"
#include "windows/OlvoInfo.h"

#include "look/Palette.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    /** A window under test with the engine's clock held still, and a device on firmware 1.2.0 ready to be made
        present. */
    struct Input : public ::testing::Test
    {
        test::ScopedManualClock clock;
        test::DialogCapture dialogs;
        std::unique_ptr<MainComponent> window;

        void SetUp() override
        {
            launchCommandLine = {};
            auto options = test::windowTestOptions();
            options.launchDialog = dialogs.launcher();
            window = std::make_unique<MainComponent> (options);
        }

        void TearDown() override { window.reset(); }

        MainComponent& c() { return *window; }

        /** An open device on firmware 1.2.0 whose settings hold the given level byte for every group. */
        void plugDevice (int status, uint8_t levelByte = 3)
        {
            auto& e = *c().thread;
            e.deviceIds.update ([] (DeviceIds& ids)
            {
                ids.bytes[wire::idsMajor] = 1;
                ids.bytes[wire::idsMinor] = 2;
            });
            e.statusReport.update ([levelByte] (StatusReport& r)
            {
                for (int g = 0; g < 3; ++g)
                    r.deviceSettings()[firmware::levelByteOf (g)] = levelByte;
            });
            e.deviceOpen = true;
            e.status = status;
        }

        /** A press at a point of a child, as the window's mouse listener receives it. */
        juce::MouseEvent pressOn (juce::Component& component, juce::Point<float> at)
        {
            const auto now = juce::Time::getCurrentTime();
            return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), at,
                                     juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                                     juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                                     juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                                     juce::MouseInputSource::defaultTiltY, &component, &component, now, at, now, 1,
                                     false);
        }

        /** The program dropdown of group g with its list open. */
        void openProgramList (int g)
        {
            c().programListState[g] = dropdown::closed;
            c().buttonClicked (&c().programButtons[g]);
            ASSERT_EQ (c().openDropdown, g);
        }
    };
}

//==============================================================================
TEST_F (Input, TheHelpButtonOpensTheServersPageOrTheBuiltInOne)
{
    test::ScopedLinkCapture links;

    c().buttonClicked (&c().helpButton);
    c().thread->helpUrl.set ("https://help.olvo.example/guide");
    c().buttonClicked (&c().helpButton);
    c().thread->helpUrl.set ("http://help.olvo.example/$(touch /tmp/x)");   // the platform's link rule refuses it
    c().buttonClicked (&c().helpButton);

    EXPECT_EQ (links.links, juce::StringArray ({ MainComponent::builtInHelpUrl, "https://help.olvo.example/guide" }));
    EXPECT_TRUE (juce::String (MainComponent::builtInHelpUrl).endsWith ("/olvo-app-how-to"));
}

TEST_F (Input, TheLinkAndFillerButtonsOpenTheWebApplicationOrTheFillerLink)
{
    const juce::String app ("https://app.olvo.example/"), filler ("https://olvo.example/offer");
    const struct { const char* viewType; juce::String webApp, fillerLink; bool fromFiller; juce::StringArray opened; }
    table[] {
        { "link", app, filler, false, { app } },
        { "link_only", app, filler, false, { app } },
        { "link_only", {}, filler, false, { filler } },   // no web application: the filler link
        { "webview", app, filler, false, { filler } },
        { "Link", app, filler, false, { filler } },       // case-sensitive
        { "link", {}, {}, false, {} },                    // nothing to open
        { "link", app, filler, true, { filler } },        // the filler buttons open the filler link
        { "webview", app, {}, true, {} },
    };

    for (const auto& row : table)
    {
        test::ScopedLinkCapture links;
        c().thread->viewType.set (row.viewType);
        c().thread->webAppUrl.set (row.webApp);
        c().thread->fillerLink.set (row.fillerLink);

        if (row.fromFiller)
        {
            c().buttonClicked (&c().fillerImageButton);
            c().buttonClicked (&c().fillerTextButton);
            EXPECT_EQ (links.links.size(), 2 * row.opened.size()) << row.viewType;
            links.links.removeDuplicates (false);
        }
        else
        {
            c().buttonClicked (&c().linkButton);
        }
        EXPECT_EQ (links.links, row.opened) << row.viewType << " " << row.webApp << " " << row.fillerLink;
    }
}

TEST_F (Input, TheInformationButtonLaunchesTheInformationDialogOverTheWindow)
{
    c().setSize (900, 600);
    c().buttonClicked (&c().infoButton);

    ASSERT_EQ (dialogs.launches.size(), 1u);
    const auto& launch = dialogs.launches[0];
    auto* info = dynamic_cast<OlvoInfo*> (launch.content.get());
    ASSERT_NE (info, nullptr);
    EXPECT_EQ (info->thread, c().thread.get());
    EXPECT_EQ (info->getWidth(), 900);
    EXPECT_EQ (info->getHeight(), 600);
    EXPECT_TRUE (info->isTimerRunning());
    EXPECT_EQ (info->getTimerInterval(), 500);
    EXPECT_EQ (launch.contentLookAndFeel, c().lookAndFeel.get());
    EXPECT_EQ (launch.title, "OlvoAssistant - Information");
    EXPECT_EQ (launch.background.getARGB(), 0xfff1f7fau);
    EXPECT_TRUE (launch.escapeKeyTriggersCloseButton);
    EXPECT_TRUE (launch.useNativeTitleBar);
    EXPECT_FALSE (launch.resizable);
}

TEST_F (Input, SaveRequestsTheSettingsTheChoicesAndTheRunValues)
{
    auto& e = *c().thread;
    const auto first = clock.nowMs();
    c().buttonClicked (&c().saveButton);
    EXPECT_TRUE (e.settingsDirty);
    EXPECT_TRUE (e.choiceDirty);
    EXPECT_EQ (e.sendSlotValues, 2);
    EXPECT_EQ (c().lastSaveAt, first);

    clock.advance (1234);
    c().buttonClicked (&c().saveButton);
    EXPECT_TRUE (e.settingsDirty);
    EXPECT_TRUE (e.choiceDirty);
    EXPECT_EQ (e.sendSlotValues, 2);
    EXPECT_EQ (c().lastSaveAt, first + 1234);
}

TEST_F (Input, CancelDropsEveryPendingRequestButLeavesTheValues)
{
    auto& e = *c().thread;
    for (int i = 0; i < 3; ++i)
    {
        e.durationChanged[i] = true;
        e.levelChanged[i] = true;
        e.updateProgramChoice[i] = true;
        e.requestedLevel[i] = 7;
    }
    e.requestedDuration[1].low = 30;
    e.packageChoicePending = true;
    e.slotClearMask = 0b1100;

    c().buttonClicked (&c().cancelButton);

    EXPECT_FALSE (e.anyChangePending());
    EXPECT_EQ (e.slotClearMask, 0);
    EXPECT_EQ (e.requestedLevel[2], 7);
    EXPECT_EQ (e.requestedDuration[1].low, 30);
    EXPECT_FALSE (e.settingsDirty);

    c().buttonClicked (&c().cancelButton);   // nothing pending: nothing changes
    EXPECT_FALSE (e.anyChangePending());
}

TEST_F (Input, ALevelSliderAsksTheEngineForThatBrightnessAndShowsTheLevel)
{
    plugDevice (SyncStatus::upToDate, 3);
    auto& e = *c().thread;

    c().levelSliders[1].setRange (1.0, 10.0, 1.0);
    c().levelSliders[1].setValue (6.0, juce::sendNotificationSync);
    EXPECT_TRUE (e.levelChanged[1]);
    EXPECT_EQ (e.requestedLevel[1], 6);
    EXPECT_EQ (c().levelLabels[1].getText(), "6");
    EXPECT_FALSE (e.levelChanged[0]);

    // Back to the device's level: nothing pending.
    c().levelSliders[1].setValue (3.0, juce::sendNotificationSync);
    EXPECT_FALSE (e.levelChanged[1]);

    // While the engine is not up to date it refuses the request; the label follows the slider all the same.
    e.status = SyncStatus::updating;
    c().levelSliders[2].setValue (4.0, juce::sendNotificationSync);
    EXPECT_FALSE (e.levelChanged[2]);
    EXPECT_EQ (c().levelLabels[2].getText(), "4");
}

//==============================================================================
TEST_F (Input, ADropdownButtonOpensAndClosesItsList)
{
    auto& w = c();

    // No list (state 0): nothing opens, but the button is redrawn.
    w.programButtonText[1] = "Focus";
    w.buttonClicked (&w.programButtons[1]);
    EXPECT_FALSE (w.programLists[1].isVisible());
    EXPECT_EQ (w.openDropdown, -1);

    w.programListState[1] = dropdown::closed;
    w.buttonClicked (&w.programButtons[1]);
    EXPECT_TRUE (w.programLists[1].isVisible());
    EXPECT_EQ (w.programListState[1], dropdown::open);
    EXPECT_EQ (w.openDropdown, 1);

    // Another dropdown's button while a list is open changes nothing by itself (the press closes the list first).
    w.durationListState[0] = dropdown::closed;
    w.buttonClicked (&w.durationButtons[0]);
    EXPECT_FALSE (w.durationLists[0].isVisible());
    EXPECT_EQ (w.durationListState[0], dropdown::closed);

    w.buttonClicked (&w.programButtons[1]);
    EXPECT_FALSE (w.programLists[1].isVisible());
    EXPECT_EQ (w.programListState[1], dropdown::closed);
    EXPECT_EQ (w.openDropdown, -1);

    // The duration and package dropdowns, by their indexes 3..5 and 6.
    w.buttonClicked (&w.durationButtons[0]);
    EXPECT_TRUE (w.durationLists[0].isVisible());
    EXPECT_EQ (w.openDropdown, 3);
    w.buttonClicked (&w.durationButtons[0]);
    w.packageListState = dropdown::closed;
    w.buttonClicked (&w.packageButton);
    EXPECT_TRUE (w.packageList.isVisible());
    EXPECT_EQ (w.openDropdown, 6);
    EXPECT_EQ (w.packageListState, dropdown::open);
}

TEST_F (Input, APressOutsideTheOpenListAndItsButtonClosesIt)
{
    auto& w = c();
    openProgramList (0);
    const auto closedImage = [&w] { return w.programButtons[0].getNormalImage(); };
    const auto openImage = closedImage();

    // Presses on the open list or its button leave it open (both edges count as inside).
    const auto& list = w.programLists[0];
    for (auto at : { juce::Point<float> (0, 0), juce::Point<float> ((float) list.getWidth(), (float) list.getHeight()) })
        w.mouseDown (pressOn (w.programLists[0], at));
    w.mouseDown (pressOn (w.programButtons[0], { 3, 3 }));
    EXPECT_TRUE (w.programLists[0].isVisible());
    EXPECT_EQ (w.openDropdown, 0);

    // A press on the duration button of group 2 (not under the open list): the program list closes, and the click
    // then opens the duration list.
    w.durationListState[2] = dropdown::closed;
    w.mouseDown (pressOn (w.durationButtons[2], { 2, 2 }));
    EXPECT_FALSE (w.programLists[0].isVisible());
    EXPECT_EQ (w.programListState[0], dropdown::closed);
    EXPECT_EQ (w.openDropdown, -1);
    EXPECT_FALSE (closedImage() == openImage) << "the program button is redrawn closed";
    w.buttonClicked (&w.durationButtons[2]);
    EXPECT_TRUE (w.durationLists[2].isVisible());
    EXPECT_EQ (w.openDropdown, 5);

    // A press on the window itself closes it too.
    w.mouseDown (pressOn (w, { 5, 5 }));
    EXPECT_FALSE (w.durationLists[2].isVisible());
    EXPECT_EQ (w.durationListState[2], dropdown::closed);
    EXPECT_EQ (w.openDropdown, -1);
}

TEST_F (Input, EveryInputMarksTheUserActive)
{
    auto& w = c();
    auto& e = *w.thread;

    std::vector<juce::Button*> buttons { &w.infoButton, &w.helpButton, &w.linkButton, &w.saveButton,
                                         &w.cancelButton, &w.packageButton, &w.fillerImageButton, &w.fillerTextButton };
    for (int g = 0; g < 3; ++g)
    {
        buttons.push_back (&w.programButtons[g]);
        buttons.push_back (&w.durationButtons[g]);
    }

    test::ScopedLinkCapture links;
    for (auto* button : buttons)
    {
        e.windowStart = 0;
        clock.advance (1000);
        w.buttonClicked (button);
        EXPECT_EQ (e.windowStart, clock.nowMs()) << button->getName();
    }

    for (int g = 0; g < 3; ++g)
    {
        e.windowStart = 0;
        clock.advance (1000);
        w.levelSliders[g].setValue (w.levelSliders[g].getValue() == 2.0 ? 3.0 : 2.0, juce::sendNotificationSync);
        EXPECT_EQ (e.windowStart, clock.nowMs()) << "slider " << g;
    }

    for (auto* child : std::initializer_list<juce::Component*> { &w, &w.netDisplay, &w.programLists[0] })
    {
        e.windowStart = 0;
        clock.advance (1000);
        w.mouseDown (pressOn (*child, { 1, 1 }));
        EXPECT_EQ (e.windowStart, clock.nowMs());
    }
}

TEST_F (Input, ARealPressOnAnyChildReachesTheWindow)
{
    // On screen, a press goes through JUCE's own dispatch: on a label it reaches the window's mouse listener.
    auto& w = c();
    juce::DocumentWindow frame ("input test", juce::Colours::white, 0, true);
    frame.setContentNonOwned (&w, true);
    frame.setVisible (true);
    openProgramList (2);

    auto* peer = frame.getPeer();
    ASSERT_NE (peer, nullptr);
    const auto at = frame.getLocalPoint (&w.levelLabels[0], w.levelLabels[0].getLocalBounds().getCentre()).toFloat();
    const auto now = juce::Time::currentTimeMillis();
    peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, at,
                            juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, now);
    peer->handleMouseEvent (juce::MouseInputSource::InputSourceType::mouse, at, juce::ModifierKeys(),
                            juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation, now + 1);

    EXPECT_EQ (w.openDropdown, -1);
    EXPECT_FALSE (w.programLists[2].isVisible());
    frame.clearContentComponent();
}

} // namespace olvo
