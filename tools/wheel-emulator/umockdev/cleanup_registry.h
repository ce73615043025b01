// Testbed directories that must not outlive the process. The normal path
// removes them in ~Testbed; these functions cover a process that is told to
// stop by a signal while a testbed exists (a test killed by its time-out,
// Ctrl+C in a terminal).
#pragma once

#include <string>

namespace wheelemu {

void registerTestbedDirectory(const std::string &path);
void unregisterTestbedDirectory(const std::string &path);

// Installs handlers for SIGTERM, SIGINT, SIGHUP, SIGABRT and SIGUSR1 that
// remove every registered directory and then die of the same signal. Only
// for processes that have no orderly way to stop on those signals (a test
// binary); the standalone emulator stops through its event loop instead.
void installSignalCleanup();

// Removes every registered directory now; async-signal-safe.
void removeRegisteredDirectories();

// Removes a directory tree without allocating; async-signal-safe.
void removeTree(const char *path);

// A process killed outright (SIGKILL, as ctest does on a time-out) cannot
// clean up. Its directories carry an owner file with its pid; the next
// emulator removes those whose owner is gone.
constexpr const char *kOwnerFile = "wheelemu-owner";
void writeOwnerFile(const std::string &directory);
// Looks in $TMPDIR, its parent and /tmp for "umockdev.*", "with-wheel.*" and
// "wheeltest.*" directories with an owner file naming a process that no
// longer exists, and removes them.
void sweepStaleDirectories();

} // namespace wheelemu
