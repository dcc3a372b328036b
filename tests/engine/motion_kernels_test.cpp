// The difference kernels: every SSE2 member against its plain twin on random
// input, and the plain members against the arithmetic they stand for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/MotionKernels.h"

namespace {

constexpr int kLine = 48;  // line length of the test planes
constexpr int kRows = 40;

struct Planes {
    std::vector<uint8_t> a, b, c;
};

// Random planes; some trials use extreme or near-equal contents, where
// rounding and early exits show.
Planes MakePlanes(std::mt19937& rng, int kind) {
    Planes p;
    for (auto* v : {&p.a, &p.b, &p.c}) {
        v->resize(kLine * kRows);
        for (auto& s : *v) {
            switch (kind) {
                case 0: s = uint8_t(rng()); break;
                case 1: s = (rng() & 1) ? 255 : 0; break;
                case 2: s = uint8_t(120 + rng() % 8); break;
                default: s = uint8_t(rng() % 2 ? 255 : 254); break;
            }
        }
    }
    return p;
}

int Limit(std::mt19937& rng) {
    switch (rng() % 4) {
        case 0: return MotionErrorLimit;
        case 1: return int(rng() % 70000);
        case 2: return int(rng() % 3000);
        default: return int(rng() % 400000);
    }
}

class MotionKernelsSimd : public ::testing::TestWithParam<bool> {};

TEST_P(MotionKernelsSimd, MembersMatchPlainMembers) {
    const bool avx2 = GetParam();
    if (avx2 && !ProcessorHasAvx2()) GTEST_SKIP() << "no AVX2";
    MotionKernelTable plain, simd;
    motion_kernels_init(false, plain, false);
    motion_kernels_init(true, simd, avx2);
    ASSERT_NE(plain.fullPelSad, simd.fullPelSad);

    std::mt19937 rng(7);
    int groupWins = 0;
    for (int trial = 0; trial < 4000; ++trial) {
        const Planes p = MakePlanes(rng, trial % 4);
        const int ox = rng() % (kLine - 17), oy = rng() % (kRows - 17);
        const int ox2 = rng() % (kLine - 17), oy2 = rng() % (kRows - 17);
        const uint8_t* a = p.a.data() + oy * kLine + ox;
        const uint8_t* b = p.b.data() + oy2 * kLine + ox2;
        const uint8_t* c = p.c.data() + oy2 * kLine + ox;
        const int limit = Limit(rng);
        const int hx = rng() & 1, hy = rng() & 1, hx2 = rng() & 1, hy2 = rng() & 1;
        SCOPED_TRACE(testing::Message() << "trial " << trial << " limit " << limit << " flags "
                                        << hx << hy << hx2 << hy2);

        EXPECT_EQ(plain.fullPelSad(a, b, kLine, limit), simd.fullPelSad(a, b, kLine, limit));
        EXPECT_EQ(plain.fullPelSadRowBudget(a, b, kLine, limit),
                  simd.fullPelSadRowBudget(a, b, kLine, limit));
        EXPECT_EQ(plain.halfPelSse(a, b, kLine, hx, hy, limit),
                  simd.halfPelSse(a, b, kLine, hx, hy, limit));
        EXPECT_EQ(plain.halfPelSseModes45(a, b, kLine, hx, hy, limit),
                  simd.halfPelSseModes45(a, b, kLine, hx, hy, limit));
        EXPECT_EQ(plain.interpolatedError(a, b, c, kLine, hx, hy, hx2, hy2, 16),
                  simd.interpolatedError(a, b, c, kLine, hx, hy, hx2, hy2, 16));

        uint32_t s1 = 0, s2 = 0, t1 = 1, t2 = 1;
        plain.blockSums(a, kLine, &s1, &s2);
        simd.blockSums(a, kLine, &t1, &t2);
        EXPECT_EQ(s1, t1);
        EXPECT_EQ(s2, t2);

        const int rows = 1 + rng() % 4, count = 1 + rng() % (kLine - 1);
        std::vector<uint8_t> hi1(count), lo1(count), hi2(count), lo2(count);
        plain.columnExtrema(a, kLine, rows, count, hi1.data(), lo1.data());
        simd.columnExtrema(a, kLine, rows, count, hi2.data(), lo2.data());
        EXPECT_EQ(hi1, hi2);
        EXPECT_EQ(lo1, lo2);

        // Windows around a sample value, so that some positions pass and some do not.
        uint8_t windows[6];
        for (int i = 0; i < 3; ++i) {
            const int centre = a[i], spread = rng() % 40;
            windows[2 * i] = uint8_t(std::max(0, centre - spread));
            windows[2 * i + 1] = uint8_t(std::min(255, centre + spread));
        }
        const int columns = 1 + rng() % 4;
        EXPECT_EQ(plain.groupFilter(a, b, c, kLine, rows, columns, windows),
                  simd.groupFilter(a, b, c, kLine, rows, columns, windows));

        // A group whose corner leaves the rows and bytes the kernels may read.
        const uint8_t* corner = p.a.data() + (rng() % (kRows - 19)) * kLine + rng() % (kLine - 23);
        const uint32_t positions = (trial & 1) ? 0xFFFF : uint32_t(rng() & 0xFFFF);
        // A bound near the sums of the group's candidates, so that some of them win.
        int bound = Limit(rng);
        if (trial & 2)
            bound = plain.fullPelSad(corner + (rng() % 4) * kLine + rng() % 4, b, kLine, MotionErrorLimit) +
                    int(rng() % 64) - 16;
        int plainBound = bound, simdBound = bound;
        const int plainBest = plain.groupSadRowBudget(corner, b, kLine, positions, &plainBound);
        EXPECT_EQ(plainBest, simd.groupSadRowBudget(corner, b, kLine, positions, &simdBound));
        EXPECT_EQ(plainBound, simdBound);
        groupWins += plainBest >= 0;
    }
    EXPECT_GT(groupWins, 400);
}

// The feature rows of whole planes, carried down row by row, on widths that
// leave every tail length and on contents up to the largest sums.
TEST_P(MotionKernelsSimd, FeatureRowsMatchPlainRows) {
    const bool avx2 = GetParam();
    if (avx2 && !ProcessorHasAvx2()) GTEST_SKIP() << "no AVX2";
    MotionKernelTable plain, simd;
    motion_kernels_init(false, plain, false);
    motion_kernels_init(true, simd, avx2);
    std::mt19937 rng(11);
    for (int width : {16, 32, 48, 64, 80, 96, 720}) {
        for (int kind = 0; kind < 4; ++kind) {
            const int height = 40;
            std::vector<uint8_t> source(size_t(width) * height);
            for (auto& s : source) s = kind == 0 ? uint8_t(rng()) : kind == 1 ? 255 : kind == 2 ? uint8_t(rng() & 1 ? 255 : 0) : 0;
            std::vector<uint16_t> sumsA(width, 0), sumsB;
            for (int r = 0; r < 16; ++r)
                for (int c = 0; c < width; ++c) sumsA[c] = uint16_t(sumsA[c] + source[r * width + c]);
            sumsB = sumsA;
            const int positions = width - 15;
            for (int y = 0; y + 16 <= height; ++y) {
                std::vector<uint8_t> a(3 * positions, 0xCC), b(3 * positions, 0x33);
                plain.featureRow(source.data(), width, y, sumsA.data(), a.data(), a.data() + positions,
                                 a.data() + 2 * positions);
                simd.featureRow(source.data(), width, y, sumsB.data(), b.data(), b.data() + positions,
                                b.data() + 2 * positions);
                ASSERT_EQ(a, b) << "width " << width << " kind " << kind << " row " << y;
                ASSERT_EQ(sumsA, sumsB);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Levels, MotionKernelsSimd, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Avx2" : "Sse2"; });

// Fills a 16x16 block pair so that row r differs by rowSad[r] in its first sample.
void RowDifferences(std::vector<uint8_t>& cand, std::vector<uint8_t>& cur, const int* rowSad) {
    cand.assign(16 * 16, 100);
    cur.assign(16 * 16, 100);
    for (int r = 0; r < 16; ++r) cand[r * 16] = uint8_t(100 + rowSad[r]);
}

TEST(MotionKernels, FullSampleKernelsStopAsSpecified) {
    for (int level : {0, 1, 2}) {
        if (level == 2 && !ProcessorHasAvx2()) continue;
        MotionKernelTable k;
        motion_kernels_init(level > 0, k, level == 2);
        std::vector<uint8_t> cand, cur;

        // Row budget with limit 100: u = 6, the budget after row k is 6 (k + 1).
        const int justUnder[16] = {11, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5};
        RowDifferences(cand, cur, justUnder);
        EXPECT_EQ(k.fullPelSadRowBudget(cand.data(), cur.data(), 16, 100), 86);
        const int firstRowReaches[16] = {12};
        RowDifferences(cand, cur, firstRowReaches);
        EXPECT_EQ(k.fullPelSadRowBudget(cand.data(), cur.data(), 16, 100), 101);
        const int secondRowReaches[16] = {11, 7};
        RowDifferences(cand, cur, secondRowReaches);
        EXPECT_EQ(k.fullPelSadRowBudget(cand.data(), cur.data(), 16, 100), 101);
        const int lastRowReaches[16] = {6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 12};
        RowDifferences(cand, cur, lastRowReaches);
        EXPECT_EQ(k.fullPelSadRowBudget(cand.data(), cur.data(), 16, 100), 101);

        // Early exit returns the running sum of the row that reached the limit.
        const int rows[16] = {30, 30, 30, 30, 30};
        RowDifferences(cand, cur, rows);
        EXPECT_EQ(k.fullPelSad(cand.data(), cur.data(), 16, 100), 120);
        EXPECT_EQ(k.fullPelSad(cand.data(), cur.data(), 16, 150), 150);
        EXPECT_EQ(k.fullPelSad(cand.data(), cur.data(), 16, 151), 150);
    }
}

TEST(MotionKernels, HalfSampleRoundingsAndInterpolation) {
    std::mt19937 rng(11);
    for (int level : {0, 1, 2}) {
        if (level == 2 && !ProcessorHasAvx2()) continue;
        MotionKernelTable k;
        motion_kernels_init(level > 0, k, level == 2);
        // Two odd samples: halving each loses one level that the word average keeps.
        std::vector<uint8_t> ref(kLine * kRows, 201), cur(kLine * kRows, 201);
        EXPECT_EQ(k.halfPelSse(ref.data(), cur.data(), kLine, 1, 0, MotionErrorLimit), 256);
        EXPECT_EQ(k.halfPelSse(ref.data(), cur.data(), kLine, 0, 0, MotionErrorLimit), 0);
        EXPECT_EQ(k.halfPelSseModes45(ref.data(), cur.data(), kLine, 1, 1, MotionErrorLimit), 0);
        // Four 201s: 200 by byte halving, 201 by the word average.
        cur.assign(cur.size(), 200);
        EXPECT_EQ(k.halfPelSse(ref.data(), cur.data(), kLine, 1, 1, MotionErrorLimit), 0);
        EXPECT_EQ(k.halfPelSseModes45(ref.data(), cur.data(), kLine, 1, 1, MotionErrorLimit), 256);
        // The early exit returns the sum of the row that reached the limit.
        std::vector<uint8_t> zero(kLine * kRows, 0), full(kLine * kRows, 255);
        EXPECT_EQ(k.halfPelSse(zero.data(), full.data(), kLine, 0, 0, 1), 255 * 255 * 16);
        EXPECT_EQ(k.halfPelSse(zero.data(), full.data(), kLine, 1, 1, MotionErrorLimit),
                  MotionErrorLimit);

        // Interpolated: (forward + backward) >> 1 of the two word-average predictions.
        std::vector<uint8_t> fwd(kLine * kRows), bwd(kLine * kRows), blk(kLine * kRows);
        for (auto& s : fwd) s = uint8_t(rng());
        for (auto& s : bwd) s = uint8_t(rng());
        for (auto& s : blk) s = uint8_t(rng());
        int expected = 0;
        for (int y = 0; y < 16; ++y) {
            for (int x = 0; x < 16; ++x) {
                int f = (fwd[y * kLine + x] + fwd[y * kLine + x + 1]) >> 1;
                int b = (bwd[y * kLine + x] + bwd[y * kLine + x + 1] + bwd[(y + 1) * kLine + x] +
                         bwd[(y + 1) * kLine + x + 1]) >> 2;
                int e = ((f + b) >> 1) - blk[y * kLine + x];
                expected += e * e;
            }
        }
        EXPECT_EQ(k.interpolatedError(fwd.data(), bwd.data(), blk.data(), kLine, 1, 0, 1, 1, 16),
                  expected);
    }
}

TEST(MotionKernels, IntraVarianceOfBrightBlocksStaysExact) {
    for (bool simd : {false, true}) {
        MotionKernelTable k;
        motion_kernels_init(simd, k, false);
        std::vector<uint8_t> white(16 * 16, 255);
        uint32_t s1 = 0, s2 = 0;
        k.blockSums(white.data(), 16, &s1, &s2);
        // S1 x S1 passes the signed 32-bit range here.
        EXPECT_EQ(s1, 65280u);
        EXPECT_EQ(IntraVarianceFromSums(s1, s2), 0);

        std::vector<uint8_t> stripes(16 * 16);
        for (int i = 0; i < 256; ++i) stripes[i] = (i & 1) ? 255 : 0;
        k.blockSums(stripes.data(), 16, &s1, &s2);
        // S2 = 128 x 65025, S1 = 32640: 8323200 - ((32640^2 + 128) >> 8) = 4161600.
        EXPECT_EQ(IntraVarianceFromSums(s1, s2), 4161600);
    }
}

}  // namespace
