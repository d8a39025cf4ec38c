#pragma once

#include "VirtualClock.h"

#include "engine/OlvoThread.h"
#include "sim/device/SimDevice.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <vector>

namespace olvo::test
{

/** Waits (real time, bounded) until the condition holds; false when it never did. The bound is a guard against a
    hang, far above what the worker needs on a slow or loaded machine under the sanitizers. */
bool waitUntil (const std::function<bool()>& condition, int realTimeoutMs = 120000);

/** The property names of a JSON object in their order (empty for anything else). */
juce::StringArray keysOf (const juce::var& object);

/** How many of the image's 1 KB blocks the simulated device's flash holds in place, block firstBlock taking the
    image's first. */
int blocksHolding (int firstBlock, const std::vector<uint8_t>& image);

/** True when the simulated device's flash holds the whole image from block firstBlock on. */
bool flashHolds (int firstBlock, const std::vector<uint8_t>& image);

/** A reply carrying the given "UID" that the JSON gate lets through but that is as costly for JUCE's reader as the
    gate allows: objects holding every member and every name allowed, full arrays of numbers nested to the deepest
    level allowed, and a long text, about totalBytes in all. */
std::string costliestAcceptedReply (const std::string& uid, size_t totalBytes);

//==============================================================================
/** A test with a fresh simulated device (unplugged), a virtual clock in both the engine and the device, and an
    engine that the test starts when it has arranged the device. The engine is stopped before the device is reset,
    so no test sees another's state. */
class EngineTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    /** Creates the engine (pointing at apiUrl when given) and starts its thread. */
    void startEngine (const juce::String& apiUrl = {});

    /** Asks the engine to exit and waits for it. */
    void stopEngine();

    /** Creates the engine without starting it, for tests that call its steps directly. */
    OlvoThread& makeEngine (const juce::String& apiUrl = {});

    std::unique_ptr<ScopedVirtualClock> time;
    std::unique_ptr<OlvoThread> engine;
};

} // namespace olvo::test
