// Quantiser tables, forward quantisers (test-model rounding) and the inverse
// quantisers of ISO/IEC 11172-2 and 13818-2.
#include "engine/Quant.h"

#include <algorithm>
#include <cstdlib>

#include "job/EncoderSettings.h"

int16_t IntraCoefficientMask[64];
int16_t NonIntraCoefficientMask[64];
int QuantOverflowFlag = 0;

namespace {

// Divisions become a multiplication and a shift. With a 40-bit reciprocal
// rounded up, the quotient is exact for every dividend below 2^40 / divisor,
// which covers every coefficient of 16 bits scaled by 32 and every divisor
// (at most 4 x 31 x 255).
constexpr int kReciprocalShift = 40;

uint64_t Reciprocal(int divisor) { return (uint64_t{1} << kReciprocalShift) / static_cast<uint64_t>(divisor) + 1; }

int Divide(int dividend, uint64_t reciprocal) {
    return static_cast<int>((static_cast<uint64_t>(dividend) * reciprocal) >> kReciprocalShift);
}

struct QuantizerTables {
    // Indexed by quantiser_scale_code q = 1..31 (row 0 unused).
    int intraRecon[32][64];     // intra weight x 2q
    int nonIntraRecon[32][64];  // non-intra weight x 2q
    int intraHalfWeight[64];
    int nonIntraHalfWeight[64];
    uint64_t intraReciprocal[64];        // of the intra weight
    uint64_t nonIntraReciprocal[32][64];  // of 4 q x the coefficient's own non-intra weight
};

QuantizerTables Tables;

// The scale code of a doubled scale; scales are even and 2..62 by contract,
// anything else is brought into range rather than read past the tables.
int ScaleCode(int m) { return std::clamp(m / 2, 1, 31); }

int LevelLimit() { return EncoderSettings.mpeg1 ? 255 : 2047; }

int Saturate(int value) { return std::clamp(value, -2048, 2047); }

// MPEG-1 makes every non-zero reconstruction odd by a step toward zero.
int Oddify(int value) {
    if (value != 0 && (value & 1) == 0) value += value > 0 ? -1 : 1;
    return Saturate(value);
}

}  // namespace

void InitQuantizerTables() {
    for (int i = 0; i < 64; ++i) {
        // The loader accepts 1..255 only; keep a damaged matrix from dividing by 0.
        const int wi = std::clamp(EncoderSettings.intraQuantMatrix[i], 1, 255);
        const int wn = std::clamp(EncoderSettings.nonIntraQuantMatrix[i], 1, 255);
        Tables.intraHalfWeight[i] = wi >> 1;
        Tables.nonIntraHalfWeight[i] = wn >> 1;
        Tables.intraReciprocal[i] = Reciprocal(wi);
        for (int q = 1; q < 32; ++q) {
            Tables.intraRecon[q][i] = wi * 2 * q;
            Tables.nonIntraRecon[q][i] = wn * 2 * q;
            Tables.nonIntraReciprocal[q][i] = Reciprocal(4 * q * wn);
        }
        IntraCoefficientMask[i] = -1;
        NonIntraCoefficientMask[i] = -1;
    }
}

void QuantizeIntra(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m) {
    const int q = ScaleCode(m);
    m = 2 * q;
    const int limit = LevelLimit();
    const int p = std::clamp(dcPrecision, 0, 3);

    const int dc = coefficients[0];
    const int dcLevel = (std::abs(dc) + (8 >> (p + 1))) >> (3 - p);
    levels[0] = static_cast<int16_t>(dc < 0 ? -dcLevel : dcLevel);

    const int rounding = (3 * m + 2) >> 2;
    for (int i = 1; i < 64; ++i) {
        const int v = coefficients[i] & IntraCoefficientMask[i];
        if (v == 0) {
            levels[i] = 0;
            continue;
        }
        const int x = 32 * std::abs(v) + Tables.intraHalfWeight[i];
        const int y = Divide(x, Tables.intraReciprocal[i]);
        int level = (y + rounding) / (2 * m);
        if (level > limit) {
            if (level > limit + 2 && m < kLargestQuantScale) {
                QuantOverflowFlag = 1;
                return;
            }
            level = limit;
        }
        levels[i] = static_cast<int16_t>(v < 0 ? -level : level);
    }
}

int QuantizeNonIntra(const int16_t* coefficients, int16_t* levels, int m) {
    const int q = ScaleCode(m);
    m = 2 * q;
    const int limit = LevelLimit();
    const uint64_t* reciprocal = Tables.nonIntraReciprocal[q];
    int nonZero = 0;
    for (int i = 0; i < 64; ++i) {
        const int v = coefficients[i] & NonIntraCoefficientMask[i];
        if (v == 0) {
            levels[i] = 0;
            continue;
        }
        const int x = 32 * std::abs(v) + Tables.nonIntraHalfWeight[i];
        int level = Divide(x, reciprocal[i]);
        if (level > limit) {
            if (level > limit + 2 && m < kLargestQuantScale) {
                QuantOverflowFlag = 1;
                return 1;
            }
            level = limit;
        }
        nonZero |= level;
        levels[i] = static_cast<int16_t>(v < 0 ? -level : level);
    }
    return nonZero != 0 ? 1 : 0;
}

void DequantizeIntra(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m) {
    const int* recon = Tables.intraRecon[ScaleCode(m)];
    const bool mpeg1 = EncoderSettings.mpeg1 != 0;
    const int p = std::clamp(dcPrecision, 0, 3);
    int sum = coefficients[0] = static_cast<int16_t>(Saturate(levels[0] * (1 << (3 - p))));
    for (int i = 1; i < 64; ++i) {
        const int level = levels[i];
        int value = 0;
        if (level != 0) {
            value = level * recon[i] / 16;
            value = mpeg1 ? Oddify(value) : Saturate(value);
        }
        coefficients[i] = static_cast<int16_t>(value);
        sum += value;
    }
    if (!mpeg1 && (sum & 1) == 0) coefficients[63] ^= 1;
}

void DequantizeNonIntra(const int16_t* levels, int16_t* coefficients, int m) {
    const int* recon = Tables.nonIntraRecon[ScaleCode(m)];
    const bool mpeg1 = EncoderSettings.mpeg1 != 0;
    int sum = 0;
    for (int i = 0; i < 64; ++i) {
        const int level = levels[i];
        int value = 0;
        if (level != 0) {
            value = (2 * level + (level > 0 ? 1 : -1)) * recon[i] / 32;
            value = mpeg1 ? Oddify(value) : Saturate(value);
        }
        coefficients[i] = static_cast<int16_t>(value);
        sum += value;
    }
    if (!mpeg1 && (sum & 1) == 0) coefficients[63] ^= 1;
}
