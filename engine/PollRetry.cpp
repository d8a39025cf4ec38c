#include "PollRetry.h"

#include <algorithm>
#include <limits>

namespace olvo
{

int64_t PollRetry::capMs (int slowIntervalSeconds)
{
    if (slowIntervalSeconds <= 0)
        return longestWaitMs;

    return std::min (longestWaitMs, (int64_t) slowIntervalSeconds * 1000);
}

int64_t PollRetry::stepMs (int failuresInARow, int64_t cap)
{
    if (failuresInARow <= 1)
        return 0;

    int64_t wait = firstWaitMs;
    for (int n = 2; n < failuresInARow && wait < cap; ++n)
        wait *= 2;

    return std::min (wait, cap);
}

void PollRetry::failed (int64_t now, int64_t cap)
{
    retrying = true;

    if (failures < std::numeric_limits<int>::max())
        ++failures;

    const int64_t step = stepMs (failures, cap);
    const double r = std::uniform_real_distribution<double> (0.0, spread) (random);

    // Below the cap the spread only lengthens a wait, at the cap it only shortens it.
    const int64_t wait = step < cap ? std::min (cap, (int64_t) ((double) step * (1.0 + r)))
                                    : (int64_t) ((double) cap * (1.0 - r));

    nextRetryAt = now + wait;
}

void PollRetry::reset()
{
    retrying = false;
    startAfresh();
}

void PollRetry::startAfresh()
{
    failures = 0;
    nextRetryAt = 0;
}

} // namespace olvo
