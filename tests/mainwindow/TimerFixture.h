#pragma once

#include "GuiTestSupport.h"

#include "mainwindow/AppGlobals.h"
#include "mainwindow/MainComponent.h"
#include "windows/OlvoPopup.h"

#include "look/Palette.h"

#include <gtest/gtest.h>

#include <array>
#include <memory>
#include <vector>

namespace olvo::test
{

/** A download that brought a 40 x 20 red PNG (status 200): the logo and icon of the window tests. */
inline ImageFetch redLogoFetch()
{
    juce::Image logo (juce::Image::RGB, 40, 20, true);
    logo.clear (logo.getBounds(), juce::Colours::red);
    juce::MemoryOutputStream out;
    juce::PNGImageFormat().writeImageToStream (logo, out);
    ImageFetch fetch;
    fetch.result = ImageFetch::Result::body;
    fetch.statusCode = 200;
    fetch.body = out.getMemoryBlock();
    return fetch;
}

//==============================================================================
/** The main window on its seams for timer tests: worker and timer stopped, the engine's clock held still, dialog
    launches recorded, a stand-in web view; the test sets the engine's fields, runs a pass and reads the children. */
struct TimerPass : public ::testing::Test
{
    ScopedManualClock clock;
    DialogCapture dialogs;
    std::unique_ptr<MainComponent> window;

    /** Set before SetUp runs to launch dialogs for real (asynchronous modal windows) instead of recording them. */
    bool realDialogs = false;

    /** Set before SetUp runs to serve the window's images (by default every download brings nothing). */
    ImageUrlCache::Fetcher fetcher;

    /** Set before SetUp runs to give the window the real web view instead of the stand-in. */
    bool realWebView = false;

    void SetUp() override
    {
        launchCommandLine = {};
        auto options = windowTestOptions();
        if (! realDialogs)
            options.launchDialog = dialogs.launcher();
        if (fetcher)
            options.fetchImage = fetcher;
        if (realWebView)
            options.makeWebView = {};
        window = std::make_unique<MainComponent> (options);
    }

    void TearDown() override
    {
        window.reset();
        pumpFor (20);
    }

    /** A new window (the old one goes first: it withdraws the fonts it published), no launches recorded. */
    void rebuild()
    {
        window.reset();
        dialogs.launches.clear();
        SetUp();
    }

    MainComponent& c() { return *window; }
    OlvoThread& e()    { return *window->thread; }

    void pass() { c().timerCallback(); }

    /** An open device on this firmware, with the engine in this status. */
    void plug (int major, int minor, int tertiary, int status = SyncStatus::upToDate)
    {
        e().deviceIds.update ([=] (DeviceIds& ids)
        {
            ids.bytes[wire::idsMajor] = (uint8_t) major;
            ids.bytes[wire::idsMinor] = (uint8_t) minor;
            ids.bytes[wire::idsTertiary] = (uint8_t) (tertiary >> 8);
            ids.bytes[wire::idsTertiary + 1] = (uint8_t) tertiary;
        });
        e().deviceOpen = true;
        e().status = status;
    }

    void unplug() { e().deviceOpen = false; }

    /** Byte i of the device's settings record. */
    void setSetting (int i, uint8_t value)
    {
        e().statusReport.update ([=] (StatusReport& r) { r.deviceSettings()[i] = value; });
    }

    void setSlotCodes (std::array<int32_t, 6> codes)
    {
        e().slotTable.update ([&codes] (SlotTable& t)
        {
            std::copy (codes.begin(), codes.end(), t.slotProgramCode);
        });
    }

    static ProgramChoice choice (int id, const char* name, int file0 = -1, int file1 = -1)
    {
        ProgramChoice c;
        c.configId = id;
        c.name = name;
        c.description = juce::String (name) + " details";
        c.freqFiles[0] = file0;
        c.freqFiles[1] = file1;
        return c;
    }

    void setChoices (int group, std::vector<ProgramChoice> choices)
    {
        e().programChoices.update ([&] (auto& all) { all[(size_t) group] = std::move (choices); });
    }

    static PackageInfo package (int id, const char* name, int isCurrent = 0)
    {
        PackageInfo p;
        p.packageId = id;
        p.presentationName = name;
        p.isCurrent = isCurrent;
        p.brandLogo = juce::String ("https://cdn.olvo.example/logo-") + name + ".png";
        p.brandIcon = juce::String ("https://cdn.olvo.example/icon-") + name + ".png";
        return p;
    }

    /** A click on a row of a list, as the list box reports it. */
    template <typename Model>
    static void clickRow (Model& model, juce::ListBox& list, int row)
    {
        model.listBoxItemClicked (row, clickOn (list));
    }

    StandInWebView& webView() { return dynamic_cast<StandInWebView&> (*c().webView); }

    /** The popup of a recorded launch. */
    OlvoPopup& popup (size_t launch) { return dynamic_cast<OlvoPopup&> (*dialogs.launches.at (launch).content); }

    static constexpr juce::uint32 unavailable = 0xffffffff;
};

//==============================================================================
/** The window in a document window on the test's X server, as the application's main window (currentMainWindow),
    hidden at first as the application starts it with its icon in a tray. */
struct OnScreen
{
    explicit OnScreen (MainComponent& content)
        : frame ("OlvoAssistant", juce::Colours::white, juce::DocumentWindow::closeButton, true)
    {
        frame.setContentNonOwned (&content, true);
        currentMainWindow = &frame;
        menuBarIconInTray = true;
    }

    ~OnScreen()
    {
        menuBarIconInTray = false;
        currentMainWindow = nullptr;
        frame.clearContentComponent();
    }

    juce::DocumentWindow frame;
};

} // namespace olvo::test
