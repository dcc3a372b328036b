// Field blending and the edge-directed interpolator: averaging, sharpness on
// edges, kernel twins and staying inside the frame.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "engine/Deinterlace.h"
#include "engine/EngineState.h"
#include "settings/EncoderSettings.h"

namespace {

struct Bitmap {
    int width, height;
    size_t line;
    std::vector<uint8_t> bytes;  // exactly the frame: the sanitizer sees any stray access
    Bitmap(int w, int h) : width(w), height(h), line(BitmapRowBytes(w)), bytes(line * h) {}
    uint8_t* Row(int r) { return bytes.data() + r * line; }
    void SetPixel(int x, int r, int v) { Row(r)[3 * x] = Row(r)[3 * x + 1] = Row(r)[3 * x + 2] = uint8_t(v); }
    int Pixel(int x, int r, int c = 1) { return Row(r)[3 * x + c]; }
};

// A white area left of a line that moves `slope` pixels right per row.
Bitmap DiagonalEdge(int w, int h, int start, int slope) {
    Bitmap b(w, h);
    for (int r = 0; r < h; ++r)
        for (int x = 0; x < w; ++x) b.SetPixel(x, r, x < start + slope * r ? 235 : 20);
    return b;
}

int IntermediatePixels(Bitmap& b) {
    int count = 0;
    for (int r = 1; r < b.height - 1; r += 2)
        for (int x = 0; x < b.width; ++x)
            if (b.Pixel(x, r) > 60 && b.Pixel(x, r) < 195) ++count;
    return count;
}

long ErrorAgainst(Bitmap& got, Bitmap& truth, int firstRow, int lastRow) {
    long sum = 0;
    for (int r = firstRow; r <= lastRow; r += 2)
        for (int x = 0; x < got.width; ++x) sum += std::abs(got.Pixel(x, r) - truth.Pixel(x, r));
    return sum;
}

class SimdLevels : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { deinterlace_init(GetParam() != 0, DeinterlaceKernelSet); }
    void TearDown() override { deinterlace_init(false, DeinterlaceKernelSet); }
};

}  // namespace

TEST_P(SimdLevels, PlainBlendingAveragesTheKeptField) {
    // One field white, the other black: the black field is rebuilt from the white one.
    Bitmap b(37, 10);
    for (int r = 0; r < b.height; ++r)
        for (int x = 0; x < b.width; ++x) b.SetPixel(x, r, r % 2 == 0 ? 255 : 0);
    BlendFieldRows(b.bytes.data(), b.width, b.height, b.line, false);
    for (int r = 0; r < b.height; ++r) EXPECT_EQ(b.Pixel(36, r), 255) << r;

    // Distinct kept rows: the rebuilt rows are their rounded means, the last
    // row repeats the one below it, and the row padding is left alone.
    Bitmap g(37, 8);
    for (int r = 0; r < g.height; ++r) {
        for (int x = 0; x < g.width; ++x) g.SetPixel(x, r, r % 2 == 0 ? 10 * r + x : 0);
        for (size_t p = 3 * g.width; p < g.line; ++p) g.Row(r)[p] = 0xAB;
    }
    BlendFieldRows(g.bytes.data(), g.width, g.height, g.line, false);
    for (int x = 0; x < g.width; ++x) {
        EXPECT_EQ(g.Pixel(x, 1), (x + 20 + x + 1) >> 1);
        EXPECT_EQ(g.Pixel(x, 5), (40 + x + 60 + x + 1) >> 1);
        EXPECT_EQ(g.Pixel(x, 7), g.Pixel(x, 6));
    }
    for (int r = 0; r < g.height; ++r) EXPECT_EQ(g.Row(r)[g.line - 1], 0xAB);
}

TEST_P(SimdLevels, EdgeAdaptiveBlendingKeepsADiagonalSharp) {
    Bitmap plain = DiagonalEdge(64, 40, 10, 1);
    Bitmap adaptive = plain;
    Bitmap truth = plain;
    BlendFieldRows(plain.bytes.data(), plain.width, plain.height, plain.line, false);
    BlendFieldRows(adaptive.bytes.data(), adaptive.width, adaptive.height, adaptive.line, true);
    const int soft = IntermediatePixels(plain), sharp = IntermediatePixels(adaptive);
    EXPECT_GE(soft, 19 * 2);  // two half-way pixels on every rebuilt row
    EXPECT_EQ(sharp, 0);
    // Sharper, and not further from the progressive picture it came from.
    EXPECT_LE(ErrorAgainst(adaptive, truth, 1, 37), ErrorAgainst(plain, truth, 1, 37));
    // Away from the edge both blends agree.
    for (int r = 1; r < 39; r += 2) EXPECT_EQ(adaptive.Pixel(60, r), plain.Pixel(60, r));
}

TEST_P(SimdLevels, EdgeDirectedInterpolationFollowsAShallowEdge) {
    // An edge that moves 6 pixels per row: line blending smears it over 12.
    Bitmap truth = DiagonalEdge(160, 24, 30, 3);
    Bitmap blended = truth;
    BlendFieldRows(blended.bytes.data(), blended.width, blended.height, blended.line, false);
    Bitmap refined = blended;
    EdgeDirectedDeinterlace(refined.bytes.data(), refined.width, refined.height);
    const long before = ErrorAgainst(blended, truth, 3, 17), after = ErrorAgainst(refined, truth, 3, 17);
    EXPECT_LT(after * 3, before) << before << " " << after;
    // Kept rows and the first rebuilt row are never written.
    for (int x = 0; x < truth.width; ++x) {
        EXPECT_EQ(refined.Pixel(x, 0), truth.Pixel(x, 0));
        EXPECT_EQ(refined.Pixel(x, 4), truth.Pixel(x, 4));
        EXPECT_EQ(refined.Pixel(x, 1), blended.Pixel(x, 1));
    }
}

TEST_P(SimdLevels, EdgeDirectedInterpolationLeavesFlatAndTinyPicturesAlone) {
    Bitmap flat(200, 30);
    for (int r = 0; r < flat.height; ++r)
        for (int x = 0; x < flat.width; ++x) flat.SetPixel(x, r, 90 + (x % 3));
    Bitmap copy = flat;
    EdgeDirectedDeinterlace(flat.bytes.data(), flat.width, flat.height);
    EXPECT_EQ(flat.bytes, copy.bytes);

    // Too small to search: nothing is read or written (exact-size buffers).
    for (auto [w, h] : {std::pair{20, 40}, std::pair{200, 6}, std::pair{41, 7}}) {
        std::mt19937 rng(w * h);
        Bitmap small(w, h);
        for (auto& v : small.bytes) v = uint8_t(rng());
        Bitmap before = small;
        EdgeDirectedDeinterlace(small.bytes.data(), w, h);
        if (w < 41 || h < 7) {
            EXPECT_EQ(small.bytes, before.bytes);
        }
    }
}

TEST_P(SimdLevels, RandomFramesStayInsideTheirRows) {
    // Odd widths leave row padding; the blends and the search must not write it.
    std::mt19937 rng(3);
    for (int w : {41, 97, 350}) {
        Bitmap b(w, 27);
        for (auto& v : b.bytes) v = uint8_t(rng() & 1 ? 250 : rng());
        for (int r = 0; r < b.height; ++r)
            for (size_t p = 3 * w; p < b.line; ++p) b.Row(r)[p] = 0x5A;
        BlendFieldRows(b.bytes.data(), w, b.height, b.line, true);
        EdgeDirectedDeinterlace(b.bytes.data(), w, b.height);
        for (int r = 0; r < b.height; ++r)
            for (size_t p = 3 * w; p < b.line; ++p) EXPECT_EQ(b.Row(r)[p], 0x5A);
    }
}

INSTANTIATE_TEST_SUITE_P(PlainAndSimd, SimdLevels, ::testing::Values(0, 1));

TEST(DeinterlaceKernels, Sse2MatchesPlain) {
    DeinterlaceKernels plain, simd;
    deinterlace_init(false, plain);
    deinterlace_init(true, simd);
    std::mt19937 rng(11);
    std::vector<uint8_t> a(200), b(200), outPlain(200), outSimd(200);
    for (int round = 0; round < 200; ++round) {
        for (auto& v : a) v = uint8_t(rng());
        for (auto& v : b) v = uint8_t(round % 4 == 0 ? 255 - (rng() & 3) : rng());
        EXPECT_EQ(simd.weightedLineSad(a.data() + 30, b.data() + 40), plain.weightedLineSad(a.data() + 30, b.data() + 40));
        const int count = round % 70;
        plain.averageRows(outPlain.data(), a.data(), b.data(), count + 100);
        simd.averageRows(outSimd.data(), a.data(), b.data(), count + 100);
        EXPECT_EQ(outPlain, outSimd);
    }
    // The middle 24 bytes count twice.
    std::vector<uint8_t> z(100, 0), one(100, 0);
    for (int j = -24; j < 48; ++j) one[40 + j] = 1;
    EXPECT_EQ(WeightedLineSad(z.data() + 40, one.data() + 40), 24 + 48 + 24);
}

TEST(EdgeDirected, RunsOnSeveralThreadsAtOnce) {
    // The input path and the frame reader's worker may refine frames together.
    Bitmap expected = DiagonalEdge(160, 40, 30, 3);
    BlendFieldRows(expected.bytes.data(), expected.width, expected.height, expected.line, false);
    std::vector<Bitmap> frames(4, expected);
    EdgeDirectedDeinterlace(expected.bytes.data(), expected.width, expected.height);
    std::vector<std::thread> threads;
    for (auto& f : frames) threads.emplace_back([&f] { EdgeDirectedDeinterlace(f.bytes.data(), f.width, f.height); });
    for (auto& t : threads) t.join();
    for (auto& f : frames) EXPECT_EQ(f.bytes, expected.bytes);
}
