#pragma once

#include <juce_core/juce_core.h>

#include <cstdint>

namespace olvo
{

//==============================================================================
/**
    A list's click, latched until the window's timer takes it, and the generation of rows it was made on: the list
    models (CollectionModel, RegimenModel) count each change of their rows, so that a click on rows the server has
    replaced since is not applied to whatever row now has its index.
*/
struct RowClickLatch
{
    /** Latched by a click until the owner takes or clears it; a second click overwrites the row. */
    bool clicked = false;
    int clickedRow = -1;

    /** Counts the changes of the rows; a click records the generation it was made on. */
    uint32_t rowsGeneration = 0;
    uint32_t clickedGeneration = 0;

    /** A click on a row of the rows shown now. */
    void latchClick (int row)
    {
        clicked = true;
        clickedRow = row;
        clickedGeneration = rowsGeneration;
    }

    /** Starts a new generation of rows (the rows, or the things behind them, changed). */
    void markRowsChanged() { ++rowsGeneration; }

    /** True while a latched click was made on the rows shown now. */
    bool clickIsOnCurrentRows() const { return clicked && clickedGeneration == rowsGeneration; }

    /** Takes the latched click: its row when it was made on the rows shown now and lies within their number, else
        -1. The latch is cleared either way. */
    int takeClickWithin (int rows)
    {
        const int row = clickIsOnCurrentRows() && juce::isPositiveAndBelow (clickedRow, rows) ? clickedRow : -1;
        clicked = false;
        return row;
    }
};

} // namespace olvo
