// A device found on its boot loader (an update broke off) takes no slot file: boot-loader flash is firmware only.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    using TickOnBootLoader = test::EngineTest;

    juce::var slotDescriptor()
    {
        juce::MemoryBlock data (2048, true);
        auto* d = new juce::DynamicObject();
        d->setProperty ("program_code", "7");
        d->setProperty ("file_data", juce::Base64::toBase64 (data.getData(), data.getSize()));
        d->setProperty ("program_name", "Seven");
        d->setProperty ("version_major", "1");
        d->setProperty ("version_minor", "0");
        return juce::var (d);
    }
}

TEST_F (TickOnBootLoader, SlotFilesWaitWithoutAFirmwareImage)
{
    SimDevice::setBootLoaderMode (true);
    SimDevice::plug();
    auto& e = makeEngine ("http://127.0.0.1:9/device/");
    e.tick();
    ASSERT_TRUE (e.deviceOpen);

    e.frequencyUpdates[0] = slotDescriptor();
    e.syncStep = 1;
    SimDevice::clearCommandLog();
    testing::internal::CaptureStdout();
    e.tick();
    const auto output = testing::internal::GetCapturedStdout();

    for (auto& c : SimDevice::commandLog())
        EXPECT_NE (c.code, wire::cmdSetBlockAddress) << "no block write into the boot loader";
    EXPECT_EQ (e.syncStep, 8) << "on to the settings step";
    EXPECT_TRUE (e.frequencyUpdates[0].isObject()) << "the file waits";
    EXPECT_NE (output.find ("Device on its boot loader: slot files held back\n"), std::string::npos) << output;
    EXPECT_EQ (SimDevice::violationCount(), 0);
}
