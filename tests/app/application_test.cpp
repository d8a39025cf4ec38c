#include "FakeTrayHost.h"
#include "GuiTestSupport.h"

#include "app/TrayTestApplication.h"

#include "look/Fonts.h"
#include "mainwindow/AppGlobals.h"
#include "platform/ApplicationServices.h"

#include <gtest/gtest.h>

#include <X11/Xlib.h>   // after JUCE's headers, which would not survive its macros
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>

namespace olvo
{

namespace
{
    struct ApplicationTest : public ::testing::Test
    {
        void SetUp() override
        {
            launchCommandLine = {};
            platform::transformProcessType (platform::ProcessType::foreground);
        }

        void TearDown() override
        {
            if (app != nullptr)
                app->shutdown();
            app.reset();
        }

        TrayTestApplication::MainWindow& start (MainComponent::Options options = test::windowTestOptions())
        {
            app = std::make_unique<TrayTestApplication> (std::move (options));
            app->initialise ({});
            return *app->mainWindow;
        }

        std::unique_ptr<TrayTestApplication> app;
    };
}

TEST_F (ApplicationTest, IsOneInstanceOfOlvoAssistant)
{
    TrayTestApplication application (test::windowTestOptions());
    EXPECT_EQ (application.getApplicationName(), "OlvoAssistant");
    EXPECT_EQ (application.getApplicationVersion(), "1.0.0");
    EXPECT_FALSE (application.moreThanOneInstanceAllowed());
}

TEST_F (ApplicationTest, TheMainWindowHasTheNativeTitleBarAFixedAspectAndItsLimits)
{
    auto& window = start();
    EXPECT_EQ (currentMainWindow, &window);
    EXPECT_EQ (window.getName(), "OlvoAssistant");
    EXPECT_TRUE (window.isUsingNativeTitleBar());

    const auto flags = window.getDesktopWindowStyleFlags();
    EXPECT_NE (flags & juce::ComponentPeer::windowHasCloseButton, 0);
    EXPECT_EQ (flags & juce::ComponentPeer::windowHasMinimiseButton, 0);
    EXPECT_EQ (flags & juce::ComponentPeer::windowHasMaximiseButton, 0);
    EXPECT_NE (flags & juce::ComponentPeer::windowIsResizable, 0);

    EXPECT_TRUE (window.isResizable());
    for (auto* child : window.getChildren())
        EXPECT_EQ (dynamic_cast<juce::ResizableCornerComponent*> (child), nullptr) << "no corner resizer";

    auto* constrainer = window.getConstrainer();
    EXPECT_DOUBLE_EQ (constrainer->getFixedAspectRatio(), 1.5);
    EXPECT_EQ (constrainer->getMinimumWidth(), 300);
    EXPECT_EQ (constrainer->getMinimumHeight(), 200);
    EXPECT_EQ (constrainer->getMaximumWidth(), 2400);
    EXPECT_EQ (constrainer->getMaximumHeight(), 1600);

    ASSERT_NE (dynamic_cast<MainComponent*> (window.getContentComponent()), nullptr);
    EXPECT_EQ (window.getContentComponent()->getBounds().getWidth(), 702);
    EXPECT_EQ (window.getContentComponent()->getBounds().getHeight(), 468);
    EXPECT_EQ (window.getWidth(), 702);
    EXPECT_EQ (window.getHeight(), 468);

    const auto area = juce::Desktop::getInstance().getDisplays().getPrimaryDisplay()->userArea;
    EXPECT_LE (std::abs (window.getBounds().getCentreX() - area.getCentreX()), 1);
    EXPECT_LE (std::abs (window.getBounds().getCentreY() - area.getCentreY()), 1);

    EXPECT_EQ (window.getBackgroundColour(),
               juce::LookAndFeel_V4().findColour (juce::ResizableWindow::backgroundColourId));
}

TEST_F (ApplicationTest, WithATrayHostItStartsHiddenAsAMenuBarProcessWithItsIcon)
{
    const test::FakeTrayHost host;
    ASSERT_TRUE (host.isValid());

    auto& window = start();
    EXPECT_FALSE (window.isVisible());
    EXPECT_TRUE (test::pumpUntil ([&] { return ! test::isMappedOnDisplay (window.getWindowHandle()); }))
        << "hidden as the X server sees it";
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::uiElement);
    ASSERT_NE (window.taskbarIcon, nullptr);
    EXPECT_EQ (window.taskbarIcon->getWidth(), 22);
    EXPECT_EQ (window.taskbarIcon->getHeight(), 22);
}

TEST_F (ApplicationTest, WithoutATrayHostItShowsTheWindowAtStartAndItsIconWaitsOffTheDesktop)
{
    auto& window = start();
    EXPECT_TRUE (window.isVisible());
    EXPECT_TRUE (window.isOnDesktop());
    EXPECT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (window.getWindowHandle()); }));
    ASSERT_NE (window.taskbarIcon, nullptr);
    EXPECT_FALSE (window.taskbarIcon->isOnDesktop()) << "no icon window without a tray";
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::foreground);

    // Closing it cannot hide it then (nothing could bring it back but the device): it stays in the window list,
    // and the raise still due from its showing is dropped (it would have restored the window).
    auto* content = dynamic_cast<MainComponent*> (window.getContentComponent());
    ASSERT_NE (content, nullptr);
    content->raiseWindowPending = true;
    window.closeButtonPressed();
    EXPECT_TRUE (window.isVisible());
    EXPECT_EQ (currentMainWindow, &window);
    EXPECT_FALSE (content->raiseWindowPending);
}

TEST_F (ApplicationTest, CloseHidesAndShowBringsBackTheSameWindow)
{
    const test::FakeTrayHost host (test::FakeTrayHost::Docking::embeds);
    auto& window = start();
    auto& icon = *window.taskbarIcon;
    auto* content = window.getContentComponent();
    ASSERT_TRUE (test::pumpUntil ([] { return menuBarIconInTray; }, 30000)) << "the tray took the icon";

    icon.menuItemChosen (DemoTaskbarComponent::showItem);
    EXPECT_TRUE (window.isVisible());
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::foreground);

    // Shown again while visible: it stays, in front.
    icon.menuItemChosen (DemoTaskbarComponent::showItem);
    EXPECT_TRUE (window.isVisible());

    EXPECT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (window.getWindowHandle()); }));

    window.closeButtonPressed();
    EXPECT_FALSE (window.isVisible());
    EXPECT_TRUE (test::pumpUntil ([&] { return ! test::isMappedOnDisplay (window.getWindowHandle()); }));
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::uiElement);
    EXPECT_EQ (currentMainWindow, &window);

    // Dismissing the menu changes nothing.
    icon.menuItemChosen (0);
    EXPECT_FALSE (window.isVisible());
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::uiElement);

    icon.menuItemChosen (DemoTaskbarComponent::showItem);
    EXPECT_TRUE (window.isVisible());
    EXPECT_EQ (window.getContentComponent(), content);
}

TEST_F (ApplicationTest, ATrayThatNeverTakesTheIconLeavesTheWindowShownNotLockedAway)
{
    const test::FakeTrayHost host (test::FakeTrayHost::Docking::refuses);
    auto& window = start();
    EXPECT_FALSE (window.isVisible()) << "hidden while the tray may still take the icon";

    ASSERT_TRUE (test::pumpUntil ([&] { return window.isVisible(); }, 30000)) << "the window never showed";
    EXPECT_FALSE (menuBarIconInTray);
    ASSERT_NE (window.taskbarIcon, nullptr);
    EXPECT_FALSE (window.taskbarIcon->isOnDesktop()) << "no stray icon window left to the window manager";

    // Closing it now keeps it in the window list, as without a tray.
    window.closeButtonPressed();
    EXPECT_TRUE (window.isVisible());
}

TEST_F (ApplicationTest, ATrayThatAppearsAfterTheStartTakesTheIconAndFromThenOnCloseHidesTheWindow)
{
    auto& window = start();
    ASSERT_TRUE (window.isVisible());

    const test::FakeTrayHost host (test::FakeTrayHost::Docking::embeds);
    ASSERT_TRUE (test::pumpUntil ([] { return menuBarIconInTray; }, 30000)) << "the late tray took no icon";
    EXPECT_TRUE (window.taskbarIcon->isOnDesktop());
    EXPECT_TRUE (window.isVisible()) << "the window shown at start stays";

    window.closeButtonPressed();
    EXPECT_FALSE (window.isVisible());
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::uiElement);
}

namespace
{
    /** The state the main window's hints ask a window manager to map it in (NormalState, IconicState), -1 when
        unknown. */
    int initialStateOf (juce::Component& window)
    {
        Display* display = XOpenDisplay (nullptr);
        if (display == nullptr)
            return -1;
        int state = -1;
        if (auto* hints = XGetWMHints (display, (Window) (uintptr_t) window.getWindowHandle()))
        {
            if ((hints->flags & StateHint) != 0)
                state = hints->initial_state;
            XFree (hints);
        }
        XCloseDisplay (display);
        return state;
    }
}

TEST_F (ApplicationTest, WhileNoTrayHoldsTheIconTheWindowStaysWithinReach)
{
    auto host = std::make_unique<test::FakeTrayHost> (test::FakeTrayHost::Docking::embeds);
    auto& window = start();
    auto& icon = *window.taskbarIcon;
    ASSERT_TRUE (test::pumpUntil ([] { return menuBarIconInTray; }, 30000));
    ASSERT_FALSE (window.isVisible());

    // The tray host goes with the icon's place: the hidden window is mapped again, asking to be minimised (the
    // window manager's window list holds it, the screen does not).
    host.reset();
    ASSERT_TRUE (test::pumpUntil ([&] { return ! menuBarIconInTray && window.isVisible(); }, 30000))
        << "the tray went, the window stayed hidden";
    EXPECT_FALSE (icon.isOnDesktop()) << "no icon window left behind";
    EXPECT_EQ (initialStateOf (window), IconicState);
    EXPECT_TRUE (test::pumpUntil ([&] { return test::isMappedOnDisplay (window.getWindowHandle()); }));

    // Meanwhile closing it cannot hide it.
    window.closeButtonPressed();
    EXPECT_TRUE (window.isVisible());

    // A tray host again: the icon docks in it; the next showing is a normal one.
    host = std::make_unique<test::FakeTrayHost> (test::FakeTrayHost::Docking::embeds);
    ASSERT_TRUE (test::pumpUntil ([] { return menuBarIconInTray; }, 30000)) << "the icon did not dock again";
    EXPECT_TRUE (icon.isOnDesktop());

    window.setVisible (false);
    icon.menuItemChosen (DemoTaskbarComponent::showItem);
    EXPECT_TRUE (window.isVisible());
    EXPECT_EQ (initialStateOf (window), NormalState);
}

TEST_F (ApplicationTest, TheMenuHasItsTwoItemsAndOneLookAndFeel)
{
    const test::FakeTrayHost host;
    auto& icon = *start().taskbarIcon;

    auto menu = icon.createMenu();
    juce::PopupMenu::MenuItemIterator items (menu);
    const struct { int id; const char* text; } expected[] { { 1, "Show OlvoAssistant" }, { 2, "Quit OlvoAssistant" } };
    for (const auto& e : expected)
    {
        ASSERT_TRUE (items.next());
        const auto& item = items.getItem();
        EXPECT_EQ (item.itemID, e.id);
        EXPECT_EQ (item.text, e.text);
        EXPECT_TRUE (item.isEnabled);
        EXPECT_FALSE (item.isTicked);
    }
    EXPECT_FALSE (items.next());

    auto& lf = icon.getMenuLookAndFeel();
    EXPECT_EQ (lf.findColour (juce::PopupMenu::backgroundColourId).getARGB(), 0xfff2f2f2u);
    EXPECT_EQ (lf.findColour (juce::PopupMenu::textColourId).getARGB(), 0xff000000u);
    EXPECT_NE (dynamic_cast<MyCustomLookAndFeel*> (&lf), nullptr);
}

TEST_F (ApplicationTest, AResizeOutOfShapeIsBroughtBackToTheAspectRatioWithinTheLimits)
{
    auto& window = start();
    const struct { int w, h; } table[] { { 900, 400 }, { 5000, 100 }, { 100, 100 }, { 1200, 800 } };

    for (const auto& row : table)
    {
        window.setBounds (window.getX(), window.getY(), row.w, row.h);   // as a window manager would
        const auto inShape = [&]
        {
            return std::abs ((double) window.getWidth() / window.getHeight() - 1.5) < 0.01
                   && window.getWidth() >= 300 && window.getWidth() <= 2400
                   && window.getHeight() >= 200 && window.getHeight() <= 1600;
        };
        EXPECT_TRUE (test::pumpUntil (inShape, 30000)) << row.w << "x" << row.h << " became "
                                                      << window.getWidth() << "x" << window.getHeight();
    }
}

TEST_F (ApplicationTest, ShutdownDeletesTheWindowStoppingTheWorker)
{
    // A second instance runs shutdown without initialise.
    TrayTestApplication second (test::windowTestOptions());
    second.shutdown();

    auto options = test::windowTestOptions();
    options.startWorker = true;
    auto& window = start (options);
    auto* content = dynamic_cast<MainComponent*> (window.getContentComponent());
    ASSERT_NE (content, nullptr);
    ASSERT_TRUE (content->thread->isThreadRunning());

    app->shutdown();
    EXPECT_EQ (app->mainWindow, nullptr);
    EXPECT_EQ (currentMainWindow, nullptr);
    EXPECT_EQ (appFontRegular, nullptr);   // the content, which publishes the fonts, is gone
    EXPECT_EQ (juce::TopLevelWindow::getNumTopLevelWindows(), 0);
}

static test::ChildRoutine quitFromTheMenu ("quit-from-the-menu", []
{
    TrayTestApplication application (test::windowTestOptions());
    application.initialise ({});
    DemoTaskbarComponent icon;

    // Buffered in pipes: lost unless the quit flushes them.
    std::fputs ("a line on standard output", stdout);
    std::fputs ("a line on standard error", stderr);
    icon.menuItemChosen (DemoTaskbarComponent::quitItem);
    return 0;   // not reached
});

TEST_F (ApplicationTest, QuitEndsTheProcessAtOnceWithStatusOneAndItsOutputFlushed)
{
    const auto result = test::runChild ("quit-from-the-menu");
    ASSERT_TRUE (result.finished);
    EXPECT_EQ (result.exitCode, 1);
    EXPECT_TRUE (result.output.contains ("a line on standard output")) << result.output;
    EXPECT_TRUE (result.output.contains ("a line on standard error")) << result.output;
}

} // namespace olvo
