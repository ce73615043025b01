#include "dfu_usb_function.h"

#include <algorithm>

namespace wheelemu {

namespace {

enum StandardRequest : uint8_t
{
    GetStatus = 0,
    ClearFeature = 1,
    SetFeature = 3,
    GetDescriptor = 6,
    GetConfiguration = 8,
    SetConfiguration = 9,
    GetInterface = 10,
    SetInterface = 11,
};

enum DescriptorType : uint8_t
{
    DeviceType = 1,
    ConfigurationType = 2,
    StringType = 3,
};

UsbControlResult truncated(std::vector<uint8_t> data, uint16_t wLength)
{
    if (data.size() > wLength)
        data.resize(wLength);
    return UsbControlResult::ok(std::move(data));
}

constexpr uint8_t kInterfaceNumber = 0;
constexpr uint8_t kDfuFunctionalType = 0x21;

std::vector<uint8_t> configuration(const std::vector<uint8_t> &functional, uint8_t iInterface)
{
    // One configuration (wTotalLength filled in below), self-powered, 100 mA; interface 0, alternate
    // setting 0, no endpoints besides the control pipe, class application specific, subclass DFU,
    // protocol DFU mode.
    std::vector<uint8_t> c{9, 2, 0,    0,    1,    1,         0, 0xC0, 50, 9, 4, kInterfaceNumber,
                           0, 0, 0xFE, 0x01, 0x02, iInterface};
    c.insert(c.end(), functional.begin(), functional.end());
    c[2] = uint8_t(c.size());
    c[3] = uint8_t(c.size() >> 8);
    return c;
}

} // namespace

std::vector<uint8_t> UsbDescriptors::sysfsBlob() const
{
    std::vector<uint8_t> blob = device;
    blob.insert(blob.end(), configuration.begin(), configuration.end());
    return blob;
}

std::vector<uint8_t> UsbDescriptors::stringDescriptor(uint8_t index) const
{
    if (index == 0)
        return {4, StringType, uint8_t(languageId), uint8_t(languageId >> 8)};
    auto it = strings.find(index);
    if (it == strings.end())
        return {};
    // bLength is one byte: at most 126 UTF-16 code units fit.
    const size_t chars = std::min<size_t>(it->second.size(), 126);
    std::vector<uint8_t> d{uint8_t(2 + 2 * chars), StringType};
    for (size_t i = 0; i < chars; ++i) {
        d.push_back(uint8_t(it->second[i]));
        d.push_back(0);
    }
    return d;
}

std::optional<UsbControlResult> UsbDescriptors::standardRequest(const UsbSetup &setup) const
{
    if (setup.type() != usbreq::kStandard)
        return std::nullopt;
    if (!setup.deviceToHost()) {
        switch (setup.bRequest) {
        case SetConfiguration:
        case SetInterface:
        case ClearFeature:
        case SetFeature:
            return UsbControlResult::ok();
        default:
            return UsbControlResult::stall();
        }
    }
    switch (setup.bRequest) {
    case GetStatus:
        return truncated({0, 0}, setup.wLength);
    case GetConfiguration:
        return truncated({configurationValue()}, setup.wLength);
    case GetInterface:
        return truncated({0}, setup.wLength);
    case GetDescriptor:
        break;
    default:
        return UsbControlResult::stall();
    }
    // Class descriptors asked of an interface belong to the function.
    if (setup.recipient() != usbreq::kRecipientDevice)
        return std::nullopt;
    const uint8_t type = setup.wValue >> 8;
    const uint8_t index = setup.wValue & 0xff;
    if (type == DeviceType)
        return truncated(device, setup.wLength);
    if (type == ConfigurationType && index == 0)
        return truncated(configuration, setup.wLength);
    if (type == StringType) {
        std::vector<uint8_t> d = stringDescriptor(index);
        if (!d.empty())
            return truncated(std::move(d), setup.wLength);
    }
    // A full-speed device has no device qualifier and no other configurations.
    return UsbControlResult::stall();
}

DfuUsbFunction::DfuUsbFunction(DfuLoader &loader, const Identity &identity) : loader_(loader)
{
    // USB 2.0, full speed, class per interface, control packets of 64 bytes, one configuration.
    const uint16_t bcd = identity.bcdDevice;
    const uint16_t vid = dfu::kVendorId, pid = dfu::kProductId;
    descriptors_.device.assign({18, DeviceType, 0x00, 0x02, 0, 0, 0, 64, uint8_t(vid), uint8_t(vid >> 8),
                                uint8_t(pid), uint8_t(pid >> 8), uint8_t(bcd), uint8_t(bcd >> 8),
                                kManufacturerString, kProductString, kSerialString, 1});
    descriptors_.configuration = configuration(loader.functionalDescriptor(), kLayoutString);
    descriptors_.strings = {{kManufacturerString, identity.manufacturer},
                            {kProductString, identity.product},
                            {kSerialString, identity.serial},
                            {kLayoutString, loader.memoryLayout()}};
}

UsbControlResult DfuUsbFunction::control(const UsbSetup &setup, const uint8_t *out, size_t outLen)
{
    if (auto standard = descriptors_.standardRequest(setup))
        return *standard;
    if (setup.recipient() != usbreq::kRecipientInterface || (setup.wIndex & 0xff) != kInterfaceNumber)
        return UsbControlResult::stall();
    if (setup.type() == usbreq::kClass)
        return loader_.request(setup, out, outLen);
    // The functional descriptor asked of the interface, as a host without
    // the configuration's extra bytes does.
    if (setup.type() == usbreq::kStandard && setup.deviceToHost() && setup.bRequest == GetDescriptor &&
        setup.wValue == kDfuFunctionalType << 8)
        return truncated(loader_.functionalDescriptor(), setup.wLength);
    return UsbControlResult::stall();
}

} // namespace wheelemu
