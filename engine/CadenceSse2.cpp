// SSE2 twins of the deinterlacing kernels; results equal the plain kernels'.
#include <emmintrin.h>

#include "engine/Deinterlace.h"

void AverageRowsSse2(uint8_t* out, const uint8_t* upper, const uint8_t* lower, int count) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(upper + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(lower + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_avg_epu8(a, b));
    }
    AverageRowsPlain(out + i, upper + i, lower + i, count - i);
}

namespace {

int Sad16(const uint8_t* a, const uint8_t* b) {
    const __m128i s = _mm_sad_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a)),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(b)));
    return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
}

int Sad8(const uint8_t* a, const uint8_t* b) {
    const __m128i s = _mm_sad_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(a)),
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b)));
    return _mm_cvtsi128_si32(s);
}

}  // namespace

int WeightedLineSadSse2(const uint8_t* a, const uint8_t* b) {
    // Bytes -24..47 once, plus the middle 0..23 a second time.
    const int all = Sad16(a - 24, b - 24) + Sad16(a - 8, b - 8) + Sad16(a + 8, b + 8) + Sad16(a + 24, b + 24) +
                    Sad8(a + 40, b + 40);
    const int middle = Sad16(a, b) + Sad8(a + 16, b + 16);
    return all + middle;
}
