#pragma once

#include "settings/wheel_profile.h"

#include <QString>
#include <QStringList>

class DeviceHandle;

// Profiles kept for the user: the backups a firmware update takes first, the
// comparison after it, and a restore that reads back what the wheel kept.

// How many backups of one model the backup folder keeps.
constexpr int kBackupsKept = 20;

// Where the backups live: "backups" in the window's data directory
// (QStandardPaths::AppLocalDataLocation of "quorset", ~/.local/share/quorset).
QString backupFolder();

// Stores `profile` as "<model>-<yyyyMMdd-HHmmss-zzz>.json" in the backup
// folder and removes that model's oldest backups beyond kBackupsKept. The
// path, or an empty string with *error set.
QString storeBackup(const WheelProfile &profile, QString *error);

// The settings, in words, whose stored values differ between `before` and
// `after` ("Bite point", "LED colours", ...), in a fixed order.
QStringList changedSettings(const WheelProfile &before, const WheelProfile &after);

// One sentence for the user: "Bite point, LED colours and 3 other settings
// differ from before the update". Empty when nothing differs.
QString describeChangedSettings(const QStringList &changed);

// Writes `wanted` (already fitted to the wheel) with the save marker and
// reads it back. Empty `*error` and an empty list when the wheel kept it
// all; otherwise *error names a failed exchange, or the list holds one line
// per value the wheel did not keep.
QStringList restoreProfile(DeviceHandle &device, const WheelProfile &wanted, QString *error);
