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

std::string costliestAcceptedReply (const std::string& uid, size_t totalBytes)
{
    constexpr int maxElements = 4096, maxTotalMembers = 65536, maxNames = 4096, maxNesting = 64;
    constexpr int topLevelNames = 4;    // "UID", "o", "a", "s"

    // Objects that use up the members and the names: in JUCE each member is a linear search in its object, and
    // each name is new to its string pool the first time.
    constexpr int namesPerObject = maxNames - topLevelNames;
    constexpr int objects = (maxTotalMembers - topLevelNames) / namesPerObject;

    std::string text = "{\"UID\":\"" + uid + "\",\"o\":[";

    for (int o = 0; o < objects; ++o)
    {
        text += o == 0 ? "{" : ",{";
        for (int m = 0; m < namesPerObject; ++m)
            text += (m == 0 ? "\"n" : ",\"n") + std::to_string (m) + "\":0";
        text += "}";
    }

    // Full arrays of the shortest numbers, one of them nested as deep as allowed, until about half the size.
    std::string zeros;
    for (int i = 1; i < maxElements; ++i)
        zeros += ",0";

    std::string nested = "0";
    for (int level = 2; level < maxNesting; ++level)
        nested = "[" + nested + zeros + "]";

    text += "],\"a\":[" + nested;
    for (int n = 1; n < maxElements && text.size() < totalBytes / 2; ++n)
        text += ",[0" + zeros + "]";
    text += "]";

    // The rest is one long text.
    text += ",\"s\":\"";
    if (text.size() + 2 < totalBytes)
        text.append (totalBytes - text.size() - 2, 'x');
    return text + "\"}";
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
