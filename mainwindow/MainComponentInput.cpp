// The main window's content: the user's clicks, slider moves and presses. None of them talks to the device or the
// server: they open a dialog or a link, open and close the dropdown lists, and write requests into the engine, which
// acts on them on its next tick. Every input marks the user active.

#include "MainComponent.h"

#include "engine/Clock.h"
#include "look/Palette.h"
#include "TimerRules.h"

#include "platform/Links.h"
#include "windows/Popups.h"

#include <cmath>

namespace olvo
{

namespace
{
    /** Opens a link through the platform's rule (absolute http or https only, never through a shell). */
    void openIfAny (const juce::String& url)
    {
        if (url.isNotEmpty())
            platform::openLink (url);
    }
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == &infoButton)
        openInformation();

    if (button == &helpButton)
    {
        const auto url = thread->helpUrl.get();
        openIfAny (url.isNotEmpty() ? url : juce::String (builtInHelpUrl));
    }

    if (button == &linkButton)
    {
        const auto webApp = thread->webAppUrl.get();
        openIfAny (showsWebAppLink (thread->viewType.get(), webApp) ? webApp : thread->fillerLink.get());
    }

    if (button == &fillerImageButton || button == &fillerTextButton)
        openIfAny (thread->fillerLink.get());

    for (int g = 0; g < 3; ++g)
    {
        if (button == &programButtons[g])
            toggleDropdown (dropdown::program (g));
        if (button == &durationButtons[g])
            toggleDropdown (dropdown::duration (g));
    }

    if (button == &saveButton)
    {
        thread->requestSave();
        lastSaveAt = nowMs();
    }

    if (button == &cancelButton)
        cancelUserRequests (*thread);

    if (button == &packageButton)
        toggleDropdown (dropdown::package);

    noteUserActivity();
}

void MainComponent::toggleDropdown (int index)
{
    const auto parts = dropdownParts (index);
    if (parts.list == nullptr)
        return;

    const auto toggle = dropdown::toggle (*parts.state, openDropdown, index);

    if (toggle.action == dropdown::ListAction::hide)
        parts.list->setVisible (false);

    if (toggle.action == dropdown::ListAction::show)
    {
        parts.list->setVisible (true);
        parts.list->toFront (true);
    }

    *parts.state = toggle.state;
    openDropdown = toggle.openDropdown;
    renderDropdownOf (index);
}

void MainComponent::sliderValueChanged (juce::Slider* slider)
{
    if (thread == nullptr)
        return;

    for (int g = 0; g < 3; ++g)
    {
        if (slider != &levelSliders[g])
            continue;

        const auto level = (int) juce::jlimit (-1.0e9, 1.0e9, std::trunc (slider->getValue()));
        thread->setBrightness (g, level);
        levelLabels[g].setText (juce::String (level), juce::dontSendNotification);
    }

    noteUserActivity();
}

void MainComponent::mouseDown (const juce::MouseEvent& event)
{
    noteUserActivity();

    if (openDropdown < 0)
        return;

    const auto parts = dropdownParts (openDropdown);
    if (parts.list == nullptr)
        return;

    auto pressIsOn = [&event] (juce::Component& component)
    {
        const auto at = event.getEventRelativeTo (&component).getPosition();
        return dropdown::pressIsInside (at.x, at.y, component.getWidth(), component.getHeight());
    };

    if (! pressIsOn (*parts.list) && ! pressIsOn (*parts.button))
    {
        closeDropdown (openDropdown);
        openDropdown = dropdown::noneOpen;
    }
}

} // namespace olvo
