// --script FILE: timed control lines for demos and manual checks.
//
//   # comment
//   0.5  press 3        seconds after the start, then a command
//   1.0  release 3
//   4.0  loop           start again from the top (times count afresh)
//
// Lines run in file order; a time earlier than the line before it runs at
// once after it.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace wheelemu {

struct ScriptLine
{
    std::chrono::milliseconds at;
    std::string command; // "loop" restarts the script
    int lineNumber;
};

// False with *error naming the line when a line has no valid time.
bool parseScript(const std::string &text, std::vector<ScriptLine> *lines, std::string *error);

} // namespace wheelemu
