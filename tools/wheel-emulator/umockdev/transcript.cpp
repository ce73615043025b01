#include "transcript.h"

#include <cerrno>
#include <cstring>

namespace wheelemu {

Transcript::~Transcript()
{
    if (file_)
        fclose(file_);
}

bool Transcript::openFile(const std::string &path, std::string *error)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f) {
        *error = "cannot write transcript " + path + ": " + strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    if (file_)
        fclose(file_);
    file_ = f;
    return true;
}

void Transcript::keepInMemory(bool keep)
{
    std::lock_guard<std::mutex> lock(mutex_);
    keep_ = keep;
}

void Transcript::recordInputs(bool record)
{
    std::lock_guard<std::mutex> lock(mutex_);
    inputs_ = record;
}

void Transcript::record(Kind kind, const uint8_t *bytes, size_t len)
{
    static const char *const kKindNames[] = {"set-feature", "get-feature", "output", "input",
                                             "plug",        "unplug",      "control"};
    std::lock_guard<std::mutex> lock(mutex_);
    if ((!file_ && !keep_) || (kind == Kind::Input && !inputs_))
        return;
    // The time is taken under the lock so that lines are in time order.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%.6f ", seconds);
    std::string line = stamp;
    line += kKindNames[int(kind)];
    for (size_t i = 0; i < len; ++i) {
        line += ' ';
        line += "0123456789abcdef"[bytes[i] >> 4];
        line += "0123456789abcdef"[bytes[i] & 0x0F];
    }
    if (file_) {
        fputs(line.c_str(), file_);
        fputc('\n', file_);
        fflush(file_);
    }
    if (keep_)
        lines_.push_back(std::move(line));
}

void Transcript::recordBus(Kind kind, uint16_t vendorId, uint16_t productId)
{
    const uint8_t ids[4] = {uint8_t(vendorId >> 8), uint8_t(vendorId), uint8_t(productId >> 8),
                            uint8_t(productId)};
    record(kind, ids, sizeof ids);
}

std::vector<std::string> Transcript::lines() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void Transcript::clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lines_.clear();
}

} // namespace wheelemu
