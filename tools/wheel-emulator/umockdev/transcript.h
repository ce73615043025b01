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
    static const char *kindName(Kind kind);

    Transcript();
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

    std::vector<std::string> lines() const;
    void clear();

    // The text of one line without the time stamp: "set-feature 02 0b 0d".
    static std::string format(Kind kind, const uint8_t *bytes, size_t len);

private:
    const std::chrono::steady_clock::time_point start_;
    mutable std::mutex mutex_;
    FILE *file_ = nullptr;
    bool keep_ = false;
    bool inputs_ = true;
    std::vector<std::string> lines_;
};

} // namespace wheelemu
