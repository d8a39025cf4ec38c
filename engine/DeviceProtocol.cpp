#include "DeviceProtocol.h"

#include "Clock.h"

#include <hidapi.h>
#include <juce_core/juce_core.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace olvo
{

namespace
{
    hid_device* currentDevice = nullptr;

    /** Byte 0 is the report id; bytes 1..64 are the wire bytes of a request. A reply (input report) is read into it
        from byte 0, so there byte k is device byte k. */
    uint8_t reportBuffer[wire::bufferSize] {};

    constexpr int replyAttempts = 20;
    constexpr int replyPauseMs = 10;
    constexpr int idsResendAttempt = 5;
    constexpr int maxStaleReports = 64;
    constexpr int lateReplyQuietMs = 200;         // as long as a whole reply wait
    constexpr int lateReplyDrainLimitMs = 1000;
    constexpr int completionReads = 200;
    constexpr int completionReadsWithoutPause = 101;

    /** Starts a request: report id 0, the command code, everything after it zero. */
    void beginRequest (uint8_t command)
    {
        std::memset (reportBuffer, 0, sizeof (reportBuffer));
        reportBuffer[1] = command;
    }

    /** Request byte k of the device view. */
    uint8_t& requestByte (int k) { return reportBuffer[k + 1]; }

    int sendRequest()
    {
        reportBuffer[0] = 0;
        return hid_send_feature_report (currentDevice, reportBuffer, sizeof (reportBuffer));
    }

    // hidapi's error text is not kept; these print the lines the diagnostics have always had, with no text.
    void printHidErrorText()  { std::fputs ("\n", stderr); }
    void printErrorLine()     { std::fprintf (stderr, "Error %d: \n", 0); }

    /** Set when a reply wait ended without its reply: that reply may still be on its way. A get_filename reply
        carries no slot number, so taken as the answer to the next request it would put one slot's entry in
        another's place. */
    bool replyMayStillCome = false;
    int64_t lastWaitEndedAt = 0;

    /** Drops input reports still queued from an earlier request, so a late reply cannot answer the next one. After a
        wait that ended without its reply, it also waits (boundedly) until the line has been quiet for a while, so
        that a reply still on its way is taken here. */
    void drainStaleReplies()
    {
        uint8_t scratch[wire::bufferSize];

        if (! replyMayStillCome)
        {
            for (int i = 0; i < maxStaleReports; ++i)
                if (hid_read (currentDevice, scratch, sizeof (scratch)) <= 0)
                    return;
            return;
        }

        replyMayStillCome = false;
        const auto started = nowMs();
        auto quietSince = lastWaitEndedAt;

        for (int reports = 0; reports < maxStaleReports;)
        {
            const int n = hid_read (currentDevice, scratch, sizeof (scratch));
            const auto now = nowMs();

            if (n < 0)
                return;

            if (n > 0)
            {
                quietSince = now;
                ++reports;
                continue;
            }

            if (now - quietSince >= lateReplyQuietMs || now - started >= lateReplyDrainLimitMs)
                return;

            sleepMs (replyPauseMs);
        }
    }

    /** Set once the "cannot be opened" line has been printed for the device now plugged in. */
    bool unopenableReported = false;

    /** The rule a Linux desktop needs before a logged-in user may open the device (installed by cmake --install). */
    constexpr const char* udevRuleName = "60-olvo-assistant.rules";

    /** Opens the first device hidapi lists with this identity, as hid_open does; listed is set when one is listed.
        A device that is listed but cannot be opened is nearly always one the user has no permission for: that is
        said once, with hidapi's reason and the remedy. */
    hid_device* openListed (unsigned short vendor, unsigned short product, bool& listed)
    {
        auto* devices = hid_enumerate (vendor, product);

        if (devices == nullptr)
            return nullptr;

        listed = true;
        auto* device = hid_open_path (devices->path);

        if (device == nullptr && ! unopenableReported)
        {
            const wchar_t* reason = hid_error (nullptr);
            const auto why = juce::String (reason != nullptr ? reason : L"").replaceCharacters ("\r\n", "  ").trim();

            std::fprintf (stderr, "Device %04x:%04x is present but cannot be opened (%s): install the udev rule %s "
                                  "(see the README) and plug the device in again.\n",
                          vendor, product, why.isNotEmpty() ? why.toRawUTF8() : "no reason given", udevRuleName);
            std::fflush (stderr);
            unopenableReported = true;
        }

        hid_free_enumeration (devices);
        return device;
    }

    /** Status report 0 into reportBuffer: the byte count (data from byte 1 on), or a negative value. */
    int readStatusIntoBuffer()
    {
        reportBuffer[0] = 0;
        return hid_get_feature_report (currentDevice, reportBuffer, sizeof (reportBuffer));
    }

    uint8_t statusByte (int k) { return reportBuffer[k + 1]; }

    /** The reply wait; with resendIds, the identity request is sent again after the sixth empty read. */
    int waitForReply (int command, bool resendIds)
    {
        int result = 0;

        for (int attempt = 0; attempt < replyAttempts; ++attempt)
        {
            const int n = hid_read (currentDevice, reportBuffer, sizeof (reportBuffer));

            if (n < 0)
            {
                std::puts ("try_read: Did you remember to run 'id'?");
                return n;
            }

            if (n > 0 && reportBuffer[0] == command)
                return n;

            if (n > 0)
            {
                std::printf ("try_read reply [%d](%d) %d (expected %d)\n", attempt, n, reportBuffer[0], command);
                result = -2;
            }
            else
            {
                result = 0;

                if (resendIds && attempt == idsResendAttempt)
                {
                    beginRequest (wire::cmdGetIds);
                    const int written = hid_write (currentDevice, reportBuffer, sizeof (reportBuffer));
                    std::printf ("Sent null write (%d)\n", written < 0 ? -1 : written);

                    beginRequest (wire::cmdGetIds);
                    const int sent = sendRequest();
                    std::printf ("resent request (%d)\n", sent < 0 ? -1 : sent);
                }
            }

            sleepMs (replyPauseMs);
        }

        replyMayStillCome = true;
        lastWaitEndedAt = nowMs();

        if (result == -2)
        {
            std::puts ("try_read: Did you remember to run 'id'?");
            return -2;
        }

        return 0;
    }
}

//==============================================================================
int device_open()
{
    if (currentDevice != nullptr)
        return 0;

    if (hid_init() != 0)
        std::fputs ("hid_init error, continuing anyway.\n", stderr);

    std::memset (reportBuffer, 0, sizeof (reportBuffer));

    bool listedButClosed = false;
    currentDevice = openListed (wire::normalVendor, wire::normalProduct, listedButClosed);

    if (currentDevice == nullptr)
        currentDevice = openListed (wire::bootVendor, wire::bootProduct, listedButClosed);

    if (currentDevice == nullptr)
    {
        // Said once while the device stays plugged in, not on every tick; unplugging it (or opening it) re-arms.
        if (! listedButClosed)
            unopenableReported = false;

        return 1;
    }

    // A new handle has nothing queued from an earlier one.
    replyMayStillCome = false;
    unopenableReported = false;
    hid_set_nonblocking (currentDevice, 1);
    return 0;
}

void device_close()
{
    if (currentDevice != nullptr)
        hid_close (currentDevice);

    hid_exit();
    currentDevice = nullptr;
    replyMayStillCome = false;
}

bool device_is_open()
{
    return currentDevice != nullptr;
}

int read_status_report (uint8_t* out)
{
    if (currentDevice == nullptr)
        return -1;

    const int n = readStatusIntoBuffer();

    if (n < 0)
    {
        std::fputs ("Unable to read feature report.\n", stderr);
        printHidErrorText();
        return -1;
    }

    if (n == 0)
        return 0;

    const int dataBytes = std::min (n - 1, wire::reportSize);
    if (dataBytes > 0)
        std::memcpy (out, reportBuffer + 1, (size_t) dataBytes);

    return n;
}

bool send_settings (const uint8_t* settings)
{
    if (currentDevice == nullptr)
        return false;

    beginRequest (wire::cmdSettings);
    std::memcpy (&requestByte (1), settings, wire::settingsSize);

    if (sendRequest() < 0)
    {
        std::fputs ("Unable to send settings feature report.\n", stderr);
        printErrorLine();
        return false;
    }

    return true;
}

int get_ids (uint8_t* out)
{
    // A new device must never show the previous one's identity, whatever happens below.
    std::memset (out, 0, wire::reportSize);

    if (currentDevice == nullptr)
        return -1;

    drainStaleReplies();
    beginRequest (wire::cmdGetIds);

    if (sendRequest() < 0)
    {
        std::fputs ("Unable to send get_ids feature report.\n", stderr);
        printErrorLine();
        return -1;
    }

    const int n = waitForReply (wire::cmdGetIds, true);

    if (n > 0)
    {
        const int bytes = std::min (n - 1, wire::reportSize);
        if (bytes > 0)
            std::memcpy (out, reportBuffer + 1, (size_t) bytes);
        return n;
    }

    std::fputs ("Unable to read get_id reply.\n", stderr);
    return n;
}

void set_filename (unsigned slot, const uint8_t* name, int code, int major, int minor)
{
    if (currentDevice == nullptr || slot >= (unsigned) wire::slotCount)
        return;

    beginRequest (wire::cmdSetFilename);
    requestByte (wire::filenameSlot) = (uint8_t) slot;
    std::memcpy (&requestByte (wire::filenameName), name, wire::slotNameSize);
    wire::putU32BE (&requestByte (wire::filenameCode), (uint32_t) code);
    requestByte (wire::filenameMajor) = (uint8_t) major;
    requestByte (wire::filenameMinor) = (uint8_t) minor;

    if (sendRequest() < 0)
    {
        std::fputs ("Unable to send set_filename feature report.\n", stderr);
        printErrorLine();
    }
}

int get_filename (unsigned slot, uint8_t* nameOut, int* codeOut, int* majorOut, int* minorOut)
{
    if (currentDevice == nullptr || slot >= (unsigned) wire::slotCount)
        return -1;

    drainStaleReplies();
    beginRequest (wire::cmdGetFilename);
    requestByte (wire::filenameSlot) = (uint8_t) slot;

    if (sendRequest() < 0)
    {
        std::fputs ("Unable to send get_filename feature report.\n", stderr);
        printErrorLine();
        return -1;
    }

    const int n = waitForReply (wire::cmdGetFilename, false);

    if (n <= 0)
    {
        std::fputs ("Unable to read get_filename reply.\n", stderr);
        return n;
    }

    if (nameOut != nullptr)
    {
        std::memset (nameOut, 0, wire::slotNameSize);
        const int nameBytes = std::min (n - 2, wire::slotNameSize);
        for (int i = 0; i < nameBytes; ++i)
            nameOut[i] = (uint8_t) (reportBuffer[wire::filenameName + i] & 0x7F);
        nameOut[wire::slotNameSize - 1] = 0;
    }

    if (codeOut != nullptr)  *codeOut = (int) wire::getU32BE (reportBuffer + wire::filenameCode);
    if (majorOut != nullptr) *majorOut = reportBuffer[wire::filenameMajor];
    if (minorOut != nullptr) *minorOut = reportBuffer[wire::filenameMinor];

    return n;
}

int get_log (uint32_t* words, int maxWords)
{
    int count = 0;

    // A device that never reports a short page still ends here: the words fill up, or the pages run out.
    for (int page = 0; page < wire::logMaxPages && count < maxWords && currentDevice != nullptr; ++page)
    {
        drainStaleReplies();
        beginRequest (wire::cmdGetLog);
        requestByte (1) = (uint8_t) page;

        if (sendRequest() < 0)
        {
            std::fputs ("Unable to send get_log feature report.\n", stderr);
            printErrorLine();
            break;
        }

        const int n = waitForReply (wire::cmdGetLog, false);

        if (n <= 0)
        {
            std::fprintf (stderr, "Unable to read get_log reply (idx=%d).\n", page);
            break;
        }

        // Never count bytes the reply did not carry.
        const int validBytes = std::min ({ (int) reportBuffer[wire::logValidBytes], wire::logPageMaxData,
                                           std::max (0, n - wire::logData) });
        const int pageWords = std::min (validBytes / 4, maxWords - count);

        for (int i = 0; i < pageWords; ++i)
            words[count + i] = wire::getU32LE (reportBuffer + wire::logData + 4 * i);

        count += pageWords;

        if (validBytes < 4)
            break;
    }

    return std::min (count, maxWords);
}

void set_code_bank (int bank)
{
    if (currentDevice == nullptr)
        return;

    beginRequest (wire::cmdSetCodeBank);
    requestByte (1) = (uint8_t) bank;

    if (sendRequest() < 0)
        std::fprintf (stderr, "Tolerable error: Set code bank (%d) failed. (%d)\n", bank, -1);
}

int try_read (int command)
{
    if (currentDevice == nullptr)
        return -1;

    return waitForReply (command, false);
}

uint32_t block_checksum (const uint8_t* data)
{
    uint32_t sum = 0;
    for (int i = 0; i < wire::blockSize; i += 4)
        sum += wire::getU32LE (data + i);
    return sum;
}

int write_block (int block, const uint8_t* data)
{
    if (currentDevice == nullptr)
        return -1;

    if (block < wire::firstWritableBlock)
    {
        std::fprintf (stderr, "Cannot write below block 32. (%d)\n", block);
        return -1;
    }

    // The block number is one byte on the wire: a larger one would land in another block.
    if (block > wire::lastBlock)
    {
        std::fprintf (stderr, "Cannot write above block 255. (%d)\n", block);
        return -1;
    }

    const int before = readStatusIntoBuffer();

    if (before < 0)
    {
        std::fputs ("Unable to read feature report.\n", stderr);
        printHidErrorText();
    }
    else if (before > 0 && statusByte (wire::statusBlockState) <= wire::blockBusyMax)
    {
        std::fprintf (stderr, "Write-block in progress (%d:%d), resetting.\n",
                     statusByte (wire::statusBlockProgress), statusByte (wire::statusBlockState));

        beginRequest (wire::cmdSetBlockAddress);   // block 0: reset the unfinished write

        if (sendRequest() < 0)
        {
            std::fprintf (stderr, "Set block reset failed. (%d)\n", -1);
            return -1;
        }
    }

    beginRequest (wire::cmdSetBlockAddress);
    requestByte (1) = (uint8_t) block;
    wire::putU32BE (&requestByte (2), block_checksum (data));

    if (sendRequest() < 0)
    {
        std::fprintf (stderr, "Set block address (%d) failed. (%d)\n", block, -1);
        return -1;
    }

    for (int chunk = 0; chunk < wire::chunksPerBlock; ++chunk)
    {
        const int offset = chunk * wire::chunkSize;
        const int length = std::min (wire::chunkSize, wire::blockSize - offset);

        beginRequest (wire::cmdWriteBlockData);
        requestByte (1) = (uint8_t) block;
        requestByte (2) = (uint8_t) chunk;
        requestByte (3) = (uint8_t) length;
        std::memcpy (&requestByte (4), data + offset, (size_t) length);

        if (sendRequest() < 0)
        {
            std::fprintf (stderr, "Unable to write block %d offset %d to HID device\n", block, offset);
            printErrorLine();
            return -1;
        }
    }

    int result = -1;
    int lastState = -1;
    bool finished = false;

    for (int read = 0; read < completionReads && ! finished; ++read)
    {
        const int n = readStatusIntoBuffer();

        if (n < 0)
        {
            result = -1;
            std::fputs ("Unable to read feature report.\n", stderr);
            printHidErrorText();
        }
        else if (n > 0)
        {
            result = n;
            lastState = statusByte (wire::statusBlockState);
            finished = lastState > 90;
        }

        if (finished)
            break;

        if (juce::Thread::currentThreadShouldExit())
            return -1;

        if (read >= completionReadsWithoutPause)
            sleepMs (replyPauseMs);
    }

    if (lastState == wire::blockChecksumFail)
    {
        std::printf ("CRC error detected writing block %d.  Caller must retry.\n", block);
        return -92;
    }

    // A block whose completion was never seen has not been written, whatever the last read returned.
    if (! finished)
    {
        std::fprintf (stderr, "Block %d write did not complete.\n", block);
        return -1;
    }

    return result;
}

} // namespace olvo
