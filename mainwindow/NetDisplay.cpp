#include "NetDisplay.h"

#include "BinaryData.h"
#include "engine/OlvoThread.h"
#include "look/Fonts.h"

namespace olvo
{

int updatingIconAngle = 0;

namespace
{
    juce::Image icon (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); }
}

NetDisplay::NetDisplay()
{
    addAndMakeVisible (statusLabel);
    addAndMakeVisible (statusIcon);
}

NetDisplay::~NetDisplay() = default;

void NetDisplay::setState (int status, int step)
{
    if (status == currentStatus && currentStatus != SyncStatus::updating)
        return;

    currentStatus = status;
    juce::String text;
    juce::Image image;

    switch (status)
    {
        case SyncStatus::noDevice:
            text = "No Device";
            image = icon (BinaryData::statusNoDevice_png, BinaryData::statusNoDevice_pngSize);
            break;
        case SyncStatus::connecting:
            text = "Connecting";
            image = icon (BinaryData::statusConnecting_png, BinaryData::statusConnecting_pngSize);
            break;
        case SyncStatus::noConnection:
            text = "No Connection";
            image = icon (BinaryData::statusNoConnection_png, BinaryData::statusNoConnection_pngSize);
            break;
        case SyncStatus::updating:
            text = "Updating (" + juce::String (step) + ")";
            image = icon (BinaryData::statusUpdating_png, BinaryData::statusUpdating_pngSize);
            break;
        case SyncStatus::unknownDevice:
            text = "Unknown Device";
            image = icon (BinaryData::statusUnknownDevice_png, BinaryData::statusUnknownDevice_pngSize);
            break;
        case SyncStatus::error:
            text = "ERROR";
            image = icon (BinaryData::statusError_png, BinaryData::statusError_pngSize);
            break;
        case SyncStatus::upToDate:
            text = "Up to Date";
            image = icon (BinaryData::statusUpToDate_png, BinaryData::statusUpToDate_pngSize);
            break;
        default:
            text = "INVALID";
            image = icon (BinaryData::statusError_png, BinaryData::statusError_pngSize);
            currentStatus = -1;
            break;
    }

    statusLabel.setText (text, juce::dontSendNotification);

    if (image != statusIcon.getImage())
        statusIcon.setImage (image);

    if (currentStatus == SyncStatus::updating)
    {
        updatingIconAngle = updatingIconAngle < 315 ? updatingIconAngle + 45 : 0;
        const auto b = statusIcon.getBounds().toFloat();
        statusIcon.setTransform (juce::AffineTransform::rotation ((float) updatingIconAngle / 180.0f * 3.1415927f,
                                                                  b.getCentreX(), b.getCentreY()));
    }
    else
    {
        updatingIconAngle = 0;
        statusIcon.setTransform ({});
    }
}

void NetDisplay::paint (juce::Graphics& g)
{
    g.fillAll (findColour (juce::ResizableWindow::backgroundColourId));
}

void NetDisplay::resized()
{
    const auto w = (float) getWidth();
    const auto h = getHeight();
    const auto iconSize = juce::jmin (0.25f * w, (float) h);

    statusLabel.setBounds ((int) (1.0f + iconSize), 0, (int) (w - iconSize - 2.0f), h);
    statusLabel.setFont (fontOf (appFontRegular, (float) h * 18.0f / 30.0f));
    statusIcon.setBounds (0, 0, (int) iconSize, (int) iconSize);
}

} // namespace olvo
