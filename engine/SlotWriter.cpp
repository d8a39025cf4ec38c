#include "OlvoThread.h"

#include "DeviceProtocol.h"
#include "JsonValues.h"

#include <cstdio>
#include <vector>

namespace olvo
{

namespace
{
    constexpr int minimumFileDataChars = 1024;   // a shorter text cannot be a real program file
    constexpr int attemptsPerBlock = 4;
    constexpr int maxVersion = 255;               // one byte in the device's slot entry
    constexpr uint8_t unwrittenByte = 0xFF;       // erased flash: what a short image leaves after its end

    /** What one descriptor asks for, read and checked before anything touches the device. */
    struct SlotFile
    {
        bool erase = false;
        std::vector<uint8_t> image;
        SlotInfo info;
    };

    /** A program code: a whole number, or text that starts with one. False when it is neither, or when it has a
        fraction or is out of range (0.5 must not read as 0, which erases the slot). */
    bool readCode (const juce::var& value, int& code)
    {
        double exact = 0;

        if (value.isInt() || value.isInt64() || value.isDouble())
            exact = (double) value;
        else if (value.isString() && json::startsWithInteger (value.toString()))
            exact = value.toString().getDoubleValue();
        else
            return false;

        code = json::toInt (value);
        return exact == (double) code;
    }

    /** Copies a name's UTF-8 bytes into a 32-byte field, cut at a character boundary; shorter names end in NUL. */
    void putName (char (&field)[wire::slotNameSize], const juce::String& name)
    {
        std::memset (field, 0, sizeof (field));

        const char* utf8 = name.toRawUTF8();
        const size_t total = std::strlen (utf8);
        size_t length = std::min (total, sizeof (field));

        // Back off over continuation bytes so that no character is left half-stored.
        if (length < total)
            while (length > 0 && (static_cast<uint8_t> (utf8[length]) & 0xC0) == 0x80)
                --length;

        std::memcpy (field, utf8, length);
    }

    void printLine (const char* format, int a)
    {
        std::printf (format, a);
        std::fflush (stdout);
    }

    /** What makes two slot files the same: code, versions and content (the Base64 text, whitespace aside), as a
        64-bit FNV-1a hash. The name is left out: a file renamed is still the file the device refused. */
    uint64_t fingerprintOf (const juce::var& descriptor)
    {
        const auto* object = descriptor.getDynamicObject();
        const auto text = json::text (object->getProperty ("program_code")) + "|"
                        + json::text (object->getProperty ("version_major")) + "|"
                        + json::text (object->getProperty ("version_minor")) + "|"
                        + json::withoutWhitespace (json::text (object->getProperty ("file_data")));

        uint64_t hash = 14695981039346656037ull;
        for (auto* p = text.toRawUTF8(); *p != 0; ++p)
            hash = (hash ^ static_cast<uint8_t> (*p)) * 1099511628211ull;
        return hash;
    }

    /** Reads a descriptor into what is to be written; false (with a diagnostic line) when it must be rejected. */
    bool readDescriptor (const juce::var& descriptor, int slot, SlotFile& file)
    {
        const auto* object = descriptor.getDynamicObject();
        const juce::var codeValue = object->getProperty ("program_code");

        int code = 0;
        if (! readCode (codeValue, code))
        {
            std::printf ("program code not a number: \"%s\"\n", json::text (codeValue).toRawUTF8());
            std::fflush (stdout);
            return false;
        }

        const int major = json::toInt (object->getProperty ("version_major"));
        const int minor = json::toInt (object->getProperty ("version_minor"));

        if (major < 0 || major > maxVersion || minor < 0 || minor > maxVersion)
        {
            std::printf ("program version out of range: %d.%d\n", major, minor);
            std::fflush (stdout);
            return false;
        }

        file.info.code = code;
        file.info.major = major;
        file.info.minor = minor;
        putName (file.info.name, json::text (object->getProperty ("program_name")));

        if (code == 0)
        {
            file.erase = true;
            file.image.assign ((size_t) wire::imageSize, 0);
            printLine ("Writing zeros to frequency slot %d\n", slot);
            return true;
        }

        const auto text = json::text (object->getProperty ("file_data"));

        if (text.length() < minimumFileDataChars)
        {
            printLine ("file data too short/missing: %d\n", text.length());
            return false;
        }

        const auto data = json::withoutWhitespace (text);

        juce::MemoryOutputStream decoded;
        if (! juce::Base64::convertFromBase64 (decoded, data) || decoded.getDataSize() == 0)
        {
            printLine ("file data malformed/empty: %d\n", data.length());
            return false;
        }

        const auto* bytes = static_cast<const uint8_t*> (decoded.getData());
        file.image.assign (bytes, bytes + decoded.getDataSize());
        return true;
    }
}

//==============================================================================
bool OlvoThread::slotFileGivenUp (int slot, const juce::var& descriptor) const
{
    if (slot < 0 || slot >= wire::slotCount || ! json::isObject (descriptor))
        return false;

    const auto& refused = refusedSlotFiles[(size_t) slot];
    return refused.failures >= maxWritesOfARefusedFile && refused.fingerprint == fingerprintOf (descriptor);
}

void OlvoThread::writeFrequencySlot (int slot, const juce::var& descriptor)
{
    if (slot < 0 || slot >= wire::slotCount || ! json::isObject (descriptor))
        return;

    // A slot that refused this very file each time it was written would refuse it again: writing it on every sync
    // only wears the device's flash. The slot keeps what it holds (its entry is the device's own, as the poll read
    // it), and the sync goes on with the other slots.
    if (slotFileGivenUp (slot, descriptor))
    {
        std::printf ("WAV%d not written: the device refused it %d times\n", slot, maxWritesOfARefusedFile);
        std::fflush (stdout);
        slotsGivenUp |= 1 << slot;
        return;
    }

    SlotFile file;
    if (! readDescriptor (descriptor, slot, file))
        return;

    writingSlot = true;

    const int firstBlock = wire::slotFirstBlock (slot);
    const size_t imageBytes = std::min (file.image.size(), (size_t) wire::imageSize);
    const int blocks = (int) ((imageBytes + wire::blockSize - 1) / wire::blockSize);

    for (int k = 0; k < blocks; ++k)
    {
        uint8_t block[wire::blockSize];
        const size_t offset = (size_t) k * wire::blockSize;
        const size_t length = std::min ((size_t) wire::blockSize, imageBytes - offset);
        std::memcpy (block, file.image.data() + offset, length);
        std::memset (block + length, unwrittenByte, sizeof (block) - length);

        int result = 0;
        bool written = false;

        bool stopping = false;

        for (int attempt = 1; attempt <= attemptsPerBlock; ++attempt)
        {
            // A stopping engine gives up between attempts; the slot then counts as failed.
            if (juce::Thread::currentThreadShouldExit())
            {
                stopping = true;
                break;
            }

            result = write_block (firstBlock + k, block);

            if (result > 0)
            {
                written = true;
                break;
            }

            std::printf ("Write block %d+%d failed (%d), retry #%d\n", firstBlock, k, result, attempt);
            std::fflush (stdout);
        }

        if (! written)
        {
            if (stopping)
                std::printf ("Slot %d not finished: the engine is stopping (block %d)\n", slot, k);
            else
                std::printf ("Write WAV%d failed (%d) on block %d\n", slot, result, k);
            std::fflush (stdout);

            // The slot holds part of a file now: it must not be taken for the old one or the new one.
            slotTable.update ([slot] (SlotTable& t)
            {
                std::memset (t.slotProgramName[slot], 0, sizeof (t.slotProgramName[slot]));
                t.slotProgramCode[slot] = 0;
                t.slotVersionMajor[slot] = 0;
                t.slotVersionMinor[slot] = 0;
            });

            if (! stopping)
            {
                auto& refused = refusedSlotFiles[(size_t) slot];
                const auto fingerprint = fingerprintOf (descriptor);
                refused.failures = refused.fingerprint == fingerprint ? refused.failures + 1 : 1;
                refused.fingerprint = fingerprint;

                if (refused.failures >= maxWritesOfARefusedFile)
                    slotsGivenUp |= 1 << slot;
            }
            return;
        }
    }

    writingSlot = false;
    refusedSlotFiles[(size_t) slot] = {};

    const SlotInfo info = file.info;
    slotTable.update ([slot, &info] (SlotTable& t)
    {
        std::memcpy (t.slotProgramName[slot], info.name, sizeof (info.name));
        t.slotProgramCode[slot] = info.code;
        t.slotVersionMajor[slot] = info.major;
        t.slotVersionMinor[slot] = info.minor;
    });
}

} // namespace olvo
