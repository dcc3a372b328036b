// Quantiser: forward quantisation of DCT coefficients into levels (intra and
// non-intra), and the inverse quantisation of the encoder's own reconstruction.
#pragma once

#include <cstdint>

// Quantiser scales m are doubled: an even value 2..62 stands for
// quantiser_scale_code m / 2. Blocks are 64 coefficients in natural order.
constexpr int kLargestQuantScale = 62;

// Per-coefficient masks (all ones or zero) that drop high frequencies before
// quantisation; the picture coder rebuilds them when the quantiser changes.
extern int16_t IntraCoefficientMask[64];
extern int16_t NonIntraCoefficientMask[64];
// Set to 1 when a level exceeds its limit by more than 2; the caller then
// quantises again with a larger scale. One per thread: rows of a picture may
// be quantised on several.
extern constinit thread_local int QuantOverflowFlag;

// Builds the per-quantiser tables from EncoderSettings.intraQuantMatrix and
// nonIntraQuantMatrix (weights 1..255) and sets both masks to all ones.
void InitQuantizerTables();

// The two forms of each quantiser and inverse quantiser below; both give the
// same levels, coefficients and flag for every input.
void QuantizeIntraPlain(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m);
void QuantizeIntraSse2(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m);
int QuantizeNonIntraPlain(const int16_t* coefficients, int16_t* levels, int m);
int QuantizeNonIntraSse2(const int16_t* coefficients, int16_t* levels, int m);

void DequantizeIntraPlain(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m);
void DequantizeIntraSse2(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m);
void DequantizeNonIntraPlain(const int16_t* levels, int16_t* coefficients, int m);
void DequantizeNonIntraSse2(const int16_t* levels, int16_t* coefficients, int m);

struct QuantKernels {
    void (*quantizeIntra)(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m);
    int (*quantizeNonIntra)(const int16_t* coefficients, int16_t* levels, int m);
    void (*dequantizeIntra)(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m);
    void (*dequantizeNonIntra)(const int16_t* levels, int16_t* coefficients, int m);
};

// Fills the table with the plain kernels, or with the SIMD ones when `simd`.
void quant_init(bool simd, QuantKernels& kernels);
// The kernels the engine runs: plain until SelectEngineKernels fills it
// when an encoding is set up.
extern QuantKernels QuantKernelSet;

// Levels are limited to 255 (MPEG-1) or 2047 (MPEG-2, EncoderSettings.mpeg1 0).
// At the largest scale nothing larger is left to try, so levels are clipped
// to the limit instead of reporting an overflow.
inline void QuantizeIntra(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m) {
    QuantKernelSet.quantizeIntra(coefficients, levels, dcPrecision, m);
}
// Returns 1 when any level is non-zero (and on overflow), else 0.
inline int QuantizeNonIntra(const int16_t* coefficients, int16_t* levels, int m) {
    return QuantKernelSet.quantizeNonIntra(coefficients, levels, m);
}

// Coefficients for the inverse DCT: MPEG-1 with oddification, MPEG-2 with
// saturation and mismatch control, by EncoderSettings.mpeg1.
inline void DequantizeIntra(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m) {
    QuantKernelSet.dequantizeIntra(levels, coefficients, dcPrecision, m);
}
inline void DequantizeNonIntra(const int16_t* levels, int16_t* coefficients, int m) {
    QuantKernelSet.dequantizeNonIntra(levels, coefficients, m);
}
