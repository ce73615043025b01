// Hotplug announcements to the processes that watch the testbed.
//
// A process under the umockdev preload that opens a udev monitor (libusb's
// hotplug thread, for one) listens on a Unix socket "<root>/event<fd>". The
// library's own sender aborts the whole emulator when such a listener closes
// between its connect() and its sendmsg(), which is just what a host does when
// it exits right after the request that makes a device leave the bus (a DFU
// flash ending in a reset). So the testbed sends its uevents itself, with the
// same message the library builds, and takes a vanished listener in its
// stride. While umockdev adds devices, the listeners are hidden from it.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace wheelemu {

// Announces the device at syspath ("/sys/devices/...") with action ("add",
// "remove", "change") to every listener of the testbed under root. The
// device's sysfs directory must still exist. Returns the number of listeners
// reached.
int sendUevent(const std::string &root, const std::string &syspath, const char *action);

// Renames the listener sockets out of umockdev's sight for its lifetime, so
// that the library's implicit "add" uevents reach nobody; the caller then
// announces the devices with sendUevent.
class HiddenListeners
{
public:
    explicit HiddenListeners(const std::string &root);
    ~HiddenListeners();
    HiddenListeners(const HiddenListeners &) = delete;
    HiddenListeners &operator=(const HiddenListeners &) = delete;

private:
    std::vector<std::pair<std::string, std::string>> moved_; // visible name, hidden name
};

// The "P:" device paths of a umockdev record, as sysfs paths, in order.
std::vector<std::string> recordDevicePaths(const std::string &record);

} // namespace wheelemu
