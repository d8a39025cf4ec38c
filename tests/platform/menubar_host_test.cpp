#include "FakeTrayHost.h"
#include "GuiTestSupport.h"

#include "platform/MenuBarHost.h"

#include <gtest/gtest.h>

#include <memory>

namespace olvo
{

TEST (TrayHostWatch, SeesATrayHostComeGoComeBackAndTakeAnothersPlace)
{
    int appeared = 0, gone = 0;
    const platform::TrayHostWatch watch ([&] { ++appeared; }, [&] { ++gone; });
    ASSERT_FALSE (watch.isTrayPresent()) << "the test display must start without a tray host";

    // A tray host that starts after the watch (a panel started after the application).
    auto first = std::make_unique<test::FakeTrayHost>();
    ASSERT_TRUE (first->isValid());
    ASSERT_TRUE (test::pumpUntil ([&] { return appeared == 1; }, 30000));
    EXPECT_TRUE (watch.isTrayPresent());
    EXPECT_EQ (gone, 0);

    // It goes (a crash, a panel restarted), and comes back.
    first.reset();
    ASSERT_TRUE (test::pumpUntil ([&] { return gone == 1; }, 30000));
    EXPECT_FALSE (watch.isTrayPresent());

    first = std::make_unique<test::FakeTrayHost>();
    ASSERT_TRUE (test::pumpUntil ([&] { return appeared == 2; }, 30000));
    EXPECT_TRUE (watch.isTrayPresent());

    // Another takes the selection from it: a tray appears, none has gone; and the one it replaced going later
    // changes nothing.
    auto second = std::make_unique<test::FakeTrayHost>();
    ASSERT_TRUE (test::pumpUntil ([&] { return appeared == 3; }, 30000));
    first.reset();
    test::pumpFor (500);
    EXPECT_EQ (gone, 1);
    EXPECT_TRUE (watch.isTrayPresent());

    second.reset();
    ASSERT_TRUE (test::pumpUntil ([&] { return gone == 2; }, 30000));
    EXPECT_FALSE (watch.isTrayPresent());
    EXPECT_EQ (appeared, 3);
}

TEST (TrayHostWatch, AWatchStartedWithATrayThereSeesItAtOnce)
{
    const test::FakeTrayHost host;
    ASSERT_TRUE (host.isValid());

    int calls = 0;
    const platform::TrayHostWatch watch ([&] { ++calls; }, [&] { ++calls; });
    EXPECT_TRUE (watch.isTrayPresent());
    test::pumpFor (300);   // the host's own announcement came before the watch: nothing new
    EXPECT_EQ (calls, 0);
}

} // namespace olvo
