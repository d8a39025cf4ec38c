#pragma once

#include "DeviceFormats.h"

#include <cstdint>

struct hid_device_;

namespace olvo
{

//==============================================================================
/** The device layer: plain functions over one process-wide hidapi handle and one 65-byte report buffer.

    Only the engine's worker thread calls these (hidapi is not thread-safe). Every failure prints a fixed line on
    standard error (reply waits on standard output) and returns a code; nothing throws. Results: a byte count or
    0/1 for success, -1 for no device or a failed send, -2 for a reply with the wrong command code, -92 for a block
    the device rejected on its checksum.
*/

/** 0 when a device is open (or already was), 1 when neither identity is present. */
int device_open();

/** Closes the device (if open) and shuts hidapi down. */
void device_close();

/** True while a device handle is open. */
bool device_is_open();

/** Reads the status report into out (64 bytes): bytes read (0..65), -1 on failure. */
int read_status_report (uint8_t* out);

/** Sends the 32-byte settings record: true when it went out, false with no device or when the send failed. */
bool send_settings (const uint8_t* settings);

/** Reads the identity into out (64 bytes, cleared first): bytes read (> 0), 0 or -2 when no valid reply came,
    -1 on failure, or the negative read result. */
int get_ids (uint8_t* out);

/** Writes one 1 KB block (32..255): > 0 success, -92 checksum rejected by the device, -1 failure. */
int write_block (int block, const uint8_t* data);

/** Writes a slot entry; name is 32 bytes (no terminator needed). */
void set_filename (unsigned slot, const uint8_t* name, int code, int major, int minor);

/** Reads a slot entry; every out pointer may be null. The name comes back 7-bit with byte 31 zero.
    Bytes read (> 0), 0 or -2 when no valid reply came, -1 on failure. */
int get_filename (unsigned slot, uint8_t* nameOut, int* codeOut, int* majorOut, int* minorOut);

/** Reads the usage log page by page into words (room for maxWords); returns the number of words read.
    Paging ends on a short page, after wire::logMaxPages pages, or when the words are full. */
int get_log (uint32_t* words, int maxWords);

/** Switches the code bank (0 before a firmware update, 1 after it); send only. */
void set_code_bank (int bank);

/** The reply wait shared by get_ids, get_filename and get_log, after the request has been sent. */
int try_read (int command);

/** Block checksum: the sum modulo 2^32 of the 256 little-endian words of a 1 KB block. */
uint32_t block_checksum (const uint8_t* data);

} // namespace olvo
