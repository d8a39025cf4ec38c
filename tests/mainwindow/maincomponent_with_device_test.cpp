// The main window doing its whole job with the worker and the timer running, on the simulated device and the local
// web API: it shows itself when the device arrives, mirrors the device and the server, hands the user's choices to the
// engine (which sends them), and hides with its dialogs when the device goes.

#include "GuiTestSupport.h"
#include "TimerFixture.h"

#include "mainwindow/AppGlobals.h"
#include "mainwindow/MainComponent.h"
#include "sim/device/SimDevice.h"
#include "sim/webapi/LocalWebApi.h"
#include "windows/OlvoPopup.h"

#include <gtest/gtest.h>

namespace olvo
{

namespace
{
    /** The device as the local web API wants it (firmware 1.2.0, its six programs), so that nothing is written. */
    void plugReadyDevice (const sim::Scenario& scenario)
    {
        sim::SimDevice::reset();
        sim::SimDevice::setFirmwareVersion (1, 2, 0);
        for (int s = 0; s < 6; ++s)
        {
            const int code = scenario.wantedSlotCodes[(size_t) s];
            for (const auto& program : scenario.programs)
            {
                if (program.code != code)
                    continue;

                sim::SimSlotEntry entry;
                const auto name = program.name.toStdString();
                std::copy (name.begin(), name.end(), entry.name.begin());
                entry.code = (uint32_t) code;
                entry.major = (uint8_t) program.versionMajor;
                entry.minor = (uint8_t) program.versionMinor;
                sim::SimDevice::setSlotEntry (s, entry);
            }
        }
        sim::SimDevice::plug();
    }

    /** The open dialog with this title, or null. */
    juce::DialogWindow* openDialog (const juce::String& title)
    {
        for (int i = juce::TopLevelWindow::getNumTopLevelWindows(); --i >= 0;)
            if (auto* w = dynamic_cast<juce::DialogWindow*> (juce::TopLevelWindow::getTopLevelWindow (i)))
                if (w->getName() == title)
                    return w;
        return nullptr;
    }

    OlvoPopup* openNextPhasePopup()
    {
        if (auto* dialog = openDialog ("OlvoAssistant - Update Available"))
            return dynamic_cast<OlvoPopup*> (dialog->getContentComponent());
        return nullptr;
    }
}

TEST (MainComponentWithDevice, MirrorsTheDeviceAndServerSendsTheUsersChoicesAndFollowsTheDeviceAway)
{
    launchCommandLine = {};

    sim::LocalWebApi server;
    auto scenario = sim::LocalWebApi::defaultScenario();
    scenario.viewType = "link";
    scenario.regimen.readyToAdvance = true;
    server.setScenario (scenario);
    ASSERT_GT (server.start(), 0);
    sim::SimDevice::reset();

    auto options = test::windowTestOptions();
    options.startWorker = true;
    options.startTimer = true;
    options.apiUrl = server.url();
    options.launchDialog = {};   // real dialogs
    auto window = std::make_unique<MainComponent> (options);
    auto& c = *window;

    // The application's main window, hidden as it starts with a tray host; no device yet.
    auto screen = std::make_unique<test::OnScreen> (c);
    test::pumpFor (1500);
    EXPECT_FALSE (screen->frame.isVisible());
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "No Device");

    // The device is plugged in: the window shows.
    plugReadyDevice (scenario);
    EXPECT_TRUE (test::pumpUntil ([&] { return screen->frame.isVisible() && c.windowShown; }, 30000));

    // Up to date, with the server's programs, packages and regimen.
    ASSERT_TRUE (test::pumpUntil ([&] { return c.netDisplay.statusLabel.getText() == "Up to Date"
                                               && c.programButtonText[2].isNotEmpty(); }, 60000))
        << c.netDisplay.statusLabel.getText();
    EXPECT_EQ (c.programButtonText[0], "Multi Balance");
    EXPECT_EQ (c.programButtonText[1], "Bright Calm");
    EXPECT_EQ (c.programButtonText[2], "Orange Warmth");
    EXPECT_EQ (c.programListModels[1].getNumRows(), 3);
    EXPECT_EQ (c.packageListModel.names, juce::StringArray ({ "Starter package", "Sports package" }));
    EXPECT_EQ (c.phaseText, "Phase 1 of 3");
    EXPECT_EQ (c.dayText, "Day 6 of 7");
    EXPECT_EQ (c.phaseNameText, "Getting started");
    EXPECT_EQ (c.linkButton.getButtonText(), scenario.webappLinkText);

    // The next phase is offered; the user advances, the server hears it and the window shows the new phase.
    OlvoPopup* popup = nullptr;
    ASSERT_TRUE (test::pumpUntil ([&] { return (popup = openNextPhasePopup()) != nullptr; }, 30000));
    EXPECT_EQ (popup->actionButton.getButtonText(), "ADVANCE");
    popup->actionButton.triggerClick();
    const auto uid = [&] { return server.lastRequest() ? server.lastRequest()->json["UID"].toString() : juce::String(); };
    EXPECT_TRUE (test::pumpUntil ([&] { auto d = server.device (uid()); return d && d->lastAdvancementDelay == "0"
                                                                               && d->currentPhase == 2; }, 60000));
    EXPECT_TRUE (test::pumpUntil ([&] { return c.phaseText == "Phase 2 of 3" && c.phaseNameText == "Building up"; },
                                  60000))
        << c.phaseText << " / " << c.phaseNameText;

    // The server welcomes the new phase with a popup, which stays open for now.
    EXPECT_TRUE (test::pumpUntil ([&] { return openDialog ("OlvoAssistant - Configuration Updated") != nullptr; },
                                  60000));

    // A brightness change with SAVE reaches the device's settings record (group 0's level, byte 17).
    const int wanted = sim::SimDevice::settings()[17] == 8 ? 7 : 8;
    ASSERT_TRUE (test::pumpUntil ([&]
    {
        // The engine takes a level only while up to date: the user tries again until it does.
        c.levelSliders[0].setValue (wanted, juce::dontSendNotification);
        c.sliderValueChanged (&c.levelSliders[0]);
        return c.thread->levelChanged[0].load();
    }, 30000));
    EXPECT_TRUE (test::pumpUntil ([&] { return c.saveButton.isVisible(); }, 30000));
    c.buttonClicked (&c.saveButton);
    EXPECT_TRUE (test::pumpUntil ([&] { return sim::SimDevice::settings()[17] == wanted; }, 60000))
        << (int) sim::SimDevice::settings()[17];

    // The information window shows the device.
    c.buttonClicked (&c.infoButton);
    EXPECT_TRUE (test::pumpUntil ([&] { return openDialog ("OlvoAssistant - Information") != nullptr; }, 30000));
    EXPECT_EQ (c.openInfoWindows.size(), 1);

    // The device goes: the window hides, and the popup and the information window close with it.
    sim::SimDevice::unplug();
    EXPECT_TRUE (test::pumpUntil ([&] { return ! c.windowShown; }, 30000));
    EXPECT_FALSE (screen->frame.isVisible());
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "No Device");
    EXPECT_EQ (c.programButtonText[0], "");
    EXPECT_EQ (c.openPopups.size(), 0);
    EXPECT_EQ (c.openInfoWindows.size(), 0);
    for (auto* title : { "OlvoAssistant - Configuration Updated", "OlvoAssistant - Information" })
        EXPECT_TRUE (test::pumpUntil ([title] { return openDialog (title) == nullptr; })) << title << " is still open";

    screen.reset();
    window.reset();
    server.stop();
    sim::SimDevice::reset();
}

} // namespace olvo
