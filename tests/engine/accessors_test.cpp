// What the windows ask of the engine: identity texts, brightness ranges and requests, group colours, package image.

#include "EngineHarness.h"

using namespace olvo;

namespace
{
    constexpr int32_t purple = (int32_t) 0xffd151b1, blue = (int32_t) 0xff0094ff, orange = (int32_t) 0xffe8903e;
    constexpr int32_t yellow = (int32_t) 0xffffeb14, none = -1;

    class EngineAccessors : public test::EngineTest
    {
    protected:
        /** An engine with a device of this firmware open (nothing attached: the accessors read only the model). */
        OlvoThread& engineOn (int major, int minor, int tertiary, const char* serial = "OLVO-1")
        {
            auto& e = makeEngine();
            DeviceIds ids;
            std::memcpy (ids.bytes, serial, std::min<size_t> (std::strlen (serial), wire::idsSerialSize));
            ids.bytes[wire::idsMajor] = (uint8_t) major;
            ids.bytes[wire::idsMinor] = (uint8_t) minor;
            ids.bytes[wire::idsTertiary] = (uint8_t) (tertiary >> 8);
            ids.bytes[wire::idsTertiary + 1] = (uint8_t) tertiary;
            e.deviceIds.set (ids);
            e.deviceOpen = true;
            return e;
        }

        void serverLimits (int group, int lo, int hi)
        {
            engine->limits.update ([=] (auto& l)
            {
                l[(size_t) group].brightnessMin = lo;
                l[(size_t) group].brightnessMax = hi;
            });
        }
    };

    PackageInfo package (const char* logo, int isCurrent)
    {
        PackageInfo p;
        p.brandLogo = logo;
        p.isCurrent = isCurrent;
        return p;
    }
}

//==============================================================================
TEST_F (EngineAccessors, SerialAndFirmwareTexts)
{
    auto& e = engineOn (1, 0, 14);
    juce::String text;
    EXPECT_TRUE (e.getSerialNumber (text));
    EXPECT_EQ (text, "OLVO-1");
    EXPECT_EQ (e.getFirmwareVersionString(), "1.0.14");

    // A full 32-byte serial has no terminator: the UID after it is not part of it. Bytes above 0x7F are Latin-1.
    auto& full = engineOn (1, 2, 300, "ABCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    full.deviceIds.update ([] (DeviceIds& ids)
    {
        ids.bytes[0] = 0xE9;
        ids.bytes[wire::idsUid] = 'X';
    });
    EXPECT_TRUE (full.getSerialNumber (text));
    EXPECT_EQ (text, juce::String::charToString ((juce::juce_wchar) 0xE9) + "BCDEFGHIJKLMNOPQRSTUVWXYZ012345");
    EXPECT_EQ (full.getFirmwareVersionString(), "1.2.300");

    full.deviceOpen = false;
    EXPECT_FALSE (full.getSerialNumber (text)) << "the attempt time starts 30 s in the past";
    EXPECT_TRUE (text.isEmpty());
    EXPECT_TRUE (full.getFirmwareVersionString().isEmpty());
}

TEST_F (EngineAccessors, SerialSaysWaitingForFiveSecondsAfterAFirmwareAttempt)
{
    auto& e = makeEngine();
    e.lastFirmwareAttempt = nowMs();
    juce::String text;

    EXPECT_TRUE (e.getSerialNumber (text));
    EXPECT_EQ (text, "Waiting");

    time->clock.advance (4999);
    EXPECT_TRUE (e.getSerialNumber (text));
    EXPECT_EQ (text, "Waiting");

    time->clock.advance (1);
    EXPECT_FALSE (e.getSerialNumber (text));
    EXPECT_TRUE (text.isEmpty());

    // The windows' presence rule is the same, at the same boundary.
    EXPECT_TRUE (e.devicePresentAt (e.lastFirmwareAttempt + 4999));
    EXPECT_FALSE (e.devicePresentAt (e.lastFirmwareAttempt + 5000));
    e.deviceOpen = true;
    EXPECT_TRUE (e.devicePresentAt (e.lastFirmwareAttempt + 5000));
}

TEST (UserEditing, IsAPendingChangeWithoutASaveInFlight)
{
    EXPECT_FALSE (userIsEditing (false, false));
    EXPECT_TRUE (userIsEditing (true, false));
    EXPECT_FALSE (userIsEditing (true, true));
    EXPECT_FALSE (userIsEditing (false, true));

    // The engine's flags: any duration, level, program or package request; choiceDirty or settingsDirty.
    OlvoThread e;
    EXPECT_FALSE (e.isUserEditing());
    e.levelChanged[2] = true;
    EXPECT_TRUE (e.isUserEditing());
    e.settingsDirty = true;
    EXPECT_FALSE (e.isUserEditing());
    e.settingsDirty = false;
    e.choiceDirty = true;
    EXPECT_FALSE (e.isUserEditing());
    e.choiceDirty = false;
    e.levelChanged[2] = false;
    e.packageChoicePending = true;
    EXPECT_TRUE (e.isUserEditing());
}

TEST_F (EngineAccessors, BrightnessRangeByFirmwareAndServerLimits)
{
    struct Case
    {
        int major, minor, tertiary, group, serverMin, serverMax;
        int min, max;
    };

    const Case cases[] {
        { 2, 0, 0, 0, 1, 10, 0, 0 }, { 2, 0, 0, 2, 1, 10, 0, 0 }, { 0, 0, 0, 1, 1, 10, 0, 0 },
        { 1, 0, 10, 0, 1, 10, 1, 4 }, { 1, 0, 10, 1, 1, 10, 5, 8 }, { 1, 0, 10, 2, 1, 10, 0, 0 },
        { 1, 0, 12, 1, 1, 10, 5, 8 }, { 1, 0, 12, 2, 1, 10, 2, 2 },
        { 1, 0, 13, 1, 1, 10, 1, 4 }, { 1, 0, 13, 2, 1, 10, 2, 2 },
        { 1, 1, 5, 0, 1, 10, 1, 10 }, { 1, 1, 5, 2, 1, 10, 2, 2 },
        { 1, 2, 0, 2, 1, 10, 1, 10 },
        { 1, 2, 0, 0, 3, 6, 3, 6 },         // the server narrows the range
        { 1, 2, 0, 0, 0, 6, 1, 6 },         // ... but never below the firmware's minimum
        { 1, 2, 0, 0, 12, 15, 10, 10 },     // nor above its maximum
        { 1, 2, 0, 0, 0, 0, 1, 1 },         // a maximum below the minimum is raised to it
        { 1, 0, 12, 1, 6, 7, 6, 7 },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.major) + "." + juce::String (c.minor) + "." + juce::String (c.tertiary)
                      + " group " + juce::String (c.group));
        auto& e = engineOn (c.major, c.minor, c.tertiary);
        serverLimits (c.group, c.serverMin, c.serverMax);

        int lo = -5, hi = -5;
        e.getBrightnessLimits (c.group, &lo, &hi);
        EXPECT_EQ (lo, c.min);
        EXPECT_EQ (hi, c.max);
    }

    auto& e = engineOn (1, 2, 0);
    int lo = -5, hi = -5;
    e.getBrightnessLimits (0, nullptr, &hi);
    e.getBrightnessLimits (0, &lo, nullptr);
    EXPECT_EQ (lo, 1);
    EXPECT_EQ (hi, 10);
    e.getBrightnessLimits (3, &lo, &hi);
    EXPECT_EQ (lo, 0) << "no such group";
    e.deviceOpen = false;
    lo = hi = -5;
    e.getBrightnessLimits (0, &lo, &hi);
    EXPECT_EQ (lo, 0);
    EXPECT_EQ (hi, 0);
}

TEST_F (EngineAccessors, BrightnessRequestIsClampedAndComparedWithTheDevice)
{
    struct Case
    {
        const char* what;
        int major, minor, tertiary, group, serverMin, serverMax;
        uint8_t settingsByte;
        int level;
        int requested;
        bool changed;
    };

    const Case cases[] {
        { "1.0.12 group 1 to its top", 1, 0, 12, 1, 1, 10, 0x80, 10, 8, true },     // 0x80 is 3, plus 4 = 7
        { "1.0.12 group 1 as it is", 1, 0, 12, 1, 1, 10, 0x80, 7, 7, false },
        { "1.0.13 group 1 low range", 1, 0, 13, 1, 1, 10, 0x40, 2, 2, false },
        { "1.0 group 0 bit pattern", 1, 0, 14, 0, 1, 10, 0xFF, 4, 4, false },
        { "server limits 3..6", 1, 2, 0, 0, 3, 6, 3, 1, 3, false },
        { "above ten", 1, 2, 0, 0, 1, 10, 4, 99, 10, true },
        { "below one", 1, 2, 0, 2, 1, 10, 4, -5, 1, true },
        { "1.1 group 2 counts as 2", 1, 1, 0, 2, 1, 10, 9, 5, 2, false },
        { "firmware 2.x", 2, 0, 0, 0, 1, 10, 5, 5, 0, true },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto& e = engineOn (c.major, c.minor, c.tertiary);
        serverLimits (c.group, c.serverMin, c.serverMax);
        e.statusReport.update ([&] (StatusReport& r) { r.deviceSettings()[firmware::levelByteOf (c.group)] = c.settingsByte; });
        e.status = SyncStatus::upToDate;

        e.setBrightness (c.group, c.level);
        EXPECT_EQ (e.requestedLevel[c.group], c.requested);
        EXPECT_EQ (e.levelChanged[c.group], c.changed);
    }

    // Only while up to date; without a device the request is withdrawn.
    auto& e = engineOn (1, 2, 0);
    e.requestedLevel[1] = 9;
    e.levelChanged[1] = true;
    for (int status : { SyncStatus::connecting, SyncStatus::updating, SyncStatus::error })
    {
        e.status = status;
        e.setBrightness (1, 3);
        EXPECT_EQ (e.requestedLevel[1], 9);
        EXPECT_TRUE (e.levelChanged[1]);
    }

    e.status = SyncStatus::upToDate;
    e.deviceOpen = false;
    e.setBrightness (1, 3);
    EXPECT_EQ (e.requestedLevel[1], 0);
    EXPECT_FALSE (e.levelChanged[1]);

    e.setBrightness (3, 3);
    e.setBrightness (-1, 3);   // no such group: ignored
}

TEST_F (EngineAccessors, GroupColoursShowWhatIsAvailable)
{
    struct Case
    {
        const char* what;
        bool open;
        int major, minor, tertiary;
        std::array<std::vector<const char*>, 3> choices;
        const char* viewType;
        std::array<int32_t, 3> colours;
    };

    const Case cases[] {
        { "no device", false, 1, 2, 0, {}, "", { none, none, none } },
        { "1.2", true, 1, 2, 0, {}, "webview", { purple, blue, orange } },
        { "1.0.13", true, 1, 0, 13, {}, "", { yellow, blue, none } },
        { "1.0.14", true, 1, 0, 14, {}, "", { yellow, blue, orange } },
        { "placeholder lists", true, 1, 2, 0, { { { "Empty" }, { ".  .  ." }, { ". . ." } } }, "", { none, none, orange } },
        { "more than one choice", true, 1, 2, 0, { { { "Empty", "A" }, { "Other" }, {} } }, "", { purple, blue, orange } },
        { "link only", true, 1, 2, 0, {}, "link_only", { none, none, none } },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        auto& e = engineOn (c.major, c.minor, c.tertiary);
        e.deviceOpen = c.open;
        e.viewType.set (c.viewType);
        e.programChoices.update ([&c] (auto& lists)
        {
            for (size_t g = 0; g < 3; ++g)
                for (auto* name : c.choices[g])
                    lists[g].push_back ({ 1, name, {}, { -1, -1 } });
        });

        int32_t colours[3] { 7, 7, 7 };
        e.getGroupColours (colours);
        EXPECT_EQ (colours[0], c.colours[0]);
        EXPECT_EQ (colours[1], c.colours[1]);
        EXPECT_EQ (colours[2], c.colours[2]);
    }
}

TEST_F (EngineAccessors, CurrentPackageIndexAndImage)
{
    struct Case
    {
        const char* what;
        std::vector<PackageInfo> list;
        bool pending;
        int chosen;
        int index;
        const char* logo;
    };

    const Case cases[] {
        { "no packages", {}, false, 0, -1, "" },
        { "no packages, a choice pending", {}, true, 0, -1, "" },
        { "the current one", { package ("a.png", 0), package ("b.png", 1) }, false, 0, 1, "b.png" },
        { "the first of two current ones", { package ("a.png", 1), package ("b.png", 1) }, false, 1, 0, "a.png" },
        { "none current", { package ("a.png", 0), package ("b.png", 0) }, false, 1, 0, "a.png" },
        { "the chosen one", { package ("a.png", 0), package ("b.png", 1) }, true, 0, 0, "a.png" },
        { "chosen row past the list", { package ("a.png", 0), package ("b.png", 1) }, true, 3, 3, "" },
        { "chosen row negative", { package ("a.png", 0) }, true, -1, -1, "" },
    };

    auto& e = makeEngine();

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        juce::Array<PackageInfo> list;
        for (auto& p : c.list)
            list.add (p);
        e.packages.set (list);
        e.packageChoicePending = c.pending;
        e.chosenPackageIndex = c.chosen;

        EXPECT_EQ (OlvoThread::currentPackageIndex (list, c.pending, c.chosen), c.index);

        juce::String logo ("stale");
        e.getCurrentPackageName (logo);
        EXPECT_EQ (logo, c.logo);
    }
}
