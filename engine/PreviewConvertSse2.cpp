// SSE2 twin of the 4:2:0 preview row conversion: eight pixels per step with
// 32-bit products, so that it gives exactly the plain converter's bytes.
#include <emmintrin.h>

#include <cstring>

#include "engine/PreviewConvert.h"

namespace {

// Four 32-bit sums (a * fa + b * fb) of the lower or upper four 16-bit lanes.
inline __m128i MulAddLo(__m128i a, __m128i b, __m128i factors) {
    return _mm_madd_epi16(_mm_unpacklo_epi16(a, b), factors);
}
inline __m128i MulAddHi(__m128i a, __m128i b, __m128i factors) {
    return _mm_madd_epi16(_mm_unpackhi_epi16(a, b), factors);
}

// ((sum + rounding) >> 10) + offset for eight sums, saturated to 0..255.
inline __m128i Finish(__m128i lo, __m128i hi, __m128i rounding, __m128i offset) {
    lo = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(lo, rounding), 10), offset);
    hi = _mm_add_epi32(_mm_srai_epi32(_mm_add_epi32(hi, rounding), 10), offset);
    return _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
}

// Four chroma samples, each doubled into two 16-bit lanes.
inline __m128i ChromaPairs(const uint8_t* c) {
    int32_t four;
    std::memcpy(&four, c, 4);
    const __m128i words = _mm_unpacklo_epi8(_mm_cvtsi32_si128(four), _mm_setzero_si128());
    return _mm_unpacklo_epi16(words, words);
}

}  // namespace

void ConvertPreviewRowSse2(const uint8_t* luma, const uint8_t* cb, const uint8_t* cr, uint8_t* out, int width) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i blueFactors = _mm_set_epi16(2066, 1192, 2066, 1192, 2066, 1192, 2066, 1192);
    const __m128i greenFactors = _mm_set_epi16(-400, 1192, -400, 1192, -400, 1192, -400, 1192);
    const __m128i crGreenFactors = _mm_set_epi16(0, -832, 0, -832, 0, -832, 0, -832);
    const __m128i redFactors = _mm_set_epi16(1634, 1192, 1634, 1192, 1634, 1192, 1634, 1192);
    const __m128i rounding = _mm_set1_epi32(512);
    const __m128i blueOffset = _mm_set1_epi32(-278), greenOffset = _mm_set1_epi32(136),
                  redOffset = _mm_set1_epi32(-224);
    alignas(16) uint8_t blue[16], green[16], red[16];
    int x = 0;
    for (; x + 8 <= width; x += 8) {
        const __m128i y = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(luma + x)), zero);
        const __m128i u = ChromaPairs(cb + x / 2);
        const __m128i v = ChromaPairs(cr + x / 2);
        const __m128i b = Finish(MulAddLo(y, u, blueFactors), MulAddHi(y, u, blueFactors), rounding, blueOffset);
        const __m128i g = Finish(_mm_add_epi32(MulAddLo(y, u, greenFactors), MulAddLo(v, zero, crGreenFactors)),
                                 _mm_add_epi32(MulAddHi(y, u, greenFactors), MulAddHi(v, zero, crGreenFactors)),
                                 rounding, greenOffset);
        const __m128i r = Finish(MulAddLo(y, v, redFactors), MulAddHi(y, v, redFactors), rounding, redOffset);
        _mm_store_si128(reinterpret_cast<__m128i*>(blue), b);
        _mm_store_si128(reinterpret_cast<__m128i*>(green), g);
        _mm_store_si128(reinterpret_cast<__m128i*>(red), r);
        uint8_t* o = out + 3 * x;
        for (int k = 0; k < 8; ++k) {
            o[3 * k] = blue[k];
            o[3 * k + 1] = green[k];
            o[3 * k + 2] = red[k];
        }
    }
    if (x < width) ConvertPreviewRowPlain(luma + x, cb + x / 2, cr + x / 2, out + 3 * x, width - x);
}
