// SSE2 twins of the motion-search kernels; each returns exactly what its
// plain twin in MotionKernels.cpp returns.
#include <emmintrin.h>

#include <cstring>

#include "engine/MotionKernels.h"

namespace {

inline __m128i Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }

inline int HorizontalSum32(__m128i v) {
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0x4E));
    v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 0xB1));
    return _mm_cvtsi128_si32(v);
}

inline int RowSad(const uint8_t* a, const uint8_t* b) {
    __m128i s = _mm_sad_epu8(Load(a), Load(b));
    return _mm_cvtsi128_si32(s) + _mm_cvtsi128_si32(_mm_srli_si128(s, 8));
}

// Halves every byte: a 16-bit shift, then the bit that crossed over is masked off.
inline __m128i HalveBytes(__m128i v) {
    return _mm_and_si128(_mm_srli_epi16(v, 1), _mm_set1_epi8(0x7F));
}

// Sum of the squares of (prediction - current), the 16 predictions given as
// two vectors of 16-bit words.
inline int RowSquares(__m128i predLo, __m128i predHi, __m128i current) {
    const __m128i zero = _mm_setzero_si128();
    __m128i dLo = _mm_sub_epi16(predLo, _mm_unpacklo_epi8(current, zero));
    __m128i dHi = _mm_sub_epi16(predHi, _mm_unpackhi_epi8(current, zero));
    return HorizontalSum32(_mm_add_epi32(_mm_madd_epi16(dLo, dLo), _mm_madd_epi16(dHi, dHi)));
}

inline int RowSquaresBytes(__m128i pred, __m128i current) {
    const __m128i zero = _mm_setzero_si128();
    return RowSquares(_mm_unpacklo_epi8(pred, zero), _mm_unpackhi_epi8(pred, zero), current);
}

// The prediction of one row as bytes, byte-halving rounding.
inline __m128i PredictBytesHalving(const uint8_t* p, int lineLength, int halfX, int halfY) {
    __m128i a = Load(p);
    if (!halfX && !halfY) return a;
    if (halfX && !halfY) return _mm_add_epi8(HalveBytes(a), HalveBytes(Load(p + 1)));
    if (!halfX) return _mm_add_epi8(HalveBytes(a), HalveBytes(Load(p + lineLength)));
    __m128i top = _mm_add_epi8(HalveBytes(a), HalveBytes(Load(p + 1)));
    __m128i bottom = _mm_add_epi8(HalveBytes(Load(p + lineLength)), HalveBytes(Load(p + lineLength + 1)));
    return _mm_add_epi8(HalveBytes(top), HalveBytes(bottom));
}

// The prediction of one row as two vectors of words, word-average rounding.
inline void PredictWords(const uint8_t* p, int lineLength, int halfX, int halfY, __m128i* lo,
                         __m128i* hi) {
    const __m128i zero = _mm_setzero_si128();
    __m128i a = Load(p);
    __m128i sLo = _mm_unpacklo_epi8(a, zero), sHi = _mm_unpackhi_epi8(a, zero);
    int shift = 0;
    if (halfX) {
        __m128i b = Load(p + 1);
        sLo = _mm_add_epi16(sLo, _mm_unpacklo_epi8(b, zero));
        sHi = _mm_add_epi16(sHi, _mm_unpackhi_epi8(b, zero));
        ++shift;
    }
    if (halfY) {
        __m128i c = Load(p + lineLength);
        sLo = _mm_add_epi16(sLo, _mm_unpacklo_epi8(c, zero));
        sHi = _mm_add_epi16(sHi, _mm_unpackhi_epi8(c, zero));
        ++shift;
    }
    if (halfX && halfY) {
        __m128i d = Load(p + lineLength + 1);
        sLo = _mm_add_epi16(sLo, _mm_unpacklo_epi8(d, zero));
        sHi = _mm_add_epi16(sHi, _mm_unpackhi_epi8(d, zero));
    }
    const __m128i count = _mm_cvtsi32_si128(shift);
    *lo = _mm_srl_epi16(sLo, count);
    *hi = _mm_srl_epi16(sHi, count);
}

}  // namespace

int FullPelSadSse2(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit) {
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSad(candidate, current);
        if (sum >= limit) return sum;
        candidate += lineLength;
        current += lineLength;
    }
    return sum;
}

int FullPelSadSse2RowBudget(const uint8_t* candidate, const uint8_t* current, int lineLength,
                           int limit) {
    const int step = (limit + 8) >> 4;
    int budget = step;
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSad(candidate, current);
        budget += step;
        if (sum >= budget) return limit + 1;
        candidate += lineLength;
        current += lineLength;
    }
    return sum;
}

int HalfPelSseSse2(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                  int halfY, int limit) {
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        sum += RowSquaresBytes(PredictBytesHalving(reference, lineLength, halfX, halfY), Load(current));
        if (sum >= limit) return sum;
        reference += lineLength;
        current += lineLength;
    }
    return sum;
}

int HalfPelSseSse2Modes45(const uint8_t* reference, const uint8_t* current, int lineLength,
                         int halfX, int halfY, int limit) {
    int sum = 0;
    for (int row = 0; row < 16; ++row) {
        __m128i lo, hi;
        PredictWords(reference, lineLength, halfX, halfY, &lo, &hi);
        sum += RowSquares(lo, hi, Load(current));
        if (sum >= limit) return sum;
        reference += lineLength;
        current += lineLength;
    }
    return sum;
}

int InterpolatedErrorSse2(const uint8_t* forward, const uint8_t* backward, const uint8_t* current,
                          int lineLength, int forwardHalfX, int forwardHalfY, int backwardHalfX,
                          int backwardHalfY, int height) {
    int sum = 0;
    for (int row = 0; row < height; ++row) {
        __m128i fLo, fHi, bLo, bHi;
        PredictWords(forward, lineLength, forwardHalfX, forwardHalfY, &fLo, &fHi);
        PredictWords(backward, lineLength, backwardHalfX, backwardHalfY, &bLo, &bHi);
        __m128i lo = _mm_srli_epi16(_mm_add_epi16(fLo, bLo), 1);
        __m128i hi = _mm_srli_epi16(_mm_add_epi16(fHi, bHi), 1);
        sum += RowSquares(lo, hi, Load(current));
        forward += lineLength;
        backward += lineLength;
        current += lineLength;
    }
    return sum;
}

void BlockSumsSse2(const uint8_t* block, int lineLength, uint32_t* sum, uint32_t* sumOfSquares) {
    const __m128i zero = _mm_setzero_si128();
    __m128i s1 = zero, s2 = zero;
    for (int row = 0; row < 16; ++row, block += lineLength) {
        __m128i v = Load(block);
        s1 = _mm_add_epi64(s1, _mm_sad_epu8(v, zero));
        __m128i lo = _mm_unpacklo_epi8(v, zero), hi = _mm_unpackhi_epi8(v, zero);
        s2 = _mm_add_epi32(s2, _mm_add_epi32(_mm_madd_epi16(lo, lo), _mm_madd_epi16(hi, hi)));
    }
    *sum = uint32_t(_mm_cvtsi128_si32(s1) + _mm_cvtsi128_si32(_mm_srli_si128(s1, 8)));
    *sumOfSquares = uint32_t(HorizontalSum32(s2));
}

void ColumnExtremaSse2(const uint8_t* plane, int stride, int rows, int count, uint8_t* maxOut,
                       uint8_t* minOut) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        __m128i hi = Load(plane + i), lo = hi;
        for (int r = 1; r < rows; ++r) {
            __m128i v = Load(plane + r * stride + i);
            hi = _mm_max_epu8(hi, v);
            lo = _mm_min_epu8(lo, v);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(maxOut + i), hi);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(minOut + i), lo);
    }
    for (; i < count; ++i) {
        uint8_t hi = plane[i], lo = plane[i];
        for (int r = 1; r < rows; ++r) {
            uint8_t v = plane[r * stride + i];
            if (v > hi) hi = v;
            if (v < lo) lo = v;
        }
        maxOut[i] = hi;
        minOut[i] = lo;
    }
}

uint32_t GroupFilterSse2(const uint8_t* mean, const uint8_t* horizontal, const uint8_t* vertical,
                         int stride, int rows, int columns, const uint8_t* windows) {
    // All 4 x 4 positions at once: one register per feature with its four
    // rows of four side by side, tested against both bounds with saturating
    // subtraction (zero where a feature is inside). Byte 4 r + c of the
    // result is position r, c, as in the mask.
    auto row = [stride, rows](const uint8_t* p, int r) {
        int32_t v = 0;
        if (r < rows) std::memcpy(&v, p + r * stride, 4);
        return _mm_cvtsi32_si128(v);
    };
    auto gather = [&row](const uint8_t* p) {
        return _mm_unpacklo_epi64(_mm_unpacklo_epi32(row(p, 0), row(p, 1)),
                                  _mm_unpacklo_epi32(row(p, 2), row(p, 3)));
    };
    auto outside = [](__m128i features, uint8_t low, uint8_t high) {
        return _mm_or_si128(_mm_subs_epu8(_mm_set1_epi8(char(low)), features),
                            _mm_subs_epu8(features, _mm_set1_epi8(char(high))));
    };
    const __m128i out = _mm_or_si128(
        _mm_or_si128(outside(gather(mean), windows[0], windows[1]),
                     outside(gather(horizontal), windows[2], windows[3])),
        outside(gather(vertical), windows[4], windows[5]));
    const uint32_t inside = uint32_t(_mm_movemask_epi8(_mm_cmpeq_epi8(out, _mm_setzero_si128())));
    const uint32_t rowMask = rows >= 4 ? 0xFFFFu : (1u << (4 * rows)) - 1;
    const uint32_t columnMask = ((1u << columns) - 1) * 0x1111u;
    return inside & rowMask & columnMask;
}
