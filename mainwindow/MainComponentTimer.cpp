// The main window's content: the timer pass, every 500 ms. Its order, the device's arrival and going, the battery,
// the status, the window's visibility and the layout. The program groups are in MainComponentTimerGroups.cpp, the
// packages, popups, regimen texts and web view in MainComponentTimerRegimen.cpp.

#include "MainComponent.h"

#include "AppGlobals.h"

#include "engine/Clock.h"
#include "look/Palette.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace olvo
{

namespace
{
    constexpr juce::uint32 greyTrack = 0xffd3d3d3;
    constexpr int64_t oneDayMs = 86'400'000;

    /** With OLVO_LOG_TIMER_PASSES set, each timer pass writes its duration on standard output, and the CPU time the
        message thread spent in it (for scripts/measure: a pass longer than a frame is a stutter the user sees; what
        is not CPU time is waiting, mostly for the X server). */
    struct PassTimer
    {
        ~PassTimer()
        {
            if (enabled)
            {
                const auto ms = juce::Time::getMillisecondCounterHiRes() - started;
                std::printf ("Timer pass: %.2f ms (CPU %.2f ms)\n", ms, cpuMs() - startedCpu);
                std::fflush (stdout);
            }
        }

        static double cpuMs()
        {
            timespec t {};
            clock_gettime (CLOCK_THREAD_CPUTIME_ID, &t);
            return (double) t.tv_sec * 1000.0 + (double) t.tv_nsec / 1.0e6;
        }

        static inline const bool enabled = std::getenv ("OLVO_LOG_TIMER_PASSES") != nullptr;
        const double started = enabled ? juce::Time::getMillisecondCounterHiRes() : 0.0;
        const double startedCpu = enabled ? cpuMs() : 0.0;
    };
}

void MainComponent::timerCallback()
{
    const PassTimer passTimer;

    // The window as the first pass finds it is no change of visibility: taking a hidden window at start-up for one
    // that was just hidden would put the user's activity a day back and make the engine let go of the device.
    if (! visibilityRecorded)
    {
        lastShowing = isShowing();
        visibilityRecorded = true;
    }

    auto snapshot = EngineSnapshot::of (*thread, nowMs());

    presenceStep (snapshot);
    if (snapshot.restarting())
    {
        restartHoldStep();
    }
    else
    {
        if (snapshot.present)
            programGroupSteps (snapshot);
        groupVisibilityStep (snapshot);
    }
    packageStep (snapshot);
    popupSteps (snapshot);
    phaseTextStep (snapshot);
    batteryStep (snapshot);
    statusStep (snapshot);
    windowVisibilityStep (snapshot);
    layoutStep();
    webViewStep (snapshot);
}

//==============================================================================
void MainComponent::presenceStep (EngineSnapshot& s)
{
    if (s.present)
    {
        if (! windowShown)
            deviceArrived();

        windowShown = true;
        return;
    }

    deviceAbsent (s);
}

void MainComponent::deviceArrived()
{
    showMainWindow();

    renderDropdownOf (dropdown::program (2));
    for (int g = 0; g < 3; ++g)
        renderDropdownOf (dropdown::duration (g));

    layoutDirty = true;
}

void MainComponent::deviceGone (const EngineSnapshot& s)
{
    hideMainWindow();

    // Nothing may stay open over the emptied lists.
    closeOpenDropdown();

    for (int g = 0; g < 3; ++g)
    {
        if (programListModels[g].setRows ({}, {}))
        {
            programLists[g].updateContent();
            programLists[g].repaint();
        }

        levelSliders[g].setColour (juce::Slider::trackColourId, juce::Colour (greyTrack));

        programButtonText[g] = {};
        programListState[g] = dropdown::noList;
        renderDropdownOf (dropdown::program (g));

        durationButtonText[g] = {};
        durationListState[g] = dropdown::noList;
        renderDropdownOf (dropdown::duration (g));

        if (durationListModels[g].setRows ({}, {}))
            durationLists[g].updateContent();
        durationListModels[g].clicked = false;
        durationLists[g].setVisible (false);
    }

    for (int g = 0; g < 3; ++g)
        uiPalette[g] = (juce::uint32) s.groupColours[g];
    layoutDirty = true;

    // A decision about this device's regimen must not outlive it; nor may a dialog hidden with the window stay
    // modal over it.
    openPopups.closeAll (0);
    openInfoWindows.closeAll (0);

    webView->getComponent().setVisible (false);
    loadedWebUrl = {};
}

void MainComponent::deviceAbsent (const EngineSnapshot& s)
{
    if (windowShown)
        deviceGone (s);

    windowShown = false;
    warningShown = false;
    nextPhaseOffer = s.now;
    defaultChoiceRequests.forgetAll();

    for (int g = 0; g < 3; ++g)
    {
        programLists[g].deselectAllRows();
        programLists[g].setVisible (false);
        programListModels[g].clicked = false;
    }

    saveButton.setVisible (false);
    cancelButton.setVisible (false);
    firmwareVersionText = {};
}

//==============================================================================
void MainComponent::settleListState (int dropdownIndex, int rows)
{
    const auto parts = dropdownParts (dropdownIndex);
    if (parts.state == nullptr)
        return;

    const auto next = dropdown::stateForRows (*parts.state, rows);

    if (next == dropdown::noList && *parts.state == dropdown::open)
    {
        closeDropdown (dropdownIndex);
        if (openDropdown == dropdownIndex)
            openDropdown = dropdown::noneOpen;
    }

    *parts.state = next;
}

void MainComponent::closeOpenDropdown()
{
    if (openDropdown == dropdown::noneOpen)
        return;

    closeDropdown (openDropdown);
    openDropdown = dropdown::noneOpen;
}

//==============================================================================
void MainComponent::batteryStep (const EngineSnapshot& s)
{
    updateBatteryGauge (batteryDisplay, s.batteryLevel, s.batteryFlags);
}

void MainComponent::statusStep (const EngineSnapshot& s)
{
    netDisplay.setState (s.present ? s.status : (int) SyncStatus::noDevice, s.syncStep);

    const auto shown = netDisplay.currentStatus;
    const bool showsMessage = shown == SyncStatus::unknownDevice || shown == SyncStatus::error;
    netDisplay.statusIcon.setTooltip (showsMessage ? s.serverMessage : juce::String());
}

void MainComponent::windowVisibilityStep (const EngineSnapshot& s)
{
    // On X11 bringing a window to the front maps it: only a window that is showing, and was not put away, is raised.
    const bool putAway = windowRequest == WindowRequest::putAway;
    const auto raise = [this, putAway]
    {
        if (auto* peer = getPeer(); peer != nullptr && isShowing() && ! putAway)
            peer->toFront (true);
    };

    if (raiseWindowPending)
    {
        raise();
        raiseWindowPending = false;
    }

    const bool showing = isShowing();

    if (showing != lastShowing)
    {
        if (showing)
        {
            // Shown by showMainWindow, it was brought to the front there.
            thread->windowStart = s.now;
            if (windowRequest != WindowRequest::shown)
                raise();
            raiseWindowPending = ! putAway;
        }
        else
        {
            // Hidden: the user is no longer there (the engine lets go of the device after its polling window), and
            // a slider drag cut short by the hiding never reports its end. A window shown again but still
            // minimised (the device has just come back) is on its way back: the user is there.
            if (windowRequest != WindowRequest::shown)
                thread->windowStart = s.now - oneDayMs;
            openPopups.closeAll (0);
            openInfoWindows.closeAll (0);
            userDragging = false;
        }
    }

    lastShowing = isShowing();

    if (windowRequest == (lastShowing ? WindowRequest::shown : WindowRequest::putAway))
        windowRequest = WindowRequest::none;

    // Tooltips only while the window shows (see tooltipWindow).
    if (lastShowing != tooltipWindow.has_value())
    {
        if (lastShowing)
            tooltipWindow.emplace (this, 100);
        else
            tooltipWindow.reset();
    }
}

void MainComponent::layoutStep()
{
    if (! layoutDirty)
        return;

    resized();
    repaint();
    layoutDirty = false;
}

} // namespace olvo
