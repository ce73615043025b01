// umockdev.h pulls in GLib, whose "signals" clash with Qt's keywords: keep it first.
#include <umockdev.h>

#include "usb_device.h"

#include "emulator_log.h"
#include "testbed.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>

namespace wheelemu {

namespace {

constexpr const char *kCompletedUrbsKey = "wheelemu-completed-urbs";
constexpr uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
constexpr size_t kSetupSize = 8;

// Client-side addresses of a client's completed, not yet reaped URBs. Each
// opener of the node has its own, as each usbdevfs file handle has.
using CompletedUrbs = std::deque<gulong>;

CompletedUrbs &completedUrbs(UMockdevIoctlClient *client)
{
    auto *q = static_cast<CompletedUrbs *>(g_object_get_data(G_OBJECT(client), kCompletedUrbsKey));
    if (!q) {
        q = new CompletedUrbs;
        g_object_set_data_full(G_OBJECT(client), kCompletedUrbsKey, q,
                               [](gpointer p) { delete static_cast<CompletedUrbs *>(p); });
    }
    return *q;
}

struct GObjectUnref
{
    void operator()(gpointer p) const
    {
        if (p)
            g_object_unref(p);
    }
};
using DataPtr = std::unique_ptr<UMockdevIoctlData, GObjectUnref>;

// The client's memory at the pointer stored at offset, copied over; changes
// to it are written back when the ioctl completes.
DataPtr resolve(UMockdevIoctlData *data, size_t offset, size_t len)
{
    GError *error = nullptr;
    DataPtr r(umockdev_ioctl_data_resolve(data, offset, len, &error));
    if (error) {
        debugLog("usb device: cannot resolve ioctl data: %s", error->message);
        g_error_free(error);
        return nullptr;
    }
    return r;
}

void complete(UMockdevIoctlClient *client, long result, int error)
{
    umockdev_ioctl_client_complete(client, result, error);
}

std::string hex(const std::vector<uint8_t> &bytes)
{
    std::string s;
    char two[3];
    for (uint8_t b : bytes) {
        std::snprintf(two, sizeof two, "%02X", b); // N: lines take upper case only
        s += two;
    }
    return s;
}

} // namespace

struct UsbDevice::Session
{
    UsbDevice *owner = nullptr;
    std::string sysfsPath, devNode;
    int devnum = 0;
    UMockdevIoctlBase *handler = nullptr;
    std::atomic<bool> gone{false};
    // Interface number -> the client that claimed it (a reference is held).
    // Only the handler thread touches this.
    std::map<unsigned, UMockdevIoctlClient *> claims;

    ~Session()
    {
        for (auto &c : claims)
            g_object_unref(c.second);
        if (handler) {
            g_signal_handlers_disconnect_by_data(handler, this);
            g_object_unref(handler);
        }
    }
};

// The ioctl side, on umockdev's worker thread.
struct UsbDeviceAccess
{
    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer user)
    {
        auto *session = static_cast<UsbDevice::Session *>(user);
        handle(*session, client);
        return TRUE;
    }

    static void handle(UsbDevice::Session &s, UMockdevIoctlClient *client)
    {
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB) {
            // Nothing is ever in flight, so a blocking reap has nothing to wait for either.
            reap(s, client, arg);
            return;
        }
        if (s.gone) {
            complete(client, -1, ENODEV);
            return;
        }
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            DataPtr d = resolve(arg, 0, sizeof(uint32_t));
            if (!d)
                return complete(client, -1, EFAULT);
            std::memcpy(d->data, &kCapabilities, sizeof kCapabilities);
            return complete(client, 0, 0);
        }
        case USBDEVFS_SUBMITURB:
            return submit(s, client, arg);
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM: {
            // Both start with the interface number.
            DataPtr d = resolve(arg, 0, sizeof(unsigned));
            if (!d)
                return complete(client, -1, EFAULT);
            unsigned number;
            std::memcpy(&number, d->data, sizeof number);
            return claim(s, client, number);
        }
        case USBDEVFS_RELEASEINTERFACE: {
            DataPtr d = resolve(arg, 0, sizeof(unsigned));
            if (!d)
                return complete(client, -1, EFAULT);
            unsigned number;
            std::memcpy(&number, d->data, sizeof number);
            auto it = s.claims.find(number);
            if (it == s.claims.end() || it->second != client)
                return complete(client, -1, EINVAL);
            g_object_unref(it->second);
            s.claims.erase(it);
            return complete(client, 0, 0);
        }
        case USBDEVFS_SETINTERFACE: {
            DataPtr d = resolve(arg, 0, sizeof(usbdevfs_setinterface));
            if (!d)
                return complete(client, -1, EFAULT);
            usbdevfs_setinterface si;
            std::memcpy(&si, d->data, sizeof si);
            const bool known = s.owner->function_.hasInterface(int(si.interface), int(si.altsetting));
            return complete(client, known ? 0 : -1, known ? 0 : EINVAL);
        }
        case USBDEVFS_SETCONFIGURATION: {
            DataPtr d = resolve(arg, 0, sizeof(int));
            if (!d)
                return complete(client, -1, EFAULT);
            int value;
            std::memcpy(&value, d->data, sizeof value);
            const bool known = value == s.owner->descriptors_.configurationValue() || value == -1;
            return complete(client, known ? 0 : -1, known ? 0 : EINVAL);
        }
        case USBDEVFS_GETDRIVER:
            // No kernel driver is bound to the loader's interface.
            return complete(client, -1, ENODATA);
        case USBDEVFS_IOCTL: {
            DataPtr d = resolve(arg, 0, sizeof(usbdevfs_ioctl));
            if (!d)
                return complete(client, -1, EFAULT);
            usbdevfs_ioctl cmd;
            std::memcpy(&cmd, d->data, sizeof cmd);
            if (cmd.ioctl_code == int(USBDEVFS_DISCONNECT))
                return complete(client, -1, ENODATA);
            if (cmd.ioctl_code == int(USBDEVFS_CONNECT))
                return complete(client, 0, 0);
            return complete(client, -1, ENOTTY);
        }
        case USBDEVFS_CONNECTINFO: {
            DataPtr d = resolve(arg, 0, sizeof(usbdevfs_connectinfo));
            if (!d)
                return complete(client, -1, EFAULT);
            usbdevfs_connectinfo ci{};
            ci.devnum = unsigned(s.devnum);
            ci.slow = 0;
            std::memcpy(d->data, &ci, sizeof ci);
            return complete(client, 0, 0);
        }
        case USBDEVFS_RESET:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            return complete(client, 0, 0);
        case USBDEVFS_DISCARDURB:
            // Every URB completes as it is submitted: there is nothing to cancel.
            return complete(client, -1, EINVAL);
        default:
            debugLog("usb device: unhandled ioctl 0x%lx on %s", request, s.devNode.c_str());
            return complete(client, -1, ENOTTY);
        }
    }

    static void claim(UsbDevice::Session &s, UMockdevIoctlClient *client, unsigned number)
    {
        if (!s.owner->function_.hasInterface(int(number), 0))
            return complete(client, -1, ENOENT);
        auto it = s.claims.find(number);
        if (it != s.claims.end()) {
            if (it->second == client)
                return complete(client, 0, 0);
            // A closed file handle gives its interfaces up; umockdev does
            // not tell us when that happens, so look now.
            if (umockdev_ioctl_client_get_connected(it->second))
                return complete(client, -1, EBUSY);
            g_object_unref(it->second);
            s.claims.erase(it);
        }
        s.claims[number] = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
        complete(client, 0, 0);
    }

    static void submit(UsbDevice::Session &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        UsbDevice &dev = *s.owner;
        DataPtr urbData = resolve(arg, 0, sizeof(usbdevfs_urb));
        if (!urbData)
            return complete(client, -1, EFAULT);
        auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
        // The loader has the control pipe only.
        if (urb->type != USBDEVFS_URB_TYPE_CONTROL || (urb->endpoint & 0x7f) != 0)
            return complete(client, -1, ENOENT);
        if (urb->buffer_length < int(kSetupSize))
            return complete(client, -1, EINVAL);
        const size_t bufferLength = size_t(urb->buffer_length);
        DataPtr buffer = resolve(urbData.get(), offsetof(usbdevfs_urb, buffer), bufferLength);
        if (!buffer)
            return complete(client, -1, EFAULT);
        uint8_t *bytes = buffer->data;
        const UsbSetup setup = UsbSetup::parse(bytes);
        if (setup.wLength > bufferLength - kSetupSize)
            return complete(client, -1, EINVAL);

        const bool in = setup.deviceToHost();
        UsbControlResult result;
        {
            std::lock_guard<std::mutex> guard(dev.lock_);
            result = dev.function_.control(setup, in ? nullptr : bytes + kSetupSize, in ? 0 : setup.wLength);
        }
        size_t dataStage = 0;
        if (result.stalled) {
            urb->status = -EPIPE;
            urb->actual_length = 0;
        } else if (in) {
            dataStage = std::min(result.data.size(), size_t(setup.wLength));
            if (dataStage > 0) // an empty answer's data() may be null
                std::memcpy(bytes + kSetupSize, result.data.data(), dataStage);
            urb->status = 0;
            urb->actual_length = int(dataStage);
        } else {
            dataStage = setup.wLength;
            urb->status = 0;
            urb->actual_length = setup.wLength;
        }
        // Either way the data stage now sits in the buffer behind the setup bytes.
        const std::vector<uint8_t> line(bytes, bytes + kSetupSize + dataStage);
        ++dev.controlTransfers_;
        if (dev.transcript_)
            dev.transcript_(line);
        completedUrbs(client).push_back(urbData->client_addr);
        complete(client, 0, 0);
        if (dev.afterTransfer_)
            dev.afterTransfer_();
    }

    static void reap(UsbDevice::Session &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        CompletedUrbs &urbs = completedUrbs(client);
        if (urbs.empty())
            return complete(client, -1, s.gone ? ENODEV : EAGAIN);
        DataPtr slot = resolve(arg, 0, sizeof(gulong));
        if (!slot)
            return complete(client, -1, EFAULT);
        const gulong urb = urbs.front();
        urbs.pop_front();
        std::memcpy(slot->data, &urb, sizeof urb);
        complete(client, 0, 0);
    }
};

UsbDevice::UsbDevice(Testbed &testbed, UsbFunction &function, const UsbDescriptors &descriptors,
                     std::mutex &lock)
    : testbed_(testbed), function_(function), descriptors_(descriptors), lock_(lock)
{}

UsbDevice::~UsbDevice()
{
    unplug();
    for (const auto &session : sessions_)
        testbed_.detachIoctl(session->devNode);
}

void UsbDevice::setTranscript(Transcript transcript)
{
    transcript_ = std::move(transcript);
}
void UsbDevice::setAfterTransfer(AfterTransfer afterTransfer)
{
    afterTransfer_ = std::move(afterTransfer);
}

std::string UsbDevice::sysfsPath() const
{
    const Session *s = current_;
    return s ? s->sysfsPath : std::string();
}

std::string UsbDevice::devNode() const
{
    const Session *s = current_;
    return s ? s->devNode : std::string();
}

std::string UsbDevice::record(const UsbDescriptors &d, const Address &a, const std::string &sysfsPath,
                              const std::string &devNode)
{
    char line[160];
    std::string r = "P: " + sysfsPath + "\n";
    r += "N: " + devNode.substr(std::strlen("/dev/")) + "=" + hex(d.sysfsBlob()) + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + devNode + "\n";
    std::snprintf(line, sizeof line, "E: BUSNUM=%03d\nE: DEVNUM=%03d\nE: PRODUCT=%x/%x/%x\n", a.busnum,
                  a.devnum, d.vendorId(), d.productId(), d.bcdDevice());
    r += line;
    std::snprintf(line, sizeof line,
                  "A: busnum=%d\nA: devnum=%d\nA: idVendor=%04x\nA: idProduct=%04x\nA: bcdDevice=%04x\n",
                  a.busnum, a.devnum, d.vendorId(), d.productId(), d.bcdDevice());
    r += line;
    std::snprintf(line, sizeof line,
                  "A: speed=12\nA: bConfigurationValue=%d\nA: bNumConfigurations=1\nA: bMaxPacketSize0=64\n",
                  d.configurationValue());
    r += line;
    const auto dash = a.port.find('-');
    if (dash != std::string::npos)
        r += "A: devpath=" + a.port.substr(dash + 1) + "\n";
    // The string attributes the kernel reads at enumeration.
    const char *names[] = {"manufacturer", "product", "serial"};
    for (int i = 0; i < 3; ++i) {
        auto it = d.device.size() > size_t(14 + i) ? d.strings.find(d.device[14 + i]) : d.strings.end();
        if (it != d.strings.end())
            r += std::string("A: ") + names[i] + "=" + it->second + "\n";
    }
    r += "H: descriptors=" + hex(d.sysfsBlob()) + "\n";
    return r;
}

bool UsbDevice::plug(const Address &address, std::string *error)
{
    if (current_) {
        if (error)
            *error = "already plugged in";
        return false;
    }
    auto session = std::make_unique<Session>();
    session->owner = this;
    session->devnum = address.devnum;
    session->sysfsPath =
        "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(address.busnum) + "/" + address.port;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", address.busnum, address.devnum);
    session->devNode = node;

    // The handler listens before the device shows up in sysfs: a host that
    // enumerates in between would otherwise open a node that answers no
    // ioctl, where a real device's node is ready the moment it is listed.
    session->handler = umockdev_ioctl_base_new();
    g_signal_connect(session->handler, "handle-ioctl", G_CALLBACK(UsbDeviceAccess::onIoctl), session.get());
    if (!testbed_.attachIoctl(session->devNode, session->handler, error))
        return false;
    const std::string text = record(descriptors_, address, session->sysfsPath, session->devNode);
    if (!testbed_.addFromString(text, error)) {
        testbed_.detachIoctl(session->devNode);
        return false;
    }
    current_ = session.get();
    sessions_.push_back(std::move(session));
    return true;
}

void UsbDevice::cutOff()
{
    if (Session *s = current_)
        s->gone = true;
}

void UsbDevice::unplug()
{
    Session *current = current_.exchange(nullptr);
    if (!current)
        return;
    Session &s = *current;
    s.gone = true;
    // The handler stays attached and answers ENODEV: a host caught inside a
    // transfer must see the device gone, not a closed socket, which umockdev's
    // preload answers with abort(). Every plug has a node of its own, so the
    // old handler is in nobody's way until the device goes for good.
    // Sends the "remove" uevent first.
    testbed_.removeDevice("/sys" + s.sysfsPath);
}

} // namespace wheelemu
