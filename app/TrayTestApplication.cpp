#include "TrayTestApplication.h"

#include "BinaryData.h"

#include "mainwindow/AppGlobals.h"
#include "platform/ApplicationServices.h"

#include <cstdio>
#include <cstring>

namespace olvo
{

namespace
{
    std::vector<juce::Image> decodeEmbeddedImages()
    {
        std::vector<juce::Image> images;
        for (int i = 0; i < BinaryData::namedResourceListSize; ++i)
        {
            int size = 0;
            const auto* data = BinaryData::getNamedResource (BinaryData::namedResourceList[i], size);
            if (data != nullptr && size > 8 && std::memcmp (data, "\x89PNG", 4) == 0)
                images.push_back (juce::ImageCache::getFromMemory (data, size));
        }
        return images;
    }
}

TrayTestApplication::TrayTestApplication (MainComponent::Options options)
    : contentOptions (std::move (options))
{
}

TrayTestApplication::~TrayTestApplication() = default;

void TrayTestApplication::initialise (const juce::String& commandLine)
{
    launchCommandLine = commandLine;
    embeddedImages = decodeEmbeddedImages();

    mainWindow = std::make_unique<MainWindow> (getApplicationName(), contentOptions);

    mainWindow->taskbarIcon = std::make_unique<DemoTaskbarComponent>();
    const bool trayHost = mainWindow->taskbarIcon->hasTrayHost();
    if (! trayHost)
        std::puts ("No system tray: no menu-bar icon until one appears; the window stays open instead");

    currentMainWindow = mainWindow.get();

    if (trayHost)
    {
        mainWindow->setVisible (false);
        platform::hideApplication();
        platform::transformProcessType (platform::ProcessType::uiElement);
    }
    else
    {
        showMainWindow();
    }

    messageThreadWatch = MessageThreadWatch::create();
}

void TrayTestApplication::shutdown()
{
    // Also runs in a second instance, which never initialised.
    currentMainWindow = nullptr;
    mainWindow.reset();
    messageThreadWatch.reset();
    embeddedImages.clear();
}

//==============================================================================
TrayTestApplication::MainWindow::MainWindow (const juce::String& name, MainComponent::Options options)
    : juce::DocumentWindow (name,
                            juce::Desktop::getInstance().getDefaultLookAndFeel()
                                .findColour (juce::ResizableWindow::backgroundColourId),
                            juce::DocumentWindow::closeButton, false)
{
    // Switching to the native title bar re-creates a window already on the desktop and raises it, which on X11 maps
    // it: the window goes on the desktop once it has its title bar, and stays unmapped until it is shown.
    setUsingNativeTitleBar (true);
    setResizable (true, false);
    setResizeLimits (300, 200, 2400, 1600);
    getConstrainer()->setFixedAspectRatio (1.5);
    setContentOwned (new MainComponent (std::move (options)), true);
    centreWithSize (getWidth(), getHeight());
    addToDesktop();
}

TrayTestApplication::MainWindow::~MainWindow()
{
    cancelPendingUpdate();
    taskbarIcon.reset();
    clearContentComponent();   // MainComponent stops the engine here
}

void TrayTestApplication::MainWindow::closeButtonPressed()
{
    hideMainWindow();
}

void TrayTestApplication::MainWindow::visibilityChanged()
{
    if (! platform::isBeingShownMinimised (*this))
        juce::DocumentWindow::visibilityChanged();
}

void TrayTestApplication::MainWindow::resized()
{
    juce::DocumentWindow::resized();

    // A window manager resizing a window with the native title bar knows only its size limits, not the aspect
    // ratio: bring the size back into the constrainer's shape.
    // A few corrections in a row at most, in case the window manager keeps refusing the corrected size.
    auto constrained = getBounds();
    getConstrainer()->checkBounds (constrained, getBounds(), getParentMonitorArea(), false, false, false, false);

    if (constrained.getWidth() == getWidth() && constrained.getHeight() == getHeight())
        sizeCorrections = 0;
    else if (sizeCorrections < 3)
        triggerAsyncUpdate();
}

void TrayTestApplication::MainWindow::handleAsyncUpdate()
{
    ++sizeCorrections;
    setBoundsConstrained (getBounds());
}

//==============================================================================
juce::JUCEApplicationBase* createTrayTestApplication()
{
    return new TrayTestApplication();
}

} // namespace olvo
