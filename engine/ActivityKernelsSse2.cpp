// The activity sums of an 8x8 luma block, SSE2 form: the same sums as the
// plain one.
#include <emmintrin.h>

#include "engine/RateControl.h"

void ActivitySumsSse2(const uint8_t* p, int lineLength, int* sum, int* sumSquares) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s = zero, q = zero;
    for (int y = 0; y < 8; ++y, p += lineLength) {
        __m128i row = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p));
        s = _mm_add_epi64(s, _mm_sad_epu8(row, zero));
        __m128i wide = _mm_unpacklo_epi8(row, zero);
        q = _mm_add_epi32(q, _mm_madd_epi16(wide, wide));
    }
    q = _mm_add_epi32(q, _mm_shuffle_epi32(q, _MM_SHUFFLE(1, 0, 3, 2)));
    q = _mm_add_epi32(q, _mm_shuffle_epi32(q, _MM_SHUFFLE(2, 3, 0, 1)));
    *sum = _mm_cvtsi128_si32(s);
    *sumSquares = _mm_cvtsi128_si32(q);
}
