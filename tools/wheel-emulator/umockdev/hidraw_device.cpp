#include <umockdev.h>

#include "hidraw_device.h"

#include "emulator_log.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

namespace wheelemu {

namespace {
// The kernel's hidraw keeps 64 reports per opener and drops new ones while
// that buffer is full.
constexpr size_t kClientQueueLimit = 64;
constexpr const char *kClientKey = "wheelemu-client";
constexpr const char *kGenerationKey = "wheelemu-generation";
constexpr const char *kManufacturer = "Quor Controls";

// A joystick with report id 1 (right and left paddle, 16 bits each, 64
// buttons, 4 padding bytes), feature report 2 (20 bytes) and output report 3
// (19 bytes).
const std::vector<uint8_t> kReportDescriptor = {
    0x05, 0x01, 0x09, 0x04, 0xA1, 0x01,       // Generic Desktop, Joystick, Collection (Application)
    0x85, 0x01, 0x09, 0x33, 0x09, 0x34,       //   Report ID 1: Rx (right paddle), Ry (left paddle)
    0x15, 0x00, 0x26, 0x00, 0x10,             //   Logical 0..4096
    0x75, 0x10, 0x95, 0x02, 0x81, 0x02,       //   2 x 16 bits, Input (Data, Variable, Absolute)
    0x05, 0x09, 0x19, 0x01, 0x29, 0x40,       //   Button 1..64
    0x25, 0x01, 0x75, 0x01, 0x95, 0x40,       //   Logical 0..1, 64 x 1 bit
    0x81, 0x02,                               //   Input (Data, Variable, Absolute)
    0x75, 0x08, 0x95, 0x04, 0x81, 0x01,       //   4 x 8 bits, Input (Constant): padding
    0x06, 0x00, 0xFF, 0x85, 0x02, 0x09, 0x01, //   Vendor page 0xFF00, Report ID 2, Usage 1
    0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x14, //   Logical 0..255, 20 x 8 bits
    0xB1, 0x02,                               //   Feature (Data, Variable, Absolute)
    0x85, 0x03, 0x09, 0x02, 0x95, 0x13,       //   Report ID 3, Usage 2, 19 x 8 bits
    0x91, 0x02,                               //   Output (Data, Variable, Absolute)
    0xC0,                                     // End Collection
};

// The sysfs "descriptors" libusb reads when it lists the bus: the device
// descriptor, then the configuration of a full-speed HID device with one
// interrupt IN endpoint.
std::vector<uint8_t> usbDescriptors(uint16_t productId, uint16_t bcdDevice)
{
    const size_t reportLength = kReportDescriptor.size();
    return std::vector<uint8_t>(
        {18, 0x01, 0x00, 0x02, 0x00, 0x00, 0x00, 64, uint8_t(kVendorId), uint8_t(kVendorId >> 8),
         uint8_t(productId), uint8_t(productId >> 8), uint8_t(bcdDevice), uint8_t(bcdDevice >> 8), 1, 2, 3, 1,
         // configuration: 9 + 9 + 9 + 7 bytes, bus powered, 500 mA
         9, 0x02, 34, 0, 1, 1, 0, 0x80, 250,
         // interface 0: HID, no subclass, no protocol, one endpoint
         9, 0x04, 0, 0, 1, 0x03, 0x00, 0x00, 0,
         // HID 1.11, one report descriptor
         9, 0x21, 0x11, 0x01, 0, 1, 0x22, uint8_t(reportLength), uint8_t(reportLength >> 8),
         // endpoint 0x81: interrupt IN, 64 bytes, every 1 ms
         7, 0x05, 0x81, 0x03, 64, 0, 1});
}

std::string hex4(unsigned value, bool upper = true)
{
    char text[8];
    snprintf(text, sizeof text, upper ? "%04X" : "%04x", value & 0xFFFFu);
    return text;
}

// The pollable half of an emulated hidraw node. The preload library forwards
// read(), write() and ioctl() on the node to our handlers, but not poll():
// the client polls the real file the node points to, the slave side of a
// pseudo terminal in raw mode. Keeping as many "doorbell" bytes in it as
// the fullest client queue holds makes poll() report POLLIN when, and only
// when, a report is waiting, so hid_read_timeout() wakes up and times out
// as with a real device.
struct Doorbell
{
    int master = -1, slave = -1;
    std::string slavePath, deviceNumber; // "major:minor", so fstat() leads back to sysfs
    int pending = 0;

    ~Doorbell()
    {
        close(slave);
        close(master);
    }

    bool open(std::string *error)
    {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        char name[128];
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, name, sizeof name) != 0)
            return (*error = std::string("cannot open a pseudo terminal: ") + strerror(errno), false);
        // Our own slave descriptor keeps the terminal set up while no client
        // has it open, and lets us take doorbell bytes back out.
        slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
        struct stat st;
        if (slave < 0 || fstat(slave, &st) != 0)
            return (*error = std::string("cannot open ") + name + ": " + strerror(errno), false);
        struct termios raw;
        if (tcgetattr(slave, &raw) == 0) {
            cfmakeraw(&raw);
            tcsetattr(slave, TCSANOW, &raw);
        }
        slavePath = name;
        deviceNumber = std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        return true;
    }

    void setPending(int count)
    {
        static const char kBells[64] = {};
        char sink[64];
        while (pending > count) {
            const ssize_t n = read(slave, sink, std::min(sizeof sink, size_t(pending - count)));
            if (n <= 0) {
                // Some bytes had not reached the slave yet: start again from empty.
                tcflush(slave, TCIFLUSH);
                pending = 0;
            } else {
                pending -= int(n);
            }
        }
        while (pending < count) {
            const ssize_t n = write(master, kBells, std::min(sizeof kBells, size_t(count - pending)));
            if (n <= 0)
                break;
            pending += int(n);
        }
    }
};

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
    Outcome ioctl(UMockdevIoctlClient *client, unsigned long request);
};

// A queued input report; a wheel may send fewer bytes than the full report.
struct QueuedReport
{
    std::array<uint8_t, kInputReportSize> bytes;
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
    Doorbell bell;
    std::vector<ClientState *> clients;
    bool alive = true;

    // Core mutex held.
    void syncDoorbell()
    {
        // On hidraw every open file is ready on its own; here all openers
        // poll the one pty, so it rings for the fullest queue. A client that
        // never reads (a program keeping a second handle for feature reports
        // only) would keep it rung for good and turn the reader's
        // hid_read_timeout into a busy loop. Such clients are muted: they no
        // longer count until they read again (see noteIdleWake).
        int target = core->faults.read > 0 ? 1 : 0;
        for (const ClientState *c : clients)
            if (!c->muted)
                target = std::max(target, int(c->queue.size()) + (core->faults.read > 0 ? 1 : 0));
        if (!alive)
            target = 1; // every read fails from now on: keep poll() ready
        bell.setPending(target);
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

// hidraw's ioctls. The caller's buffer is as long as the request says.
Outcome HidrawDevice::Core::ioctl(UMockdevIoctlClient *client, unsigned long request)
{
    Outcome out;
    const size_t size = _IOC_SIZE(request);
    GError *failure = nullptr;
    UMockdevIoctlData *data =
        size ? umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &failure)
             : nullptr;
    if (failure) {
        debugLog("cannot resolve ioctl data: %s", failure->message);
        g_clear_error(&failure);
    }
    if (!data)
        return (out.error = size ? EFAULT : EINVAL, out);
    uint8_t *buffer = data->data;
    const auto text = [&](const std::string &t) {
        // At most size bytes including the terminating zero.
        out.result = long(std::min(t.size() + 1, size));
        memcpy(buffer, t.c_str(), size_t(out.result));
    };
    switch (_IOC_NR(request)) {
    case _IOC_NR(HIDIOCGRDESCSIZE): {
        const int n = int(kReportDescriptor.size());
        memcpy(buffer, &n, sizeof n);
        out.result = 0;
        break;
    }
    case _IOC_NR(HIDIOCGRDESC): {
        auto *desc = reinterpret_cast<struct hidraw_report_descriptor *>(buffer);
        memcpy(desc->value, kReportDescriptor.data(), std::min<size_t>(desc->size, kReportDescriptor.size()));
        out.result = 0;
        break;
    }
    case _IOC_NR(HIDIOCGRAWINFO): {
        const struct hidraw_devinfo info = {BUS_USB, __s16(kVendorId), __s16(productId)};
        memcpy(buffer, &info, sizeof info);
        out.result = 0;
        break;
    }
    case _IOC_NR(HIDIOCGRAWNAME(0)):
        text(name);
        break;
    case _IOC_NR(HIDIOCGRAWPHYS(0)):
        text(phys);
        break;
    case _IOC_NR(HIDIOCGRAWUNIQ(0)):
        text(serial);
        break;
    case _IOC_NR(HIDIOCSFEATURE(0)):
        transcript->record(Transcript::Kind::SetFeature, buffer, size);
        if (faults.setFeature > 0)
            --faults.setFeature;
        else if (wheel.setFeature(buffer, size))
            out.result = long(size);
        out.error = out.result < 0 ? EPIPE : 0;
        out.event = wheel.takeEvent();
        break;
    case _IOC_NR(HIDIOCGFEATURE(0)): {
        // The wheel answers into a copy: a failed GET_REPORT must leave the
        // host's buffer exactly as it was.
        std::vector<uint8_t> reply(buffer, buffer + size);
        const int n =
            faults.getFeature > 0 ? (--faults.getFeature, -1) : wheel.getFeature(reply.data(), size);
        if (n >= 0)
            memcpy(buffer, reply.data(), size_t(n));
        transcript->record(Transcript::Kind::GetFeature, reply.data(), n < 0 ? 1 : size_t(n));
        out.result = n;
        out.error = n < 0 ? EPIPE : 0;
        break;
    }
    default:
        out.error = EINVAL;
    }
    g_object_unref(data);
    out.notes = wheel.takeNotes();
    return out;
}

namespace {

using Generation = HidrawDevice::Generation;

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
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    Outcome out;
    {
        std::lock_guard<std::mutex> lock(generation->core->mutex);
        if (!generation->alive)
            out.error = ENODEV;
        else if (_IOC_TYPE(request) != 'H')
            out.error = ENOTTY; // not a terminal, whatever isatty() hopes
        else
            out = generation->core->ioctl(client, request);
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
                if (generation->bell.pending > 0)
                    generation->noteIdleWake(state);
            } else {
                QueuedReport report = state->queue.front();
                state->queue.pop_front();
                state->idleWakes = 0;
                state->muted = false;
                const size_t n = std::min(report.length, size_t(std::max(arg->data_len, 0)));
                umockdev_ioctl_data_update(arg, 0, report.bytes.data(), gint(n));
                core.transcript->record(Transcript::Kind::Input, report.bytes.data(), n);
                out.result = long(n);
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
            core.transcript->record(Transcript::Kind::Output, arg->data, size_t(arg->data_len));
            if (core.faults.write > 0)
                --core.faults.write;
            else if (core.wheel.output(arg->data, size_t(arg->data_len)))
                out.result = arg->data_len;
            out.error = out.result < 0 ? EPIPE : 0;
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
    auto *state = new ClientState{generation->shared_from_this(), {}};
    {
        std::lock_guard<std::mutex> lock(generation->core->mutex);
        generation->clients.push_back(state);
    }
    g_object_set_data_full(G_OBJECT(client), kClientKey, state, forgetClient);
}

// A host that opened the node just before the unplug may not have been
// announced to the handler yet; give it this long to show up.
constexpr auto kRetiredGrace = std::chrono::seconds(2);
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

HidrawDevice::HidrawDevice(DeviceHost host, const Options &options)
    : host_(std::move(host)), options_(options), core_(std::make_shared<Core>(options.wheel))
{
    core_->transcript = host_.transcript;
    core_->productId = uint16_t(options.productId >= 0 ? options.productId : core_->wheel.info().productId);
    core_->serial = "QC" + hex4(0xC000u + unsigned(options.port));
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

void HidrawDevice::setProductId(uint16_t productId)
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    core_->productId = productId;
}

int HidrawDevice::clientCount() const
{
    std::lock_guard<std::mutex> lock(core_->mutex);
    return core_->current ? int(core_->current->clients.size()) : 0;
}

void HidrawDevice::releaseRetired(bool all)
{
    const auto now = std::chrono::steady_clock::now();
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
        host_.testbed.detachIoctl(r.devnode);
        host_.testbed.releaseHidrawIndex(r.hidrawIndex);
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
    auto generation = std::make_shared<Generation>();
    generation->core = core_;
    if (!generation->bell.open(error))
        return false;

    Testbed &tb = host_.testbed;
    std::string name;
    uint16_t pid;
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        name = core_->wheel.name();
        pid = core_->productId;
        core_->name = std::string(kManufacturer) + " " + name;
        core_->phys = "usb-0000:00:14.0-" + std::to_string(options_.port) + "/input0";
    }
    const std::string port = "1-" + std::to_string(options_.port);
    auto plugged = std::make_unique<Plugged>();
    plugged->hidrawIndex = tb.acquireHidrawIndex();
    plugged->devnode = "/dev/hidraw" + std::to_string(plugged->hidrawIndex);
    const std::string hidName = "0003:C872:" + hex4(pid) + "." + hex4(unsigned(tb.nextHidInstance()));
    const std::string usb = "/devices/pci0000:00/0000:00:14.0/usb1/" + port, intf = usb + "/" + port + ":1.0",
                      hid = intf + "/" + hidName, raw = hid + "/hidraw/" + plugged->devnode.substr(5);
    plugged->syspaths = {"/sys" + usb, "/sys" + intf, "/sys" + hid, "/sys" + raw};
    const int devnum = tb.nextDeviceNumber();
    // The usb_device / usb_interface / hid / hidraw chain hidapi walks, with
    // the "descriptors" libusb lists the bus by.
    g_autofree gchar *record = g_strdup_printf(
        "P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: BUSNUM=001\nE: DEVNUM=%03d\nE: "
        "PRODUCT=c872/%04x/0100\n"
        "A: idVendor=c872\nA: idProduct=%04x\nA: bcdDevice=0100\nA: manufacturer=%s\nA: product=%s\nA: "
        "serial=%s\n"
        "A: busnum=1\nA: devnum=%d\nA: speed=12\nA: bConfigurationValue=1\nA: bNumConfigurations=1\n"
        "A: bNumInterfaces= 1\nA: bDeviceClass=00\nH: descriptors=%s\n\n"
        "P: %s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: INTERFACE=3/0/0\nE: DRIVER=usbhid\n"
        "A: bInterfaceNumber=00\nA: bInterfaceClass=03\nA: bAlternateSetting= 0\nA: bNumEndpoints=01\n\n"
        "P: %s\nE: SUBSYSTEM=hid\nE: DRIVER=hid-generic\nE: HID_ID=0003:0000C872:0000%04X\nE: HID_NAME=%s\n"
        "E: HID_PHYS=%s\nE: HID_UNIQ=%s\nH: report_descriptor=%s\n\n"
        // umockdev does not link a class device to its parent; hidapi follows it.
        "P: %s\nE: SUBSYSTEM=hidraw\nE: DEVNAME=%s\nA: dev=%s\nL: device=../../../%s\n",
        usb.c_str(), devnum, pid, pid, kManufacturer, name.c_str(), core_->serial.c_str(), devnum,
        Testbed::hex(usbDescriptors(pid, 0x0100)).c_str(), intf.c_str(), hid.c_str(), pid,
        core_->name.c_str(), core_->phys.c_str(), core_->serial.c_str(),
        Testbed::hex(kReportDescriptor).c_str(), raw.c_str(), plugged->devnode.c_str(),
        generation->bell.deviceNumber.c_str(), hidName.c_str());

    UMockdevIoctlBase *handler = umockdev_ioctl_base_new();
    // The handler keeps its generation alive, and so does every client.
    g_object_set_data_full(G_OBJECT(handler), kGenerationKey, new std::shared_ptr<Generation>(generation),
                           [](gpointer p) { delete static_cast<std::shared_ptr<Generation> *>(p); });
    g_signal_connect(handler, "handle-ioctl", G_CALLBACK(onIoctl), generation.get());
    g_signal_connect(handler, "handle-read", G_CALLBACK(onRead), generation.get());
    g_signal_connect(handler, "handle-write", G_CALLBACK(onWrite), generation.get());
    g_signal_connect(handler, "client-connected", G_CALLBACK(onClientConnected), generation.get());
    {
        std::lock_guard<std::mutex> lock(core_->mutex);
        core_->current = generation;
    }
    // The node answers before the devices are announced, as a real one is
    // ready the moment it is listed.
    if (!tb.linkDevNode(plugged->devnode, generation->bell.slavePath, error) ||
        !tb.attachIoctl(plugged->devnode, handler, error) || !tb.addFromString(record, error)) {
        {
            std::lock_guard<std::mutex> lock(core_->mutex);
            core_->current.reset();
        }
        tb.detachIoctl(plugged->devnode);
        g_object_unref(handler);
        tb.releaseHidrawIndex(plugged->hidrawIndex);
        return false;
    }
    plugged->generation = generation;
    plugged->handler = handler;
    host_.transcript->recordBus(Transcript::Kind::Plug, kVendorId, pid);
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
    for (auto it = plugged_->syspaths.rbegin(); it != plugged_->syspaths.rend(); ++it)
        host_.testbed.removeDevice(*it);
    plugged_->unpluggedAt = std::chrono::steady_clock::now();
    retired_.push_back(std::move(plugged_));
    releaseRetired(false);
    host_.transcript->recordBus(Transcript::Kind::Unplug, kVendorId, pid);
}

void HidrawDevice::press(int button)
{
    changeButtons({button}, {});
}

void HidrawDevice::release(int button)
{
    changeButtons({}, {button});
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
