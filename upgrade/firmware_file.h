#pragma once

#include "device/model_table.h"

#include <QString>

// The largest image the wheel's application area takes over its HID link
// (0x38000 bytes).
constexpr qint64 kMaxFirmwareImageSize = 229376;
// Beyond any wheel's flash: the boot loader's route, which has no limit of
// its own, refuses images larger than this.
constexpr qint64 kMaxBootLoaderImageSize = 4 * 1024 * 1024;

// The route the wheel of this name takes (the model table's), the HID stream
// for a name no model matches.
UpdateRoute updateRouteFor(const QString &deviceName);

// Every check an image must pass before anything is sent to the wheel: the
// ".bin" suffix (lower case), a readable non-empty file, the size the route
// takes (a file the user picked is held to kMaxFirmwareImageSize on either
// route; the program's own download for the boot loader only to
// kMaxBootLoaderImageSize), and for the boot loader the vector table for its
// flash base. Returns why the image is refused, or an empty string.
QString firmwareImageRefusal(const QString &path, UpdateRoute route, bool downloaded);
