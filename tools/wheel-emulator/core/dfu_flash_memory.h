// The wheel's internal flash as its boot loader sees it.
//
// NOR flash: an erased byte reads 0xFF and programming can only clear bits,
// so a host that writes without erasing first ends up with the AND of old
// and new contents, exactly as on the chip.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace wheelemu {

class DfuFlashMemory
{
public:
    DfuFlashMemory(uint32_t base, uint32_t pageSize, uint32_t pageCount);

    uint32_t base() const { return base_; }
    uint32_t pageSize() const { return pageSize_; }
    uint32_t pageCount() const { return pageCount_; }
    uint32_t size() const { return uint32_t(bytes_.size()); }
    bool contains(uint32_t address, size_t len) const;

    // Erases the page holding address; false when it is outside the flash.
    bool erasePage(uint32_t address);
    void eraseAll();
    // ANDs data into the flash; false (nothing written) when any byte falls outside.
    bool program(uint32_t address, const uint8_t *data, size_t len);
    // Copies up to len bytes from address, stopping at the end of the flash.
    std::vector<uint8_t> read(uint32_t address, size_t len) const;

    const std::vector<uint8_t> &bytes() const { return bytes_; }
    // Contents from the base on; the rest reads erased. false when longer than the flash.
    bool load(const std::vector<uint8_t> &contents);
    // The contents without the erased tail: what a firmware image flashed from the base looks like.
    std::vector<uint8_t> programmedImage() const;

private:
    uint32_t base_, pageSize_, pageCount_;
    std::vector<uint8_t> bytes_;
};

} // namespace wheelemu
