// Firmware images for tests and demos, and how an image states its version.
//
// An image carries its version as the ASCII tag "QVER:" followed by the
// version text and a 0 byte, anywhere in the image; the first tag counts. A
// tag without its 0 byte, or with more than kImageVersionMax text bytes,
// counts as no version.
//
// makeTestImage(size, version) gives exactly `size` bytes that a DFU host's
// sanity check accepts: from 8 bytes on, an initial stack pointer of
// 0x20020000 at offset 0 and an odd (Thumb) reset vector at offset 4 that
// lies inside [0x08000000, 0x08000000 + size). The tag sits at offset 0x200
// when it fits there, else at offset 8, else the image has no version. The
// other bytes are a pattern that depends on size and version and never holds
// the byte 'Q', so no second tag can appear by chance and chunks that land at
// the wrong offset change the image.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace wheelemu {

constexpr const char *kImageVersionTag = "QVER:";
constexpr size_t kImageVersionMax = 64;
constexpr uint32_t kImageBase = 0x08000000;
constexpr uint32_t kImageStackPointer = 0x20020000;

std::vector<uint8_t> makeTestImage(size_t size, const std::string &version);
std::string versionInImage(const std::vector<uint8_t> &image);

} // namespace wheelemu
