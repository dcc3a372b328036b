// AVX2 twins of the hottest motion-search kernels: two rows of a 16-wide
// block per register. Each returns exactly what its plain twin in
// MotionKernels.cpp returns, including the running sum at an early exit, so
// every row is still tested on its own.
#include <immintrin.h>

#include <algorithm>

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

TESSMAR_AVX2 inline __m256i HalveBytes(__m256i v) {
    return _mm256_and_si256(_mm256_srli_epi16(v, 1), _mm256_set1_epi8(0x7F));
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

namespace {

// Sums of absolute differences of one 16-sample current row against the
// reference rows in the two lanes of `near` (bytes 0-15 of each lane) and
// `far` (bytes 8-23), at column offsets 0-7: eight words per lane.
TESSMAR_AVX2 inline __m256i RowSadsAtOffsets(__m256i near, __m256i far, __m256i currentRow) {
    __m256i s = _mm256_mpsadbw_epu8(near, currentRow, 0x00);
    s = _mm256_add_epi16(s, _mm256_mpsadbw_epu8(near, currentRow, 0x2D));
    s = _mm256_add_epi16(s, _mm256_mpsadbw_epu8(far, currentRow, 0x12));
    return _mm256_add_epi16(s, _mm256_mpsadbw_epu8(far, currentRow, 0x3F));
}

// Row k (0 to 3) of all 16 candidates of a group, word 4 r + c for row r, column c.
TESSMAR_AVX2 inline __m256i GroupRowSads(const uint8_t* corner, int lineLength, int k,
                                         __m256i currentRow) {
    const uint8_t* p = corner + k * lineLength;
    const __m256i upper = RowSadsAtOffsets(LoadRows(p, lineLength), LoadRows(p + 8, lineLength), currentRow);
    p += 2 * lineLength;
    const __m256i lower = RowSadsAtOffsets(LoadRows(p, lineLength), LoadRows(p + 8, lineLength), currentRow);
    // Lanes hold rows (0, 1) and (2, 3); columns 0-3 are the low four words.
    return _mm256_permute4x64_epi64(_mm256_unpacklo_epi64(upper, lower), 0xD8);
}

// One bit per word of a comparison result, word i at bit i.
TESSMAR_AVX2 inline uint32_t WordMask(__m256i v) {
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packs_epi16(v, v), 0x08);
    return uint32_t(_mm_movemask_epi8(_mm256_castsi256_si128(bytes)));
}

// Candidates whose running sum after one of the first four rows fails its
// budget (k + 2 steps after row k). Sums are at most 16320 there, so
// budgets past that fail nobody.
struct FirstRows {
    __m256i sums[4];  // running sums after rows 0 to 3, word 4 r + c
};

TESSMAR_AVX2 inline uint32_t FailingFirstRows(const FirstRows& rows, int step) {
    __m256i fail = _mm256_setzero_si256();
    for (int k = 0; k < 4; ++k) {
        const __m256i budget = _mm256_set1_epi16(int16_t(std::min((k + 2) * step, 16384) - 1));
        fail = _mm256_or_si256(fail, _mm256_cmpgt_epi16(rows.sums[k], budget));
    }
    return WordMask(fail);
}

}  // namespace

TESSMAR_AVX2 int GroupSadAvx2RowBudget(const uint8_t* corner, const uint8_t* current, int lineLength,
                                       uint32_t positions, int* bound) {
    if (!positions) return -1;
    // The first four rows of every candidate at once; the budget of row k is
    // (k + 2) steps, so a candidate that fails it there is given up without
    // a further sample. Only candidates that pass them all go on row by row.
    FirstRows rows;
    __m256i sum = _mm256_setzero_si256();
    for (int k = 0; k < 4; ++k) {
        const __m256i currentRow = _mm256_broadcastsi128_si256(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(current + k * lineLength)));
        sum = _mm256_add_epi16(sum, GroupRowSads(corner, lineLength, k, currentRow));
        rows.sums[k] = sum;
    }
    alignas(32) uint16_t sums4[16];
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums4), sum);

    int best = -1;
    int limit = *bound;
    int step = (limit + 8) >> 4;
    uint32_t fail = FailingFirstRows(rows, step);
    const int pairStep = 2 * lineLength;
    for (;;) {
        const uint32_t going = positions & ~fail;
        if (!going) break;
        const int bit = __builtin_ctz(going);
        positions &= ~((2u << bit) - 1);
        const uint8_t* candidate = corner + (bit >> 2) * lineLength + (bit & 3) + 2 * pairStep;
        const uint8_t* cur = current + 2 * pairStep;
        int total = sums4[bit];
        int budget = 5 * step;
        bool given = false;
        for (int row = 4; row < 16; row += 2) {
            const RowPair s = SadRows(candidate, cur, lineLength);
            total += s.first;
            budget += step;
            if (total >= budget) {
                given = true;
                break;
            }
            total += s.second;
            budget += step;
            if (total >= budget) {
                given = true;
                break;
            }
            candidate += pairStep;
            cur += pairStep;
        }
        if (!given && total < limit) {
            limit = total;
            best = bit;
            step = (limit + 8) >> 4;
            fail = FailingFirstRows(rows, step);
        }
    }
    *bound = limit;
    return best;
}

namespace {

// Squared differences of two rows as eight 32-bit partial sums, the first
// row's in the low lane.
TESSMAR_AVX2 inline __m256i SquaresPair(__m256i predLo, __m256i predHi, __m256i current) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i dLo = _mm256_sub_epi16(predLo, _mm256_unpacklo_epi8(current, zero));
    const __m256i dHi = _mm256_sub_epi16(predHi, _mm256_unpackhi_epi8(current, zero));
    return _mm256_add_epi32(_mm256_madd_epi16(dLo, dLo), _mm256_madd_epi16(dHi, dHi));
}

TESSMAR_AVX2 inline int SumAll(__m256i v) {
    __m128i s = _mm_add_epi32(_mm256_castsi256_si128(v), _mm256_extracti128_si256(v, 1));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
    s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
    return _mm_cvtsi128_si32(s);
}

TESSMAR_AVX2 inline RowPair PairRows(__m256i v) {
    v = _mm256_add_epi32(v, _mm256_shuffle_epi32(v, 0x4E));
    v = _mm256_add_epi32(v, _mm256_shuffle_epi32(v, 0xB1));
    return {_mm256_cvtsi256_si32(v), _mm_cvtsi128_si32(_mm256_extracti128_si256(v, 1))};
}

// Two rows of the prediction, byte halving, for a fixed half-sample position.
template <int HalfX, int HalfY>
TESSMAR_AVX2 inline __m256i PredictHalvingAt(const uint8_t* p, int lineLength) {
    const __m256i a = LoadRows(p, lineLength);
    if (!HalfX && !HalfY) return a;
    if (HalfX && !HalfY) return _mm256_add_epi8(HalveBytes(a), HalveBytes(LoadRows(p + 1, lineLength)));
    const __m256i below = LoadRows(p + lineLength, lineLength);
    if (!HalfX) return _mm256_add_epi8(HalveBytes(a), HalveBytes(below));
    const __m256i top = _mm256_add_epi8(HalveBytes(a), HalveBytes(LoadRows(p + 1, lineLength)));
    const __m256i bottom =
        _mm256_add_epi8(HalveBytes(below), HalveBytes(LoadRows(p + lineLength + 1, lineLength)));
    return _mm256_add_epi8(HalveBytes(top), HalveBytes(bottom));
}

template <int HalfX, int HalfY>
TESSMAR_AVX2 inline __m256i SquaresHalving(const uint8_t* reference, const uint8_t* current, int lineLength) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i pred = PredictHalvingAt<HalfX, HalfY>(reference, lineLength);
    return SquaresPair(_mm256_unpacklo_epi8(pred, zero), _mm256_unpackhi_epi8(pred, zero),
                       LoadRows(current, lineLength));
}

template <int HalfX, int HalfY>
TESSMAR_AVX2 inline __m256i SquaresWords(const uint8_t* reference, const uint8_t* current, int lineLength) {
    __m256i lo, hi;
    PredictWords(reference, lineLength, HalfX, HalfY, &lo, &hi);
    return SquaresPair(lo, hi, LoadRows(current, lineLength));
}

// The running sum over 16 rows that stops after the first row that takes it
// to the limit. Four rows are summed at a time; only a group of four that
// reaches the limit is taken apart row by row to find where the sum stopped.
template <__m256i (*Squares)(const uint8_t*, const uint8_t*, int)>
TESSMAR_AVX2 inline int StoppingSquares(const uint8_t* reference, const uint8_t* current, int lineLength,
                                        int limit) {
    int sum = 0;
    const int pairStep = 2 * lineLength;
    for (int row = 0; row < 16; row += 4) {
        const __m256i first = Squares(reference, current, lineLength);
        const __m256i second = Squares(reference + pairStep, current + pairStep, lineLength);
        const int four = SumAll(_mm256_add_epi32(first, second));
        if (sum + four >= limit) {
            for (const __m256i pair : {first, second}) {
                const RowPair s = PairRows(pair);
                sum += s.first;
                if (sum >= limit) return sum;
                sum += s.second;
                if (sum >= limit) return sum;
            }
        }
        sum += four;
        reference += 2 * pairStep;
        current += 2 * pairStep;
    }
    return sum;
}

}  // namespace

TESSMAR_AVX2 int HalfPelSseAvx2(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                                int halfY, int limit) {
    switch (2 * halfY + halfX) {
        case 0: return StoppingSquares<SquaresHalving<0, 0>>(reference, current, lineLength, limit);
        case 1: return StoppingSquares<SquaresHalving<1, 0>>(reference, current, lineLength, limit);
        case 2: return StoppingSquares<SquaresHalving<0, 1>>(reference, current, lineLength, limit);
        default: return StoppingSquares<SquaresHalving<1, 1>>(reference, current, lineLength, limit);
    }
}

TESSMAR_AVX2 int HalfPelSseAvx2Modes45(const uint8_t* reference, const uint8_t* current, int lineLength,
                                       int halfX, int halfY, int limit) {
    switch (2 * halfY + halfX) {
        case 0: return StoppingSquares<SquaresWords<0, 0>>(reference, current, lineLength, limit);
        case 1: return StoppingSquares<SquaresWords<1, 0>>(reference, current, lineLength, limit);
        case 2: return StoppingSquares<SquaresWords<0, 1>>(reference, current, lineLength, limit);
        default: return StoppingSquares<SquaresWords<1, 1>>(reference, current, lineLength, limit);
    }
}

namespace {

// Running sums of the 16 words (modulo 2^16): word i holds words 0..i.
TESSMAR_AVX2 inline __m256i InclusivePrefix(__m256i v) {
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 2));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 4));
    v = _mm256_add_epi16(v, _mm256_slli_si256(v, 8));
    // The low half's total carried into the high half.
    return _mm256_add_epi16(v, _mm256_shuffle_epi8(_mm256_permute2x128_si256(v, v, 0x08), _mm256_set1_epi16(0x0F0E)));
}

// Word 15 in every word.
TESSMAR_AVX2 inline __m256i BroadcastLast(__m256i v) {
    return _mm256_shuffle_epi8(_mm256_permute4x64_epi64(v, 0xFF), _mm256_set1_epi16(0x0706));
}

// Sums of 16 consecutive words for 16 positions at a time: the sum at
// position i of a segment A followed by B is total(A) - before_A(i) +
// before_B(i), "before" the sum of the words ahead of i in the segment.
// Taken modulo 2^16, which is exact for sums that fit 16 bits.
struct SlidingSums {
    __m256i before, total;
};

TESSMAR_AVX2 inline SlidingSums StartSums(__m256i segment) {
    const __m256i prefix = InclusivePrefix(segment);
    return {_mm256_sub_epi16(prefix, segment), BroadcastLast(prefix)};
}

// The window sums of the current segment, given the next one; moves on to it.
TESSMAR_AVX2 inline __m256i NextSums(SlidingSums& s, __m256i next) {
    const SlidingSums n = StartSums(next);
    const __m256i sums = _mm256_add_epi16(_mm256_sub_epi16(s.total, s.before), n.before);
    s = n;
    return sums;
}

// 16 words to 16 bytes (values 0..255).
TESSMAR_AVX2 inline void StoreWordsAsBytes(uint8_t* p, __m256i v) {
    const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi16(v, v), 0x08);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(packed));
}

TESSMAR_AVX2 inline __m256i WidenBytes(const uint8_t* p) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

TESSMAR_AVX2 inline __m256i Words(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Bottom less top for 16 columns.
TESSMAR_AVX2 inline __m256i Edges(const uint8_t* top, const uint8_t* bottom, int at) {
    return _mm256_sub_epi16(WidenBytes(bottom + at), WidenBytes(top + at));
}

}  // namespace

TESSMAR_AVX2 void FeatureRowAvx2(const uint8_t* source, int w, int y, uint16_t* columnSum, uint8_t* hRow,
                                 uint8_t* mRow, uint8_t* vRow) {
    int c = 0;
    if (y > 0) {
        const uint8_t* in = source + (y + 15) * w;
        const uint8_t* out = source + (y - 1) * w;
        for (; c + 16 <= w; c += 16) {
            __m256i* sums = reinterpret_cast<__m256i*>(columnSum + c);
            _mm256_storeu_si256(sums, _mm256_sub_epi16(_mm256_add_epi16(_mm256_loadu_si256(sums), WidenBytes(in + c)),
                                                       WidenBytes(out + c)));
        }
        for (; c < w; ++c) columnSum[c] = uint16_t(columnSum[c] + in[c] - out[c]);
    }
    const uint8_t* top = source + y * w;
    const uint8_t* bottom = source + (y + 15) * w;
    const int positions = w - 15;
    const __m256i bias = _mm256_set1_epi16(4224), half = _mm256_set1_epi16(128);
    int x = 0;
    if (positions >= 17) {
        SlidingSums block = StartSums(Words(columnSum)), edge = StartSums(Edges(top, bottom, 0));
        // The next segments reach column x + 31, the last one of the row at most.
        for (; x + 17 <= positions; x += 16) {
            const __m256i last = Words(columnSum + x + 15), first = Words(columnSum + x);
            StoreWordsAsBytes(hRow + x, _mm256_srai_epi16(_mm256_add_epi16(_mm256_sub_epi16(last, first), bias), 8));
            StoreWordsAsBytes(mRow + x, _mm256_srli_epi16(_mm256_add_epi16(NextSums(block, Words(columnSum + x + 16)), half), 8));
            StoreWordsAsBytes(vRow + x, _mm256_srai_epi16(_mm256_add_epi16(NextSums(edge, Edges(top, bottom, x + 16)), bias), 8));
        }
    }
    for (; x < positions; ++x) {
        int blockSum = 0, topSum = 0, bottomSum = 0;
        for (int i = 0; i < 16; ++i) {
            blockSum += columnSum[x + i];
            topSum += top[x + i];
            bottomSum += bottom[x + i];
        }
        hRow[x] = uint8_t(((columnSum[x + 15] - columnSum[x]) + 4224) >> 8);
        mRow[x] = uint8_t((blockSum + 128) >> 8);
        vRow[x] = uint8_t(((bottomSum - topSum) + 4224) >> 8);
    }
}
