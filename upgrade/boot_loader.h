#pragma once

#include <cstdint>

// The wheel's USB DFU boot loader, as it enumerates after the wheel was told
// to reboot into it, and the flash it writes. Any STM32 board put into DFU
// mode shows the same ids, so a loader is told apart only by where it sits on
// the bus.
constexpr uint16_t kBootLoaderVendorId = 0x0483;
constexpr uint16_t kBootLoaderProductId = 0xDF11;
// Where the image goes, and so where its vector table must point.
constexpr uint32_t kBootLoaderFlashBase = 0x08000000;
// The most one download block carries; also the block size when the loader
// states none.
constexpr int kBootLoaderTransferSize = 2048;
// What one erase command clears.
constexpr int kBootLoaderPageSize = 8192;
