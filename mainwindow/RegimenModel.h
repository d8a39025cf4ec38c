#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/**
    Model and row painter of the package list: one row per package, a thumbnail (the brand icon) and a name. The
    selected row keeps the normal background and gets a light-blue frame.

    A click is only latched (clicked, clickedRow), as in CollectionModel.
*/
class RegimenModel : public juce::Component,
                     public juce::ListBoxModel
{
public:
    RegimenModel() = default;
    ~RegimenModel() override = default;

    //==============================================================================
    int getNumRows() override { return names.size(); }
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool rowIsSelected) override;

    //==============================================================================
    /** One thumbnail per row (an invalid image draws none). */
    juce::Array<juce::Image> images;

    /** One text per row; the row count is their number. */
    juce::StringArray names;

    /** Latched by a click until the owner clears it. */
    bool clicked = false;
    int clickedRow = -1;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RegimenModel)
};

} // namespace olvo
