// SSE2 inverse DCT: the plain form's arithmetic on eight rows or columns at a
// time, 16-bit multiply-adds into 32-bit lanes, so every value matches exactly.
#include <emmintrin.h>

#include "engine/Idct.h"
#include "engine/TransformSse2.h"

namespace {

using transform_sse2::ConstPair;

// (181 y + 128) >> 8 without a 32-bit product (SSE2 has none): y is split into
// its high part, multiplied by shifts and adds, and its low byte.
inline __m128i ScaleBySqrtHalf(__m128i y) {
    const __m128i high = _mm_srai_epi32(y, 8);
    const __m128i low = _mm_and_si128(y, _mm_set1_epi32(255));
    __m128i scaledHigh = _mm_add_epi32(_mm_slli_epi32(high, 7), _mm_slli_epi32(high, 5));
    scaledHigh = _mm_add_epi32(scaledHigh, _mm_add_epi32(_mm_slli_epi32(high, 4), _mm_slli_epi32(high, 2)));
    scaledHigh = _mm_add_epi32(scaledHigh, high);
    const __m128i scaledLow = _mm_madd_epi16(low, _mm_set1_epi32(181));
    return _mm_add_epi32(scaledHigh, _mm_srai_epi32(_mm_add_epi32(scaledLow, _mm_set1_epi32(128)), 8));
}

// The products of one pass for four lanes. `pXY` interleave inputs X and Y.
struct OddEven {
    __m128i x0, x1, x2, x3, x4, x5, x6, x7, x8;
};

// Steps shared by both passes once the products are formed; writes the eight
// 32-bit outputs before their final shift.
inline void Butterflies(OddEven& v, __m128i out[8]) {
    __m128i x1 = _mm_add_epi32(v.x4, v.x6);
    __m128i x4 = _mm_sub_epi32(v.x4, v.x6);
    __m128i x6 = _mm_add_epi32(v.x5, v.x7);
    __m128i x5 = _mm_sub_epi32(v.x5, v.x7);

    const __m128i x7 = _mm_add_epi32(v.x8, v.x3);
    const __m128i x8 = _mm_sub_epi32(v.x8, v.x3);
    const __m128i x3 = _mm_add_epi32(v.x0, v.x2);
    const __m128i x0 = _mm_sub_epi32(v.x0, v.x2);
    const __m128i x2 = ScaleBySqrtHalf(_mm_add_epi32(x4, x5));
    x4 = ScaleBySqrtHalf(_mm_sub_epi32(x4, x5));

    out[0] = _mm_add_epi32(x7, x1);
    out[1] = _mm_add_epi32(x3, x2);
    out[2] = _mm_add_epi32(x0, x4);
    out[3] = _mm_add_epi32(x8, x6);
    out[4] = _mm_sub_epi32(x8, x6);
    out[5] = _mm_sub_epi32(x0, x4);
    out[6] = _mm_sub_epi32(x3, x2);
    out[7] = _mm_sub_epi32(x7, x1);
}

// One pass over eight inputs c[0..7] (each a register of eight lanes); `first`
// selects the scaling of the horizontal pass, else the vertical pass.
template <bool first>
inline void Pass(const __m128i c[8], __m128i result[8]) {
    __m128i halves[2][8];
    for (int half = 0; half < 2; ++half) {
        auto interleave = [half](__m128i a, __m128i b) {
            return half == 0 ? _mm_unpacklo_epi16(a, b) : _mm_unpackhi_epi16(a, b);
        };
        const __m128i p17 = interleave(c[1], c[7]);
        const __m128i p53 = interleave(c[5], c[3]);
        const __m128i p26 = interleave(c[2], c[6]);
        const __m128i p04 = interleave(c[0], c[4]);
        OddEven v;
        v.x4 = _mm_madd_epi16(p17, ConstPair(2841, 565));
        v.x5 = _mm_madd_epi16(p17, ConstPair(565, -2841));
        v.x6 = _mm_madd_epi16(p53, ConstPair(1609, 2408));
        v.x7 = _mm_madd_epi16(p53, ConstPair(2408, -1609));
        v.x2 = _mm_madd_epi16(p26, ConstPair(1108, -2676));
        v.x3 = _mm_madd_epi16(p26, ConstPair(2676, 1108));
        if constexpr (first) {
            const __m128i round = _mm_set1_epi32(128);
            v.x8 = _mm_add_epi32(_mm_madd_epi16(p04, ConstPair(2048, 2048)), round);
            v.x0 = _mm_add_epi32(_mm_madd_epi16(p04, ConstPair(2048, -2048)), round);
        } else {
            const __m128i four = _mm_set1_epi32(4);
            v.x4 = _mm_srai_epi32(_mm_add_epi32(v.x4, four), 3);
            v.x5 = _mm_srai_epi32(_mm_add_epi32(v.x5, four), 3);
            v.x6 = _mm_srai_epi32(_mm_add_epi32(v.x6, four), 3);
            v.x7 = _mm_srai_epi32(_mm_add_epi32(v.x7, four), 3);
            v.x2 = _mm_srai_epi32(_mm_add_epi32(v.x2, four), 3);
            v.x3 = _mm_srai_epi32(_mm_add_epi32(v.x3, four), 3);
            const __m128i round = _mm_set1_epi32(8192);
            v.x8 = _mm_add_epi32(_mm_madd_epi16(p04, ConstPair(256, 256)), round);
            v.x0 = _mm_add_epi32(_mm_madd_epi16(p04, ConstPair(256, -256)), round);
        }
        __m128i out[8];
        Butterflies(v, out);
        for (int i = 0; i < 8; ++i) halves[half][i] = _mm_srai_epi32(out[i], first ? 8 : 14);
    }
    // Packing saturates to 16 bits: the plain form saturates the first pass the
    // same way, and the second pass is clamped to -256..255 below.
    for (int i = 0; i < 8; ++i) result[i] = _mm_packs_epi32(halves[0][i], halves[1][i]);
}

inline void Idct(int16_t* block) {
    __m128i rows[8];
    transform_sse2::LoadRows(block, rows);
    // Row r of the transposed block holds horizontal frequency r of every row,
    // so the horizontal pass runs on eight rows at once.
    transform_sse2::TransposeRows(rows);
    __m128i horizontal[8];
    Pass<true>(rows, horizontal);
    // horizontal[x] holds sample x of every row; transpose back to rows.
    transform_sse2::TransposeRows(horizontal);
    __m128i lines[8];
    Pass<false>(horizontal, lines);
    const __m128i low = _mm_set1_epi16(-256), high = _mm_set1_epi16(255);
    for (int i = 0; i < 8; ++i) lines[i] = _mm_min_epi16(_mm_max_epi16(lines[i], low), high);
    transform_sse2::StoreRows(block, lines);
}

}  // namespace

void IdctSse2(int16_t* block) { Idct(block); }
