// The main window's content: the timer pass, every 500 ms. For now it shows the engine's status and battery.

#include "MainComponent.h"

namespace olvo
{

void MainComponent::timerCallback()
{
    netDisplay.setState (thread->status, thread->syncStep);
    batteryDisplay.setReading (thread->getBatteryLevel(), (uint8_t) thread->batteryFlags.load());
}

} // namespace olvo
