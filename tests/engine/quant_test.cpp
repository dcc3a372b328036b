// Quantiser: worked examples, overflow and clipping, and every quantiser
// against the formulas of the test model and of the two standards.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "engine/Quant.h"
#include "settings/EncoderSettings.h"

namespace {

using Block = std::array<int16_t, 64>;

const std::array<int, 64> kDefaultIntra = {
    8,  16, 19, 22, 26, 27, 29, 34, 16, 16, 22, 24, 27, 29, 34, 37, 19, 22, 26, 27, 29, 34,
    34, 38, 22, 22, 26, 27, 29, 34, 37, 40, 22, 26, 27, 29, 32, 35, 40, 48, 26, 27, 29, 32,
    35, 40, 48, 58, 26, 27, 29, 34, 38, 46, 56, 69, 27, 29, 35, 38, 46, 56, 69, 83};

std::array<int, 64> Flat(int weight) {
    std::array<int, 64> m;
    m.fill(weight);
    return m;
}

void UseMatrices(bool mpeg1, const std::array<int, 64>& intra, const std::array<int, 64>& nonIntra) {
    EncoderSettings.mpeg1 = mpeg1 ? 1 : 0;
    EncoderSettings.intraQuantMatrix = intra;
    EncoderSettings.nonIntraQuantMatrix = nonIntra;
    InitQuantizerTables();
    QuantOverflowFlag = 0;
}

int Sign(int v) { return v > 0 ? 1 : v < 0 ? -1 : 0; }

TEST(Quantizer, IntraDcRoundsByPrecision) {
    UseMatrices(true, kDefaultIntra, Flat(16));
    Block in{}, out{};
    in[0] = 1023;
    QuantizeIntra(in.data(), out.data(), 0, 8);
    EXPECT_EQ(out[0], 128);
    in[0] = -1023;
    QuantizeIntra(in.data(), out.data(), 0, 8);
    EXPECT_EQ(out[0], -128);
    in[0] = -1021;
    QuantizeIntra(in.data(), out.data(), 3, 8);
    EXPECT_EQ(out[0], -1021);
    in[0] = 1022;
    QuantizeIntra(in.data(), out.data(), 1, 8);
    EXPECT_EQ(out[0], 256);  // (1022 + 2) >> 2
}

TEST(Quantizer, FlatNonIntraExamplesAndMasks) {
    UseMatrices(false, kDefaultIntra, Flat(16));
    Block in{}, out{};
    in[10] = 63;
    EXPECT_EQ(QuantizeNonIntra(in.data(), out.data(), 8), 1);
    EXPECT_EQ(out[10], 7);
    in[10] = -7;
    EXPECT_EQ(QuantizeNonIntra(in.data(), out.data(), 8), 0);
    EXPECT_EQ(out[10], 0);

    // Masked coefficients give level 0, intra and non-intra.
    in.fill(500);
    IntraCoefficientMask[9] = 0;
    NonIntraCoefficientMask[9] = 0;
    QuantizeIntra(in.data(), out.data(), 0, 8);
    EXPECT_EQ(out[9], 0);
    EXPECT_NE(out[8], 0);
    QuantizeNonIntra(in.data(), out.data(), 8);
    EXPECT_EQ(out[9], 0);
    EXPECT_NE(out[8], 0);
    InitQuantizerTables();
    EXPECT_EQ(IntraCoefficientMask[9], -1);
    EXPECT_EQ(NonIntraCoefficientMask[9], -1);
}

TEST(Quantizer, OverflowStopsAtOnceAndSmallExcessIsClipped) {
    UseMatrices(true, Flat(16), Flat(16));
    // With weight 16 and m = 2 an intra coefficient a gives level (2a + 2) / 4.
    Block in{}, out{};
    out.fill(99);
    in[5] = 511;  // level 256: clipped silently
    QuantizeIntra(in.data(), out.data(), 0, 2);
    EXPECT_EQ(QuantOverflowFlag, 0);
    EXPECT_EQ(out[5], 255);

    out.fill(99);
    in[5] = -599;  // level 300: overflow, the rest of the block is left alone
    QuantizeIntra(in.data(), out.data(), 0, 2);
    EXPECT_EQ(QuantOverflowFlag, 1);
    EXPECT_EQ(out[6], 99);

    // MPEG-2 allows levels to 2047.
    UseMatrices(false, Flat(16), Flat(16));
    QuantizeIntra(in.data(), out.data(), 0, 2);
    EXPECT_EQ(QuantOverflowFlag, 0);
    EXPECT_EQ(out[5], -300);

    // Non-intra: x / (4 q 16) with x = 32 a + 8; a = 32767 at q = 1 gives 16383.
    in = {};
    in[0] = 32767;
    EXPECT_EQ(QuantizeNonIntra(in.data(), out.data(), 2), 1);
    EXPECT_EQ(QuantOverflowFlag, 1);
}

TEST(Quantizer, LargestScaleClipsInsteadOfOverflowing) {
    std::array<int, 64> light = Flat(16);
    light[1] = 1;
    UseMatrices(true, light, light);
    Block in{}, out{};
    in[1] = 2000;  // intra level (64000 + 47) / 124 = 516 even at the largest scale
    QuantizeIntra(in.data(), out.data(), 0, 60);
    EXPECT_EQ(QuantOverflowFlag, 1);
    QuantOverflowFlag = 0;
    QuantizeIntra(in.data(), out.data(), 0, kLargestQuantScale);
    EXPECT_EQ(QuantOverflowFlag, 0);
    EXPECT_EQ(out[1], 255);

    in[1] = -2047;  // non-intra level 65504 / 124 = 528
    EXPECT_EQ(QuantizeNonIntra(in.data(), out.data(), kLargestQuantScale), 1);
    EXPECT_EQ(QuantOverflowFlag, 0);
    EXPECT_EQ(out[1], -255);
}

// The test model's quantisers written as plain integer divisions, each
// coefficient by its own weight.
int ReferenceIntraLevel(int coefficient, int weight, int m) {
    const int y = (32 * std::abs(coefficient) + weight / 2) / weight;
    return Sign(coefficient) * ((y + (3 * m + 2) / 4) / (2 * m));
}

int ReferenceNonIntraLevel(int coefficient, int weight, int m) {
    return Sign(coefficient) * ((32 * std::abs(coefficient) + weight / 2) / weight / (2 * m));
}

// Levels of the reference quantiser as the quantiser must deliver them: up to
// 2 above the limit clipped, further above an overflow that ends the block
// (-1 in `overflowAt` when none), except at the largest scale.
Block LimitLevels(const Block& levels, int m, int from, int& overflowAt) {
    Block out = levels;
    overflowAt = -1;
    for (int i = from; i < 64; ++i) {
        if (std::abs(levels[i]) > 2049 && m < kLargestQuantScale) {
            overflowAt = i;
            return out;
        }
        out[i] = static_cast<int16_t>(std::clamp<int>(levels[i], -2047, 2047));
    }
    return out;
}

TEST(Quantizer, MatchesTheTestModelWithPerCoefficientWeights) {
    std::mt19937 random(1114);
    std::uniform_int_distribution<int> weight(1, 255), coefficient(-2048, 2047), small(-40, 40);
    int overflows = 0;
    for (int round = 0; round < 40; ++round) {
        std::array<int, 64> intra, nonIntra;
        for (int i = 0; i < 64; ++i) {
            intra[i] = round % 4 == 0 ? kDefaultIntra[i] : weight(random);
            nonIntra[i] = weight(random);
        }
        UseMatrices(false, intra, nonIntra);
        for (int m = 2; m <= 62; m += 2) {
            Block in;
            for (auto& c : in) c = static_cast<int16_t>(round % 2 ? coefficient(random) : small(random));
            Block intraReference{}, nonIntraReference{};
            for (int i = 0; i < 64; ++i) {
                intraReference[i] = static_cast<int16_t>(ReferenceIntraLevel(in[i], intra[i], m));
                nonIntraReference[i] = static_cast<int16_t>(ReferenceNonIntraLevel(in[i], nonIntra[i], m));
            }
            int overflowAt;
            Block out;
            out.fill(12345);
            QuantOverflowFlag = 0;
            QuantizeIntra(in.data(), out.data(), 2, m);
            Block expected = LimitLevels(intraReference, m, 1, overflowAt);
            ASSERT_EQ(QuantOverflowFlag, overflowAt >= 0 ? 1 : 0) << "intra m " << m;
            for (int i = 1; i < (overflowAt >= 0 ? overflowAt : 64); ++i)
                ASSERT_EQ(out[i], expected[i]) << "intra i " << i << " m " << m;
            overflows += overflowAt >= 0;

            QuantOverflowFlag = 0;
            const int nonZero = QuantizeNonIntra(in.data(), out.data(), m);
            expected = LimitLevels(nonIntraReference, m, 0, overflowAt);
            ASSERT_EQ(QuantOverflowFlag, overflowAt >= 0 ? 1 : 0) << "non-intra m " << m;
            bool any = overflowAt >= 0;
            for (int i = 0; i < (overflowAt >= 0 ? overflowAt : 64); ++i) {
                ASSERT_EQ(out[i], expected[i]) << "non-intra i " << i << " m " << m;
                any |= expected[i] != 0;
            }
            ASSERT_EQ(nonZero, any ? 1 : 0);
        }
    }
    EXPECT_GT(overflows, 0);  // the random blocks did reach the limit
}

// The inverse quantisers as ISO/IEC 13818-2 (7.4.2, 7.4.4) and ISO/IEC
// 11172-2 (2.4.4) write them, with quantiser_scale_code q.
Block ReferenceMpeg2(const Block& levels, const std::array<int, 64>& w, int q, bool intra, int dcPrecision) {
    Block out{};
    long sum = 0;
    for (int i = 0; i < 64; ++i) {
        int value;
        if (intra && i == 0) {
            value = (8 >> dcPrecision) * levels[0];
        } else {
            const int k = intra ? 0 : Sign(levels[i]);
            value = (2 * levels[i] + k) * w[i] * (2 * q) / 32;
        }
        value = std::clamp(value, -2048, 2047);
        out[i] = static_cast<int16_t>(value);
        sum += value;
    }
    if (sum % 2 == 0) out[63] = static_cast<int16_t>(out[63] % 2 != 0 ? out[63] - 1 : out[63] + 1);
    return out;
}

Block ReferenceMpeg1(const Block& levels, const std::array<int, 64>& w, int q, bool intra) {
    Block out{};
    for (int i = 0; i < 64; ++i) {
        const int level = levels[i];
        int value;
        if (intra && i == 0) {
            value = 8 * level;
        } else if (level == 0) {
            value = 0;
        } else {
            value = intra ? (2 * level * q * w[i]) / 16 : ((2 * level + Sign(level)) * q * w[i]) / 16;
            if ((value & 1) == 0) value -= Sign(value);
            value = std::clamp(value, -2048, 2047);
        }
        out[i] = static_cast<int16_t>(value);
    }
    return out;
}

TEST(Dequantizer, MatchesBothStandards) {
    std::mt19937 random(1142);
    std::uniform_int_distribution<int> weight(1, 255), level(-2047, 2047), small(-6, 6), chance(0, 3);
    for (int round = 0; round < 60; ++round) {
        std::array<int, 64> intra, nonIntra;
        for (int i = 0; i < 64; ++i) {
            intra[i] = round % 3 == 0 ? kDefaultIntra[i] : weight(random);
            nonIntra[i] = round % 3 == 0 ? 16 : weight(random);
        }
        const bool mpeg1 = round % 2 == 1;
        UseMatrices(mpeg1, intra, nonIntra);
        for (int q = 1; q <= 31; ++q) {
            Block levels;
            for (auto& l : levels) l = static_cast<int16_t>(chance(random) ? small(random) : level(random));
            const int p = mpeg1 ? 0 : q % 4;
            levels[0] = static_cast<int16_t>(std::clamp<int>(levels[0], -(128 << p), (128 << p) - 1));
            Block out;
            DequantizeIntra(levels.data(), out.data(), p, 2 * q);
            ASSERT_EQ(out, mpeg1 ? ReferenceMpeg1(levels, intra, q, true) : ReferenceMpeg2(levels, intra, q, true, p))
                << "intra q " << q << " round " << round;
            DequantizeNonIntra(levels.data(), out.data(), 2 * q);
            ASSERT_EQ(out, mpeg1 ? ReferenceMpeg1(levels, nonIntra, q, false)
                                 : ReferenceMpeg2(levels, nonIntra, q, false, 0))
                << "non-intra q " << q << " round " << round;
        }
    }
}

TEST(Dequantizer, MismatchControlAndOddification) {
    UseMatrices(false, Flat(16), Flat(16));
    Block levels{}, out{};
    levels[0] = 16;  // DC 128 at precision 0: even sum
    DequantizeIntra(levels.data(), out.data(), 0, 2);
    EXPECT_EQ(out[0], 128);
    EXPECT_EQ(out[63], 1);
    levels[63] = 1;  // 1 x 16 x 2 / 16 = 2: the sum stays even, 2 becomes 3
    DequantizeIntra(levels.data(), out.data(), 0, 2);
    EXPECT_EQ(out[63], 3);
    levels = {};
    levels[5] = 1;  // non-intra (2 + 1) x 32 / 32 = 3: odd sum, nothing changes
    DequantizeNonIntra(levels.data(), out.data(), 2);
    EXPECT_EQ(out[5], 3);
    EXPECT_EQ(out[63], 0);

    UseMatrices(true, Flat(16), Flat(16));
    levels = {};
    levels[1] = 1;  // 32 / 16 = 2, even: one step toward zero
    levels[2] = -1;
    DequantizeIntra(levels.data(), out.data(), 0, 2);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], -1);
    EXPECT_EQ(out[63], 0);
}

}  // namespace

namespace {

TEST(Quantizer, SimdFormsMatchPlainForms) {
    std::mt19937 random(2024);
    std::uniform_int_distribution<int> weight(1, 255), any(-32768, 32767), usual(-2048, 2047), small(-60, 60);
    for (int round = 0; round < 24; ++round) {
        std::array<int, 64> intra, nonIntra;
        for (int i = 0; i < 64; ++i) {
            intra[i] = round % 3 == 0 ? kDefaultIntra[i] : weight(random);
            nonIntra[i] = round % 3 == 1 ? 16 : weight(random);
        }
        UseMatrices(round % 2 == 0, intra, nonIntra);
        for (int i = 0; i < 64; ++i) {
            // Masks as the picture coder builds them, and the all-ones default.
            const bool keep = round % 4 == 3 || (i / 8 + i % 8) <= 2 + round % 12;
            IntraCoefficientMask[i] = NonIntraCoefficientMask[i] = static_cast<int16_t>(keep ? -1 : 0);
        }
        for (int m = 2; m <= 62; m += 2) {
            for (int kind = 0; kind < 3; ++kind) {
                Block in;
                for (auto& c : in) c = static_cast<int16_t>(kind == 0 ? small(random) : kind == 1 ? usual(random) : any(random));
                if (kind == 0) in[random() % 64] = 0;
                SCOPED_TRACE(testing::Message() << "round " << round << " m " << m << " kind " << kind);
                for (int precision = 0; precision < 4; precision += 3) {
                    Block plain, simd;
                    plain.fill(777);
                    simd.fill(777);
                    QuantOverflowFlag = 0;
                    QuantizeIntraPlain(in.data(), plain.data(), precision, m);
                    const int plainFlag = QuantOverflowFlag;
                    QuantOverflowFlag = 0;
                    QuantizeIntraSse2(in.data(), simd.data(), precision, m);
                    EXPECT_EQ(QuantOverflowFlag, plainFlag);
                    EXPECT_EQ(simd, plain);
                }
                Block plain, simd;
                plain.fill(777);
                simd.fill(777);
                QuantOverflowFlag = 0;
                const int plainResult = QuantizeNonIntraPlain(in.data(), plain.data(), m);
                const int plainFlag = QuantOverflowFlag;
                QuantOverflowFlag = 0;
                EXPECT_EQ(QuantizeNonIntraSse2(in.data(), simd.data(), m), plainResult);
                EXPECT_EQ(QuantOverflowFlag, plainFlag);
                EXPECT_EQ(simd, plain);
            }
        }
    }
    QuantOverflowFlag = 0;
    UseMatrices(false, kDefaultIntra, Flat(16));
}

}  // namespace

namespace {

TEST(Dequantizer, SimdFormsMatchPlainForms) {
    std::mt19937 random(77);
    std::uniform_int_distribution<int> weight(1, 255), any(-32768, 32767), usual(-2048, 2047), small(-8, 8);
    for (int round = 0; round < 16; ++round) {
        std::array<int, 64> intra, nonIntra;
        for (int i = 0; i < 64; ++i) {
            intra[i] = round % 3 == 0 ? kDefaultIntra[i] : weight(random);
            nonIntra[i] = round % 3 == 1 ? 16 : weight(random);
        }
        UseMatrices(round % 2 == 0, intra, nonIntra);
        for (int m = 2; m <= 62; m += 2) {
            for (int kind = 0; kind < 3; ++kind) {
                Block in;
                for (auto& c : in) {
                    const int v = kind == 0 ? small(random) : kind == 1 ? usual(random) : any(random);
                    c = static_cast<int16_t>(random() % 3 == 0 ? 0 : v);
                }
                SCOPED_TRACE(testing::Message() << "round " << round << " m " << m << " kind " << kind);
                Block plain, simd;
                for (int precision = 0; precision < 4; ++precision) {
                    DequantizeIntraPlain(in.data(), plain.data(), precision, m);
                    DequantizeIntraSse2(in.data(), simd.data(), precision, m);
                    EXPECT_EQ(simd, plain);
                }
                DequantizeNonIntraPlain(in.data(), plain.data(), m);
                DequantizeNonIntraSse2(in.data(), simd.data(), m);
                EXPECT_EQ(simd, plain);
            }
        }
    }
    UseMatrices(false, kDefaultIntra, Flat(16));
}

}  // namespace
