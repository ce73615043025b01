#include "cli_options.h"

#include "command_interpreter.h"

namespace wheelemu {

namespace {

struct Option
{
    const char *name;
    const char *value; // nullptr: a flag
    const char *help;
    // Applies the value; false with *error when it is not acceptable.
    bool (*apply)(CliOptions &, const std::string &, std::string *);
};

bool parseWheel(const std::string &text, WheelSetup *setup, std::string *error)
{
    const size_t colon = text.find(':');
    setup->model = text.substr(0, colon);
    if (colon != std::string::npos) {
        long id;
        if (!parseNumber(text.substr(colon + 1), 0, 0xFFFF, &id)) {
            *error = "bad product id in \"" + text + "\"";
            return false;
        }
        setup->productId = static_cast<int>(id);
    }
    Wheel::Config config;
    return wheelConfig(*setup, &config, error);
}

bool milliseconds(const std::string &v, std::chrono::milliseconds *out, std::string *error)
{
    long ms;
    if (!parseNumber(v, 0, 600000, &ms)) {
        *error = "bad time in milliseconds: " + v;
        return false;
    }
    *out = std::chrono::milliseconds(ms);
    return true;
}

const Option kOptions[] = {
    {"--model", "CODE", "wheel model: H-ZET VLN6 H-MIRA OV410 KLINO4 ULMAR SRD7 PELIX (default SRD7)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         o.emulator.wheel.model = v;
         Wheel::Config config;
         return wheelConfig(o.emulator.wheel, &config, e);
     }},
    {"--name", "TEXT", "the name the wheel reports (default: the model's)",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.emulator.wheel.name = v;
         return true;
     }},
    {"--pid", "ID", "USB product id, e.g. 0x2008 (default: the model's)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         long id;
         if (!parseNumber(v, 0, 0xFFFF, &id)) {
             *e = "bad product id: " + v;
             return false;
         }
         o.emulator.wheel.productId = static_cast<int>(id);
         return true;
     }},
    {"--version", "TEXT", "firmware version text (\\t for the tab)",
     [](CliOptions &o, const std::string &v, std::string *) {
         std::string text = v;
         for (size_t p; (p = text.find("\\t")) != std::string::npos;)
             text.replace(p, 2, "\t");
         o.emulator.wheel.version = text;
         return true;
     }},
    {"--no-extra-leds", nullptr, "H-ZET and VLN6 report no extra LEDs",
     [](CliOptions &o, const std::string &, std::string *) {
         o.emulator.wheel.extraLeds = false;
         return true;
     }},
    {"--add-wheel", "CODE[:PID]", "plug another wheel as well (repeatable)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         WheelSetup setup;
         if (!parseWheel(v, &setup, e))
             return false;
         o.moreWheels.push_back(setup);
         return true;
     }},
    {"--rate", "N", "input reports per second, 1..8000; 0 (default) reports on change",
     [](CliOptions &o, const std::string &v, std::string *e) {
         long n;
         if (!parseNumber(v, 0, InputStreamer::kMaxRate, &n)) {
             *e = "the rate runs from 0 to 8000";
             return false;
         }
         o.emulator.inputRate = static_cast<int>(n);
         return true;
     }},
    {"--transcript", "FILE", "write every exchange to FILE, one line each",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.emulator.transcriptPath = v;
         return true;
     }},
    {"--state", "FILE", "flash settings and LED frame as JSON: loaded if present, written at exit",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.emulator.statePath = v;
         return true;
     }},
    {"--control", "PATH", "take line commands from a FIFO, or from a Unix socket created at PATH",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.controlPath = v;
         return true;
     }},
    {"--script", "FILE", "run timed command lines (\"SECONDS COMMAND\")",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.scriptPath = v;
         return true;
     }},
    {"--restart-delay", "MS", "how long a rebooting wheel stays away (default 500)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         return milliseconds(v, &o.emulator.restartDelay, e);
     }},
    {"--boot-loader-delay", "MS", "how long until the boot loader appears (default 2000)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         return milliseconds(v, &o.emulator.bootLoaderDelay, e);
     }},
    {"--boot-loader", nullptr, "start as the PELIX wheel's DFU boot loader (0483:df11), not on the HID bus",
     [](CliOptions &o, const std::string &, std::string *) {
         o.dfu.startAsBootLoader = true;
         return true;
     }},
    {"--flash", "FILE",
     "the boot loader's flash (first byte at 0x08000000): loaded if present, saved when it leaves",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.dfu.loader.flashFile = v;
         return true;
     }},
    {"--dfu-transfer-size", "N", "the boot loader's wTransferSize, 64..4096 (default 2048)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         long n;
         if (!parseNumber(v, 64, 4096, &n)) {
             *e = "the transfer size runs from 64 to 4096";
             return false;
         }
         o.dfu.loader.loader.transferSize = static_cast<uint16_t>(n);
         return true;
     }},
    {"--dfu-fault", "NAME[:N]", "a boot loader fault (repeatable; listed below)",
     [](CliOptions &o, const std::string &v, std::string *e) {
         return applyDfuFault(v, &o.dfu, e);
     }},
    {"--ready-file", "FILE", "write UMOCKDEV_DIR=<testbed> into FILE once the wheel is there",
     [](CliOptions &o, const std::string &v, std::string *) {
         o.readyFile = v;
         return true;
     }},
    {"--exit-with-parent", nullptr, "stop when the process that started the emulator dies",
     [](CliOptions &o, const std::string &, std::string *) {
         o.exitWithParent = true;
         return true;
     }},
    {"--debug", nullptr, "diagnostics on stderr",
     [](CliOptions &o, const std::string &, std::string *) {
         o.debug = true;
         return true;
     }},
    {"--help", nullptr, "this text",
     [](CliOptions &o, const std::string &, std::string *) {
         o.help = true;
         return true;
     }},
};

} // namespace

bool parseCommandLine(const std::vector<std::string> &args, CliOptions *options, std::string *error)
{
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool inlineValue = false;
        const size_t eq = name.find('=');
        if (name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
            inlineValue = true;
        }
        const Option *option = nullptr;
        for (const Option &o : kOptions)
            if (name == o.name)
                option = &o;
        if (!option) {
            *error = "unknown option " + args[i];
            return false;
        }
        if (option->value && !inlineValue) {
            if (i + 1 >= args.size()) {
                *error = name + " needs " + option->value;
                return false;
            }
            value = args[++i];
        } else if (!option->value && inlineValue) {
            *error = name + " takes no value";
            return false;
        }
        if (!option->apply(*options, value, error))
            return false;
    }
    return true;
}

std::string usageText()
{
    std::string text = "usage: wheel-emulator [OPTION]...\n"
                       "Emulates a wheel on a umockdev testbed until stopped (quit, SIGTERM, SIGINT).\n\n";
    for (const Option &o : kOptions) {
        std::string left = std::string("  ") + o.name + (o.value ? std::string(" ") + o.value : "");
        if (left.size() < 28)
            left.resize(28, ' ');
        else
            left += "  ";
        text += left + o.help + "\n";
    }
    text += "\nBoot loader faults (--dfu-fault):\n";
    for (const std::string &line : dfuFaultHelp())
        text += "  " + line + "\n";
    text += "\nControl commands:\n";
    for (const std::string &line : commandHelp())
        text += "  " + line + "\n";
    return text;
}

} // namespace wheelemu
