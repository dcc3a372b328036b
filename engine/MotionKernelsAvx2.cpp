// AVX2 twins of the hottest motion-search kernels: two rows of a 16-wide
// block per register. Each returns exactly what its plain twin in
// MotionKernels.cpp returns, including the running sum at an early exit, so
// every row is still tested on its own.
#include <immintrin.h>

#include "engine/MotionKernels.h"

#define TESSMAR_AVX2 __attribute__((target("avx2")))

namespace {

TESSMAR_AVX2 inline __m256i LoadRows(const uint8_t* p, int lineLength) {
    return _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + lineLength)), 1);
}

// Sums of absolute differences of two rows: the first in the low, the second in the high half.
struct RowPair {
    int first, second;
};

TESSMAR_AVX2 inline RowPair SadRows(const uint8_t* a, const uint8_t* b, int lineLength) {
    __m256i s = _mm256_sad_epu8(LoadRows(a, lineLength), LoadRows(b, lineLength));
    s = _mm256_add_epi32(s, _mm256_srli_si256(s, 8));
    return {_mm256_cvtsi256_si32(s), _mm_cvtsi128_si32(_mm256_extracti128_si256(s, 1))};
}

// Sum of the squares of (prediction - current) for two rows, the predictions
// as 16-bit words (row one in the low lane).
TESSMAR_AVX2 inline RowPair SquaresRows(__m256i predLo, __m256i predHi, __m256i current) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i dLo = _mm256_sub_epi16(predLo, _mm256_unpacklo_epi8(current, zero));
    const __m256i dHi = _mm256_sub_epi16(predHi, _mm256_unpackhi_epi8(current, zero));
    __m256i s = _mm256_add_epi32(_mm256_madd_epi16(dLo, dLo), _mm256_madd_epi16(dHi, dHi));
    s = _mm256_add_epi32(s, _mm256_shuffle_epi32(s, 0x4E));
    s = _mm256_add_epi32(s, _mm256_shuffle_epi32(s, 0xB1));
    return {_mm256_cvtsi256_si32(s), _mm_cvtsi128_si32(_mm256_extracti128_si256(s, 1))};
}

TESSMAR_AVX2 inline __m256i HalveBytes(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 1), _mm256_set1_epi8(0x7F));
}

// Two rows of the byte-halving prediction.
TESSMAR_AVX2 inline __m256i PredictHalving(const uint8_t* p, int lineLength, int halfX, int halfY) {
    const __m256i a = LoadRows(p, lineLength);
    if (!halfX && !halfY) return a;
    if (halfX && !halfY) return _mm256_add_epi8(HalveBytes(a), HalveBytes(LoadRows(p + 1, lineLength)));
    const __m256i below = LoadRows(p + lineLength, lineLength);
    if (!halfX) return _mm256_add_epi8(HalveBytes(a), HalveBytes(below));
    const __m256i top = _mm256_add_epi8(HalveBytes(a), HalveBytes(LoadRows(p + 1, lineLength)));
    const __m256i bottom =
        _mm256_add_epi8(HalveBytes(below), HalveBytes(LoadRows(p + lineLength + 1, lineLength)));
    return _mm256_add_epi8(HalveBytes(top), HalveBytes(bottom));
}

TESSMAR_AVX2 inline void AddWords(const uint8_t* q, int lineLength, __m256i* sLo, __m256i* sHi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i v = LoadRows(q, lineLength);
    *sLo = _mm256_add_epi16(*sLo, _mm256_unpacklo_epi8(v, zero));
    *sHi = _mm256_add_epi16(*sHi, _mm256_unpackhi_epi8(v, zero));
}

// Two rows of the word-average prediction.
TESSMAR_AVX2 inline void PredictWords(const uint8_t* p, int lineLength, int halfX, int halfY, __m256i* lo,
                                      __m256i* hi) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i a = LoadRows(p, lineLength);
    __m256i sLo = _mm256_unpacklo_epi8(a, zero), sHi = _mm256_unpackhi_epi8(a, zero);
    int shift = 0;
    if (halfX) {
        AddWords(p + 1, lineLength, &sLo, &sHi);
        ++shift;
    }
    if (halfY) {
        AddWords(p + lineLength, lineLength, &sLo, &sHi);
        ++shift;
    }
    if (halfX && halfY) AddWords(p + lineLength + 1, lineLength, &sLo, &sHi);
    const __m128i count = _mm_cvtsi32_si128(shift);
    *lo = _mm256_srl_epi16(sLo, count);
    *hi = _mm256_srl_epi16(sHi, count);
}

TESSMAR_AVX2 inline RowPair SquaresBytes(__m256i pred, __m256i current) {
    const __m256i zero = _mm256_setzero_si256();
    return SquaresRows(_mm256_unpacklo_epi8(pred, zero), _mm256_unpackhi_epi8(pred, zero), current);
}

}  // namespace

TESSMAR_AVX2 int FullPelSadAvx2(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit) {
    int sum = 0;
    const int pairStep = 2 * lineLength;
    for (int row = 0; row < 16; row += 2) {
        const RowPair s = SadRows(candidate, current, lineLength);
        sum += s.first;
        if (sum >= limit) return sum;
        sum += s.second;
        if (sum >= limit) return sum;
        candidate += pairStep;
        current += pairStep;
    }
    return sum;
}

TESSMAR_AVX2 int FullPelSadAvx2RowBudget(const uint8_t* candidate, const uint8_t* current, int lineLength,
                                         int limit) {
    const int step = (limit + 8) >> 4;
    const int pairStep = 2 * lineLength;
    int budget = step;
    int sum = 0;
    for (int row = 0; row < 16; row += 2) {
        const RowPair s = SadRows(candidate, current, lineLength);
        sum += s.first;
        budget += step;
        if (sum >= budget) return limit + 1;
        sum += s.second;
        budget += step;
        if (sum >= budget) return limit + 1;
        candidate += pairStep;
        current += pairStep;
    }
    return sum;
}

TESSMAR_AVX2 int HalfPelSseAvx2(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                                int halfY, int limit) {
    int sum = 0;
    const int pairStep = 2 * lineLength;
    for (int row = 0; row < 16; row += 2) {
        const RowPair s =
            SquaresBytes(PredictHalving(reference, lineLength, halfX, halfY), LoadRows(current, lineLength));
        sum += s.first;
        if (sum >= limit) return sum;
        sum += s.second;
        if (sum >= limit) return sum;
        reference += pairStep;
        current += pairStep;
    }
    return sum;
}

TESSMAR_AVX2 int HalfPelSseAvx2Modes45(const uint8_t* reference, const uint8_t* current, int lineLength,
                                       int halfX, int halfY, int limit) {
    int sum = 0;
    const int pairStep = 2 * lineLength;
    for (int row = 0; row < 16; row += 2) {
        __m256i lo, hi;
        PredictWords(reference, lineLength, halfX, halfY, &lo, &hi);
        const RowPair s = SquaresRows(lo, hi, LoadRows(current, lineLength));
        sum += s.first;
        if (sum >= limit) return sum;
        sum += s.second;
        if (sum >= limit) return sum;
        reference += pairStep;
        current += pairStep;
    }
    return sum;
}
