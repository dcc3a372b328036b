// Forward 8x8 DCT, the significance pre-test of prediction-error blocks and the
// frame/field DCT decision of a macroblock; each in a plain and a SIMD form
// with identical results.
#pragma once

#include <cstdint>

// Block: 64 values in -256..255 (intra samples minus 128, or source minus
// prediction), rows = lines. Output: the orthonormal DCT rounded after each
// pass, in natural order (row = vertical frequency) in both forms.
void Fdct8x8(int16_t* block);
void Fdct8x8Sse2(int16_t* block);

// Transposes a block of 16-bit values in place.
void TransposeBlock8x8Sse2(int16_t* block);

// 1 when a coefficient of the first row or the first column of the block's DCT
// lies outside its threshold (t1 = 131072 T, t2 = (2896 T) >> 10 for a level T),
// else 0. The block is not changed.
int FdctBlockIsSignificant(const int16_t* block, int t1, int t2);
int FdctBlockIsSignificantSse2(const int16_t* block, int t1, int t2);

// The same pre-test in two steps, so that the block's part can run before its
// thresholds are known: levels[0] is the largest magnitude among the terms
// compared with t2, levels[1] among those compared with t1 (each at most
// 2^32 - 1). PretestLevelsAreSignificant(levels, t1, t2) then equals
// FdctBlockIsSignificant(block, t1, t2).
void FdctPretestLevels(const int16_t* block, uint32_t levels[2]);
void FdctPretestLevelsSse2(const int16_t* block, uint32_t levels[2]);
inline int PretestLevelsAreSignificant(const uint32_t levels[2], int t1, int t2) {
    return t2 < 0 || t1 < 0 || levels[0] > static_cast<uint32_t>(t2) || levels[1] > static_cast<uint32_t>(t1);
}

// 1 (field DCT) or 0 (frame DCT) for the 16x16 luma of a macroblock; the
// pointers address the top-left sample, lines `lineStride` bytes apart.
int DctTypeEstimateIntra(const uint8_t* source, int lineStride);
int DctTypeEstimateIntraSse2(const uint8_t* source, int lineStride);
int DctTypeEstimateInter(const uint8_t* prediction, const uint8_t* source, int lineStride);
int DctTypeEstimateInterSse2(const uint8_t* prediction, const uint8_t* source, int lineStride);

struct FdctKernels {
    void (*fdct)(int16_t* block);
    int (*blockIsSignificant)(const int16_t* block, int t1, int t2);
    void (*pretestLevels)(const int16_t* block, uint32_t levels[2]);
    int (*dctTypeEstimateIntra)(const uint8_t* source, int lineStride);
    int (*dctTypeEstimateInter)(const uint8_t* prediction, const uint8_t* source, int lineStride);
};

// Fills the table with the plain kernels, then with the SIMD ones when `simd`.
void fdct_init(bool simd, FdctKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern FdctKernels FdctKernelSet;

namespace fdct_detail {
// The 15 tests of the pre-test on row sums and column sums, shared by both
// forms so that they decide alike.
int SumsAreSignificant(const int32_t rowSums[8], const int32_t columnSums[8], int t1, int t2);
void SumsPretestLevels(const int32_t rowSums[8], const int32_t columnSums[8], uint32_t levels[2]);
// The decision from the two sums of absolute differences.
inline int FieldDctWins(int frameSum, int fieldSum, int margin) { return frameSum > fieldSum + margin ? 1 : 0; }
}  // namespace fdct_detail
