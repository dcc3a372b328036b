// Inverse DCT: the accuracy procedure of IEEE 1180, worked examples, and the
// plain and SIMD kernels against each other.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "engine/Idct.h"
#include "engine/MotionKernels.h"
#include "transform_util.h"

using namespace transform_test;

namespace {

// The random source that the accuracy procedure prescribes (a 32-bit linear
// congruential generator), giving values in [-low, high].
class Ieee1180Random {
public:
    int Next(int low, int high) {
        state_ = state_ * 1103515245u + 12345u;
        const uint32_t kept = state_ & 0x7ffffffeu;
        const double x = static_cast<double>(kept) / static_cast<double>(0x7fffffff) * (low + high + 1);
        return static_cast<int>(x) - low;
    }

private:
    uint32_t state_ = 1;
};

struct AccuracyResult {
    int peakError = 0;
    double worstPixelMeanSquare = 0, overallMeanSquare = 0;
    double worstPixelMean = 0, overallMean = 0;
};

AccuracyResult MeasureAccuracy(void (*idct)(int16_t*), int low, int high, int sign) {
    constexpr int kBlocks = 10000;
    Ieee1180Random random;
    std::array<double, 64> sumError{}, sumSquare{};
    int peak = 0;
    for (int n = 0; n < kBlocks; ++n) {
        DoubleBlock samples{};
        for (auto& s : samples) s = sign * random.Next(low, high);
        const DoubleBlock exact = ReferenceForwardDct(samples);
        Block coefficients{};
        DoubleBlock rounded{};
        for (int i = 0; i < 64; ++i) {
            rounded[i] = std::clamp(std::floor(exact[i] + 0.5), -2048.0, 2047.0);
            coefficients[i] = static_cast<int16_t>(rounded[i]);
        }
        const DoubleBlock reference = ReferenceInverseDct(rounded);
        idct(coefficients.data());
        for (int i = 0; i < 64; ++i) {
            const int expected = static_cast<int>(std::clamp(std::floor(reference[i] + 0.5), -256.0, 255.0));
            const int error = coefficients[i] - expected;
            peak = std::max(peak, std::abs(error));
            sumError[i] += error;
            sumSquare[i] += double(error) * error;
        }
    }
    AccuracyResult result;
    result.peakError = peak;
    double totalError = 0, totalSquare = 0;
    for (int i = 0; i < 64; ++i) {
        result.worstPixelMeanSquare = std::max(result.worstPixelMeanSquare, sumSquare[i] / kBlocks);
        result.worstPixelMean = std::max(result.worstPixelMean, std::fabs(sumError[i] / kBlocks));
        totalError += sumError[i];
        totalSquare += sumSquare[i];
    }
    result.overallMeanSquare = totalSquare / (64.0 * kBlocks);
    result.overallMean = std::fabs(totalError / (64.0 * kBlocks));
    return result;
}

struct AccuracyCase {
    int low, high, sign;
};

class IdctAccuracy : public ::testing::TestWithParam<AccuracyCase> {};

TEST_P(IdctAccuracy, MeetsIeee1180Limits) {
    const AccuracyCase c = GetParam();
    IdctKernels kernels;
    idct_init(false, kernels);
    const AccuracyResult r = MeasureAccuracy(kernels.idct[0], c.low, c.high, c.sign);
    EXPECT_LE(r.peakError, 1);
    EXPECT_LE(r.worstPixelMeanSquare, 0.06);
    EXPECT_LE(r.overallMeanSquare, 0.02);
    EXPECT_LE(r.worstPixelMean, 0.015);
    EXPECT_LE(r.overallMean, 0.0015);
}

INSTANTIATE_TEST_SUITE_P(Ranges, IdctAccuracy,
                         ::testing::Values(AccuracyCase{256, 255, 1}, AccuracyCase{256, 255, -1},
                                           AccuracyCase{5, 5, 1}, AccuracyCase{5, 5, -1},
                                           AccuracyCase{300, 300, 1}, AccuracyCase{300, 300, -1}));

// Every kernel of the table, plain or SIMD, for the cases with known results.
class IdctKernel : public ::testing::TestWithParam<std::tuple<bool, int>> {
protected:
    void Run(Block& block) {
        IdctKernels kernels;
        idct_init(std::get<0>(GetParam()), kernels);
        kernels.idct[std::get<1>(GetParam())](block.data());
    }
};

TEST_P(IdctKernel, DcOnlyBlocksAreFlatAndClamped) {
    const std::pair<int, int> cases[] = {{64, 8}, {0, 0}, {-2048, -256}, {2047, 255}, {-8, -1}};
    for (auto [dc, expected] : cases) {
        Block block{};
        block[0] = static_cast<int16_t>(dc);
        Run(block);
        for (int16_t v : block) ASSERT_EQ(v, expected) << "dc " << dc;
    }
}

TEST_P(IdctKernel, FirstFrequenciesGiveTheCosineRamp) {
    const int ramp[8] = {17, 15, 10, 3, -3, -10, -15, -17};
    for (int at : {1, 8}) {  // horizontal, then vertical frequency 1
        Block block{};
        block[at] = 100;
        Run(block);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) ASSERT_EQ(block[8 * y + x], ramp[at == 1 ? x : y]) << y << "," << x;
    }
}

TEST_P(IdctKernel, AllZeroInputGivesZeros) {
    Block block{};
    Run(block);
    for (int16_t v : block) ASSERT_EQ(v, 0);
}

INSTANTIATE_TEST_SUITE_P(PlainAndSimd, IdctKernel,
                         ::testing::Combine(::testing::Bool(), ::testing::Values(0, 1)));

// Coefficient blocks of the kinds reconstruction meets: dense, sparse (rows or
// row pairs of zeros, which the kernels may shortcut) and extreme values whose
// first pass leaves 16 bits.
Block SimdComparisonBlock(std::mt19937& random, int n) {
    switch (n % 5) {
        case 0: return RandomBlock(random, -2048, 2047);
        case 1: return RandomBlock(random, -300, 300);
        case 2: {
            Block block = RandomBlock(random, -2048, 2047);
            const int keepRows = std::uniform_int_distribution<int>(0, 255)(random);
            for (int r = 0; r < 8; ++r)
                if (!(keepRows >> r & 1)) std::fill(block.begin() + 8 * r, block.begin() + 8 * r + 8, 0);
            for (int i = 0; i < 64; ++i)
                if (i % 8 != 0 && random() % 3 == 0) block[i] = 0;
            return block;
        }
        case 3: {
            Block block{};
            const int16_t extreme = random() % 2 ? 32767 : -32768;
            for (auto& v : block) v = (random() % 2) ? extreme : static_cast<int16_t>(-extreme - 1);
            return block;
        }
        default: return RandomBlock(random, -32768, 32767);
    }
}

TEST(IdctKernels, SimdMatchesPlainOnRandomBlocks) {
    for (bool avx2 : {false, true}) {
        if (avx2 && !ProcessorHasAvx2()) continue;
        IdctKernels plain, simd;
        idct_init(false, plain);
        idct_init(true, simd, avx2);
        std::mt19937 random(1180);
        for (int slot = 0; slot < 2; ++slot) {
            for (int n = 0; n < 20000; ++n) {
                const Block input = SimdComparisonBlock(random, n);
                Block a = input, b = input;
                plain.idct[slot](a.data());
                simd.idct[slot](b.data());
                ASSERT_EQ(a, b) << "avx2 " << avx2 << " slot " << slot << " block " << n;
                for (int16_t v : a) ASSERT_TRUE(v >= -256 && v <= 255);
            }
        }
    }
}

}  // namespace
