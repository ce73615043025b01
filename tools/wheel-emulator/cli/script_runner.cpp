#include "script_runner.h"

#include "command_interpreter.h"

#include <cstdlib>
#include <sstream>

namespace wheelemu {

bool parseScript(const std::string &text, std::vector<ScriptLine> *lines, std::string *error)
{
    std::istringstream in(text);
    std::string line;
    int number = 0;
    lines->clear();
    while (std::getline(in, line)) {
        ++number;
        std::vector<std::string> words = splitCommand(line);
        if (words.empty())
            continue;
        char *end = nullptr;
        const double seconds = strtod(words[0].c_str(), &end);
        if (*end != '\0' || seconds < 0 || words.size() < 2) {
            if (error)
                *error = "line " + std::to_string(number) + ": expected \"SECONDS COMMAND\"";
            return false;
        }
        std::string command;
        for (size_t i = 1; i < words.size(); ++i)
            command += (i > 1 ? " " : "") + words[i];
        lines->push_back(
            {std::chrono::milliseconds(static_cast<long long>(seconds * 1000.0 + 0.5)), command, number});
    }
    return true;
}

} // namespace wheelemu
