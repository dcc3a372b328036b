// AVX2 inverse DCT: the SSE2 form's arithmetic with both halves of each pass
// (lanes 0-3 and 4-7) in one register, so every value matches exactly.
#include <immintrin.h>

#include "engine/Idct.h"
#include "engine/TransformSse2.h"

#define TESSMAR_AVX2 __attribute__((target("avx2")))

namespace {

TESSMAR_AVX2 inline __m256i Pair(int first, int second) {
    return _mm256_set1_epi32(static_cast<int>((static_cast<uint32_t>(second) << 16) |
                                              (static_cast<uint32_t>(first) & 0xFFFFu)));
}

// Inputs a and b interleaved: lanes 0-3 in the low half, 4-7 in the high half.
TESSMAR_AVX2 inline __m256i Interleave(__m128i a, __m128i b) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_unpacklo_epi16(a, b)), _mm_unpackhi_epi16(a, b), 1);
}

// (181 y + 128) >> 8 as the SSE2 form takes it: high part by shifts and adds,
// low byte by a multiply-add, so no product leaves 32 bits.
TESSMAR_AVX2 inline __m256i ScaleBySqrtHalf(__m256i y) {
    const __m256i high = _mm256_srai_epi32(y, 8);
    const __m256i low = _mm256_and_si256(y, _mm256_set1_epi32(255));
    __m256i scaledHigh = _mm256_add_epi32(_mm256_slli_epi32(high, 7), _mm256_slli_epi32(high, 5));
    scaledHigh = _mm256_add_epi32(scaledHigh, _mm256_add_epi32(_mm256_slli_epi32(high, 4), _mm256_slli_epi32(high, 2)));
    scaledHigh = _mm256_add_epi32(scaledHigh, high);
    const __m256i scaledLow = _mm256_madd_epi16(low, _mm256_set1_epi32(181));
    return _mm256_add_epi32(scaledHigh, _mm256_srai_epi32(_mm256_add_epi32(scaledLow, _mm256_set1_epi32(128)), 8));
}

template <bool first>
TESSMAR_AVX2 inline void Pass(const __m128i c[8], __m128i result[8]) {
    const __m256i p17 = Interleave(c[1], c[7]);
    const __m256i p53 = Interleave(c[5], c[3]);
    const __m256i p26 = Interleave(c[2], c[6]);
    const __m256i p04 = Interleave(c[0], c[4]);
    __m256i x4 = _mm256_madd_epi16(p17, Pair(2841, 565));
    __m256i x5 = _mm256_madd_epi16(p17, Pair(565, -2841));
    __m256i x6 = _mm256_madd_epi16(p53, Pair(1609, 2408));
    __m256i x7 = _mm256_madd_epi16(p53, Pair(2408, -1609));
    __m256i x2 = _mm256_madd_epi16(p26, Pair(1108, -2676));
    __m256i x3 = _mm256_madd_epi16(p26, Pair(2676, 1108));
    __m256i x8, x0;
    if constexpr (first) {
        const __m256i round = _mm256_set1_epi32(128);
        x8 = _mm256_add_epi32(_mm256_madd_epi16(p04, Pair(2048, 2048)), round);
        x0 = _mm256_add_epi32(_mm256_madd_epi16(p04, Pair(2048, -2048)), round);
    } else {
        const __m256i four = _mm256_set1_epi32(4);
        x4 = _mm256_srai_epi32(_mm256_add_epi32(x4, four), 3);
        x5 = _mm256_srai_epi32(_mm256_add_epi32(x5, four), 3);
        x6 = _mm256_srai_epi32(_mm256_add_epi32(x6, four), 3);
        x7 = _mm256_srai_epi32(_mm256_add_epi32(x7, four), 3);
        x2 = _mm256_srai_epi32(_mm256_add_epi32(x2, four), 3);
        x3 = _mm256_srai_epi32(_mm256_add_epi32(x3, four), 3);
        const __m256i round = _mm256_set1_epi32(8192);
        x8 = _mm256_add_epi32(_mm256_madd_epi16(p04, Pair(256, 256)), round);
        x0 = _mm256_add_epi32(_mm256_madd_epi16(p04, Pair(256, -256)), round);
    }
    __m256i x1 = _mm256_add_epi32(x4, x6);
    x4 = _mm256_sub_epi32(x4, x6);
    x6 = _mm256_add_epi32(x5, x7);
    x5 = _mm256_sub_epi32(x5, x7);
    x7 = _mm256_add_epi32(x8, x3);
    x8 = _mm256_sub_epi32(x8, x3);
    x3 = _mm256_add_epi32(x0, x2);
    x0 = _mm256_sub_epi32(x0, x2);
    x2 = ScaleBySqrtHalf(_mm256_add_epi32(x4, x5));
    x4 = ScaleBySqrtHalf(_mm256_sub_epi32(x4, x5));

    constexpr int shift = first ? 8 : 14;
    const __m256i out[8] = {_mm256_srai_epi32(_mm256_add_epi32(x7, x1), shift),
                            _mm256_srai_epi32(_mm256_add_epi32(x3, x2), shift),
                            _mm256_srai_epi32(_mm256_add_epi32(x0, x4), shift),
                            _mm256_srai_epi32(_mm256_add_epi32(x8, x6), shift),
                            _mm256_srai_epi32(_mm256_sub_epi32(x8, x6), shift),
                            _mm256_srai_epi32(_mm256_sub_epi32(x0, x4), shift),
                            _mm256_srai_epi32(_mm256_sub_epi32(x3, x2), shift),
                            _mm256_srai_epi32(_mm256_sub_epi32(x7, x1), shift)};
    // Packing saturates to 16 bits as the SSE2 form does; the pack works per
    // half, so the 64-bit quarters are put back in lane order.
    for (int i = 0; i < 8; i += 2) {
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packs_epi32(out[i], out[i + 1]), 0xD8);
        result[i] = _mm256_castsi256_si128(packed);
        result[i + 1] = _mm256_extracti128_si256(packed, 1);
    }
}

}  // namespace

TESSMAR_AVX2 void IdctAvx2(int16_t* block) {
    __m128i rows[8];
    transform_sse2::LoadRows(block, rows);
    transform_sse2::TransposeRows(rows);
    __m128i horizontal[8];
    Pass<true>(rows, horizontal);
    transform_sse2::TransposeRows(horizontal);
    __m128i lines[8];
    Pass<false>(horizontal, lines);
    const __m128i low = _mm_set1_epi16(-256), high = _mm_set1_epi16(255);
    for (int i = 0; i < 8; ++i) lines[i] = _mm_min_epi16(_mm_max_epi16(lines[i], low), high);
    transform_sse2::StoreRows(block, lines);
}
