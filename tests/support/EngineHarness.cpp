#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace olvo::test
{

bool waitUntil (const std::function<bool()>& condition, int realTimeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (realTimeoutMs);
    while (! condition())
    {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for (std::chrono::milliseconds (1));
    }
    return true;
}

juce::StringArray keysOf (const juce::var& object)
{
    juce::StringArray keys;
    if (auto* o = object.getDynamicObject())
        for (auto& p : o->getProperties())
            keys.add (p.name.toString());
    return keys;
}

int blocksHolding (int firstBlock, const std::vector<uint8_t>& image)
{
    constexpr size_t blockBytes = 1024;
    int n = 0;
    for (size_t k = 0; (k + 1) * blockBytes <= image.size(); ++k)
    {
        const auto block = sim::SimDevice::block (firstBlock + (int) k);
        if (std::memcmp (block.data(), image.data() + k * blockBytes, blockBytes) == 0)
            ++n;
    }
    return n;
}

bool flashHolds (int firstBlock, const std::vector<uint8_t>& image)
{
    return image.size() % 1024 == 0 && blocksHolding (firstBlock, image) == (int) (image.size() / 1024);
}

void EngineTest::SetUp()
{
    time = std::make_unique<ScopedVirtualClock>();
    sim::SimDevice::reset();
    device_close();
}

void EngineTest::TearDown()
{
    stopEngine();
    engine.reset();
    device_close();
    sim::SimDevice::reset();
    time.reset();
}

OlvoThread& EngineTest::makeEngine (const juce::String& apiUrl)
{
    engine = std::make_unique<OlvoThread>();
    if (apiUrl.isNotEmpty())
        engine->defaultApiUrl.set (apiUrl);
    return *engine;
}

void EngineTest::startEngine (const juce::String& apiUrl)
{
    makeEngine (apiUrl);
    engine->startThread();
}

void EngineTest::stopEngine()
{
    if (engine != nullptr && engine->isThreadRunning())
    {
        engine->signalThreadShouldExit();
        engine->notify();
        ASSERT_TRUE (engine->stopThread (OlvoThread::stopTimeoutMs));
    }
}

} // namespace olvo::test
