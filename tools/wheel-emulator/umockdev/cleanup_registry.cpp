#include "cleanup_registry.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <set>
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

void writeOwnerFile(const std::string &directory)
{
    const std::string path = directory + "/" + kOwnerFile;
    if (FILE *f = fopen(path.c_str(), "w")) {
        fprintf(f, "%ld\n", static_cast<long>(getpid()));
        fclose(f);
    }
}

void sweepStaleDirectories()
{
    std::set<std::string> places = {"/tmp"};
    if (const char *tmp = getenv("TMPDIR")) {
        std::string dir = tmp;
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        places.insert(dir);
        const size_t slash = dir.rfind('/');
        if (slash != std::string::npos && slash > 0)
            places.insert(dir.substr(0, slash));
    }
    for (const std::string &place : places) {
        DIR *dir = opendir(place.c_str());
        if (!dir)
            continue;
        while (struct dirent *entry = readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.rfind("umockdev.", 0) != 0 && name.rfind("with-wheel.", 0) != 0 &&
                name.rfind("wheeltest.", 0) != 0)
                continue;
            const std::string path = place + "/" + name;
            FILE *f = fopen((path + "/" + kOwnerFile).c_str(), "r");
            if (!f)
                continue; // not ours, or its owner has not written it yet
            long pid = 0;
            const bool read = fscanf(f, "%ld", &pid) == 1;
            fclose(f);
            if (read && pid > 0 && kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
                removeTree(path.c_str());
        }
        closedir(dir);
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
