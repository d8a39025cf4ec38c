#include "Clock.h"

#include <juce_core/juce_core.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace olvo
{

namespace
{
    class RealClock final : public Clock
    {
    public:
        int64_t nowMs() override
        {
            using namespace std::chrono;
            return duration_cast<milliseconds> (system_clock::now().time_since_epoch()).count();
        }

        void sleepMs (int ms) override
        {
            if (ms > 0)
                std::this_thread::sleep_for (std::chrono::milliseconds (ms));
        }

        bool waitOnThread (juce::Thread& thread, int ms) override { return thread.wait (ms); }
    };

    RealClock realClock;
    std::atomic<Clock*> current { &realClock };
}

Clock& clock()                   { return *current.load(); }
void setClock (Clock* newClock)  { current.store (newClock != nullptr ? newClock : &realClock); }
int64_t nowMs()                  { return clock().nowMs(); }
void sleepMs (int ms)            { clock().sleepMs (ms); }

} // namespace olvo
