#include "MainComponent.h"

#include "AppGlobals.h"

#include "engine/Clock.h"
#include "engine/JsonValues.h"
#include "look/Palette.h"

#include <cstdio>

namespace olvo
{

MainComponent::MainComponent (Options options)
    : lookAndFeel (std::make_unique<MyCustomLookAndFeel>()),
      fontRegular (loadEmbeddedFont (EmbeddedFace::regular)),
      fontLight (loadEmbeddedFont (EmbeddedFace::light)),
      fontBold (loadEmbeddedFont (EmbeddedFace::bold)),
      publishedFonts (fontRegular, fontLight, fontBold),
      thread (std::make_unique<OlvoThread>())
{
    setWindowColours (*lookAndFeel);
    setLookAndFeel (lookAndFeel.get());

    for (int g = 0; g < 3; ++g)
    {
        auto& model = programListModels[g];
        auto& list = programLists[g];
        model.names.clear();
        addChildComponent (list);
        list.setLookAndFeel (lookAndFeel.get());
        model.setLookAndFeel (lookAndFeel.get());
        // The palette's start value (white): the selected row stays pale whatever the group colours become.
        model.selectedRowColour = juce::Colour (uiPaletteStart[(size_t) g]).withSaturation (0.3f);
        list.setModel (&model);
        list.setOutlineThickness (2);
    }

    addAndMakeVisible (batteryDisplay);
    batteryDisplay.setReading (0.0f, 0);

    addAndMakeVisible (netDisplay);
    netDisplay.setState (SyncStatus::noDevice, 0);

    webView = options.makeWebView ? options.makeWebView() : std::make_unique<WebViewComponent>();
    addChildComponent (webView->getComponent());

    thread->defaultApiUrl.set (options.apiUrl.isNotEmpty() ? options.apiUrl : apiUrlFromEnvironment());
    if (options.startWorker)
        thread->startThread();

    setSize (702, 468);

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

    // The worker ends its tick (a web request or a device call in progress included) before it is deleted.
    thread->signalThreadShouldExit();
    thread->notify();
    while (thread->isThreadRunning())
        sleepMs (100);
    thread.reset();

    // No component may refer to the look-and-feel once it is deleted.
    for (int g = 0; g < 3; ++g)
    {
        programLists[g].setLookAndFeel (nullptr);
        programListModels[g].setLookAndFeel (nullptr);
    }
    setLookAndFeel (nullptr);
    lookAndFeel.reset();
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (findColour (juce::ResizableWindow::backgroundColourId));
}

void MainComponent::resized()
{
    const auto w = (double) getWidth();
    const auto h = (double) getHeight();

    tooltipFontHeight = (float) (0.03 * h);

    // The program lists open over the middle of the group panels.
    const auto outline = getWidth() > 800 ? 2 : 1;
    const auto top = (int) (0.33 * h);
    const auto panelHeight = (int) (0.43 * h);
    const auto rowHeight = (int) (0.36f * (float) h / 10.0f);
    const double listLeft[3] { 0.05, 0.25, 0.45 };

    for (int g = 0; g < 3; ++g)
    {
        auto& list = programLists[g];
        list.setOutlineThickness (outline);
        list.setRowHeight (juce::jmax (1, rowHeight));
        list.updateContent();
        list.setBounds ((int) (listLeft[g] * w), (int) (top + 0.44 * panelHeight), (int) (0.5 * w),
                        10 * rowHeight + 2 * outline);
    }

    batteryDisplay.setBounds ((int) (0.05 * w), (int) (0.885 * h), (int) (0.22 * w), (int) (0.06 * h));
    netDisplay.setBounds ((int) (0.3 * w), (int) (0.875 * h), (int) (0.3 * w), (int) (0.08 * h));
    webView->getComponent().setBounds (0, 0, getWidth(), (int) (0.86 * h));
}

void MainComponent::timerCallback()
{
    netDisplay.setState (thread->status, thread->syncStep);
    batteryDisplay.setReading (thread->getBatteryLevel(), (uint8_t) thread->batteryFlags.load());
}

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
