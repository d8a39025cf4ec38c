// The engine's CPU cost against the simulated device (no latency) and the local web API: block writes, a whole
// firmware update, building a poll request, processing a full reply, and an idle tick. The simulated device runs in
// the same thread, so its own work is included in every figure.

#include "EngineHarness.h"

#include "engine/DeviceProtocol.h"
#include "engine/JsonGate.h"
#include "engine/JsonValues.h"
#include "engine/WebApiTransport.h"
#include "sim/FirmwareImage.h"
#include "sim/webapi/LocalWebApi.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

using namespace olvo;
using olvo::sim::SimDevice;

namespace
{
    constexpr int firstSlotBlock = 64, lastBlock = 255;

    /** Sends standard output and standard error to /dev/null while it lives: the engine's diagnostic lines would
        otherwise flood the benchmark's table. */
    class QuietOutput
    {
    public:
        QuietOutput()
        {
            std::fflush (stdout);
            std::fflush (stderr);
            savedOut = dup (1);
            savedErr = dup (2);
            const int null = open ("/dev/null", O_WRONLY);
            dup2 (null, 1);
            dup2 (null, 2);
            close (null);
        }

        ~QuietOutput()
        {
            std::fflush (stdout);
            std::fflush (stderr);
            dup2 (savedOut, 1);
            dup2 (savedErr, 2);
            close (savedOut);
            close (savedErr);
        }

    private:
        int savedOut = -1, savedErr = -1;
    };

    /** A fresh simulated device, plugged in, restarting at once after a code-bank switch. */
    void freshDevice()
    {
        device_close();
        SimDevice::reset();
        SimDevice::setRestartDelays (0, 0);
        SimDevice::plug();
    }

    /** An engine with the device open and its status read, as a tick leaves it. */
    std::unique_ptr<OlvoThread> openEngine (const juce::String& apiUrl = "http://127.0.0.1:9/device/")
    {
        auto engine = std::make_unique<OlvoThread>();
        engine->defaultApiUrl.set (apiUrl);

        if (engine->checkDevice() != 1)
            return {};

        engine->deviceOpen = true;
        engine->readStatus();
        return engine;
    }

    juce::var fileDataDescriptor (const std::vector<uint8_t>& data)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("file_data", juce::Base64::toBase64 (data.data(), data.size()));
        return juce::var (o);
    }
}

//==============================================================================
/** One 1 KB block through the device layer into a slot block. */
static void blockWrite (benchmark::State& state)
{
    freshDevice();
    device_open();

    std::array<uint8_t, 1024> data;
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = (uint8_t) (i * 13 + 1);

    int block = firstSlotBlock;

    {
        QuietOutput quiet;

        for (auto _ : state)
        {
            if (write_block (block, data.data()) <= 0)
            {
                state.SkipWithError ("block write failed");
                break;
            }
            block = block == lastBlock ? firstSlotBlock : block + 1;
        }
    }

    state.SetBytesProcessed ((int64_t) state.iterations() * (int64_t) data.size());
    state.SetItemsProcessed ((int64_t) state.iterations());
    device_close();
}
BENCHMARK (blockWrite);

/** A whole firmware update (decode, bank switch, 32 blocks, restart check); items are blocks. The waits run on a
    virtual clock, so what is measured is work, not the device's restart time. */
static void firmwareUpdate (benchmark::State& state)
{
    test::ScopedVirtualClock time (1000000);
    freshDevice();
    auto engine = openEngine();
    if (engine == nullptr)
    {
        state.SkipWithError ("no device");
        return;
    }

    auto image = sim::LocalWebApi::firmwareImage (1, 3, 0);
    const auto descriptor = fileDataDescriptor (image);

    {
        QuietOutput quiet;

        for (auto _ : state)
        {
            state.PauseTiming();
            SimDevice::setBootLoaderMode (false);
            SimDevice::setFirmwareVersion (1, 2, 0);
            engine->checkDevice();
            engine->syncStep = 7;
            engine->firmwareUpdate = descriptor;
            state.ResumeTiming();

            engine->firmwareStep();

            if (engine->syncStep != 8)
            {
                state.SkipWithError ("update failed");
                break;
            }
        }
    }

    state.SetItemsProcessed ((int64_t) state.iterations() * wire::imageBlocks);
    engine.reset();
    device_close();
}
BENCHMARK (firmwareUpdate)->Unit (benchmark::kMillisecond);

//==============================================================================
/** A poll's two halves against a full reply of the local web API: six slot files, firmware, settings, a regimen. */
class PollFixture : public benchmark::Fixture
{
public:
    void SetUp (const benchmark::State&) override
    {
        freshDevice();

        auto scenario = sim::LocalWebApi::defaultScenario();
        scenario.wantedSlotCodes = { 11, 12, 13, 14, 15, 16 };
        scenario.wantedFirmware = { 1, 3, 0 };
        server.setScenario (scenario);
        server.start();

        engine = openEngine (server.url());
        if (engine == nullptr)
            return;

        const auto request = juce::JSON::toString (engine->buildRequest (true, false, requestUid));
        webapi::postJson (server.url(), request, replyText);
    }

    void TearDown (const benchmark::State&) override
    {
        server.stop();
        engine.reset();
        device_close();
    }

protected:
    sim::LocalWebApi server;
    std::unique_ptr<OlvoThread> engine;
    juce::String requestUid, replyText;
};

BENCHMARK_DEFINE_F (PollFixture, buildRequest) (benchmark::State& state)
{
    if (engine == nullptr)
        return state.SkipWithError ("no device");

    QuietOutput quiet;

    for (auto _ : state)
    {
        juce::String uid;
        auto text = juce::JSON::toString (engine->buildRequest (true, false, uid));
        benchmark::DoNotOptimize (text);
    }
}
BENCHMARK_REGISTER_F (PollFixture, buildRequest)->Unit (benchmark::kMicrosecond);

BENCHMARK_DEFINE_F (PollFixture, processFullReply) (benchmark::State& state)
{
    if (engine == nullptr || replyText.length() < 200000)
        return state.SkipWithError ("no full reply from the local web API");

    int result = 0;

    {
        QuietOutput quiet;

        for (auto _ : state)
        {
            result = webapi::handleReplyText (*engine, replyText, requestUid, true);
            benchmark::DoNotOptimize (result);
        }
    }

    if (result < 0 || ! json::isObject (engine->firmwareUpdate))
        state.SkipWithError ("the reply was not processed in full");

    state.SetBytesProcessed ((int64_t) state.iterations() * (int64_t) replyText.getNumBytesAsUTF8());
    state.counters["reply_KB"] = (double) replyText.getNumBytesAsUTF8() / 1024.0;
}
BENCHMARK_REGISTER_F (PollFixture, processFullReply)->Unit (benchmark::kMillisecond);

/** The JSON gate alone on the same reply: its share of processFullReply. */
BENCHMARK_DEFINE_F (PollFixture, gateFullReply) (benchmark::State& state)
{
    if (replyText.length() < 200000)
        return state.SkipWithError ("no full reply from the local web API");

    const char* text = replyText.toRawUTF8();
    const size_t bytes = replyText.getNumBytesAsUTF8();

    for (auto _ : state)
    {
        auto verdict = json::JsonGate::check (text, bytes);
        benchmark::DoNotOptimize (verdict);
    }

    state.SetBytesProcessed ((int64_t) state.iterations() * (int64_t) bytes);
}
BENCHMARK_REGISTER_F (PollFixture, gateFullReply)->Unit (benchmark::kMicrosecond);

//==============================================================================
/** The reply that costs JUCE's reader the most among those the gate lets through, at the 4 MB size limit. */
static void processCostliestReply (benchmark::State& state)
{
    freshDevice();
    auto engine = openEngine();
    if (engine == nullptr)
        return state.SkipWithError ("no device");

    const juce::String uid ("000012ab:00000000:ffffffff:00000001");
    const auto text = juce::String (test::costliestAcceptedReply (uid.toStdString(), 4 * 1024 * 1024 - 1024));
    int result = 0;

    {
        QuietOutput quiet;

        for (auto _ : state)
        {
            result = webapi::handleReplyText (*engine, text, uid, true);
            benchmark::DoNotOptimize (result);
        }
    }

    if (result != 1)
        state.SkipWithError ("the reply was not processed");

    state.SetBytesProcessed ((int64_t) state.iterations() * (int64_t) text.getNumBytesAsUTF8());
    engine.reset();
    device_close();
}
BENCHMARK (processCostliestReply)->Unit (benchmark::kMillisecond);

//==============================================================================
/** A tick with the device present, up to date and nothing to do (the usage log is read every tenth tick). */
static void idleTick (benchmark::State& state)
{
    freshDevice();
    auto engine = openEngine();
    if (engine == nullptr)
        return state.SkipWithError ("no device");

    engine->status = SyncStatus::upToDate;
    engine->batteryValid = true;

    {
        QuietOutput quiet;

        for (auto _ : state)
        {
            engine->tick();

            if (! engine->deviceOpen || engine->status != SyncStatus::upToDate)
            {
                state.SkipWithError ("the tick did something");
                break;
            }
        }
    }

    engine.reset();
    device_close();
}
BENCHMARK (idleTick)->Unit (benchmark::kMicrosecond);

BENCHMARK_MAIN();
