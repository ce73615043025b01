#include "firmware_stream.h"

#include <cstdio>

namespace wheelemu {

namespace {
constexpr size_t kChunk = 16;
constexpr size_t kHeader = 4; // report id, two offset bytes, length

std::string hex(uint32_t v)
{
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%X", v);
    return buf;
}
} // namespace

uint32_t FirmwareStream::offsetOf(const uint8_t *report)
{
    const uint32_t block = (static_cast<uint32_t>(report[1] & 0x7F) << 8) | report[2];
    return block * kChunk;
}

void FirmwareStream::reset()
{
    state_ = State::Idle;
    image_.clear();
    why_.clear();
}

std::string FirmwareStream::breakWith(std::string why)
{
    state_ = State::Broken;
    image_.clear();
    why_ = why;
    return why;
}

std::string FirmwareStream::take(const uint8_t *report, size_t len)
{
    if (len < kHeader)
        return breakWith("firmware data report of " + std::to_string(len) + " bytes has no header");
    const uint32_t offset = offsetOf(report);
    const size_t n = report[3];
    if (offset == 0) {
        state_ = State::Open;
        image_.clear();
        why_.clear();
    }
    if (state_ == State::Broken)
        return "firmware data at offset " + hex(offset) + " ignored: stream broken (" + why_ + ")";
    if (n < 1 || n > kChunk)
        return breakWith("bad chunk length " + std::to_string(n) + " at offset " + hex(offset));
    if (len < kHeader + n)
        return breakWith("chunk at offset " + hex(offset) + " claims " + std::to_string(n) +
                         " bytes, report has " + std::to_string(len - kHeader));
    if (state_ == State::Idle)
        return breakWith("stream starts at offset " + hex(offset) + ", not 0");
    if (state_ == State::Closed)
        return breakWith("data at offset " + hex(offset) + " after the short last chunk");
    if (offset != image_.size())
        return breakWith("expected offset " + hex(static_cast<uint32_t>(image_.size())) + ", got " +
                         hex(offset));
    image_.insert(image_.end(), report + kHeader, report + kHeader + n);
    if (n < kChunk)
        state_ = State::Closed;
    return {};
}

} // namespace wheelemu
