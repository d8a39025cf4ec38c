#include "MainLayout.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace olvo
{

namespace
{
    int of (double fraction, int size) { return (int) (fraction * size); }
}

juce::Rectangle<float> MainLayout::band (int g) const
{
    return { (float) x (g), (float) (T + R - d), (float) colW, (float) d };
}

juce::Point<float> MainLayout::badgeCentre (int g) const
{
    return { (float) x (g) + (float) colW / 2.0f, (float) T + 0.2f * (float) R };
}

juce::Rectangle<float> MainLayout::smallSun (int g) const
{
    const int s2 = of (0.04, width);
    const int yI = (int) (T + 0.55 * R - s2 / 2);
    return { (float) (x (g) + 0.05 * colW), (float) yI, (float) s2, (float) s2 };
}

juce::Rectangle<float> MainLayout::largeSun (int g) const
{
    const int s2 = of (0.04, width);
    const int yI = (int) (T + 0.55 * R - s2 / 2);
    return { (float) (x (g) + 0.95 * colW - s2), (float) yI, (float) s2, (float) s2 };
}

juce::Rectangle<int> MainLayout::durationCaption (int g) const
{
    return { x (g), T + R - d, (int) (0.3 * colW), d };
}

juce::Rectangle<int> MainLayout::levelCaption (int g) const
{
    return { (int) (x (g) + 0.71 * colW), T + R - d, (int) (0.13 * colW), d };
}

MainLayout computeMainLayout (int W, int H, GroupMask availableGroups)
{
    MainLayout l;
    l.width = W;
    l.height = H;
    l.x0 = of (0.05, W);
    l.gap = of (0.03, W);
    l.colW = (of (0.9, W) - 2 * l.gap) / 3;
    l.pitch = l.colW + l.gap;
    l.T = of (0.33, H);
    l.R = of (0.43, H);
    l.d = of (0.11, H);
    l.outline = W > 800 ? 2 : 1;
    l.rowH = (int) (0.36f * (float) H / 10.0f);

    l.packageButton = { of (0.05, W), of (0.01, H), of (0.9, W), of (0.09, H) };
    l.infoButton = { of (0.81, W), of (0.87, H), of (0.06, W), of (0.06, W) };
    l.helpButton = { of (0.89, W), of (0.87, H), of (0.06, W), of (0.06, W) };
    l.linkButton = { of (0.73, W), of (0.79, H), of (0.22, W), of (0.07, H) };
    l.fillerTextButton = { of (0.35, W), of (0.79, H), of (0.3, W), of (0.07, H) };

    const int twoPanels = l.gap + 2 * l.colW;
    switch (availableGroups & 7)
    {
        case 0:  l.fillerImageButton = { l.x0, l.T, of (0.9, W), l.R }; break;
        case 1:  l.fillerImageButton = { l.x0 + l.pitch, l.T, twoPanels, l.R }; break;
        case 4:  l.fillerImageButton = { l.x0, l.T, twoPanels, l.R }; break;
        default: l.fillerImageButton = { of (1.1, W), l.T, 0, l.R }; break;
    }

    const double listLeft[3] { 0.05, 0.25, 0.45 };
    const int yD = (int) (l.T + l.R - 0.82 * l.d);
    const int hD = (int) (0.64 * l.d);

    for (int g = 0; g < 3; ++g)
    {
        const int x = l.x (g);
        l.programLists[g] = { of (listLeft[g], W), (int) (l.T + 0.44 * l.R), of (0.5, W),
                              10 * l.rowH + 2 * l.outline };
        l.levelSliders[g] = { (int) (x + 0.2 * l.colW), (int) (l.T + 0.45 * l.R), (int) (0.6 * l.colW),
                              (int) (0.2 * l.R) };
        l.programButtons[g] = { x, (int) (l.T + 0.3 * l.R), l.colW, (int) (0.14 * l.R) };
        l.durationButtons[g] = { (int) (x + 0.27 * l.colW), yD, (int) (0.42 * l.colW), hD };
        l.levelLabels[g] = { (int) (x + 0.85 * l.colW), yD, (int) (0.13 * l.colW), hD };
        l.durationLists[g] = { x, l.T, (int) (0.35 * l.colW), (int) (0.8 * H - l.T) };
    }

    l.batteryDisplay = { of (0.05, W), of (0.885, H), of (0.22, W), of (0.06, H) };
    l.netDisplay = { of (0.3, W), of (0.875, H), of (0.3, W), of (0.08, H) };
    l.saveButton = { (int) (l.x0 + l.pitch + l.colW - 0.1 * W), of (0.88, H), of (0.1, W), of (0.07, H) };
    l.cancelButton = { l.x0 + 2 * l.pitch, of (0.88, H), of (0.1, W), of (0.07, H) };
    l.webView = { 0, 0, W, of (0.86, H) };

    l.tooltipFontHeight = (float) (0.03 * H);
    l.levelLabelFontHeight = (float) (0.8 * 0.64 * l.d);
    return l;
}

int packageRowWidth (int imageWidth, int imageHeight, float nameWidth, int rowHeight)
{
    const int64_t thumbnail = imageHeight > 1 ? (int64_t) imageWidth * (rowHeight - 2) / imageHeight : 0;
    const int64_t total = thumbnail + (int64_t) std::ceil (juce::jlimit (0.0f, 1.0e9f, nameWidth));
    return (int) juce::jlimit ((int64_t) 0, (int64_t) std::numeric_limits<int>::max(), total);
}

int packageRowHeight (int height)
{
    return of (0.09, height);
}

juce::Rectangle<int> packageListBounds (const MainLayout& l, int rows, const std::vector<int>& rowWidths)
{
    const int pr = packageRowHeight (l.height);
    const int maxHeight = of (0.9, l.height);
    const int listH = (int) std::max (std::min ((int64_t) rows * pr, (int64_t) maxHeight), (int64_t) 2 * pr);

    int listW = 0;
    if (pr != 0)
    {
        listW = 4 * pr;
        for (auto w : rowWidths)
            listW = std::max (listW, w);
        listW = (int) std::min ((int64_t) listW + 4, (int64_t) of (0.9, l.width));
    }

    return { of (0.05, l.width), of (0.1, l.height), listW + 2 * l.outline, listH + 2 * l.outline };
}

} // namespace olvo
