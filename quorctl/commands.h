#pragma once

#include "quorctl/command_line.h"

struct WheelProfile;

// One function per command; each returns quorctl's exit code and has
// already told the user what went wrong.
int runStatus();
int runBackup(const CommandLine &line);
int runRestore(const CommandLine &line);
int runLedPreset(const CommandLine &line);
int runLedSet(const CommandLine &line);
int runFlash(const CommandLine &line);
int runWatch(const CommandLine &line);

// Writes a profile fitted to the open wheel with the save marker, reads it
// back and lists what the wheel did not keep; an exit code.
int writeAndCheck(const WheelProfile &wanted);
