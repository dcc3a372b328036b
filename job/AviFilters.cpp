// The AVI frame reader's own picture arithmetic: drawing decoded frames as
// 24-bit RGB, the line-average deinterlace and the shrink pre-filters.
#include "job/AviFilters.h"

#include "platform/AviFile.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

uint32_t LoadLe32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// One colour of a bit-field pixel widened to 8 bits by repeating its top bits.
struct Field {
    uint32_t mask = 0;
    int shift = 0, bits = 0;
    explicit Field(uint32_t m) : mask(m) {
        if (!m) return;
        while (!((m >> shift) & 1)) ++shift;
        while (bits < 32 - shift && ((m >> (shift + bits)) & 1)) ++bits;
    }
    uint8_t Get(uint32_t v) const {
        if (!bits) return 0;
        uint32_t x = (v & mask) >> shift;
        if (bits >= 8) return uint8_t(x >> (bits - 8));
        uint32_t out = 0;
        for (int filled = 0; filled < 8; filled += bits) out = (out << bits) | x;
        return uint8_t(out >> (((8 + bits - 1) / bits) * bits - 8));
    }
};

}  // namespace

bool DrawDibAsRgb24(const uint8_t* dib, uint8_t* pixels, int width, int height) {
    if (!dib || !pixels || width <= 0 || height <= 0) return false;
    platform::BitmapInfoHeader h = platform::BitmapInfoHeader::Load(dib);
    if (h.size < platform::BitmapInfoHeader::kSize || h.width <= 0 || h.height == 0 || h.planes != 1) return false;
    const uint8_t* table = dib + h.size;
    const uint8_t* bits = table;
    Field red(0x7C00), green(0x03E0), blue(0x001F);
    switch (h.bitCount) {
        case 8: {
            uint32_t entries = h.clrUsed ? h.clrUsed : 256;
            if (h.compression != platform::kBiRgb || entries > 256) return false;
            bits = table + 4 * entries;
            break;
        }
        case 16:
        case 32:
            if (h.compression == platform::kBiBitFields) {
                red = Field(LoadLe32(table));
                green = Field(LoadLe32(table + 4));
                blue = Field(LoadLe32(table + 8));
                bits = table + 12;
            } else if (h.compression != platform::kBiRgb) {
                return false;
            } else if (h.bitCount == 32) {
                red = Field(0xFF0000);
                green = Field(0xFF00);
                blue = Field(0xFF);
            }
            break;
        case 24:
            if (h.compression != platform::kBiRgb) return false;
            break;
        default:
            return false;
    }
    int64_t srcRow = h.RowBytes();
    if (srcRow <= 0) return false;
    bool bottomUp = h.height > 0;
    int srcHeight = bottomUp ? h.height : -h.height;
    int rows = std::min(srcHeight, height);
    int cols = std::min(int(h.width), width);
    size_t dstRow = Rgb24RowBytes(width);
    for (int r = 0; r < rows; ++r) {  // r counts from the top
        const uint8_t* s = bits + (bottomUp ? int64_t(srcHeight - 1 - r) : int64_t(r)) * srcRow;
        uint8_t* d = pixels + size_t(height - 1 - r) * dstRow;
        switch (h.bitCount) {
            case 8:
                for (int x = 0; x < cols; ++x) std::memcpy(d + 3 * x, table + 4 * s[x], 3);
                break;
            case 24:
                std::memcpy(d, s, size_t(cols) * 3);
                break;
            case 16:
                for (int x = 0; x < cols; ++x) {
                    uint32_t v = uint32_t(s[2 * x] | s[2 * x + 1] << 8);
                    d[3 * x] = blue.Get(v);
                    d[3 * x + 1] = green.Get(v);
                    d[3 * x + 2] = red.Get(v);
                }
                break;
            case 32:
                for (int x = 0; x < cols; ++x) {
                    uint32_t v = LoadLe32(s + 4 * x);
                    d[3 * x] = blue.Get(v);
                    d[3 * x + 1] = green.Get(v);
                    d[3 * x + 2] = red.Get(v);
                }
                break;
        }
    }
    return true;
}

void AverageOddRows(uint8_t* pixels, int width, int height) {
    size_t stride = Rgb24RowBytes(width);
    for (int pair = 0, pairs = (height - 1) / 2; pair < pairs; ++pair) {
        uint8_t* row = pixels + size_t(2 * pair + 1) * stride;
        const uint8_t* above = row - stride;
        const uint8_t* below = row + stride;
        for (size_t x = 0; x < size_t(width) * 3; ++x) row[x] = uint8_t((above[x] + below[x] + 1) / 2);
    }
}

PrefilterKernel ChoosePrefilterKernel(int source, int encoded) {
    if (encoded <= 0) return {4, 8};
    if (int64_t(source) * 8 / encoded <= 9) return {1, 14};
    if (int64_t(source) * 2 / encoded <= 3) return {2, 12};
    return {4, 8};
}

void PrefilterRows(uint8_t* pixels, int width, int height, PrefilterKernel k) {
    if (width < 3) return;
    size_t stride = Rgb24RowBytes(width);
    std::vector<uint8_t> original(size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = pixels + size_t(y) * stride;
        std::memcpy(original.data(), row, original.size());
        for (size_t i = 3; i < size_t(width - 1) * 3; ++i)
            row[i] = uint8_t(((original[i - 3] + original[i + 3]) * k.side + original[i] * k.middle + 8) >> 4);
    }
}

void PrefilterColumns(uint8_t* pixels, int width, int height, PrefilterKernel k) {
    if (width < 3 || height < 4) return;
    size_t stride = Rgb24RowBytes(width);
    size_t from = 3, to = size_t(width - 1) * 3;  // all but the first and last pixel
    std::vector<uint8_t> above(pixels + from, pixels + to), current(to - from);
    for (int y = 1; y <= height - 3; ++y) {
        uint8_t* row = pixels + size_t(y) * stride;
        const uint8_t* below = row + stride;
        std::memcpy(current.data(), row + from, current.size());
        for (size_t i = 0; i < current.size(); ++i)
            row[from + i] = uint8_t(((above[i] + below[from + i]) * k.side + current[i] * k.middle + 8) >> 4);
        above.swap(current);
    }
}

int ChooseInterpolation(int sourceWidth, int sourceHeight, int width, int height) {
    bool belowHalf = int64_t(width) * 2 < sourceWidth && int64_t(height) * 2 < sourceHeight;
    return belowHalf ? 3 : 2;
}
