// Owner of the umockdev testbed: the sysfs tree, /dev nodes and ioctl sockets
// that the preload library shows to hidapi and libusb in place of the real
// ones. One per emulator; every kind of emulated device (the wheel's hidraw
// chain, the boot loader's USB node) adds and removes itself through it.
//
// umockdev.h is deliberately not included here, so that Qt code can use this
// header in any order.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace wheelemu {

class Testbed
{
public:
    using Pairs = std::vector<std::pair<std::string, std::string>>;

    // Creates the testbed directory under $TMPDIR (or /tmp when $TMPDIR is so
    // long that the ioctl socket paths would not fit 108 characters) and sets
    // UMOCKDEV_DIR for this process. nullptr and *error on failure.
    static std::unique_ptr<Testbed> create(std::string *error);
    // Removes the directory with everything in it.
    ~Testbed();
    Testbed(const Testbed &) = delete;
    Testbed &operator=(const Testbed &) = delete;

    const std::string &root() const { return root_; }

    // Adds a device at /sys/devices/<path>. Nested paths are given in full,
    // without a parent, which works in processes without the preload too.
    // Returns the device's sysfs path ("/sys/devices/..."); announces nothing:
    // call uevent(path, "add") once the device is ready.
    std::string addDevice(const std::string &subsystem, const std::string &path, const Pairs &attributes,
                          const Pairs &properties);
    void setBinaryAttribute(const std::string &syspath, const std::string &name,
                            const std::vector<uint8_t> &value);
    void setLink(const std::string &syspath, const std::string &name, const std::string &target);
    // umockdev's record format; the only way to get a USB device node (N:).
    // Announces every device of the record.
    bool addFromString(const std::string &record, std::string *error);
    // Sends "remove" first: umockdev's own removal announces nothing.
    void removeDevice(const std::string &syspath);
    void uevent(const std::string &syspath, const char *action);

    // Makes /dev/<name> inside the testbed a symbolic link to target (a pty).
    bool linkDevNode(const std::string &devnode, const std::string &target, std::string *error);
    bool attachIoctl(const std::string &devnode, UMockdevIoctlBase *handler, std::string *error);
    void detachIoctl(const std::string &devnode);

    // USB device numbers on bus 1 count up with every enumeration, as the
    // kernel's do; so do the instance numbers in HID device names.
    int nextDeviceNumber();
    int nextHidInstance();
    // hidraw minors: the lowest free one, as the kernel hands them out.
    int acquireHidrawIndex();
    void releaseHidrawIndex(int index);

private:
    Testbed(UMockdevTestbed *testbed, std::string root);

    std::recursive_mutex mutex_;
    UMockdevTestbed *testbed_;
    std::string root_;
    int nextDevnum_ = 2; // 1 is the root hub
    int nextHidInstance_ = 1;
    std::vector<bool> hidrawInUse_;
};

} // namespace wheelemu
