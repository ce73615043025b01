// What the emulator needs from every kind of device it can put on the
// emulated bus: the wheel's hidraw chain, and the boot loader's USB node.
#pragma once

#include "device_loop.h"
#include "testbed.h"
#include "transcript.h"

#include <memory>
#include <string>

namespace wheelemu {

// The services an emulated device uses. The transcript is shared because a
// device's handlers may still answer a client that holds a descriptor after
// the emulator has begun to shut down.
struct DeviceHost
{
    Testbed &testbed;
    std::shared_ptr<Transcript> transcript;
    DeviceLoop &loop;
};

class EmulatedDevice
{
public:
    virtual ~EmulatedDevice() = default;
    // Adds the device to the testbed and announces it; true when it is there.
    virtual bool plug(std::string *error) = 0;
    // Announces the removal and takes the device out; clients that still hold
    // it get errors from then on.
    virtual void unplug() = 0;
    virtual bool plugged() const = 0;
};

} // namespace wheelemu
