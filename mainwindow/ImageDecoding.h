#pragma once

#include <juce_graphics/juce_graphics.h>

#include <cstdint>

namespace olvo
{

//==============================================================================
/** How large an image named by URL may be. */
struct ImageLimits
{
    int64_t maxPixels = 4096 * 4096;   ///< width x height as the file declares it
    int maxSide = 16384;
};

/** What an image file declares about itself, read from its first bytes without decoding it. */
struct ImageHeader
{
    enum class Format { unknown, png, jpeg, gif };

    Format format = Format::unknown;
    int width = 0, height = 0;   ///< 0 when the header could not be read
};

/** The format by its signature and the size its decoder allocates: a PNG's IHDR, a JPEG's first frame header
    (SOFn) before its scan, a GIF's first image descriptor. A size that cannot be read is 0 x 0. */
ImageHeader readImageHeader (const void* data, size_t size);

/** Decodes a PNG, JPEG or GIF image (the first frame of a GIF) from data of more than 4 bytes, but only after its
    declared size has been read and found within the limits: a small file that declares 40000 x 40000 pixels gives
    a null image rather than an allocation of gigabytes.

    Any data gives an image or a null image, never a crash: PNG, JPEG and GIF go through libpng, libjpeg and giflib
    with errors caught (JUCE's own loaders, built against the system's libraries, crash on corrupt files, and its GIF
    reader reads outside its buffer on every file). PNG comes out in sRGB (the file's gAMA applied, a file without
    one taken as sRGB), CMYK and YCCK JPEGs as RGB. A file cut short keeps what was decoded, the rest transparent (a
    JPEG's rest as libjpeg fills it); a PNG that is corrupt rather than short is refused. Data that is not an image,
    or whose size cannot be read, gives a null image. Any thread. */
juce::Image decodeImageWithinLimits (const void* data, size_t size, const ImageLimits& limits = {});

} // namespace olvo
