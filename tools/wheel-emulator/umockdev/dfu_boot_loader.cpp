#include "dfu_boot_loader.h"

#include "emulator_log.h"

#include <glib.h>

#include <algorithm>
#include <chrono>

namespace wheelemu {

namespace {

uint64_t steadyMs()
{
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

DfuBootLoader::DfuBootLoader(DeviceHost host, const Options &options)
    : host_(host), options_(options), loader_(options.loader), function_(loader_, options.identity),
      device_(host.testbed, function_, function_.descriptors(), lock_)
{
    std::shared_ptr<Transcript> transcript = host.transcript;
    device_.setTranscript([transcript](const std::vector<uint8_t> &bytes) {
        transcript->record(Transcript::Kind::Control, bytes);
    });
    device_.setAfterTransfer([this] { afterTransfer(); });
}

DfuBootLoader::~DfuBootLoader()
{
    // Only touch the loop when there is something to undo or wait for: the
    // emulator unplugs every device on its loop (which cancels their tasks)
    // and stops the loop before it destroys the devices.
    if (plugged() || tasksInFlight_ > 0)
        unplug();
}

bool DfuBootLoader::loadFlash(std::string *error)
{
    g_autofree gchar *bytes = nullptr;
    gsize size = 0;
    // No file yet: the flash starts erased.
    if (options_.flashFile.empty() ||
        !g_file_get_contents(options_.flashFile.c_str(), &bytes, &size, nullptr))
        return true;
    std::lock_guard<std::mutex> g(lock_);
    if (!loader_.flash().load(std::vector<uint8_t>(bytes, bytes + size))) {
        *error = options_.flashFile + ": larger than the flash (" + std::to_string(loader_.flash().size()) +
                 " bytes)";
        return false;
    }
    return true;
}

void DfuBootLoader::saveFlash()
{
    if (options_.flashFile.empty())
        return;
    std::vector<uint8_t> bytes;
    withLoader([&bytes](DfuLoader &l) { bytes = l.flash().bytes(); });
    // Replaced in one go (GLib renames a file written beside it), so a reader never sees half a flash.
    g_autoptr(GError) failure = nullptr;
    if (!g_file_set_contents(options_.flashFile.c_str(), reinterpret_cast<const gchar *>(bytes.data()),
                             gssize(bytes.size()), &failure))
        debugLog("boot loader: %s", failure->message);
}

void DfuBootLoader::setOnLeave(LeaveHandler handler)
{
    std::lock_guard<std::mutex> g(handlerLock_);
    onLeave_ = std::move(handler);
}

void DfuBootLoader::setPort(const std::string &port)
{
    host_.loop.invoke([&] { options_.port = port; });
}

bool DfuBootLoader::plug(std::string *error)
{
    bool ok = false;
    host_.loop.invoke([&] { ok = plugOnLoop(error); });
    return ok;
}

void DfuBootLoader::unplug()
{
    host_.loop.invoke([&] { unplugOnLoop(); });
}

bool DfuBootLoader::plugOnLoop(std::string *error)
{
    if (device_.plugged())
        return true;
    {
        std::lock_guard<std::mutex> l(lock_);
        loader_.reset();
    }
    UsbDevice::Address address;
    address.busnum = 1;
    address.devnum = host_.testbed.nextDeviceNumber();
    address.port = options_.port;
    if (!device_.plug(address, error))
        return false;
    host_.transcript->recordBus(Transcript::Kind::Plug, dfu::kVendorId, dfu::kProductId);
    return true;
}

void DfuBootLoader::unplugOnLoop()
{
    cancelTimers();
    if (!device_.plugged())
        return;
    // Saved first: whoever sees the device gone finds the file complete.
    saveFlash();
    device_.unplug();
    host_.transcript->recordBus(Transcript::Kind::Unplug, dfu::kVendorId, dfu::kProductId);
}

void DfuBootLoader::loadFlashContents(const std::vector<uint8_t> &contents)
{
    std::lock_guard<std::mutex> g(lock_);
    loader_.flash().load(contents);
}

void DfuBootLoader::withLoader(const std::function<void(DfuLoader &)> &f)
{
    std::lock_guard<std::mutex> g(lock_);
    f(loader_);
}

// On the USB handler thread, right after a transfer completed.
void DfuBootLoader::afterTransfer()
{
    std::optional<uint64_t> at;
    DfuLoader::Event pending;
    {
        std::lock_guard<std::mutex> g(lock_);
        at = loader_.nextEventAt();
        pending = loader_.pendingEvent();
    }
    if (!at)
        return;
    // A pulled cable must be gone before the host's next request arrives,
    // not whenever the loop gets round to it.
    if (pending == DfuLoader::Event::Unplug)
        device_.cutOff();
    arm(*at);
}

void DfuBootLoader::arm(uint64_t atMs)
{
    const uint64_t now = steadyMs();
    const std::chrono::milliseconds delay(atMs > now ? atMs - now : 0);
    // The id is only known once posted: the task looks it up under the lock.
    auto id = std::make_shared<uint64_t>(0);
    std::lock_guard<std::mutex> g(timerLock_);
    ++tasksInFlight_;
    *id = host_.loop.postAfter(delay, [this, id] {
        {
            std::lock_guard<std::mutex> g(timerLock_);
            timers_.erase(std::remove(timers_.begin(), timers_.end(), *id), timers_.end());
        }
        dispatch();
        --tasksInFlight_;
    });
    if (*id != 0)
        timers_.push_back(*id);
    else
        --tasksInFlight_; // the loop is stopping
}

void DfuBootLoader::cancelTimers()
{
    std::lock_guard<std::mutex> g(timerLock_);
    // On the loop thread, so none of these is running now.
    for (uint64_t id : timers_) {
        host_.loop.cancel(id);
        --tasksInFlight_;
    }
    timers_.clear();
}

// On the device loop.
void DfuBootLoader::dispatch()
{
    DfuLoader::Event event;
    std::optional<uint64_t> next;
    std::vector<uint8_t> image;
    {
        std::lock_guard<std::mutex> g(lock_);
        event = loader_.takeDueEvent();
        next = loader_.nextEventAt();
        if (event == DfuLoader::Event::Leave)
            image = loader_.flash().programmedImage();
    }
    // Unplugged in the meantime: what the loader wanted is moot, and its
    // next plug starts it afresh.
    if (event != DfuLoader::Event::None && !device_.plugged())
        return;
    switch (event) {
    case DfuLoader::Event::None:
        // Put off by a later request (a poll after the zero-length download).
        if (next)
            arm(*next);
        return;
    case DfuLoader::Event::Leave: {
        unplugOnLoop();
        LeaveHandler handler;
        {
            std::lock_guard<std::mutex> g(handlerLock_);
            handler = onLeave_;
        }
        if (handler)
            handler(image);
        return;
    }
    case DfuLoader::Event::Reattach: {
        unplugOnLoop();
        std::string error;
        if (!plugOnLoop(&error))
            debugLog("boot loader: cannot enumerate again: %s", error.c_str());
        return;
    }
    case DfuLoader::Event::Unplug:
        unplugOnLoop();
        return;
    }
}

} // namespace wheelemu
