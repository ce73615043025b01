#include "preload.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace wheelemu {

bool preloadActive()
{
    const char *preload = getenv("LD_PRELOAD");
    return preload && strstr(preload, "libumockdev-preload") != nullptr;
}

void addPreloadToEnvironment()
{
    if (!preloadActive()) {
        const char *old = getenv("LD_PRELOAD");
        std::string value = kPreloadLibrary;
        if (old && *old)
            value += std::string(":") + old;
        setenv("LD_PRELOAD", value.c_str(), 1);
    }
    const char *asan = getenv("ASAN_OPTIONS");
    if (!asan || !strstr(asan, "verify_asan_link_order")) {
        std::string value = "verify_asan_link_order=0";
        if (asan && *asan)
            value = std::string(asan) + ":" + value;
        setenv("ASAN_OPTIONS", value.c_str(), 1);
    }
}

bool reexecUnderPreload(char **argv, std::string *error)
{
    if (preloadActive())
        return true;
    addPreloadToEnvironment();
    execv("/proc/self/exe", argv);
    if (error)
        *error = std::string("cannot restart under ") + kPreloadLibrary + ": " + strerror(errno);
    return false;
}

} // namespace wheelemu
