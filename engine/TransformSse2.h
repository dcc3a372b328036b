// SSE2 building blocks shared by the forward and inverse transform kernels:
// the 8x8 transpose of 16-bit values held as eight row registers.
#pragma once

#include <emmintrin.h>

#include <cstdint>

namespace transform_sse2 {

inline void LoadRows(const int16_t* block, __m128i rows[8]) {
    for (int r = 0; r < 8; ++r)
        rows[r] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 8 * r));
}

inline void StoreRows(int16_t* block, const __m128i rows[8]) {
    for (int r = 0; r < 8; ++r)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 8 * r), rows[r]);
}

// Row r of the result holds column r of the input.
inline void TransposeRows(__m128i r[8]) {
    const __m128i a0 = _mm_unpacklo_epi16(r[0], r[1]);
    const __m128i a1 = _mm_unpackhi_epi16(r[0], r[1]);
    const __m128i a2 = _mm_unpacklo_epi16(r[2], r[3]);
    const __m128i a3 = _mm_unpackhi_epi16(r[2], r[3]);
    const __m128i a4 = _mm_unpacklo_epi16(r[4], r[5]);
    const __m128i a5 = _mm_unpackhi_epi16(r[4], r[5]);
    const __m128i a6 = _mm_unpacklo_epi16(r[6], r[7]);
    const __m128i a7 = _mm_unpackhi_epi16(r[6], r[7]);
    const __m128i b0 = _mm_unpacklo_epi32(a0, a2);
    const __m128i b1 = _mm_unpackhi_epi32(a0, a2);
    const __m128i b2 = _mm_unpacklo_epi32(a1, a3);
    const __m128i b3 = _mm_unpackhi_epi32(a1, a3);
    const __m128i b4 = _mm_unpacklo_epi32(a4, a6);
    const __m128i b5 = _mm_unpackhi_epi32(a4, a6);
    const __m128i b6 = _mm_unpacklo_epi32(a5, a7);
    const __m128i b7 = _mm_unpackhi_epi32(a5, a7);
    r[0] = _mm_unpacklo_epi64(b0, b4);
    r[1] = _mm_unpackhi_epi64(b0, b4);
    r[2] = _mm_unpacklo_epi64(b1, b5);
    r[3] = _mm_unpackhi_epi64(b1, b5);
    r[4] = _mm_unpacklo_epi64(b2, b6);
    r[5] = _mm_unpackhi_epi64(b2, b6);
    r[6] = _mm_unpacklo_epi64(b3, b7);
    r[7] = _mm_unpackhi_epi64(b3, b7);
}

// Pairs of 16-bit constants (first, second) for _mm_madd_epi16 on interleaved values.
inline __m128i ConstPair(int first, int second) {
    return _mm_set1_epi32(static_cast<int>((static_cast<uint32_t>(second) << 16) |
                                           (static_cast<uint32_t>(first) & 0xFFFFu)));
}

}  // namespace transform_sse2
