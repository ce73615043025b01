#include "dfu_usb_function.h"

namespace wheelemu {

namespace {

constexpr uint8_t kInterfaceNumber = 0;
constexpr uint8_t kDfuFunctionalType = 0x21;
constexpr uint8_t kGetDescriptor = 6;

std::vector<uint8_t> configuration(const std::vector<uint8_t> &functional, uint8_t iInterface)
{
    std::vector<uint8_t> c{
        9,          2, 0,
        0,    // wTotalLength filled in below
        1,    // bNumInterfaces
        1,    // bConfigurationValue
        0,    // iConfiguration
        0xC0, // self-powered
        50,   // 100 mA
        9,          4, kInterfaceNumber,
        0,    // bAlternateSetting
        0,    // no endpoints besides the control pipe
        0xFE, // application specific
        0x01, // device firmware upgrade
        0x02, // DFU mode
        iInterface,
    };
    c.insert(c.end(), functional.begin(), functional.end());
    c[2] = uint8_t(c.size());
    c[3] = uint8_t(c.size() >> 8);
    return c;
}

} // namespace

DfuUsbFunction::DfuUsbFunction(DfuLoader &loader, const Identity &identity) : loader_(loader)
{
    descriptors_.device = usbDeviceDescriptor(dfu::kVendorId, dfu::kProductId, identity.bcdDevice,
                                              kManufacturerString, kProductString, kSerialString);
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
    if (setup.type() == usbreq::kStandard && setup.deviceToHost() && setup.bRequest == kGetDescriptor &&
        setup.wValue == kDfuFunctionalType << 8) {
        std::vector<uint8_t> d = loader_.functionalDescriptor();
        if (d.size() > setup.wLength)
            d.resize(setup.wLength);
        return UsbControlResult::ok(std::move(d));
    }
    return UsbControlResult::stall();
}

} // namespace wheelemu
