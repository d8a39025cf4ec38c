// The usage-log upload object: each entry type, the running device time, the ring, the threshold and the device's
// usage-sharing switch.

#include "EngineHarness.h"

#include <vector>

using namespace olvo;

namespace
{
    constexpr uint32_t marker = 0xEE000000u;

    uint32_t word (uint32_t type, uint32_t value) { return (type << 28) | value; }

    class UsageLog : public test::EngineTest
    {
    protected:
        void SetUp() override
        {
            EngineTest::SetUp();
            makeEngine();
        }

        void setLog (const std::vector<uint32_t>& words, int64_t offset = 0)
        {
            std::copy (words.begin(), words.end(), engine->logWords);
            engine->logCount = (int32_t) words.size();
            engine->rtcOffset = offset;
        }

        juce::var build (int32_t threshold = 0) const { return engine->buildLogsObject (threshold); }

        static juce::StringArray keysOf (const juce::var& object)
        {
            juce::StringArray keys;
            if (auto* o = object.getDynamicObject())
                for (auto& p : o->getProperties())
                    keys.add (p.name.toString());
            return keys;
        }
    };
}

TEST_F (UsageLog, EachUploadedTypeAsTheServerSeesIt)
{
    struct Case
    {
        const char* name;
        uint32_t w;
        const char* type;
        int rtc, num, progId;   // 0 = absent for num and prog_id
    };

    // Every case follows a treatment at device time 1000, so entries that take the running time show 1000.
    const Case cases[] {
        { "treat 1",              word (1, 5000),                         "Treat", 5000, 1, 0 },
        { "treat 3",              word (3, 0x0FFFFFFF),                   "Treat", 0x0FFFFFFF, 3, 0 },
        { "brightness",           word (6, (7u << 16) | 300),             "Brightness", 1000, 7, 300 },
        { "brightness level 0",   word (6, 300),                          "Brightness", 1000, 0, 300 },
        { "stop",                 word (7, 2500),                         "Stop", 2500, 0, 0 },
        { "load 8, second half",  word (8, (1u << 23) | 261),             "Load", 1000, 2, 261 },
        { "load 9, first half",   word (9, 17),                           "Load", 1000, 3, 17 },
        { "load 10, first half",  word (10, 17),                          "Load", 1000, 5, 17 },
        { "load 10, second half", word (10, (1u << 23) | 0x7FFFFF),       "Load", 1000, 6, 0x7FFFFF },
        { "reset with a time",    word (13, 3),                           "Reset", 3, 0, 0 },
        { "reset without a time", word (13, 2),                           "Reset", 1000, 0, 0 },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        setLog ({ marker, word (1, 1000), c.w }, 100);

        const auto entry = build()["2"];
        EXPECT_EQ (entry["type"].toString(), c.type);
        EXPECT_EQ ((int) entry["rtc"], c.rtc);
        EXPECT_EQ ((juce::int64) entry["timestamp"], (juce::int64) c.rtc + 100);

        juce::StringArray expectedKeys { "rtc", "timestamp", "type" };
        if (c.num != 0)
            expectedKeys.add ("num");
        if (c.progId != 0)
            expectedKeys.add ("prog_id");
        EXPECT_EQ (keysOf (entry), expectedKeys);
        EXPECT_EQ ((int) entry["num"], c.num);
        EXPECT_EQ ((int) entry["prog_id"], c.progId);
    }
}

TEST_F (UsageLog, TypesWithoutANameAreSkippedAndKeepTheTime)
{
    setLog ({ marker, word (1, 1000), word (0, 1), word (4, 9000), word (5, 9000), word (11, 9000), word (12, 9000),
              word (14, 9000), word (15, 9000), word (6, 1) });

    const auto logs = build();
    EXPECT_EQ (keysOf (logs), juce::StringArray ({ "1", "2" }));
    EXPECT_EQ (logs["2"]["type"].toString(), "Brightness");
    EXPECT_EQ ((int) logs["2"]["rtc"], 1000);
}

TEST_F (UsageLog, TheScanStartsAfterTheMarkerAndWrapsAround)
{
    setLog ({ word (7, 30), word (7, 40), marker, word (7, 10), word (7, 20) });

    const auto logs = build();
    ASSERT_EQ (keysOf (logs), juce::StringArray ({ "1", "2", "3", "4" }));
    EXPECT_EQ ((int) logs["1"]["rtc"], 10);
    EXPECT_EQ ((int) logs["2"]["rtc"], 20);
    EXPECT_EQ ((int) logs["3"]["rtc"], 30);
    EXPECT_EQ ((int) logs["4"]["rtc"], 40);
}

TEST_F (UsageLog, NothingToUpload)
{
    struct Case { const char* name; std::vector<uint32_t> words; };
    const Case cases[] {
        { "no marker", { word (7, 10), word (7, 20) } },
        { "marker alone", { marker } },
        { "empty log", {} },
    };

    for (auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        setLog (c.words);
        const auto logs = build();
        EXPECT_TRUE (logs.getDynamicObject() != nullptr);
        EXPECT_TRUE (keysOf (logs).isEmpty());
    }
}

TEST_F (UsageLog, TheThresholdKeepsEntriesAtOrAfterIt)
{
    setLog ({ marker, word (9, 5), word (7, 100), word (7, 200), word (7, 300) }, 7);

    auto logs = build (200);
    ASSERT_EQ (keysOf (logs), juce::StringArray ({ "1", "2" }));
    EXPECT_EQ ((int) logs["1"]["rtc"], 200) << "an entry at the threshold is uploaded";
    EXPECT_EQ ((int) logs["2"]["rtc"], 300);

    // A load before any dated word has time 0: uploaded only with a threshold of 0 or below.
    EXPECT_EQ (build (1)["1"]["type"].toString(), "Stop");
    logs = build (0);
    EXPECT_EQ (logs["1"]["type"].toString(), "Load");
    EXPECT_EQ ((int) logs["1"]["rtc"], 0);
    EXPECT_EQ ((juce::int64) logs["1"]["timestamp"], 7);
}

TEST_F (UsageLog, TimestampsAreSixtyFourBit)
{
    const int64_t offset = 5'000'000'000LL;
    setLog ({ marker, word (7, 0x0FFFFFFF) }, offset);

    const auto entry = build()["1"];
    EXPECT_TRUE (entry["timestamp"].isInt64());
    EXPECT_EQ ((juce::int64) entry["timestamp"], offset + 0x0FFFFFFF);
    EXPECT_TRUE (entry["rtc"].isInt());
}

TEST_F (UsageLog, TheUsageSharingSwitchSuppressesTheUpload)
{
    setLog ({ marker, word (7, 100) });
    engine->statusReport.update ([] (StatusReport& r) { r.deviceSettings()[16] = 1; });

    EXPECT_TRUE (keysOf (build (0)).isEmpty());
}

TEST_F (UsageLog, ACountBeyondTheBufferIsReadWithinIt)
{
    setLog ({ marker, word (7, 100) });
    engine->logCount = 100000;

    const auto logs = build (100);
    EXPECT_EQ (keysOf (logs), juce::StringArray ({ "1" }));
}
