// Inverse 8x8 DCT of the reconstruction: an integer two-pass transform whose
// plain and SIMD forms give the same samples for every block of 16-bit values.
#pragma once

#include <cstdint>

// Both forms take the block in natural coefficient order (row = vertical
// frequency) and return sample differences, row = line, each in -256..255.
void IdctChenWang(int16_t* block);
// SIMD form. It keeps no static storage, so the two entries (one per
// reconstruction slot) may run on two threads at once.
void IdctSse2(int16_t* block);
// The SIMD form in 256-bit registers; only where the processor has AVX2.
void IdctAvx2(int16_t* block);

struct IdctKernels {
    void (*idct[2])(int16_t* block);  // by reconstruction slot
};

// Fills the table with the plain kernels, then with the SIMD ones when `simd`,
// the AVX2 one when also `avx2`.
void idct_init(bool simd, IdctKernels& kernels, bool avx2 = false);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern IdctKernels IdctKernelSet;
