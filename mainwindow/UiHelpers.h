#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

namespace olvo
{

//==============================================================================
/** Compares a dotted version text ("1.2.0") with version 1.minor.tertiary: -1 older, 0 equal, 1 newer.

    A text of fewer than three dot-separated parts counts as newer, so an unknown version (no device yet) selects the
    layouts of current firmware. Each part is read as C's atoi would read it, but clamped instead of overflowing;
    parts after the third are ignored.
*/
int32_t compareVersion (const juce::String& version, int32_t minor, int32_t tertiary);

} // namespace olvo
