#pragma once

#include "quorctl/command_line.h"

// One function per command; each returns quorctl's exit code and has
// already told the user what went wrong.
int runStatus();
int runBackup(const CommandLine &line);
int runRestore(const CommandLine &line);
int runLedPreset(const CommandLine &line);
int runLedSet(const CommandLine &line);
int runFlash(const CommandLine &line);
int runWatch(const CommandLine &line);
