// The boot loader as a USB device: its descriptors (0483:df11, one DFU
// interface in DfuSe mode) in front of the DfuLoader state machine.
#pragma once

#include "dfu_loader.h"
#include "usb_control.h"

#include <string>

namespace wheelemu {

class DfuUsbFunction : public UsbFunction
{
public:
    struct Identity
    {
        std::string manufacturer = "Quor Controls";
        std::string product = "PELIX DFU Boot Loader";
        std::string serial = "2059326B4E31";
        uint16_t bcdDevice = 0x2200;
    };

    // String descriptor indexes.
    static constexpr uint8_t kManufacturerString = 1;
    static constexpr uint8_t kProductString = 2;
    static constexpr uint8_t kSerialString = 3;
    static constexpr uint8_t kLayoutString = 4;

    DfuUsbFunction(DfuLoader &loader, const Identity &identity);

    const UsbDescriptors &descriptors() const { return descriptors_; }

    UsbControlResult control(const UsbSetup &setup, const uint8_t *out, size_t outLen) override;
    bool hasInterface(int number, int altSetting) const override { return number == 0 && altSetting == 0; }

private:
    DfuLoader &loader_;
    UsbDescriptors descriptors_;
};

} // namespace wheelemu
