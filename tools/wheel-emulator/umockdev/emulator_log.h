// Diagnostics of the emulator itself, for whoever debugs a test: off unless
// WHEEL_EMULATOR_DEBUG is set. Never part of what a test checks.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace wheelemu {

__attribute__((format(printf, 1, 2))) inline void debugLog(const char *format, ...)
{
    static const bool on = [] {
        const char *env = getenv("WHEEL_EMULATOR_DEBUG");
        return env && *env && *env != '0';
    }();
    if (!on)
        return;
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line, format, args);
    va_end(args);
    fprintf(stderr, "wheel-emulator: %s\n", line); // one write, so lines from threads do not mix
}

} // namespace wheelemu
