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

    //==============================================================================
    /** Replaces the rows; true when they changed: another number of names or images, another name, or an image of
        another width or height (a null image counts as 0 x 0). A change starts a new generation of rows. Change
        the rows only through this (or call markRowsChanged), so that a click can be matched to its rows. */
    bool setRows (const juce::StringArray& newNames, const juce::Array<juce::Image>& newImages);

    /** Starts a new generation although the rows look the same (the packages behind them changed). */
    void markRowsChanged() { ++rowsGeneration; }

    /** Counts the changes of the rows; a click records the generation it was made on (clickedGeneration). */
    uint32_t rowsGeneration = 0;
    uint32_t clickedGeneration = 0;

    /** True while a latched click was made on the rows shown now. */
    bool clickIsOnCurrentRows() const { return clicked && clickedGeneration == rowsGeneration; }

    /** Takes the latched click: its row when it was made on the rows shown now and lies within them, else -1. The
        latch is cleared either way. */
    int takeClick()
    {
        const int row = clickIsOnCurrentRows() && juce::isPositiveAndBelow (clickedRow, names.size()) ? clickedRow : -1;
        clicked = false;
        return row;
    }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RegimenModel)
};

} // namespace olvo
