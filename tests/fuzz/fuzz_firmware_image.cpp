// A firmware image is a file the user picked or the server sent. The vector
// table check must accept exactly the images whose initial stack pointer lies
// in SRAM and whose reset vector lies inside the image as it will sit in
// flash, and must explain every refusal.

#include "upgrade/vector_table.h"

#include "fuzz_check.h"

#include <QtEndian>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    // Mostly the flash base the wheels use, sometimes anywhere (a wrong
    // base, the top of the address space).
    const uint8_t pick = in.byte();
    const uint32_t base = pick < 0x80 ? 0x08000000u : in.u32();
    const QByteArray image = in.rest();

    QString reason;
    const bool accepted = checkVectorTable(image, base, reason);

    bool expected = image.size() >= 8;
    if (expected) {
        const auto le32 = [&](int at) {
            return qFromLittleEndian<uint32_t>(image.constData() + at);
        };
        const uint32_t sp = le32(0), reset = le32(4);
        // 64-bit end: an image that reaches the top of the address space is
        // refused (no wheel's flash sits there, and its end would wrap).
        const uint64_t end = uint64_t(base) + uint64_t(image.size());
        expected =
            sp >= kSramStart && sp <= kSramEnd && reset >= base && reset < end && end < (uint64_t(1) << 32);
    }
    FUZZ_CHECK(accepted == expected);
    FUZZ_CHECK(accepted || (!reason.isEmpty() && !reason.contains(QLatin1Char('\n'))));
    return 0;
}
