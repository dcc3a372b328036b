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

// 1 (field DCT) or 0 (frame DCT) for the 16x16 luma of a macroblock; the
// pointers address the top-left sample, lines `lineStride` bytes apart.
int DctTypeEstimateIntra(const uint8_t* source, int lineStride);
int DctTypeEstimateIntraSse2(const uint8_t* source, int lineStride);
int DctTypeEstimateInter(const uint8_t* prediction, const uint8_t* source, int lineStride);
int DctTypeEstimateInterSse2(const uint8_t* prediction, const uint8_t* source, int lineStride);

struct FdctKernels {
    void (*fdct)(int16_t* block);
    int (*blockIsSignificant)(const int16_t* block, int t1, int t2);
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
// The decision from the two sums of absolute differences.
inline int FieldDctWins(int frameSum, int fieldSum, int margin) { return frameSum > fieldSum + margin ? 1 : 0; }
}  // namespace fdct_detail
