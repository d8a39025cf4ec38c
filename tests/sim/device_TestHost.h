#pragma once

#include "sim/device/SimDevice.h"

#include <gtest/gtest.h>
#include <hidapi.h>

#include <atomic>
#include <cstring>

namespace olvo::sim::test
{

//==============================================================================
/** A request as the host builds it: the 64 device bytes, with helpers for the multi-byte fields. */
struct Request
{
    std::array<uint8_t, 64> bytes {};

    explicit Request (uint8_t code)                         { bytes[0] = code; }
    Request& at (int offset, uint8_t value)                 { bytes[(size_t) offset] = value; return *this; }
    Request& u32be (int offset, uint32_t v)
    {
        for (int i = 0; i < 4; ++i)
            bytes[(size_t) (offset + i)] = (uint8_t) (v >> (24 - 8 * i));
        return *this;
    }
    Request& data (int offset, const uint8_t* p, size_t n)  { std::memcpy (bytes.data() + offset, p, n); return *this; }
};

inline uint16_t u16le (const uint8_t* p)    { return (uint16_t) (p[0] | (p[1] << 8)); }
inline uint32_t u32le (const uint8_t* p)    { return p[0] | ((uint32_t) p[1] << 8) | ((uint32_t) p[2] << 16) | ((uint32_t) p[3] << 24); }
inline uint32_t u32be (const uint8_t* p)    { return ((uint32_t) p[0] << 24) | ((uint32_t) p[1] << 16) | ((uint32_t) p[2] << 8) | p[3]; }

using Block = std::array<uint8_t, 1024>;

/** The block checksum as the host computes it: the sum of the 256 little-endian words. */
inline uint32_t blockChecksum (const Block& b)
{
    uint32_t sum = 0;
    for (size_t i = 0; i < b.size(); i += 4)
        sum += u32le (b.data() + i);
    return sum;
}

/** Distinct, non-erased content for a block. */
inline Block patternBlock (int seed)
{
    Block b;
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = (uint8_t) (seed * 31 + (int) i * 7 + 1);
    return b;
}

//==============================================================================
/** Fixture: a fresh device on a virtual clock that only the test moves, and host-side helpers over raw hidapi. */
class DeviceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        SimDevice::reset();
        SimDevice::setClock ([this] { return virtualNow.load(); });
    }

    void TearDown() override
    {
        for (auto* dev : opened)
            hid_close (dev);

        SimDevice::setClock ({});
        SimDevice::reset();
    }

    /** Moves the virtual clock on. */
    void advance (int64_t ms)                       { virtualNow += ms; }

    /** hid_open, remembered for closing. */
    hid_device* open (unsigned short vendor, unsigned short product)
    {
        auto* dev = hid_open (vendor, product, nullptr);
        if (dev != nullptr)
            opened.push_back (dev);
        return dev;
    }

    hid_device* openNormal()                        { return open (0x0D60, 0xC000); }
    hid_device* openBoot()                          { return open (0x1FC9, 0x0081); }

    /** Plugs the device in and opens it under the identity of its mode, non-blocking. */
    hid_device* plugAndOpen()
    {
        SimDevice::plug();
        auto* dev = SimDevice::inBootLoader() ? openBoot() : openNormal();
        EXPECT_NE (dev, nullptr);
        if (dev != nullptr)
            hid_set_nonblocking (dev, 1);
        return dev;
    }

    /** Sends a request as a 65-byte feature report with report id 0. */
    static int send (hid_device* dev, const Request& r)
    {
        unsigned char buffer[65] {};
        std::memcpy (buffer + 1, r.bytes.data(), 64);
        return hid_send_feature_report (dev, buffer, sizeof (buffer));
    }

    /** Reads the status report; fails the test unless 65 bytes with report id 0 came back. */
    static std::array<uint8_t, 64> status (hid_device* dev)
    {
        unsigned char buffer[65] {};
        EXPECT_EQ (hid_get_feature_report (dev, buffer, sizeof (buffer)), 65);
        EXPECT_EQ (buffer[0], 0);
        std::array<uint8_t, 64> out;
        std::memcpy (out.data(), buffer + 1, 64);
        return out;
    }

    /** One non-blocking read into a 65-byte buffer; returns hid_read's result. */
    static int readReply (hid_device* dev, std::array<uint8_t, 65>& out)
    {
        out.fill (0);
        return hid_read (dev, out.data(), out.size());
    }

    /** Address and 18 chunks of one block, as the host sends them. */
    static void writeBlock (hid_device* dev, int block, const Block& data, uint32_t checksum)
    {
        ASSERT_EQ (send (dev, Request (8).at (1, (uint8_t) block).u32be (2, checksum)), 65);

        for (int chunk = 0; chunk < 18; ++chunk)
        {
            const int length = chunk == 17 ? 4 : 60;
            ASSERT_EQ (send (dev, Request (9).at (1, (uint8_t) block).at (2, (uint8_t) chunk).at (3, (uint8_t) length)
                                             .data (4, data.data() + 60 * chunk, (size_t) length)), 65);
        }
    }

    static void writeBlock (hid_device* dev, int block, const Block& data)
    {
        writeBlock (dev, block, data, blockChecksum (data));
    }

    std::atomic<int64_t> virtualNow { 5'000'000 };
    std::vector<hid_device*> opened;
};

} // namespace olvo::sim::test
