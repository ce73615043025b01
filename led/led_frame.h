#pragma once

#include "device/command_report.h"

#include <QString>

#include <array>
#include <cstdint>
#include <vector>

// The LED colours of a whole wheel as the wheel holds them: LED i owns the
// channel slots 3i, 3i+1 and 3i+2 (in its ChannelOrder), each slot a 4-bit
// level, two slots to a byte with the even slot in the low nibble. The frame
// travels in pages of 18 bytes (12 LEDs).

constexpr int kLedPageBytes = static_cast<int>(std::tuple_size<LedPageLevels>::value);
constexpr int kLedsPerPage = kLedPageBytes * 2 / 3;
constexpr int kMaxLedPages = kLedPageCount;
constexpr int kLedFrameBytes = kLedPageBytes * kMaxLedPages;
constexpr int kLedSlotCount = kLedFrameBytes * 2;
constexpr int kMaxFrameLeds = kLedSlotCount / 3;

// Frame positions that no LED of the model uses are sent fully lit, slot by
// slot (both nibbles of a byte past the map, or just the high one when the
// last LED ends in a low nibble).
constexpr uint8_t kUnusedSlotValue = 0xFF;

// Packed levels; a 4-page model only uses the first 72 bytes.
using LedFrame = std::array<uint8_t, kLedFrameBytes>;
// One 8-bit value per channel slot.
using LedSlots = std::array<uint8_t, kLedSlotCount>;

// 8 pages when the name contains "ULMAR" (case-sensitive), 4 otherwise.
int ledPageCount(const QString &deviceName);

// Pages as they go out: 0, 1, then 3 up to the last, and page 2 at the end.
std::vector<int> ledPageSendOrder(int pageCount);

// Slots for sending: LED i's frame-order triple in slots 3i..3i+2 and
// kUnusedSlotValue everywhere past the last LED. LEDs beyond kMaxFrameLeds
// are dropped.
LedSlots ledSlotsForSending(const std::vector<Rgb> &frameOrderColours);
// Quantises every slot to its level and packs all 144 bytes.
LedFrame packLedFrame(const LedSlots &values);
// The level values of the first pageCount pages; the slots of pages not read
// stay 0.
LedSlots unpackLedFrame(const LedFrame &frame, int pageCount);

// The three slots of LED i, in frame order.
Rgb ledSlotTriple(const LedSlots &values, int led);

LedPageLevels ledFramePage(const LedFrame &frame, int page);
void setLedFramePage(LedFrame &frame, int page, const LedPageLevels &levels);
