#pragma once

#include <QString>

// The largest image the wheel's application area takes (0x38000 bytes).
constexpr qint64 kMaxFirmwareImageSize = 229376;

// Whether a local path may be offered to the wheel as a firmware image: it
// must end in ".bin" (lower case only) and hold no more than
// kMaxFirmwareImageSize bytes. A file that does not exist has size 0 and
// passes; whether it is still there is asked again when the transfer starts.
bool acceptableFirmwarePath(const QString &path);

// The check made once the boot loader is on the bus: the ".bin" suffix, and
// the file still there.
bool firmwareStillThere(const QString &path);
