#include "uevent_sender.h"

#include "emulator_log.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdio>
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

} // namespace

int sendUevent(const std::string &root, const std::string &syspath, const char *action)
{
    static std::atomic<uint64_t> sequence{1};
    DeviceProperties device;
    if (!readProperties(root + syspath, &device)) {
        debugLog("uevent: no such device %s", syspath.c_str());
        return 0;
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

    int reached = 0;
    for (const std::string &path : listeners(root))
        reached += sendTo(path, header, properties) ? 1 : 0;
    return reached;
}

HiddenListeners::HiddenListeners(const std::string &root)
{
    for (const std::string &visible : listeners(root)) {
        const size_t slash = visible.rfind('/');
        std::string hidden = visible.substr(0, slash + 1) + kHiddenPrefix + visible.substr(slash + 1);
        if (rename(visible.c_str(), hidden.c_str()) == 0)
            moved_.emplace_back(visible, std::move(hidden));
    }
}

HiddenListeners::~HiddenListeners()
{
    for (const auto &[visible, hidden] : moved_) {
        // A monitor opened meanwhile may have taken the name; the hidden
        // socket then belonged to one since closed.
        if (renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, visible.c_str(), RENAME_NOREPLACE) != 0)
            unlink(hidden.c_str());
    }
}

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

} // namespace wheelemu
