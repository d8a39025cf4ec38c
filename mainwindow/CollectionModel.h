#pragma once

#include "RowClickLatch.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/**
    Model and row painter of the main window's dropdown lists (the program and duration lists of the three program
    groups). A row shows its name and, when it has one, its detail in the light face after "name:".

    A click is only latched (RowClickLatch): the owner's timer takes it. It is a component so that it can be given
    the window's look-and-feel, whose list colours the rows use.
*/
class CollectionModel : public juce::Component,
                        public juce::ListBoxModel,
                        public RowClickLatch
{
public:
    CollectionModel() = default;
    ~CollectionModel() override = default;

    //==============================================================================
    int getNumRows() override { return names.size(); }
    void paintListBoxItem (int row, juce::Graphics&, int width, int height, bool rowIsSelected) override;
    void listBoxItemClicked (int row, const juce::MouseEvent&) override;

    //==============================================================================
    /** The row texts; the row count is their number. */
    juce::StringArray names;

    /** An optional second text per row (may be shorter than names). */
    juce::StringArray details;

    /** The background of the selected row. */
    juce::Colour selectedRowColour { juce::Colours::lightblue };

    //==============================================================================
    /** Replaces the rows; when they differ from the rows shown, starts a new generation of rows and returns true.
        Change the rows only through this (or call markRowsChanged), so that a click can be matched to its rows. */
    bool setRows (const juce::StringArray& newNames, const juce::StringArray& newDetails);

    /** The latched click within the rows shown now (see RowClickLatch::takeClickWithin). */
    int takeClick() { return takeClickWithin (names.size()); }

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CollectionModel)
};

} // namespace olvo
