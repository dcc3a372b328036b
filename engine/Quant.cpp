// Quantiser tables, forward quantisers (test-model rounding) and the inverse
// quantisers of ISO/IEC 11172-2 and 13818-2.
#include "engine/Quant.h"

#include <emmintrin.h>

#include <algorithm>
#include <cstdlib>

#include "engine/EngineState.h"
#include "settings/EncoderSettings.h"

int16_t IntraCoefficientMask[64];
int16_t NonIntraCoefficientMask[64];
constinit thread_local int QuantOverflowFlag = 0;

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
    // The same divisors and addends for the SIMD forms.
    // Intra: the two floor divisions (by the weight, then by 4 q after the
    // rounding) as one, floor((32 |c| + w / 2 + r w) / (4 q w)), r the rounding.
    alignas(16) float intraDivisor[32][64];   // 4 q x weight
    alignas(16) int32_t intraAddend32[32][64];  // half the weight + the rounding x weight
    alignas(16) float nonIntraDivisor[32][64];  // 4 q x weight
    alignas(16) int32_t nonIntraHalfWeight32[64];
    alignas(16) int16_t intraRecon16[32][64];  // the recon tables as 16 bits (at most 255 x 62)
    alignas(16) int16_t nonIntraRecon16[32][64];
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
        Tables.nonIntraHalfWeight32[i] = wn >> 1;
        for (int q = 1; q < 32; ++q) {
            Tables.intraRecon[q][i] = wi * 2 * q;
            Tables.nonIntraRecon[q][i] = wn * 2 * q;
            Tables.nonIntraReciprocal[q][i] = Reciprocal(4 * q * wn);
            Tables.nonIntraDivisor[q][i] = static_cast<float>(4 * q * wn);
            Tables.intraDivisor[q][i] = static_cast<float>(4 * q * wi);
            Tables.intraAddend32[q][i] = (wi >> 1) + ((3 * 2 * q + 2) >> 2) * wi;
            Tables.intraRecon16[q][i] = static_cast<int16_t>(wi * 2 * q);
            Tables.nonIntraRecon16[q][i] = static_cast<int16_t>(wn * 2 * q);
        }
        IntraCoefficientMask[i] = -1;
        NonIntraCoefficientMask[i] = -1;
    }
}

void QuantizeIntraPlain(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m) {
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

int QuantizeNonIntraPlain(const int16_t* coefficients, int16_t* levels, int m) {
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

namespace {

// Floor division of non-negative integers below 2^24 by divisors below 2^24
// in single precision: the quotient is correctly rounded, and a true quotient
// within 1 / divisor below an integer n stays below n (its distance from n is
// at least 2^-21 of it, more than half a unit in the last place), so the
// truncation gives the same quotient as the integer division.
inline __m128i FloorDivide(__m128i dividend, __m128 divisor) {
    return _mm_cvttps_epi32(_mm_div_ps(_mm_cvtepi32_ps(dividend), divisor));
}

// Masked coefficients i..i+7 as two vectors of 32-bit magnitudes and their signs (-1 or 0).
inline void MaskedMagnitudes(const int16_t* coefficients, const int16_t* mask, int i, __m128i* lo, __m128i* hi,
                             __m128i* signs16) {
    const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + i)),
                                    _mm_loadu_si128(reinterpret_cast<const __m128i*>(mask + i)));
    const __m128i sign = _mm_srai_epi16(v, 15);
    *signs16 = sign;
    // Widened with their signs, then made positive: -32768 stays exact.
    const __m128i wideLo = _mm_unpacklo_epi16(v, sign), wideHi = _mm_unpackhi_epi16(v, sign);
    const __m128i signLo = _mm_unpacklo_epi16(sign, sign), signHi = _mm_unpackhi_epi16(sign, sign);
    *lo = _mm_sub_epi32(_mm_xor_si128(wideLo, signLo), signLo);
    *hi = _mm_sub_epi32(_mm_xor_si128(wideHi, signHi), signHi);
}

// Levels (non-negative, at most 32767 here) with the coefficients' signs, stored as 16 bits.
inline __m128i SignedLevels(__m128i lo, __m128i hi, __m128i signs16) {
    const __m128i levels = _mm_packs_epi32(lo, hi);
    return _mm_sub_epi16(_mm_xor_si128(levels, signs16), signs16);
}

inline __m128i Load32(const int32_t* p) { return _mm_load_si128(reinterpret_cast<const __m128i*>(p)); }

}  // namespace

int QuantizeNonIntraSse2(const int16_t* coefficients, int16_t* levels, int m) {
    const int q = ScaleCode(m);
    const int limit = LevelLimit();
    const float* divisor = Tables.nonIntraDivisor[q];
    __m128i largest = _mm_setzero_si128();
    __m128i out[8];
    for (int i = 0; i < 64; i += 8) {
        __m128i lo, hi, signs;
        MaskedMagnitudes(coefficients, NonIntraCoefficientMask, i, &lo, &hi, &signs);
        // A zero coefficient gives 0: half the weight is below 4 q times the weight.
        lo = FloorDivide(_mm_add_epi32(_mm_slli_epi32(lo, 5), Load32(Tables.nonIntraHalfWeight32 + i)),
                         _mm_load_ps(divisor + i));
        hi = FloorDivide(_mm_add_epi32(_mm_slli_epi32(hi, 5), Load32(Tables.nonIntraHalfWeight32 + i + 4)),
                         _mm_load_ps(divisor + i + 4));
        const __m128i packed = _mm_packs_epi32(lo, hi);
        largest = _mm_max_epi16(largest, packed);
        out[i / 8] = SignedLevels(lo, hi, signs);
    }
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 8));
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 4));
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 2));
    const int top = _mm_extract_epi16(largest, 0);
    // Levels past the limit: the plain form decides clipping or overflow in its order.
    if (top > limit) return QuantizeNonIntraPlain(coefficients, levels, m);
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + 8 * k), out[k]);
    return top != 0 ? 1 : 0;
}

void QuantizeIntraSse2(const int16_t* coefficients, int16_t* levels, int dcPrecision, int m) {
    const int q = ScaleCode(m);
    const int limit = LevelLimit();
    const int32_t* addend = Tables.intraAddend32[q];
    const float* divisor = Tables.intraDivisor[q];
    __m128i largest = _mm_setzero_si128();
    __m128i out[8];
    for (int i = 0; i < 64; i += 8) {
        __m128i lo, hi, signs;
        MaskedMagnitudes(coefficients, IntraCoefficientMask, i, &lo, &hi, &signs);
        // floor((floor(x / w) + r) / d) = floor((x + r w) / (d w)) for whole x, w, d > 0;
        // the dividends stay below 2^21.
        lo = FloorDivide(_mm_add_epi32(_mm_slli_epi32(lo, 5), Load32(addend + i)), _mm_load_ps(divisor + i));
        hi = FloorDivide(_mm_add_epi32(_mm_slli_epi32(hi, 5), Load32(addend + i + 4)), _mm_load_ps(divisor + i + 4));
        // A zero coefficient must give 0 whatever the rounding adds.
        const __m128i zero = _mm_setzero_si128();
        const __m128i v = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + i)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(IntraCoefficientMask + i)));
        const __m128i isZero = _mm_cmpeq_epi16(v, zero);
        __m128i packed = _mm_andnot_si128(isZero, _mm_packs_epi32(lo, hi));
        if (i == 0) packed = _mm_insert_epi16(packed, 0, 0);  // the DC level comes below
        largest = _mm_max_epi16(largest, packed);
        out[i / 8] = _mm_sub_epi16(_mm_xor_si128(packed, signs), signs);
    }
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 8));
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 4));
    largest = _mm_max_epi16(largest, _mm_srli_si128(largest, 2));
    if (_mm_extract_epi16(largest, 0) > limit) {
        QuantizeIntraPlain(coefficients, levels, dcPrecision, m);
        return;
    }
    for (int k = 0; k < 8; ++k) _mm_storeu_si128(reinterpret_cast<__m128i*>(levels + 8 * k), out[k]);
    const int p = std::clamp(dcPrecision, 0, 3);
    const int dc = coefficients[0];
    const int dcLevel = (std::abs(dc) + (8 >> (p + 1))) >> (3 - p);
    levels[0] = static_cast<int16_t>(dc < 0 ? -dcLevel : dcLevel);
}

void DequantizeIntraPlain(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m) {
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

void DequantizeNonIntraPlain(const int16_t* levels, int16_t* coefficients, int m) {
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

namespace {

// Products of 16-bit factors as two vectors of 32-bit values.
inline void Multiply(__m128i a, __m128i b, __m128i* lo, __m128i* hi) {
    const __m128i low = _mm_mullo_epi16(a, b), high = _mm_mulhi_epi16(a, b);
    *lo = _mm_unpacklo_epi16(low, high);
    *hi = _mm_unpackhi_epi16(low, high);
}

// value / 2^shift, rounded toward zero as the integer division does.
inline __m128i DivideTowardZero(__m128i value, int shift) {
    const __m128i bias = _mm_and_si128(_mm_srai_epi32(value, 31), _mm_set1_epi32((1 << shift) - 1));
    return _mm_srai_epi32(_mm_add_epi32(value, bias), shift);
}

// Oddification (MPEG-1) or nothing, then saturation to -2048..2047, on eight
// values; returns them as 16 bits and adds them to *sum.
inline __m128i Finish(__m128i lo, __m128i hi, bool mpeg1, __m128i* sum) {
    __m128i v = _mm_packs_epi32(lo, hi);  // |value| < 2^27 / 16: saturating keeps every value past the range outside it
    if (mpeg1) {
        // An even non-zero value steps one toward zero.
        const __m128i one = _mm_set1_epi16(1);
        const __m128i even = _mm_cmpeq_epi16(_mm_and_si128(v, one), _mm_setzero_si128());
        const __m128i nonZero = _mm_xor_si128(_mm_cmpeq_epi16(v, _mm_setzero_si128()), _mm_set1_epi16(-1));
        const __m128i negative = _mm_srai_epi16(v, 15);
        // toward zero: -1 for positive, +1 for negative values
        const __m128i step = _mm_or_si128(_mm_andnot_si128(negative, _mm_set1_epi16(-1)), _mm_and_si128(negative, one));
        v = _mm_add_epi16(v, _mm_and_si128(_mm_and_si128(even, nonZero), step));
    }
    v = _mm_min_epi16(_mm_max_epi16(v, _mm_set1_epi16(-2048)), _mm_set1_epi16(2047));
    *sum = _mm_add_epi16(*sum, v);
    return v;
}

inline bool SumIsEven(__m128i sum) {
    // Only the parity counts: the low bits of a 16-bit wrapped sum carry it.
    sum = _mm_xor_si128(sum, _mm_srli_si128(sum, 8));
    sum = _mm_xor_si128(sum, _mm_srli_si128(sum, 4));
    sum = _mm_xor_si128(sum, _mm_srli_si128(sum, 2));
    return (_mm_cvtsi128_si32(sum) & 1) == 0;
}

}  // namespace

void DequantizeIntraSse2(const int16_t* levels, int16_t* coefficients, int dcPrecision, int m) {
    const int16_t* recon = Tables.intraRecon16[ScaleCode(m)];
    const bool mpeg1 = EncoderSettings.mpeg1 != 0;
    const int p = std::clamp(dcPrecision, 0, 3);
    const int dc = Saturate(levels[0] * (1 << (3 - p)));
    __m128i sum = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + i));
        if (i == 0) l = _mm_insert_epi16(l, 0, 0);  // the DC coefficient is set below
        __m128i lo, hi;
        Multiply(l, _mm_load_si128(reinterpret_cast<const __m128i*>(recon + i)), &lo, &hi);
        const __m128i v = Finish(DivideTowardZero(lo, 4), DivideTowardZero(hi, 4), mpeg1, &sum);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(coefficients + i), v);
    }
    coefficients[0] = static_cast<int16_t>(dc);
    if (!mpeg1 && SumIsEven(sum) == ((dc & 1) == 0)) coefficients[63] ^= 1;
}

void DequantizeNonIntraSse2(const int16_t* levels, int16_t* coefficients, int m) {
    const int16_t* recon = Tables.nonIntraRecon16[ScaleCode(m)];
    const bool mpeg1 = EncoderSettings.mpeg1 != 0;
    __m128i sum = _mm_setzero_si128(), outside = _mm_setzero_si128();
    for (int i = 0; i < 64; i += 8) {
        const __m128i l = _mm_loadu_si128(reinterpret_cast<const __m128i*>(levels + i));
        outside = _mm_or_si128(outside, _mm_or_si128(_mm_cmpgt_epi16(l, _mm_set1_epi16(16383)),
                                                     _mm_cmplt_epi16(l, _mm_set1_epi16(-16383))));
        // 2 level + sign(level): 0 stays 0.
        const __m128i sign = _mm_sub_epi16(_mm_setzero_si128(), _mm_cmpgt_epi16(l, _mm_setzero_si128()));
        const __m128i t = _mm_add_epi16(_mm_add_epi16(l, l), _mm_or_si128(sign, _mm_srai_epi16(l, 15)));
        __m128i lo, hi;
        Multiply(t, _mm_load_si128(reinterpret_cast<const __m128i*>(recon + i)), &lo, &hi);
        const __m128i v = Finish(DivideTowardZero(lo, 5), DivideTowardZero(hi, 5), mpeg1, &sum);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(coefficients + i), v);
    }
    // Levels whose doubling leaves 16 bits (never the quantiser's): the plain form.
    if (_mm_movemask_epi8(outside)) {
        DequantizeNonIntraPlain(levels, coefficients, m);
        return;
    }
    if (!mpeg1 && SumIsEven(sum)) coefficients[63] ^= 1;
}

QuantKernels QuantKernelSet = [] {
    QuantKernels k;
    quant_init(false, k);
    return k;
}();

void quant_init(bool simd, QuantKernels& kernels) {
    kernels = simd ? QuantKernels{QuantizeIntraSse2, QuantizeNonIntraSse2, DequantizeIntraSse2, DequantizeNonIntraSse2}
                   : QuantKernels{QuantizeIntraPlain, QuantizeNonIntraPlain, DequantizeIntraPlain, DequantizeNonIntraPlain};
}
