#pragma once

#include "XSession.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace olvo::test
{

//==============================================================================
/** A window's place and size on the screen. */
struct WindowBox
{
    int x = 0, y = 0, width = 0, height = 0;
};

/** Where xdotool finds a window, and how big it is. */
WindowBox windowBox (const std::string& id);

/** Clicks a window at the given fractions of its width and height. */
void clickAt (const std::string& id, double fx, double fy);

/** The text the CLIPBOARD selection's owner hands out (empty when none, or no answer within 3 s). */
std::string clipboardText();

/** FNV-1a, 64 bits, as the simulated device's state file shows it (16 hexadecimal digits). */
std::string fnv1a64Hex (const std::vector<uint8_t>& bytes);

//==============================================================================
/** An HTTP server on 127.0.0.1 standing in for an image host that does what no image host should: "/huge" sends
    64 MB, "/huge.png" a PNG declaring 60000 x 60000 pixels, "/stall" accepts and never answers (until stopped);
    anything else is a 404. It records each path asked for. */
class HostileImageHost
{
public:
    HostileImageHost();
    ~HostileImageHost();

    int port() const { return boundPort; }
    std::string url (const std::string& path) const;

    /** The paths asked for so far, in order. */
    std::vector<std::string> requests() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl;
    int boundPort = 0;
};

//==============================================================================
/**
    One run of the real program (OlvoAssistantSim) under an X server of its own with openbox and trayer, against the
    local web API, on a simulated device that the test plugs in and pulls out through a file and whose state it reads
    from the file the device writes. The run's files are in the build tree (e2e-output/<test>); when the test fails,
    they stay there with the program's and the web API's output and a screenshot of the screen.
*/
class WholeJob : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /** Starts the local web API with a scenario (JSON text, empty: the built-in one) and its other arguments. */
    void startWebApi (const std::string& scenarioJson, const std::vector<std::string>& arguments = {});

    /** Starts the program on a device described by the scenario lines (the state and plug files come first). */
    void startProgram (const std::string& deviceScenario);

    /** Waits for the icon in the tray host; false (with the output) when it did not come. */
    ::testing::AssertionResult waitForIcon();

    void plugIn();
    void pullOut();

    /** The device's state as its state file shows it. */
    std::string deviceState() const;

    /** The web API's request lines so far. */
    std::vector<std::string> requestLines() const;

    /** True once the engine has confirmed "Up to Date": a request after `after` lines (counted from the start)
        answered with nothing to write. */
    bool upToDateAfter (size_t after) const;

    /** The visible windows with this title. */
    static std::vector<std::string> windowsNamed (const std::string& title);

    /** The path of a file in the run's folder. */
    std::string file (const std::string& name) const { return folder + "/" + name; }

    std::string writeFile (const std::string& name, const std::string& text) const;

    std::unique_ptr<XSession> session;
    std::unique_ptr<Process> webApi, app;
    std::string folder, url;
};

} // namespace olvo::test
