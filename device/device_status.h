#pragma once

#include "device/command_report.h"

#include <QString>

#include <optional>

class DeviceHandle;
class QLabel;

// What the wheel says about itself: its firmware version (ABOUT page, read
// once per connection) and, for the wireless models, battery and Bluetooth
// link (DEVICE page, polled).

// How often the wireless models are asked for their power status.
constexpr int kStatusPollIntervalMs = 10000;

// The version text as shown: the wheel's text without one trailing ':'.
QString displayedVersion(const QString &wheelText);
// "Firmware Version: " followed by the version.
QString firmwareVersionLabel(const QString &version);

// The version text from the wheel (query 02 0B 09), trailing ':' removed;
// empty without a wheel.
QString readFirmwareVersion(DeviceHandle &device);
// Reads the version into the label and shows it; also logged.
void loadFirmwareVersion(DeviceHandle &device, QLabel *versionLabel);

// "BATTERY STATUS: " followed by the percentage, or by "USB" while the wheel
// is on a USB link or on external power.
QString batteryStatusText(const PowerStatus &status);
// The Bluetooth label is there only while the wheel reports that link.
bool bluetoothShown(const PowerStatus &status);

// The power status (query 02 0B 0F), or nothing without a wheel. The reply is
// taken as it comes: a failed read leaves the request bytes, which read as
// 15 %, level 0 and a Bluetooth link.
std::optional<PowerStatus> readPowerStatus(DeviceHandle &device);
// Puts a power status into the DEVICE page's two labels; also logged.
void showPowerStatus(const PowerStatus &status, QLabel *bluetoothLabel, QLabel *batteryLabel);
