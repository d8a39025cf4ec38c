// hidapi's C functions over the simulated device, with the conventions of hidapi 0.13's hidraw back end.

#include "DeviceModel.h"

#include <chrono>
#include <cstring>
#include <thread>

using olvo::sim::detail::LockedDevice;

namespace
{
    // A blocking read with nothing to come would hang a test for ever; it gives up after this much real time.
    constexpr int blockingReadLimitMs = 2000;

    /** A call on a NULL, closed or unknown handle is a host fault: recorded and refused instead of crashing. */
    bool checkHandle (LockedDevice& device, hid_device* dev, const char* call)
    {
        if (dev != nullptr && device->knows (dev))
            return true;

        device->hostFault (std::string (call) + " on a handle that is not open");
        return false;
    }

    /** Reads one report, waiting up to timeoutMs (negative: blocking) of both sim and real time. */
    int readWithTimeout (hid_device* dev, unsigned char* data, size_t length, int timeoutMs)
    {
        LockedDevice device;

        if (! checkHandle (device, dev, "hid_read"))
            return -1;

        device->countReadCall();
        int result = device->read (dev, data, length, true);

        if (result != 0 || timeoutMs == 0)
            return result;

        const auto limit = timeoutMs < 0 ? blockingReadLimitMs : timeoutMs;
        const auto simDeadline = device->now() + limit;
        const auto realDeadline = std::chrono::steady_clock::now() + std::chrono::milliseconds (limit);

        for (;;)
        {
            device.unlock();
            std::this_thread::sleep_for (std::chrono::milliseconds (1));
            device.relock();

            if (! device->knows (dev))
                return -1;

            result = device->read (dev, data, length, false);

            if (result != 0)
                return result;

            if ((timeoutMs >= 0 && device->now() >= simDeadline) || std::chrono::steady_clock::now() >= realDeadline)
                return 0;
        }
    }
}

extern "C"
{

int HID_API_EXPORT HID_API_CALL hid_init (void)
{
    return LockedDevice()->hidInit();
}

int HID_API_EXPORT HID_API_CALL hid_exit (void)
{
    return LockedDevice()->hidExit();
}

struct hid_device_info HID_API_EXPORT* HID_API_CALL hid_enumerate (unsigned short vendor_id, unsigned short product_id)
{
    return LockedDevice()->enumerate (vendor_id, product_id);
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration (struct hid_device_info* devs)
{
    while (devs != nullptr)
    {
        auto* next = devs->next;
        delete[] devs->path;
        delete[] devs->serial_number;
        delete[] devs->manufacturer_string;
        delete[] devs->product_string;
        delete devs;
        devs = next;
    }
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open (unsigned short vendor_id, unsigned short product_id,
                                                  const wchar_t* serial_number)
{
    return LockedDevice()->open (vendor_id, product_id, serial_number);
}

HID_API_EXPORT hid_device* HID_API_CALL hid_open_path (const char* path)
{
    LockedDevice device;

    if (path == nullptr || std::strcmp (path, "sim:olvo") != 0)
        return nullptr;

    return device->open (0, 0, nullptr);
}

int HID_API_EXPORT HID_API_CALL hid_write (hid_device* dev, const unsigned char* data, size_t length)
{
    LockedDevice device;
    return checkHandle (device, dev, "hid_write") ? device->writeOutputReport (dev, data, length) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout (hid_device* dev, unsigned char* data, size_t length, int milliseconds)
{
    return readWithTimeout (dev, data, length, milliseconds);
}

int HID_API_EXPORT HID_API_CALL hid_read (hid_device* dev, unsigned char* data, size_t length)
{
    bool blocking;

    {
        LockedDevice device;

        if (! checkHandle (device, dev, "hid_read"))
            return -1;

        blocking = ! device->isNonBlocking (dev);
    }

    return readWithTimeout (dev, data, length, blocking ? -1 : 0);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking (hid_device* dev, int nonblock)
{
    LockedDevice device;
    return checkHandle (device, dev, "hid_set_nonblocking") ? device->setNonBlocking (dev, nonblock) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report (hid_device* dev, const unsigned char* data, size_t length)
{
    LockedDevice device;
    return checkHandle (device, dev, "hid_send_feature_report") ? device->sendFeatureReport (dev, data, length) : -1;
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report (hid_device* dev, unsigned char* data, size_t length)
{
    LockedDevice device;
    return checkHandle (device, dev, "hid_get_feature_report") ? device->getFeatureReport (dev, data, length) : -1;
}

void HID_API_EXPORT HID_API_CALL hid_close (hid_device* dev)
{
    if (dev != nullptr)
        LockedDevice()->close (dev);
}

HID_API_EXPORT const wchar_t* HID_API_CALL hid_error (hid_device* dev)
{
    return LockedDevice()->error (dev);
}

} // extern "C"
