#include "GuiTestSupport.h"

#include "platform/ApplicationServices.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace olvo
{

namespace
{
    struct TestWindow : public juce::DocumentWindow
    {
        TestWindow() : juce::DocumentWindow ("test window", juce::Colours::white, juce::DocumentWindow::closeButton, true)
        {
            setUsingNativeTitleBar (true);
            centreWithSize (200, 100);
        }
    };
}

TEST (ApplicationServices, ProcessTypeIsRecorded)
{
    platform::transformProcessType (platform::ProcessType::uiElement);
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::uiElement);
    platform::transformProcessType (platform::ProcessType::foreground);
    EXPECT_EQ (platform::currentProcessType(), platform::ProcessType::foreground);
    EXPECT_EQ ((int) platform::ProcessType::foreground, 1);
    EXPECT_EQ ((int) platform::ProcessType::uiElement, 4);
}

TEST (ApplicationServices, HidingHidesTheTopLevelWindowsButNotOtherDesktopComponents)
{
    TestWindow first, second;
    first.setVisible (true);
    second.setVisible (true);

    // Stands for the menu-bar icon: on the desktop, but not a window of the application.
    juce::Component icon;
    icon.setSize (22, 22);
    icon.addToDesktop (0);
    icon.setVisible (true);

    platform::hideApplication();
    EXPECT_FALSE (first.isVisible());
    EXPECT_FALSE (second.isVisible());
    EXPECT_TRUE (icon.isVisible());
}

TEST (ApplicationServices, ActivatingRaisesOnlyAVisibleWindow)
{
    platform::activateApplication (nullptr);

    TestWindow hidden;
    platform::activateApplication (&hidden);
    test::pumpFor (50);
    EXPECT_FALSE (hidden.isVisible());
    EXPECT_FALSE (hidden.isShowing());

    TestWindow shown;
    shown.setVisible (true);
    platform::activateApplication (&shown);
    EXPECT_TRUE (test::pumpUntil ([&] { return shown.isShowing(); }));
    EXPECT_FALSE (shown.isMinimised());
}

static test::ChildRoutine exitWithBufferedOutput ("exit-now", []() -> int
{
    // Written to pipes, both stay in their buffers unless something flushes them.
    std::fputs ("line on standard output", stdout);
    std::fputs ("line on standard error, ", stderr);
    platform::exitNow (3);
});

TEST (ApplicationServices, ExitNowFlushesBothStreamsAndEndsWithTheStatus)
{
    const auto result = test::runChild ("exit-now");
    ASSERT_TRUE (result.finished);
    EXPECT_EQ (result.exitCode, 3);
    EXPECT_TRUE (result.output.contains ("line on standard output")) << result.output;
    EXPECT_TRUE (result.output.contains ("line on standard error")) << result.output;
}

} // namespace olvo
