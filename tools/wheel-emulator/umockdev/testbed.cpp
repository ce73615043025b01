#include <umockdev.h>

#include "testbed.h"

#include "cleanup_registry.h"
#include "emulator_log.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <glob.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace wheelemu {

namespace {
// The longest ioctl socket path is <root>/ioctl/dev/bus/usb/001/NNN; a Unix
// socket path holds at most 107 characters.
constexpr size_t kMaxTmpDirLength = 60;

// Hotplug announcements. A process under the umockdev preload that opens a
// udev monitor (libusb's hotplug thread, for one) listens on a Unix socket
// "<root>/event<fd>". The library's own sender aborts the whole emulator
// when such a listener closes between its connect() and its sendmsg(),
// which is just what a host does when it exits right after the request that
// makes a device leave the bus (a DFU flash ending in a reset). So the
// testbed sends its uevents itself, with the same message the library
// builds, and takes a vanished listener in its stride. While umockdev adds
// devices, the listeners are hidden from it.

constexpr uint32_t kMonitorMagic = 0xfeedcafe;
constexpr const char *kHiddenPrefix = ".quiet-";

// The header libudev puts before a device's properties on a monitor socket;
// every field after the prefix is 32 bits, the magic and hashes big-endian.
struct MonitorHeader
{
    char prefix[8];
    uint32_t magic;
    uint32_t headerSize;
    uint32_t propertiesOffset;
    uint32_t propertiesLength;
    uint32_t subsystemHash;
    uint32_t devtypeHash;
    uint32_t tagBloomHigh;
    uint32_t tagBloomLow;
};
static_assert(sizeof(MonitorHeader) == 40, "libudev's monitor header is 40 bytes");

// MurmurHash2 (Austin Appleby, public domain) with seed 0, which libudev's
// in-socket filters compare subsystem and device type against.
uint32_t murmurHash2(const std::string &text)
{
    constexpr uint32_t m = 0x5bd1e995;
    constexpr int r = 24;
    size_t len = text.size();
    uint32_t h = uint32_t(len);
    const auto *data = reinterpret_cast<const unsigned char *>(text.data());
    while (len >= 4) {
        uint32_t k;
        std::memcpy(&k, data, 4);
        k *= m;
        k ^= k >> r;
        k *= m;
        h *= m;
        h ^= k;
        data += 4;
        len -= 4;
    }
    switch (len) {
    case 3:
        h ^= uint32_t(data[2]) << 16;
        [[fallthrough]];
    case 2:
        h ^= uint32_t(data[1]) << 8;
        [[fallthrough]];
    case 1:
        h ^= data[0];
        h *= m;
    }
    h ^= h >> 13;
    h *= m;
    h ^= h >> 15;
    return h;
}

std::vector<std::string> listeners(const std::string &root)
{
    std::vector<std::string> paths;
    const std::string pattern = root + "/event[0-9]*";
    glob_t found{};
    if (glob(pattern.c_str(), GLOB_NOSORT, nullptr, &found) == 0)
        for (size_t i = 0; i < found.gl_pathc; ++i)
            paths.emplace_back(found.gl_pathv[i]);
    globfree(&found);
    return paths;
}

struct DeviceProperties
{
    std::string subsystem;
    std::string devname;
    std::string devtype;
};

// Read from the testbed's own files, so that a process without the preload
// (the demo's emulator) announces its devices as well as a preloaded one.
bool readProperties(const std::string &dir, DeviceProperties *out)
{
    char target[4096];
    const ssize_t n = readlink((dir + "/subsystem").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return false;
    target[n] = '\0';
    const char *slash = std::strrchr(target, '/');
    out->subsystem = slash ? slash + 1 : target;

    std::ifstream uevent(dir + "/uevent");
    std::string line;
    while (std::getline(uevent, line)) {
        if (line.rfind("DEVNAME=", 0) == 0)
            out->devname = line.substr(8);
        else if (line.rfind("DEVTYPE=", 0) == 0)
            out->devtype = line.substr(8);
    }
    if (!out->devname.empty() && out->devname.rfind("/dev/", 0) != 0)
        out->devname = "/dev/" + out->devname;
    return true;
}

void appendProperty(std::string *buffer, const char *key, const std::string &value)
{
    buffer->append(key);
    buffer->append(value);
    buffer->push_back('\0');
}

bool sendTo(const std::string &path, const MonitorHeader &header, const std::string &properties)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0)
        return false;
    bool sent = false;
    if (connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) < 0) {
        // The monitor behind it is closed: nobody will bind this name again.
        if (errno == ECONNREFUSED)
            unlink(path.c_str());
    } else {
        iovec parts[2] = {{const_cast<MonitorHeader *>(&header), sizeof header},
                          {const_cast<char *>(properties.data()), properties.size()}};
        msghdr message{};
        message.msg_iov = parts;
        message.msg_iovlen = 2;
        // A listener that closes now, or whose queue is full, misses this
        // one event, as it would miss it from the kernel.
        sent = sendmsg(fd, &message, MSG_NOSIGNAL) >= 0;
    }
    close(fd);
    return sent;
}

// Announces the device at syspath to every listener of the testbed under
// root; its sysfs directory must still exist.
void sendUevent(const std::string &root, const std::string &syspath, const char *action)
{
    static std::atomic<uint64_t> sequence{1};
    DeviceProperties device;
    if (!readProperties(root + syspath, &device)) {
        debugLog("uevent: no such device %s", syspath.c_str());
        return;
    }
    std::string properties;
    appendProperty(&properties, "ACTION=", action);
    appendProperty(&properties, "DEVPATH=", syspath.rfind("/sys", 0) == 0 ? syspath.substr(4) : syspath);
    appendProperty(&properties, "SUBSYSTEM=", device.subsystem);
    appendProperty(&properties, "SEQNUM=", std::to_string(sequence++));
    if (!device.devname.empty())
        appendProperty(&properties, "DEVNAME=", device.devname);
    if (!device.devtype.empty())
        appendProperty(&properties, "DEVTYPE=", device.devtype);

    MonitorHeader header{};
    std::memcpy(header.prefix, "libudev", 8);
    header.magic = htonl(kMonitorMagic);
    header.headerSize = sizeof header;
    header.propertiesOffset = sizeof header;
    header.propertiesLength = uint32_t(properties.size());
    header.subsystemHash = htonl(murmurHash2(device.subsystem));
    if (!device.devtype.empty())
        header.devtypeHash = htonl(murmurHash2(device.devtype));

    for (const std::string &path : listeners(root))
        sendTo(path, header, properties);
}

// Renames the listener sockets out of umockdev's sight for its lifetime, so
// that the library's implicit "add" uevents reach nobody.
class HiddenListeners
{
public:
    explicit HiddenListeners(const std::string &root)
    {
        for (const std::string &visible : listeners(root)) {
            const size_t slash = visible.rfind('/');
            std::string hidden = visible.substr(0, slash + 1) + kHiddenPrefix + visible.substr(slash + 1);
            if (rename(visible.c_str(), hidden.c_str()) == 0)
                moved_.emplace_back(visible, std::move(hidden));
        }
    }

    ~HiddenListeners()
    {
        for (const auto &[visible, hidden] : moved_) {
            // A monitor opened meanwhile may have taken the name; the hidden
            // socket then belonged to one since closed.
            if (renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, visible.c_str(), RENAME_NOREPLACE) != 0)
                unlink(hidden.c_str());
        }
    }

private:
    std::vector<std::pair<std::string, std::string>> moved_; // visible name, hidden name
};

// The "P:" device paths of a umockdev record, as sysfs paths, in order.
std::vector<std::string> recordDevicePaths(const std::string &record)
{
    std::vector<std::string> paths;
    std::istringstream lines(record);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("P: ", 0) == 0)
            paths.push_back("/sys" + line.substr(3));
    return paths;
}

} // namespace

std::unique_ptr<Testbed> Testbed::create(std::string *error)
{
    const char *tmp = getenv("TMPDIR");
    if (tmp && strlen(tmp) > kMaxTmpDirLength)
        setenv("TMPDIR", "/tmp", 1);
    sweepStaleDirectories();
    UMockdevTestbed *testbed = umockdev_testbed_new();
    if (!testbed) {
        *error = "cannot create the umockdev testbed";
        return nullptr;
    }
    gchar *root = umockdev_testbed_get_root_dir(testbed);
    std::string rootDir = root;
    g_free(root);
    writeOwnerFile(rootDir);
    registerTestbedDirectory(rootDir);
    return std::unique_ptr<Testbed>(new Testbed(testbed, rootDir));
}

Testbed::Testbed(UMockdevTestbed *testbed, std::string root) : testbed_(testbed), root_(std::move(root)) {}

Testbed::~Testbed()
{
    g_object_unref(testbed_);
    unregisterTestbedDirectory(root_);
}

bool Testbed::addFromString(const std::string &record, std::string *error)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    GError *gerror = nullptr;
    bool added;
    {
        HiddenListeners hidden(root_);
        added = umockdev_testbed_add_from_string(testbed_, record.c_str(), &gerror);
    }
    if (!added) {
        *error = gerror ? gerror->message : "invalid device record";
        g_clear_error(&gerror);
        return false;
    }
    for (const std::string &syspath : recordDevicePaths(record))
        sendUevent(root_, syspath, "add");
    return true;
}

void Testbed::removeDevice(const std::string &syspath)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    sendUevent(root_, syspath, "remove");
    umockdev_testbed_remove_device(testbed_, syspath.c_str());
}

std::string Testbed::hex(const std::vector<uint8_t> &bytes)
{
    std::string s;
    for (uint8_t b : bytes) {
        s += "0123456789ABCDEF"[b >> 4];
        s += "0123456789ABCDEF"[b & 0x0F];
    }
    return s;
}

bool Testbed::linkDevNode(const std::string &devnode, const std::string &target, std::string *error)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const std::string path = root_ + devnode;
    gchar *dir = g_path_get_dirname(path.c_str());
    g_mkdir_with_parents(dir, 0755);
    g_free(dir);
    unlink(path.c_str());
    if (symlink(target.c_str(), path.c_str()) != 0) {
        *error = "cannot create " + path + ": " + strerror(errno);
        return false;
    }
    return true;
}

bool Testbed::attachIoctl(const std::string &devnode, UMockdevIoctlBase *handler, std::string *error)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    GError *gerror = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, devnode.c_str(), handler, &gerror)) {
        *error = gerror ? gerror->message : "cannot attach the ioctl handler";
        g_clear_error(&gerror);
        return false;
    }
    return true;
}

void Testbed::detachIoctl(const std::string &devnode)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    GError *gerror = nullptr;
    if (!umockdev_testbed_detach_ioctl(testbed_, devnode.c_str(), &gerror))
        g_clear_error(&gerror);
}

int Testbed::nextDeviceNumber()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const int n = nextDevnum_;
    nextDevnum_ = nextDevnum_ >= 127 ? 2 : nextDevnum_ + 1;
    return n;
}

int Testbed::nextHidInstance()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    const int n = nextHidInstance_;
    nextHidInstance_ = nextHidInstance_ >= 0xFFFF ? 1 : nextHidInstance_ + 1;
    return n;
}

int Testbed::acquireHidrawIndex()
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    for (size_t i = 0; i < hidrawInUse_.size(); ++i) {
        if (!hidrawInUse_[i]) {
            hidrawInUse_[i] = true;
            return static_cast<int>(i);
        }
    }
    hidrawInUse_.push_back(true);
    return static_cast<int>(hidrawInUse_.size() - 1);
}

void Testbed::releaseHidrawIndex(int index)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    if (index >= 0 && static_cast<size_t>(index) < hidrawInUse_.size())
        hidrawInUse_[static_cast<size_t>(index)] = false;
}

} // namespace wheelemu
