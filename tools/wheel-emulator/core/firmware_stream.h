// Reassembly of the firmware image the host streams in FirmwareDataReports.
//
// A data report is the command report whose byte 1 has bit 7 set:
//   byte 1 = 0x80 | bits 8..14 of the block index, byte 2 = bits 0..7,
//   byte 3 = chunk length 1..16, bytes 4.. = the chunk; offset = block * 16.
// Bytes after the chunk are whatever the host's buffer held and are ignored.
//
// The wheel accepts only a stream that starts at offset 0 and continues
// without gaps, in order, with full 16-byte chunks except for the last. A
// report at offset 0 always starts a new stream (a host retrying an update
// starts over); anything else out of place breaks the stream, which then
// ignores everything up to the next offset 0 report and is not installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wheelemu {

class FirmwareStream
{
public:
    // Takes one data report (report id first, at least 4 bytes, the chunk
    // following). Returns a description of what went wrong, or "" when the
    // report was taken.
    std::string take(const uint8_t *report, size_t len);

    bool seen() const { return state_ != State::Idle; }
    bool broken() const { return state_ == State::Broken; }
    const std::string &whyBroken() const { return why_; }
    const std::vector<uint8_t> &image() const { return image_; }
    void reset();

    // Offset of the chunk a data report carries.
    static uint32_t offsetOf(const uint8_t *report);

private:
    enum class State
    {
        Idle,   // nothing since the last reset
        Open,   // receiving full chunks
        Closed, // a short last chunk came; only Reboot may follow
        Broken,
    };
    std::string breakWith(std::string why);

    State state_ = State::Idle;
    std::vector<uint8_t> image_;
    std::string why_;
};

} // namespace wheelemu
