#pragma once

#include "settings/wheel_profile.h"

class DeviceHandle;

// Moving a whole profile between the open wheel and memory. Everything here
// is a series of command report exchanges on the caller's thread.

// Reads every stored value of the open wheel. False, with a one-line reason,
// when no wheel is open, an exchange fails or the wheel's name names no known
// model.
bool readWheelProfile(DeviceHandle &device, WheelProfile &profile, QString *error);

// The LED part of a profile as the wheel can hold it: every frame colour
// rounded up to the level the wheel stores (the extra LEDs keep 8 bits).
WheelProfile roundedToLedLevels(const WheelProfile &profile);

// Writes the LED colours of `profile` and ends with the commit: the extra LED
// report (with the save marker), the LED pages, then CommitLedColours. LEDs
// past the model's map are sent fully lit. 0, or the first negative result.
int writeLedColours(DeviceHandle &device, const WheelProfile &profile);

// Writes every value of `profile` with the save marker: pulse widths (those
// that are set), the paddle configuration, the two enables, then the LED
// colours. Stops at the first failed write and returns its negative result;
// 0 when everything was sent.
int writeWheelProfile(DeviceHandle &device, const WheelProfile &profile);
