#include "emulator.h"

#include "emulator_log.h"

#include <glib.h>

#include <algorithm>

namespace wheelemu {

bool wheelConfig(const WheelSetup &setup, Wheel::Config *config, std::string *error)
{
    const ModelInfo *info = findModel(setup.model);
    if (!info) {
        if (error) {
            *error = "unknown model \"" + setup.model + "\"; one of:";
            for (const ModelInfo &m : allModels())
                *error += std::string(" ") + m.code;
        }
        return false;
    }
    config->model = info->model;
    config->name = setup.name;
    config->version = setup.version;
    config->extraLeds = setup.extraLeds;
    return true;
}

Emulator::Emulator(const EmulatorOptions &options)
    : options_(options), transcript_(std::make_shared<Transcript>())
{}

std::unique_ptr<Emulator> Emulator::create(const EmulatorOptions &options, std::string *error)
{
    std::unique_ptr<Emulator> emulator(new Emulator(options));
    emulator->transcript_->keepInMemory(options.transcriptInMemory);
    if (!options.transcriptPath.empty() && !emulator->transcript_->openFile(options.transcriptPath, error))
        return nullptr;
    emulator->testbed_ = Testbed::create(error);
    if (!emulator->testbed_)
        return nullptr;
    emulator->loop_ = std::make_unique<DeviceLoop>();

    std::unique_ptr<HidrawDevice> first = emulator->makeWheel(options.wheel, 1, error);
    if (!first)
        return nullptr;
    g_autofree gchar *state = nullptr;
    gsize stateSize = 0;
    if (!options.statePath.empty() &&
        g_file_get_contents(options.statePath.c_str(), &state, &stateSize, nullptr)) {
        bool loaded = false;
        std::string why;
        first->withWheel([&](Wheel &w) { loaded = w.loadStateJson(std::string(state, stateSize), &why); });
        if (!loaded) {
            if (error)
                *error = options.statePath + ": " + why;
            return nullptr;
        }
    }
    {
        std::lock_guard<std::mutex> lock(emulator->mutex_);
        emulator->wheels_.push_back(std::move(first));
    }
    if (!emulator->plug(0, error))
        return nullptr;
    Emulator *self = emulator.get();
    emulator->streamer_ = std::make_unique<InputStreamer>([self] {
        std::lock_guard<std::mutex> lock(self->mutex_);
        for (auto &w : self->wheels_)
            w->queueInputReports(1);
    });
    emulator->setInputRate(options.inputRate);
    return emulator;
}

Emulator::~Emulator()
{
    streamer_.reset();
    {
        // A Reboot answered right now must not post to a loop that is going.
        std::lock_guard<std::mutex> lock(mutex_);
        shuttingDown_ = true;
    }
    if (loop_) {
        loop_->invoke([this] {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto &w : wheels_)
                w->setEventHandler(nullptr);
            for (auto &d : devices_)
                d->unplug();
            for (auto &w : wheels_)
                w->unplug();
        });
        loop_.reset();
    }
    devices_.clear();
    wheels_.clear();
    testbed_.reset();
}

std::unique_ptr<HidrawDevice> Emulator::makeWheel(const WheelSetup &setup, int port, std::string *error)
{
    HidrawDevice::Options opts;
    if (!wheelConfig(setup, &opts.wheel, error))
        return nullptr;
    opts.productId = setup.productId;
    opts.port = port;
    auto wheel = std::make_unique<HidrawDevice>(host(), opts);
    HidrawDevice *raw = wheel.get();
    wheel->setEventHandler([this, raw](Wheel::Event event) { onWheelEvent(raw, event); });
    return wheel;
}

size_t Emulator::wheelCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return wheels_.size();
}

HidrawDevice *Emulator::wheel(size_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return index < wheels_.size() ? wheels_[index].get() : nullptr;
}

int Emulator::addWheel(const WheelSetup &setup, std::string *error)
{
    int index = -1;
    loop_->invoke([&] {
        int port = 1;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            for (auto &w : wheels_)
                port = std::max(port, w->port() + 1);
        }
        std::unique_ptr<HidrawDevice> wheel = makeWheel(setup, port, error);
        if (!wheel)
            return;
        wheel->setReportOnChange(inputRate() == 0);
        if (!wheel->plug(error))
            return;
        std::lock_guard<std::mutex> lock(mutex_);
        wheels_.push_back(std::move(wheel));
        index = static_cast<int>(wheels_.size() - 1);
    });
    return index;
}

bool Emulator::removeWheel(size_t index, std::string *error)
{
    bool ok = false;
    loop_->invoke([&] {
        std::unique_ptr<HidrawDevice> gone;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (index == 0 || index >= wheels_.size()) {
                if (error)
                    *error = "no removable wheel " + std::to_string(index + 1);
                return;
            }
            gone = std::move(wheels_[index]);
            wheels_.erase(wheels_.begin() + static_cast<long>(index));
        }
        gone->setEventHandler(nullptr);
        gone->unplug();
        ok = true;
    });
    return ok;
}

bool Emulator::plug(size_t index, std::string *error)
{
    bool ok = false;
    loop_->invoke([&] {
        HidrawDevice *w = wheel(index);
        if (!w) {
            if (error)
                *error = "no wheel " + std::to_string(index + 1);
            return;
        }
        ok = w->plug(error);
    });
    return ok;
}

bool Emulator::unplug(size_t index, std::string *error)
{
    bool ok = false;
    loop_->invoke([&] {
        HidrawDevice *w = wheel(index);
        if (!w) {
            if (error)
                *error = "no wheel " + std::to_string(index + 1);
            return;
        }
        w->unplug();
        ok = true;
    });
    return ok;
}

bool Emulator::changeProductId(size_t index, uint16_t productId, std::string *error)
{
    bool ok = false;
    loop_->invoke([&] {
        HidrawDevice *w = wheel(index);
        if (!w) {
            if (error)
                *error = "no wheel " + std::to_string(index + 1);
            return;
        }
        const bool wasPlugged = w->plugged();
        w->unplug();
        w->setProductId(productId);
        ok = !wasPlugged || w->plug(error);
    });
    return ok;
}

void Emulator::setInputRate(int perSecond)
{
    streamer_->setRate(perSecond);
    const bool onChange = streamer_->rate() == 0;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto &w : wheels_)
        w->setReportOnChange(onChange);
}

int Emulator::inputRate() const
{
    return streamer_ ? streamer_->rate() : options_.inputRate;
}

EmulatedDevice *Emulator::addDevice(std::unique_ptr<EmulatedDevice> device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    devices_.push_back(std::move(device));
    return devices_.back().get();
}

void Emulator::removeDevice(EmulatedDevice *device)
{
    std::unique_ptr<EmulatedDevice> gone;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = std::find_if(devices_.begin(), devices_.end(), [&](auto &d) { return d.get() == device; });
        if (it == devices_.end())
            return;
        gone = std::move(*it);
        devices_.erase(it);
    }
    gone->unplug();
}

std::vector<std::string> Emulator::describeDevices() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::string> out;
    for (size_t i = 0; i < wheels_.size(); ++i)
        out.push_back("wheel " + std::to_string(i + 1) + ": " + wheels_[i]->describe());
    for (const auto &d : devices_)
        out.push_back("device: " + d->describe());
    return out;
}

void Emulator::setBootLoaderHook(BootLoaderHook hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bootLoaderHook_ = std::move(hook);
}

void Emulator::onWheelEvent(HidrawDevice *wheel, Wheel::Event event)
{
    // Runs on umockdev's handler thread, inside the write that caused it:
    // the host's Reboot must complete before the wheel leaves.
    auto stillHere = [this, wheel] {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::any_of(wheels_.begin(), wheels_.end(), [&](auto &w) { return w.get() == wheel; });
    };
    std::lock_guard<std::mutex> lock(mutex_);
    if (shuttingDown_)
        return;
    if (event == Wheel::Event::Restart) {
        loop_->post([this, wheel, stillHere] {
            if (!stillHere())
                return;
            wheel->unplug();
            loop_->postAfter(options_.restartDelay, [wheel, stillHere] {
                std::string error;
                if (stillHere() && !wheel->plug(&error))
                    debugLog("restart: %s", error.c_str());
            });
        });
    } else if (event == Wheel::Event::EnterBootLoader) {
        loop_->post([this, wheel, stillHere] {
            if (!stillHere())
                return;
            wheel->unplug();
            loop_->postAfter(options_.bootLoaderDelay, [this, wheel, stillHere] {
                BootLoaderHook hook;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    hook = bootLoaderHook_;
                }
                if (!stillHere())
                    return;
                if (hook)
                    hook(*this, *wheel);
                else
                    debugLog("boot loader requested; none is emulated, the wheel stays away");
            });
        });
    }
}

bool Emulator::saveState(std::string *error)
{
    if (options_.statePath.empty())
        return true;
    std::string json;
    if (HidrawDevice *w = wheel(0))
        w->withWheel([&](Wheel &wh) { json = wh.stateJson(); });
    // Replaced in one go, so an emulator killed meanwhile leaves the old state.
    g_autoptr(GError) failure = nullptr;
    if (g_file_set_contents(options_.statePath.c_str(), json.data(), gssize(json.size()), &failure))
        return true;
    if (error)
        *error = failure->message;
    return false;
}

} // namespace wheelemu
