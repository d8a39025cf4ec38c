#include "OlvoPopup.h"

#include "InfoText.h"
#include "Popups.h"

#include "BinaryData.h"
#include "engine/OlvoThread.h"
#include "look/Fonts.h"
#include "platform/Links.h"

namespace olvo
{

namespace
{
    void openIfGiven (const juce::String& url)
    {
        if (url.isNotEmpty())
            platform::openLink (url);
    }
}

OlvoPopup::OlvoPopup()
{
    for (auto* button : { &dismissButton, &actionButton })
    {
        addAndMakeVisible (*button);
        button->addListener (this);
    }

    dismissButton.setButtonText ("LATER");
    actionButton.setButtonText ("UPDATE");
    addChildComponent (delayBox);

    startTimer (10);
}

OlvoPopup::~OlvoPopup()
{
    stopTimer();
    dismissButton.removeListener (this);
    actionButton.removeListener (this);
    setLookAndFeel (nullptr);
}

void OlvoPopup::configure (const PopupRequest& request)
{
    urlOrChoices = request.urlOrChoices;
    message = request.message;
    heading = request.heading;
    link = request.link;
    kind = request.kind;

    delayBox.setVisible (false);
    actionButton.setVisible (true);

    switch (kind)
    {
        case PopupKind::newApp:
            dismissButton.setButtonText (link.isEmpty() ? "LATER" : "DETAILS");
            actionButton.setButtonText ("UPDATE");
            break;

        case PopupKind::nextPhase:
        {
            dismissButton.setButtonText ("LATER");
            actionButton.setButtonText ("ADVANCE");

            delayBox.clear (juce::dontSendNotification);
            const auto options = parseDelayOptions (urlOrChoices);
            for (const auto& option : options)
                delayBox.addItem (option.name, option.id);

            delayBox.setSelectedId (options.getFirst().id, juce::sendNotificationAsync);
            delayBox.setVisible (true);
            break;
        }

        case PopupKind::configurationUpdated:
            dismissButton.setButtonText ("DONE");
            actionButton.setButtonText ("INFO");
            actionButton.setVisible (urlOrChoices.isNotEmpty());
            break;

        case PopupKind::warning:
            dismissButton.setButtonText ("DONE");
            actionButton.setVisible (false);
            break;

        default:
            dismissButton.setButtonText ("DONE");
            actionButton.setButtonText ("EXIT");
            break;
    }

    resized();
    repaint();
}

//==============================================================================
juce::GlyphArrangement OlvoPopup::layoutMessage (const juce::String& text, int width, int height)
{
    const auto w = (float) width, h = (float) height;
    const juce::Rectangle<float> box (0.1f * w, 0.25f * h, 0.8f * w, 0.55f * h);

    juce::GlyphArrangement glyphs;
    glyphs.addFittedText (fontOf (appFontRegular, h * 24.0f / 400.0f), text, box.getX(), box.getY(),
                          box.getWidth(), box.getHeight(), juce::Justification::topLeft, 10, 1.0f);

    if (glyphs.getBoundingBox (0, -1, true).getHeight() > box.getHeight())
    {
        glyphs.clear();
        glyphs.addFittedText (fontOf (appFontRegular, h * 20.0f / 400.0f), text, box.getX(), box.getY(),
                              box.getWidth(), box.getHeight(), juce::Justification::topLeft, 12, 1.0f);
    }

    return glyphs;
}

void OlvoPopup::paint (juce::Graphics& g)
{
    const auto w = getWidth(), h = getHeight();
    const auto& lf = getLookAndFeel();

    g.fillAll (lf.findColour (juce::ResizableWindow::backgroundColourId));
    g.setColour (lf.findColour (juce::DocumentWindow::textColourId));

    const auto icon = juce::ImageCache::getFromMemory (BinaryData::trayIconColour_png,
                                                       BinaryData::trayIconColour_pngSize);
    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);
    g.drawImage (icon, { 0.05f * (float) w, 0.08f * (float) h, 0.08f * (float) w, 0.08f * (float) w },
                 juce::RectanglePlacement::stretchToFit);

    g.setFont (fontOf (appFontRegular, (float) h * 24.0f / 400.0f));

    const auto line = [&g, w, h] (const juce::String& text, double x, double y, double width)
    {
        g.drawFittedText (text, proportionalBounds (w, h, x, y, width, 0.1), juce::Justification::centred, 1);
    };

    switch (kind)
    {
        case PopupKind::newApp:
            line (heading, 0.1, 0.2, 0.8);
            line (juce::String ("Current Version: ") + applicationVersionText, 0.1, 0.3, 0.8);
            line (message, 0.1, 0.4, 0.8);
            break;

        case PopupKind::nextPhase:
        case PopupKind::configurationUpdated:
        case PopupKind::warning:
            line (heading, 0.2, 0.1, 0.6);
            layoutMessage (message, w, h).draw (g);
            break;

        default:
            line ("Unknown Popup # " + juce::String (kind), 0.1, 0.4, 0.8);
            break;
    }
}

void OlvoPopup::resized()
{
    const auto w = getWidth(), h = getHeight();
    const auto button = [w, h] (double x, double width) { return proportionalBounds (w, h, x, 0.87, width, 0.08); };

    switch (kind)
    {
        case PopupKind::nextPhase:
            actionButton.setBounds (button (0.1, 0.2));
            dismissButton.setBounds (button (0.4, 0.2));
            delayBox.setBounds (button (0.7, 0.2));
            break;

        case PopupKind::warning:
            actionButton.setBounds (button (0.2, 0.1));
            dismissButton.setBounds (button (0.4, 0.2));
            break;

        default:
            actionButton.setBounds (button (0.2, 0.2));
            dismissButton.setBounds (button (0.6, 0.2));
            break;
    }
}

void OlvoPopup::buttonClicked (juce::Button* button)
{
    int result = 1;

    if (button == &actionButton)
    {
        if (kind == PopupKind::newApp || kind == PopupKind::configurationUpdated)
            openIfGiven (urlOrChoices);

        if (kind == PopupKind::nextPhase)
            result = -1;
    }
    else if (button == &dismissButton)
    {
        if (kind == PopupKind::nextPhase)
            result = laterResult (urlOrChoices, delayBox.getSelectedId());
        else if (kind == PopupKind::newApp)
            openIfGiven (link);
    }
    else
    {
        return;
    }

    if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
        dialog->exitModalState (result);
}

void OlvoPopup::timerCallback()
{
    auto* dialog = findParentComponentOfClass<juce::DialogWindow>();
    if (dialog == nullptr)
        return;

    stopTimer();
    const auto position = getScreenPosition();
    dialog->setTopLeftPosition (position.x, position.y - getHeight() / 8);
}

} // namespace olvo
