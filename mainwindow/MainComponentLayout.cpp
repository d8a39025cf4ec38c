// The main window's content: placing the children (MainLayout.h) and painting the program-group panels and the
// regimen's phase texts behind them.

#include "MainComponent.h"

#include "UiHelpers.h"

#include "BinaryData.h"
#include "look/Palette.h"

namespace olvo
{

namespace
{
    constexpr juce::uint32 unavailableGroup = 0xffffffff;
    constexpr juce::uint32 greyOut = 0xd3ffffff;
    constexpr juce::uint32 dayPillColour = 0xffd2f0f5;
    constexpr juce::uint32 dayTextColour = 0xff0c5d62;

    juce::Image groupIcon (int group)
    {
        switch (group)
        {
            case 0:  return juce::ImageCache::getFromMemory (BinaryData::groupMulti_png, BinaryData::groupMulti_pngSize);
            case 1:  return juce::ImageCache::getFromMemory (BinaryData::groupBright_png, BinaryData::groupBright_pngSize);
            default: return juce::ImageCache::getFromMemory (BinaryData::groupOrange_png, BinaryData::groupOrange_pngSize);
        }
    }

    /** An image reduced towards a square and drawn centred in it. */
    void drawInSquare (juce::Graphics& g, const juce::Image& image, juce::Rectangle<float> square)
    {
        const auto side = (int) square.getWidth();
        g.drawImage (downscaleByHalving (image, side, side), square, juce::RectanglePlacement::centred);
    }

    /** The grey of the phase counter: the palette's grey darkened to five sixths, alpha kept. */
    juce::Colour darkened (juce::Colour c)
    {
        auto part = [] (juce::uint8 v) { return (juce::uint8) ((double) v * 0.8333333); };
        return juce::Colour (part (c.getRed()), part (c.getGreen()), part (c.getBlue()), c.getAlpha());
    }
}

void MainComponent::resized()
{
    const auto layout = currentLayout();

    packageButton.setBounds (layout.packageButton);
    if (thread != nullptr)
        renderDropdownOf (dropdown::package);

    // The package list is as wide as its widest row.
    const int pr = packageRowHeight (getHeight());
    packageList.setRowHeight (juce::jmax (1, pr));
    packageList.updateContent();

    const auto nameFont = fontOf (appFontRegular, 0.888f * (float) pr);
    std::vector<int> rowWidths;
    for (int i = 0; i < packageListModel.names.size(); ++i)
    {
        const auto image = packageListModel.images[i];
        rowWidths.push_back (packageRowWidth (image.getWidth(), image.getHeight(),
                                              nameFont.getStringWidthFloat (packageListModel.names[i]), pr));
    }
    packageList.setBounds (packageListBounds (layout, packageListModel.names.size(), rowWidths));
    packageList.setOutlineThickness (layout.outline);

    infoButton.setBounds (layout.infoButton);
    helpButton.setBounds (layout.helpButton);
    linkButton.setBounds (layout.linkButton);
    fillerTextButton.setBounds (layout.fillerTextButton);

    tooltipFontHeight = layout.tooltipFontHeight;

    fillerImageButton.setBounds (layout.fillerImageButton);

    auto placeList = [&layout] (juce::ListBox& list, juce::Rectangle<int> bounds)
    {
        list.setOutlineThickness (layout.outline);
        list.setRowHeight (juce::jmax (1, layout.rowH));
        list.updateContent();
        list.setBounds (bounds);
    };

    for (int g = 0; g < 3; ++g)
        placeList (programLists[g], layout.programLists[g]);

    for (int g = 0; g < 3; ++g)
    {
        levelSliders[g].setBounds (layout.levelSliders[g]);
        programButtons[g].setBounds (layout.programButtons[g]);
        renderDropdownOf (dropdown::program (g));
        durationButtons[g].setBounds (layout.durationButtons[g]);
        renderDropdownOf (dropdown::duration (g));
        levelLabels[g].setBounds (layout.levelLabels[g]);
        levelLabels[g].setFont (fontOf (appFontRegular, juce::jlimit (0.1f, 10000.0f, layout.levelLabelFontHeight)));
        placeList (durationLists[g], layout.durationLists[g]);
    }

    batteryDisplay.setBounds (layout.batteryDisplay);
    netDisplay.setBounds (layout.netDisplay);
    saveButton.setBounds (layout.saveButton);
    cancelButton.setBounds (layout.cancelButton);
    webView->getComponent().setBounds (layout.webView);
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (findColour (juce::ResizableWindow::backgroundColourId));
    g.setImageResamplingQuality (juce::Graphics::highResamplingQuality);

    const auto layout = currentLayout();
    const auto W = (float) getWidth();
    const auto H = (float) getHeight();

    const auto smallSun = juce::ImageCache::getFromMemory (BinaryData::sunSmall_png, BinaryData::sunSmall_pngSize);
    const auto largeSun = juce::ImageCache::getFromMemory (BinaryData::sunLarge_png, BinaryData::sunLarge_pngSize);

    // The shadows first: a panel's shadow reaches under its neighbour, and must not be drawn over it.
    for (int group = 0; group < 3; ++group)
        if (uiPalette[group] != unavailableGroup)
            juce::DropShadow (juce::Colour (uiPalette[7]), layout.x0, { 0, layout.x0 / 2 })
                .drawForRectangle (g, layout.shadowArea (group));

    for (int group = 0; group < 3; ++group)
    {
        if (uiPalette[group] == unavailableGroup)
            continue;

        g.setColour (juce::Colour (uiPalette[4]));
        g.fillRoundedRectangle (layout.panel (group).toFloat(), layout.cornerSize());

        // The bottom band: only its bottom corners are round.
        const auto band = layout.band (group);
        g.setColour (juce::Colour (dropdownBackgroundColour));
        g.fillRoundedRectangle (band, layout.cornerSize());
        g.fillRect (band.withHeight (band.getHeight() / 2.0f));

        // The group's badge: a disc with an open ring a third of the way round, from 12 o'clock.
        const auto rb = layout.badgeRadius();
        const auto centre = layout.badgeCentre (group);
        g.setColour (juce::Colour (uiPalette[group]));
        g.fillEllipse (centre.x - rb, centre.y - rb, 2.0f * rb, 2.0f * rb);
        juce::Path ring;
        ring.addCentredArc (centre.x, centre.y, 1.25f * rb, 1.25f * rb, 0.0f, 0.0f, 2.094393f, true);
        g.strokePath (ring, juce::PathStrokeType (0.15f * rb, juce::PathStrokeType::curved,
                                                  juce::PathStrokeType::rounded));

        const auto s = layout.groupIconSize();
        drawInSquare (g, groupIcon (group), { centre.x - s / 2.0f, centre.y - s / 2.0f, s, s });

        drawInSquare (g, smallSun, layout.smallSun (group));
        drawInSquare (g, largeSun, layout.largeSun (group));

        // A level that cannot be changed (also without a device): the suns are greyed out.
        int lo = 0, hi = 0;
        thread->getBrightnessLimits (group, &lo, &hi);
        if (lo == hi)
        {
            g.setColour (juce::Colour (greyOut));
            g.fillRect (layout.smallSun (group));
            g.fillRect (layout.largeSun (group));
        }

        g.setFont (fontOf (appFontRegular, layout.captionFontHeight()));
        g.setColour (juce::Colour (uiPalette[6]));
        g.drawText ("Duration", layout.durationCaption (group), juce::Justification::centred, true);
        g.drawText ("Level", layout.levelCaption (group), juce::Justification::centred, true);
    }

    // The regimen: the phase counter, the phase name below it, and the day badge after the counter.
    const auto phaseFont = fontOf (appFontRegular, 0.055f * H);
    const auto w1 = phaseFont.getStringWidthFloat (phaseText);
    g.setFont (phaseFont);
    g.setColour (darkened (juce::Colour (uiPalette[6])));
    g.drawText (phaseText, juce::Rectangle<int> ((int) (0.05 * W), (int) (0.13 * H), (int) (2.0f + w1), (int) (0.03 * H)),
                juce::Justification::centredLeft, true);

    const auto nameFont = fontOf (appFontRegular, 0.08f * H);
    g.setFont (nameFont);
    g.setColour (findColour (juce::DocumentWindow::textColourId));
    g.drawText (phaseNameText,
                juce::Rectangle<int> ((int) (0.05 * W), (int) (0.16 * H),
                                      (int) juce::jmin (nameFont.getStringWidthFloat (phaseNameText), 0.6f * W),
                                      (int) (0.09 * H)),
                juce::Justification::bottomLeft, true);

    if (dayText.isNotEmpty())
    {
        const auto tw = phaseFont.getStringWidthFloat (dayText);
        const auto p = 0.052f * H;
        const juce::Rectangle<float> pill (w1 + 0.07f * W, 0.119f * H, tw + p, p);
        g.setColour (juce::Colour (dayPillColour));
        g.fillRoundedRectangle (pill, p / 2.0f);
        g.setFont (phaseFont);
        g.setColour (juce::Colour (dayTextColour));
        g.drawText (dayText, pill, juce::Justification::centred, false);
    }
}

} // namespace olvo
