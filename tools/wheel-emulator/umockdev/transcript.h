// The record of what went over the wire, one line per exchange:
//   "<seconds, six decimals> <kind> <bytes as two-digit lower-case hex>"
// Report bytes start with the report id. Tests and benchmarks compare these
// lines byte for byte, so the format is fixed here and nowhere else.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace wheelemu {

class Transcript
{
public:
    enum class Kind
    {
        SetFeature,
        GetFeature,
        Output,
        Input,
        Plug,
        Unplug,
        Control, // USB control transfers of a device node (boot loader)
    };

    Transcript() = default;
    ~Transcript();
    Transcript(const Transcript &) = delete;
    Transcript &operator=(const Transcript &) = delete;

    // Appends every line to this file as well (flushed per line, so another
    // process can follow it). False when the file cannot be opened.
    bool openFile(const std::string &path, std::string *error);
    // Keeps lines in memory for lines(); off by default so that a long run
    // at thousands of input reports per second does not grow without end.
    void keepInMemory(bool keep);
    // Input lines can be left out (benchmarks stream far more than any test
    // wants to read).
    void recordInputs(bool record);

    void record(Kind kind, const uint8_t *bytes, size_t len);
    void record(Kind kind, const std::vector<uint8_t> &bytes) { record(kind, bytes.data(), bytes.size()); }
    // A plug or unplug line: vendor and product id, big-endian.
    void recordBus(Kind kind, uint16_t vendorId, uint16_t productId);

    std::vector<std::string> lines() const;
    void clear();

private:
    const std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    mutable std::mutex mutex_;
    FILE *file_ = nullptr;
    bool keep_ = false;
    bool inputs_ = true;
    std::vector<std::string> lines_;
};

} // namespace wheelemu
