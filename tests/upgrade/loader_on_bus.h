// The emulated DfuSe boot loader on a umockdev testbed, reached by the real
// libusb. Every control transfer is recorded as the loader saw it, and a test
// may answer a request in the loader's place or change the loader's answer.
#pragma once

#include "dfu_loader.h"
#include "dfu_usb_function.h"
#include "testbed.h"
#include "usb_control.h"
#include "usb_device.h"

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

struct ControlTransfer
{
    wheelemu::UsbSetup setup;
    std::vector<uint8_t> data; // the host's data stage, or the device's answer
    bool stalled = false;

    bool isClass(uint8_t request) const
    {
        return (setup.bmRequestType & 0x7f) == 0x21 && setup.bRequest == request;
    }
    bool isDownload() const { return setup.bmRequestType == 0x21 && setup.bRequest == 1; }
    bool isUpload() const { return setup.bmRequestType == 0xA1 && setup.bRequest == 2; }
    // A DfuSe command is a download of block 0.
    bool isCommand() const { return isDownload() && setup.wValue == 0 && setup.wLength > 0; }
    bool isDataBlock() const { return isDownload() && setup.wValue >= 2 && setup.wLength > 0; }
};

class LoaderOnBus : public wheelemu::UsbFunction
{
    template<typename F> auto locked(F f)
    {
        std::lock_guard<std::mutex> guard(lock_);
        return f();
    }

public:
    // Runs before the loader, with the host's data stage; an answer replaces
    // the loader's, which then never sees the request.
    using Hook = std::function<std::optional<wheelemu::UsbControlResult>(const wheelemu::UsbSetup &,
                                                                         const std::vector<uint8_t> &out)>;
    // Runs after the loader and may change its answer.
    using Rewrite = std::function<void(const wheelemu::UsbSetup &, wheelemu::UsbControlResult &)>;

    LoaderOnBus(wheelemu::Testbed &testbed, const wheelemu::DfuLoader::Config &config,
                const wheelemu::DfuUsbFunction::Identity &identity = {})
        : testbed_(testbed), loader_(config), function_(loader_, identity),
          device_(testbed, *this, function_.descriptors(), lock_)
    {}
    ~LoaderOnBus() override { device_.unplug(); }

    bool plug(std::string *error)
    {
        wheelemu::UsbDevice::Address address;
        address.devnum = testbed_.nextDeviceNumber();
        return device_.plug(address, error);
    }
    void unplug() { device_.unplug(); }
    // Off the bus and back, freshly started as after a power cycle; the flash
    // keeps its contents.
    bool replug(std::string *error)
    {
        device_.unplug();
        locked([this] { loader_.reset(); });
        return plug(error);
    }

    void setHook(Hook hook)
    {
        locked([&] { hook_ = std::move(hook); });
    }
    void setRewrite(Rewrite rewrite)
    {
        locked([&] { rewrite_ = std::move(rewrite); });
    }
    void setRecording(bool on)
    {
        locked([&] { recording_ = on; });
    }
    std::vector<ControlTransfer> transfers()
    {
        return locked([&] { return transfers_; });
    }
    std::vector<uint8_t> flash(uint32_t address, size_t length)
    {
        return locked([&] { return loader_.flash().read(address, length); });
    }
    void loadFlash(const std::vector<uint8_t> &contents)
    {
        locked([&] { loader_.flash().load(contents); });
    }
    // Whether the loader took the zero-length download and will leave.
    bool leaving()
    {
        return locked([this] {
            return loader_.pendingEvent() == wheelemu::DfuLoader::Event::Leave ||
                   loader_.state() == wheelemu::dfu::Manifest;
        });
    }

    wheelemu::UsbControlResult control(const wheelemu::UsbSetup &setup, const uint8_t *out,
                                       size_t outLength) override;
    bool hasInterface(int number, int altSetting) const override
    {
        return function_.hasInterface(number, altSetting);
    }

private:
    wheelemu::Testbed &testbed_;
    std::mutex lock_; // held by the USB handler thread around control()
    wheelemu::DfuLoader loader_;
    wheelemu::DfuUsbFunction function_;
    wheelemu::UsbDevice device_;
    Hook hook_;
    Rewrite rewrite_;
    bool recording_ = true;
    std::vector<ControlTransfer> transfers_;
};
