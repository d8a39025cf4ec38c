#pragma once

#include <cstdint>

namespace olvo::sim
{

/** Our simulated firmware images carry their version in a small header, so that the simulated device reports the
    version of the image that was written into it. The real image format is the maker's; this one is ours:
    bytes 0..3 "OLFW", byte 4 major, byte 5 minor, bytes 6..7 tertiary big-endian, the rest filler. */
struct FirmwareImageHeader
{
    static constexpr uint8_t magic[4] { 'O', 'L', 'F', 'W' };
    static constexpr int majorAt = 4, minorAt = 5, tertiaryAt = 6;

    static bool read (const uint8_t* image, int& major, int& minor, int& tertiary)
    {
        for (int i = 0; i < 4; ++i)
            if (image[i] != magic[i])
                return false;
        major = image[majorAt];
        minor = image[minorAt];
        tertiary = (image[tertiaryAt] << 8) | image[tertiaryAt + 1];
        return true;
    }

    static void write (uint8_t* image, int major, int minor, int tertiary)
    {
        for (int i = 0; i < 4; ++i)
            image[i] = magic[i];
        image[majorAt] = (uint8_t) major;
        image[minorAt] = (uint8_t) minor;
        image[tertiaryAt] = (uint8_t) (tertiary >> 8);
        image[tertiaryAt + 1] = (uint8_t) tertiary;
    }
};

} // namespace olvo::sim
