#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

namespace olvo
{

//==============================================================================
/**
    Model and row painter of the main window's dropdown lists (the program and duration lists of the three program
    groups). A row shows its name and, when it has one, its detail in the light face after "name:".

    A click is only latched (clicked, clickedRow): the owner's timer acts on it and clears clicked. It is a component
    so that it can be given the window's look-and-feel, whose list colours the rows use.
*/
class CollectionModel : public juce::Component,
                        public juce::ListBoxModel
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

    /** Latched by a click until the owner clears it; a second click overwrites the row. */
    bool clicked = false;
    int clickedRow = -1;

    //==============================================================================
    /** Replaces the rows; when they differ from the rows shown, starts a new generation of rows and returns true.
        Change the rows only through this (or call markRowsChanged), so that a click can be matched to its rows. */
    bool setRows (const juce::StringArray& newNames, const juce::StringArray& newDetails);

    /** Starts a new generation although the texts stay (the things behind the rows changed). */
    void markRowsChanged() { ++rowsGeneration; }

    /** Counts the changes of the rows; a click records the generation it was made on (clickedGeneration). */
    uint32_t rowsGeneration = 0;
    uint32_t clickedGeneration = 0;

    /** True while a latched click was made on the rows shown now: a click on rows that have been replaced since
        must not be applied to whatever row now has its index. */
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
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CollectionModel)
};

} // namespace olvo
