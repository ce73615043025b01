#include "upgrade/vector_table.h"

namespace {

constexpr int kVectorTableMinimum = 8; // initial SP and reset vector

uint32_t littleEndianWord(const QByteArray &bytes, int offset)
{
    const auto *p = reinterpret_cast<const uint8_t *>(bytes.constData()) + offset;
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

QString hex(uint32_t value)
{
    return QString::number(value, 16);
}

} // namespace

bool checkVectorTable(const QByteArray &image, uint32_t baseAddress, QString &reason)
{
    if (image.size() < kVectorTableMinimum) {
        reason = QStringLiteral("file too small for vector table");
        return false;
    }
    const uint32_t stackPointer = littleEndianWord(image, 0);
    const uint32_t resetVector = littleEndianWord(image, 4);

    // One unsigned comparison covers both ends: below the window wraps to a
    // huge offset.
    if (stackPointer - kSramStart > kSramEnd - kSramStart) {
        reason = QStringLiteral("invalid initial SP 0x%1 (SRAM %2..%3)")
                     .arg(hex(stackPointer), hex(kSramStart), hex(kSramEnd));
        return false;
    }
    // The Thumb bit stays in: an odd vector inside the image is the normal
    // case, and one exactly at the end is already outside.
    const uint32_t end = baseAddress + uint32_t(image.size());
    if (resetVector < baseAddress || resetVector >= end) {
        reason = QStringLiteral("reset vector 0x%1 outside programmed range [%2..%3)")
                     .arg(hex(resetVector), hex(baseAddress), hex(end));
        return false;
    }
    return true;
}
