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
    void operator()(gpointer p) const { g_object_unref(p); }
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
        auto &s = *static_cast<UsbDevice::Session *>(user);
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        long result = -1;
        int error = 0;
        if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB)
            // Nothing is ever in flight, so a blocking reap has nothing to wait for either.
            error = reap(s, client, arg);
        else if (s.gone)
            error = ENODEV;
        else if (request == USBDEVFS_SUBMITURB)
            error = submit(s, client, arg);
        else
            error = other(s, client, request, arg);
        result = error ? -1 : 0;
        umockdev_ioctl_client_complete(client, result, error);
        if (request == USBDEVFS_SUBMITURB && !error && s.owner->afterTransfer_)
            s.owner->afterTransfer_();
        return TRUE;
    }

    // Returns the errno the ioctl fails with, or 0.
    static int other(UsbDevice::Session &s, UMockdevIoctlClient *client, gulong request,
                     UMockdevIoctlData *arg)
    {
        switch (request) {
        case USBDEVFS_GETDRIVER:
            return ENODATA; // no kernel driver is bound to the loader's interface
        case USBDEVFS_RESET:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
            return 0;
        case USBDEVFS_DISCARDURB:
            return EINVAL; // every URB completes as it is submitted: nothing to cancel
        case USBDEVFS_GET_CAPABILITIES:
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_IOCTL:
        case USBDEVFS_CONNECTINFO:
            break;
        default:
            debugLog("usb device: unhandled ioctl 0x%lx on %s", request, s.devNode.c_str());
            return ENOTTY;
        }
        DataPtr d = resolve(arg, 0, _IOC_SIZE(request));
        if (!d)
            return EFAULT;
        // Most of these start with an interface number or a value.
        unsigned number;
        std::memcpy(&number, d->data, sizeof number);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES:
            std::memcpy(d->data, &kCapabilities, sizeof kCapabilities);
            return 0;
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_DISCONNECT_CLAIM:
            return claim(s, client, number);
        case USBDEVFS_RELEASEINTERFACE: {
            auto it = s.claims.find(number);
            if (it == s.claims.end() || it->second != client)
                return EINVAL;
            g_object_unref(it->second);
            s.claims.erase(it);
            return 0;
        }
        case USBDEVFS_SETINTERFACE: {
            const auto *si = reinterpret_cast<const usbdevfs_setinterface *>(d->data);
            return s.owner->function_.hasInterface(int(si->interface), int(si->altsetting)) ? 0 : EINVAL;
        }
        case USBDEVFS_SETCONFIGURATION:
            return int(number) == s.owner->descriptors_.configurationValue() || int(number) == -1 ? 0
                                                                                                  : EINVAL;
        case USBDEVFS_IOCTL: {
            const int code = reinterpret_cast<const usbdevfs_ioctl *>(d->data)->ioctl_code;
            return code == int(USBDEVFS_DISCONNECT) ? ENODATA : code == int(USBDEVFS_CONNECT) ? 0 : ENOTTY;
        }
        default: { // USBDEVFS_CONNECTINFO
            const usbdevfs_connectinfo ci{unsigned(s.devnum), 0};
            std::memcpy(d->data, &ci, sizeof ci);
            return 0;
        }
        }
    }

    static int claim(UsbDevice::Session &s, UMockdevIoctlClient *client, unsigned number)
    {
        if (!s.owner->function_.hasInterface(int(number), 0))
            return ENOENT;
        auto it = s.claims.find(number);
        if (it != s.claims.end()) {
            if (it->second == client)
                return 0;
            // A closed file handle gives its interfaces up; umockdev does
            // not tell us when that happens, so look now.
            if (umockdev_ioctl_client_get_connected(it->second))
                return EBUSY;
            g_object_unref(it->second);
            s.claims.erase(it);
        }
        s.claims[number] = UMOCKDEV_IOCTL_CLIENT(g_object_ref(client));
        return 0;
    }

    static int submit(UsbDevice::Session &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        UsbDevice &dev = *s.owner;
        DataPtr urbData = resolve(arg, 0, sizeof(usbdevfs_urb));
        if (!urbData)
            return EFAULT;
        auto *urb = reinterpret_cast<usbdevfs_urb *>(urbData->data);
        // The loader has the control pipe only.
        if (urb->type != USBDEVFS_URB_TYPE_CONTROL || (urb->endpoint & 0x7f) != 0)
            return ENOENT;
        if (urb->buffer_length < int(kSetupSize))
            return EINVAL;
        const size_t bufferLength = size_t(urb->buffer_length);
        DataPtr buffer = resolve(urbData.get(), offsetof(usbdevfs_urb, buffer), bufferLength);
        if (!buffer)
            return EFAULT;
        uint8_t *bytes = buffer->data;
        const UsbSetup setup = UsbSetup::parse(bytes);
        if (setup.wLength > bufferLength - kSetupSize)
            return EINVAL;

        const bool in = setup.deviceToHost();
        UsbControlResult result;
        {
            std::lock_guard<std::mutex> guard(dev.lock_);
            result = dev.function_.control(setup, in ? nullptr : bytes + kSetupSize, in ? 0 : setup.wLength);
        }
        // Either way the data stage ends up in the buffer behind the setup
        // bytes; a stall has none.
        const size_t dataStage = result.stalled ? 0
                                 : in           ? std::min(result.data.size(), size_t(setup.wLength))
                                                : setup.wLength;
        if (in && dataStage > 0) // an empty answer's data() may be null
            std::memcpy(bytes + kSetupSize, result.data.data(), dataStage);
        urb->status = result.stalled ? -EPIPE : 0;
        urb->actual_length = int(dataStage);
        ++dev.controlTransfers_;
        if (dev.transcript_)
            dev.transcript_(std::vector<uint8_t>(bytes, bytes + kSetupSize + dataStage));
        completedUrbs(client).push_back(urbData->client_addr);
        return 0;
    }

    static int reap(UsbDevice::Session &s, UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        CompletedUrbs &urbs = completedUrbs(client);
        if (urbs.empty())
            return s.gone ? ENODEV : EAGAIN;
        DataPtr slot = resolve(arg, 0, sizeof(gulong));
        if (!slot)
            return EFAULT;
        std::memcpy(slot->data, &urbs.front(), sizeof(gulong));
        urbs.pop_front();
        return 0;
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

bool UsbDevice::plug(const Address &a, std::string *error)
{
    if (current_) {
        *error = "already plugged in";
        return false;
    }
    auto session = std::make_unique<Session>();
    session->owner = this;
    session->devnum = a.devnum;
    session->sysfsPath = "/devices/pci0000:00/0000:00:14.0/usb" + std::to_string(a.busnum) + "/" + a.port;
    g_autofree gchar *node = g_strdup_printf("/dev/bus/usb/%03d/%03d", a.busnum, a.devnum);
    session->devNode = node;

    // The handler listens before the device shows up in sysfs: a host that
    // enumerates in between would otherwise open a node that answers no
    // ioctl, where a real device's node is ready the moment it is listed.
    session->handler = umockdev_ioctl_base_new();
    g_signal_connect(session->handler, "handle-ioctl", G_CALLBACK(UsbDeviceAccess::onIoctl), session.get());
    if (!testbed_.attachIoctl(session->devNode, session->handler, error))
        return false;

    // The record umockdev reads: the device's properties and attributes,
    // and the node's contents (N:), which is what makes it a device node.
    const UsbDescriptors &d = descriptors_;
    const std::string blob = Testbed::hex(d.sysfsBlob());
    g_autofree gchar *text = g_strdup_printf(
        "P: %s\nN: %s=%s\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=%s\nE: BUSNUM=%03d\n"
        "E: DEVNUM=%03d\nE: PRODUCT=%x/%x/%x\nA: busnum=%d\nA: devnum=%d\nA: idVendor=%04x\nA: "
        "idProduct=%04x\n"
        "A: bcdDevice=%04x\nA: speed=12\nA: bConfigurationValue=%d\nA: bNumConfigurations=1\n"
        "A: bMaxPacketSize0=64\nA: devpath=%s\n",
        session->sysfsPath.c_str(), node + strlen("/dev/"), blob.c_str(), node, a.busnum, a.devnum,
        d.vendorId(), d.productId(), d.bcdDevice(), a.busnum, a.devnum, d.vendorId(), d.productId(),
        d.bcdDevice(), d.configurationValue(), a.port.substr(a.port.find('-') + 1).c_str());
    std::string record = text;
    // The string attributes the kernel reads at enumeration.
    const char *names[] = {"manufacturer", "product", "serial"};
    for (int i = 0; i < 3; ++i) {
        auto it = d.device.size() > size_t(14 + i) ? d.strings.find(d.device[14 + i]) : d.strings.end();
        if (it != d.strings.end())
            record += std::string("A: ") + names[i] + "=" + it->second + "\n";
    }
    record += "H: descriptors=" + blob + "\n";
    if (!testbed_.addFromString(record, error)) {
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
    current->gone = true;
    // The handler stays attached and answers ENODEV: a host caught inside a
    // transfer must see the device gone, not a closed socket, which umockdev's
    // preload answers with abort(). Every plug has a node of its own, so the
    // old handler is in nobody's way until the device goes for good.
    testbed_.removeDevice("/sys" + current->sysfsPath);
}

} // namespace wheelemu
