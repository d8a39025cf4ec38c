// The firmware update: sync step 7 writes a 32 KB image into the device through its boot loader.

#include "OlvoThread.h"

#include "Clock.h"
#include "DeviceProtocol.h"
#include "JsonValues.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace olvo
{

namespace
{
    constexpr int minimumImageTextChars = 1024;   // a shorter "file_data" is taken as "no image", not as a failure
    constexpr int codeBankBootLoader = 0;
    constexpr int codeBankNormal = 1;

    constexpr int bootLoaderPollMs = 200;
    constexpr int64_t bootLoaderWaitLimitMs = 60 * 1000;
    constexpr int bootLoaderMaxPasses = (int) (bootLoaderWaitLimitMs / bootLoaderPollMs);

    constexpr int attemptsPerBlock = 4;
    constexpr int settleAfterSwapMs = 500;
    constexpr int swapCheckPasses = 200;
    constexpr int swapCheckPauseMs = 100;
    constexpr int failuresRetried = 10;
    constexpr int slotProbePasses = 50;
    constexpr int slotProbePauseMs = 100;

    constexpr int minimumStatusBytes = 60;
    constexpr uint8_t statusUnread = 42;          // put into the code-bank byte before a read: still there = no report

    const juce::String gaveUpMessage ("Firmware download has failed after 10 attempts.  "
                                      "Please disconnect and reconnect your device to try again.");

    void printLine (const juce::String& line)
    {
        std::printf ("%s\n", line.toRawUTF8());
        std::fflush (stdout);
    }

    /** How one attempt ended. */
    enum class Outcome
    {
        done,            ///< written and running, or nothing to write
        failed,          ///< counts towards the ten retries
        deviceChanged,   ///< another device answered: the update is not for it
        stopping         ///< the engine is being stopped
    };

    /** Reads the status report into a buffer of its own; the code-bank byte stays at 42 when nothing usable came. */
    int readStatusInto (StatusReport& report)
    {
        report = {};
        report.bytes[wire::statusCodeBank] = statusUnread;
        return read_status_report (report.bytes);
    }

    bool sameUid (const DeviceIds& a, const DeviceIds& b)
    {
        for (int i = 0; i < 4; ++i)
            if (a.uidWord (i) != b.uidWord (i))
                return false;
        return true;
    }
}

//==============================================================================
void OlvoThread::firmwareStep()
{
    lastFirmwareAttempt = nowMs();

    const auto descriptor = firmwareUpdate;
    const auto text = json::isObject (descriptor) ? json::text (descriptor.getProperty ("file_data", {}))
                                                  : juce::String();

    // Everything below runs in order and any step may end the attempt; the lambda keeps the exits in one place.
    const auto attempt = [&]() -> Outcome
    {
        if (text.length() < minimumImageTextChars)
        {
            printLine ("firmware base64 too short/missing: " + juce::String (text.length()));
            return Outcome::done;
        }

        juce::MemoryOutputStream decoded (256);
        if (! juce::Base64::convertFromBase64 (decoded, json::withoutWhitespace (text)))
        {
            printLine ("firmware base64 malformed: " + juce::String (text.length()));
            return Outcome::failed;
        }

        if (decoded.getDataSize() != (size_t) wire::imageSize)
        {
            printLine ("firmware data length invalid, must be 32k: " + juce::String ((int64_t) decoded.getDataSize()));
            return Outcome::failed;
        }

        const std::vector<uint8_t> image (static_cast<const uint8_t*> (decoded.getData()),
                                          static_cast<const uint8_t*> (decoded.getData()) + wire::imageSize);

        if (! device_is_open())
            return Outcome::failed;

        const DeviceIds before = deviceIds.unguarded();

        set_code_bank (codeBankBootLoader);

        // Wait for the device to come back on its boot loader. Blocks go only into a boot loader (code bank 0) of
        // the same device: the running normal firmware must never be overwritten, nor another device's.
        bool inBootLoader = false;
        const int64_t waitEnd = nowMs() + bootLoaderWaitLimitMs;

        for (int pass = 0; pass < bootLoaderMaxPasses && nowMs() < waitEnd; ++pass)
        {
            clock().waitOnThread (*this, bootLoaderPollMs);

            if (threadShouldExit())
                return Outcome::stopping;

            printLine ("Waiting on SBL...");

            if (checkDevice() != 1)
                continue;

            if (! sameUid (before, deviceIds.unguarded()))
                return Outcome::deviceChanged;

            StatusReport report;
            if (readStatusInto (report) >= minimumStatusBytes && report.bytes[wire::statusCodeBank] == 0)
            {
                inBootLoader = true;
                break;
            }
        }

        if (! inBootLoader)
        {
            printLine ("Boot loader did not answer within " + juce::String (bootLoaderWaitLimitMs / 1000) + " s");
            return Outcome::failed;
        }

        for (int k = 0; k < wire::imageBlocks; ++k)
        {
            const uint8_t* block = image.data() + (size_t) k * wire::blockSize;
            int result = 0;
            bool written = false;

            for (int n = 1; n <= attemptsPerBlock; ++n)
            {
                if (threadShouldExit())
                    return Outcome::stopping;

                result = write_block (wire::firmwareFirstBlock + k, block);

                if (result > 0)
                {
                    written = true;
                    break;
                }

                std::printf ("Write DFU block %d failed (%d), retry #%d\n", k, result, n);
                std::fflush (stdout);
            }

            if (! written)
            {
                std::printf ("Write DFU failed (%d) on block %d\n", result, k);
                std::fflush (stdout);
                return Outcome::failed;
            }
        }

        if (! device_is_open())
            return Outcome::failed;

        set_code_bank (codeBankNormal);
        device_close();
        sleepMs (settleAfterSwapMs);

        // The first status report after the restart tells whether the new code runs.
        for (int pass = 0; pass < swapCheckPasses; ++pass)
        {
            if (threadShouldExit())
                return Outcome::stopping;

            sleepMs (swapCheckPauseMs);

            if (! device_is_open() && device_open() != 0)
                continue;

            StatusReport report;
            if (readStatusInto (report) <= 0)
            {
                device_close();
                continue;
            }

            const int bank = report.bytes[wire::statusCodeBank];
            if (bank == codeBankNormal)
                return Outcome::done;

            std::printf ("Code swap failed, target %d, current %d\n", codeBankNormal, bank);
            std::fflush (stdout);
            return Outcome::failed;
        }

        std::printf ("Code swap failed, target %d, current %d\n", codeBankNormal, (int) statusUnread);
        std::fflush (stdout);
        return Outcome::failed;
    };

    switch (attempt())
    {
        case Outcome::stopping:
            printLine ("firmware update interrupted: the engine is stopping");
            return;

        case Outcome::deviceChanged:
        {
            // What the server sent was for the device that went: none of it may reach this one. The device is
            // treated as newly arrived, so the next poll asks for what this one needs.
            printLine ("firmware update dropped: a different device answered");
            resetAfterDeviceLoss();
            resetWithoutDevice();
            status = SyncStatus::connecting;
            return;
        }

        case Outcome::failed:
        {
            lastFirmwareAttempt = nowMs();
            const int failures = firmwareFailureCount;
            printLine ("loadFW fail #" + juce::String (failures) + " retrying");

            if (failures < failuresRetried)
            {
                firmwareFailureCount = failures + 1;
                return;   // the descriptor stays: the next tick tries again from the start
            }

            // Given up: a later update (after a reconnect) starts with a clean count.
            firmwareFailureCount = 0;
            serverMessage.set (gaveUpMessage);
            status = SyncStatus::error;
            syncStep = 0;
            firmwareUpdate = juce::var();

            // The slot files of this sync went in before the firmware and are whole: their names go back as the
            // settings step would have written them. Left blank, they would make the device treat its slots as
            // empty and the server send every file again.
            if (updatesPending.exchange (false))
                writeSlotNames();
            return;
        }

        case Outcome::done:
            break;
    }

    firmwareFailureCount = 0;

    // The device takes a moment to answer again after its restart; its slot 0 answering means it is back.
    uint8_t name[wire::slotNameSize + 1] {};
    int unanswered = 0;

    for (; unanswered < slotProbePasses; ++unanswered)
    {
        if (threadShouldExit())
            break;

        if (get_filename (0, name, nullptr, nullptr, nullptr) > 0)
            break;

        checkDevice();
        clock().waitOnThread (*this, slotProbePauseMs);
    }

    printLine ("Wait loops: " + juce::String (unanswered) + " "
               + juce::String (reinterpret_cast<const char*> (name), strnlen (reinterpret_cast<const char*> (name),
                                                                             wire::slotNameSize)));

    firmwareUpdate = juce::var();
    syncStep = 8;
}

} // namespace olvo
