#include "cleanup_registry.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace wheelemu {

namespace {
constexpr int kSlots = 8;
constexpr size_t kPathMax = 256;

struct Slot
{
    std::atomic<int> state{0}; // 0 free, 1 being written, 2 in use
    char path[kPathMax];
};
Slot slots[kSlots];

struct LinuxDirent64
{
    uint64_t ino;
    int64_t off;
    unsigned short reclen;
    unsigned char type;
    char name[];
};

void removeAt(int parent, const char *name, int depth)
{
    if (unlinkat(parent, name, 0) == 0 || depth > 32)
        return;
    const int dir = openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0)
        return;
    alignas(8) char buffer[4096];
    for (;;) {
        const long n = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (long pos = 0; pos < n;) {
            auto *entry = reinterpret_cast<LinuxDirent64 *>(buffer + pos);
            pos += entry->reclen;
            if (strcmp(entry->name, ".") != 0 && strcmp(entry->name, "..") != 0)
                removeAt(dir, entry->name, depth + 1);
        }
    }
    close(dir);
    unlinkat(parent, name, AT_REMOVEDIR);
}

void onFatalSignal(int signo)
{
    removeRegisteredDirectories();
    signal(signo, SIG_DFL);
    raise(signo);
}
} // namespace

void registerTestbedDirectory(const std::string &path)
{
    if (path.size() >= kPathMax)
        return;
    for (Slot &slot : slots) {
        int expected = 0;
        if (slot.state.compare_exchange_strong(expected, 1)) {
            memcpy(slot.path, path.c_str(), path.size() + 1);
            slot.state.store(2);
            return;
        }
    }
}

void unregisterTestbedDirectory(const std::string &path)
{
    for (Slot &slot : slots) {
        if (slot.state.load() == 2 && path == slot.path) {
            slot.state.store(0);
            return;
        }
    }
}

void removeTree(const char *path)
{
    removeAt(AT_FDCWD, path, 0);
}

void removeRegisteredDirectories()
{
    for (Slot &slot : slots) {
        int expected = 2;
        if (slot.state.compare_exchange_strong(expected, 1)) {
            removeTree(slot.path);
            slot.state.store(0);
        }
    }
}

void installSignalCleanup()
{
    struct sigaction action;
    memset(&action, 0, sizeof action);
    action.sa_handler = onFatalSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (int signo : {SIGTERM, SIGINT, SIGHUP, SIGABRT, SIGUSR1})
        sigaction(signo, &action, nullptr);
}

} // namespace wheelemu
