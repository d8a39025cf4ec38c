// The main window's content: construction and teardown, the start option and the API endpoint.

#include "MainComponent.h"

#include "AppGlobals.h"
#include "UiHelpers.h"

#include "BinaryData.h"
#include "engine/Clock.h"
#include "engine/JsonValues.h"
#include "look/Palette.h"

#include <cstdio>

namespace olvo
{

namespace
{
    juce::Image embeddedImage (const char* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }
}

MainComponent::MainComponent (Options options)
    : lookAndFeel (std::make_unique<MyCustomLookAndFeel>()),
      fontRegular (loadEmbeddedFont (EmbeddedFace::regular)),
      fontLight (loadEmbeddedFont (EmbeddedFace::light)),
      fontBold (loadEmbeddedFont (EmbeddedFace::bold)),
      publishedFonts (fontRegular, fontLight, fontBold),
      thread (std::make_unique<OlvoThread>()),
      imageCache (std::move (options.fetchImage)),
      dialogLauncher (std::move (options.launchDialog))
{
    // The look-and-feel with the window's colours; every child without one of its own inherits it.
    setWindowColours (*lookAndFeel);
    setLookAndFeel (lookAndFeel.get());

    addAndMakeVisible (infoButton);
    infoButton.addListener (this);
    setIconButtonImages (infoButton, embeddedImage (BinaryData::infoIcon_png, BinaryData::infoIcon_pngSize));

    addAndMakeVisible (helpButton);
    helpButton.addListener (this);
    setIconButtonImages (helpButton, embeddedImage (BinaryData::helpIcon_png, BinaryData::helpIcon_pngSize));

    addChildComponent (linkButton);
    linkButton.addListener (this);

    // The dropdown lists. The selected row takes the palette's start value (white) at saturation 0.3: a pale red
    // that stays whatever the group colours become.
    auto setUpList = [this] (juce::ListBox& list, CollectionModel& model, int group)
    {
        model.setRows ({}, {});
        addChildComponent (list);
        list.setLookAndFeel (lookAndFeel.get());
        model.setLookAndFeel (lookAndFeel.get());
        model.selectedRowColour = juce::Colour (uiPaletteStart[(size_t) group]).withSaturation (0.3f);
        list.setModel (&model);
        list.setOutlineThickness (2);
    };

    for (int g = 0; g < 3; ++g)
        setUpList (programLists[g], programListModels[g], g);

    userDragging = false;

    for (int g = 0; g < 3; ++g)
    {
        renderDropdownButton (programButtons[g], {}, dropdown::noList, true, juce::Colour (uiPalette[5]),
                              juce::Colour (uiPalette[4]));
        addAndMakeVisible (programButtons[g]);
        programButtons[g].addListener (this);

        renderDropdownButton (durationButtons[g], {}, dropdown::noList, false, juce::Colour (uiPalette[5]),
                              juce::Colour (dropdownBackgroundColour));
        addAndMakeVisible (durationButtons[g]);
        durationButtons[g].addListener (this);

        auto& label = levelLabels[g];
        addAndMakeVisible (label);
        label.setText ({}, juce::dontSendNotification);
        label.setJustificationType (juce::Justification::centred);
        label.setLookAndFeel (lookAndFeel.get());
        label.setColour (juce::Label::backgroundColourId, juce::Colour (dropdownBackgroundColour));
        label.setColour (juce::Label::textColourId, juce::Colour (uiPalette[5]));

        auto& slider = levelSliders[g];
        addAndMakeVisible (slider);
        slider.setColour (juce::Slider::thumbColourId, juce::Colours::lightgrey);
        slider.setColour (juce::Slider::trackColourId, juce::Colours::lightgrey);
        slider.setColour (juce::Slider::backgroundColourId, juce::Colours::lightgrey);
        slider.setRange (1.0, 4.0, 1.0);
        slider.setTextBoxStyle (juce::Slider::NoTextBox, true, 0, 0);
        slider.addListener (this);
        slider.setChangeNotificationOnlyOnRelease (false);
        slider.onDragStart = [this] { userDragging = true; };
        slider.onDragEnd = [this] { userDragging = false; };

        setUpList (durationLists[g], durationListModels[g], g);
    }

    addAndMakeVisible (batteryDisplay);
    batteryDisplay.setReading (0.0f, 0);

    addAndMakeVisible (netDisplay);
    netDisplay.setState (SyncStatus::noDevice, 0);

    helpButton.setTooltip ("How to Guide");
    infoButton.setTooltip ("Device Info");

    for (int g = 0; g < 3; ++g)
    {
        programButtonText[g] = {};
        programListState[g] = dropdown::noList;
        durationButtonText[g] = {};
        durationListState[g] = dropdown::noList;
    }
    openDropdown = dropdown::noneOpen;

    addChildComponent (saveButton);
    saveButton.setButtonText ("SAVE");
    saveButton.addListener (this);
    saveButton.setLookAndFeel (lookAndFeel.get());
    saveButton.setColour (juce::TextButton::buttonColourId, juce::Colour (0xff55bfed));

    addChildComponent (cancelButton);
    cancelButton.setButtonText ("CANCEL");
    cancelButton.addListener (this);
    cancelButton.setLookAndFeel (lookAndFeel.get());

    webView = options.makeWebView ? options.makeWebView() : std::make_unique<WebViewComponent>();
    addChildComponent (webView->getComponent());

    addAndMakeVisible (packageButton);
    packageListState = dropdown::noList;
    renderDropdownButton (packageButton, {}, dropdown::noList, false, juce::Colour (uiPalette[5]),
                          juce::Colour (uiPalette[3]));
    packageButton.addListener (this);

    addChildComponent (packageList);
    packageList.setLookAndFeel (lookAndFeel.get());
    packageListModel.setLookAndFeel (lookAndFeel.get());
    packageList.setModel (&packageListModel);
    packageList.setOutlineThickness (2);

    addChildComponent (fillerImageButton);
    fillerImageButton.addListener (this);
    renderDropdownButton (fillerImageButton, {}, dropdown::noList, false, juce::Colour (uiPalette[5]),
                          juce::Colour (uiPalette[7]));
    addChildComponent (fillerTextButton);
    fillerTextButton.addListener (this);

    windowShown = false;

    thread->defaultApiUrl.set (options.apiUrl.isNotEmpty() ? options.apiUrl : apiUrlFromEnvironment());
    if (options.startWorker)
        thread->startThread();

    // Presses anywhere in the window, on its children too, reach mouseDown.
    addMouseListener (this, true);

    setSize (702, 468);

    lastSaveAt = 0;
    nextAppUpdateCheck = 0;
    nextPhaseOffer = 0;
    nextPhaseDevice.reset();
    warningShown = false;
    layoutDirty = true;
    phaseText = phaseNameText = dayText = {};
    lastShowing = true;
    loadedWebUrl = {};
    imageCache.clear();

    int32_t groupColours[3];
    thread->getGroupColours (groupColours);
    for (int g = 0; g < 3; ++g)
        uiPalette[g] = (juce::uint32) groupColours[g];

    applyStartOption (launchCommandLine, *thread);

    if (options.startTimer)
        startTimer (500);
}

MainComponent::~MainComponent()
{
    stopTimer();

    // The dialogs use the look-and-feel and the engine: they go first.
    openInfoWindows.deleteAll();
    openPopups.deleteAll();
    infoOptions.content.reset();
    popupOptions.content.reset();

    // The worker ends its tick (a web request or a device call in progress included) before it is deleted.
    thread->signalThreadShouldExit();
    thread->notify();
    while (thread->isThreadRunning())
        sleepMs (100);
    thread.reset();

    // No component may refer to the look-and-feel once it is deleted.
    for (auto* button : std::initializer_list<juce::Button*> { &infoButton, &helpButton, &linkButton, &saveButton,
                                                               &cancelButton, &packageButton, &fillerImageButton,
                                                               &fillerTextButton })
        button->removeListener (this);

    for (int g = 0; g < 3; ++g)
    {
        levelSliders[g].removeListener (this);
        programButtons[g].removeListener (this);
        durationButtons[g].removeListener (this);
        levelLabels[g].setLookAndFeel (nullptr);
        programLists[g].setLookAndFeel (nullptr);
        programListModels[g].setLookAndFeel (nullptr);
        durationLists[g].setLookAndFeel (nullptr);
        durationListModels[g].setLookAndFeel (nullptr);
    }
    saveButton.setLookAndFeel (nullptr);
    cancelButton.setLookAndFeel (nullptr);
    packageList.setLookAndFeel (nullptr);
    packageListModel.setLookAndFeel (nullptr);
    setLookAndFeel (nullptr);
    lookAndFeel.reset();
}

//==============================================================================
juce::String MainComponent::chooseApiUrl (const juce::String& environmentValue)
{
    if (environmentValue.isEmpty())
        return OLVO_DEFAULT_API_URL;

    if (! json::isSafeLink (environmentValue))
    {
        std::fputs ("OLVO_API_URL ignored: not a plain absolute http(s) URL\n", stderr);
        return OLVO_DEFAULT_API_URL;
    }

    return environmentValue;
}

juce::String MainComponent::apiUrlFromEnvironment()
{
    return chooseApiUrl (juce::SystemStats::getEnvironmentVariable ("OLVO_API_URL", {}));
}

void MainComponent::applyStartOption (const juce::String& commandLine, OlvoThread& engine)
{
    if (commandLine.isEmpty())
        return;

    juce::StringArray tokens;
    tokens.addTokens (commandLine, " \n\r\t", "\"");

    for (const auto& token : tokens)
        if (token.startsWith ("-v"))
            engine.defaultViewType.set (token.substring (2));
}

} // namespace olvo
