#include "XSession.h"

#include <X11/Xlib.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
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
Process::Process (const std::vector<std::string>& arguments)
{
    int fds[2];
    if (pipe (fds) != 0)
        return;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init (&actions);
    posix_spawn_file_actions_adddup2 (&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2 (&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addclose (&actions, fds[0]);
    posix_spawn_file_actions_addclose (&actions, fds[1]);

    std::vector<char*> argv;
    for (const auto& a : arguments)
        argv.push_back (const_cast<char*> (a.c_str()));
    argv.push_back (nullptr);

    if (posix_spawnp (&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        pid = -1;

    posix_spawn_file_actions_destroy (&actions);
    close (fds[1]);

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
    }
    close (fd);
    readerDone = true;
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

XSession::XSession (bool withTrayHost)
{
    if (const char* d = std::getenv ("DISPLAY"))
        oldDisplay = d;

    // Xvfb picks a free display and writes its number on the descriptor given (our pipe). Its complaints about the
    // displays it passed over (another server's socket left behind) come first on the same pipe: the number is the
    // first line made of digits alone.
    servers.push_back (std::make_unique<Process> (std::vector<std::string> {
        "Xvfb", "-displayfd", "1", "-screen", "0", "1280x1024x24", "-nolisten", "tcp" }));
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

    servers.push_back (std::make_unique<Process> (std::vector<std::string> { "openbox", "--sm-disable" }));
    auto& openbox = *servers.back();
    if (! waitFor ([] { return run ({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" }).find ("window id") != std::string::npos; }))
    {
        problem = std::string ("openbox did not start") + (openbox.isRunning() ? "" : " (it ended)") + ": "
                  + openbox.output() + " / " + run ({ "xprop", "-root", "_NET_SUPPORTING_WM_CHECK" });
        return;
    }

    if (withTrayHost)
    {
        servers.push_back (std::make_unique<Process> (std::vector<std::string> {
            "trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24",
            "--SetDockType", "true" }));
        if (! waitFor (traySelectionOwned))
            problem = "trayer did not take the tray selection";
    }
}

XSession::~XSession()
{
    // Clients first, the X server last.
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
    std::vector<std::string> arguments { "xdotool", "search", "--onlyvisible" };
    arguments.insert (arguments.end(), search.begin(), search.end());

    std::vector<std::string> ids;
    const auto out = run (arguments);
    size_t start = 0;
    while (start < out.size())
    {
        auto end = out.find ('\n', start);
        if (end == std::string::npos)
            end = out.size();
        if (end > start)
            ids.push_back (out.substr (start, end - start));
        start = end + 1;
    }
    return ids;
}

void XSession::sleepMs (int ms)
{
    std::this_thread::sleep_for (std::chrono::milliseconds (ms));
}

} // namespace olvo::test
