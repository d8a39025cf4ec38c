#include "GuiTestSupport.h"

#include "mainwindow/AppGlobals.h"
#include "mainwindow/MainComponent.h"

#include "look/Palette.h"
#include "mainwindow/MainLayout.h"
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

TEST_F (MainComponentTest, EveryChildIsBuiltVisibleOrHiddenInItsStartingState)
{
    MainComponent c (test::windowTestOptions());

    std::vector<juce::Component*> shown { &c.infoButton, &c.helpButton, &c.batteryDisplay, &c.netDisplay,
                                          &c.packageButton };
    std::vector<juce::Component*> hidden { &c.linkButton, &c.saveButton, &c.cancelButton, &c.webView->getComponent(),
                                           &c.fillerImageButton, &c.fillerTextButton, &c.packageList };
    for (int g = 0; g < 3; ++g)
    {
        for (auto* child : std::initializer_list<juce::Component*> { &c.programButtons[g], &c.durationButtons[g],
                                                                    &c.levelLabels[g], &c.levelSliders[g] })
            shown.push_back (child);
        hidden.push_back (&c.programLists[g]);
        hidden.push_back (&c.durationLists[g]);
    }

    for (auto* child : shown)
    {
        EXPECT_EQ (child->getParentComponent(), &c) << child->getName();
        EXPECT_TRUE (child->isVisible()) << typeid (*child).name();
    }
    for (auto* child : hidden)
    {
        EXPECT_EQ (child->getParentComponent(), &c);
        EXPECT_FALSE (child->isVisible()) << typeid (*child).name();
    }
    EXPECT_EQ (c.getNumChildComponents(), (int) (shown.size() + hidden.size()));
    EXPECT_FALSE (c.tooltipWindow) << "not showing: no tooltips (the timer makes them while it shows)";

    // Buttons, labels and sliders as the window sets them up.
    EXPECT_EQ (c.infoButton.getTooltip(), "Device Info");
    EXPECT_EQ (c.helpButton.getTooltip(), "How to Guide");
    EXPECT_EQ (c.infoButton.getNormalImage().getWidth(), 216);   // the 200 x 200 icon with its margin
    EXPECT_EQ (c.helpButton.getOverImage().getWidth(), 216);
    EXPECT_EQ (c.saveButton.getButtonText(), "SAVE");
    EXPECT_EQ (c.cancelButton.getButtonText(), "CANCEL");
    EXPECT_EQ (c.saveButton.findColour (juce::TextButton::buttonColourId).getARGB(), 0xff55bfedu);
    EXPECT_EQ (c.cancelButton.findColour (juce::TextButton::buttonColourId).getARGB(), 0xfff1f7fau);

    for (int g = 0; g < 3; ++g)
    {
        const auto& slider = c.levelSliders[g];
        EXPECT_EQ (slider.getMinimum(), 1.0);
        EXPECT_EQ (slider.getMaximum(), 4.0);
        EXPECT_EQ (slider.getInterval(), 1.0);
        EXPECT_EQ (slider.getTextBoxPosition(), juce::Slider::NoTextBox);
        EXPECT_EQ (slider.getSliderStyle(), juce::Slider::LinearHorizontal);
        for (auto id : { juce::Slider::thumbColourId, juce::Slider::trackColourId, juce::Slider::backgroundColourId })
            EXPECT_EQ (slider.findColour (id), juce::Colour (juce::Colours::lightgrey));

        const auto& label = c.levelLabels[g];
        EXPECT_EQ (label.getText(), "");
        EXPECT_EQ (label.getJustificationType(), juce::Justification::centred);
        EXPECT_EQ (label.findColour (juce::Label::backgroundColourId).getARGB(), 0xfff1f7fau);
        EXPECT_EQ (label.findColour (juce::Label::textColourId).getARGB(), 0xff000000u);
        EXPECT_EQ (&label.getLookAndFeel(), c.lookAndFeel.get());

        EXPECT_EQ (c.durationLists[g].getModel(), &c.durationListModels[g]);
        EXPECT_EQ (c.durationListModels[g].selectedRowColour, juce::Colours::white.withSaturation (0.3f));
        EXPECT_TRUE (c.programButtons[g].getNormalImage().isValid()) << "drawn by the layout";
        EXPECT_FALSE (c.programButtons[g].getWantsKeyboardFocus());

        EXPECT_EQ (c.programListState[g], 0);
        EXPECT_EQ (c.durationListState[g], 0);
        EXPECT_EQ (c.programButtonText[g], "");
        EXPECT_EQ (c.durationButtonText[g], "");
        EXPECT_EQ (c.durationRangeMin[g], 0);
        EXPECT_EQ (c.durationRangeMax[g], 0);
        EXPECT_TRUE (c.shownProgramChoices[g].empty());
    }
    EXPECT_EQ (c.packageList.getModel(), &c.packageListModel);
    EXPECT_EQ (c.packageListState, 0);
    EXPECT_EQ (c.openDropdown, -1);

    // The other members' defaults.
    EXPECT_FALSE (c.windowShown);
    EXPECT_TRUE (c.layoutDirty);
    EXPECT_TRUE (c.lastShowing);
    EXPECT_FALSE (c.warningShown);
    EXPECT_FALSE (c.userDragging);
    EXPECT_EQ (c.nextAppUpdateCheck, 0);
    EXPECT_EQ (c.nextPhaseOffer, 0);
    EXPECT_EQ (c.lastSaveAt, 0);
    EXPECT_EQ (c.openPopups.size(), 0);
    EXPECT_EQ (c.openInfoWindows.size(), 0);
    EXPECT_TRUE (c.imageCache.entries().empty());
    EXPECT_FALSE (c.isTimerRunning());
}

TEST_F (MainComponentTest, WithTheTimerStartedItTicksEvery500Ms)
{
    auto options = test::windowTestOptions();
    options.startTimer = true;
    MainComponent c (options);
    EXPECT_TRUE (c.isTimerRunning());
    EXPECT_EQ (c.getTimerInterval(), 500);
}

TEST_F (MainComponentTest, SliderDragsAreNoted)
{
    MainComponent c (test::windowTestOptions());
    ASSERT_TRUE (c.levelSliders[1].onDragStart);
    c.levelSliders[1].onDragStart();
    EXPECT_TRUE (c.userDragging);
    c.levelSliders[1].onDragEnd();
    EXPECT_FALSE (c.userDragging);
}

TEST_F (MainComponentTest, ResizingPlacesEveryChildByTheLayout)
{
    MainComponent c (test::windowTestOptions());
    c.setSize (1800, 1200);

    const auto layout = computeMainLayout (1800, 1200, 0);
    EXPECT_EQ (c.packageButton.getBounds(), layout.packageButton);
    EXPECT_EQ (c.infoButton.getBounds(), layout.infoButton);
    EXPECT_EQ (c.linkButton.getBounds(), layout.linkButton);
    EXPECT_EQ (c.fillerImageButton.getBounds(), layout.fillerImageButton);
    EXPECT_EQ (c.durationButtons[2].getBounds(), layout.durationButtons[2]);
    EXPECT_EQ (c.levelLabels[1].getBounds(), layout.levelLabels[1]);
    EXPECT_EQ (c.durationLists[0].getBounds(), layout.durationLists[0]);
    EXPECT_EQ (c.saveButton.getBounds(), layout.saveButton);
    EXPECT_EQ (c.webView->getComponent().getBounds(), layout.webView);
    EXPECT_EQ (c.durationLists[0].getRowHeight(), 43);
    EXPECT_FLOAT_EQ (tooltipFontHeight, 36.0f);
    EXPECT_NEAR (c.levelLabels[0].getFont().getHeight(), 0.8f * 0.64f * 132.0f, 0.01f);

    // The package list is two rows high while empty (rows of (int) (0.09 H) = 108), plus its outline of 2.
    EXPECT_EQ (c.packageList.getHeight(), 2 * 108 + 4);
    EXPECT_EQ (c.packageList.getWidth(), 4 * 108 + 4 + 4);
}

TEST_F (MainComponentTest, TeardownClosesTheInformationWindowAndThePopupsBeforeTheLookAndFeelGoes)
{
    auto content = std::make_unique<MainComponent> (test::windowTestOptions());
    content->buttonClicked (&content->infoButton);   // the real launcher: an asynchronous modal dialog

    juce::Component::SafePointer<juce::DialogWindow> dialog;
    for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
        if (auto* window = dynamic_cast<juce::DialogWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
            if (window->getName() == "OlvoAssistant - Information")
                dialog = window;

    ASSERT_NE (dialog.getComponent(), nullptr);
    EXPECT_TRUE (dialog->isCurrentlyModal());
    juce::Component::SafePointer<juce::Component> info (dialog->getContentComponent());
    ASSERT_NE (info.getComponent(), nullptr);
    EXPECT_EQ (&info->getLookAndFeel(), content->lookAndFeel.get());

    // A popup over it, as the server's news raise them.
    content->showPopup (PopupKind::warning, {}, "Not registered", "Warning", {});
    juce::Component::SafePointer<juce::Component> popup (juce::Component::getCurrentlyModalComponent());
    ASSERT_NE (popup.getComponent(), nullptr);
    EXPECT_EQ (popup->getName(), "OlvoAssistant - Warning");

    content.reset();
    EXPECT_EQ (dialog.getComponent(), nullptr);
    EXPECT_EQ (info.getComponent(), nullptr);
    EXPECT_EQ (popup.getComponent(), nullptr);
    // The modal manager lets go of the deleted dialog on a later message.
    EXPECT_TRUE (test::pumpUntil ([] { return juce::ModalComponentManager::getInstance()->getNumModalComponents() == 0; }));
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

    c.thread->deviceOpen = true;
    c.thread->status = SyncStatus::upToDate;
    c.timerCallback();
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "Up to Date");
    EXPECT_EQ (c.batteryDisplay.levelText(), "Battery: 0%");   // no battery reading yet: shown as 0 %

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
    EXPECT_TRUE (test::pumpUntil ([&] { return c->batteryDisplay.levelText().isNotEmpty(); }, 30000));

    c.reset();
    server.stop();
    sim::SimDevice::reset();
}

} // namespace olvo
