#include "CollectionModel.h"

#include "look/Fonts.h"

#include <cmath>

namespace olvo
{

void CollectionModel::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool rowIsSelected)
{
    auto& lf = getLookAndFeel();
    g.fillAll (rowIsSelected ? selectedRowColour : lf.findColour (juce::ListBox::backgroundColourId));

    if (row < 0 || row >= names.size())
        return;

    g.setColour (lf.findColour (juce::ListBox::textColourId));
    const auto font = fontOf (appFontRegular, 1.1f * (float) height);
    g.setFont (font);

    auto nameText = names[row];
    const auto detail = details[row];
    juce::String detailText;

    if (detail.isNotEmpty())
    {
        nameText << ":";
        detailText = "   " + detail;
    }

    const auto nameWidth = juce::jmin ((int) std::ceil (font.getStringWidthFloat (nameText)), width - 6);
    const auto remaining = detail.isNotEmpty() ? width - 6 - nameWidth : 0;

    g.drawText (nameText, 4, 0, nameWidth, height, juce::Justification::centredLeft, true);

    if (remaining > 0)
    {
        g.setFont (fontOf (appFontLight, 1.1f * (float) height));
        g.drawText (detailText, nameWidth + 4, 0, remaining, height, juce::Justification::centredLeft, true);
    }
}

void CollectionModel::listBoxItemClicked (int row, const juce::MouseEvent&)
{
    latchClick (row);
}

bool CollectionModel::setRows (const juce::StringArray& newNames, const juce::StringArray& newDetails)
{
    if (newNames == names && newDetails == details)
        return false;

    names = newNames;
    details = newDetails;
    markRowsChanged();
    return true;
}

} // namespace olvo
