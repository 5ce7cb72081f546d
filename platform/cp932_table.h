// The CP932 (Windows-31J) decoding tables, generated into cp932_table.cpp.
#pragma once

#include <cstdint>

namespace zelo::cp932 {

inline constexpr uint16_t kUnmapped = 0xFFFF;
inline constexpr int kLeadCount = 60; // 0x81-0x9F, 0xE0-0xFC
inline constexpr int kTrailCount = 189; // 0x40-0xFC (0x7F never maps)

// Index of a lead byte in kDoubleByte's rows, or -1 when the byte is not a lead byte.
constexpr int LeadIndex(uint8_t b)
{
    if (b >= 0x81 && b <= 0x9F) return b - 0x81;
    if (b >= 0xE0 && b <= 0xFC) return b - 0xE0 + 31;
    return -1;
}

extern const uint16_t kSingleByte[256];
extern const uint16_t kDoubleByte[kLeadCount * kTrailCount];

} // namespace zelo::cp932
