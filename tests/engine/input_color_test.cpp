// RGB to YUV 4:2:0: table values, SIMD against plain, and the results against
// a double-precision evaluation of the conversion formulas.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/Input.h"
#include "tests/engine/input_test_frames.h"

namespace {

struct Planes {
    int w, h, line, chromaLine;
    std::vector<uint8_t> y, cb, cr;
    Planes(int w_, int h_) : w(w_), h(h_), line(w_ + 5), chromaLine(w_ / 2 + 3) {
        y.assign(static_cast<size_t>(line) * (h + 1), 0xEE);
        cb.assign(static_cast<size_t>(chromaLine) * (h / 2 + 1), 0xEE);
        cr = cb;
    }
    void Convert(const std::vector<uint8_t>& bitmap, bool simd, int black) {
        input_init(simd, InputKernelSet);
        ConvertRgbFrameToYuv(bitmap.data() + 40, w, h, y.data(), line, cb.data(), cr.data(), chromaLine, black);
        input_init(false, InputKernelSet);
    }
};

// The conversion's formulas, evaluated in double precision.
double FullLuma(const uint8_t* p) { return (306.0 * p[2] + 601.0 * p[1] + 117.0 * p[0]) / 1024.0; }

void CheckAgainstFormulas(const std::vector<uint8_t>& bitmap, const Planes& p, int black) {
    const int row = (3 * p.w + 3) & ~3;
    auto pixel = [&](int x, int y) { return &bitmap[40 + static_cast<size_t>(p.h - 1 - y) * row + 3 * x]; };
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            const double yv = black + (235.0 - black) * FullLuma(pixel(x, y)) / 256.0;
            ASSERT_NEAR(p.y[y * p.line + x], std::clamp(yv, 0.0, 255.0), 1.0) << x << "," << y;
        }
    for (int y = 0; y + 1 < p.h; y += 2)
        for (int x = 0; x + 1 < p.w; x += 2) {
            double db = 0, dr = 0;
            for (int k = 0; k < 4; ++k) {
                const uint8_t* q = pixel(x + (k & 1), y + (k >> 1));
                db += q[0] - FullLuma(q);
                dr += q[2] - FullLuma(q);
            }
            const int c = (y / 2) * p.chromaLine + x / 2;
            ASSERT_NEAR(p.cb[c], std::clamp(128.0 + 8092.0 * db / 65536.0, 0.0, 255.0), 1.0) << x << "," << y;
            ASSERT_NEAR(p.cr[c], std::clamp(128.0 + 10192.0 * dr / 65536.0, 0.0, 255.0), 1.0) << x << "," << y;
        }
}

}  // namespace

TEST(InputColor, TableValues) {
    EncoderSettings.blackLevel = 16;
    InitColorConversionTables();
    EXPECT_EQ(ColorTables.lumaRange[0], 16);
    EXPECT_EQ(ColorTables.lumaRange[255], 234);
    EXPECT_EQ(ColorTables.lumaRange[299], 234);
    EXPECT_EQ(ColorTables.lumaR[1], 306 + 512);
    EXPECT_EQ(ColorTables.cb[0], 128);
    // Saturated red reaches d = 1020: the Cr formula gives 287, kept at 255.
    EXPECT_EQ(ColorTables.cr[1020], 255);
    EXPECT_EQ(ColorTables.cb[-1020], 2);
}

TEST(InputColor, KernelTwinsOnRandomInput) {
    InitColorConversionTables();
    std::mt19937 rng(11);
    InputKernels plain, simd;
    input_init(false, plain);
    input_init(true, simd);
    for (int black : {0, 16, 30, 235, 255})
        for (int count = 4; count <= 40; count += 4) {
            std::vector<uint8_t> upper(3 * count), lower(3 * count);
            for (auto& v : upper) v = static_cast<uint8_t>(rng());
            for (auto& v : lower) v = static_cast<uint8_t>(rng() % 3 ? rng() : 255 * (rng() & 1));
            std::vector<uint8_t> a(4 * count + 8, 1), b = a;
            auto run = [&](const InputKernels& k, std::vector<uint8_t>& o) {
                k.convertRowPair(upper.data(), lower.data(), &o[0], &o[count], &o[2 * count], &o[3 * count], count,
                                 black);
            };
            run(plain, a);
            run(simd, b);
            ASSERT_EQ(a, b) << "black " << black << " count " << count;
        }
    std::vector<uint8_t> plane(3 * 48);
    for (auto& v : plane) v = static_cast<uint8_t>(rng());
    for (int strength : {0, 37, 100})
        for (int count = 1; count <= 46; ++count) {
            std::vector<uint8_t> a(48, 0), b(48, 0);
            plain.medianRow(&plane[49], 48, &a[1], count, strength);
            simd.medianRow(&plane[49], 48, &b[1], count, strength);
            ASSERT_EQ(a, b) << "median " << count << " strength " << strength;
        }
    for (size_t n = 0; n < 70; ++n) {
        std::vector<uint8_t> src(n + 3), a(n + 8, 0), b(n + 8, 0);
        for (auto& v : src) v = static_cast<uint8_t>(rng());
        EXPECT_EQ(plain.copyBytes(&a[1], &src[2], n), &a[1]);
        EXPECT_EQ(simd.copyBytes(&b[1], &src[2], n), &b[1]);
        ASSERT_EQ(a, b) << n;
        ASSERT_TRUE(std::equal(src.begin() + 2, src.begin() + 2 + n, a.begin() + 1));
    }
}

// Random pictures and a gradient, with widths and heights that are not
// multiples of 4 or 2: every sample converted, nothing written outside, SIMD
// and plain the same, and both within rounding of the formulas.
TEST(InputColor, FramesMatchFormulasAndTwins) {
    InitColorConversionTables();
    std::mt19937 rng(5);
    const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {5, 3}, {7, 6}, {13, 9}, {16, 4}, {37, 21}};
    for (const auto& size : sizes)
        for (int kind = 0; kind < 2; ++kind) {
            const int w = size.first, h = size.second;
            auto bitmap = inputtest::MakeBitmap(w, h, 24, {}, [&](int x, int r, int c) {
                return kind == 0 ? static_cast<uint8_t>(rng())
                                 : static_cast<uint8_t>((x * 255 / std::max(w - 1, 1) + c * r * 40) & 255);
            });
            for (int black : {16, 0}) {
                Planes plain(w, h), simd(w, h);
                plain.Convert(bitmap, false, black);
                simd.Convert(bitmap, true, black);
                ASSERT_EQ(plain.y, simd.y) << w << "x" << h;
                ASSERT_EQ(plain.cb, simd.cb) << w << "x" << h;
                ASSERT_EQ(plain.cr, simd.cr) << w << "x" << h;
                CheckAgainstFormulas(bitmap, plain, black);
                for (int y = 0; y <= h; ++y)
                    for (int x = 0; x < plain.line; ++x) {
                        if (y == h || x >= w) { ASSERT_EQ(plain.y[y * plain.line + x], 0xEE); }
                    }
                for (int y = 0; y <= h / 2; ++y)
                    for (int x = 0; x < plain.chromaLine; ++x) {
                        if (y == h / 2 || x >= w / 2) { ASSERT_EQ(plain.cb[y * plain.chromaLine + x], 0xEE); }
                    }
            }
        }
}

TEST(InputColor, BorderLimitsAndPaletteRange) {
    // Border counts above 32 or not below the limit clear nothing; counts stay inside the bitmap.
    std::vector<uint8_t> px(8 * 3, 9);
    ClearBorderRows(px.data(), 8, 3, 33, 6, 6);
    EXPECT_EQ(px, std::vector<uint8_t>(8 * 3, 9));
    ClearBorderRows(px.data(), 8, 3, 0, 5, 100);
    EXPECT_EQ(px, std::vector<uint8_t>(8 * 3, 0));

    // Palette indices past the palette's end give black; rows are padded.
    const uint8_t palette[8] = {10, 20, 30, 0, 40, 50, 60, 0};
    const uint8_t indices[8] = {1, 0, 7, 0, 0, 1, 1, 0};  // 3 pixels a row, rows of 4 bytes
    std::vector<uint8_t> rgb(24, 0xAA);
    ExpandPaletteFrame(indices, palette, 2, 3, 2, rgb.data());
    const std::vector<uint8_t> expect = {40, 50, 60, 10, 20, 30, 0, 0, 0, 0, 0, 0,
                                         10, 20, 30, 40, 50, 60, 40, 50, 60, 0, 0, 0};
    EXPECT_EQ(rgb, expect);
}
