#include "dfu_emulator.h"

#include "command_interpreter.h"
#include "emulator.h"
#include "emulator_log.h"
#include "hidraw_device.h"

namespace wheelemu {

namespace {

struct FaultOption
{
    const char *name;
    const char *number; // nullptr: takes none
    long min, max;
    const char *help;
    void (*apply)(DfuEmulatorOptions &, long);
};

const FaultOption kFaults[] = {
    {"stall-first-block", "BYTES", 1, 65535, "the first data block stalls while longer than BYTES",
     [](DfuEmulatorOptions &o, long n) {
         o.loader.loader.faults.stallFirstBlockAbove = uint16_t(n);
     }},
    {"error-on-block", "N", 1, 1L << 24, "the N-th data block fails to program (dfuERROR, errPROG)",
     [](DfuEmulatorOptions &o, long n) {
         o.loader.loader.faults.errorOnBlock = uint32_t(n);
     }},
    {"read-protected", nullptr, 0, 0, "memory uploads stall (dfuERROR, errVENDOR)",
     [](DfuEmulatorOptions &o, long) {
         o.loader.loader.faults.readProtected = true;
     }},
    {"start-in-error", nullptr, 0, 0, "the loader comes up in dfuERROR; the host must clear it",
     [](DfuEmulatorOptions &o, long) {
         o.loader.loader.faults.startInError = true;
     }},
    {"unplug-at-block", "N", 1, 1L << 24, "the loader drops off the bus on the N-th data block",
     [](DfuEmulatorOptions &o, long n) {
         o.loader.loader.faults.unplugAtBlock = uint32_t(n);
     }},
    {"slow-erase", "MS", 1, 0xFFFFFF, "a page erase asks for MS of poll time",
     [](DfuEmulatorOptions &o, long n) {
         o.loader.loader.timing.eraseMs = uint32_t(n);
     }},
    {"erase-busy", "N", 1, 1000, "each erase answers dfuDNBUSY N more times",
     [](DfuEmulatorOptions &o, long n) {
         o.loader.loader.timing.eraseBusyRepeats = uint32_t(n);
     }},
    {"stuck-busy", "N", 1, 1L << 24, "the N-th data block never finishes: dfuDNBUSY for good",
     [](DfuEmulatorOptions &o, long n) {
         o.loader.loader.faults.stuckOnBlock = uint32_t(n);
     }},
    {"strict-leave", nullptr, 0, 0,
     "takes the leave request only in dfuDNLOAD-IDLE and leaves on the GETSTATUS after it",
     [](DfuEmulatorOptions &o, long) {
         o.loader.loader.faults.strictLeave = true;
     }},
    {"never-appears", nullptr, 0, 0, "after the reboot request no boot loader enumerates",
     [](DfuEmulatorOptions &o, long) {
         o.neverAppears = true;
     }},
};

bool stillOnTheEmulator(Emulator &emulator, const HidrawDevice *wheel)
{
    for (size_t i = 0; i < emulator.wheelCount(); ++i)
        if (emulator.wheel(i) == wheel)
            return true;
    return false;
}

// On the device loop: the wheel has left the HID bus; its loader takes the
// same port, and when it leaves the wheel comes back with what was flashed.
void enterBootLoader(Emulator &emulator, HidrawDevice &wheel, DfuBootLoader &loader)
{
    loader.setPort("1-" + std::to_string(wheel.port()));
    HidrawDevice *w = &wheel;
    loader.setOnLeave([&emulator, w](const std::vector<uint8_t> &image) {
        if (!stillOnTheEmulator(emulator, w))
            return;
        // A loader left without anything flashed starts the firmware it has.
        w->withWheel([&](Wheel &behaviour) {
            if (image.empty())
                behaviour.powerCycle();
            else
                behaviour.installImage(image);
        });
        std::string error;
        if (!w->plug(&error))
            debugLog("boot loader left, the wheel cannot come back: %s", error.c_str());
    });
    std::string error;
    if (!loader.plug(&error))
        debugLog("boot loader: %s", error.c_str());
}

} // namespace

bool applyDfuFault(const std::string &text, DfuEmulatorOptions *options, std::string *error)
{
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    for (const FaultOption &f : kFaults) {
        if (name != f.name)
            continue;
        long n = 0;
        if (f.number &&
            (colon == std::string::npos || !parseNumber(text.substr(colon + 1), f.min, f.max, &n))) {
            *error = std::string(f.name) + " needs :" + f.number + " (" + std::to_string(f.min) + ".." +
                     std::to_string(f.max) + ")";
            return false;
        }
        if (!f.number && colon != std::string::npos) {
            *error = std::string(f.name) + " takes no number";
            return false;
        }
        f.apply(*options, n);
        return true;
    }
    *error = "unknown boot loader fault \"" + name + "\"";
    return false;
}

std::vector<std::string> dfuFaultHelp()
{
    std::vector<std::string> lines;
    for (const FaultOption &f : kFaults)
        lines.push_back(std::string(f.name) + (f.number ? std::string(":") + f.number : "") + " - " + f.help);
    return lines;
}

bool setUpBootLoader(Emulator &emulator, const DfuEmulatorOptions &options, DfuBootLoader **loader,
                     std::string *error)
{
    *loader = nullptr;
    if (options.neverAppears) {
        if (options.startAsBootLoader) {
            *error = "a boot loader that never appears cannot be where the emulator starts";
            return false;
        }
        emulator.setBootLoaderHook(nullptr);
        return true;
    }
    auto owned = std::make_unique<DfuBootLoader>(emulator.host(), options.loader);
    if (!owned->loadFlash(error))
        return false;
    DfuBootLoader *bootLoader = static_cast<DfuBootLoader *>(emulator.addDevice(std::move(owned)));
    emulator.setBootLoaderHook(
        [bootLoader](Emulator &e, HidrawDevice &wheel) { enterBootLoader(e, wheel, *bootLoader); });
    if (options.startAsBootLoader) {
        if (!emulator.unplug(0, error))
            return false;
        emulator.loop().invoke([&] { enterBootLoader(emulator, *emulator.wheel(0), *bootLoader); });
        if (!bootLoader->plugged()) {
            *error = "the boot loader did not enumerate";
            return false;
        }
    }
    *loader = bootLoader;
    return true;
}

} // namespace wheelemu
