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

/** Gives an image button the three images of an icon button: the icon with a margin of 8 pixels all round; under
    the mouse on a light-grey rounded square, pressed on a dark-grey one (corner 0.2 x its width). The images scale
    with the button, keeping their proportions; the whole button takes clicks, transparent pixels too. The button
    takes no keyboard focus. A null icon gives 16 x 16 images. */
void setIconButtonImages (juce::ImageButton& button, const juce::Image& icon);

/** Shrinks an image towards a target size by halving both sides (high-quality resampling) while the side that
    governs (the one with the larger ratio to its target; the width when they are equal) is more than twice its
    target, so that drawing it at the target size never shrinks it in one large step. Never enlarges; an image
    already within twice the target, a null image, and any image for a target below 1 come back as they are. A side
    never becomes 0 (a side of 1 stays 1). */
juce::Image downscaleByHalving (const juce::Image& source, int targetWidth, int targetHeight);

} // namespace olvo
