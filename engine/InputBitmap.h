// Internal to the input path: the packed bitmap header, read field by field.
#pragma once

#include <cstdint>

constexpr int BitmapHeaderSize = 40;

struct BitmapInfo {
    int width = 0;
    int height = 0;
    int bits = 0;
    int paletteCount = 0;  // entries of 4 bytes after the header; at most 256 accepted
};

inline uint32_t ReadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

// Palette counts are clamped to 0..4096 so that sizes computed from them stay small.
inline BitmapInfo ReadBitmapInfo(const uint8_t* bitmap) {
    BitmapInfo info;
    info.width = static_cast<int32_t>(ReadLe32(bitmap + 4));
    info.height = static_cast<int32_t>(ReadLe32(bitmap + 8));
    info.bits = bitmap[14] | bitmap[15] << 8;
    const uint32_t palette = ReadLe32(bitmap + 32);
    info.paletteCount = palette > 4096 ? 4096 : static_cast<int>(palette);
    return info;
}

// The cache's fetch; `reported` tells whether a failure was already shown.
const uint8_t* FetchInputFrame(int n, bool& reported);

// Filters the picture held in InputState.FilterPlane into `luma` as the settings select.
void FilterInputLuma(uint8_t* luma, int width, int height, int lineLength);
