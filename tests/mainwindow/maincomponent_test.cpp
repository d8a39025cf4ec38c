#include "GuiTestSupport.h"

#include "mainwindow/AppGlobals.h"
#include "mainwindow/MainComponent.h"

#include "look/Palette.h"
#include "sim/device/SimDevice.h"
#include "sim/webapi/LocalWebApi.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace olvo
{

namespace
{
    struct MainComponentTest : public ::testing::Test
    {
        void SetUp() override { launchCommandLine = {}; }
        void TearDown() override { launchCommandLine = {}; }
    };
}

TEST_F (MainComponentTest, IsBuiltWithItsFontsLookAndChildren)
{
    auto content = std::make_unique<MainComponent> (test::windowTestOptions());
    auto& c = *content;

    EXPECT_EQ (c.getWidth(), 702);
    EXPECT_EQ (c.getHeight(), 468);
    EXPECT_FLOAT_EQ (tooltipFontHeight, 14.04f);

    EXPECT_EQ (appFontRegular, &c.fontRegular);
    EXPECT_EQ (appFontLight, &c.fontLight);
    EXPECT_EQ (appFontBold, &c.fontBold);
    EXPECT_TRUE (c.fontRegular.getTypefaceName().startsWith ("Source Sans Pro"));

    EXPECT_EQ (&c.getLookAndFeel(), c.lookAndFeel.get());
    EXPECT_EQ (c.findColour (juce::ResizableWindow::backgroundColourId).getARGB(), 0xfff1f7fau);
    EXPECT_EQ (&c.netDisplay.getLookAndFeel(), c.lookAndFeel.get());

    EXPECT_TRUE (c.netDisplay.isVisible());
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "No Device");
    EXPECT_TRUE (c.batteryDisplay.isVisible());
    EXPECT_EQ (c.batteryDisplay.level, 0.0f);
    EXPECT_EQ (c.batteryDisplay.flags, 0);
    EXPECT_FALSE (c.webView->getComponent().isVisible());
    EXPECT_EQ (c.webView->getComponent().getParentComponent(), &c);

    for (int g = 0; g < 3; ++g)
    {
        EXPECT_FALSE (c.programLists[g].isVisible());
        EXPECT_EQ (c.programLists[g].getModel(), &c.programListModels[g]);
        EXPECT_EQ (c.programListModels[g].getNumRows(), 0);
        EXPECT_EQ (c.programLists[g].getOutlineThickness(), 1);   // 702 wide: 1 (2 above 800)
        EXPECT_EQ (&c.programListModels[g].getLookAndFeel(), c.lookAndFeel.get());
        // White with saturation 0.3: hue 0, full brightness, a pale red, whatever the groups' colours.
        EXPECT_EQ (c.programListModels[g].selectedRowColour, juce::Colours::white.withSaturation (0.3f));
        EXPECT_EQ (uiPalette[g], 0xffffffffu) << "no device: no group available";
    }
    EXPECT_GT (c.programListModels[0].selectedRowColour.getBrightness(), 0.99f);
    EXPECT_EQ (c.programListModels[0].selectedRowColour.getHue(), 0.0f);

    EXPECT_FALSE (c.thread->isThreadRunning());
    EXPECT_EQ (c.thread->defaultApiUrl.get(), "http://127.0.0.1:9/device/");

    content.reset();
    EXPECT_EQ (appFontRegular, nullptr);
    EXPECT_EQ (appFontLight, nullptr);
    EXPECT_EQ (appFontBold, nullptr);
}

TEST_F (MainComponentTest, WiderThan800TheListsGetTwoPixelOutlines)
{
    MainComponent c (test::windowTestOptions());
    c.setSize (801, 534);
    EXPECT_EQ (c.programLists[0].getOutlineThickness(), 2);
    c.setSize (800, 533);
    EXPECT_EQ (c.programLists[0].getOutlineThickness(), 1);
}

TEST_F (MainComponentTest, TheStartOptionSetsTheDefaultViewType)
{
    const struct { const char* commandLine; const char* viewType; } table[] {
        { "", "unchanged" },
        { "-vwebview", "webview" },
        { "-v", "" },
        { "-Vwebview", "unchanged" },
        { "--vwebview", "unchanged" },
        { "-vlink -vwebview", "webview" },
        { "\"-vwebview\"", "unchanged" },
        { "other -vlink_only words", "link_only" },
        { "-vlink\t\t-vwebview\n", "webview" },
        { "\"a -vlink\" -vwebview \"-vlink b\"", "webview" },
    };

    for (const auto& row : table)
    {
        OlvoThread engine;
        engine.defaultViewType.set ("unchanged");
        MainComponent::applyStartOption (row.commandLine, engine);
        EXPECT_EQ (engine.defaultViewType.get(), row.viewType) << row.commandLine;
    }

    launchCommandLine = "-vlink";
    MainComponent c (test::windowTestOptions());
    EXPECT_EQ (c.thread->defaultViewType.get(), "link");
}

TEST_F (MainComponentTest, OlvoApiUrlOverridesTheEndpointWhenItIsAPlainHttpUrl)
{
    const juce::String builtIn (OLVO_DEFAULT_API_URL);
    const struct { const char* value; juce::String url; } table[] {
        { "", builtIn },
        { "http://127.0.0.1:8080/device/", "http://127.0.0.1:8080/device/" },
        { "https://staging.olvo.example/device/", "https://staging.olvo.example/device/" },
        { "ftp://olvo.example/device/", builtIn },
        { "127.0.0.1:8080/device/", builtIn },
        { "http://olvo.example/$(id)", builtIn },
    };
    for (const auto& row : table)
        EXPECT_EQ (MainComponent::chooseApiUrl (row.value), row.url) << row.value;

    setenv ("OLVO_API_URL", "http://127.0.0.1:8080/device/", 1);
    auto options = test::windowTestOptions();
    options.apiUrl = {};
    {
        MainComponent c (options);
        EXPECT_EQ (c.thread->defaultApiUrl.get(), "http://127.0.0.1:8080/device/");
    }
    unsetenv ("OLVO_API_URL");
    MainComponent c (options);
    EXPECT_EQ (c.thread->defaultApiUrl.get(), builtIn);
}

TEST_F (MainComponentTest, TheTimerPassShowsTheEnginesStatusAndBattery)
{
    MainComponent c (test::windowTestOptions());

    c.thread->status = SyncStatus::upToDate;
    c.timerCallback();
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "Up to Date");
    EXPECT_EQ (c.batteryDisplay.levelText(), "");   // no device: no reading

    c.thread->status = SyncStatus::updating;
    c.thread->syncStep = 2;
    c.timerCallback();
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "Updating (2)");
}

TEST_F (MainComponentTest, TeardownStopsARunningWorker)
{
    auto options = test::windowTestOptions();
    options.startWorker = true;
    auto c = std::make_unique<MainComponent> (options);
    ASSERT_TRUE (c->thread->isThreadRunning());

    const auto started = juce::Time::getMillisecondCounter();
    c.reset();
    EXPECT_LT (juce::Time::getMillisecondCounter() - started, 5000u);
    EXPECT_EQ (appFontRegular, nullptr);
}

TEST_F (MainComponentTest, WithTheWorkerAndTimerRunningTheWindowFollowsADeviceThroughItsFirstSync)
{
    sim::LocalWebApi server;
    ASSERT_GT (server.start(), 0);
    sim::SimDevice::reset();
    sim::SimDevice::plug();

    auto options = test::windowTestOptions();
    options.startWorker = true;
    options.startTimer = true;
    options.apiUrl = server.url();
    auto c = std::make_unique<MainComponent> (options);

    EXPECT_TRUE (test::pumpUntil ([&] { return c->netDisplay.statusLabel.getText() == "Up to Date"; }, 60000))
        << c->netDisplay.statusLabel.getText();
    EXPECT_TRUE (test::pumpUntil ([&] { return c->batteryDisplay.levelText().isNotEmpty(); }, 10000));

    c.reset();
    server.stop();
    sim::SimDevice::reset();
}

} // namespace olvo
