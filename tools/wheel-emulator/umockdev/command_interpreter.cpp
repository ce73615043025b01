#include "command_interpreter.h"

#include "emulator.h"

#include <cerrno>
#include <cstdlib>
#include <sstream>

namespace wheelemu {

namespace {

using Args = std::vector<std::string>;

CommandResult fail(std::string why)
{
    return {false, std::move(why)};
}

CommandResult buttons(Emulator &e, const Args &args, bool down)
{
    std::vector<int> numbers;
    for (int b = 1; !down && args == Args{"all"} && b <= 64; ++b)
        numbers.push_back(b);
    for (const std::string &a : numbers.empty() ? args : Args{}) {
        long n;
        if (!parseNumber(a, 1, 64, &n))
            return fail("button numbers run from 1 to 64, not \"" + a + "\"");
        numbers.push_back(int(n));
    }
    e.wheel(0)->changeButtons(down ? numbers : std::vector<int>{}, down ? std::vector<int>{} : numbers);
    return {true, {}};
}

CommandResult paddle(Emulator &e, const Args &args)
{
    long left, right;
    if (!parseNumber(args[0], 0, 65535, &left) || !parseNumber(args[1], 0, 65535, &right))
        return fail("paddle positions run from 0 to 65535");
    e.wheel(0)->setPaddles(uint16_t(left), uint16_t(right));
    return {true, {}};
}

CommandResult fault(Emulator &e, const Args &args)
{
    long n = 1;
    if (args.size() > 1 && !parseNumber(args[1], 1, 1000000, &n))
        return fail("the count must be a positive number");
    static const std::pair<const char *, int HidrawDevice::Faults::*> kKinds[] = {
        {"get-feature", &HidrawDevice::Faults::getFeature},
        {"set-feature", &HidrawDevice::Faults::setFeature},
        {"read", &HidrawDevice::Faults::read},
        {"write", &HidrawDevice::Faults::write},
    };
    for (const auto &[name, field] : kKinds) {
        if (args[0] == name) {
            HidrawDevice::Faults faults;
            faults.*field = int(n);
            e.wheel(0)->addFaults(faults);
            return {true, {}};
        }
    }
    return fail("faults: get-feature, set-feature, read, write");
}

CommandResult addWheel(Emulator &e, const Args &args)
{
    WheelSetup setup;
    setup.model = args[0];
    std::string why;
    const int index = e.addWheel(setup, &why);
    return index < 0 ? fail(why) : CommandResult{true, "wheel " + std::to_string(index + 1)};
}

CommandResult removeWheel(Emulator &e, const Args &args)
{
    long n;
    if (!parseNumber(args[0], 2, 64, &n))
        return fail("the first wheel stays; remove wheel 2 or later");
    std::string why;
    return e.removeWheel(size_t(n - 1), &why) ? CommandResult{true, {}} : fail(why);
}

struct Command
{
    const char *name;
    size_t minArgs, maxArgs;
    CommandResult (*run)(Emulator &, const Args &);
};

const Command kCommands[] = {
    {"press", 1, 64,
     [](Emulator &e, const Args &a) {
         return buttons(e, a, true);
     }},
    {"release", 1, 64,
     [](Emulator &e, const Args &a) {
         return buttons(e, a, false);
     }},
    {"paddle", 2, 2, paddle},
    {"unplug", 0, 0,
     [](Emulator &e, const Args &) {
         std::string why;
         return e.unplug(0, &why) ? CommandResult{true, {}} : fail(why);
     }},
    {"plug", 0, 0,
     [](Emulator &e, const Args &) {
         std::string why;
         return e.plug(0, &why) ? CommandResult{true, {}} : fail(why);
     }},
    {"fault", 1, 2, fault},
    {"add-wheel", 1, 1, addWheel},
    {"remove-wheel", 1, 1, removeWheel},
};

} // namespace

std::vector<std::string> splitCommand(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word && word[0] != '#') // the rest of the line is a comment
        words.push_back(word);
    return words;
}

bool parseNumber(const std::string &text, long min, long max, long *value)
{
    char *end = nullptr;
    errno = 0;
    const long long n = strtoll(text.c_str(), &end, 0);
    if (text.empty() || errno != 0 || *end != '\0' || n < min || n > max)
        return false;
    *value = long(n);
    return true;
}

CommandResult executeCommand(Emulator &emulator, const std::string &line)
{
    const Args words = splitCommand(line);
    if (words.empty())
        return {true, {}};
    for (const Command &c : kCommands) {
        const Args args(words.begin() + 1, words.end());
        if (words[0] == c.name)
            return args.size() < c.minArgs || args.size() > c.maxArgs
                       ? fail(std::string("wrong arguments to ") + c.name)
                       : c.run(emulator, args);
    }
    return fail("unknown command \"" + words[0] + "\"");
}

} // namespace wheelemu
