// Scenario text: good lines drive the device over sim time, a bad line rejects the whole text.

#include "device_TestHost.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <unistd.h>

namespace olvo::sim::test
{

TEST_F (DeviceTest, ScenarioLinesRunAtTheirTimes)
{
    const std::string text = R"(# a device that arrives, then changes
identity serial=SCN-1 uid=1,0x2,3,4 version=1.0.12
battery first=52000 second=52100 reference=7
charge 1
clock 1700000000
log 0xEE000000 0x10000010 5
settings 00 01 0x02 ff
slot 2 name=Relax code=1234 version=1.3
fail-checksum block=70 attempt=1
fail-checksum block=71 attempt=every
restart-delays 10 20
plug
at 1000 unplug      # leaves after a second
at 1500 plug
at 1500 mode boot-loader
)";
    std::string error;
    ASSERT_EQ (SimDevice::loadScenario (text, error), 14) << error;

    EXPECT_TRUE (SimDevice::isPlugged());
    auto* dev = openNormal();
    ASSERT_NE (dev, nullptr);
    const auto s = status (dev);
    EXPECT_EQ (s[1], 1);
    EXPECT_EQ (u16le (&s[2]), 52000);
    EXPECT_EQ (u16le (&s[16]), 52100);
    EXPECT_EQ (u16le (&s[53]), 7);
    EXPECT_EQ (u32be (&s[12]), 1700000000u);
    EXPECT_EQ (s[34], 0x02);
    EXPECT_EQ (s[35], 0xFF);
    EXPECT_EQ (SimDevice::firmwareVersion(), (std::array<int, 3> { 1, 0, 12 }));
    EXPECT_EQ (SimDevice::slotEntry (2).code, 1234u);
    EXPECT_EQ (std::string ((const char*) SimDevice::slotEntry (2).name.data()), "Relax");

    hid_set_nonblocking (dev, 1);
    send (dev, Request (12).at (1, 0));
    std::array<uint8_t, 65> reply;
    ASSERT_EQ (readReply (dev, reply), 64);
    EXPECT_EQ (reply[2], 12);
    EXPECT_EQ (u32le (reply.data() + 8), 0x10000010u);

    writeBlock (dev, 70, patternBlock (1));
    EXPECT_EQ (status (dev)[10], 92);
    for (int attempt = 1; attempt <= 2; ++attempt)
    {
        writeBlock (dev, 71, patternBlock (1));
        EXPECT_EQ (status (dev)[10], 92);
    }

    advance (999);
    EXPECT_TRUE (SimDevice::isPlugged());
    advance (1);
    EXPECT_FALSE (SimDevice::isPlugged());
    advance (500);
    EXPECT_TRUE (SimDevice::isPlugged());
    EXPECT_TRUE (SimDevice::inBootLoader());
}

struct BadLine
{
    const char* line;
    const char* message;
};

TEST_F (DeviceTest, ABadLineRejectsTheWholeScenario)
{
    const BadLine cases[] = {
        { "frobnicate",                     "unknown command 'frobnicate'" },
        { "battery first=70000",            "out of range" },
        { "identity colour=red",            "unknown key 'colour'" },
        { "identity uid=1,2,3",             "four words" },
        { "identity version=1.2",           "bad version" },
        { "plug now",                       "expected 0 arguments" },
        { "at 10",                          "expected 'at <ms> <command>'" },
        { "at soon plug",                   "bad number" },
        { "settings zz",                    "bad number" },
        { "fail-checksum block=70",         "needs block= and attempt=" },
        { "refuse-open maybe",              "expected on or off" },
        { "mode sleepy",                    "expected normal or boot-loader" },
    };

    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.line);
        SimDevice::reset();
        std::string error;
        EXPECT_EQ (SimDevice::loadScenario (std::string ("plug\n\n") + c.line + "\n", error), -1);
        EXPECT_NE (error.find ("line 3: "), std::string::npos) << error;
        EXPECT_NE (error.find (c.message), std::string::npos) << error;

        advance (100);
        EXPECT_FALSE (SimDevice::isPlugged());      // the good line before it did not run either
    }
}

TEST_F (DeviceTest, TheScenarioFileIsReadByTheFirstInit)
{
    const std::string path = ::testing::TempDir() + "olvo_sim_scenario.txt";
    std::ofstream (path) << "identity serial=FROM-FILE\nplug\n";
    ::setenv ("OLVO_SIM_SCENARIO", path.c_str(), 1);

    hid_init();
    SimDevice::setSerial ("CHANGED");
    hid_init();                                     // only the first init reads it
    EXPECT_TRUE (SimDevice::isPlugged());
    auto* dev = hid_open (0x0D60, 0xC000, L"CHANGED");
    EXPECT_NE (dev, nullptr);
    hid_close (dev);

    // A bad file is reported on stderr and not loaded.
    std::ofstream (path) << "plug\nwobble\n";
    SimDevice::reset();
    ::testing::internal::CaptureStderr();
    hid_init();
    const auto output = ::testing::internal::GetCapturedStderr();
    EXPECT_NE (output.find ("line 2: unknown command 'wobble'"), std::string::npos) << output;
    EXPECT_FALSE (SimDevice::isPlugged());

    ::unsetenv ("OLVO_SIM_SCENARIO");
    std::remove (path.c_str());
}

// Another process (the real program under test) runs the device: the state file shows what the host did to it.
TEST_F (DeviceTest, TheStateFileFollowsWhatTheHostWrites)
{
    const std::string path = ::testing::TempDir() + "olvo-sim-state-" + std::to_string (::getpid()) + ".txt";
    std::remove (path.c_str());
    const auto stateFile = [&]
    {
        std::ifstream in (path);
        return std::string ((std::istreambuf_iterator<char> (in)), std::istreambuf_iterator<char>());
    };

    std::string error;
    ASSERT_EQ (SimDevice::loadScenario ("state-file " + path + "\nidentity serial=ST-1 version=1.4.2\nplug\n", error), 3)
        << error;
    auto* dev = openNormal();
    ASSERT_NE (dev, nullptr);

    const auto before = stateFile();
    EXPECT_NE (before.find ("plugged 1\nmode normal\nversion 1.4.2\nserial ST-1\nsettings 00 00"), std::string::npos)
        << before;
    EXPECT_NE (before.find ("slot 5 code=0 version=0.0 name=\n"), std::string::npos) << before;
    const auto erasedHash = before.substr (before.find ("slot-blocks 2 ") + 14, 16);

    const uint8_t name[32] = { 'C', 'a', 'l', 'm' };
    send (dev, Request (10).at (1, 4).data (2, name, 32).u32be (34, 12).at (38, 1).at (39, 2));
    send (dev, Request (1).at (1, 7).at (2, 0x1e));
    writeBlock (dev, 64 + 2 * 32 + 5, patternBlock (3));

    const auto after = stateFile();
    EXPECT_NE (after.find ("settings 07 1e 00"), std::string::npos) << after;
    EXPECT_NE (after.find ("slot 4 code=12 version=1.2 name=Calm\n"), std::string::npos) << after;
    EXPECT_NE (after.find ("slot-blocks 1 " + erasedHash), std::string::npos) << after;
    EXPECT_EQ (after.find ("slot-blocks 2 " + erasedHash), std::string::npos) << "block written, hash unchanged";

    SimDevice::unplug();
    EXPECT_EQ (stateFile().rfind ("plugged 0\n", 0), 0u);
    hid_close (dev);
    std::remove (path.c_str());
}

TEST_F (DeviceTest, APlugFileIsFollowedOnlyWhenItChanges)
{
    const std::string path = ::testing::TempDir() + "olvo-sim-plug-" + std::to_string (::getpid());
    std::remove (path.c_str());

    std::string error;
    ASSERT_EQ (SimDevice::loadScenario ("plug-file " + path + "\n", error), 1) << error;
    EXPECT_FALSE (SimDevice::isPlugged());

    std::ofstream (path).put ('1');
    advance (50);
    EXPECT_TRUE (SimDevice::isPlugged());

    SimDevice::unplug();        // the device's own going stands while the file stays
    advance (50);
    EXPECT_FALSE (SimDevice::isPlugged());

    std::remove (path.c_str());
    advance (50);
    EXPECT_FALSE (SimDevice::isPlugged());
    std::ofstream (path).put ('1');
    advance (50);
    EXPECT_TRUE (SimDevice::isPlugged());

    std::remove (path.c_str());
    advance (50);
    EXPECT_FALSE (SimDevice::isPlugged());
}

} // namespace olvo::sim::test
