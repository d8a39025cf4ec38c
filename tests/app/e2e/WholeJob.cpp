#include "WholeJob.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

namespace olvo::test
{

//==============================================================================
WindowBox windowBox (const std::string& id)
{
    std::istringstream geometry (XSession::run ({ "xdotool", "getwindowgeometry", "--shell", id }));
    std::map<std::string, int> values;
    for (std::string line; std::getline (geometry, line);)
        if (const auto eq = line.find ('='); eq != std::string::npos)
            values[line.substr (0, eq)] = std::atoi (line.substr (eq + 1).c_str());
    return { values["X"], values["Y"], values["WIDTH"], values["HEIGHT"] };
}

void clickAt (const std::string& id, double fx, double fy)
{
    const auto box = windowBox (id);
    XSession::run ({ "xdotool", "mousemove", "--window", id, std::to_string ((int) (fx * box.width)),
                     std::to_string ((int) (fy * box.height)), "click", "1" });
}

std::string clipboardText()
{
    Display* display = XOpenDisplay (nullptr);
    if (display == nullptr)
        return {};

    const auto window = XCreateSimpleWindow (display, DefaultRootWindow (display), 0, 0, 1, 1, 0, 0, 0);
    const auto property = XInternAtom (display, "OLVO_E2E_CLIPBOARD", False);
    XConvertSelection (display, XInternAtom (display, "CLIPBOARD", False), XInternAtom (display, "UTF8_STRING", False),
                       property, window, CurrentTime);
    XFlush (display);

    std::string text;
    bool answered = false;
    for (int waited = 0; waited < 3000 && ! answered; waited += 20)
    {
        while (XPending (display) > 0 && ! answered)
        {
            XEvent event;
            XNextEvent (display, &event);
            if (event.type != SelectionNotify)
                continue;

            answered = true;
            if (event.xselection.property == None)
                break;

            Atom type = None;
            int format = 0;
            unsigned long count = 0, remaining = 0;
            unsigned char* data = nullptr;
            if (XGetWindowProperty (display, window, property, 0, 1 << 20, False, AnyPropertyType, &type, &format,
                                    &count, &remaining, &data) == Success && data != nullptr)
            {
                text.assign (reinterpret_cast<const char*> (data), count);
                XFree (data);
            }
        }
        if (! answered)
            XSession::sleepMs (20);
    }

    XDestroyWindow (display, window);
    XCloseDisplay (display);
    return text;
}

std::string fnv1a64Hex (const std::vector<uint8_t>& bytes)
{
    uint64_t hash = 0xcbf29ce484222325ull;
    for (auto byte : bytes)
        hash = (hash ^ byte) * 0x100000001b3ull;

    char text[17];
    std::snprintf (text, sizeof (text), "%016llx", (unsigned long long) hash);
    return text;
}

//==============================================================================
struct HostileImageHost::Impl
{
    int listener = -1;
    std::atomic<bool> stopping { false };
    std::thread acceptor;
    std::vector<std::thread> connections;
    mutable std::mutex lock;
    std::vector<std::string> paths;

    void serve (int fd)
    {
        std::string request;
        char buffer[2048];
        while (request.find ("\r\n\r\n") == std::string::npos && request.size() < 16384 && ! stopping)
        {
            pollfd p { fd, POLLIN, 0 };
            if (poll (&p, 1, 100) <= 0)
                continue;
            const auto n = read (fd, buffer, sizeof (buffer));
            if (n <= 0)
                break;
            request.append (buffer, (size_t) n);
        }

        const auto start = request.find (' ') + 1;
        const auto path = request.substr (start, request.find (' ', start) - start);
        {
            const std::lock_guard<std::mutex> guard (lock);
            paths.push_back (path);
        }

        const auto send = [fd] (const std::string& text) { return ::send (fd, text.data(), text.size(), MSG_NOSIGNAL) > 0; };

        if (path == "/stall")
        {
            // Until the client gives up (it closes its end) or the host stops.
            while (! stopping)
            {
                pollfd p { fd, POLLIN, 0 };
                if (poll (&p, 1, 50) > 0 && read (fd, buffer, sizeof (buffer)) <= 0)
                {
                    const std::lock_guard<std::mutex> guard (lock);
                    paths.push_back ("closed " + path);
                    break;
                }
            }
        }
        else if (path == "/huge")
        {
            constexpr size_t size = 64u << 20;
            send ("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + std::to_string (size)
                  + "\r\nConnection: close\r\n\r\n");
            const std::string chunk (65536, '\x89');
            for (size_t sent = 0; sent < size && ! stopping && send (chunk); sent += chunk.size()) {}
        }
        else if (path == "/huge.png")
        {
            // A PNG signature and an IHDR chunk declaring 60000 x 60000 pixels of RGBA: 14 GB once decoded.
            std::string png ("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\xea\x60\0\0\xea\x60\x08\x06\0\0\0\0\0\0\0", 33);
            png += std::string (4096, '\0');
            send ("HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " + std::to_string (png.size())
                  + "\r\nConnection: close\r\n\r\n" + png);
        }
        else
        {
            send ("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
        }
        close (fd);
    }
};

HostileImageHost::HostileImageHost() : impl (std::make_unique<Impl>())
{
    impl->listener = socket (AF_INET, SOCK_STREAM, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl (INADDR_LOOPBACK);
    socklen_t length = sizeof (address);
    if (bind (impl->listener, reinterpret_cast<sockaddr*> (&address), sizeof (address)) != 0
        || listen (impl->listener, 16) != 0
        || getsockname (impl->listener, reinterpret_cast<sockaddr*> (&address), &length) != 0)
        return;
    boundPort = ntohs (address.sin_port);

    impl->acceptor = std::thread ([this]
    {
        while (! impl->stopping)
        {
            pollfd p { impl->listener, POLLIN, 0 };
            if (poll (&p, 1, 100) <= 0)
                continue;
            const int fd = accept (impl->listener, nullptr, nullptr);
            if (fd >= 0)
                impl->connections.emplace_back ([this, fd] { impl->serve (fd); });
        }
    });
}

HostileImageHost::~HostileImageHost()
{
    impl->stopping = true;
    if (impl->acceptor.joinable())
        impl->acceptor.join();
    for (auto& connection : impl->connections)
        connection.join();
    close (impl->listener);
}

std::string HostileImageHost::url (const std::string& path) const
{
    return "http://127.0.0.1:" + std::to_string (boundPort) + path;
}

std::vector<std::string> HostileImageHost::requests() const
{
    const std::lock_guard<std::mutex> guard (impl->lock);
    return impl->paths;
}

//==============================================================================
void WholeJob::SetUp()
{
    folder = testOutputFolder();
    std::filesystem::create_directories (folder);

    session = std::make_unique<XSession> (true);
    ASSERT_EQ (session->failure(), "") << session->failure();
}

void WholeJob::TearDown()
{
    // The screenshot was taken at the first failure (testOutputFolder).
    const bool failed = HasFailure();

    if (app != nullptr)
    {
        app->sendSignal (SIGINT);
        if (! app->waitForExit (30000))
            ADD_FAILURE() << "the program did not quit on an interrupt";
        else
            EXPECT_EQ (app->exitStatus(), 0) << "an interrupt quits normally (a sanitizer's report fails it)";
    }
    if (webApi != nullptr)
    {
        webApi->sendSignal (SIGTERM);
        webApi->waitForExit (10000);
    }

    // program.log and webapi.log are already there: the programs' output is mirrored into them as it comes.
    if (failed || HasFailure())
    {
        std::printf ("The run's files, output and screenshot: %s\n", folder.c_str());
    }
    else
    {
        std::filesystem::remove_all (folder);
    }

    app.reset();
    webApi.reset();
    session.reset();
}

std::string WholeJob::writeFile (const std::string& name, const std::string& text) const
{
    std::ofstream (file (name)) << text;
    return file (name);
}

void WholeJob::startWebApi (const std::string& scenarioJson, const std::vector<std::string>& arguments)
{
    std::vector<std::string> command { OLVO_WEBAPI_PROGRAM, "--max-seconds", "600" };
    if (! scenarioJson.empty())
        command.insert (command.end(), { "--scenario", writeFile ("server.json", scenarioJson) });
    command.insert (command.end(), arguments.begin(), arguments.end());

    webApi = std::make_unique<Process> (command);
    webApi->mirrorTo (file ("webapi.log"));
    ASSERT_TRUE (webApi->waitForOutput ("listening on", 60000)) << webApi->output();
    const auto listening = webApi->output();
    const auto start = listening.find ("http://");
    url = listening.substr (start, listening.find_first_of (" \n", start) - start);
}

void WholeJob::startProgram (const std::string& deviceScenario)
{
    const auto scenario = writeFile ("device.scenario", "state-file " + file ("device.state") + "\nplug-file "
                                                            + file ("plugged") + "\n" + deviceScenario);
    setenv ("OLVO_API_URL", url.c_str(), 1);
    setenv ("OLVO_SIM_SCENARIO", scenario.c_str(), 1);

    // One OlvoAssistant runs per machine: a second one ends at once, saying nothing. Another build tree's tests may
    // hold the lock for a while; wait for it rather than fail.
    for (int waited = 0; waited < 180000; waited += 7000)
    {
        app = std::make_unique<Process> (std::vector<std::string> { OLVO_APP_PROGRAM });
        app->mirrorTo (file ("program.log"));
        const bool started = XSession::waitFor ([this]
        {
            return app->output().find ("Process type") != std::string::npos || ! app->isRunning();
        }, 5000);
        if (! started || app->isRunning())
            break;
        std::printf ("Another OlvoAssistant runs on this machine: waiting for it to end\n");
        XSession::sleepMs (2000);
    }
    unsetenv ("OLVO_API_URL");
    unsetenv ("OLVO_SIM_SCENARIO");
    ASSERT_TRUE (app->isRunning()) << "it did not start (another OlvoAssistant running all along?)\n" << app->output();
}

::testing::AssertionResult WholeJob::waitForIcon()
{
    // The icon docked in trayer's panel (top right of the 1280-wide screen).
    const auto docked = []
    {
        for (const auto& id : XSession::visibleWindows ({ "--class", "^OlvoAssistant$" }))
        {
            const auto box = windowBox (id);
            if (box.width == 22 && box.height == 22 && box.x >= 1200 && box.y < 24)
                return true;
        }
        return false;
    };
    if (XSession::waitFor (docked, 60000))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no icon docked (another OlvoAssistant on this machine?)\n"
                                         << app->output();
}

void WholeJob::plugIn()
{
    std::ofstream (file ("plugged")) << "1";
}

void WholeJob::pullOut()
{
    std::filesystem::remove (file ("plugged"));
}

std::string WholeJob::deviceState() const
{
    std::ifstream in (file ("device.state"));
    return std::string ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
}

std::vector<std::string> WholeJob::requestLines() const
{
    std::vector<std::string> lines;
    std::istringstream out (webApi->output());
    for (std::string line; std::getline (out, line);)
        if (line.rfind ("POST ", 0) == 0)
            lines.push_back (line);
    return lines;
}

bool WholeJob::upToDateAfter (size_t after) const
{
    const auto lines = requestLines();
    const auto endsWith = [] (const std::string& s, const std::string& end)
    {
        return s.size() >= end.size() && s.compare (s.size() - end.size(), end.size(), end) == 0;
    };
    for (size_t i = std::max<size_t> (after, 1); i < lines.size(); ++i)
        if (endsWith (lines[i], " -> nochange") || endsWith (lines[i], " -> full"))
            return true;
    return false;
}

std::vector<std::string> WholeJob::windowsNamed (const std::string& title)
{
    return XSession::visibleWindows ({ "--name", "^" + title + "$" });
}

} // namespace olvo::test
