// The feature tables and the block-matching search of one macroblock: table
// contents, ring coverage, stop and tie rules, and the half-sample candidates
// at the picture edges.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <utility>

#include "motion_test_support.h"

namespace {

using motiontest::Plane;

// Features of the block at (x, y) computed the long way.
struct Features {
    int horizontal, mean, vertical;
};
Features BlockFeatures(const Plane& p, int x, int y) {
    int sum = 0, c0 = 0, c15 = 0, r0 = 0, r15 = 0;
    for (int j = 0; j < 16; ++j) {
        for (int i = 0; i < 16; ++i) sum += p.at(x + i, y + j);
        c0 += p.at(x, y + j);
        c15 += p.at(x + 15, y + j);
        r0 += p.at(x + j, y);
        r15 += p.at(x + j, y + 15);
    }
    return {(c15 - c0 + 4224) >> 8, (sum + 128) >> 8, (r15 - r0 + 4224) >> 8};
}

TEST(MotionSearch, TablesHoldEveryPositionsFeaturesAndGroupBounds) {
    const int w = 80, h = 64;  // the last group row holds a single row of positions
    const Plane src = motiontest::RandomPlane(w, h, 3);
    const MotionTableGeometry g = MakeMotionTableGeometry(w, h);
    EXPECT_EQ(g.totalBytes, size_t(3 * (h - 15) * (w - 8) + ((h >> 2) - 3) * (w - 12)));
    // Split into bands (one to more bands than group rows), the tables stay the same.
    for (const auto& [simd, helpers] : {std::pair{false, 0}, std::pair{true, 0}, std::pair{true, 4}, std::pair{false, 15}}) {
        SCOPED_TRACE(testing::Message() << "simd " << simd << " helpers " << helpers);
        MotionKernelTable k;
        motion_kernels_init(simd, k);
        std::vector<uint8_t> tables(g.totalBytes, 0xCC);
        CalcMotionSearchTables(src.data(), tables.data(), g, k, helpers);
        for (int y = 0; y <= h - 16; ++y) {
            for (int x = 0; x <= w - 16; ++x) {
                const Features f = BlockFeatures(src, x, y);
                const size_t at = size_t(y) * g.featureStride + x;
                ASSERT_EQ(tables[g.horizontalOffset + at], f.horizontal) << x << "," << y;
                ASSERT_EQ(tables[g.meanOffset + at], f.mean) << x << "," << y;
                ASSERT_EQ(tables[g.verticalOffset + at], f.vertical) << x << "," << y;
            }
        }
        for (int gy = 0; gy * 4 <= h - 16; ++gy) {
            for (int gx = 0; gx * 4 <= w - 16; ++gx) {
                int hiM = 0, loM = 255, hiV = 0, loV = 255;
                for (int y = gy * 4; y < gy * 4 + 4 && y <= h - 16; ++y) {
                    for (int x = gx * 4; x < gx * 4 + 4 && x <= w - 16; ++x) {
                        const Features f = BlockFeatures(src, x, y);
                        hiM = std::max(hiM, f.mean);
                        loM = std::min(loM, f.mean);
                        hiV = std::max(hiV, f.vertical);
                        loV = std::min(loV, f.vertical);
                    }
                }
                const uint8_t* e = tables.data() + g.groupOffset + gy * g.groupStride + gx * 4;
                ASSERT_EQ(e[0], hiM);
                ASSERT_EQ(e[1], loM);
                ASSERT_EQ(e[2], hiV);
                ASSERT_EQ(e[3], loV);
            }
        }
    }
}

// Stand-in kernels that record what the search asks for and answer from a script.
struct Probe {
    const uint8_t* sourceBase = nullptr;
    const uint8_t* reconBase = nullptr;
    int width = 0;
    std::vector<std::pair<int, int>> fullCalls;          // positions
    std::vector<std::pair<int, int>> halfCalls;          // half-sample candidates
    std::map<std::pair<int, int>, int> fullAnswers;      // default: fullDefault
    std::map<std::pair<int, int>, int> halfAnswers;      // default: halfDefault
    int fullDefault = 50000, halfDefault = 50000;
};
Probe* g_probe = nullptr;

int ProbeFull(const uint8_t* candidate, const uint8_t*, int, int) {
    const long offset = candidate - g_probe->sourceBase;
    const std::pair<int, int> pos{int(offset % g_probe->width), int(offset / g_probe->width)};
    g_probe->fullCalls.push_back(pos);
    auto it = g_probe->fullAnswers.find(pos);
    return it == g_probe->fullAnswers.end() ? g_probe->fullDefault : it->second;
}

int ProbeHalf(const uint8_t* corner, const uint8_t*, int, int hx, int hy, int) {
    const long offset = corner - g_probe->reconBase;
    const std::pair<int, int> pos{2 * int(offset % g_probe->width) + hx,
                                  2 * int(offset / g_probe->width) + hy};
    g_probe->halfCalls.push_back(pos);
    auto it = g_probe->halfAnswers.find(pos);
    return it == g_probe->halfAnswers.end() ? g_probe->halfDefault : it->second;
}

// A flat picture: every position passes every feature window.
class ProbedSearch : public testing::Test {
protected:
    static constexpr int W = 96, H = 80;
    Plane flat{W, H};
    std::vector<uint8_t> tables;
    Probe probe;
    uint8_t windows[6] = {};

    void SetUp() override {
        std::fill(flat.samples.begin(), flat.samples.end(), 90);
        ASSERT_GT(motiontest::SetUpMotion(5, false, W, H), 0);
        tables.assign(MeTableGeometry.totalBytes, 0);
        CalcMotionSearchTables(flat.data(), tables.data());
        MotionState.MeSearchPoints = 1 << 30;
        MotionState.MeThresholdScaled = 0;
        MotionState.SearchStage = 0;
        probe.sourceBase = flat.data();
        probe.reconBase = flat.data();
        probe.width = W;
        g_probe = &probe;
        FullPelSadKernel = ProbeFull;
        HalfPelMatchKernel = ProbeHalf;
    }
    void TearDown() override { g_probe = nullptr; }

    int Search(int x, int y, int rx, int ry, int* bx, int* by, int flags = 2, int* zero = nullptr) {
        return MotionSearchMacroblock(flat.data(), flat.data(), flat.data() + y * W + x, x, y, rx, ry,
                                      bx, by, zero, tables.data(), flags, windows,
                                      CurrentSearchWords());
    }
};

TEST_F(ProbedSearch, RingsVisitEveryPositionOfTheWindowOnce) {
    struct Case {
        int x, y, rx, ry;
    };
    // Inside, at the corners, and with unequal ranges (rings beyond the
    // shorter range keep only the sides along the longer one).
    for (const Case c : {Case{32, 32, 8, 8}, Case{48, 32, 8, 16}, Case{48, 32, 16, 8},
                         Case{0, 0, 16, 16}, Case{80, 64, 16, 16}, Case{32, 16, 24, 8},
                         Case{16, 48, 8, 24}}) {
        SCOPED_TRACE(testing::Message() << c.x << "," << c.y << " range " << c.rx << "x" << c.ry);
        probe.fullCalls.clear();
        int bx = 0, by = 0;
        Search(c.x, c.y, c.rx, c.ry, &bx, &by);
        ASSERT_FALSE(probe.fullCalls.empty());
        EXPECT_EQ(probe.fullCalls.front(), std::make_pair(c.x, c.y));  // the zero vector first
        std::multiset<std::pair<int, int>> visited(probe.fullCalls.begin() + 1, probe.fullCalls.end());
        std::multiset<std::pair<int, int>> expected;
        for (int y = std::max(0, c.y - c.ry); y <= std::min(H - 16, c.y + c.ry - 1); ++y)
            for (int x = std::max(0, c.x - c.rx); x <= std::min(W - 16, c.x + c.rx - 1); ++x)
                expected.insert({x, y});
        EXPECT_EQ(visited, expected);
    }
}

TEST_F(ProbedSearch, StopRulesAndTies) {
    int bx = 0, by = 0;
    // A candidate equal to the bound does not replace the zero vector; one below does.
    probe.fullAnswers[{32, 32}] = 1000;
    probe.fullAnswers[{28, 30}] = 1000;
    probe.fullDefault = 5000;
    Search(32, 32, 8, 8, &bx, &by);
    EXPECT_EQ(probe.halfCalls.size(), 9u);  // all nine around (64, 64) in mode 5
    EXPECT_EQ(probe.halfCalls.front(), std::make_pair(63, 63));
    probe.fullAnswers[{28, 30}] = 999;
    probe.halfCalls.clear();
    Search(32, 32, 8, 8, &bx, &by);
    EXPECT_EQ(probe.halfCalls.front(), std::make_pair(55, 59));

    // The threshold ends the search after the first ring that reaches it.
    MotionState.MeThresholdScaled = 999;
    probe.fullCalls.clear();
    Search(32, 32, 16, 16, &bx, &by);
    EXPECT_EQ(probe.fullCalls.size(), 1u + 64u);
    // So does the number of evaluations, counted over whole rings.
    MotionState.MeThresholdScaled = 0;
    MotionState.MeSearchPoints = 65;
    probe.fullCalls.clear();
    Search(32, 32, 16, 16, &bx, &by);
    EXPECT_EQ(probe.fullCalls.size(), 1u + 64u + 192u);
}

TEST_F(ProbedSearch, RepeatedFrameSkipsTheFullSampleStage) {
    int bx = 0, by = 0, zero = 0;
    probe.halfAnswers[{64, 64}] = 700;
    probe.halfAnswers[{65, 64}] = 300;
    const int e = Search(32, 32, 16, 16, &bx, &by, 3, &zero);
    EXPECT_TRUE(probe.fullCalls.empty());
    EXPECT_EQ(zero, 700);
    EXPECT_EQ(e, 300);
    EXPECT_EQ(bx, 65);
    EXPECT_EQ(by, 64);
}

TEST_F(ProbedSearch, HalfSampleCandidatesStayInsideThePicture) {
    int bx = 0, by = 0;
    auto candidates = [&] { return std::set<std::pair<int, int>>(probe.halfCalls.begin(), probe.halfCalls.end()); };
    using S = std::set<std::pair<int, int>>;
    // Top-left corner, best at the corner: nothing at -1 on either axis.
    Search(0, 0, 16, 16, &bx, &by, 3);
    EXPECT_EQ(candidates(), (S{{0, 0}, {1, 0}, {0, 1}, {1, 1}}));
    // Best at the bottom-right corner of the picture: nothing at +1.
    probe.halfCalls.clear();
    Search(W - 16, H - 16, 16, 16, &bx, &by, 3);
    const int u = 2 * (W - 16), v = 2 * (H - 16);
    EXPECT_EQ(candidates(), (S{{u - 1, v - 1}, {u, v - 1}, {u - 1, v}, {u, v}}));
    // Best at the right end of a search range that stops short of the edge:
    // +1 is still taken, the picture has the samples.
    probe.halfCalls.clear();
    probe.fullAnswers[{39, 32}] = 10;
    Search(32, 32, 8, 8, &bx, &by);
    EXPECT_EQ(candidates().count({79, 64}), 1u);
    EXPECT_EQ(candidates().count({77, 64}), 1u);
    // ... but not past the left end of the range.
    probe.halfCalls.clear();
    probe.fullAnswers.clear();
    probe.fullAnswers[{24, 32}] = 10;
    Search(32, 32, 8, 8, &bx, &by);
    EXPECT_EQ(candidates().count({47, 64}), 0u);
    EXPECT_EQ(candidates().count({49, 64}), 1u);
}

TEST_F(ProbedSearch, LowModesRefineWithTheCrossAndOneDiagonal) {
    ASSERT_GT(motiontest::SetUpMotion(2, false, W, H), 0);
    FullPelSadKernel = ProbeFull;
    HalfPelMatchKernel = ProbeHalf;
    int bx = 0, by = 0;
    probe.halfAnswers = {{{64, 63}, 500}, {{64, 65}, 400}, {{63, 64}, 450}, {{65, 64}, 460},
                         {{64, 64}, 420}, {{65, 65}, 300}, {{63, 65}, 100}};
    const int e = Search(32, 32, 8, 8, &bx, &by, 3);
    const std::vector<std::pair<int, int>> order{{64, 63}, {64, 65}, {63, 64}, {65, 64}, {64, 64}, {63, 65}};
    EXPECT_EQ(probe.halfCalls, order);  // left was lower than right, down lower than up
    EXPECT_EQ(e, 100);
    EXPECT_EQ(bx, 63);
    EXPECT_EQ(by, 65);

    // When every candidate costs the same, the first one evaluated stays.
    probe.halfCalls.clear();
    probe.halfAnswers.clear();
    probe.halfDefault = MotionErrorLimit;
    Search(32, 32, 8, 8, &bx, &by, 3);
    EXPECT_EQ(bx, 64);
    EXPECT_EQ(by, 63);
}

}  // namespace
