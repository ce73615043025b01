#pragma once

// What quorctl tells the script that ran it.
enum ExitCode : int
{
    ExitSuccess = 0,
    ExitUsage = 1,       // the command line itself is wrong
    ExitNoWheel = 2,     // no wheel on the bus
    ExitDeviceError = 3, // the wheel (or the window holding it) did not let the command finish
    ExitBadFile = 4,     // a profile or firmware file that cannot be used
};
