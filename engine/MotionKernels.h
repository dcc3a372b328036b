// Difference kernels of the block-matching search: 16x16 sums of absolute and
// squared differences, the interpolated-prediction error, block sums for the
// intra variance and the column extrema of the feature tables; plain and SSE2.
#pragma once

#include <cstdint>

// 255 x 255 x 256: no 16x16 sum of squared differences exceeds it, so it
// serves as "no limit".
constexpr int MotionErrorLimit = 16646400;

// Sum of absolute differences of a candidate block and the current block
// (both with the given line length), with a limit that lets it stop early.
using FullPelSadFn = int (*)(const uint8_t* candidate, const uint8_t* current, int lineLength,
                             int limit);
// Sum of squared differences between a half-sample prediction taken at the
// integer corner `reference` and the current block; returns the running sum
// as soon as a row ends with it at or above the limit.
using HalfPelMatchFn = int (*)(const uint8_t* reference, const uint8_t* current, int lineLength,
                               int halfX, int halfY, int limit);
// Squared-difference error of the average of a forward and a backward
// half-sample prediction (word-average rounding), without early exit.
using InterpolatedErrorFn = int (*)(const uint8_t* forward, const uint8_t* backward,
                                    const uint8_t* current, int lineLength, int forwardHalfX,
                                    int forwardHalfY, int backwardHalfX, int backwardHalfY,
                                    int height);
// Sum and sum of squares of the 256 samples of a 16x16 block.
using BlockSumsFn = void (*)(const uint8_t* block, int lineLength, uint32_t* sum,
                             uint32_t* sumOfSquares);
// Per column, the largest and the smallest byte over `rows` rows (rows >= 1).
using ColumnExtremaFn = void (*)(const uint8_t* plane, int stride, int rows, int count,
                                 uint8_t* maxOut, uint8_t* minOut);

// Which positions of a group of up to 4 x 4 block positions have all three
// features (mean, horizontal, vertical; same offsets in their planes) inside
// the match windows (low and high bound of each, in that order). Bit 4 r + c
// stands for row r, column c; only `rows` rows are read, and columns from
// `columns` on are left out (their bytes must exist all the same).
using GroupFilterFn = uint32_t (*)(const uint8_t* mean, const uint8_t* horizontal,
                                   const uint8_t* vertical, int stride, int rows, int columns,
                                   const uint8_t* windows);

// The row-budget sums of absolute differences (FullPelSadFn) of the positions
// of one group of up to 4 x 4 full-sample candidates, taken in order (bit
// 4 r + c: row r, column c from the block at `corner`), each with *bound as
// its limit; a position whose sum is below *bound makes that sum the new
// bound. Returns the bit of the last position that did, or -1. Besides the
// candidate blocks, the reference must have rows 0 to 6 from `corner` on
// readable 24 bytes wide.
using GroupSadFn = int (*)(const uint8_t* corner, const uint8_t* current, int lineLength,
                           uint32_t positions, int* bound);

// One row y of the three feature planes (horizontal, mean, vertical) of a
// luma plane `width` samples wide: first carries the 16-row column sums from
// rows y - 1 .. y + 14 to rows y .. y + 15 (not for y = 0), then writes the
// features of the width - 15 block positions of the row.
using FeatureRowFn = void (*)(const uint8_t* source, int width, int y, uint16_t* columnSums,
                              uint8_t* horizontal, uint8_t* mean, uint8_t* vertical);

struct MotionKernelTable {
    FullPelSadFn fullPelSad = nullptr;           // stops once the limit is reached
    FullPelSadFn fullPelSadRowBudget = nullptr;  // stops when a row budget is exceeded
    GroupSadFn groupSadRowBudget = nullptr;      // fullPelSadRowBudget over a group
    HalfPelMatchFn halfPelSse = nullptr;         // byte-halving rounding
    HalfPelMatchFn halfPelSseModes45 = nullptr;  // word-average rounding
    InterpolatedErrorFn interpolatedError = nullptr;
    BlockSumsFn blockSums = nullptr;
    ColumnExtremaFn columnExtrema = nullptr;
    GroupFilterFn groupFilter = nullptr;
    FeatureRowFn featureRow = nullptr;
};

// Whether the processor runs the AVX2 kernels (asked once).
bool ProcessorHasAvx2();

// Fills the table with the plain kernels, then, when `simd`, with the SSE2
// ones, and with `avx2` the AVX2 ones where they exist. All give identical
// results for every input.
void motion_kernels_init(bool simd, MotionKernelTable& table, bool avx2 = ProcessorHasAvx2());

// The members by name.
int FullPelSad(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit);
int FullPelSadRowBudget(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit);
int FullPelSadSse2(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit);
int FullPelSadSse2RowBudget(const uint8_t* candidate, const uint8_t* current, int lineLength,
                           int limit);
int HalfPelSse(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
               int halfY, int limit);
int HalfPelSseModes45(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                      int halfY, int limit);
int HalfPelSseSse2(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                  int halfY, int limit);
int HalfPelSseSse2Modes45(const uint8_t* reference, const uint8_t* current, int lineLength,
                         int halfX, int halfY, int limit);
// Only where ProcessorHasAvx2().
int FullPelSadAvx2(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit);
int FullPelSadAvx2RowBudget(const uint8_t* candidate, const uint8_t* current, int lineLength, int limit);
int GroupSadAvx2RowBudget(const uint8_t* corner, const uint8_t* current, int lineLength,
                          uint32_t positions, int* bound);
void FeatureRowAvx2(const uint8_t* source, int width, int y, uint16_t* columnSums, uint8_t* horizontal,
                    uint8_t* mean, uint8_t* vertical);
int HalfPelSseAvx2(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX, int halfY,
                   int limit);
int HalfPelSseAvx2Modes45(const uint8_t* reference, const uint8_t* current, int lineLength, int halfX,
                          int halfY, int limit);

// Intra variance measure of a 16x16 block from its sums: S2 - ((S1 x S1 + 128) >> 8),
// the square formed unsigned (it can pass the signed range).
inline int IntraVarianceFromSums(uint32_t sum, uint32_t sumOfSquares) {
    uint32_t meanSquare = (sum * sum + 128u) >> 8;
    return static_cast<int>(sumOfSquares - meanSquare);
}
