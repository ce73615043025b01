// The standalone emulator's command line (tools/README.md documents it).
#pragma once

#include "dfu_emulator.h"
#include "emulator.h"

#include <string>
#include <vector>

namespace wheelemu {

struct CliOptions
{
    EmulatorOptions emulator;
    DfuEmulatorOptions dfu;             // the PELIX boot loader: --boot-loader, --flash, --dfu-*
    std::vector<WheelSetup> moreWheels; // --add-wheel
    std::string controlPath;
    std::string scriptPath;
    std::string readyFile;
    bool exitWithParent = false;
    bool debug = false;
    bool help = false;
};

// False with *error for an unknown option, a missing value or a bad number.
bool parseCommandLine(const std::vector<std::string> &args, CliOptions *options, std::string *error);

std::string usageText();

} // namespace wheelemu
