#pragma once

#include "DeviceFormats.h"

#include <algorithm>

namespace olvo
{

//==============================================================================
/** What differs between the device's firmware versions, in one place: level coding, brightness and duration ranges,
    where each program group keeps its values, and how the slots are keyed. The engine and the windows both read it.
*/
struct FirmwareVersion
{
    int major = 0, minor = 0, tertiary = 0;

    static FirmwareVersion of (const DeviceIds& ids) { return { ids.major(), ids.minor(), ids.tertiary() }; }

    bool is10() const          { return major == 1 && minor == 0; }
    bool is11() const          { return major == 1 && minor == 1; }
    /** Major above 1, or major 1 with minor above 1 (also: "1.2 or later"). */
    bool newerThan11() const   { return major > 1 || (major == 1 && minor > 1); }
    /** On 1.0.x, tertiary 11 or more and odd: group 1 runs levels 1..4 instead of 5..8. */
    bool group1LowRange() const { return is10() && tertiary >= 11 && (tertiary % 2) == 1; }
};

struct Range
{
    int lo = 0, hi = 0;
    bool operator== (const Range& o) const { return lo == o.lo && hi == o.hi; }
};

namespace firmware
{
    /** The firmware's own brightness range of a program group (0..2). */
    inline Range levelRange (const FirmwareVersion& v, int group)
    {
        if (v.major != 1)
            return { 0, 0 };

        if (v.is10())
        {
            if (group == 0) return { 1, 4 };
            if (group == 1) return v.group1LowRange() ? Range { 1, 4 } : Range { 5, 8 };
            return v.tertiary > 10 ? Range { 2, 2 } : Range { 0, 0 };
        }

        if (v.is11())
            return group == 2 ? Range { 2, 2 } : Range { 1, 10 };

        return { 1, 10 };
    }

    /** The firmware's own duration range (minutes) of a program group. */
    inline Range durationRange (const FirmwareVersion& v, int group)
    {
        if (v.major != 1)
            return { 0, 0 };

        if (v.is10())
        {
            if (v.tertiary >= 14)
                return group == 2 ? Range { 9999, 9999 } : Range { 30, 30 };
            if (group == 0) return { 1, 9999 };
            if (group == 1) return { 1, 30 };
            return { 0, 0 };
        }

        if (group == 0) return { 1, 9999 };
        if (group == 1) return { 1, 255 };
        return v.is11() ? Range { 9999, 9999 } : Range { 1, 9999 };
    }

    /** A settings level byte as a level: above 0x80 is 4, above 0x40 is 3, 0x21 and up 2, 0x20 is 1, else itself. */
    inline int decodeLevelByte (uint8_t b)
    {
        if (b > 0x80)  return 4;
        if (b > 0x40)  return 3;
        if (b >= 0x21) return 2;
        if (b == 0x20) return 1;
        return b;
    }

    /** A level as the settings byte the firmware stores: a bit pattern on 1.0.x, the number itself elsewhere. */
    inline uint8_t encodeLevel (const FirmwareVersion& v, int level)
    {
        if (! v.is10())
            return (uint8_t) level;

        int n = std::max (level, 1);
        if (n > 4)
            n -= 4;
        return n >= 4 ? (uint8_t) 0xFF : (uint8_t) (0x20 << (n - 1));
    }

    /** Settings byte holding the level of a program group. */
    inline int levelByteOf (int group)
    {
        return group == 0 ? wire::settingsLevel0 : group == 1 ? wire::settingsLevel1 : wire::settingsLevel2;
    }

    /** The level the device has for a program group, as read from its settings record. */
    inline int presentLevel (const FirmwareVersion& v, const uint8_t* settings, int group)
    {
        if (group == 2 && v.major == 1 && (v.is10() || v.is11()))
            return 2;

        int level = decodeLevelByte (settings[levelByteOf (group)]);
        if (group == 1 && v.is10() && ! v.group1LowRange())
            level += 4;
        return level;
    }

    /** The duration (minutes) the device has for a program group, as read from its settings record. */
    inline int presentDuration (const FirmwareVersion& v, const uint8_t* settings, int group)
    {
        if (group == 0)
            return settings[wire::settingsDuration0] + 60 * settings[wire::settingsDuration0 + 1];
        if (group == 1)
            return settings[wire::settingsDuration1];

        if (v.major == 0 || v.is11())
            return 9999;
        if (v.is10())
            return v.tertiary >= 14 ? 9999 : 0;
        return settings[wire::settingsDuration2] + 60 * settings[wire::settingsDuration2 + 1];
    }

    /** Settings byte of a program group's duration; the second byte follows it. */
    inline int durationByteOf (int group)
    {
        return group == 0 ? wire::settingsDuration0 : group == 1 ? wire::settingsDuration1 : wire::settingsDuration2;
    }

    /** The entry of a program group's duration in the engine's duration requests (durationChanged,
        requestedDuration), which are kept in settings-field order: groups 0 and 1 are swapped. */
    inline int durationFieldOf (int group)     { return group == 0 ? 1 : group == 1 ? 0 : group; }

    /** The program group of a duration request entry (the same swap). */
    inline int groupOfDurationField (int field) { return durationFieldOf (field); }

    /** A duration's two settings bytes in the device's coding. */
    struct DurationBytes
    {
        uint8_t low = 0, high = 0;
    };

    /** A duration (minutes, negative as 0) in a program group's coding: group 1 keeps minutes up to 255 in one byte,
        the others minutes % 60 and hours (up to 255). */
    inline DurationBytes encodeDuration (int group, int minutes)
    {
        minutes = std::max (minutes, 0);
        if (group == 1)
            return { (uint8_t) std::min (minutes, 255), 0 };
        return { (uint8_t) (minutes % 60), (uint8_t) std::min (minutes / 60, 255) };
    }

    /** Writes a duration (minutes) of a program group into a settings record in the device's coding. */
    inline void putDuration (uint8_t* settings, int group, int minutes)
    {
        const auto bytes = encodeDuration (group, minutes);
        settings[durationByteOf (group)] = bytes.low;
        settings[durationByteOf (group) + 1] = bytes.high;
    }

    /** The request key of a device slot (0..5): "1".."6", with slots 2 and 3 keyed "7" and "8" after 1.1. */
    inline int slotKey (const FirmwareVersion& v, int slot)
    {
        if (v.newerThan11() && (slot == 2 || slot == 3))
            return slot + 5;
        return slot + 1;
    }
}

} // namespace olvo
