// The program entry: JUCE's standard application main, which also runs the web view's helper process (this program
// re-run with --juce-gtkwebkitfork-child) before any application starts.

#include "TrayTestApplication.h"

#include <csignal>
#include <cstring>
#include <sys/prctl.h>
#include <unistd.h>

int main (int argc, char* argv[])
{
    // The helper goes with the application: quitting ends the application at once, without the destructors that
    // would stop the helper, and the helper (with WebKit's own processes) would otherwise run on for ever.
    if (argc >= 2 && std::strcmp (argv[1], "--juce-gtkwebkitfork-child") == 0)
    {
        const auto parent = getppid();
        prctl (PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent)
            return 0;   // the application went before the line above

        // Ctrl-C in a terminal interrupts the terminal's foreground process group. It is meant for the application,
        // which then ends its helper itself: the helper (and WebKit's processes, which it starts) leaves that group.
        // A helper gone first, or one whose WebKit processes went, leaves JUCE's web view thread spinning on a closed
        // pipe, and the application could never quit.
        setpgid (0, 0);

        // A helper slow to quit is sent SIGTERM by JUCE, which then waits until it has exited: ended by the signal
        // instead, it would keep the application waiting (and spinning) for ever.
        std::signal (SIGTERM, [] (int) { _exit (0); });
    }

    juce::JUCEApplicationBase::createInstance = &olvo::createTrayTestApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
