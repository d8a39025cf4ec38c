#include "RegimenModel.h"

#include "look/Fonts.h"

namespace olvo
{

void RegimenModel::listBoxItemClicked (int row, const juce::MouseEvent&)
{
    latchClick (row);
}

bool RegimenModel::setRows (const juce::StringArray& newNames, const juce::Array<juce::Image>& newImages)
{
    bool changed = newNames != names || newImages.size() != images.size();

    for (int i = 0; ! changed && i < newImages.size(); ++i)
        changed = newImages.getReference (i).getBounds() != images.getReference (i).getBounds();

    names = newNames;
    images = newImages;

    if (changed)
        markRowsChanged();
    return changed;
}

void RegimenModel::paintListBoxItem (int row, juce::Graphics& g, int width, int height, bool rowIsSelected)
{
    auto& lf = getLookAndFeel();
    g.fillAll (lf.findColour (juce::ListBox::backgroundColourId));

    if (row < 0 || row >= images.size() || row >= names.size())
        return;

    g.setColour (lf.findColour (juce::ListBox::textColourId));
    g.setFont (fontOf (appFontRegular, 0.888f * (float) height));

    // The thumbnail fits the row's height less a pixel above and below, at x = 1.
    const auto h2 = height - 2;
    const auto& image = images.getReference (row);
    int thumbWidth = 0;

    if (image.isValid() && image.getHeight() >= 2)
    {
        thumbWidth = image.getWidth() * h2 / image.getHeight();
        const auto scale = juce::jmin ((float) h2 / (float) image.getHeight(),
                                       (float) thumbWidth / (float) image.getWidth());
        const auto w = (float) image.getWidth() * scale;
        const auto h = (float) image.getHeight() * scale;
        g.drawImage (image, juce::Rectangle<float> (1.0f, 1.0f + ((float) h2 - h) * 0.5f, w, h));
    }

    g.drawText (names[row], thumbWidth + 1, 1, width - thumbWidth - 3, h2, juce::Justification::centredLeft, false);

    if (rowIsSelected)
    {
        g.setColour (juce::Colours::lightblue);
        g.drawRect (1, 1, width - 3, height - 3, 2);
    }
}

} // namespace olvo
