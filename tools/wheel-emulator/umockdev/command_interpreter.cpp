#include "command_interpreter.h"

#include "emulator.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <sstream>

namespace wheelemu {

namespace {

using Args = std::vector<std::string>;

struct Context
{
    Emulator &emulator;
    size_t wheel; // 0-based
    const Args &args;
};

CommandResult fail(std::string why)
{
    return CommandResult{false, std::move(why), false};
}
CommandResult done(std::string text = {})
{
    return CommandResult{true, std::move(text), false};
}

HidrawDevice *target(Context &c, CommandResult *error)
{
    HidrawDevice *w = c.emulator.wheel(c.wheel);
    if (!w)
        *error = fail("no wheel " + std::to_string(c.wheel + 1));
    return w;
}

CommandResult buttons(Context &c, bool down)
{
    CommandResult error;
    HidrawDevice *w = target(c, &error);
    if (!w)
        return error;
    std::vector<int> numbers;
    if (!down && c.args.size() == 1 && c.args[0] == "all") {
        for (int b = 1; b <= 64; ++b)
            numbers.push_back(b);
    } else {
        for (const std::string &a : c.args) {
            long n;
            if (!parseNumber(a, 1, 64, &n))
                return fail("button numbers run from 1 to 64, not \"" + a + "\"");
            numbers.push_back(static_cast<int>(n));
        }
    }
    if (down)
        w->changeButtons(numbers, {});
    else
        w->changeButtons({}, numbers);
    return done();
}

CommandResult press(Context &c)
{
    return buttons(c, true);
}
CommandResult release(Context &c)
{
    return buttons(c, false);
}

CommandResult paddle(Context &c)
{
    CommandResult error;
    HidrawDevice *w = target(c, &error);
    if (!w)
        return error;
    long left, right;
    if (!parseNumber(c.args[0], 0, 65535, &left) || !parseNumber(c.args[1], 0, 65535, &right))
        return fail("paddle positions run from 0 to 65535");
    w->setPaddles(static_cast<uint16_t>(left), static_cast<uint16_t>(right));
    return done();
}

CommandResult rate(Context &c)
{
    long n;
    if (!parseNumber(c.args[0], 0, InputStreamer::kMaxRate, &n))
        return fail("the rate runs from 0 (on change) to 8000 reports per second");
    c.emulator.setInputRate(static_cast<int>(n));
    return done();
}

CommandResult report(Context &c)
{
    CommandResult error;
    HidrawDevice *w = target(c, &error);
    if (!w)
        return error;
    long n = 1;
    if (!c.args.empty() && !parseNumber(c.args[0], 1, 64, &n))
        return fail("between 1 and 64 reports at a time");
    w->queueInputReports(static_cast<int>(n));
    return done();
}

CommandResult unplug(Context &c)
{
    std::string why;
    return c.emulator.unplug(c.wheel, &why) ? done() : fail(why);
}

CommandResult plug(Context &c)
{
    std::string why;
    return c.emulator.plug(c.wheel, &why) ? done() : fail(why);
}

CommandResult replug(Context &c)
{
    long ms = 500;
    if (!c.args.empty() && !parseNumber(c.args[0], 0, 600000, &ms))
        return fail("the pause is given in milliseconds");
    std::string why;
    if (!c.emulator.unplug(c.wheel, &why))
        return fail(why);
    Emulator *emulator = &c.emulator;
    const size_t index = c.wheel;
    c.emulator.loop().postAfter(std::chrono::milliseconds(ms), [emulator, index] {
        std::string error;
        emulator->plug(index, &error);
    });
    return done();
}

CommandResult pid(Context &c)
{
    long id;
    if (!parseNumber(c.args[0], 0, 0xFFFF, &id))
        return fail("a product id is a 16-bit number, e.g. 0x2008");
    std::string why;
    return c.emulator.changeProductId(c.wheel, static_cast<uint16_t>(id), &why) ? done() : fail(why);
}

CommandResult fault(Context &c)
{
    CommandResult error;
    HidrawDevice *w = target(c, &error);
    if (!w)
        return error;
    long n = 1;
    if (c.args.size() > 1 && !parseNumber(c.args[1], 1, 1000000, &n))
        return fail("the count must be a positive number");
    struct FaultKind
    {
        const char *name;
        int HidrawDevice::Faults::*field;
    };
    static const FaultKind kKinds[] = {
        {"get-feature", &HidrawDevice::Faults::getFeature},
        {"set-feature", &HidrawDevice::Faults::setFeature},
        {"read", &HidrawDevice::Faults::read},
        {"write", &HidrawDevice::Faults::write},
    };
    for (const FaultKind &k : kKinds) {
        if (c.args[0] == k.name) {
            HidrawDevice::Faults faults;
            faults.*(k.field) = static_cast<int>(n);
            w->addFaults(faults);
            return done();
        }
    }
    return fail("faults: get-feature, set-feature, read, write");
}

CommandResult addWheel(Context &c)
{
    WheelSetup setup;
    setup.model = c.args[0];
    long id;
    if (c.args.size() > 1) {
        if (!parseNumber(c.args[1], 0, 0xFFFF, &id))
            return fail("a product id is a 16-bit number, e.g. 0x2008");
        setup.productId = static_cast<int>(id);
    }
    std::string why;
    const int index = c.emulator.addWheel(setup, &why);
    return index < 0 ? fail(why) : done("wheel " + std::to_string(index + 1));
}

CommandResult removeWheel(Context &c)
{
    long n;
    if (!parseNumber(c.args[0], 2, 64, &n))
        return fail("the first wheel stays; remove wheel 2 or later");
    std::string why;
    return c.emulator.removeWheel(static_cast<size_t>(n - 1), &why) ? done() : fail(why);
}

CommandResult power(Context &c)
{
    CommandResult error;
    HidrawDevice *w = target(c, &error);
    if (!w)
        return error;
    long percent, level, link;
    if (!parseNumber(c.args[0], 0, 255, &percent) || !parseNumber(c.args[1], 0, 65535, &level) ||
        !parseNumber(c.args[2], 0, 255, &link))
        return fail("power PERCENT LEVEL LINK (0 Bluetooth, 1 USB)");
    Wheel::PowerStatus status{static_cast<uint8_t>(percent), static_cast<uint16_t>(level),
                              static_cast<uint8_t>(link)};
    w->withWheel([&](Wheel &wh) { wh.setPowerStatus(status); });
    return done();
}

CommandResult shifter(Context &c)
{
    CommandResult error;
    HidrawDevice *w = target(c, &error);
    if (!w)
        return error;
    long index, value;
    if (!parseNumber(c.args[0], 0, 3, &index) || !parseNumber(c.args[1], 0, 0xFFFFFFFFL, &value))
        return fail("shifter INDEX VALUE (index 0 left, 1 right, 2 extra left, 3 extra right)");
    w->withWheel(
        [&](Wheel &wh) { wh.setShifterReading(static_cast<int>(index), static_cast<uint32_t>(value)); });
    return done();
}

CommandResult status(Context &c)
{
    std::string text;
    for (const std::string &line : c.emulator.describeDevices())
        text += (text.empty() ? "" : "; ") + line;
    text += "; rate " + std::to_string(c.emulator.inputRate());
    return done(text);
}

CommandResult quit(Context &)
{
    return CommandResult{true, {}, true};
}

CommandResult help(Context &)
{
    std::string text;
    for (const std::string &line : commandHelp())
        text += (text.empty() ? "" : "; ") + line;
    return done(text);
}

struct Command
{
    const char *name;
    size_t minArgs, maxArgs;
    const char *usage;
    CommandResult (*run)(Context &);
};

constexpr size_t kMany = 64;

const Command kCommands[] = {
    {"press", 1, kMany, "press N... - hold buttons (1..64) down", press},
    {"release", 1, kMany, "release N...|all - let buttons go", release},
    {"paddle", 2, 2, "paddle LEFT RIGHT - clutch paddle positions (0..4096)", paddle},
    {"rate", 1, 1, "rate N - input reports per second, 1..8000; 0 reports on change only", rate},
    {"report", 0, 1, "report [N] - send N input reports now (default 1)", report},
    {"unplug", 0, 0, "unplug - pull the cable", unplug},
    {"plug", 0, 0, "plug - plug it back in (flash values come back)", plug},
    {"replug", 0, 1, "replug [MS] - unplug, plug again MS later (default 500)", replug},
    {"pid", 1, 1, "pid ID - come back with another product id", pid},
    {"fault", 1, 2, "fault get-feature|set-feature|read|write [N] - fail the next N of them", fault},
    {"add-wheel", 1, 2, "add-wheel MODEL [PID] - plug a second wheel", addWheel},
    {"remove-wheel", 1, 1, "remove-wheel N - unplug and forget wheel N (2 or later)", removeWheel},
    {"power", 3, 3, "power PERCENT LEVEL LINK - battery status record", power},
    {"shifter", 2, 2, "shifter INDEX VALUE - shifter sensor reading for calibration", shifter},
    {"status", 0, 0, "status - the devices on the bus", status},
    {"help", 0, 0, "help - this list", help},
    {"quit", 0, 0, "quit - stop the emulator", quit},
};

} // namespace

std::vector<std::string> splitCommand(const std::string &line)
{
    std::vector<std::string> words;
    std::istringstream in(line);
    std::string word;
    while (in >> word) {
        if (word[0] == '#')
            break; // the rest of the line is a comment
        words.push_back(word);
    }
    return words;
}

bool parseNumber(const std::string &text, long min, long max, long *value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long long n = strtoll(text.c_str(), &end, 0);
    if (errno != 0 || *end != '\0' || n < min || n > max)
        return false;
    *value = static_cast<long>(n);
    return true;
}

std::vector<std::string> commandHelp()
{
    std::vector<std::string> lines;
    for (const Command &c : kCommands)
        lines.push_back(c.usage);
    lines.push_back("wheel N COMMAND - send COMMAND to wheel N instead of wheel 1");
    return lines;
}

CommandResult executeCommand(Emulator &emulator, const std::string &line)
{
    Args words = splitCommand(line);
    if (words.empty())
        return done();
    size_t wheel = 0;
    if (words[0] == "wheel") {
        long n;
        if (words.size() < 3 || !parseNumber(words[1], 1, 64, &n))
            return fail("wheel N COMMAND");
        wheel = static_cast<size_t>(n - 1);
        words.erase(words.begin(), words.begin() + 2);
    }
    for (const Command &c : kCommands) {
        if (words[0] != c.name)
            continue;
        const Args args(words.begin() + 1, words.end());
        if (args.size() < c.minArgs || args.size() > c.maxArgs)
            return fail(std::string("usage: ") + c.usage);
        Context context{emulator, wheel, args};
        return c.run(context);
    }
    return fail("unknown command \"" + words[0] + "\" (try help)");
}

} // namespace wheelemu
