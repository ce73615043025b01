// The PELIX wheel's boot loader on the emulator's bus.
//
// A PELIX wheel given Reboot without a firmware stream leaves the HID bus;
// the emulator's boot-loader delay later the loader enumerates on the same
// USB port, and once a host has flashed it and sent the zero-length
// download, it leaves and the wheel comes back running the flashed image
// (its version read from the image). The emulator can also start as the
// loader, or have one that never appears.
#pragma once

#include "dfu_boot_loader.h"

#include <string>

namespace wheelemu {

class Emulator;
class HidrawDevice;

struct DfuEmulatorOptions
{
    DfuBootLoader::Options loader;
    bool startAsBootLoader = false; // the wheel starts in its loader, not on the HID bus
    bool neverAppears = false;      // after the reboot request nothing enumerates
};

// Applies one fault given as NAME or NAME:NUMBER ("error-on-block:3");
// false with *error for an unknown name or a bad number.
bool applyDfuFault(const std::string &text, DfuEmulatorOptions *options, std::string *error);

// Adds the boot loader to the emulator (which then owns it; *loader points
// to it, or is null with neverAppears) and arranges the reboot into it; with
// startAsBootLoader, the first wheel leaves the HID bus and the loader takes
// its place at once. Loads the flash file. False with *error on failure.
bool setUpBootLoader(Emulator &emulator, const DfuEmulatorOptions &options, DfuBootLoader **loader,
                     std::string *error);

} // namespace wheelemu
