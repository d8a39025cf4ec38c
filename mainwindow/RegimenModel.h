#pragma once

#include "RowClickLatch.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/**
    Model and row painter of the package list: one row per package, a thumbnail (the brand icon) and a name. The
    selected row keeps the normal background and gets a light-blue frame.

    A click is only latched (RowClickLatch), as in CollectionModel.
*/
class RegimenModel : public juce::Component,
                     public juce::ListBoxModel,
                     public RowClickLatch
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

    //==============================================================================
    /** Replaces the rows; true when they changed: another number of names or images, another name, or an image of
        another width or height (a null image counts as 0 x 0). A change starts a new generation of rows. Change
        the rows only through this (or call markRowsChanged), so that a click can be matched to its rows. */
    bool setRows (const juce::StringArray& newNames, const juce::Array<juce::Image>& newImages);

    /** The latched click within the rows shown now (see RowClickLatch::takeClickWithin). */
    int takeClick() { return takeClickWithin (names.size()); }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (RegimenModel)
};

} // namespace olvo
