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
#include <vector>

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;

namespace wheelemu {

class Testbed
{
public:
    // Creates the testbed directory under $TMPDIR (or /tmp when $TMPDIR is so
    // long that the ioctl socket paths would not fit 108 characters) and sets
    // UMOCKDEV_DIR for this process. nullptr and *error on failure.
    static std::unique_ptr<Testbed> create(std::string *error);
    // Removes the directory with everything in it.
    ~Testbed();
    Testbed(const Testbed &) = delete;
    Testbed &operator=(const Testbed &) = delete;

    const std::string &root() const { return root_; }

    // Adds the devices of a record in umockdev's format ("P: /devices/...",
    // one device after another, each a path of its own), then announces them
    // in that order.
    bool addFromString(const std::string &record, std::string *error);
    // Sends "remove" first: umockdev's own removal announces nothing.
    void removeDevice(const std::string &syspath);
    // Bytes as the record's H: and N: lines take them: upper-case hex.
    static std::string hex(const std::vector<uint8_t> &bytes);

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
