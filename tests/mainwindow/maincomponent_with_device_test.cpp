// The main window doing its whole job with the worker and the timer running, on the simulated device and the local
// web API: it mirrors them, hands the user's choices to the engine (which sends them), and follows the device away.

#include "GuiTestSupport.h"

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

    OlvoPopup* openNextPhasePopup()
    {
        if (auto* dialog = dynamic_cast<juce::DialogWindow*> (juce::Component::getCurrentlyModalComponent()))
            if (dialog->getName() == "OlvoAssistant - Update Available")
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
    plugReadyDevice (scenario);

    auto options = test::windowTestOptions();
    options.startWorker = true;
    options.startTimer = true;
    options.apiUrl = server.url();
    options.launchDialog = {};   // real dialogs
    auto window = std::make_unique<MainComponent> (options);
    auto& c = *window;

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

    // The next phase is offered; the user postpones it by a week, and the server hears it.
    OlvoPopup* popup = nullptr;
    ASSERT_TRUE (test::pumpUntil ([&] { return (popup = openNextPhasePopup()) != nullptr; }, 10000));
    popup->delayBox.setSelectedId (2, juce::dontSendNotification);   // "1 week"
    popup->dismissButton.triggerClick();
    const auto uid = [&] { return server.lastRequest() ? server.lastRequest()->json["UID"].toString() : juce::String(); };
    EXPECT_TRUE (test::pumpUntil ([&] { auto d = server.device (uid()); return d && d->lastAdvancementDelay == "7"; },
                                  20000));

    // A brightness change with SAVE reaches the device's settings record (group 0's level, byte 17).
    const int wanted = sim::SimDevice::settings()[17] == 8 ? 7 : 8;
    ASSERT_TRUE (test::pumpUntil ([&]
    {
        // The engine takes a level only while up to date: the user tries again until it does.
        c.levelSliders[0].setValue (wanted, juce::dontSendNotification);
        c.sliderValueChanged (&c.levelSliders[0]);
        return c.thread->levelChanged[0].load();
    }, 30000));
    EXPECT_TRUE (test::pumpUntil ([&] { return c.saveButton.isVisible(); }, 2000));
    c.buttonClicked (&c.saveButton);
    EXPECT_TRUE (test::pumpUntil ([&] { return sim::SimDevice::settings()[17] == wanted; }, 20000))
        << (int) sim::SimDevice::settings()[17];

    // The device goes: the window lets go of it.
    sim::SimDevice::unplug();
    EXPECT_TRUE (test::pumpUntil ([&] { return ! c.windowShown; }, 10000));
    EXPECT_EQ (c.netDisplay.statusLabel.getText(), "No Device");
    EXPECT_EQ (c.programButtonText[0], "");

    window.reset();
    server.stop();
    sim::SimDevice::reset();
}

} // namespace olvo
