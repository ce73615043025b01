#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

// The SRAM window an initial stack pointer may point into, both ends
// included: the largest SRAM of the parts the boot loader runs on.
constexpr uint32_t kSramStart = 0x20000000;
constexpr uint32_t kSramEnd = 0x200C0000;

// Sanity check of an image's Cortex-M vector table before anything is
// written: a file that is not firmware for this address (a wrong base, a
// text file, a truncated download) is refused while the flash is untouched.
// Returns true when the image may be flashed; otherwise false with `reason`
// set to a one-line explanation.
bool checkVectorTable(const QByteArray &image, uint32_t baseAddress, QString &reason);
