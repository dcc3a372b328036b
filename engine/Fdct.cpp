// Plain forward DCT, significance pre-test and DCT-type decision, and the
// choice of kernels.
#include "engine/Fdct.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

// (46341 z + round) >> shift: 46341 / 65536 is cos(pi / 4).
constexpr int C4Product(int z, int round, int shift) { return (46341 * z + round) >> shift; }

// One-dimensional DCT of eight values read `stride` apart; the results go to
// out[0..7]. Each result is rounded: 2^17 is the scale of every product.
void Dct8(const int16_t* in, int stride, int16_t* out) {
    const int x0 = in[0], x1 = in[stride], x2 = in[2 * stride], x3 = in[3 * stride];
    const int x4 = in[4 * stride], x5 = in[5 * stride], x6 = in[6 * stride], x7 = in[7 * stride];
    const int s07 = x0 + x7, s16 = x1 + x6, s25 = x2 + x5, s34 = x3 + x4;
    const int d07 = x0 - x7, d16 = x1 - x6, d25 = x2 - x5, d34 = x3 - x4;
    const int e = s07 - s34, f = s16 - s25;

    out[0] = static_cast<int16_t>(C4Product(s07 + s34 + s16 + s25, 65536, 17));
    out[4] = static_cast<int16_t>(C4Product((s07 + s34) - (s16 + s25), 65536, 17));
    out[2] = static_cast<int16_t>((60546 * e + 25080 * f + 65536) >> 17);
    out[6] = static_cast<int16_t>((25080 * e - 60546 * f + 65536) >> 17);

    const int r4Sum = C4Product(d16 + d25, 8192, 14);
    const int r4Diff = C4Product(d16 - d25, 8192, 14);
    const int a = 4 * d07 + r4Sum, b = 4 * d34 + r4Diff;
    const int c = 4 * d07 - r4Sum, d = 4 * d34 - r4Diff;
    out[1] = static_cast<int16_t>((16069 * a + 3196 * b + 65536) >> 17);
    out[7] = static_cast<int16_t>((3196 * a - 16069 * b + 65536) >> 17);
    out[5] = static_cast<int16_t>((9102 * c + 13623 * d + 65536) >> 17);
    out[3] = static_cast<int16_t>((13623 * c - 9102 * d + 65536) >> 17);
}

bool Outside(int64_t value, int64_t bound) { return value > bound || value < -bound; }

// The seven tests of one direction (S is tested once, by the caller).
bool TermsOutside(const int32_t* v, int64_t t1, int64_t t2) {
    const int64_t s07 = int64_t{v[0]} + v[7], s16 = int64_t{v[1]} + v[6];
    const int64_t s25 = int64_t{v[2]} + v[5], s34 = int64_t{v[3]} + v[4];
    const int64_t d07 = int64_t{v[0]} - v[7], d16 = int64_t{v[1]} - v[6];
    const int64_t d25 = int64_t{v[2]} - v[5], d34 = int64_t{v[3]} - v[4];
    const int64_t e = s07 - s34, f = s16 - s25;
    if (Outside((s07 + s34) - (s16 + s25), t2)) return true;
    if (Outside(60546 * e + 25080 * f, t1)) return true;
    if (Outside(25080 * e - 60546 * f, t1)) return true;
    const int64_t r4Sum = (46341 * (d16 + d25) + 8192) >> 14;
    const int64_t r4Diff = (46341 * (d16 - d25) + 8192) >> 14;
    const int64_t a = 4 * d07 + r4Sum, b = 4 * d34 + r4Diff;
    const int64_t c = 4 * d07 - r4Sum, d = 4 * d34 - r4Diff;
    if (Outside(16069 * a + 3196 * b, t1)) return true;
    if (Outside(3196 * a - 16069 * b, t1)) return true;
    if (Outside(9102 * c + 13623 * d, t1)) return true;
    return Outside(13623 * c - 9102 * d, t1);
}

uint64_t Magnitude(int64_t value) { return static_cast<uint64_t>(value < 0 ? -value : value); }

// The largest magnitudes of TermsOutside's first term (t2) and of its other six (t1).
void TermLevels(const int32_t* v, uint64_t& level2, uint64_t& level1) {
    const int64_t s07 = int64_t{v[0]} + v[7], s16 = int64_t{v[1]} + v[6];
    const int64_t s25 = int64_t{v[2]} + v[5], s34 = int64_t{v[3]} + v[4];
    const int64_t d07 = int64_t{v[0]} - v[7], d16 = int64_t{v[1]} - v[6];
    const int64_t d25 = int64_t{v[2]} - v[5], d34 = int64_t{v[3]} - v[4];
    const int64_t e = s07 - s34, f = s16 - s25;
    level2 = std::max(level2, Magnitude((s07 + s34) - (s16 + s25)));
    const int64_t r4Sum = (46341 * (d16 + d25) + 8192) >> 14;
    const int64_t r4Diff = (46341 * (d16 - d25) + 8192) >> 14;
    const int64_t a = 4 * d07 + r4Sum, b = 4 * d34 + r4Diff;
    const int64_t c = 4 * d07 - r4Sum, d = 4 * d34 - r4Diff;
    const int64_t terms[6] = {60546 * e + 25080 * f, 25080 * e - 60546 * f, 16069 * a + 3196 * b,
                              3196 * a - 16069 * b,  9102 * c + 13623 * d,  13623 * c - 9102 * d};
    for (const int64_t term : terms) level1 = std::max(level1, Magnitude(term));
}

// Sums of absolute differences over the 48 sampled positions of a macroblock
// of values p(line, column).
template <typename Sample>
void FrameAndFieldSums(Sample p, int& frameSum, int& fieldSum) {
    frameSum = 0;
    fieldSum = 0;
    for (int half = 0; half < 2; ++half) {
        for (int k = 0; k < 3; ++k) {
            const int line = 8 * half + 2 * k;
            for (int column = 0; column < 8; column += 2) {
                frameSum += std::abs(p(line, column) - p(line + 1, column));
                fieldSum += std::abs(p(line, column) - p(line + 2, column));
            }
            for (int column = 8; column < 16; column += 2) {
                frameSum += std::abs(p(line + 1, column) - p(line + 2, column));
                fieldSum += std::abs(p(line + 1, column) - p(line + 3, column));
            }
        }
    }
}

}  // namespace

void Fdct8x8(int16_t* block) {
    // Each pass reads columns and writes them as rows, so two passes leave the
    // block in natural order: vertical frequencies first, then horizontal.
    int16_t temporary[64];
    for (int i = 0; i < 8; ++i) Dct8(block + i, 8, temporary + 8 * i);
    for (int i = 0; i < 8; ++i) Dct8(temporary + i, 8, block + 8 * i);
}

namespace fdct_detail {

int SumsAreSignificant(const int32_t rowSums[8], const int32_t columnSums[8], int t1, int t2) {
    int64_t total = 0;
    for (int k = 0; k < 8; ++k) total += rowSums[k];
    if (Outside(total, t2)) return 1;
    if (TermsOutside(rowSums, t1, t2)) return 1;
    return TermsOutside(columnSums, t1, t2) ? 1 : 0;
}

void SumsPretestLevels(const int32_t rowSums[8], const int32_t columnSums[8], uint32_t levels[2]) {
    int64_t total = 0;
    for (int k = 0; k < 8; ++k) total += rowSums[k];
    uint64_t level2 = Magnitude(total), level1 = 0;
    TermLevels(rowSums, level2, level1);
    TermLevels(columnSums, level2, level1);
    levels[0] = static_cast<uint32_t>(std::min<uint64_t>(level2, UINT32_MAX));
    levels[1] = static_cast<uint32_t>(std::min<uint64_t>(level1, UINT32_MAX));
}

}  // namespace fdct_detail

int FdctBlockIsSignificant(const int16_t* block, int t1, int t2) {
    int32_t rowSums[8] = {}, columnSums[8] = {};
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            rowSums[r] += block[8 * r + c];
            columnSums[c] += block[8 * r + c];
        }
    }
    return fdct_detail::SumsAreSignificant(rowSums, columnSums, t1, t2);
}

void FdctPretestLevels(const int16_t* block, uint32_t levels[2]) {
    int32_t rowSums[8] = {}, columnSums[8] = {};
    for (int r = 0; r < 8; ++r) {
        for (int c = 0; c < 8; ++c) {
            rowSums[r] += block[8 * r + c];
            columnSums[c] += block[8 * r + c];
        }
    }
    fdct_detail::SumsPretestLevels(rowSums, columnSums, levels);
}

int DctTypeEstimateIntra(const uint8_t* source, int lineStride) {
    int frameSum, fieldSum;
    FrameAndFieldSums([&](int l, int c) { return int{source[l * lineStride + c]}; }, frameSum, fieldSum);
    return fdct_detail::FieldDctWins(frameSum, fieldSum, 30);
}

int DctTypeEstimateInter(const uint8_t* prediction, const uint8_t* source, int lineStride) {
    int frameSum, fieldSum;
    FrameAndFieldSums(
        [&](int l, int c) { return (source[l * lineStride + c] - prediction[l * lineStride + c] + 256) >> 1; },
        frameSum, fieldSum);
    return fdct_detail::FieldDctWins(frameSum, fieldSum, 15);
}

FdctKernels FdctKernelSet = [] {
    FdctKernels k;
    fdct_init(false, k);
    return k;
}();

void fdct_init(bool simd, FdctKernels& kernels) {
    kernels.fdct = Fdct8x8;
    kernels.blockIsSignificant = FdctBlockIsSignificant;
    kernels.pretestLevels = FdctPretestLevels;
    kernels.dctTypeEstimateIntra = DctTypeEstimateIntra;
    kernels.dctTypeEstimateInter = DctTypeEstimateInter;
    if (simd) {
        kernels.fdct = Fdct8x8Sse2;
        kernels.blockIsSignificant = FdctBlockIsSignificantSse2;
        kernels.pretestLevels = FdctPretestLevelsSse2;
        kernels.dctTypeEstimateIntra = DctTypeEstimateIntraSse2;
        kernels.dctTypeEstimateInter = DctTypeEstimateInterSse2;
    }
}
