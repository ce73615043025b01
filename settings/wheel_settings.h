#pragma once

#include "device/command_report.h"

#include <cstdint>
#include <optional>

class DeviceHandle;

// The wheel's settings as exchanged over command reports: the pulse widths,
// the paddle configuration, the two enable items, the shifter threshold
// calibration and clearing the flash. The window and the command-line tool
// both go through these, so both put the same bytes on the wire.
//
// Every function leaves hidapi alone when no wheel is open: a read then gives
// nullopt, a write -1. A `save` write carries the save marker and so also
// lands in the wheel's flash; without it the value is only live.

// EncoderPulseWidth or ShifterPulseWidth, signed: a negative value means the
// wheel has nothing stored.
std::optional<int32_t> readPulseWidth(DeviceHandle &device, Item item);
int writePulseWidth(DeviceHandle &device, Item item, int32_t value, bool save);

std::optional<PaddleConfig> readPaddleConfig(DeviceHandle &device);
int writePaddleConfig(DeviceHandle &device, const PaddleConfig &config, bool save);

// ClutchesEnabled or ExtraShiftersEnabled. Only a stored 1 counts as enabled;
// a failed read leaves the request in the buffer and so reads as disabled.
std::optional<bool> readItemEnabled(DeviceHandle &device, Item item);
// Stores `wanted` when the wheel's copy differs: queries the item and writes
// the new value, with the save marker, into the very buffer that received the
// reply, so bytes 8..19 still carry the reply's. Returns the send's result,
// 0 when nothing had to be sent, -1 when no wheel is open.
int saveItemEnabledIfChanged(DeviceHandle &device, Item item, bool wanted);

// One of the four shifter threshold items. Start makes the wheel forget the
// threshold (a live write); finish, sent while the user holds the paddle,
// makes it take the paddle's current reading and store it.
int startThresholdCalibration(DeviceHandle &device, Item item);
int finishThresholdCalibration(DeviceHandle &device, Item item);

// Puts the wheel's defaults back into its flash and live settings.
int clearFlash(DeviceHandle &device);
