#include "XSession.h"

#include <gtest/gtest.h>   // before Xlib, whose None macro it would not survive

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <sstream>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace olvo::test
{

//==============================================================================
Process::Process (const std::vector<std::string>& arguments, bool withInputPipe)
{
    int fds[2], in[2] { -1, -1 };
    if (pipe (fds) != 0 || (withInputPipe && pipe2 (in, O_CLOEXEC) != 0))
        return;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_adddup2 (&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2 (&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose (&actions, fds[0]);
    posix_spawn_file_actions_addclose (&actions, fds[1]);
    if (withInputPipe)
        posix_spawn_file_actions_adddup2 (&actions, in[0], STDIN_FILENO);   // dup2 clears close-on-exec

    std::vector<char*> argv;
    for (const auto& a : arguments)
        argv.push_back (const_cast<char*> (a.c_str()));
    argv.push_back (nullptr);

    if (posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;

    posix_spawn_file_actions_destroy (&actions);
    close (fds[1]);
    if (withInputPipe)
    {
        close (in[0]);
        input = in[1];
    }

    const int readEnd = fds[0];
    reader = std::thread ([this, readEnd] { collect (readEnd); });
}

Process::~Process()
{
    if (isRunning())
    {
        sendSignal (SIGKILL);
        waitForExit (5000);
    }
    closeInput();

    // A process it started may still hold the pipe: stop reading rather than wait for the end of the output.
    XSession::waitFor ([this] { return ! reader.joinable() || readerDone; }, 2000);
    stopReading = true;
    if (reader.joinable())
        reader.join();
}

void Process::collect (int fd)
{
    char buffer[4096];
    while (! stopReading)
    {
        pollfd p { fd, POLLIN, 0 };
        if (poll (&p, 1, 100) <= 0)
            continue;

        const auto n = read (fd, buffer, sizeof (buffer));
        if (n <= 0)
            break;
        const std::lock_guard<std::mutex> guard (lock);
        text.append (buffer, (size_t) n);
        if (mirror.is_open())
            mirror.write (buffer, n).flush();
    }
    close (fd);
    readerDone = true;
}

void Process::closeInput()
{
    if (input >= 0)
        close (input);
    input = -1;
}

void Process::mirrorTo (const std::string& path)
{
    const std::lock_guard<std::mutex> guard (lock);
    mirror.open (path, std::ios::trunc);
    mirror << text << std::flush;
}

bool Process::isRunning()
{
    if (pid <= 0 || ended)
        return false;

    int raw = 0;
    if (waitpid (pid, &raw, WNOHANG) == pid)
    {
        ended = true;
        status = WIFEXITED (raw) ? WEXITSTATUS (raw) : -1;
        return false;
    }
    return true;
}

bool Process::waitForExit (int timeoutMs)
{
    return XSession::waitFor ([this] { return ! isRunning(); }, timeoutMs);
}

std::string Process::output() const
{
    const std::lock_guard<std::mutex> guard (lock);
    return text;
}

bool Process::waitForOutput (const std::string& wanted, int timeoutMs)
{
    return XSession::waitFor ([&] { return output().find (wanted) != std::string::npos; }, timeoutMs);
}

void Process::sendSignal (int signal)
{
    if (pid > 0 && ! ended)
        kill (pid, signal);
}

//==============================================================================
namespace
{
    bool traySelectionOwned()
    {
        Display* display = XOpenDisplay (nullptr);
        if (display == nullptr)
            return false;
        const auto name = "_NET_SYSTEM_TRAY_S" + std::to_string (DefaultScreen (display));
        const bool owned = XGetSelectionOwner (display, XInternAtom (display, name.c_str(), False)) != None;
        XCloseDisplay (display);
        return owned;
    }
}

//==============================================================================
namespace
{
    std::atomic<int> sessionsUp { 0 };

    /** The running test's folder, noted when it starts (googletest's own lock is held while it reports failures, so
        its current test cannot be asked for then). */
    std::string currentTestFolder = std::string (OLVO_E2E_OUTPUT) + "/outside-tests";

    /** Takes the screenshot of a test's first failure, and empties a test's folder when it starts. */
    class ScreenshotAtFirstFailure : public ::testing::EmptyTestEventListener
    {
        void OnTestStart (const ::testing::TestInfo& info) override
        {
            taken = false;
            currentTestFolder = std::string (OLVO_E2E_OUTPUT) + "/" + info.test_suite_name() + "." + info.name();
            std::filesystem::remove_all (currentTestFolder);
        }

        void OnTestPartResult (const ::testing::TestPartResult& result) override
        {
            if (! result.failed() || taken || ! XSession::isUp())
                return;

            taken = true;
            std::filesystem::create_directories (testOutputFolder());
            XSession::run ({ "import", "-window", "root", testOutputFolder() + "/screen.png" });
        }

        bool taken = false;
    };

    [[maybe_unused]] const bool screenshotsRegistered = []
    {
        ::testing::UnitTest::GetInstance()->listeners().Append (new ScreenshotAtFirstFailure());
        return true;
    }();
}

std::string testOutputFolder()
{
    return currentTestFolder;
}

FailureRecord::FailureRecord (std::vector<std::pair<std::string, const Process*>> namedPrograms)
    : programs (std::move (namedPrograms))
{
}

FailureRecord::~FailureRecord()
{
    if (! ::testing::Test::HasFailure())
        return;

    const auto folder = testOutputFolder();
    std::filesystem::create_directories (folder);
    for (const auto& [name, program] : programs)
        if (program != nullptr)
            std::ofstream (folder + "/" + name + ".log") << program->output();
    std::printf ("The run's files, output and screenshot: %s\n", folder.c_str());
}

//==============================================================================
XSession::XSession (bool withTrayHost)
{
    if (const char* d = std::getenv ("DISPLAY"))
        oldDisplay = d;

    // Xvfb picks a free display and writes its number on the descriptor given (our pipe). Its complaints about the
    // displays it passed over (another server's socket left behind) come first on the same pipe: the number is the
    // first line made of digits alone. It never resets: a server resets when its last client leaves, and a client
    // from elsewhere that came and went (a program still polling a display number this one has taken over) would
    // make it refuse the window manager while it does.
    servers.push_back (std::make_unique<Process> (std::vector<std::string> {
        "Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset" }));
    auto& xvfb = *servers.back();

    std::string number;
    waitFor ([&]
    {
        std::istringstream lines (xvfb.output());
        for (std::string line; std::getline (lines, line) && ! lines.eof();)
        {
            if (! line.empty() && line.find_first_not_of ("0123456789") == std::string::npos)
            {
                number = line;
                return true;
            }
        }
        return ! xvfb.isRunning();
    }, 20000);

    if (number.empty())
    {
        problem = "Xvfb did not start: " + xvfb.output();
        return;
    }
    setenv ("DISPLAY", (":" + number).c_str(), 1);
    displaySet = true;
    ++sessionsUp;

    servers.push_back (std::make_unique<Process> (std::vector<std::string> { "openbox", "--sm-disable" }));
    auto& openbox = *servers.back();
    if (! waitFor ([] { return run ({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" }).find ("window id") != std::string::npos; }))
    {
        problem = std::string ("openbox did not start") + (openbox.isRunning() ? "" : " (it ended)") + ": "
                  + openbox.output() + " / " + run ({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" })
                  + " / Xvfb on :" + number + (xvfb.isRunning() ? "" : " (it ended)") + ": " + xvfb.output();
        return;
    }

    if (withTrayHost && ! startTrayHost())
        problem = "trayer did not take the tray selection";
}

bool XSession::startTrayHost()
{
    if (trayHost == nullptr)
        trayHost = std::make_unique<Process> (std::vector<std::string> {
            "trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
            "--SetDockType", "true" });
    return waitFor (traySelectionOwned);
}

void XSession::stopTrayHost()
{
    trayHost.reset();
    waitFor ([] { return ! traySelectionOwned(); });
}

bool XSession::isUp()
{
    return sessionsUp > 0;
}

XSession::~XSession()
{
    if (displaySet)
        --sessionsUp;

    // Clients first, the X server last.
    trayHost.reset();
    while (! servers.empty())
        servers.pop_back();

    if (oldDisplay.empty())
        unsetenv ("DISPLAY");
    else
        setenv ("DISPLAY", oldDisplay.c_str(), 1);
}

std::string XSession::run (const std::vector<std::string>& arguments, int* exitStatus)
{
    Process tool (arguments);
    tool.waitForExit (10000);
    if (exitStatus != nullptr)
        *exitStatus = tool.exitStatus();

    auto out = tool.output();
    while (! out.empty() && (out.back() == '\n' || out.back() == ' '))
        out.pop_back();
    return out;
}

std::vector<std::string> XSession::visibleWindows (const std::vector<std::string>& search)
{
    std::vector<std::string> arguments { "--onlyvisible" };
    arguments.insert (arguments.end(), search.begin(), search.end());
    return windows (arguments);
}

std::vector<std::string> XSession::windows (const std::vector<std::string>& search)
{
    std::vector<std::string> arguments { "xdotool", "search" };
    arguments.insert (arguments.end(), search.begin(), search.end());

    // Its output holds its errors too (a window that went while it looked at it): only the lines that are ids count.
    std::vector<std::string> ids;
    std::istringstream lines (run (arguments));
    for (std::string line; std::getline (lines, line);)
        if (! line.empty() && line.find_first_not_of ("0123456789") == std::string::npos)
            ids.push_back (line);
    return ids;
}

void XSession::sleepMs (int ms)
{
    std::this_thread::sleep_for (std::chrono::milliseconds (ms));
}

} // namespace olvo::test
