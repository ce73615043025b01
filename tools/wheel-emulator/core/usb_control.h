// One USB control transfer as an emulated device function sees it.
//
// The usbdevfs transport (usb_device.*) cuts the 8 setup bytes off the URB
// buffer, hands the rest to a UsbFunction and turns its answer back into the
// URB's status and data. Keeping this free of umockdev lets the device
// behaviour be tested with plain byte arrays.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
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

// A USB device's descriptors and the standard requests answered from them.
struct UsbDescriptors
{
    std::vector<uint8_t> device;            // the 18-byte device descriptor
    std::vector<uint8_t> configuration;     // the whole configuration, wTotalLength bytes
    std::map<uint8_t, std::string> strings; // index -> Latin-1 text
    uint16_t languageId = 0x0409;

    uint16_t vendorId() const { return uint16_t(device[8] | device[9] << 8); }
    uint16_t productId() const { return uint16_t(device[10] | device[11] << 8); }
    uint16_t bcdDevice() const { return uint16_t(device[12] | device[13] << 8); }
    uint8_t configurationValue() const { return configuration[5]; }

    // What the kernel exposes as the sysfs "descriptors" attribute: the
    // device descriptor followed by the configuration.
    std::vector<uint8_t> sysfsBlob() const;

    // Index 0 is the language list; an unknown index gives an empty vector.
    std::vector<uint8_t> stringDescriptor(uint8_t index) const;

    // Standard requests addressed to the device (descriptors, status,
    // configuration). nullopt when the request is not one of them, so the
    // device function answers it.
    std::optional<UsbControlResult> standardRequest(const UsbSetup &setup) const;
};

} // namespace wheelemu
