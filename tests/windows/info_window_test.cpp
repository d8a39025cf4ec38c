#include "GuiTestSupport.h"

#include "windows/InfoText.h"
#include "windows/OlvoInfo.h"

#include "engine/Clock.h"
#include "look/MyCustomLookAndFeel.h"
#include "look/Palette.h"

#include <gtest/gtest.h>

#include <optional>

namespace olvo
{

namespace
{
    /** The engine's time, standing still unless a test moves it. */
    struct StillClock final : public Clock
    {
        int64_t now = 1'700'000'000'000;

        int64_t nowMs() override { return now; }
        void sleepMs (int) override {}
        bool waitOnThread (juce::Thread&, int) override { return false; }
    };

    struct InfoTest : public ::testing::Test
    {
        StillClock clock;
        MyCustomLookAndFeel lookAndFeel;
        juce::Component mainContent;
        OlvoThread engine;   // worker not started
        juce::DialogWindow::LaunchOptions options;
        OpenDialogs dialogs;

        InfoTest()
        {
            setClock (&clock);
            setWindowColours (lookAndFeel);
            mainContent.setSize (702, 468);
        }

        ~InfoTest() override
        {
            dialogs.deleteAll();
            test::pumpFor (20);
            setClock (nullptr);
        }

        /** A device with its serial, firmware version and a battery reading. */
        void plugIn (const char* serial, int major, int minor, int tertiary)
        {
            DeviceIds ids;
            std::memcpy (ids.bytes, serial, std::strlen (serial));
            ids.bytes[wire::idsMajor] = (uint8_t) major;
            ids.bytes[wire::idsMinor] = (uint8_t) minor;
            ids.bytes[wire::idsTertiary] = (uint8_t) (tertiary >> 8);
            ids.bytes[wire::idsTertiary + 1] = (uint8_t) tertiary;
            engine.deviceIds.set (ids);
            engine.batteryVoltage = 3.9f;
            engine.batteryValid = true;
            engine.deviceOpen = true;
        }

        void setSlot (int s, int code, int major, int minor, const char* name)
        {
            engine.slotTable.update ([=] (SlotTable& t)
            {
                t.slotProgramCode[s] = code;
                t.slotVersionMajor[s] = major;
                t.slotVersionMinor[s] = minor;
                std::memset (t.slotProgramName[s], 0, wire::slotNameSize);
                std::memcpy (t.slotProgramName[s], name, std::min (std::strlen (name), (size_t) wire::slotNameSize));
            });
        }

        /** An information window as the Information button builds it, its timer stopped: the test runs the passes. */
        std::unique_ptr<OlvoInfo> makeInfo()
        {
            auto info = std::make_unique<OlvoInfo>();
            info->stopTimer();
            info->setLookAndFeel (&lookAndFeel);
            info->thread = &engine;
            info->setSize (702, 468);
            return info;
        }

        struct Launched
        {
            juce::Component::SafePointer<juce::DialogWindow> window;
            std::shared_ptr<std::optional<int>> result;

            OlvoInfo& info() const { return *dynamic_cast<OlvoInfo*> (window->getContentComponent()); }
        };

        /** The dialog as the application launches it (asynchronous, modal), its timer stopped, its result recorded. */
        Launched launch()
        {
            auto* window = launchInfoWindow (options, engine, mainContent, lookAndFeel);
            auto result = std::make_shared<std::optional<int>>();
            juce::ModalComponentManager::getInstance()->attachCallback (
                window, juce::ModalCallbackFunction::create ([result] (int r) { *result = r; }));
            dialogs.add (window);
            Launched launched { window, result };
            launched.info().stopTimer();
            return launched;
        }

        /** Whether the dialog closes (and deletes itself) within the time. */
        static bool closes (const Launched& launched, int withinMs = 2000)
        {
            return test::pumpUntil ([&launched] { return launched.window == nullptr; }, withinMs);
        }
    };
}

TEST_F (InfoTest, IsBuiltEmptyUntilItsFirstPass)
{
    OlvoInfo info;
    EXPECT_TRUE (info.isTimerRunning());
    EXPECT_EQ (info.getTimerInterval(), 500);
    EXPECT_EQ (info.thread, nullptr);
    EXPECT_EQ (info.getChildComponent (0), &info.netDisplay) << "the status lies behind the other children";
    EXPECT_EQ (info.doneButton.getButtonText(), "DONE");
    EXPECT_TRUE (info.infoText.isReadOnly());
    EXPECT_TRUE (info.infoText.isMultiLine());
    EXPECT_FALSE (info.infoText.isCaretVisible());
    EXPECT_EQ (info.batteryDisplay.level, 0.0f);
    EXPECT_EQ (info.batteryDisplay.flags, 0);

    info.timerCallback();   // no engine yet: nothing
    EXPECT_EQ (info.infoText.getText(), "");
    EXPECT_EQ (info.netDisplay.currentStatus, -1);
}

TEST_F (InfoTest, TheTextFollowsTheDevice)
{
    const auto info = makeInfo();
    plugIn ("OLV-000123", 1, 2, 4);
    setSlot (0, 101, 1, 0, "Calm");
    setSlot (1, 102, 1, 0, "Focus");
    setSlot (2, 103, 2, 1, "Sleep");
    setSlot (4, 201, 1, 1, "Relief");
    setSlot (5, 201, 1, 1, "Relief");

    info->timerCallback();
    EXPECT_EQ (info->infoText.getText(),
               "Serial Number: OLV-000123\nFirmware Version: 1.2.4\nOlvoAssist Version: 1.2.8\n"
               "201 1.1 Relief\n101 1.0 Calm; 102 1.0 Focus\n103 2.1 Sleep");

    // Firmware before 1.2.0: two columns padded with spaces, measured in the regular font at height 20.
    plugIn ("OLV-000123", 1, 1, 9);
    info->timerCallback();
    const auto lines = juce::StringArray::fromLines (info->infoText.getText());
    ASSERT_EQ (lines.size(), 6);
    EXPECT_TRUE (lines[3].startsWith ("101 1.0 Calm     ") && lines[3].endsWith (" 201 1.1 Relief")) << lines[3];
    EXPECT_TRUE (lines[4].startsWith ("102 1.0 Focus ") && lines[4].endsWith (juce::String::charToString (0xa0)));
    EXPECT_TRUE (lines[5].startsWith ("103 2.1 Sleep "));

    // Gone, within the grace of a firmware update: "Waiting", no items.
    engine.deviceOpen = false;
    engine.lastFirmwareAttempt = clock.now - 1000;
    info->timerCallback();
    EXPECT_EQ (info->infoText.getText(),
               "Serial Number: Waiting\nFirmware Version: \nOlvoAssist Version: 1.2.8\n\n\n");

    engine.lastFirmwareAttempt = 0;
    info->timerCallback();
    EXPECT_EQ (info->infoText.getText(), "Serial Number: \nFirmware Version: \nOlvoAssist Version: 1.2.8\n\n\n");
}

TEST_F (InfoTest, TheEditorsFontShrinksWhenTheTextDoesNotFit)
{
    const auto info = makeInfo();   // 468 high: 21.06 (18 / 400), or 16.38 (14 / 400)
    plugIn ("OLV-000123", 1, 2, 4);
    setSlot (4, 201, 1, 1, "Relief");
    info->timerCallback();
    EXPECT_NEAR (info->infoText.getFont().getHeight(), 21.06f, 0.01f);

    // Long names in every slot: each pair wraps.
    for (int s = 0; s < 6; ++s)
        setSlot (s, 300 + s, 1, 0, "A Rather Long Program Name Here");
    info->timerCallback();
    EXPECT_NEAR (info->infoText.getFont().getHeight(), 16.38f, 0.01f);
}

TEST_F (InfoTest, TheStatusKeepsTheEnginesDuringTheFirmwareGrace)
{
    const auto info = makeInfo();
    engine.status = SyncStatus::updating;
    engine.syncStep = 7;

    const struct { bool open; int64_t attemptAgo; const char* shown; } table[] {
        { true, 1'000'000, "Updating (7)" },
        { false, 1000, "Updating (7)" },
        { false, 4999, "Updating (7)" },
        { false, 5000, "No Device" },   // the engine's own rule (getSerialNumber): less than 5000 ms
        { false, 1'000'000, "No Device" },
    };

    for (const auto& row : table)
    {
        engine.deviceOpen = row.open;
        engine.lastFirmwareAttempt = clock.now - row.attemptAgo;
        info->timerCallback();
        EXPECT_EQ (info->netDisplay.statusLabel.getText(), row.shown) << row.open << " " << row.attemptAgo;
    }
}

TEST_F (InfoTest, TheGaugeShowsTheReadingOfAnOpenDevice)
{
    const auto info = makeInfo();
    plugIn ("OLV-1", 1, 2, 4);
    engine.batteryFlags = BatteryDisplay::charging | 0x100;   // bits the gauge does not know are dropped
    info->timerCallback();
    EXPECT_EQ (info->batteryDisplay.level, juce::jmin (engine.getBatteryLevel(), 0.99f));
    EXPECT_GT (info->batteryDisplay.level, 0.0f);
    EXPECT_EQ (info->batteryDisplay.flags, BatteryDisplay::charging);

    // No valid reading: 0 % without flags.
    engine.batteryValid = false;
    info->timerCallback();
    EXPECT_EQ (info->batteryDisplay.level, 0.0f);
    EXPECT_EQ (info->batteryDisplay.flags, 0);
}

TEST_F (InfoTest, TheDialogClosesWhenTheDeviceGoes)
{
    plugIn ("OLV-1", 1, 2, 4);
    const auto launched = launch();
    auto& info = launched.info();
    EXPECT_EQ (info.getWidth(), 702);
    EXPECT_EQ (info.getHeight(), 468);
    EXPECT_EQ (info.thread, &engine);

    info.timerCallback();
    info.timerCallback();
    EXPECT_FALSE (closes (launched, 200));

    engine.deviceOpen = false;
    info.timerCallback();
    ASSERT_TRUE (closes (launched));
    EXPECT_EQ (*launched.result, std::optional<int> (1));
}

TEST_F (InfoTest, AWindowOpenedWithoutADeviceStaysOpen)
{
    // A first window saw a reading and was closed with DONE.
    plugIn ("OLV-1", 1, 2, 4);
    const auto first = launch();
    first.info().timerCallback();
    first.info().doneButton.triggerClick();
    ASSERT_TRUE (closes (first));
    EXPECT_EQ (*first.result, std::optional<int> (1));

    // The device goes; a new window opened now is not closed by the earlier window's reading.
    engine.deviceOpen = false;
    const auto second = launch();
    second.info().timerCallback();
    second.info().timerCallback();
    EXPECT_FALSE (closes (second, 200));

    // It closes once a reading it saw goes.
    engine.deviceOpen = true;
    second.info().timerCallback();
    engine.deviceOpen = false;
    second.info().timerCallback();
    EXPECT_TRUE (closes (second));
}

TEST_F (InfoTest, WithoutADialogThereIsNothingToClose)
{
    const auto info = makeInfo();
    plugIn ("OLV-1", 1, 2, 4);
    info->timerCallback();
    engine.deviceOpen = false;
    info->timerCallback();
    info->buttonClicked (&info->doneButton);
    EXPECT_LT (info->lastInfoBatteryLevel, 0.0f);
}

TEST_F (InfoTest, LaunchedAsTheInformationButtonDoes)
{
    const DialogLauncher record = [this] (juce::DialogWindow::LaunchOptions& o) -> juce::DialogWindow*
    {
        EXPECT_EQ (o.dialogTitle, "OlvoAssistant - Information");
        EXPECT_EQ (o.dialogBackgroundColour, juce::Colour (0xfff1f7fa));
        EXPECT_TRUE (o.escapeKeyTriggersCloseButton);
        EXPECT_TRUE (o.useNativeTitleBar);
        EXPECT_FALSE (o.resizable);

        auto* info = dynamic_cast<OlvoInfo*> (o.content.get());
        EXPECT_NE (info, nullptr);
        if (info != nullptr)
        {
            EXPECT_EQ (info->thread, &engine);
            EXPECT_EQ (&info->getLookAndFeel(), &lookAndFeel);
            EXPECT_EQ (info->getBounds(), juce::Rectangle<int> (0, 0, 702, 468));
            EXPECT_TRUE (info->isTimerRunning());
        }
        return nullptr;
    };

    EXPECT_EQ (launchInfoWindow (options, engine, mainContent, lookAndFeel, record), nullptr);

    const auto launched = launch();
    EXPECT_EQ (launched.window->getName(), "OlvoAssistant - Information");
    EXPECT_TRUE (launched.window->isCurrentlyModal());
}

} // namespace olvo
