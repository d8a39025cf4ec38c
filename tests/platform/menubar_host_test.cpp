#include "FakeTrayHost.h"

#include "platform/MenuBarHost.h"

#include <gtest/gtest.h>

TEST (MenuBarHost, ATrayHostIsThereOnlyWhileSomeoneOwnsTheTraySelection)
{
    ASSERT_FALSE (olvo::platform::isTrayHostPresent()) << "the test display must start without a tray host";
    {
        const olvo::test::FakeTrayHost host;
        ASSERT_TRUE (host.isValid());
        EXPECT_TRUE (olvo::platform::isTrayHostPresent());
    }
    EXPECT_FALSE (olvo::platform::isTrayHostPresent());
}
