#include "GuiTestSupport.h"

#include "mainwindow/NetDisplay.h"

#include "BinaryData.h"
#include "engine/OlvoThread.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    juce::Image icon (const char* data, int size) { return juce::ImageCache::getFromMemory (data, size); }

    juce::AffineTransform rotationOf (const NetDisplay& display, int degrees)
    {
        const auto b = display.statusIcon.getBounds().toFloat();
        return juce::AffineTransform::rotation ((float) degrees / 180.0f * 3.1415927f, b.getCentreX(), b.getCentreY());
    }

    struct NetDisplayTest : public ::testing::Test
    {
        void SetUp() override
        {
            updatingIconAngle = 0;
            display.setBounds (0, 0, 300, 30);
        }

        juce::String text() const { return display.statusLabel.getText(); }

        NetDisplay display;
    };
}

TEST_F (NetDisplayTest, EachStatusShowsItsTextAndIcon)
{
    const auto error = icon (BinaryData::statusError_png, BinaryData::statusError_pngSize);
    const struct { int status; const char* text; juce::Image image; int current; } table[] {
        { SyncStatus::noDevice, "No Device", icon (BinaryData::statusNoDevice_png, BinaryData::statusNoDevice_pngSize), 0 },
        { SyncStatus::connecting, "Connecting", icon (BinaryData::statusConnecting_png, BinaryData::statusConnecting_pngSize), 1 },
        { SyncStatus::noConnection, "No Connection", icon (BinaryData::statusNoConnection_png, BinaryData::statusNoConnection_pngSize), 2 },
        { SyncStatus::updating, "Updating (4)", icon (BinaryData::statusUpdating_png, BinaryData::statusUpdating_pngSize), 3 },
        { SyncStatus::unknownDevice, "Unknown Device", icon (BinaryData::statusUnknownDevice_png, BinaryData::statusUnknownDevice_pngSize), 5 },
        { SyncStatus::error, "ERROR", error, 6 },
        { SyncStatus::upToDate, "Up to Date", icon (BinaryData::statusUpToDate_png, BinaryData::statusUpToDate_pngSize), 7 },
        { 4, "INVALID", error, -1 },
        { 9, "INVALID", error, -1 },
        { -7, "INVALID", error, -1 },
    };

    for (const auto& row : table)
    {
        NetDisplay fresh;
        fresh.setState (row.status, 4);
        EXPECT_EQ (fresh.statusLabel.getText(), row.text) << row.status;
        EXPECT_TRUE (fresh.statusIcon.getImage() == row.image) << row.status;
        EXPECT_TRUE (row.image.isValid());
        EXPECT_EQ (fresh.currentStatus, row.current) << row.status;
        EXPECT_TRUE (fresh.statusLabel.isVisible() && fresh.statusIcon.isVisible());
    }

    // The status icons are the sizes the artwork is drawn at.
    EXPECT_EQ (error.getBounds(), juce::Rectangle<int> (200, 200));
}

TEST_F (NetDisplayTest, ARepeatedStatusOtherThanUpdatingChangesNothing)
{
    display.setState (SyncStatus::upToDate, 0);
    display.statusLabel.setText ("changed elsewhere", juce::dontSendNotification);
    display.setState (SyncStatus::upToDate, 5);
    EXPECT_EQ (text(), "changed elsewhere");
}

TEST_F (NetDisplayTest, UpdatingRebuildsTheTextAndTurnsTheIconBy45DegreesPerCall)
{
    display.setState (SyncStatus::noDevice, 0);

    for (int call = 1; call <= 9; ++call)
    {
        display.setState (SyncStatus::updating, 6 + call);
        const auto angle = (45 * call) % 360;
        EXPECT_EQ (text(), "Updating (" + juce::String (6 + call) + ")");
        EXPECT_EQ (updatingIconAngle, angle) << "call " << call;
        EXPECT_TRUE (display.statusIcon.getTransform() == rotationOf (display, angle)) << "call " << call;
    }

    // Leaving the status puts the icon upright and the shared angle back to 0.
    display.setState (SyncStatus::upToDate, 0);
    EXPECT_EQ (updatingIconAngle, 0);
    EXPECT_TRUE (display.statusIcon.getTransform().isIdentity());
}

TEST_F (NetDisplayTest, TheAngleIsSharedByEveryStatusDisplay)
{
    NetDisplay other;
    display.setState (SyncStatus::updating, 1);
    other.setState (SyncStatus::updating, 1);
    EXPECT_EQ (updatingIconAngle, 90);
    display.setState (SyncStatus::updating, 2);
    EXPECT_EQ (updatingIconAngle, 135);
}

TEST_F (NetDisplayTest, AnUnknownStatusAppliesAgainOnTheNextCall)
{
    display.setState (9, 0);
    EXPECT_EQ (text(), "INVALID");
    EXPECT_EQ (display.currentStatus, -1);

    display.statusLabel.setText ("changed elsewhere", juce::dontSendNotification);
    display.setState (9, 0);
    EXPECT_EQ (text(), "INVALID");
}

TEST_F (NetDisplayTest, AFreshDisplayGivenMinusOneStaysEmpty)
{
    display.setState (-1, 0);
    EXPECT_EQ (text(), "");
    EXPECT_FALSE (display.statusIcon.getImage().isValid());
}

TEST_F (NetDisplayTest, IconTakesAQuarterOfTheWidthAtMostAndTheTextTheRest)
{
    display.setState (SyncStatus::upToDate, 0);
    EXPECT_EQ (display.statusIcon.getBounds(), juce::Rectangle<int> (0, 0, 30, 30));
    EXPECT_EQ (display.statusLabel.getBounds(), juce::Rectangle<int> (31, 0, 268, 30));
    EXPECT_FLOAT_EQ (display.statusLabel.getFont().getHeight(), 18.0f);

    display.setBounds (0, 0, 80, 40);
    EXPECT_EQ (display.statusIcon.getBounds(), juce::Rectangle<int> (0, 0, 20, 20));
    EXPECT_EQ (display.statusLabel.getBounds(), juce::Rectangle<int> (21, 0, 58, 40));
}

} // namespace olvo
