#pragma once

#include <sys/types.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace olvo::test
{

//==============================================================================
/** A program started with an argument list, its standard output and error read through one pipe. Its standard
    input is this one's, or with withInputPipe a pipe whose writing end this object holds until closeInput(). */
class Process
{
public:
    explicit Process (const std::vector<std::string>& arguments, bool withInputPipe = false);
    ~Process();   // kills it if it still runs

    /** Closes the writing end of its input pipe: it reads the end of its input. */
    void closeInput();

    bool started() const { return pid > 0; }

    /** Waits until it has ended; false when it still runs after the time. */
    bool waitForExit (int timeoutMs);

    /** True while it runs. */
    bool isRunning();

    /** The exit status once it has ended; -1 when a signal ended it. */
    int exitStatus() const { return status; }

    /** What it wrote so far. */
    std::string output() const;

    /** From now on, its output is also written to this file as it comes (what came before first): a run stopped
        from outside, by a time-out, still leaves it behind. */
    void mirrorTo (const std::string& path);

    /** Waits until its output holds the text; false when it did not within the time. */
    bool waitForOutput (const std::string& text, int timeoutMs);

    void sendSignal (int signal);

    const pid_t& processId() const { return pid; }

private:
    void collect (int fd);

    pid_t pid = -1;
    int input = -1;
    bool ended = false;
    int status = -1;
    mutable std::mutex lock;
    std::string text;
    std::ofstream mirror;
    std::atomic<bool> stopReading { false }, readerDone { false };
    std::thread reader;
};

//==============================================================================
/** The folder of the running test's files in the build tree: OLVO_E2E_OUTPUT/<suite>.<test>. At a test's first
    failure, while an XSession runs, a screenshot of its display is taken there (screen.png), showing what failed
    while it is still on the screen; the folder is emptied when a test starts. */
std::string testOutputFolder();

/** What a failed test leaves beside its screenshot: the output of its programs (<name>.log), written when it goes. */
class FailureRecord
{
public:
    explicit FailureRecord (std::vector<std::pair<std::string, const Process*>> programs);
    ~FailureRecord();

private:
    std::vector<std::pair<std::string, const Process*>> programs;
};

//==============================================================================
/** An X server of its own (Xvfb, which picks a free display), with openbox as window manager and, if asked, trayer
    as tray host. While it lives, DISPLAY names it, so that every program this test starts uses it. */
class XSession
{
public:
    explicit XSession (bool withTrayHost);
    ~XSession();

    /** Empty when the session is up; what went wrong otherwise. */
    const std::string& failure() const { return problem; }

    /** Starts the tray host (trayer), when there is none; false when it did not take the tray selection. */
    bool startTrayHost();

    /** Ends the tray host at once (SIGKILL, as a panel that crashes), and waits until the selection is free. */
    void stopTrayHost();

    /** Runs a tool (xdotool, xprop, wmctrl, ...) to its end: its output, trimmed. */
    static std::string run (const std::vector<std::string>& arguments, int* exitStatus = nullptr);

    /** The ids of the visible windows xdotool finds for a search (e.g. {"--name", "^OlvoAssistant$"}). */
    static std::vector<std::string> visibleWindows (const std::vector<std::string>& search);

    /** The ids of every window xdotool finds for a search, mapped or not. */
    static std::vector<std::string> windows (const std::vector<std::string>& search);

    /** Waits (polling) until the condition holds; false when it never did within the time. Where nothing else is
        said, the time is a guard against a hang, far above what a slow or loaded machine needs. */
    template <typename Condition>
    static bool waitFor (Condition condition, int timeoutMs = 60000)
    {
        for (int waited = 0; ; waited += 50)
        {
            if (condition())
                return true;
            if (waited >= timeoutMs)
                return false;
            sleepMs (50);
        }
    }

    static void sleepMs (int ms);

    /** True while an XSession is up (its DISPLAY is set). */
    static bool isUp();

private:
    std::vector<std::unique_ptr<Process>> servers;
    std::unique_ptr<Process> trayHost;
    std::string oldDisplay, problem;
    bool displaySet = false;
};

} // namespace olvo::test
