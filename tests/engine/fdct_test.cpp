// Forward DCT, significance pre-test and DCT-type decision: accuracy against a
// double-precision DCT, worked examples, and the plain and SIMD kernels
// against each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <utility>
#include <vector>

#include "engine/Fdct.h"
#include "transform_util.h"

using namespace transform_test;

namespace {

FdctKernels Kernels(bool simd) {
    FdctKernels kernels;
    fdct_init(simd, kernels);
    return kernels;
}

// Rounding after each pass bounds the error: a first-pass rounding error of at
// most 1/2 reaches a coefficient with a gain of at most 2 sqrt 2 (the sum of the
// magnitudes of a basis vector), and the final rounding adds 1/2.
TEST(Fdct, StaysCloseToTheExactTransform) {
    const FdctKernels kernels = Kernels(false);
    std::mt19937 random(8);
    double worst = 0, sumSquare = 0;
    int beyond = 0;
    constexpr int kBlocks = 20000;
    for (int n = 0; n < kBlocks; ++n) {
        // Prediction errors, and intra samples less 128.
        Block block = n % 2 ? RandomBlock(random, -255, 255) : RandomBlock(random, -128, 127);
        DoubleBlock samples{};
        for (int i = 0; i < 64; ++i) samples[i] = block[i];
        const DoubleBlock exact = ReferenceForwardDct(samples);
        kernels.fdct(block.data());
        for (int i = 0; i < 64; ++i) {
            const double error = std::fabs(block[i] - exact[i]);
            worst = std::max(worst, error);
            beyond += error > 1.4;
            sumSquare += error * error;
        }
    }
    EXPECT_LE(worst, 0.5 + 0.5 * 2 * std::sqrt(2.0));
    EXPECT_LT(sumSquare / (64.0 * kBlocks), 0.2);
    // Coherent first-pass errors are rare: almost every coefficient is within 1.4.
    EXPECT_LT(beyond, 64 * kBlocks / 10000);
}

class FdctKernel : public ::testing::TestWithParam<bool> {};

TEST_P(FdctKernel, FlatBlockHasOnlyADcCoefficient) {
    Block block;
    block.fill(100);
    Kernels(GetParam()).fdct(block.data());
    EXPECT_EQ(block[0], 800);
    for (int i = 1; i < 64; ++i) EXPECT_EQ(block[i], 0) << i;

    block.fill(0);
    Kernels(GetParam()).fdct(block.data());
    for (int16_t v : block) EXPECT_EQ(v, 0);
}

TEST_P(FdctKernel, CheckerboardIsNotSignificant) {
    Block block;
    for (int i = 0; i < 64; ++i) block[i] = ((i / 8 + i % 8) % 2) ? -100 : 100;
    EXPECT_EQ(Kernels(GetParam()).blockIsSignificant(block.data(), 1 << 17, 2), 0);
    Block transformed = block;
    Kernels(GetParam()).fdct(transformed.data());
    EXPECT_EQ(std::abs(transformed[63]), 656);
}

TEST_P(FdctKernel, SignificanceThresholds) {
    const FdctKernels kernels = Kernels(GetParam());
    const int t = 3, t1 = 131072 * t, t2 = (2896 * t) >> 10;
    Block ones;
    ones.fill(1);
    EXPECT_EQ(kernels.blockIsSignificant(ones.data(), t1, t2), 1);
    Block zeros{};
    EXPECT_EQ(kernels.blockIsSignificant(zeros.data(), t1, t2), 0);
    // A single value of 2 in a corner: the tested coefficients are at most
    // 0.35, inside the level of T = 3 (1.06); the product terms alone exceed a
    // level of T = 1/4 (0.09) while S and Q stay inside a wide t2.
    Block corner{};
    corner[0] = 2;
    EXPECT_EQ(kernels.blockIsSignificant(corner.data(), t1, t2), 0);
    EXPECT_EQ(kernels.blockIsSignificant(corner.data(), 131072 / 4, 1000), 1);
    // Energy only at horizontal frequency 1 shows in the column sums alone.
    Block ramp{};
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; ++x) ramp[8 * y + x] = static_cast<int16_t>(x < 4 ? 20 : -20);
    EXPECT_EQ(kernels.blockIsSignificant(ramp.data(), t1, t2), 1);
}

// A 16x16 macroblock of samples in a plane with room around it.
struct Macroblock {
    static constexpr int kStride = 40;
    std::vector<uint8_t> plane = std::vector<uint8_t>(kStride * 20, 0);
    uint8_t& at(int line, int column) { return plane[(line + 2) * kStride + column + 3]; }
    const uint8_t* topLeft() { return &at(0, 0); }
};

TEST_P(FdctKernel, DctTypeOfFlatAndInterlacedMacroblocks) {
    const FdctKernels kernels = Kernels(GetParam());
    Macroblock flat;
    for (int l = 0; l < 16; ++l)
        for (int c = 0; c < 16; ++c) flat.at(l, c) = 77;
    EXPECT_EQ(kernels.dctTypeEstimateIntra(flat.topLeft(), Macroblock::kStride), 0);
    EXPECT_EQ(kernels.dctTypeEstimateInter(flat.topLeft(), flat.topLeft(), Macroblock::kStride), 0);

    Macroblock combed;
    for (int l = 0; l < 16; ++l)
        for (int c = 0; c < 16; ++c) combed.at(l, c) = l % 2 ? 255 : 0;
    EXPECT_EQ(kernels.dctTypeEstimateIntra(combed.topLeft(), Macroblock::kStride), 1);
    EXPECT_EQ(kernels.dctTypeEstimateInter(flat.topLeft(), combed.topLeft(), Macroblock::kStride), 1);
}

TEST_P(FdctKernel, DctTypeMarginsForIntraAndPredicted) {
    const FdctKernels kernels = Kernels(GetParam());
    // Only sample (1, 0) differs, by d: the frame term |p(0, 0) - p(1, 0)| sees
    // it, no field term does (line 1 is sampled in the right half only), so the
    // frame sum is d and the field sum 0.
    for (int d : {30, 31}) {
        Macroblock mb;
        mb.at(1, 0) = static_cast<uint8_t>(d);
        EXPECT_EQ(kernels.dctTypeEstimateIntra(mb.topLeft(), Macroblock::kStride), d > 30 ? 1 : 0) << d;
    }
    // Predicted: p = (s - pr + 256) >> 1, so a source step of 2 d is a step of d.
    for (int d : {15, 16}) {
        Macroblock source, prediction;
        source.at(1, 0) = static_cast<uint8_t>(2 * d);
        EXPECT_EQ(kernels.dctTypeEstimateInter(prediction.topLeft(), source.topLeft(), Macroblock::kStride),
                  d > 15 ? 1 : 0)
            << d;
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndSimd, FdctKernel, ::testing::Bool());

// Blocks the pre-test and transform meet: noise, smooth gradients, and
// saturated extremes whose intermediate values are the largest possible.
Block ComparisonBlock(std::mt19937& random, int n) {
    Block block{};
    switch (n % 4) {
        case 0: return RandomBlock(random, -255, 255);
        case 1: return RandomBlock(random, -6, 6);
        case 2: {
            const int gx = int(random() % 61) - 30, gy = int(random() % 61) - 30, base = int(random() % 101) - 50;
            for (int y = 0; y < 8; ++y)
                for (int x = 0; x < 8; ++x) block[8 * y + x] = static_cast<int16_t>(base + gx * x + gy * y);
            return block;
        }
        default:
            for (auto& v : block) v = random() % 2 ? 255 : -255;
            return block;
    }
}

TEST(FdctKernels, SimdMatchesPlainOnRandomInput) {
    const FdctKernels plain = Kernels(false), simd = Kernels(true);
    std::mt19937 random(1141);
    for (int n = 0; n < 40000; ++n) {
        const Block input = ComparisonBlock(random, n);
        Block a = input, b = input;
        plain.fdct(a.data());
        simd.fdct(b.data());
        ASSERT_EQ(a, b) << "transform, block " << n;

        const int t = 1 + int(random() % 40);
        const int t1 = 131072 * t, t2 = (2896 * t) >> 10;
        ASSERT_EQ(plain.blockIsSignificant(input.data(), t1, t2), simd.blockIsSignificant(input.data(), t1, t2))
            << "pre-test, block " << n;
    }
    // The pre-test on arbitrary 16-bit values.
    for (int n = 0; n < 5000; ++n) {
        const Block input = RandomBlock(random, -32768, 32767);
        const int t1 = int(random() % (1 << 30)), t2 = int(random() % 100000);
        ASSERT_EQ(plain.blockIsSignificant(input.data(), t1, t2), simd.blockIsSignificant(input.data(), t1, t2));
    }
    // Blocks of every signed pattern of the extreme values: the transform must
    // saturate nowhere and agree.
    for (int pattern = 0; pattern < 64; ++pattern) {
        Block a{};
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                a[8 * y + x] = std::cos((2 * y + 1) * (pattern / 8) * M_PI / 16) *
                                           std::cos((2 * x + 1) * (pattern % 8) * M_PI / 16) >= 0
                                   ? 255
                                   : -256;
        Block b = a;
        plain.fdct(a.data());
        simd.fdct(b.data());
        ASSERT_EQ(a, b) << "pattern " << pattern;
    }

    // DCT-type decisions on macroblocks with line structure of every strength.
    for (int n = 0; n < 20000; ++n) {
        Macroblock source, prediction;
        const int comb = int(random() % 9), noise = 1 + int(random() % 24);
        for (int l = 0; l < 16; ++l)
            for (int c = 0; c < 16; ++c) {
                const int value = 128 + (l % 2 ? comb : -comb) + int(random() % noise) - noise / 2;
                source.at(l, c) = static_cast<uint8_t>(std::clamp(value, 0, 255));
                prediction.at(l, c) = static_cast<uint8_t>(n % 3 ? random() % 256 : source.at(l, c) ^ (random() % 8));
            }
        ASSERT_EQ(plain.dctTypeEstimateIntra(source.topLeft(), Macroblock::kStride),
                  simd.dctTypeEstimateIntra(source.topLeft(), Macroblock::kStride));
        ASSERT_EQ(plain.dctTypeEstimateInter(prediction.topLeft(), source.topLeft(), Macroblock::kStride),
                  simd.dctTypeEstimateInter(prediction.topLeft(), source.topLeft(), Macroblock::kStride));
    }
}

// The pre-test split into its threshold-free part and the comparison decides
// as the one-step test, also at thresholds right at the block's own levels.
TEST(FdctKernels, PretestInTwoStepsDecidesAsInOne) {
    const FdctKernels plain = Kernels(false), simd = Kernels(true);
    std::mt19937 random(2024);
    for (int n = 0; n < 20000; ++n) {
        const Block input = n % 5 == 4 ? RandomBlock(random, -32768, 32767) : ComparisonBlock(random, n);
        uint32_t levels[2], simdLevels[2];
        plain.pretestLevels(input.data(), levels);
        simd.pretestLevels(input.data(), simdLevels);
        ASSERT_EQ(levels[0], simdLevels[0]) << n;
        ASSERT_EQ(levels[1], simdLevels[1]) << n;
        const int t = 1 + int(random() % 40);
        std::vector<std::pair<int, int>> thresholds = {{131072 * t, (2896 * t) >> 10}, {0, 0}, {-1, 3}};
        for (int d = -1; d <= 1; ++d) {
            const auto near = [d](uint32_t level) {
                return static_cast<int>(std::clamp<int64_t>(int64_t{level} + d, 0, INT32_MAX));
            };
            thresholds.emplace_back(near(levels[1]), near(levels[0]));
            thresholds.emplace_back(near(levels[1]), int(random() % 100000));
            thresholds.emplace_back(int(random() % (1 << 30)), near(levels[0]));
        }
        for (const auto& [t1, t2] : thresholds)
            ASSERT_EQ(PretestLevelsAreSignificant(levels, t1, t2), plain.blockIsSignificant(input.data(), t1, t2))
                << "block " << n << " t1 " << t1 << " t2 " << t2;
    }
}

TEST(FdctKernels, TransposeSwapsRowsAndColumns) {
    Block block;
    for (int i = 0; i < 64; ++i) block[i] = static_cast<int16_t>(i);
    TransposeBlock8x8Sse2(block.data());
    for (int r = 0; r < 8; ++r)
        for (int c = 0; c < 8; ++c) ASSERT_EQ(block[8 * r + c], 8 * c + r);
}

}  // namespace
