#include "OlvoInfo.h"

#include "InfoText.h"

#include "BinaryData.h"
#include "look/Fonts.h"

namespace olvo
{

namespace
{
    juce::Image embedded (const void* data, int size)
    {
        return juce::ImageCache::getFromMemory (data, size);
    }
}

OlvoInfo::OlvoInfo()
{
    infoText.setMultiLine (true, true);
    infoText.setReadOnly (true);
    infoText.setCaretVisible (false);
    infoText.setScrollBarThickness (12);
    addAndMakeVisible (infoText);

    doneButton.setButtonText ("DONE");
    doneButton.addListener (this);
    addAndMakeVisible (doneButton);

    addAndMakeVisible (batteryDisplay);
    updateBatteryGauge (batteryDisplay, 0.0f, 0);

    addAndMakeVisible (netDisplay);
    netDisplay.toBack();

    startTimer (500);
}

OlvoInfo::~OlvoInfo()
{
    stopTimer();
    doneButton.removeListener (this);
    setLookAndFeel (nullptr);
}

//==============================================================================
void OlvoInfo::paint (juce::Graphics& g)
{
    const auto w = (float) getWidth(), h = (float) getHeight();
    const auto& lf = getLookAndFeel();

    g.fillAll (lf.findColour (juce::ResizableWindow::backgroundColourId));
    g.setColour (lf.findColour (juce::DocumentWindow::textColourId));
    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);

    const auto draw = [&g] (const juce::Image& image, juce::Rectangle<float> area)
    {
        g.drawImage (image, area, juce::RectanglePlacement::stretchToFit);
    };

    draw (embedded (BinaryData::trayIconColour_png, BinaryData::trayIconColour_pngSize),
          { 0.05f * w, 0.08f * h, 0.08f * w, 0.08f * w });
    draw (embedded (BinaryData::infoIcon_png, BinaryData::infoIcon_pngSize),
          { 0.81f * w, 0.86f * h, 0.06f * w, 0.06f * w });
    draw (embedded (BinaryData::logoBanner_png, BinaryData::logoBanner_pngSize),
          { 0.3f * w, 0.6f * h, 0.4f * w, 0.15f * h });
}

void OlvoInfo::resized()
{
    const auto w = getWidth(), h = getHeight();

    doneButton.setBounds (proportionalBounds (w, h, 0.54, 0.87, 0.16, 0.08));
    infoText.setBounds (proportionalBounds (w, h, 0.2, 0.2, 0.6, 0.4));
    applyEditorFont (24.0f, 21.0f);
    batteryDisplay.setBounds (proportionalBounds (w, h, 0.05, 0.885, 0.22, 0.06));
    netDisplay.setBounds (proportionalBounds (w, h, 0.3, 0.875, 0.3, 0.08));
}

void OlvoInfo::applyEditorFont (float heightOver400Factor, float fallbackFactor)
{
    const auto h = (float) getHeight();

    infoText.applyFontToAllText (fontOf (appFontRegular, h * heightOver400Factor / 400.0f));

    if (infoText.getTextHeight() > infoText.getHeight())
        infoText.applyFontToAllText (fontOf (appFontRegular, h * fallbackFactor / 400.0f));
}

void OlvoInfo::buttonClicked (juce::Button* button)
{
    if (button != &doneButton)
        return;

    if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
        dialog->exitModalState (1);
}

//==============================================================================
void OlvoInfo::timerCallback()
{
    if (thread == nullptr)
        return;

    auto& engine = *thread;

    juce::String serial;
    const bool present = engine.getSerialNumber (serial);   // open, or within the grace after a firmware attempt
    const auto firmware = engine.getFirmwareVersionString();
    const bool open = engine.deviceOpen;

    const auto measureFont = fontOf (appFontRegular, 20.0f);
    const auto width = [&measureFont] (const juce::String& text) { return measureFont.getStringWidthFloat (text); };

    infoText.setText (informationText (serial, firmware, slotEntriesOf (engine.slotTable.get(), open), width), true);
    applyEditorFont (18.0f, 14.0f);

    // The device has gone when a reading turns into none (NaN counts as none): the dialog closes.
    const auto level = engine.getBatteryLevel();
    const bool hasReading = level >= 0.0f, hadReading = lastInfoBatteryLevel >= 0.0f;
    lastInfoBatteryLevel = level;

    if (! hasReading && hadReading)
        if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
            dialog->exitModalState (1);

    const auto gaugeFlags = open && engine.batteryValid ? (uint8_t) (engine.batteryFlags & 0xff) : (uint8_t) 0;
    updateBatteryGauge (batteryDisplay, level, gaugeFlags);

    netDisplay.setState (present ? engine.status.load() : (int) SyncStatus::noDevice, engine.syncStep);
}

//==============================================================================
juce::DialogWindow* launchInfoWindow (juce::DialogWindow::LaunchOptions& options, OlvoThread& engine,
                                      const juce::Component& mainContent, juce::LookAndFeel& lookAndFeel,
                                      const DialogLauncher& launcher)
{
    auto info = std::make_unique<OlvoInfo>();
    info->setLookAndFeel (&lookAndFeel);
    info->thread = &engine;
    info->setSize (mainContent.getWidth(), mainContent.getHeight());

    return launchDialog (options, std::move (info), "Information", lookAndFeel, launcher);
}

} // namespace olvo
