#include "GuiTestSupport.h"

#include <filesystem>
#include <fstream>
#include <map>

namespace juce
{
    // JUCE's own step of its message loop (what runDispatchLoopUntil calls, which JUCE 7 builds only with modal
    // loops enabled): dispatches what is pending; false when nothing was.
    bool dispatchNextMessageOnSystemQueue (bool returnIfNoPendingMessages);
}

namespace olvo::test
{

int threadNamed (const std::string& name)
{
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator ("/proc/self/task", error))
    {
        std::ifstream comm (task.path() / "comm");
        std::string line;
        if (std::getline (comm, line) && line == name)
            return std::stoi (task.path().filename().string());
    }
    return 0;
}

bool pumpUntil (const std::function<bool()>& condition, int timeoutMs)
{
    const auto end = juce::Time::getMillisecondCounter() + (juce::uint32) timeoutMs;

    while (! condition())
    {
        if (juce::Time::getMillisecondCounter() >= end)
            return false;

        if (! juce::dispatchNextMessageOnSystemQueue (true))
            juce::Thread::sleep (2);
    }
    return true;
}

void pumpFor (int ms)
{
    pumpUntil ([] { return false; }, ms);
}

juce::Image snapshot (juce::Component& component)
{
    return component.createComponentSnapshot (component.getLocalBounds(), true, 1.0f);
}

bool near (juce::Colour a, juce::Colour b, int tolerance)
{
    return std::abs ((int) a.getRed() - (int) b.getRed()) <= tolerance
           && std::abs ((int) a.getGreen() - (int) b.getGreen()) <= tolerance
           && std::abs ((int) a.getBlue() - (int) b.getBlue()) <= tolerance
           && std::abs ((int) a.getAlpha() - (int) b.getAlpha()) <= tolerance;
}

int firstColumnDiffering (const juce::Image& image, juce::Colour background, int x0, int x1, int y0, int y1,
                          int tolerance)
{
    for (int x = juce::jmax (0, x0); x < juce::jmin (x1, image.getWidth()); ++x)
        for (int y = juce::jmax (0, y0); y < juce::jmin (y1, image.getHeight()); ++y)
            if (! near (image.getPixelAt (x, y), background, tolerance))
                return x;
    return -1;
}

juce::MouseEvent clickOn (juce::Component& component)
{
    const auto now = juce::Time::getCurrentTime();
    return juce::MouseEvent (juce::Desktop::getInstance().getMainMouseSource(), {},
                             juce::ModifierKeys (juce::ModifierKeys::leftButtonModifier),
                             juce::MouseInputSource::defaultPressure, juce::MouseInputSource::defaultOrientation,
                             juce::MouseInputSource::defaultRotation, juce::MouseInputSource::defaultTiltX,
                             juce::MouseInputSource::defaultTiltY, &component, &component, now, {}, now, 1, false);
}

WebView::Factory StandInWebView::factory()
{
    return [] { return std::make_unique<StandInWebView>(); };
}

MainComponent::Options windowTestOptions()
{
    MainComponent::Options options;
    options.startWorker = false;
    options.startTimer = false;
    options.makeWebView = StandInWebView::factory();
    options.apiUrl = "http://127.0.0.1:9/device/";
    options.fetchImage = [] (const juce::String&) { return ImageFetch {}; };
    return options;
}

DialogLauncher DialogCapture::launcher()
{
    return [this] (juce::DialogWindow::LaunchOptions& options) -> juce::DialogWindow*
    {
        Launch launch;
        launch.content.reset (options.content.release());
        if (launch.content != nullptr)
        {
            launch.contentLookAndFeel = &launch.content->getLookAndFeel();
            launch.content->setLookAndFeel (nullptr);
        }
        launch.title = options.dialogTitle;
        launch.background = options.dialogBackgroundColour;
        launch.escapeKeyTriggersCloseButton = options.escapeKeyTriggersCloseButton;
        launch.useNativeTitleBar = options.useNativeTitleBar;
        launch.resizable = options.resizable;
        launches.push_back (std::move (launch));
        return nullptr;
    };
}

ScopedManualClock::ScopedManualClock()
    : now (juce::Time::currentTimeMillis())
{
    setClock (this);
}

ScopedManualClock::~ScopedManualClock()
{
    setClock (nullptr);
}

void ScopedManualClock::sleepMs (int ms)
{
    juce::Thread::sleep (ms);
}

bool ScopedManualClock::waitOnThread (juce::Thread& thread, int ms)
{
    return thread.wait (ms);
}

ScopedLinkCapture::ScopedLinkCapture()
{
    previous = platform::setLinkLauncher ([this] (const juce::String& url)
    {
        links.add (url);
        return true;
    });
}

ScopedLinkCapture::~ScopedLinkCapture()
{
    platform::setLinkLauncher (std::move (previous));
}

namespace
{
    std::map<juce::String, std::function<int()>>& routines()
    {
        static std::map<juce::String, std::function<int()>> map;
        return map;
    }
}

ChildRoutine::ChildRoutine (const char* name, std::function<int()> body)
{
    routines()[name] = std::move (body);
}

int runChildRoutine (const char* name)
{
    const auto it = routines().find (name);
    return it == routines().end() ? 127 : it->second();
}

ChildResult runChild (const char* name, int timeoutMs)
{
    struct Run
    {
        juce::ChildProcess process;
        juce::String output;
        juce::WaitableEvent outputRead;
    };

    // Shared with the reading thread, which may outlive this call when the child hangs.
    auto run = std::make_shared<Run>();
    ChildResult result;

    const auto self = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
    if (! run->process.start (juce::StringArray { self, "--olvo-test-child", name },
                              juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
        return result;

    juce::Thread::launch ([run]
    {
        run->output = run->process.readAllProcessOutput();
        run->outputRead.signal();
    });

    if (! run->outputRead.wait (timeoutMs))
    {
        run->process.kill();
        run->outputRead.wait (5000);
        return result;
    }

    result.finished = run->process.waitForProcessToFinish (5000);
    result.exitCode = (int) run->process.getExitCode();
    result.output = run->output;
    return result;
}

} // namespace olvo::test
