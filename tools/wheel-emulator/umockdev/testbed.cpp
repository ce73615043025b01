#include <umockdev.h>

#include "testbed.h"

#include "cleanup_registry.h"
#include "uevent_sender.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace wheelemu {

namespace {
// The longest ioctl socket path is <root>/ioctl/dev/bus/usb/001/NNN; a Unix
// socket path holds at most 107 characters.
constexpr size_t kMaxTmpDirLength = 60;

std::vector<const char *> flatten(const Testbed::Pairs &pairs)
{
    std::vector<const char *> out;
    for (const auto &p : pairs) {
        out.push_back(p.first.c_str());
        out.push_back(p.second.c_str());
    }
    out.push_back(nullptr);
    return out;
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
        if (error)
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

std::string Testbed::addDevice(const std::string &subsystem, const std::string &path, const Pairs &attributes,
                               const Pairs &properties)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    std::vector<const char *> attrs = flatten(attributes);
    std::vector<const char *> props = flatten(properties);
    // The caller announces the device once it is complete.
    HiddenListeners hidden(root_);
    gchar *syspath =
        umockdev_testbed_add_devicev(testbed_, subsystem.c_str(), path.c_str(), nullptr,
                                     const_cast<gchar **>(attrs.data()), const_cast<gchar **>(props.data()));
    std::string result = syspath ? syspath : "";
    g_free(syspath);
    return result;
}

void Testbed::setBinaryAttribute(const std::string &syspath, const std::string &name,
                                 const std::vector<uint8_t> &value)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    umockdev_testbed_set_attribute_binary(testbed_, syspath.c_str(), name.c_str(),
                                          const_cast<guint8 *>(value.data()),
                                          static_cast<gint>(value.size()));
}

void Testbed::setLink(const std::string &syspath, const std::string &name, const std::string &target)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    umockdev_testbed_set_attribute_link(testbed_, syspath.c_str(), name.c_str(), target.c_str());
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
        if (error)
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

void Testbed::uevent(const std::string &syspath, const char *action)
{
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    sendUevent(root_, syspath, action);
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
        if (error)
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
        if (error)
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
