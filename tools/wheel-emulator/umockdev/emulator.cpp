#include "emulator.h"

#include "emulator_log.h"

#include <glib.h>

#include <algorithm>
#include <condition_variable>
#include <sys/prctl.h>
#include <thread>

namespace wheelemu {

namespace {
// The wheel's input report clock: calls tick() rate times a second, from 1 to
// 8,000, on its own thread; rate 0 stops it (the wheel then reports on change
// or on command only).
constexpr int kMaxRate = 8000;
} // namespace

class InputStreamer
{
public:
    explicit InputStreamer(std::function<void()> tick) : tick_(std::move(tick)), thread_([this] { run(); }) {}
    ~InputStreamer()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    void setRate(int perSecond)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            rate_ = std::clamp(perSecond, 0, kMaxRate);
        }
        changed_.notify_all();
    }
    int rate() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return rate_;
    }

private:
    void run()
    {
        using Clock = std::chrono::steady_clock;
        // The default 50 us timer slack would cap the rate well below 8,000.
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
        std::unique_lock<std::mutex> lock(mutex_);
        int rate = 0;
        Clock::time_point start;
        long long ticks = 0;
        while (!stopping_) {
            if (rate_ != rate) {
                rate = rate_;
                start = Clock::now();
                ticks = 0;
            }
            if (rate == 0) {
                changed_.wait(lock);
                continue;
            }
            // Deadlines are counted from the start, so the rate holds on
            // average even when single ticks come late.
            const auto due = start + std::chrono::nanoseconds(ticks * 1000000000LL / rate);
            const auto now = Clock::now();
            if (due > now) {
                changed_.wait_until(lock, due);
                continue;
            }
            if (now - due > std::chrono::milliseconds(100)) {
                // Far behind (the machine was busy): start afresh rather than
                // sending a burst.
                start = now;
                ticks = 0;
            }
            ++ticks;
            lock.unlock();
            tick_();
            lock.lock();
        }
    }

    std::function<void()> tick_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    int rate_ = 0;
    bool stopping_ = false;
    std::thread thread_;
};

bool wheelConfig(const WheelSetup &setup, Wheel::Config *config, std::string *error)
{
    const ModelInfo *info = findModel(setup.model);
    if (!info) {
        *error = "unknown model \"" + setup.model + "\"; one of:";
        for (const ModelInfo &m : allModels())
            *error += std::string(" ") + m.code;
        return false;
    }
    *config = {info->model, setup.name, setup.version, setup.extraLeds};
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
            *error = options.statePath + ": " + why;
            return nullptr;
        }
    }
    emulator->wheels_.push_back(std::move(first));
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

HidrawDevice *Emulator::wheel(size_t index)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return index < wheels_.size() ? wheels_[index].get() : nullptr;
}

bool Emulator::has(const HidrawDevice *wheel) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return std::any_of(wheels_.begin(), wheels_.end(), [&](auto &w) { return w.get() == wheel; });
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
        index = int(wheels_.size() - 1);
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
                *error = "no removable wheel " + std::to_string(index + 1);
                return;
            }
            gone = std::move(wheels_[index]);
            wheels_.erase(wheels_.begin() + long(index));
        }
        gone->setEventHandler(nullptr);
        gone->unplug();
        ok = true;
    });
    return ok;
}

// Runs f on the device loop for the wheel at index.
bool Emulator::onWheel(size_t index, std::string *error, const std::function<bool(HidrawDevice &)> &f)
{
    bool ok = false;
    loop_->invoke([&] {
        HidrawDevice *w = wheel(index);
        if (!w)
            *error = "no wheel " + std::to_string(index + 1);
        ok = w && f(*w);
    });
    return ok;
}

bool Emulator::plug(size_t index, std::string *error)
{
    return onWheel(index, error, [error](HidrawDevice &w) { return w.plug(error); });
}

bool Emulator::unplug(size_t index, std::string *error)
{
    return onWheel(index, error, [](HidrawDevice &w) { return w.unplug(), true; });
}

bool Emulator::changeProductId(size_t index, uint16_t productId, std::string *error)
{
    return onWheel(index, error, [&](HidrawDevice &w) {
        const bool wasPlugged = w.plugged();
        w.unplug();
        w.setProductId(productId);
        return !wasPlugged || w.plug(error);
    });
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

void Emulator::setBootLoaderHook(BootLoaderHook hook)
{
    std::lock_guard<std::mutex> lock(mutex_);
    bootLoaderHook_ = std::move(hook);
}

void Emulator::onWheelEvent(HidrawDevice *wheel, Wheel::Event event)
{
    // Runs on umockdev's handler thread, inside the write that caused it:
    // the host's Reboot must complete before the wheel leaves.
    std::lock_guard<std::mutex> lock(mutex_);
    if (shuttingDown_ || event == Wheel::Event::None)
        return;
    const bool restart = event == Wheel::Event::Restart;
    loop_->post([this, wheel, restart] {
        if (!has(wheel))
            return;
        wheel->unplug();
        loop_->postAfter(restart ? options_.restartDelay : options_.bootLoaderDelay, [this, wheel, restart] {
            BootLoaderHook hook;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                hook = bootLoaderHook_;
            }
            std::string error;
            if (!has(wheel))
                return;
            if (restart && !wheel->plug(&error))
                debugLog("restart: %s", error.c_str());
            else if (!restart && hook)
                hook(*this, *wheel);
            else if (!restart)
                debugLog("boot loader requested; none is emulated, the wheel stays away");
        });
    });
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
    *error = failure->message;
    return false;
}

} // namespace wheelemu
