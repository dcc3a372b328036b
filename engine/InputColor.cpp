// RGB to YUV 4:2:0 with the studio-range tables (plain and SSE2, identical
// results), palette expansion, black borders and the fast byte copy.
#include <algorithm>
#include <cstring>
#include <emmintrin.h>

#include "engine/EngineState.h"
#include "engine/Input.h"
#include "settings/EncoderSettings.h"

ColorConversionTables ColorTables;

namespace {

inline uint8_t Saturate(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Black levels outside a byte make no picture; both kernels see the same clamped value.
inline int ClampBlack(int black) { return std::clamp(black, 0, 255); }

void BuildLumaRange(int black) {
    for (int k = 0; k < 300; ++k) {
        const int l = std::min(k, 255);
        ColorTables.lumaRange[k] = Saturate(black + (((235 - black) * l + 128) >> 8));
    }
    ColorTables.lumaRangeBlack = black;
}

inline int FullRangeLuma(const uint8_t* p) {
    return (ColorTables.lumaG[p[1]] + ColorTables.lumaB[p[0]] + ColorTables.lumaR[p[2]]) >> 10;
}

}  // namespace

void InitColorConversionTables() {
    for (int v = 0; v < 256; ++v) {
        ColorTables.lumaR[v] = 306 * v + 512;
        ColorTables.lumaG[v] = 601 * v;
        ColorTables.lumaB[v] = 117 * v;
    }
    BuildLumaRange(ClampBlack(EncoderSettings.blackLevel));
    for (int i = -1100; i <= 1100; ++i) {
        const int d = std::clamp(i, -1023, 1023);
        // Saturated: a saturated red would otherwise give Cr 287 and wrap in a byte.
        ColorTables.cbStore[i + 1100] = Saturate(((8092 * d + 32768) >> 16) + 128);
        ColorTables.crStore[i + 1100] = Saturate(((10192 * d + 32768) >> 16) + 128);
    }
    ColorTables.cb = ColorTables.cbStore + 1100;
    ColorTables.cr = ColorTables.crStore + 1100;
}

void ConvertRowPairPlain(const uint8_t* upper, const uint8_t* lower, uint8_t* yTop, uint8_t* yBottom, uint8_t* cb,
                         uint8_t* cr, int count, int black) {
    if (!ColorTables.cb) InitColorConversionTables();
    if (ColorTables.lumaRangeBlack != black) BuildLumaRange(black);
    const uint8_t* range = ColorTables.lumaRange;
    int x = 0;
    for (; x + 1 < count; x += 2) {
        const uint8_t* a = upper + 3 * x;
        const int l0 = FullRangeLuma(a), l1 = FullRangeLuma(a + 3);
        yTop[x] = range[l0];
        yTop[x + 1] = range[l1];
        if (!lower) continue;
        const uint8_t* b = lower + 3 * x;
        const int l2 = FullRangeLuma(b), l3 = FullRangeLuma(b + 3);
        yBottom[x] = range[l2];
        yBottom[x + 1] = range[l3];
        const int sumL = l0 + l1 + l2 + l3;
        cb[x / 2] = static_cast<uint8_t>(ColorTables.cb[a[0] + a[3] + b[0] + b[3] - sumL]);
        cr[x / 2] = static_cast<uint8_t>(ColorTables.cr[a[2] + a[5] + b[2] + b[5] - sumL]);
    }
    if (x < count) {  // odd width: the last column has luma only
        yTop[x] = range[FullRangeLuma(upper + 3 * x)];
        if (lower) yBottom[x] = range[FullRangeLuma(lower + 3 * x)];
    }
}

namespace {

// Four 24-bit pixels as 32-bit lanes (blue in the low byte), reading exactly 12 bytes.
inline __m128i LoadFourPixels(const uint8_t* p) {
    uint32_t tail;
    std::memcpy(&tail, p + 8, 4);
    const __m128i a = _mm_or_si128(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)),
                                   _mm_slli_si128(_mm_cvtsi32_si128(static_cast<int>(tail)), 8));
    const __m128i p01 = _mm_unpacklo_epi32(a, _mm_srli_si128(a, 3));
    const __m128i p23 = _mm_unpacklo_epi32(_mm_srli_si128(a, 6), _mm_srli_si128(a, 9));
    return _mm_and_si128(_mm_unpacklo_epi64(p01, p23), _mm_set1_epi32(0x00FFFFFF));
}

// Full-range luma of four pixel lanes, as 32-bit lanes.
inline __m128i FullRangeLuma4(__m128i pixels) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i weights = _mm_setr_epi16(117, 601, 306, 0, 117, 601, 306, 0);
    __m128i lo = _mm_madd_epi16(_mm_unpacklo_epi8(pixels, zero), weights);  // b0g0, r0, b1g1, r1
    __m128i hi = _mm_madd_epi16(_mm_unpackhi_epi8(pixels, zero), weights);
    lo = _mm_add_epi32(lo, _mm_srli_epi64(lo, 32));
    hi = _mm_add_epi32(hi, _mm_srli_epi64(hi, 32));
    lo = _mm_shuffle_epi32(lo, _MM_SHUFFLE(3, 1, 2, 0));
    hi = _mm_shuffle_epi32(hi, _MM_SHUFFLE(3, 1, 2, 0));
    const __m128i sum = _mm_unpacklo_epi64(lo, hi);
    return _mm_srai_epi32(_mm_add_epi32(sum, _mm_set1_epi32(512)), 10);
}

// Studio-range luma of four full-range lanes: ((L (235 - black) + 128) >> 8) + black.
inline __m128i StudioLuma4(__m128i l, __m128i coefficients, __m128i black) {
    const __m128i pairs = _mm_or_si128(l, _mm_set1_epi32(0x10000));
    return _mm_add_epi32(_mm_srai_epi32(_mm_madd_epi16(pairs, coefficients), 8), black);
}

// Sums of adjacent lane pairs moved to lanes 0 and 1.
inline __m128i PairSums(__m128i v) {
    return _mm_shuffle_epi32(_mm_add_epi32(v, _mm_srli_epi64(v, 32)), _MM_SHUFFLE(3, 1, 2, 0));
}

inline void Store4(uint8_t* dst, __m128i bytes) {
    const int v = _mm_cvtsi128_si32(bytes);
    std::memcpy(dst, &v, 4);
}

}  // namespace

void ConvertRowPairSse2(const uint8_t* upper, const uint8_t* lower, uint8_t* yTop, uint8_t* yBottom, uint8_t* cb,
                        uint8_t* cr, int count, int black) {
    const __m128i coefficients = _mm_set1_epi32((128 << 16) | ((235 - black) & 0xFFFF));
    const __m128i blackLanes = _mm_set1_epi32(black);
    const __m128i byteMask = _mm_set1_epi32(0xFF);
    const __m128i chromaFactors = _mm_setr_epi16(16184, 16184, 20384, 20384, 16184, 16184, 20384, 20384);
    const __m128i one = _mm_set1_epi16(1), offset = _mm_set1_epi16(128);
    for (int x = 0; x + 4 <= count; x += 4) {
        const __m128i top = LoadFourPixels(upper + 3 * x);
        const __m128i bottom = LoadFourPixels(lower + 3 * x);
        const __m128i lTop = FullRangeLuma4(top), lBottom = FullRangeLuma4(bottom);
        const __m128i yWords = _mm_packs_epi32(StudioLuma4(lTop, coefficients, blackLanes),
                                               StudioLuma4(lBottom, coefficients, blackLanes));
        const __m128i yBytes = _mm_packus_epi16(yWords, yWords);
        Store4(yTop + x, yBytes);
        Store4(yBottom + x, _mm_srli_si128(yBytes, 4));

        const __m128i sumL = _mm_add_epi32(lTop, lBottom);
        const __m128i sumB = _mm_add_epi32(_mm_and_si128(top, byteMask), _mm_and_si128(bottom, byteMask));
        const __m128i sumR = _mm_add_epi32(_mm_and_si128(_mm_srli_epi32(top, 16), byteMask),
                                           _mm_and_si128(_mm_srli_epi32(bottom, 16), byteMask));
        const __m128i d = _mm_unpacklo_epi64(PairSums(_mm_sub_epi32(sumB, sumL)),
                                             PairSums(_mm_sub_epi32(sumR, sumL)));  // cb0 cb1 cr0 cr1
        __m128i c = _mm_packs_epi32(d, d);
        c = _mm_mulhi_epi16(c, chromaFactors);
        c = _mm_add_epi16(_mm_srai_epi16(_mm_add_epi16(c, one), 1), offset);
        const int packed = _mm_cvtsi128_si32(_mm_packus_epi16(c, c));
        cb[x / 2] = static_cast<uint8_t>(packed);
        cb[x / 2 + 1] = static_cast<uint8_t>(packed >> 8);
        cr[x / 2] = static_cast<uint8_t>(packed >> 16);
        cr[x / 2 + 1] = static_cast<uint8_t>(packed >> 24);
    }
}

void ConvertRgbFrameToYuv(const uint8_t* pixels, int width, int height, uint8_t* luma, int lumaLine, uint8_t* cb,
                          uint8_t* cr, int chromaLine, int black) {
    if (width <= 0 || height <= 0) return;
    black = ClampBlack(black);
    const std::ptrdiff_t rowBytes = (3 * static_cast<std::ptrdiff_t>(width) + 3) & ~std::ptrdiff_t{3};
    const ConvertRowPairFn convertRowPair = InputKernelSet.convertRowPair;
    // The kernels take whole groups of four; the rest of a line goes the plain way.
    const int grouped = width & ~3;
    for (int y = 0; y < height; y += 2) {
        const uint8_t* upper = pixels + (height - 1 - y) * rowBytes;
        uint8_t* yTop = luma + static_cast<std::ptrdiff_t>(y) * lumaLine;
        if (y + 1 >= height) {  // odd height: the last line has no chroma partner
            ConvertRowPairPlain(upper, nullptr, yTop, nullptr, nullptr, nullptr, width, black);
            break;
        }
        const uint8_t* lower = upper - rowBytes;
        uint8_t* yBottom = yTop + lumaLine;
        uint8_t* cbLine = cb + static_cast<std::ptrdiff_t>(y / 2) * chromaLine;
        uint8_t* crLine = cr + static_cast<std::ptrdiff_t>(y / 2) * chromaLine;
        if (grouped > 0) convertRowPair(upper, lower, yTop, yBottom, cbLine, crLine, grouped, black);
        if (grouped < width)
            ConvertRowPairPlain(upper + 3 * grouped, lower + 3 * grouped, yTop + grouped, yBottom + grouped,
                                cbLine + grouped / 2, crLine + grouped / 2, width - grouped, black);
    }
}

void ClearBorderRows(uint8_t* pixels, int rowBytes, int rows, int bottom, int top, int limit) {
    auto count = [&](int lines) { return lines > 0 && lines <= 32 && lines < limit ? std::min(2 * ((lines + 1) / 2), rows) : 0; };
    const int b = count(bottom), t = count(top);
    if (b > 0) std::memset(pixels, 0, static_cast<size_t>(b) * rowBytes);
    if (t > 0) std::memset(pixels + static_cast<std::ptrdiff_t>(rows - t) * rowBytes, 0, static_cast<size_t>(t) * rowBytes);
}

void ExpandPaletteFrame(const uint8_t* indices, const uint8_t* palette, int paletteCount, int width, int height,
                        uint8_t* rgb) {
    paletteCount = std::clamp(paletteCount, 0, 256);
    const std::ptrdiff_t srcRow = (static_cast<std::ptrdiff_t>(width) + 3) & ~std::ptrdiff_t{3};
    const std::ptrdiff_t dstRow = (3 * static_cast<std::ptrdiff_t>(width) + 3) & ~std::ptrdiff_t{3};
    for (int r = 0; r < height; ++r) {
        const uint8_t* s = indices + r * srcRow;
        uint8_t* d = rgb + r * dstRow;
        for (int x = 0; x < width; ++x, d += 3) {
            if (s[x] < paletteCount) {
                const uint8_t* e = palette + 4 * s[x];
                d[0] = e[0];
                d[1] = e[1];
                d[2] = e[2];
            } else {
                d[0] = d[1] = d[2] = 0;
            }
        }
        std::memset(d, 0, static_cast<size_t>(rgb + (r + 1) * dstRow - d));
    }
}

void* CopyBytesPlain(void* dst, const void* src, size_t n) { return std::memcpy(dst, src, n); }

void* CopyBytesSse2(void* dst, const void* src, size_t n) {
    auto* d = static_cast<uint8_t*>(dst);
    auto* s = static_cast<const uint8_t*>(src);
    size_t i = 0;
    // The count is tested before the first block: short copies never touch 16 bytes.
    for (; i + 16 <= n; i += 16)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i)));
    if (i < n) std::memcpy(d + i, s + i, n - i);
    return dst;
}

void* CopyBytesFast(void* dst, const void* src, size_t n) { return InputKernelSet.copyBytes(dst, src, n); }

InputKernels InputKernelSet = [] {
    InputKernels k;
    input_init(false, k);
    return k;
}();

void input_init(bool simd, InputKernels& kernels) {
    kernels.convertRowPair = ConvertRowPairPlain;
    kernels.copyBytes = CopyBytesPlain;
    kernels.medianRow = MedianRowPlain;
    if (simd) {
        kernels.convertRowPair = ConvertRowPairSse2;
        kernels.copyBytes = CopyBytesSse2;
        kernels.medianRow = MedianRowSse2;
    }
}
