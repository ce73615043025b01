#include "dfu_emulator.h"

#include "command_interpreter.h"
#include "emulator.h"
#include "emulator_log.h"
#include "hidraw_device.h"

namespace wheelemu {

namespace {

// On the device loop: the wheel has left the HID bus; its loader takes the
// same port, and when it leaves the wheel comes back with what was flashed.
void enterBootLoader(Emulator &emulator, HidrawDevice &wheel, DfuBootLoader &loader)
{
    loader.setPort("1-" + std::to_string(wheel.port()));
    HidrawDevice *w = &wheel;
    loader.setOnLeave([&emulator, w](const std::vector<uint8_t> &image) {
        if (!emulator.has(w))
            return;
        // A loader left without anything flashed starts the firmware it has.
        w->withWheel([&](Wheel &behaviour) {
            image.empty() ? behaviour.powerCycle() : behaviour.installImage(image);
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
    DfuLoader::Faults &f = options->loader.loader.faults;
    DfuLoader::Timing &t = options->loader.loader.timing;
    // The number a fault takes runs from min to max; one with max 0 is a flag.
    const struct
    {
        const char *name;
        long min, max;
        uint32_t *number;
        bool *flag;
    } faults[] = {
        {"stall-first-block", 1, 65535, &f.stallFirstBlockAbove, nullptr},
        {"error-on-block", 1, 1L << 24, &f.errorOnBlock, nullptr},
        {"read-protected", 0, 0, nullptr, &f.readProtected},
        {"start-in-error", 0, 0, nullptr, &f.startInError},
        {"unplug-at-block", 1, 1L << 24, &f.unplugAtBlock, nullptr},
        {"slow-erase", 1, 0xFFFFFF, &t.eraseMs, nullptr},
        {"erase-busy", 1, 1000, &t.eraseBusyRepeats, nullptr},
        {"stuck-busy", 1, 1L << 24, &f.stuckOnBlock, nullptr},
        {"strict-leave", 0, 0, nullptr, &f.strictLeave},
        {"never-appears", 0, 0, nullptr, &options->neverAppears},
    };
    const size_t colon = text.find(':');
    const std::string name = text.substr(0, colon);
    for (const auto &fault : faults) {
        long n = 0;
        if (name != fault.name)
            continue;
        const bool bad = fault.max ? colon == std::string::npos ||
                                         !parseNumber(text.substr(colon + 1), fault.min, fault.max, &n)
                                   : colon != std::string::npos;
        if (bad)
            *error = name + (fault.max ? " needs a number from " + std::to_string(fault.min) + " to " +
                                             std::to_string(fault.max)
                                       : std::string(" takes no number"));
        else if (fault.number)
            *fault.number = uint32_t(n);
        else
            *fault.flag = true;
        return !bad;
    }
    *error = "unknown boot loader fault \"" + name + "\"";
    return false;
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
    auto *bootLoader = static_cast<DfuBootLoader *>(emulator.addDevice(std::move(owned)));
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
