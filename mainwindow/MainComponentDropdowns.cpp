// The main window's content: the dropdown buttons' images, closing a list, and which program the device holds.

#include "MainComponent.h"

#include "UiHelpers.h"

#include "look/Palette.h"

#include <cmath>
#include <cstdio>

namespace olvo
{

void MainComponent::renderDropdownButton (juce::ImageButton& button, const juce::String& text, int state,
                                          bool centred, juce::Colour textColour, juce::Colour background)
{
    const int w = button.getWidth();
    const int h = button.getHeight();
    if (w < 3 || h < 3)
        return;

    juce::Image image (juce::Image::ARGB, w, h, true);
    {
        juce::Graphics g (image);
        g.fillAll (background);
        g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);

        const auto font = fontOf (appFontRegular, juce::jlimit (0.1f, 10000.0f, 0.75f * (float) h));
        g.setFont (font);
        g.setColour (textColour);

        // Where the content ends: the triangle goes half a box after it.
        float xe = 0.0f;

        if (&button == &packageButton || &button == &fillerImageButton)
        {
            auto picture = getImageForURL (text);
            if (picture.isValid() && picture.getWidth() > 1 && picture.getHeight() > 1)
            {
                picture = downscaleByHalving (picture, w, h);
                const auto iw = (float) picture.getWidth();
                const auto ih = (float) picture.getHeight();

                if (&button == &packageButton)
                {
                    // Scaled to the button's height, at its left edge, vertically centred.
                    const auto s = juce::jmin ((float) h / ih, std::floor (iw * (float) h / ih) / iw);
                    g.drawImage (picture, { 0.0f, ((float) h - ih * s) / 2.0f, iw * s, ih * s });
                    xe = iw * (float) h / ih + 1.0f;
                }
                else
                {
                    g.drawImage (picture, { 0.0f, 0.0f, (float) w, (float) h }, juce::RectanglePlacement::centred);
                }
            }
        }
        else
        {
            g.drawText (text, juce::Rectangle<int> (1, 1, w - 2, h - 2),
                        centred ? juce::Justification::centred : juce::Justification::centredLeft, false);
            const auto textWidth = font.getStringWidthFloat (text);
            xe = centred ? ((float) w + textWidth) / 2.0f : textWidth + 1.0f;
        }

        if (state != dropdown::noList)
        {
            const auto t = 0.4f * (float) h;
            auto x = xe + t / 2.0f;
            if (xe + t / 2.0f + t > (float) w)
                x = (float) w - t;

            g.setColour (background);
            g.fillRect (juce::Rectangle<float> (x, 0.0f, t, (float) h));

            juce::Path triangle;
            const auto fh = (float) h;
            if (state > 0)
                triangle.addTriangle (x + 0.1f * t, 0.5f * fh, x + 0.5f * t, 0.65f * fh, x + 0.9f * t, 0.5f * fh);
            else
                triangle.addTriangle (x, 0.65f * fh, x + 0.5f * t, 0.5f * fh, x + t, 0.65f * fh);

            g.setColour (textColour);
            g.fillPath (triangle);
        }
    }

    const auto none = juce::Colours::transparentBlack;
    button.setImages (false, true, true, image, 1.0f, none, {}, 1.0f, none, {}, 1.0f, none, 0.0f);
    button.setWantsKeyboardFocus (false);
}

void MainComponent::redrawDropdownButton (juce::ImageButton& button, const juce::String& text, int state,
                                          bool centred, juce::Colour textColour, juce::Colour background)
{
    DrawnButton drawn { text, state, centred, textColour.getARGB(), background.getARGB(), button.getWidth(),
                        button.getHeight(), {} };

    // The package and filler buttons show the image named by their text: a new download redraws them.
    if (&button == &packageButton || &button == &fillerImageButton)
        drawn.picture = getImageForURL (text);

    auto& last = drawnButtons[&button];
    if (last == drawn && button.getNormalImage().isValid())
        return;

    renderDropdownButton (button, text, state, centred, textColour, background);
    last = std::move (drawn);
}

MainComponent::DropdownParts MainComponent::dropdownParts (int index)
{
    if (index >= 0 && index < 3)
        return { &programButtons[index], &programLists[index], &programListState[index] };
    if (index >= 3 && index < 6)
        return { &durationButtons[index - 3], &durationLists[index - 3], &durationListState[index - 3] };
    if (index == dropdown::package)
        return { &packageButton, &packageList, &packageListState };
    return {};
}

void MainComponent::renderDropdownOf (int index)
{
    const juce::Colour text (uiPalette[5]);

    if (index >= 0 && index < 3)
    {
        redrawDropdownButton (programButtons[index], programButtonText[index], programListState[index], true, text,
                              juce::Colour (uiPalette[4]));
    }
    else if (index >= 3 && index < 6)
    {
        const int g = index - 3;
        redrawDropdownButton (durationButtons[g], durationButtonText[g], durationListState[g], false, text,
                              juce::Colour (dropdownBackgroundColour));
    }
    else if (index == dropdown::package && thread != nullptr)
    {
        juce::String logo;
        thread->getCurrentPackageName (logo);
        redrawDropdownButton (packageButton, logo, packageListState, false, text, juce::Colour (uiPalette[3]));
    }
}

void MainComponent::closeDropdown (int index)
{
    std::printf ("lc %d act %d\n", index, (int) openDropdown);
    std::fflush (stdout);

    const auto parts = dropdownParts (index);
    if (parts.list == nullptr)
        return;

    parts.list->setVisible (false);
    if (*parts.state == dropdown::open)
    {
        *parts.state = dropdown::stateAfterClosing (*parts.state);
        renderDropdownOf (index);
    }
}

int MainComponent::findLoadedProgram (int group, const std::vector<ProgramChoice>& choices,
                                      const juce::String& firmwareText, const EngineSnapshot& read)
{
    if (! choices.empty())
        return loadedProgram::bestMatch (group, choices, firmwareText, read.slotCodes);

    if (const auto mask = loadedProgram::eraseMask (group, firmwareText, read.slotCodes, eraseConditionsOf (read)))
        thread->slotClearMask |= mask;

    return -1;
}

loadedProgram::EraseConditions MainComponent::eraseConditionsOf (const EngineSnapshot& snapshot)
{
    loadedProgram::EraseConditions conditions;
    conditions.saveInFlight = snapshot.saveInFlight;
    conditions.requestPending = snapshot.changePending;
    conditions.devicePresent = snapshot.present;
    conditions.status = snapshot.status;
    return conditions;
}

} // namespace olvo
