#include "test_image.h"

#include <algorithm>
#include <cstring>

namespace wheelemu {

namespace {
constexpr size_t kTagOffset = 0x200;
constexpr size_t kVectorTableEnd = 8;
constexpr size_t kResetHandlerOffset = 0x1C1;

void putU32(std::vector<uint8_t> &image, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        image[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t seedFor(size_t size, const std::string &version)
{
    uint32_t h = 2166136261u ^ static_cast<uint32_t>(size);
    for (unsigned char c : version)
        h = (h ^ c) * 16777619u;
    return h;
}
} // namespace

std::vector<uint8_t> makeTestImage(size_t size, const std::string &version)
{
    std::vector<uint8_t> image(size);
    uint32_t state = seedFor(size, version);
    for (uint8_t &b : image) {
        state = state * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(state >> 24);
        if (b == 'Q')
            b = 0xA5;
    }
    if (size >= kVectorTableEnd) {
        // The reset handler must be an odd address below the image's end.
        const size_t lastOdd = size % 2 == 0 ? size - 1 : size - 2;
        const size_t handler = std::min(kResetHandlerOffset, lastOdd);
        putU32(image, 0, kImageStackPointer);
        putU32(image, 4, kImageBase + static_cast<uint32_t>(handler));
    }
    const size_t tagLen = std::strlen(kImageVersionTag) + version.size() + 1;
    if (version.size() > kImageVersionMax)
        return image;
    size_t at = kTagOffset;
    if (at + tagLen > size)
        at = kVectorTableEnd;
    if (at + tagLen > size)
        return image;
    std::memcpy(&image[at], kImageVersionTag, std::strlen(kImageVersionTag));
    std::memcpy(&image[at + std::strlen(kImageVersionTag)], version.data(), version.size());
    image[at + tagLen - 1] = 0;
    return image;
}

std::string versionInImage(const std::vector<uint8_t> &image)
{
    const size_t tagLen = std::strlen(kImageVersionTag);
    const auto tag = std::search(image.begin(), image.end(), kImageVersionTag, kImageVersionTag + tagLen);
    if (tag == image.end())
        return {};
    const auto text = tag + static_cast<std::ptrdiff_t>(tagLen);
    const auto end = std::find(text, image.end(), uint8_t{0});
    if (end == image.end() || end - text > static_cast<std::ptrdiff_t>(kImageVersionMax))
        return {};
    return std::string(text, end);
}

} // namespace wheelemu
