// What the boot loader answers to DFU_GETSTATUS and sends as its functional
// descriptor, and the erase plan built from an image's size: the pages must
// cover every byte of the image, start on page boundaries, and erase nothing
// that holds none of it.

#include "upgrade/dfu_protocol.h"

#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    fuzz::Input in(data, size);
    std::array<uint8_t, kDfuStatusLength> raw{};
    for (uint8_t &b : raw)
        b = in.byte();
    const DfuStatus status = decodeDfuStatus(raw);
    FUZZ_CHECK(status.bStatus == raw[0] && status.bState == raw[4] && status.iString == raw[5]);
    FUZZ_CHECK(status.bwPollTimeout == (raw[1] | raw[2] << 8 | uint32_t(raw[3]) << 16));
    FUZZ_CHECK(status.bwPollTimeout < (1u << 24));

    // The functional descriptor as sent, in a buffer of exactly its length
    // (so that reading past it is caught), or a failed read.
    const QByteArray sent = in.bytes(in.byte() % 12);
    const std::vector<uint8_t> descriptor(sent.begin(), sent.end());
    const int transferSize = dfuTransferSizeOf(descriptor.data(), int(descriptor.size()));
    FUZZ_CHECK(transferSize == (descriptor.size() < 7 ? 0 : descriptor[5] | descriptor[6] << 8));
    FUZZ_CHECK(dfuTransferSizeOf(nullptr, -int(in.byte() % 13)) == 0);

    // Power-of-two pages from 256 bytes to 1 MiB, images up to the 4 MiB
    // a download may reach, at any address.
    const uint32_t page = 1u << (8 + in.byte() % 13);
    const uint32_t base = in.u32();
    const uint32_t imageSize = 1 + in.u32() % (4u << 20);
    const std::vector<uint32_t> pages = dfuseErasePages(base, imageSize, page);

    const uint64_t first = base & ~uint64_t(page - 1);
    const uint64_t last = uint64_t(base) + imageSize - 1;
    // The part of the image that fits below the top of the address space.
    const uint64_t top = std::min<uint64_t>(last, 0xFFFFFFFFu);
    const uint64_t expectedCount = (top - first) / page + 1;
    FUZZ_CHECK(pages.size() == expectedCount);
    for (std::size_t i = 0; i < pages.size(); ++i)
        FUZZ_CHECK(pages[i] == first + i * uint64_t(page));
    return 0;
}
