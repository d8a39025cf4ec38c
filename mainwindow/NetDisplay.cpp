#include "NetDisplay.h"

#include "BinaryData.h"
#include "engine/OlvoThread.h"
#include "look/Fonts.h"

namespace olvo
{

int updatingIconAngle = 0;

namespace
{
    struct StatusLook
    {
        int status;
        const char* text;
        const char* icon;
        int iconSize;
    };

    // "Updating" gets its step appended; a status not in the table shows as INVALID with the error icon.
    const StatusLook statusLooks[] {
        { SyncStatus::noDevice, "No Device", BinaryData::statusNoDevice_png, BinaryData::statusNoDevice_pngSize },
        { SyncStatus::connecting, "Connecting", BinaryData::statusConnecting_png, BinaryData::statusConnecting_pngSize },
        { SyncStatus::noConnection, "No Connection", BinaryData::statusNoConnection_png,
          BinaryData::statusNoConnection_pngSize },
        { SyncStatus::updating, "Updating (", BinaryData::statusUpdating_png, BinaryData::statusUpdating_pngSize },
        { SyncStatus::unknownDevice, "Unknown Device", BinaryData::statusUnknownDevice_png,
          BinaryData::statusUnknownDevice_pngSize },
        { SyncStatus::error, "ERROR", BinaryData::statusError_png, BinaryData::statusError_pngSize },
        { SyncStatus::upToDate, "Up to Date", BinaryData::statusUpToDate_png, BinaryData::statusUpToDate_pngSize },
    };

    const StatusLook invalidLook { -1, "INVALID", BinaryData::statusError_png, BinaryData::statusError_pngSize };

    const StatusLook& lookOf (int status)
    {
        for (const auto& look : statusLooks)
            if (look.status == status)
                return look;
        return invalidLook;
    }
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

    const auto& look = lookOf (status);
    currentStatus = look.status;

    juce::String text (look.text);
    if (currentStatus == SyncStatus::updating)
        text << step << ")";

    const auto image = juce::ImageCache::getFromMemory (look.icon, look.iconSize);

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
