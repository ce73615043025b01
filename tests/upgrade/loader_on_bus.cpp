#include "loader_on_bus.h"

using namespace wheelemu;

LoaderOnBus::LoaderOnBus(Testbed &testbed, const DfuLoader::Config &config,
                         const DfuUsbFunction::Identity &identity)
    : testbed_(testbed), loader_(config), function_(loader_, identity),
      device_(testbed, *this, function_.descriptors(), lock_)
{}

LoaderOnBus::~LoaderOnBus()
{
    device_.unplug();
}

bool LoaderOnBus::plug(std::string *error)
{
    UsbDevice::Address address;
    address.devnum = testbed_.nextDeviceNumber();
    return device_.plug(address, error);
}

void LoaderOnBus::unplug()
{
    device_.unplug();
}

bool LoaderOnBus::replug(std::string *error)
{
    device_.unplug();
    {
        std::lock_guard<std::mutex> guard(lock_);
        loader_.reset();
    }
    return plug(error);
}

void LoaderOnBus::setHook(Hook hook)
{
    std::lock_guard<std::mutex> guard(lock_);
    hook_ = std::move(hook);
}

void LoaderOnBus::setRewrite(Rewrite rewrite)
{
    std::lock_guard<std::mutex> guard(lock_);
    rewrite_ = std::move(rewrite);
}

void LoaderOnBus::setRecording(bool on)
{
    std::lock_guard<std::mutex> guard(lock_);
    recording_ = on;
}

std::vector<ControlTransfer> LoaderOnBus::transfers()
{
    std::lock_guard<std::mutex> guard(lock_);
    return transfers_;
}

void LoaderOnBus::clearTransfers()
{
    std::lock_guard<std::mutex> guard(lock_);
    transfers_.clear();
}

std::vector<uint8_t> LoaderOnBus::flash(uint32_t address, size_t length)
{
    std::lock_guard<std::mutex> guard(lock_);
    return loader_.flash().read(address, length);
}

void LoaderOnBus::loadFlash(const std::vector<uint8_t> &contents)
{
    std::lock_guard<std::mutex> guard(lock_);
    loader_.flash().load(contents);
}

bool LoaderOnBus::leaving()
{
    std::lock_guard<std::mutex> guard(lock_);
    return loader_.pendingEvent() == DfuLoader::Event::Leave || loader_.state() == dfu::Manifest;
}

// On the USB handler thread, with lock_ held.
UsbControlResult LoaderOnBus::control(const UsbSetup &setup, const uint8_t *out, size_t outLength)
{
    const std::vector<uint8_t> sent =
        out ? std::vector<uint8_t>(out, out + outLength) : std::vector<uint8_t>();
    std::optional<UsbControlResult> answer;
    if (hook_)
        answer = hook_(setup, sent);
    if (!answer) {
        answer = function_.control(setup, out, outLength);
        if (rewrite_)
            rewrite_(setup, *answer);
    }
    if (recording_) {
        ControlTransfer t{setup, {}, answer->stalled};
        t.data = setup.deviceToHost() ? answer->data : sent;
        transfers_.push_back(std::move(t));
    }
    return std::move(*answer);
}

bool LoaderOnBus::hasInterface(int number, int altSetting) const
{
    return function_.hasInterface(number, altSetting);
}
