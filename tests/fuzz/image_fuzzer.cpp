// Arbitrary bytes as an image a server names by URL, through the path the image cache takes: the size the file
// declares, read from its first bytes and checked against the limits, then our PNG, JPEG or GIF decoder. Checked
// besides crashes, leaks and undefined behaviour: an image comes only from a file of a known format whose declared
// size is within the limits, and has that size.

#include "FuzzFail.h"

#include "mainwindow/ImageDecoding.h"

#include <cstdint>

namespace
{
    // Smaller than the cache's limits, so that a file declaring a large image costs milliseconds rather than a
    // second: the size check and the decoders take the same paths whatever the numbers.
    const olvo::ImageLimits limits { 1024 * 1024, 4096 };
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    using olvo::fuzz::fail;

    const auto header = olvo::readImageHeader (data, size);
    const auto image = olvo::decodeImageWithinLimits (data, size, limits);

    if (image.isNull())
        return 0;

    if (header.format == olvo::ImageHeader::Format::unknown)
        fail ("an image from data of no known format");

    if (header.width > limits.maxSide || header.height > limits.maxSide
        || (int64_t) header.width * header.height > limits.maxPixels)
        fail ("an image from a file that declares a size beyond the limits");

    if (image.getWidth() != header.width || image.getHeight() != header.height)
        fail ("an image of another size than its file declares");

    return 0;
}
