// The emulator's line commands, sent on the control socket, listed in
// --script and sent by tests: "press 3", "paddle 0 4096", "fault write 2".
// tools/README.md lists them all.
#pragma once

#include <string>
#include <vector>

namespace wheelemu {

class Emulator;

struct CommandResult
{
    bool ok = false;
    std::string message; // for ok: extra text (may be empty); else why not
};

CommandResult executeCommand(Emulator &emulator, const std::string &line);

// Splits at blanks; a word starting with # begins a comment.
std::vector<std::string> splitCommand(const std::string &line);

// Decimal or 0x-prefixed hexadecimal, within [min, max].
bool parseNumber(const std::string &text, long min, long max, long *value);

} // namespace wheelemu
