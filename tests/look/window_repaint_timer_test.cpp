// A window's repaint timer (JUCE's Linux peer, mended by cmake/patches/juce-linux-windows.patch): it runs while there
// is something to paint or a vblank listener, and sleeps otherwise; what wakes it must still get painted or called.
#include "FakeTrayHost.h"
#include "GuiTestSupport.h"

#include <juce_gui_extra/juce_gui_extra.h>

#include <gtest/gtest.h>

namespace juce
{
// Defined by the patched peer, for tests: whether the peer's repaint timer runs.
bool juce_isVBlankTimerRunning (ComponentPeer& peer);
}

namespace olvo
{

namespace
{
    // JUCE keeps a window's paint image for 3 s after the last paint, and its timer runs until it lets it go (the
    // wait for that is a hang guard, far above those 3 s).
    constexpr int untilIdleMs = 60000;

    /** A small window of one colour, counting its paints. Each test puts its own at the screen's right edge, out of
        the way of the windows other tests open on the same display at the same time: what the X server shows of a
        window is read back only where nothing covers it. */
    class PlainWindow : public juce::Component
    {
    public:
        explicit PlainWindow (int y)
        {
            setOpaque (true);
            setBounds (1200, y, 60, 40);
            addToDesktop (0);
            setVisible (true);
            toFront (false);
        }

        void paint (juce::Graphics& g) override
        {
            ++paints;
            g.fillAll (colour);
        }

        juce::Colour colour { juce::Colours::red };
        int paints = 0;
    };

    bool timerRunning (juce::Component& window)
    {
        auto* peer = window.getPeer();
        return peer != nullptr && juce::juce_isVBlankTimerRunning (*peer);
    }

    bool mappedAndPainted (PlainWindow& window)
    {
        auto* peer = window.getPeer();
        return peer != nullptr && test::isMappedOnDisplay (peer->getNativeHandle()) && window.paints > 0;
    }

    std::optional<uint32_t> shownColour (juce::Component& window)
    {
        return test::pixelOnDisplay (window.getPeer()->getNativeHandle(), 30, 20);
    }

    /** An animation (AnimatedAppComponent, on its own VBlankAttachment) counting its frames. */
    class CountingAnimation : public juce::AnimatedAppComponent
    {
    public:
        CountingAnimation() { setSynchroniseToVBlank (true); }
        void update() override { ++updates; }
        void paint (juce::Graphics&) override {}
        int updates = 0;
    };
} // namespace

TEST (WindowRepaintTimer, AnIdleWindowShownOrHiddenRunsNoTimer)
{
    for (const bool shown : { true, false })
    {
        SCOPED_TRACE (shown ? "shown" : "hidden");
        PlainWindow window (800);
        ASSERT_TRUE (test::pumpUntil ([&] { return mappedAndPainted (window); }));

        window.setVisible (shown);
        EXPECT_TRUE (test::pumpUntil ([&] { return ! timerRunning (window); }, untilIdleMs));

        // Nothing starts it again by itself.
        test::pumpFor (300);
        EXPECT_FALSE (timerRunning (window));
        ASSERT_NE (window.getPeer(), nullptr);
    }
}

TEST (WindowRepaintTimer, ARepaintAskedAfterIdleReachesTheScreen)
{
    PlainWindow window (960);
    ASSERT_TRUE (test::pumpUntil ([&] { return mappedAndPainted (window); }));
    ASSERT_TRUE (test::pumpUntil ([&] { return ! timerRunning (window); }, untilIdleMs));
    ASSERT_EQ (shownColour (window), std::optional<uint32_t> (0xff0000u));

    const auto paintsBefore = window.paints;
    window.colour = juce::Colours::blue;
    window.repaint();
    EXPECT_TRUE (timerRunning (window));

    EXPECT_TRUE (test::pumpUntil ([&] { return shownColour (window) == std::optional<uint32_t> (0x0000ffu); }))
        << "the repaint did not reach the screen";
    EXPECT_EQ (window.paints, paintsBefore + 1);
}

TEST (WindowRepaintTimer, VBlankListenersAddedAfterIdleAreCalledUntilTheyLeave)
{
    PlainWindow window (880);
    ASSERT_TRUE (test::pumpUntil ([&] { return mappedAndPainted (window); }));
    ASSERT_TRUE (test::pumpUntil ([&] { return ! timerRunning (window); }, untilIdleMs));

    // On the window, which has its peer already.
    {
        int calls = 0;
        juce::VBlankAttachment attachment (&window, [&] { ++calls; });
        EXPECT_TRUE (test::pumpUntil ([&] { return calls >= 5; })) << calls << " vblank callbacks";
    }
    EXPECT_TRUE (test::pumpUntil ([&] { return ! timerRunning (window); }, untilIdleMs)) << "the listener has left";

    // An animation made before it has a peer, then put into the idle window.
    {
        CountingAnimation animation;
        animation.setBounds (0, 0, 10, 10);
        window.addAndMakeVisible (animation);
        EXPECT_TRUE (test::pumpUntil ([&] { return animation.updates >= 5; })) << animation.updates << " frames";
    }
    EXPECT_TRUE (test::pumpUntil ([&] { return ! timerRunning (window); }, untilIdleMs));
}

} // namespace olvo
