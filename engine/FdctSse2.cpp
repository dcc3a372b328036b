// SSE2 forward DCT, pre-test sums and DCT-type decision. The transform runs the
// plain form's arithmetic on eight columns at a time (16-bit values, 32-bit
// products by multiply-add), so its coefficients equal the plain ones exactly.
#include <emmintrin.h>

#include "engine/Fdct.h"
#include "engine/TransformSse2.h"

namespace {

using transform_sse2::ConstPair;

// (product + round) >> shift for the low and high four lanes, packed back.
template <int shift>
inline __m128i RoundPack(__m128i low, __m128i high, __m128i round) {
    return _mm_packs_epi32(_mm_srai_epi32(_mm_add_epi32(low, round), shift),
                           _mm_srai_epi32(_mm_add_epi32(high, round), shift));
}

// p0 * k0 + p1 * k1 for eight lanes, rounded and shifted.
template <int shift>
inline __m128i MulAdd(__m128i p0, __m128i p1, __m128i constants, __m128i round) {
    const __m128i low = _mm_madd_epi16(_mm_unpacklo_epi16(p0, p1), constants);
    const __m128i high = _mm_madd_epi16(_mm_unpackhi_epi16(p0, p1), constants);
    return RoundPack<shift>(low, high, round);
}

// One-dimensional DCT down the columns: x[k] holds line k of eight columns.
inline void Dct8Columns(const __m128i x[8], __m128i out[8]) {
    const __m128i s07 = _mm_add_epi16(x[0], x[7]), s16 = _mm_add_epi16(x[1], x[6]);
    const __m128i s25 = _mm_add_epi16(x[2], x[5]), s34 = _mm_add_epi16(x[3], x[4]);
    const __m128i d07 = _mm_sub_epi16(x[0], x[7]), d16 = _mm_sub_epi16(x[1], x[6]);
    const __m128i d25 = _mm_sub_epi16(x[2], x[5]), d34 = _mm_sub_epi16(x[3], x[4]);
    const __m128i e = _mm_sub_epi16(s07, s34), f = _mm_sub_epi16(s16, s25);
    const __m128i even = _mm_add_epi16(s07, s34), odd = _mm_add_epi16(s16, s25);

    // 46341 does not fit a signed 16-bit word: z * 23170 + z * 23171.
    const __m128i c4 = ConstPair(23170, 23171);
    const __m128i round17 = _mm_set1_epi32(65536);
    const __m128i round16 = _mm_set1_epi32(32768);
    const __m128i round14 = _mm_set1_epi32(8192);
    const __m128i sum = _mm_add_epi16(even, odd), difference = _mm_sub_epi16(even, odd);
    out[0] = MulAdd<17>(sum, sum, c4, round17);
    out[4] = MulAdd<17>(difference, difference, c4, round17);
    // 60546 e + 25080 f is twice 30273 e + 12540 f, so the shift drops by one.
    out[2] = MulAdd<16>(e, f, ConstPair(30273, 12540), round16);
    out[6] = MulAdd<16>(e, f, ConstPair(12540, -30273), round16);

    const __m128i g = _mm_add_epi16(d16, d25), h = _mm_sub_epi16(d16, d25);
    const __m128i r4Sum = MulAdd<14>(g, g, c4, round14);
    const __m128i r4Diff = MulAdd<14>(h, h, c4, round14);
    const __m128i d07x4 = _mm_slli_epi16(d07, 2), d34x4 = _mm_slli_epi16(d34, 2);
    const __m128i a = _mm_add_epi16(d07x4, r4Sum), b = _mm_add_epi16(d34x4, r4Diff);
    const __m128i c = _mm_sub_epi16(d07x4, r4Sum), d = _mm_sub_epi16(d34x4, r4Diff);
    out[1] = MulAdd<17>(a, b, ConstPair(16069, 3196), round17);
    out[7] = MulAdd<17>(a, b, ConstPair(3196, -16069), round17);
    out[5] = MulAdd<17>(c, d, ConstPair(9102, 13623), round17);
    out[3] = MulAdd<17>(c, d, ConstPair(13623, -9102), round17);
}

// Sign-extends the low and high four 16-bit lanes to 32 bits.
inline __m128i WidenLow(__m128i v) { return _mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16); }
inline __m128i WidenHigh(__m128i v) { return _mm_srai_epi32(_mm_unpackhi_epi16(v, v), 16); }

// Sums of absolute differences of `a` and `b` over the bytes that `mask` keeps.
inline __m128i MaskedSad(__m128i a, __m128i b, __m128i mask) {
    return _mm_sad_epu8(_mm_and_si128(a, mask), _mm_and_si128(b, mask));
}

inline int HorizontalSum64(__m128i v) {
    return _mm_cvtsi128_si32(_mm_add_epi64(v, _mm_unpackhi_epi64(v, v)));
}

// Frame and field sums of the 48 sampled positions of 16 lines of samples.
inline void FrameAndFieldSums(const __m128i p[16], int& frameSum, int& fieldSum) {
    // Even columns of the left half, and even columns of the right half.
    const __m128i left = _mm_setr_epi8(-1, 0, -1, 0, -1, 0, -1, 0, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i right = _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, -1, 0, -1, 0, -1, 0, -1, 0);
    __m128i frame = _mm_setzero_si128(), field = _mm_setzero_si128();
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 3; ++k) {
            const int line = 8 * half + 2 * k;
            frame = _mm_add_epi64(frame, MaskedSad(p[line], p[line + 1], left));
            field = _mm_add_epi64(field, MaskedSad(p[line], p[line + 2], left));
            frame = _mm_add_epi64(frame, MaskedSad(p[line + 1], p[line + 2], right));
            field = _mm_add_epi64(field, MaskedSad(p[line + 1], p[line + 3], right));
        }
    }
    frameSum = HorizontalSum64(frame);
    fieldSum = HorizontalSum64(field);
}

inline __m128i LoadLine(const uint8_t* line) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(line)); }

}  // namespace

void TransposeBlock8x8Sse2(int16_t* block) {
    __m128i rows[8];
    transform_sse2::LoadRows(block, rows);
    transform_sse2::TransposeRows(rows);
    transform_sse2::StoreRows(block, rows);
}

void Fdct8x8Sse2(int16_t* block) {
    __m128i rows[8], vertical[8], horizontal[8];
    transform_sse2::LoadRows(block, rows);
    Dct8Columns(rows, vertical);  // vertical[v]: frequency v of each column
    transform_sse2::TransposeRows(vertical);
    Dct8Columns(vertical, horizontal);  // horizontal[u]: frequency u at each v
    transform_sse2::TransposeRows(horizontal);
    transform_sse2::StoreRows(block, horizontal);
}

namespace {

// Row and column sums of the block.
void BlockSums(const int16_t* block, int32_t rowSums[8], int32_t columnSums[8]) {
    __m128i rows[8];
    transform_sse2::LoadRows(block, rows);
    const __m128i ones = _mm_set1_epi16(1);
    __m128i columnsLow = _mm_setzero_si128(), columnsHigh = _mm_setzero_si128();
    alignas(16) int32_t pairSums[8][4];
    for (int r = 0; r < 8; ++r) {
        columnsLow = _mm_add_epi32(columnsLow, WidenLow(rows[r]));
        columnsHigh = _mm_add_epi32(columnsHigh, WidenHigh(rows[r]));
        _mm_store_si128(reinterpret_cast<__m128i*>(pairSums[r]), _mm_madd_epi16(rows[r], ones));
    }
    // Row sums: the four pair sums of each row, added across by two transposes
    // of 4x4 blocks of 32-bit words.
    for (int group = 0; group < 2; ++group) {
        const __m128i r0 = _mm_load_si128(reinterpret_cast<const __m128i*>(pairSums[4 * group + 0]));
        const __m128i r1 = _mm_load_si128(reinterpret_cast<const __m128i*>(pairSums[4 * group + 1]));
        const __m128i r2 = _mm_load_si128(reinterpret_cast<const __m128i*>(pairSums[4 * group + 2]));
        const __m128i r3 = _mm_load_si128(reinterpret_cast<const __m128i*>(pairSums[4 * group + 3]));
        const __m128i t0 = _mm_unpacklo_epi32(r0, r1), t1v = _mm_unpackhi_epi32(r0, r1);
        const __m128i t2v = _mm_unpacklo_epi32(r2, r3), t3 = _mm_unpackhi_epi32(r2, r3);
        const __m128i sums = _mm_add_epi32(_mm_add_epi32(_mm_unpacklo_epi64(t0, t2v), _mm_unpackhi_epi64(t0, t2v)),
                                           _mm_add_epi32(_mm_unpacklo_epi64(t1v, t3), _mm_unpackhi_epi64(t1v, t3)));
        _mm_store_si128(reinterpret_cast<__m128i*>(rowSums + 4 * group), sums);
    }
    _mm_store_si128(reinterpret_cast<__m128i*>(columnSums), columnsLow);
    _mm_store_si128(reinterpret_cast<__m128i*>(columnSums + 4), columnsHigh);
}

}  // namespace

int FdctBlockIsSignificantSse2(const int16_t* block, int t1, int t2) {
    alignas(16) int32_t rowSums[8], columnSums[8];
    BlockSums(block, rowSums, columnSums);
    return fdct_detail::SumsAreSignificant(rowSums, columnSums, t1, t2);
}

void FdctPretestLevelsSse2(const int16_t* block, uint32_t levels[2]) {
    alignas(16) int32_t rowSums[8], columnSums[8];
    BlockSums(block, rowSums, columnSums);
    fdct_detail::SumsPretestLevels(rowSums, columnSums, levels);
}

int DctTypeEstimateIntraSse2(const uint8_t* source, int lineStride) {
    __m128i p[16];
    for (int l = 0; l < 16; ++l) p[l] = LoadLine(source + l * lineStride);
    int frameSum, fieldSum;
    FrameAndFieldSums(p, frameSum, fieldSum);
    return fdct_detail::FieldDctWins(frameSum, fieldSum, 30);
}

int DctTypeEstimateInterSse2(const uint8_t* prediction, const uint8_t* source, int lineStride) {
    // (s - p + 256) >> 1 is the rounded average of s and 255 - p.
    const __m128i allOnes = _mm_set1_epi8(-1);
    __m128i p[16];
    for (int l = 0; l < 16; ++l) {
        const __m128i inverted = _mm_xor_si128(LoadLine(prediction + l * lineStride), allOnes);
        p[l] = _mm_avg_epu8(LoadLine(source + l * lineStride), inverted);
    }
    int frameSum, fieldSum;
    FrameAndFieldSums(p, frameSum, fieldSum);
    return fdct_detail::FieldDctWins(frameSum, fieldSum, 15);
}
