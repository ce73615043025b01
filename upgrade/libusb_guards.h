#pragma once

#include <libusb.h>

#include <memory>

// Owners for the libusb resources of one flash, so that every early return
// gives them back in the right order: the claimed interface before its
// handle, the handle before the context. Declare them in that reverse order.

struct LibusbContextExit
{
    void operator()(libusb_context *context) const { libusb_exit(context); }
};
using LibusbContext = std::unique_ptr<libusb_context, LibusbContextExit>;

struct LibusbHandleClose
{
    void operator()(libusb_device_handle *handle) const { libusb_close(handle); }
};
using LibusbHandle = std::unique_ptr<libusb_device_handle, LibusbHandleClose>;

// The device list, unreferencing the devices it holds; a device opened from
// it keeps its own reference through the handle.
class LibusbDeviceList
{
public:
    explicit LibusbDeviceList(libusb_context *context) { count_ = libusb_get_device_list(context, &list_); }
    ~LibusbDeviceList()
    {
        if (list_)
            libusb_free_device_list(list_, 1);
    }
    LibusbDeviceList(const LibusbDeviceList &) = delete;
    LibusbDeviceList &operator=(const LibusbDeviceList &) = delete;

    // Negative: the libusb error of the enumeration.
    ssize_t count() const { return count_; }
    libusb_device *operator[](ssize_t index) const { return list_[index]; }

private:
    libusb_device **list_ = nullptr;
    ssize_t count_ = 0;
};

// An interface claimed on a handle; released when the guard goes.
class ClaimedInterface
{
public:
    ClaimedInterface() = default;
    ~ClaimedInterface()
    {
        if (handle_)
            libusb_release_interface(handle_, interface_);
    }
    ClaimedInterface(const ClaimedInterface &) = delete;
    ClaimedInterface &operator=(const ClaimedInterface &) = delete;

    // libusb_claim_interface's result; the guard only holds a successful claim.
    int claim(libusb_device_handle *handle, int interfaceNumber)
    {
        const int rc = libusb_claim_interface(handle, interfaceNumber);
        if (rc == 0) {
            handle_ = handle;
            interface_ = interfaceNumber;
        }
        return rc;
    }

private:
    libusb_device_handle *handle_ = nullptr;
    int interface_ = 0;
};
