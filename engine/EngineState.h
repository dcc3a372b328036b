// Process-wide words of the video engine that the rest of the program reads.
#pragma once

#include <cstdint>

// 1 when the SIMD kernels are used (the user can switch them off).
extern int MmxEnabled;
// 0 none, 1 pictures being coded, 2 sequence end written.
extern int VideoSequenceState;
// Pictures the video pass runs, and pictures encoded so far.
extern int EncodingFrameCount;
extern int EncodedFrameCount;
// Two values rate control carries between pictures; cleared by profile reads.
extern int RateControlCarry[2];
