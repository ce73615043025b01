// One USB control transfer as an emulated device function sees it.
//
// The usbdevfs transport (usb_device.*) cuts the 8 setup bytes off the URB
// buffer, hands the rest to a UsbFunction and turns its answer back into the
// URB's status and data. Keeping this free of umockdev lets the device
// behaviour be tested with plain byte arrays.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace wheelemu {

struct UsbSetup
{
    uint8_t bmRequestType = 0;
    uint8_t bRequest = 0;
    uint16_t wValue = 0;
    uint16_t wIndex = 0;
    uint16_t wLength = 0;

    // 8 bytes, words little-endian as on the wire.
    static UsbSetup parse(const uint8_t *b)
    {
        return {b[0], b[1], uint16_t(b[2] | b[3] << 8), uint16_t(b[4] | b[5] << 8),
                uint16_t(b[6] | b[7] << 8)};
    }
    std::array<uint8_t, 8> bytes() const
    {
        return {bmRequestType,    bRequest,
                uint8_t(wValue),  uint8_t(wValue >> 8),
                uint8_t(wIndex),  uint8_t(wIndex >> 8),
                uint8_t(wLength), uint8_t(wLength >> 8)};
    }

    bool deviceToHost() const { return (bmRequestType & 0x80) != 0; }
    int type() const { return (bmRequestType >> 5) & 0x03; } // 0 standard, 1 class, 2 vendor
    int recipient() const { return bmRequestType & 0x1f; }   // 0 device, 1 interface, 2 endpoint
};

namespace usbreq {
constexpr int kStandard = 0;
constexpr int kClass = 1;
constexpr int kRecipientDevice = 0;
constexpr int kRecipientInterface = 1;
} // namespace usbreq

// The device's answer: a stalled transfer (the host sees EPIPE), or success
// with the data stage of a device-to-host request.
struct UsbControlResult
{
    bool stalled = false;
    std::vector<uint8_t> data;

    static UsbControlResult stall() { return {true, {}}; }
    static UsbControlResult ok(std::vector<uint8_t> in = {}) { return {false, std::move(in)}; }
};

// A device behind the usbdevfs transport.
class UsbFunction
{
public:
    virtual ~UsbFunction() = default;
    // out/outLen: the host's data stage of a host-to-device request.
    virtual UsbControlResult control(const UsbSetup &setup, const uint8_t *out, size_t outLen) = 0;
    // Whether SETINTERFACE may select this alternate setting.
    virtual bool hasInterface(int number, int altSetting) const = 0;
};

} // namespace wheelemu
