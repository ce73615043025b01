#include <umockdev.h>

#include "hidraw_device.h"

#include "emulator_log.h"
#include "hid_descriptors.h"
#include "pty_doorbell.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <vector>

namespace wheelemu {

namespace {
// The kernel's hidraw keeps 64 reports per opener and drops new ones while
// that buffer is full.
constexpr size_t kClientQueueLimit = 64;
constexpr const char *kClientKey = "wheelemu-client";
constexpr const char *kGenerationKey = "wheelemu-generation";
constexpr const char *kManufacturer = "Quor Controls";

using InputReport = std::array<uint8_t, kInputReportSize>;

std::string hex4(unsigned value)
{
    char text[8];
    snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

std::string hex4lower(unsigned value)
{
    char text[8];
    snprintf(text, sizeof text, "%04x", value & 0xFFFFu);
    return text;
}

// What one ioctl, read or write comes to, decided under the device lock and
// carried out after it is released.
struct Outcome
{
    long result = -1;
    int error = 0;
    Wheel::Event event = Wheel::Event::None;
    std::vector<std::string> notes;
};
} // namespace

struct HidrawDevice::Core
{
    explicit Core(const Wheel::Config &config) : wheel(config) {}

    std::mutex mutex;
    Wheel wheel;
    std::shared_ptr<Transcript> transcript;
    Faults faults;
    std::shared_ptr<Generation> current; // set while plugged
    std::function<void(Wheel::Event)> onEvent;
    uint16_t productId = 0;
    bool reportOnChange = true;
    std::string name, phys, serial;

    void queueReportsLocked(int count, size_t length = kInputReportSize);
};

// A queued input report; a wheel may send fewer bytes than the full report.
struct QueuedReport
{
    InputReport bytes;
    size_t length = kInputReportSize;
};

struct ClientState
{
    std::shared_ptr<HidrawDevice::Generation> generation;
    std::deque<QueuedReport> queue;
    // Doorbell bookkeeping (see syncDoorbell): reads in a row that found the
    // doorbell rung but nothing queued for this client, and whether this
    // client's queue is left out of the doorbell because it does not read.
    int idleWakes = 0;
    bool muted = false;
};

struct HidrawDevice::Generation : std::enable_shared_from_this<Generation>
{
    std::shared_ptr<Core> core;
    std::unique_ptr<PtyDoorbell> bell;
    std::vector<ClientState *> clients;
    bool alive = true;

    // Core mutex held.
    void syncDoorbell()
    {
        int target = 0;
        if (!alive) {
            target = 1; // every read fails from now on: keep poll() ready
        } else {
            // On hidraw every open file is ready on its own; here all openers
            // poll the one pty, so it rings for the fullest queue. A client
            // that never reads (a program keeping a second handle for feature
            // reports only) would keep it rung for good and turn the reader's
            // hid_read_timeout into a busy loop. Such clients are muted: they
            // no longer count until they read again (see noteIdleWake).
            for (const ClientState *c : clients)
                if (!c->muted)
                    target = std::max(target, static_cast<int>(c->queue.size()));
            if (core->faults.read > 0)
                target += 1;
        }
        bell->setPending(target);
    }

    // Core mutex held. `reader` was woken by the doorbell and found nothing:
    // the bell rang for another client's queue. One such wake is normal (a
    // client that drains and stops reads once more); a second one in a row
    // means the reader is polling in earnest while the others leave their
    // reports unread, so they are muted. A muted client that wants its
    // reports after all is woken by the next report that the readers get.
    void noteIdleWake(ClientState *reader)
    {
        if (++reader->idleWakes < 2)
            return;
        reader->idleWakes = 0;
        for (ClientState *c : clients)
            if (c != reader && !c->queue.empty())
                c->muted = true;
    }
};

void HidrawDevice::Core::queueReportsLocked(int count, size_t length)
{
    if (!current || count <= 0)
        return;
    const QueuedReport report{wheel.inputReport(), std::min(length, kInputReportSize)};
    for (ClientState *c : current->clients)
        for (int i = 0; i < count && c->queue.size() < kClientQueueLimit; ++i)
            c->queue.push_back(report);
    current->syncDoorbell();
}

namespace {

using Generation = HidrawDevice::Generation;

// Resolves the caller's buffer of an ioctl; nullptr when it cannot be read.
UMockdevIoctlData *resolveBuffer(UMockdevIoctlClient *client, size_t size)
{
    GError *error = nullptr;
    UMockdevIoctlData *data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &error);
    if (error) {
        debugLog("cannot resolve ioctl data: %s", error->message);
        g_clear_error(&error);
    }
    return data;
}

// Fills a text into the caller's buffer the way hidraw's string ioctls do:
// at most len bytes including the terminating zero; returns the length.
long copyText(UMockdevIoctlData *data, const std::string &text, size_t len)
{
    const size_t n = std::min(text.size() + 1, len);
    memcpy(data->data, text.c_str(), n);
    return static_cast<long>(n);
}

struct IoctlContext
{
    HidrawDevice::Core &core;
    UMockdevIoctlClient *client;
    unsigned long request;
    size_t size;
};

Outcome reportDescriptorSize(IoctlContext &c)
{
    Outcome out;
    UMockdevIoctlData *data = resolveBuffer(c.client, sizeof(int));
    if (!data) {
        out.error = EFAULT;
        return out;
    }
    const int size = static_cast<int>(wheelReportDescriptor().size());
    memcpy(data->data, &size, sizeof size);
    g_object_unref(data);
    out.result = 0;
    return out;
}

Outcome reportDescriptor(IoctlContext &c)
{
    Outcome out;
    UMockdevIoctlData *data = resolveBuffer(c.client, sizeof(struct hidraw_report_descriptor));
    if (!data) {
        out.error = EFAULT;
        return out;
    }
    auto *desc = reinterpret_cast<struct hidraw_report_descriptor *>(data->data);
    const std::vector<uint8_t> &ours = wheelReportDescriptor();
    const size_t n = std::min<size_t>(desc->size, ours.size());
    memcpy(desc->value, ours.data(), n);
    g_object_unref(data);
    out.result = 0;
    return out;
}

Outcome rawInfo(IoctlContext &c)
{
    Outcome out;
    UMockdevIoctlData *data = resolveBuffer(c.client, sizeof(struct hidraw_devinfo));
    if (!data) {
        out.error = EFAULT;
        return out;
    }
    struct hidraw_devinfo info;
    info.bustype = BUS_USB;
    info.vendor = static_cast<__s16>(kVendorId);
    info.product = static_cast<__s16>(c.core.productId);
    memcpy(data->data, &info, sizeof info);
    g_object_unref(data);
    out.result = 0;
    return out;
}

Outcome rawText(IoctlContext &c, const std::string &text)
{
    Outcome out;
    UMockdevIoctlData *data = c.size ? resolveBuffer(c.client, c.size) : nullptr;
    if (!data) {
        out.error = EFAULT;
        return out;
    }
    out.result = copyText(data, text, c.size);
    g_object_unref(data);
    return out;
}

Outcome rawName(IoctlContext &c)
{
    return rawText(c, c.core.name);
}
Outcome rawPhys(IoctlContext &c)
{
    return rawText(c, c.core.phys);
}
Outcome rawUniq(IoctlContext &c)
{
    return rawText(c, c.core.serial);
}

Outcome setFeature(IoctlContext &c)
{
    Outcome out;
    UMockdevIoctlData *data = c.size ? resolveBuffer(c.client, c.size) : nullptr;
    if (!data) {
        out.error = EFAULT;
        return out;
    }
    std::vector<uint8_t> bytes(data->data, data->data + c.size);
    g_object_unref(data);
    c.core.transcript->record(Transcript::Kind::SetFeature, bytes);
    if (c.core.faults.setFeature > 0) {
        --c.core.faults.setFeature;
        out.error = EPIPE;
        return out;
    }
    if (!c.core.wheel.setFeature(bytes.data(), bytes.size())) {
        out.error = EPIPE;
    } else {
        out.result = static_cast<long>(bytes.size());
    }
    out.event = c.core.wheel.takeEvent();
    out.notes = c.core.wheel.takeNotes();
    return out;
}

Outcome getFeature(IoctlContext &c)
{
    Outcome out;
    UMockdevIoctlData *data = c.size ? resolveBuffer(c.client, c.size) : nullptr;
    if (!data) {
        out.error = EFAULT;
        return out;
    }
    // The wheel answers into a copy: a failed GET_REPORT must leave the
    // host's buffer exactly as it was.
    std::vector<uint8_t> reply(data->data, data->data + c.size);
    const uint8_t reportId = reply[0];
    int n = -1;
    if (c.core.faults.getFeature > 0)
        --c.core.faults.getFeature;
    else
        n = c.core.wheel.getFeature(reply.data(), reply.size());
    if (n < 0) {
        c.core.transcript->record(Transcript::Kind::GetFeature, &reportId, 1);
        out.error = EPIPE;
    } else {
        n = std::min(n, static_cast<int>(reply.size()));
        memcpy(data->data, reply.data(), static_cast<size_t>(n));
        c.core.transcript->record(Transcript::Kind::GetFeature, reply.data(), static_cast<size_t>(n));
        out.result = n;
    }
    g_object_unref(data);
    out.notes = c.core.wheel.takeNotes();
    return out;
}

struct IoctlEntry
{
    unsigned nr;
    Outcome (*handle)(IoctlContext &);
};

// hidraw's ioctls by number; the length-carrying ones take their size from
// the request.
constexpr IoctlEntry kIoctls[] = {
    {_IOC_NR(HIDIOCGRDESCSIZE), reportDescriptorSize},
    {_IOC_NR(HIDIOCGRDESC), reportDescriptor},
    {_IOC_NR(HIDIOCGRAWINFO), rawInfo},
    {_IOC_NR(HIDIOCGRAWNAME(0)), rawName},
    {_IOC_NR(HIDIOCGRAWPHYS(0)), rawPhys},
    {_IOC_NR(HIDIOCSFEATURE(0)), setFeature},
    {_IOC_NR(HIDIOCGFEATURE(0)), getFeature},
    {_IOC_NR(HIDIOCGRAWUNIQ(0)), rawUniq},
};

void finish(Generation *generation, UMockdevIoctlClient *client, const Outcome &out)
{
    umockdev_ioctl_client_complete(client, out.result, out.result < 0 ? out.error : 0);
    for (const std::string &note : out.notes)
        debugLog("wheel: %s", note.c_str());
    if (out.event != Wheel::Event::None) {
        std::function<void(Wheel::Event)> onEvent;
        {
            std::lock_guard<std::mutex> lock(generation->core->mutex);
            onEvent = generation->core->onEvent;
        }
        if (onEvent)
            onEvent(out.event);
    }
}

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user)
{
    auto *generation = static_cast<Generation *>(user);
    HidrawDevice::Core &core = *generation->core;
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    Outcome out;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        if (!generation->alive) {
            out.error = ENODEV;
        } else if (_IOC_TYPE(request) != 'H') {
            out.error = ENOTTY; // not a terminal, whatever isatty() hopes
        } else {
            out.error = EINVAL;
            IoctlContext context{core, client, request, _IOC_SIZE(request)};
            for (const IoctlEntry &entry : kIoctls) {
                if (entry.nr == _IOC_NR(request)) {
                    out = entry.handle(context);
                    break;
                }
            }
        }
    }
    finish(generation, client, out);
    return TRUE;
}

gboolean onRead(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user)
{
    auto *generation = static_cast<Generation *>(user);
    HidrawDevice::Core &core = *generation->core;
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    auto *state = static_cast<ClientState *>(g_object_get_data(G_OBJECT(client), kClientKey));
    Outcome out;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        if (!generation->alive || !state) {
            out.error = ENODEV;
        } else {
            if (core.faults.read > 0) {
                --core.faults.read;
                out.error = EIO;
            } else if (state->queue.empty()) {
                // Never block here: the preload holds a lock per descriptor
                // while we answer. poll() on the doorbell does the waiting.
                out.error = EAGAIN;
                state->muted = false;
                if (generation->bell->pending() > 0)
                    generation->noteIdleWake(state);
            } else {
                QueuedReport report = state->queue.front();
                state->queue.pop_front();
                state->idleWakes = 0;
                state->muted = false;
                const size_t n = std::min(report.length, static_cast<size_t>(std::max(arg->data_len, 0)));
                umockdev_ioctl_data_update(arg, 0, report.bytes.data(), static_cast<gint>(n));
                core.transcript->record(Transcript::Kind::Input, report.bytes.data(), n);
                out.result = static_cast<long>(n);
            }
            generation->syncDoorbell();
        }
    }
    umockdev_ioctl_client_complete(client, out.result, out.result < 0 ? out.error : 0);
    return TRUE;
}

gboolean onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user)
{
    auto *generation = static_cast<Generation *>(user);
    HidrawDevice::Core &core = *generation->core;
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    Outcome out;
    {
        std::lock_guard<std::mutex> lock(core.mutex);
        if (!generation->alive) {
            out.error = ENODEV;
        } else if (arg->data_len <= 0) {
            out.error = EINVAL;
        } else {
            std::vector<uint8_t> bytes(arg->data, arg->data + arg->data_len);
            core.transcript->record(Transcript::Kind::Output, bytes);
            if (core.faults.write > 0) {
                --core.faults.write;
                out.error = EPIPE;
            } else if (core.wheel.output(bytes.data(), bytes.size())) {
                out.result = static_cast<long>(bytes.size());
            } else {
                out.error = EPIPE;
            }
            out.notes = core.wheel.takeNotes();
        }
    }
    finish(generation, client, out);
    return TRUE;
}

void forgetClient(gpointer data)
{
    auto *state = static_cast<ClientState *>(data);
    {
        std::lock_guard<std::mutex> lock(state->generation->core->mutex);
        auto &clients = state->generation->clients;
        clients.erase(std::remove(clients.begin(), clients.end(), state), clients.end());
        // Clients were muted for the sake of the readers; with one of them
        // gone, let every remaining queue count again.
        for (ClientState *c : clients)
            c->muted = false;
        state->generation->syncDoorbell();
    }
    // May drop the last reference to the generation (and close its pty)
    // now that no descriptor of it is left open.
    delete state;
}

void onClientConnected(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user)
{
    auto *generation = static_cast<Generation *>(user);
    auto *state = new ClientState;
    state->generation = generation->shared_from_this();
    {
        std::lock_guard<std::mutex> lock(generation->core->mutex);
        generation->clients.push_back(state);
    }
    g_object_set_data_full(G_OBJECT(client), kClientKey, state, forgetClient);
}

void dropGeneration(gpointer data)
{
    delete static_cast<std::shared_ptr<Generation> *>(data);
}

} // namespace

// What exists in the testbed while the wheel is plugged.
struct HidrawDevice::Plugged
{
    std::shared_ptr<Generation> generation;
    UMockdevIoctlBase *handler = nullptr;
    std::string devnode;
    int hidrawIndex = -1;
    std::vector<std::string> syspaths; // top-down
    std::chrono::steady_clock::time_point unpluggedAt;
};

namespace {
// A host that opened the node just before the unplug may not have been
// announced to the handler yet; give it this long to show up.
constexpr auto kRetiredGrace = std::chrono::seconds(2);
} // namespace

HidrawDevice::HidrawDevice(DeviceHost host, const Options &options)
    : host_(std::move(host)), options_(options), core_(std::make_shared<Core>(options.wheel))
{
    core_->transcript = host_.transcript;
    core_->productId =
        static_cast<uint16_t>(options.productId >= 0 ? options.productId : core_->wheel.info().productId);
    core_->serial =
        options.serial.empty() ? "QC" + hex4(0xC000u + static_cast<unsigned>(options.port)) : options.serial;
}

HidrawDevice::~HidrawDevice()
{
    unplug();
    {
        std::lock_guard<std::mutex> plugLock(plugMutex_);
        releaseRetired(true);
    }
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->onEvent = nullptr;
}

bool HidrawDevice::plugged() const
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->current != nullptr;
}

uint16_t HidrawDevice::productId() const
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->productId;
}

void HidrawDevice::setProductId(uint16_t productId)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->productId = productId;
}

std::string HidrawDevice::devnode() const
{
    std::lock_guard<std::mutex> lock(plugMutex_);
    return plugged_ ? plugged_->devnode : std::string();
}

int HidrawDevice::clientCount() const
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->current ? static_cast<int>(core_->current->clients.size()) : 0;
}

std::string HidrawDevice::describe() const
{
    std::string code, name;
    uint16_t pid;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        code = core_->wheel.info().code;
        name = core_->wheel.name();
        pid = core_->productId;
    }
    const std::string node = devnode();
    return code + " c872:" + hex4lower(pid) + " \"" + name + "\" " + (node.empty() ? "unplugged" : node);
}

void HidrawDevice::releaseRetired(bool all)
{
    const auto now = std::chrono::steady_clock::now();
    Testbed &tb = host_.testbed;
    for (auto it = retired_.begin(); it != retired_.end();) {
        Plugged &r = **it;
        bool idle;
        {
            std::lock_guard<std::mutex> lock(core_->mutex);
            idle = r.generation->clients.empty();
        }
        if (!all && (!idle || now - r.unpluggedAt < kRetiredGrace)) {
            ++it;
            continue;
        }
        tb.detachIoctl(r.devnode);
        tb.releaseHidrawIndex(r.hidrawIndex);
        g_object_unref(r.handler);
        it = retired_.erase(it);
    }
}

bool HidrawDevice::plug(std::string *error)
{
    std::lock_guard<std::mutex> plugLock(plugMutex_);
    if (plugged_)
        return true;
    releaseRetired(false);
    std::unique_ptr<PtyDoorbell> bell = PtyDoorbell::create(error);
    if (!bell)
        return false;

    Testbed &tb = host_.testbed;
    std::string name;
    uint16_t pid;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        name = core_->wheel.name();
        pid = core_->productId;
    }
    const std::string port = "1-" + std::to_string(options_.port);
    const int devnum = tb.nextDeviceNumber();
    const int index = tb.acquireHidrawIndex();
    const std::string hidName =
        "0003:C872:" + hex4(pid) + "." + hex4(static_cast<unsigned>(tb.nextHidInstance()));
    const std::string base = "pci0000:00/0000:00:14.0/usb1/" + port;
    const std::string rawName = "hidraw" + std::to_string(index);
    const std::string devnode = "/dev/" + rawName;
    char busdev[16];
    snprintf(busdev, sizeof busdev, "%03d", devnum);
    const uint16_t bcd = 0x0100;

    auto plugged = std::make_unique<Plugged>();
    plugged->devnode = devnode;
    plugged->hidrawIndex = index;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->name = std::string(kManufacturer) + " " + name;
        core_->phys = "usb-0000:00:14.0-" + std::to_string(options_.port) + "/input0";
    }

    const std::string usb =
        tb.addDevice("usb", base,
                     {{"idVendor", hex4lower(kVendorId)},
                      {"idProduct", hex4lower(pid)},
                      {"bcdDevice", hex4lower(bcd)},
                      {"manufacturer", kManufacturer},
                      {"product", name},
                      {"serial", core_->serial},
                      {"busnum", "1"},
                      {"devnum", std::to_string(devnum)},
                      {"speed", "12"},
                      {"bConfigurationValue", "1"},
                      {"bNumConfigurations", "1"},
                      {"bNumInterfaces", " 1"},
                      {"bDeviceClass", "00"}},
                     {{"DEVTYPE", "usb_device"},
                      {"BUSNUM", "001"},
                      {"DEVNUM", busdev},
                      {"PRODUCT", hex4lower(kVendorId) + "/" + hex4lower(pid) + "/" + hex4lower(bcd)}});
    tb.setBinaryAttribute(usb, "descriptors", wheelUsbDescriptors(kVendorId, pid, bcd));
    const std::string intf =
        tb.addDevice("usb", base + "/" + port + ":1.0",
                     {{"bInterfaceNumber", "00"},
                      {"bInterfaceClass", "03"},
                      {"bAlternateSetting", " 0"},
                      {"bNumEndpoints", "01"}},
                     {{"DEVTYPE", "usb_interface"}, {"INTERFACE", "3/0/0"}, {"DRIVER", "usbhid"}});
    const std::string hid = tb.addDevice("hid", base + "/" + port + ":1.0/" + hidName, {},
                                         {{"DRIVER", "hid-generic"},
                                          {"HID_ID", "0003:0000C872:0000" + hex4(pid)},
                                          {"HID_NAME", core_->name},
                                          {"HID_PHYS", core_->phys},
                                          {"HID_UNIQ", core_->serial}});
    tb.setBinaryAttribute(hid, "report_descriptor", wheelReportDescriptor());
    const std::string raw =
        tb.addDevice("hidraw", base + "/" + port + ":1.0/" + hidName + "/hidraw/" + rawName,
                     {{"dev", bell->deviceNumber()}}, {{"DEVNAME", devnode}});
    // umockdev does not link a class device to its parent; hidapi follows it.
    tb.setLink(raw, "device", "../../../" + hidName);
    plugged->syspaths = {usb, intf, hid, raw};
    for (const std::string &p : plugged->syspaths) {
        if (p.empty()) {
            if (error)
                *error = "cannot add the wheel's devices to the testbed";
            for (auto it = plugged->syspaths.rbegin(); it != plugged->syspaths.rend(); ++it)
                if (!it->empty())
                    tb.removeDevice(*it);
            tb.releaseHidrawIndex(index);
            return false;
        }
    }

    auto generation = std::make_shared<Generation>();
    generation->core = core_;
    generation->bell = std::move(bell);
    if (!tb.linkDevNode(devnode, generation->bell->slavePath(), error)) {
        for (auto it = plugged->syspaths.rbegin(); it != plugged->syspaths.rend(); ++it)
            tb.removeDevice(*it);
        tb.releaseHidrawIndex(index);
        return false;
    }

    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    // The handler keeps its generation alive, and so does every client.
    g_object_set_data_full(G_OBJECT(handler), kGenerationKey, new std::shared_ptr<Generation>(generation),
                           dropGeneration);
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), generation.get());
    g_signal_connect(handler, "handle-read", G_CALLBACK(onRead), generation.get());
    g_signal_connect(handler, "handle-write", G_CALLBACK(onWrite), generation.get());
    g_signal_connect(handler, "client-connected", G_CALLBACK(onClientConnected), generation.get());
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->current = generation;
    }
    if (!tb.attachIoctl(devnode, handler, error)) {
        {
            std::lock_guard<std::mutex> lock(core_->mutex);
            core_->current.reset();
        }
        g_object_unref(handler);
        for (auto it = plugged->syspaths.rbegin(); it != plugged->syspaths.rend(); ++it)
            tb.removeDevice(*it);
        tb.releaseHidrawIndex(index);
        return false;
    }
    plugged->generation = generation;
    plugged->handler = handler;
    for (const std::string &p : plugged->syspaths)
        tb.uevent(p, "add");
    const uint8_t ids[4] = {static_cast<uint8_t>(kVendorId >> 8), static_cast<uint8_t>(kVendorId & 0xFF),
                            static_cast<uint8_t>(pid >> 8), static_cast<uint8_t>(pid & 0xFF)};
    host_.transcript->record(Transcript::Kind::Plug, ids, sizeof ids);
    plugged_ = std::move(plugged);
    return true;
}

void HidrawDevice::unplug()
{
    std::lock_guard<std::mutex> plugLock(plugMutex_);
    if (!plugged_)
        return;
    uint16_t pid;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        plugged_->generation->alive = false;
        plugged_->generation->syncDoorbell();
        core_->current.reset();
        pid = core_->productId;
        // The wheel loses power with its cable: live values are gone.
        core_->wheel.powerCycle();
    }
    Testbed &tb = host_.testbed;
    for (auto it = plugged_->syspaths.rbegin(); it != plugged_->syspaths.rend(); ++it)
        tb.removeDevice(*it);
    plugged_->unpluggedAt = std::chrono::steady_clock::now();
    retired_.push_back(std::move(plugged_));
    releaseRetired(false);
    const uint8_t ids[4] = {static_cast<uint8_t>(kVendorId >> 8), static_cast<uint8_t>(kVendorId & 0xFF),
                            static_cast<uint8_t>(pid >> 8), static_cast<uint8_t>(pid & 0xFF)};
    host_.transcript->record(Transcript::Kind::Unplug, ids, sizeof ids);
}

void HidrawDevice::press(int button)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->wheel.press(button);
    if (core_->reportOnChange)
        core_->queueReportsLocked(1);
}

void HidrawDevice::release(int button)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->wheel.release(button);
    if (core_->reportOnChange)
        core_->queueReportsLocked(1);
}

void HidrawDevice::changeButtons(const std::vector<int> &down, const std::vector<int> &up)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    for (int b : down)
        core_->wheel.press(b);
    for (int b : up)
        core_->wheel.release(b);
    if (core_->reportOnChange)
        core_->queueReportsLocked(1);
}

void HidrawDevice::setPaddles(uint16_t left, uint16_t right)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->wheel.setPaddles(left, right);
    if (core_->reportOnChange)
        core_->queueReportsLocked(1);
}

void HidrawDevice::setReportOnChange(bool on)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->reportOnChange = on;
}

void HidrawDevice::queueInputReports(int count)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->queueReportsLocked(count);
}

void HidrawDevice::queueShortInputReport(size_t length)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->queueReportsLocked(1, length);
}

void HidrawDevice::addFaults(const Faults &faults)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->faults.getFeature += faults.getFeature;
    core_->faults.setFeature += faults.setFeature;
    core_->faults.read += faults.read;
    core_->faults.write += faults.write;
    if (core_->current)
        core_->current->syncDoorbell(); // a pending read error must wake the reader
}

HidrawDevice::Faults HidrawDevice::faults() const
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->faults;
}

void HidrawDevice::withWheel(const std::function<void(Wheel &)> &f)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    f(core_->wheel);
}

void HidrawDevice::setEventHandler(std::function<void(Wheel::Event)> handler)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->onEvent = std::move(handler);
}

} // namespace wheelemu
