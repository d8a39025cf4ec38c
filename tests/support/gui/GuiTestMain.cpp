// The GUI tests' main: JUCE's GUI initialised, the process marked as a standalone JUCE program like the application
// (so JUCE installs its X error handlers and the web view's helper re-runs this executable), and the two ways this
// executable is re-run: as that helper, and as the child process of a test (--olvo-test-child <name>).

#include "GuiTestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/prctl.h>

namespace
{
    juce::JUCEApplicationBase* noApplication() { return nullptr; }

    bool listingOnly (int argc, char** argv)
    {
        for (int i = 1; i < argc; ++i)
            if (std::strcmp (argv[i], "--gtest_list_tests") == 0)
                return true;
        return false;
    }
}

int main (int argc, char** argv)
{
    juce::JUCEApplicationBase::createInstance = &noApplication;

    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
    {
        prctl (PR_SET_PDEATHSIG, SIGTERM);   // a test that dies takes its helper with it
        return juce::JUCEApplicationBase::main (argc, (const char**) argv);
    }

    if (argc >= 3 && std::strcmp (argv[1], "--olvo-test-child") == 0)
    {
        const juce::ScopedJuceInitialiser_GUI gui;
        return olvo::test::runChildRoutine (argv[2]);
    }

    const bool listing = listingOnly (argc, argv);
    testing::InitGoogleTest (&argc, argv);

    if (! listing && juce::SystemStats::getEnvironmentVariable ("DISPLAY", {}).isEmpty())
    {
        std::fputs ("The GUI tests need an X display: run them under xvfb-run (scripts/test does).\n", stderr);
        return 1;
    }

    const juce::ScopedJuceInitialiser_GUI gui;
    return RUN_ALL_TESTS();
}
