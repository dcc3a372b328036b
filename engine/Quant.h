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
// quantises again with a larger scale.
extern int QuantOverflowFlag;

// Builds the per-quantiser tables from EncoderSettings.intraQuantMatrix and
// nonIntraQuantMatrix (weights 1..255) and sets both masks to all ones.
void InitQuantizerTables();

// Levels are limited to 255 (MPEG-1) or 2047 (MPEG-2, EncoderSettings.mpeg1 0).
// At the largest scale nothing larger is left to try, so levels are clipped
// to the limit instead of reporting an overflow.
void QuantizeIntra(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m);
// Returns 1 when any level is non-zero (and on overflow), else 0.
int QuantizeNonIntra(const int16_t* coefficients, int16_t* levels, int m);
// The two forms behind them (SSE2 when MmxEnabled); both give the same levels
// and flag for every input.
void QuantizeIntraPlain(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m);
void QuantizeIntraSse2(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m);
int QuantizeNonIntraPlain(const int16_t* coefficients, int16_t* levels, int m);
int QuantizeNonIntraSse2(const int16_t* coefficients, int16_t* levels, int m);

// Coefficients for the inverse DCT: MPEG-1 with oddification, MPEG-2 with
// saturation and mismatch control, by EncoderSettings.mpeg1.
void DequantizeIntra(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m);
void DequantizeNonIntra(const int16_t* levels, int16_t* coefficients, int m);
// The forms behind them, as for the quantisers.
void DequantizeIntraPlain(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m);
void DequantizeIntraSse2(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m);
void DequantizeNonIntraPlain(const int16_t* levels, int16_t* coefficients, int m);
void DequantizeNonIntraSse2(const int16_t* levels, int16_t* coefficients, int m);
