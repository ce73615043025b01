// The umockdev preload library: every process that owns or uses an emulated
// device must run with it (the emulator too, or uevents do not cross to
// other processes). These helpers put a process under it.
#pragma once

#include <string>

namespace wheelemu {

constexpr const char *kPreloadLibrary = "libumockdev-preload.so.0";

// True when LD_PRELOAD names the umockdev preload library.
bool preloadActive();

// Adds the preload library in front of LD_PRELOAD, and, because an
// AddressSanitizer runtime then no longer comes first, tells ASan not to
// insist on it. Affects this process's environment (for exec and children).
void addPreloadToEnvironment();

// Replaces this process with itself under the preload library unless it is
// already there. Returns only on failure, with *error set.
bool reexecUnderPreload(char **argv, std::string *error);

} // namespace wheelemu
