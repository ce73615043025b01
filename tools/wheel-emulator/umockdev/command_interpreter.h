// The emulator's line commands, as typed into --control, listed in --script
// and sent by tests: "press 3", "paddle 0 4096", "fault get-feature 2",
// "wheel 2 unplug". tools/README.md lists them all.
#pragma once

#include <string>
#include <vector>

namespace wheelemu {

class Emulator;

struct CommandResult
{
    bool ok = false;
    std::string message; // for ok: extra text (may be empty); else why not
    bool quit = false;   // the "quit" command: the front end stops
};

CommandResult executeCommand(Emulator &emulator, const std::string &line);

// "name args - what it does" for every command, for --help and "help".
std::vector<std::string> commandHelp();

// Splits at blanks; a word starting with # begins a comment.
std::vector<std::string> splitCommand(const std::string &line);

// Decimal or 0x-prefixed hexadecimal, within [min, max].
bool parseNumber(const std::string &text, long min, long max, long *value);

} // namespace wheelemu
