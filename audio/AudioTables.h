// Constant tables of the Layer II coder: analysis window, allocation
// rows (five integers per allocation index) and the model's absolute threshold.
#pragma once

#include <cstdint>

// Entry 0 of a row carries the width of the allocation field in `bits`.
struct AllocationEntry {
    int signPosition;  // n: position of the sign bit of a code
    int steps;
    int bits;          // bits of one code (a grouped code covers three samples)
    int grouping;      // 1: three samples in one code, 3: three codes
    int quantClass;
};

// The analysis window C[i] of the standard, at the precision of its table.
extern const float AudioWindowTable[512];
extern const AllocationEntry AllocationTableA[30][16];  // 27 rows at 48 kHz and 56-80 kbit/s a channel
extern const AllocationEntry AllocationTableC[8][16];
extern const float AbsoluteThreshold44100[513];
extern const float AbsoluteThreshold48000[513];
