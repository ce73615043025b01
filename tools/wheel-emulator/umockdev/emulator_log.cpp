#include "emulator_log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace wheelemu {

namespace {
std::atomic<int> enabled{-1}; // -1: not decided yet
}

void setDebugLog(bool on)
{
    enabled.store(on ? 1 : 0);
}

bool debugLogEnabled()
{
    int state = enabled.load();
    if (state < 0) {
        const char *env = getenv("WHEEL_EMULATOR_DEBUG");
        state = env && *env && *env != '0' ? 1 : 0;
        enabled.store(state);
    }
    return state == 1;
}

void debugLog(const char *format, ...)
{
    if (!debugLogEnabled())
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stderr, "wheel-emulator: %s\n", line);
}

} // namespace wheelemu
