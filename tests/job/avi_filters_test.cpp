// The frame reader's picture steps: drawing decoded layouts as 24-bit RGB, the
// shrink pre-filters and the choice of kernels.
#include "job/AviFilters.h"

#include "platform/AviFile.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<uint8_t> RandomPicture(int width, int height, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> p(Rgb24RowBytes(width) * size_t(height));
    for (auto& b : p) b = uint8_t(rng());
    return p;
}

uint8_t At(const std::vector<uint8_t>& p, int width, int x, int y, int c) {
    return p[size_t(y) * Rgb24RowBytes(width) + size_t(x) * 3 + size_t(c)];
}

TEST(AviFilters, KernelsAndInterpolationFollowTheRatios) {
    struct Case {
        int source, encoded, side, middle;
    };
    const Case cases[] = {
        {720, 352, 4, 8}, {576, 288, 4, 8}, {352, 320, 1, 14}, {360, 320, 1, 14},
        {400, 320, 2, 12}, {480, 320, 2, 12}, {640, 320, 4, 8}, {1920, 720, 4, 8},
    };
    for (const Case& c : cases) {
        PrefilterKernel k = ChoosePrefilterKernel(c.source, c.encoded);
        EXPECT_EQ(k.side, c.side) << c.source << "->" << c.encoded;
        EXPECT_EQ(k.middle, c.middle) << c.source << "->" << c.encoded;
        EXPECT_EQ(2 * k.side + k.middle, 16);
    }
    EXPECT_EQ(ChooseInterpolation(720, 576, 352, 288), 2);   // 288 is not below half of 576
    EXPECT_EQ(ChooseInterpolation(720, 576, 352, 287), 3);
    EXPECT_EQ(ChooseInterpolation(1920, 1080, 720, 576), 2);
    EXPECT_EQ(ChooseInterpolation(1920, 1080, 640, 480), 3);
    EXPECT_EQ(ChooseInterpolation(320, 240, 352, 240), 2);
}

// Each filter reads unfiltered neighbours and leaves the borders the way they were.
TEST(AviFilters, PrefiltersUseUnfilteredNeighboursAndKeepBorders) {
    const int w = 37, h = 11;
    const PrefilterKernel k{2, 12};
    auto original = RandomPicture(w, h, 3);

    auto rows = original;
    PrefilterRows(rows.data(), w, h, k);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int want = At(original, w, x, y, c);
                if (x > 0 && x < w - 1)
                    want = ((At(original, w, x - 1, y, c) + At(original, w, x + 1, y, c)) * 2 +
                            At(original, w, x, y, c) * 12 + 8) >> 4;
                ASSERT_EQ(At(rows, w, x, y, c), want) << x << "," << y;
            }

    auto columns = original;
    PrefilterColumns(columns.data(), w, h, k);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int want = At(original, w, x, y, c);
                if (x > 0 && x < w - 1 && y >= 1 && y <= h - 3)
                    want = ((At(original, w, x, y - 1, c) + At(original, w, x, y + 1, c)) * 2 +
                            At(original, w, x, y, c) * 12 + 8) >> 4;
                ASSERT_EQ(At(columns, w, x, y, c), want) << x << "," << y;
            }
    // The row padding is never touched.
    for (int y = 0; y < h; ++y)
        for (size_t i = size_t(w) * 3; i < Rgb24RowBytes(w); ++i) {
            ASSERT_EQ(rows[y * Rgb24RowBytes(w) + i], original[y * Rgb24RowBytes(w) + i]);
            ASSERT_EQ(columns[y * Rgb24RowBytes(w) + i], original[y * Rgb24RowBytes(w) + i]);
        }
}

// Builds a packed DIB: header, colour table or masks, then rows.
std::vector<uint8_t> MakeDib(int width, int height, int bits, uint32_t compression, const std::vector<uint8_t>& table,
                             const std::vector<uint8_t>& rows) {
    platform::BitmapInfoHeader h;
    h.width = width;
    h.height = height;
    h.bitCount = uint16_t(bits);
    h.compression = compression;
    h.clrUsed = bits == 8 ? uint32_t(table.size() / 4) : 0;
    std::vector<uint8_t> dib(40);
    h.Store(dib.data());
    dib.insert(dib.end(), table.begin(), table.end());
    dib.insert(dib.end(), rows.begin(), rows.end());
    return dib;
}

TEST(AviFilters, DecodedLayoutsDrawAsRgb) {
    // 2 x 2 pictures, bottom-up: the first row in memory is the bottom row.
    const uint8_t expect[2][2][3] = {{{10, 20, 30}, {255, 0, 0}}, {{0, 255, 0}, {0, 0, 255}}};  // [row][x] BGR
    auto check = [&](const std::vector<uint8_t>& dib, const char* what, int tolerance) {
        std::vector<uint8_t> p(Rgb24RowBytes(2) * 2, 0xEE);
        ASSERT_TRUE(DrawDibAsRgb24(dib.data(), p.data(), 2, 2)) << what;
        for (int y = 0; y < 2; ++y)
            for (int x = 0; x < 2; ++x)
                for (int c = 0; c < 3; ++c)
                    EXPECT_NEAR(p[size_t(y) * 8 + size_t(x) * 3 + size_t(c)], expect[y][x][c], tolerance)
                        << what << " " << x << "," << y << "," << c;
    };
    // 8-bit through a colour table of four entries.
    std::vector<uint8_t> table = {10, 20, 30, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0};
    check(MakeDib(2, 2, 8, platform::kBiRgb, table, {0, 1, 0, 0, 2, 3, 0, 0}), "8-bit", 0);
    // 32-bit plain and 24-bit.
    check(MakeDib(2, 2, 32, platform::kBiRgb, {}, {10, 20, 30, 0, 255, 0, 0, 0, 0, 255, 0, 0, 0, 0, 255, 0}), "32-bit", 0);
    check(MakeDib(2, -2, 24, platform::kBiRgb, {}, {0, 255, 0, 0, 0, 255, 0, 0, 10, 20, 30, 255, 0, 0, 0, 0}),
          "top-down 24-bit", 0);
    // 16-bit 5-5-5 and 5-6-5 bit fields: the top bits repeat into the low ones.
    auto p555 = [](int r, int g, int b) { return uint16_t((r >> 3) << 10 | (g >> 3) << 5 | (b >> 3)); };
    auto p565 = [](int r, int g, int b) { return uint16_t((r >> 3) << 11 | (g >> 2) << 5 | (b >> 3)); };
    auto rows16 = [](auto pack) {
        uint16_t v[4] = {pack(30, 20, 10), pack(0, 0, 255), pack(0, 255, 0), pack(255, 0, 0)};
        std::vector<uint8_t> r;
        for (uint16_t x : v) {
            r.push_back(uint8_t(x));
            r.push_back(uint8_t(x >> 8));
        }
        return r;
    };
    check(MakeDib(2, 2, 16, platform::kBiRgb, {}, rows16(p555)), "16-bit 555", 7);
    check(MakeDib(2, 2, 16, platform::kBiBitFields, {0, 0xF8, 0, 0, 0xE0, 0x07, 0, 0, 0x1F, 0, 0, 0}, rows16(p565)),
          "16-bit 565", 7);
    // Full 5-bit values widen to full 8-bit values.
    std::vector<uint8_t> white(8, 0);
    auto whiteDib = MakeDib(1, 1, 16, platform::kBiRgb, {}, {0xFF, 0x7F, 0, 0});
    ASSERT_TRUE(DrawDibAsRgb24(whiteDib.data(), white.data(), 1, 1));
    EXPECT_EQ(white[0], 255);
    EXPECT_EQ(white[2], 255);
    // Layouts that cannot be drawn.
    std::vector<uint8_t> p(16);
    EXPECT_FALSE(DrawDibAsRgb24(MakeDib(2, 2, 4, platform::kBiRgb, {}, std::vector<uint8_t>(8)).data(), p.data(), 2, 2));
    EXPECT_FALSE(DrawDibAsRgb24(MakeDib(2, 2, 24, 0x47504A4D, {}, std::vector<uint8_t>(16)).data(), p.data(), 2, 2));
}

// A frame of another size than the picture is drawn at the top-left, clipped.
TEST(AviFilters, DrawingClipsAtTheTopLeft) {
    std::vector<uint8_t> rows(Rgb24RowBytes(3) * 3);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) rows[size_t(y) * 12 + size_t(x) * 3] = uint8_t(10 * (2 - y) + x);  // top row y=0
    auto dib = MakeDib(3, 3, 24, platform::kBiRgb, {}, rows);
    std::vector<uint8_t> small(Rgb24RowBytes(2) * 2, 0);
    ASSERT_TRUE(DrawDibAsRgb24(dib.data(), small.data(), 2, 2));
    // Top row of the picture (last in memory) is the frame's top row.
    EXPECT_EQ(small[8], 0);
    EXPECT_EQ(small[8 + 3], 1);
    EXPECT_EQ(small[0], 10);
    EXPECT_EQ(small[3], 11);
    std::vector<uint8_t> big(Rgb24RowBytes(4) * 4, 0xAA);
    ASSERT_TRUE(DrawDibAsRgb24(dib.data(), big.data(), 4, 4));
    EXPECT_EQ(big[3 * 12], 0);       // top row
    EXPECT_EQ(big[1 * 12 + 6], 22);  // third row from the top, third pixel
    EXPECT_EQ(big[0], 0xAA);         // the bottom row is not reached
    EXPECT_EQ(big[3 * 12 + 9], 0xAA);
}

}  // namespace
