#include "transcript.h"

#include <cerrno>
#include <cstring>

namespace wheelemu {

namespace {
struct KindName
{
    Transcript::Kind kind;
    const char *name;
};
constexpr KindName kKindNames[] = {
    {Transcript::Kind::SetFeature, "set-feature"},
    {Transcript::Kind::GetFeature, "get-feature"},
    {Transcript::Kind::Output, "output"},
    {Transcript::Kind::Input, "input"},
    {Transcript::Kind::Plug, "plug"},
    {Transcript::Kind::Unplug, "unplug"},
    {Transcript::Kind::Control, "control"},
};
} // namespace

const char *Transcript::kindName(Kind kind)
{
    for (const KindName &k : kKindNames)
        if (k.kind == kind)
            return k.name;
    return "?";
}

Transcript::Transcript() : start_(std::chrono::steady_clock::now()) {}

Transcript::~Transcript()
{
    if (file_)
        fclose(file_);
}

bool Transcript::openFile(const std::string &path, std::string *error)
{
    FILE *f = fopen(path.c_str(), "w");
    if (!f) {
        if (error)
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

std::string Transcript::format(Kind kind, const uint8_t *bytes, size_t len)
{
    static const char kHex[] = "0123456789abcdef";
    std::string text = kindName(kind);
    text.reserve(text.size() + 3 * len);
    for (size_t i = 0; i < len; ++i) {
        text += ' ';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

void Transcript::record(Kind kind, const uint8_t *bytes, size_t len)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if ((!file_ && !keep_) || (kind == Kind::Input && !inputs_))
        return;
    // The time is taken under the lock so that lines are in time order.
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char stamp[32];
    snprintf(stamp, sizeof stamp, "%.6f ", seconds);
    std::string line = stamp + format(kind, bytes, len);
    if (file_) {
        fputs(line.c_str(), file_);
        fputc('\n', file_);
        fflush(file_);
    }
    if (keep_)
        lines_.push_back(std::move(line));
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
