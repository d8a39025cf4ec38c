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

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (CollectionModel)
};

} // namespace olvo
