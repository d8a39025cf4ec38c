#pragma once

#include <cstdint>
#include <random>

namespace olvo
{

//==============================================================================
/** When the engine polls again after polls that failed.

    A server or a network that stays down must not be asked ten times a second by every client for as long as it is
    down: that load keeps it down. The first retry comes on the next tick; then the wait doubles, 1 s, 2 s, 4 s ...
    up to a cap (5 minutes, or the server's slow polling interval when that is shorter). Each wait is spread a little
    at random, so that clients that failed together do not retry together. Below the cap the spread lengthens a
    wait, at the cap it shortens it: no wait is longer than the cap, and the retries before it never come sooner
    than the doubling has them (a server back within a minute is found by the retry just after it).

    A poll that succeeds ends the retrying; the device arriving and the user's activity start the waits afresh, so
    that a retry still wanted is due at once. The policy only says when a retry is due: polls on the server's
    schedule and polls the user asked for are never held back by it.

    Worker thread only.
*/
class PollRetry
{
public:
    /** The wait after the second failure in a row; it doubles with each further one. */
    static constexpr int64_t firstWaitMs = 1000;

    /** The longest wait, unless the server's slow polling interval is shorter. */
    static constexpr int64_t longestWaitMs = 5 * 60 * 1000;

    /** How far each wait is spread at random, as a fraction of it. */
    static constexpr double spread = 0.1;

    /** The cap for a server whose slow polling interval is this many seconds (0 or less: none given). */
    static int64_t capMs (int slowIntervalSeconds);

    /** The wait after this many failures in a row, before the spread: 0 after one (the next tick), then firstWaitMs,
        doubling, at most capMs. */
    static int64_t stepMs (int failuresInARow, int64_t capMs);

    //==============================================================================
    /** Notes a failed poll at the given time: a retry is wanted, due after the wait for the failures so far. */
    void failed (int64_t nowMs, int64_t capMs);

    /** A poll succeeded (or the device is new): no retry is wanted. */
    void reset();

    /** The waits start again from the first: a retry still wanted is due at once, and the next failure is retried
        on the next tick. */
    void startAfresh();

    /** True while a retry is wanted: the last poll failed and none has succeeded since. */
    bool pending() const noexcept                   { return retrying; }

    /** True when a retry may be made now. */
    bool due (int64_t nowMs) const noexcept         { return nowMs >= nextRetryAt; }

    /** Failed polls in a row so far. */
    int failuresInARow() const noexcept             { return failures; }

    /** When the next retry is due (meaningful while pending). */
    int64_t nextRetryAtMs() const noexcept          { return nextRetryAt; }

private:
    bool retrying = false;
    int failures = 0;
    int64_t nextRetryAt = 0;
    std::minstd_rand random { std::random_device {}() };
};

} // namespace olvo
