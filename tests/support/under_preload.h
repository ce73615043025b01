// Puts a test binary under the umockdev preload library, which every process
// that owns or opens an emulated device needs.
#pragma once

namespace wheeltest {

// Call first thing in main(), before any thread exists.
//
// Without the preload (a plain ctest run), this runs the same program again
// as a child under it, with TMPDIR pointing at a private directory, forwards
// SIGTERM/SIGINT/SIGHUP to it, removes that directory with whatever the child
// left in it (also when the child crashed or was killed), and exits with the
// child's status. In the child, or when the preload is already there, it
// returns at once and arranges for the testbed to be removed if a signal
// stops the test.
//
// The child is never a session leader, so the pty behind an emulated hidraw
// node (hidapi opens it without O_NOCTTY) cannot become its controlling
// terminal.
void runUnderPreload(int argc, char **argv);

} // namespace wheeltest
