#include "device/device_handle.h"

#include <hidapi/hidapi.h>

#include <QDebug>

#include <memory>

namespace {

struct HidCloser
{
    void operator()(hid_device *device) const { hid_close(device); }
};
using HidPtr = std::unique_ptr<hid_device, HidCloser>;

} // namespace

DeviceHandle::~DeviceHandle()
{
    close();
}

bool DeviceHandle::open(uint16_t vendorId, uint16_t productId)
{
    close();
    // hid_open() would take the first enumerated match; do the same, but keep
    // the path so the second handle opens the very same device.
    // A wheel plugged in a moment ago can be listed before its device node
    // exists, without a path to open; the next scan finds it whole.
    hid_device_info *devices = hid_enumerate(vendorId, productId);
    const hid_device_info *d = devices;
    while (d && (d->vendor_id != vendorId || d->product_id != productId || !d->path))
        d = d->next;
    const bool opened = d && openPath(d->path);
    hid_free_enumeration(devices);
    return opened;
}

bool DeviceHandle::openPath(const char *path)
{
    close();
    HidPtr command(hid_open_path(path));
    HidPtr input(command ? hid_open_path(path) : nullptr);
    if (!command || !input)
        return false;
    {
        std::lock_guard<std::mutex> lock(inputMutex_);
        input_ = input.release();
    }
    {
        std::lock_guard<std::mutex> lock(commandMutex_);
        command_ = command.release();
    }
    open_.store(true);
    return true;
}

void DeviceHandle::close()
{
    // Take each handle out under its own lock, then close it outside.
    open_.store(false);
    HidPtr command;
    {
        std::lock_guard<std::mutex> lock(commandMutex_);
        command.reset(command_);
        command_ = nullptr;
    }
    HidPtr input;
    {
        std::lock_guard<std::mutex> lock(inputMutex_);
        input.reset(input_);
        input_ = nullptr;
    }
}

bool DeviceHandle::isOpen() const
{
    return open_.load();
}

int DeviceHandle::sendFeatureReport(const uint8_t *data, size_t length)
{
    std::lock_guard<std::mutex> lock(commandMutex_);
    if (!command_)
        return -1;
    return hid_send_feature_report(command_, data, length);
}

int DeviceHandle::query(uint8_t *buffer, size_t sendLength, size_t replyLength)
{
    std::lock_guard<std::mutex> lock(commandMutex_);
    if (!command_)
        return -1;
    const int sent = hid_send_feature_report(command_, buffer, sendLength);
    const int got = hid_get_feature_report(command_, buffer, replyLength);
    if (sent < 0 || got < 0)
        qDebug() << "query" << Qt::hex << buffer[2] << "failed:" << Qt::dec << sent << got;
    return got;
}

int DeviceHandle::write(const uint8_t *data, size_t length)
{
    std::lock_guard<std::mutex> lock(commandMutex_);
    if (!command_)
        return -1;
    return hid_write(command_, data, length);
}

int DeviceHandle::setNonblocking(bool nonblocking)
{
    std::lock_guard<std::mutex> lock(inputMutex_);
    if (!input_)
        return -1;
    return hid_set_nonblocking(input_, nonblocking ? 1 : 0);
}

int DeviceHandle::readInput(uint8_t *data, size_t length, int timeoutMs)
{
    std::lock_guard<std::mutex> lock(inputMutex_);
    if (!input_)
        return -1;
    return hid_read_timeout(input_, data, length, timeoutMs);
}

DeviceHandle &deviceHandle()
{
    static DeviceHandle instance;
    return instance;
}
