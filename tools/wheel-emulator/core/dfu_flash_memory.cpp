#include "dfu_flash_memory.h"

#include <algorithm>

namespace wheelemu {

namespace {
constexpr uint8_t kErased = 0xFF;
}

DfuFlashMemory::DfuFlashMemory(uint32_t base, uint32_t pageSize, uint32_t pageCount)
    : base_(base), pageSize_(pageSize), pageCount_(pageCount), bytes_(size_t(pageSize) * pageCount, kErased)
{}

bool DfuFlashMemory::contains(uint32_t address, size_t len) const
{
    // 64-bit arithmetic: address + len may pass 4 GiB.
    const uint64_t begin = address, end = uint64_t(address) + len;
    return begin >= base_ && end <= uint64_t(base_) + bytes_.size();
}

bool DfuFlashMemory::erasePage(uint32_t address)
{
    if (!contains(address, 1))
        return false;
    const size_t page = (address - base_) / pageSize_;
    std::fill_n(bytes_.begin() + page * pageSize_, pageSize_, kErased);
    return true;
}

void DfuFlashMemory::eraseAll()
{
    std::fill(bytes_.begin(), bytes_.end(), kErased);
}

bool DfuFlashMemory::program(uint32_t address, const uint8_t *data, size_t len)
{
    if (!contains(address, len))
        return false;
    uint8_t *cell = bytes_.data() + (address - base_);
    for (size_t i = 0; i < len; ++i)
        cell[i] &= data[i];
    return true;
}

std::vector<uint8_t> DfuFlashMemory::read(uint32_t address, size_t len) const
{
    if (!contains(address, 1))
        return {};
    const size_t offset = address - base_;
    const size_t n = std::min(len, bytes_.size() - offset);
    return {bytes_.begin() + offset, bytes_.begin() + offset + n};
}

bool DfuFlashMemory::load(const std::vector<uint8_t> &contents)
{
    if (contents.size() > bytes_.size())
        return false;
    std::copy(contents.begin(), contents.end(), bytes_.begin());
    std::fill(bytes_.begin() + contents.size(), bytes_.end(), kErased);
    return true;
}

std::vector<uint8_t> DfuFlashMemory::programmedImage() const
{
    auto last = std::find_if(bytes_.rbegin(), bytes_.rend(), [](uint8_t b) { return b != kErased; });
    return {bytes_.begin(), last.base()};
}

} // namespace wheelemu
