// Resizing through the export: numeric oracles for supersampling, nearest,
// linear and cubic, region and channel handling, and the fixed order of the
// argument checks of both paths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>

#include "tests/resize/ResizeTestUtil.h"

using resizetest::RecordRaises;
using resizetest::TestImage;

namespace {

TEST(Supersampling, HalfSizeIsTheRoundedMeanOfEachTwoByTwoBlock)
{
    std::mt19937 rng(1);
    TestImage src(3, IPL_DEPTH_8U, 704, 576);
    TestImage dst(3, IPL_DEPTH_8U, 352, 288);
    src.FillRandom(rng);
    iplResize(src.header, dst.header, 352, 704, 288, 576, IPL_INTER_SUPER);
    for (int y = 0; y < 288; ++y) {
        const uint8_t* a = src.Row<uint8_t>(2 * y);
        const uint8_t* b = src.Row<uint8_t>(2 * y + 1);
        const uint8_t* d = dst.Row<uint8_t>(y);
        for (int x = 0; x < 352 * 3; ++x) {
            const int c = x % 3, px = x / 3;
            const int sum = a[6 * px + c] + a[6 * px + 3 + c] + b[6 * px + c] + b[6 * px + 3 + c];
            ASSERT_EQ(d[x], (sum + 2) / 4) << x << "," << y;
        }
    }
}

TEST(Supersampling, OnePixelFromFourByFourAveragesAllSixteen)
{
    TestImage src(1, IPL_DEPTH_8U, 4, 4);
    TestImage dst(1, IPL_DEPTH_8U, 1, 1);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.Row<uint8_t>(y)[x] = uint8_t(4 * y + x);
    iplResize(src.header, dst.header, 1, 4, 1, 4, IPL_INTER_SUPER);
    EXPECT_EQ(dst.Row<uint8_t>(0)[0], 8);
    src.Fill(255);
    iplResize(src.header, dst.header, 1, 4, 1, 4, IPL_INTER_SUPER);
    EXPECT_EQ(dst.Row<uint8_t>(0)[0], 255);
}

TEST(Supersampling, FractionalFactorWeighsPartlyCoveredColumns)
{
    TestImage src(1, IPL_DEPTH_16U, 720, 4);
    TestImage dst(1, IPL_DEPTH_16U, 352, 2);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 720; ++x)
            src.Row<uint16_t>(y)[x] = uint16_t(x < 2 ? 1000 : x == 2 ? 23000 : 0);
    iplResize(src.header, dst.header, 352, 720, 2, 4, IPL_INTER_SUPER);
    // Columns 0 and 1 whole and 0.0454545 of column 2, over 2.0454545 x 2.
    const double expected = (2 * 2 * 1000 + 2 * 23000 * (720.0 / 352 - 2)) / (720.0 / 352 * 2);
    EXPECT_NEAR(dst.Row<uint16_t>(0)[0], expected, 1.0);
    EXPECT_EQ(dst.Row<uint16_t>(0)[0], dst.Row<uint16_t>(1)[0]);
}

TEST(Supersampling, ScaleOneCopiesAndFloatAveragesWithoutRounding)
{
    std::mt19937 rng(2);
    TestImage src(4, IPL_DEPTH_32F, 9, 7);
    TestImage dst(4, IPL_DEPTH_32F, 9, 7);
    src.FillRandom(rng);
    iplResize(src.header, dst.header, 5, 5, 3, 3, IPL_INTER_SUPER);
    for (int y = 0; y < 7; ++y)
        EXPECT_EQ(std::memcmp(src.Row<char>(y), dst.Row<char>(y), 9 * 16), 0);
    TestImage half(4, IPL_DEPTH_32F, 4, 3);
    iplResize(src.header, half.header, 1, 2, 1, 2, IPL_INTER_SUPER);
    const float* a = src.Row<float>(2);
    const float* b = src.Row<float>(3);
    const float mean = (((a[8] + a[12]) + (b[8] + b[12])) * 0.25f);
    EXPECT_NEAR(half.Row<float>(1)[4], mean, 1e-3f);
}

TEST(Supersampling, SmallSourcesAreDecimatedByNearestNeighbour)
{
    TestImage src(1, IPL_DEPTH_8U, 3, 3);
    TestImage dst(1, IPL_DEPTH_8U, 1, 1);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x)
            src.Row<uint8_t>(y)[x] = uint8_t(10 * y + x);
    iplResize(src.header, dst.header, 1, 3, 1, 3, IPL_INTER_SUPER);
    EXPECT_EQ(dst.Row<uint8_t>(0)[0], 0);
}

TEST(Supersampling, OneBitAreaIsSetWhenAtLeastHalfCovered)
{
    TestImage src(1, IPL_DEPTH_1U, 8, 8);
    TestImage dst(1, IPL_DEPTH_1U, 4, 4);
    for (int y = 0; y < 8; ++y)
        src.Row<uint8_t>(y)[0] = y < 4 ? 0xC0 : 0x80;  // 2x2 block set, then half set
    dst.Fill(0x0F);
    iplResize(src.header, dst.header, 4, 8, 4, 8, IPL_INTER_SUPER);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(dst.Row<uint8_t>(y)[0], 0x80 | 0x0F) << y;  // bits beyond the row kept
}

TEST(Supersampling, RegionsLimitTheOutputAndSelectChannels)
{
    std::mt19937 rng(3);
    TestImage src(3, IPL_DEPTH_8U, 16, 16);
    TestImage dst(1, IPL_DEPTH_8U, 16, 16);
    src.FillRandom(rng);
    dst.Fill(7);
    src.roi = ImageRoi{2, 4, 2, 8, 8};
    src.header->roi = &src.roi;
    dst.roi = ImageRoi{0, 1, 1, 3, 10};
    dst.header->roi = &dst.roi;
    iplResize(src.header, dst.header, 1, 2, 1, 2, IPL_INTER_SUPER);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) {
            const uint8_t got = dst.Row<uint8_t>(y)[x];
            if (x >= 1 && x < 4 && y >= 1 && y < 5) {
                const int sx = 4 + 2 * (x - 1), sy = 2 + 2 * (y - 1);
                const int sum = src.Row<uint8_t>(sy)[3 * sx + 1] + src.Row<uint8_t>(sy)[3 * sx + 4] +
                                src.Row<uint8_t>(sy + 1)[3 * sx + 1] +
                                src.Row<uint8_t>(sy + 1)[3 * sx + 4];
                ASSERT_EQ(got, (sum + 2) / 4) << x << "," << y;
            } else {
                ASSERT_EQ(got, 7) << x << "," << y;
            }
        }
}

TEST(Zoom, NearestNeighbourRepeatsPixelsAndRoundsPositions)
{
    TestImage src(1, IPL_DEPTH_8U, 2, 2);
    src.Row<uint8_t>(0)[0] = 1;
    src.Row<uint8_t>(0)[1] = 2;
    src.Row<uint8_t>(1)[0] = 3;
    src.Row<uint8_t>(1)[1] = 4;
    TestImage big(1, IPL_DEPTH_8U, 4, 4);
    iplResize(src.header, big.header, 4, 2, 4, 2, IPL_INTER_NN);
    const uint8_t expect4[4][4] = {{1, 1, 2, 2}, {1, 1, 2, 2}, {3, 3, 4, 4}, {3, 3, 4, 4}};
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(std::memcmp(big.Row<uint8_t>(y), expect4[y], 4), 0) << y;
    TestImage three(1, IPL_DEPTH_8U, 3, 3);
    iplResize(src.header, three.header, 3, 2, 3, 2, IPL_INTER_NN);
    const uint8_t expect3[3][3] = {{1, 2, 2}, {3, 4, 4}, {3, 4, 4}};
    for (int y = 0; y < 3; ++y)
        EXPECT_EQ(std::memcmp(three.Row<uint8_t>(y), expect3[y], 3), 0) << y;
}

TEST(Zoom, LinearAndCubicReproduceFirstAndLastRowsAndColumns)
{
    std::mt19937 rng(4);
    for (int depth : {IPL_DEPTH_8U, IPL_DEPTH_16U, IPL_DEPTH_32F}) {
        for (int method : {IPL_INTER_LINEAR, IPL_INTER_CUBIC}) {
            for (auto [w, h, dw, dh] : {std::array{13, 11, 29, 23}, std::array{40, 30, 17, 9}}) {
                TestImage src(3, depth, w, h);
                TestImage dst(3, depth, dw, dh);
                src.FillRandom(rng);
                iplResize(src.header, dst.header, dw, w, dh, h, method);
                for (int y : {0, h - 1}) {
                    const int dy = y == 0 ? 0 : dh - 1;
                    for (int x : {0, w - 1}) {
                        const int dx = x == 0 ? 0 : dw - 1;
                        for (int c = 0; c < 3; ++c) {
                            const int s = 3 * x + c, d = 3 * dx + c;
                            if (depth == IPL_DEPTH_8U) {
                                ASSERT_EQ(dst.Row<uint8_t>(dy)[d], src.Row<uint8_t>(y)[s]);
                            } else if (depth == IPL_DEPTH_16U) {
                                // The SSE2 build's linear 16U passes work on halved samples.
                                const int v = src.Row<uint16_t>(y)[s];
                                ASSERT_EQ(dst.Row<uint16_t>(dy)[d],
                                          method == IPL_INTER_LINEAR ? (v & ~1) : v);
                            } else {
                                const float v = src.Row<float>(y)[s];
                                ASSERT_NEAR(dst.Row<float>(dy)[d], v, 1e-4f * (1 + std::fabs(v)));
                            }
                        }
                    }
                }
            }
        }
    }
}

TEST(Zoom, ConstantImagesStayConstant)
{
    for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC, IPL_INTER_SUPER}) {
        for (int depth : {IPL_DEPTH_8U, IPL_DEPTH_16U}) {
            TestImage src(3, depth, 37, 21);
            TestImage dst(3, depth, 17, 13);
            TestImage big(3, depth, 61, 45);
            src.Fill(0xC8);
            iplResize(src.header, dst.header, 17, 37, 13, 21, method);
            for (int y = 0; y < 13; ++y)
                for (int x = 0; x < 17 * 3 * depth / 8; ++x)
                    ASSERT_EQ(uint8_t(dst.Row<char>(y)[x]), 0xC8) << method << " " << depth;
            if (method == IPL_INTER_SUPER)
                continue;
            iplResize(src.header, big.header, 61, 37, 45, 21, method);
            for (int y = 0; y < 45; ++y)
                for (int x = 0; x < 61 * 3 * depth / 8; ++x)
                    ASSERT_EQ(uint8_t(big.Row<char>(y)[x]), 0xC8) << method << " " << depth;
        }
    }
}

TEST(Zoom, LinearInterpolatesMidpointsOfAFourByFourImage)
{
    TestImage src(1, IPL_DEPTH_8U, 4, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            src.Row<uint8_t>(y)[x] = uint8_t(40 * x + 8 * y);
    TestImage dst(1, IPL_DEPTH_8U, 7, 7);
    iplResize(src.header, dst.header, 7, 4, 7, 4, IPL_INTER_LINEAR);
    // Step (4 - 1) / (7 - 1) = 0.5: odd positions lie halfway.
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)
            EXPECT_EQ(dst.Row<uint8_t>(y)[x], 20 * x + 4 * y) << x << "," << y;
    TestImage cubic(1, IPL_DEPTH_8U, 7, 7);
    iplResize(src.header, cubic.header, 7, 4, 7, 4, IPL_INTER_CUBIC);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 7; ++x)  // a plane is reproduced by the cubic too
            EXPECT_NEAR(cubic.Row<uint8_t>(y)[x], 20 * x + 4 * y, 1) << x << "," << y;
}

TEST(Zoom, CubicOvershootIsClampedAndSmallSourcesFallBack)
{
    TestImage src(1, IPL_DEPTH_8U, 8, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)
            src.Row<uint8_t>(y)[x] = x < 4 ? 0 : 255;
    TestImage dst(1, IPL_DEPTH_8U, 29, 4);
    iplResize(src.header, dst.header, 29, 8, 4, 4, IPL_INTER_CUBIC);
    bool saw0 = false, saw255 = false;
    for (int x = 0; x < 29; ++x) {
        saw0 |= dst.Row<uint8_t>(1)[x] == 0;
        saw255 |= dst.Row<uint8_t>(1)[x] == 255;
    }
    EXPECT_TRUE(saw0 && saw255);
    // 3 pixels wide: cubic becomes linear.
    TestImage narrow(1, IPL_DEPTH_8U, 3, 100);
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 3; ++x)
            narrow.Row<uint8_t>(y)[x] = uint8_t(x == 1 ? 200 : 0);
    TestImage out(1, IPL_DEPTH_8U, 5, 100);
    iplResize(narrow.header, out.header, 5, 3, 100, 100, IPL_INTER_CUBIC);
    const uint8_t expect[5] = {0, 100, 200, 100, 0};
    EXPECT_EQ(std::memcmp(out.Row<uint8_t>(50), expect, 5), 0);
}

TEST(Zoom, AlphaChannelAndUnmarkedChannelsAreLeftAlone)
{
    std::mt19937 rng(5);
    TestImage src(4, IPL_DEPTH_8U, 10, 10, IPL_DATA_ORDER_PIXEL, 4, 4);
    TestImage dst(3, IPL_DEPTH_8U, 20, 20);
    TestImage dst4(4, IPL_DEPTH_8U, 20, 20, IPL_DATA_ORDER_PIXEL, 4, 4);
    src.FillRandom(rng);
    dst4.Fill(9);
    iplResize(src.header, dst4.header, 2, 1, 2, 1, IPL_INTER_LINEAR);
    iplResize(src.header, dst.header, 2, 1, 2, 1, IPL_INTER_LINEAR);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x) {
            ASSERT_EQ(dst4.Row<uint8_t>(y)[4 * x + 3], 9);
            ASSERT_EQ(std::memcmp(dst4.Row<uint8_t>(y) + 4 * x, dst.Row<uint8_t>(y) + 3 * x, 3), 0);
        }
}

TEST(Zoom, PlaneOrderMatchesPixelOrderPlaneByPlane)
{
    std::mt19937 rng(6);
    for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC, IPL_INTER_SUPER}) {
        TestImage pix(3, IPL_DEPTH_16U, 23, 17);
        TestImage pln(3, IPL_DEPTH_16U, 23, 17, IPL_DATA_ORDER_PLANE);
        pix.FillRandom(rng);
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < 17; ++y)
                for (int x = 0; x < 23; ++x)
                    pln.Row<uint16_t>(y, c)[x] = pix.Row<uint16_t>(y)[3 * x + c];
        const int dw = method == IPL_INTER_SUPER ? 11 : 31, dh = method == IPL_INTER_SUPER ? 8 : 29;
        TestImage a(3, IPL_DEPTH_16U, dw, dh);
        TestImage b(3, IPL_DEPTH_16U, dw, dh, IPL_DATA_ORDER_PLANE);
        iplResize(pix.header, a.header, dw, 23, dh, 17, method);
        iplResize(pln.header, b.header, dw, 23, dh, 17, method);
        for (int c = 0; c < 3; ++c)
            for (int y = 0; y < dh; ++y)
                for (int x = 0; x < dw; ++x)
                    // Cubic rows end in truncated values after the last group of
                    // four, and plane rows are shorter: the two may differ by one.
                    ASSERT_NEAR(a.Row<uint16_t>(y)[3 * x + c], b.Row<uint16_t>(y, c)[x],
                                method == IPL_INTER_CUBIC ? 1 : 0)
                        << method;
    }
}

TEST(ResizeChecks, SupersamplingRefusesEnlargingBeforeAnyOtherCheck)
{
    RecordRaises record;
    iplResize(nullptr, nullptr, 5, 4, 1, 1, IPL_INTER_SUPER);
    ASSERT_EQ(record.statuses(), std::vector<int>{-5});
    EXPECT_EQ(record.raises()[0].context, "(xDst > xSrc || yDst > ySrc)");
    EXPECT_EQ(record.raises()[0].function, "iplResize");
}

TEST(ResizeChecks, DecimationChecksRunInTheirFixedOrder)
{
    TestImage a(3, IPL_DEPTH_8U, 8, 8);
    TestImage b(4, IPL_DEPTH_16U, 8, 8, IPL_DATA_ORDER_PLANE);
    b.header->origin = IPL_ORIGIN_BL;
    {
        RecordRaises record;
        Decimate(a.header, b.header, 0, 0, 0, 0, 7);
        std::vector<std::string> contexts;
        for (const auto& r : record.raises())
            contexts.push_back(r.context);
        const std::vector<std::string> expected = {
            "srcImage->depth != dstImage->depth", "srcImage->origin != dstImage->origin",
            "srcImage->dataOrder != dstImage->dataOrder",
            "srcImage->nChannels != dstImage->nChannels",
            "interpolate != IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC or IPL_INTER_SUPER",
            "xDst <= 0", "xSrc <= 0", "yDst <= 0", "ySrc <= 0"};
        EXPECT_EQ(contexts, expected);
        EXPECT_EQ(record.statuses(), (std::vector<int>{-17, -20, -19, -15, -5, -5, -5, -5, -5}));
    }
    {
        RecordRaises record;
        Decimate(a.header, a.header, 9, 8, 9, 8, IPL_INTER_SUPER);
        ASSERT_EQ(record.raises().size(), 3u);
        EXPECT_EQ(record.raises()[0].context, "srcImage == dstImage");
        EXPECT_EQ(record.raises()[1].context, "xDst > xSrc");
        EXPECT_EQ(record.raises()[2].context, "yDst > ySrc");
    }
    {
        RecordRaises record;
        TestImage c(4, IPL_DEPTH_8U, 8, 8);
        c.roi = ImageRoi{2, 0, 0, 8, 8};
        c.header->roi = &c.roi;
        Decimate(a.header, c.header, 1, 2, 1, 2, IPL_INTER_SUPER);
        ASSERT_EQ(record.raises().size(), 1u);
        EXPECT_EQ(record.raises()[0].context, "dstImage->roi->coi > 0 && srcImage->roi->coi == 0");
        record.clear();
        a.header->width = 0;
        Decimate(a.header, c.header, 1, 2, 1, 2, IPL_INTER_SUPER);
        ASSERT_EQ(record.statuses(), std::vector<int>{-10});
        EXPECT_EQ(record.raises()[0].context, "Incorrect Image");
        EXPECT_EQ(record.raises()[0].file, "ipldecim");
        a.header->width = 8;
    }
}

TEST(ResizeChecks, ZoomChecksRunInTheirFixedOrder)
{
    TestImage a(3, IPL_DEPTH_8U, 8, 8);
    TestImage b(3, IPL_DEPTH_16U, 8, 8, IPL_DATA_ORDER_PLANE);
    RecordRaises record;
    iplResize(a.header, b.header, 0, 1, 1, 0, 5);
    std::vector<std::string> contexts;
    for (const auto& r : record.raises())
        contexts.push_back(r.context);
    const std::vector<std::string> expected = {
        "interpolate != IPL_INTER_NN && interpolate != IPL_INTER_LINEAR && interpolate != "
        "IPL_INTER_CUBIC",
        "srcImage->depth != dstImage->depth", "srcImage->dataOrder != dstImage->dataOrder",
        "xDst <= 0 || xSrc <= 0", "yDst <= 0 || ySrc <= 0", ""};
    EXPECT_EQ(contexts, expected);
    EXPECT_EQ(record.raises()[0].function, "iplZoom");
    EXPECT_EQ(record.raises()[5].function, "iplResize");
    record.clear();
    iplResize(a.header, a.header, 2, 1, 2, 1, IPL_INTER_NN);
    ASSERT_FALSE(record.raises().empty());
    EXPECT_EQ(record.raises()[0].context, "This function isn`t in-plase function");
    record.clear();
    TestImage c(2, IPL_DEPTH_8U, 8, 8);
    iplResize(a.header, c.header, 2, 1, 2, 1, IPL_INTER_CUBIC);
    ASSERT_FALSE(record.raises().empty());
    EXPECT_EQ(record.raises()[0].status, -2);
    EXPECT_EQ(record.raises()[0].context, "srcImage COI != dstImage COI");
}

TEST(ResizeChecksDeathTest, EveryRaisedErrorEndsTheProcessWithExitCode1)
{
    TestImage a(3, IPL_DEPTH_8U, 8, 8);
    TestImage b(3, IPL_DEPTH_8U, 4, 4);
    TestImage g(1, IPL_DEPTH_8U, 4, 4);
    TestImage w(3, IPL_DEPTH_16U, 4, 4);
    EXPECT_EXIT(iplResize(a.header, b.header, 9, 8, 1, 1, IPL_INTER_SUPER),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(nullptr, b.header, 1, 2, 1, 2, IPL_INTER_SUPER),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, w.header, 1, 2, 1, 2, IPL_INTER_SUPER),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, g.header, 1, 2, 1, 2, IPL_INTER_SUPER),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, b.header, 0, 2, 1, 2, IPL_INTER_SUPER),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, b.header, 1, 2, 1, 2, 4), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, w.header, 1, 2, 1, 2, IPL_INTER_CUBIC),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, b.header, 1, 0, 1, 2, IPL_INTER_LINEAR),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, a.header, 1, 2, 1, 2, IPL_INTER_NN),
                testing::ExitedWithCode(1), "");
    EXPECT_EXIT(iplResize(a.header, g.header, 1, 2, 1, 2, IPL_INTER_NN),
                testing::ExitedWithCode(1), "");
}

TEST(ResizeChecksDeathTest, EachDecimationAndAndFailureEndsTheProcess)
{
    TestImage a(3, IPL_DEPTH_8U, 8, 8), b(3, IPL_DEPTH_8U, 4, 4);
    TestImage bottom(3, IPL_DEPTH_8U, 4, 4), plane(3, IPL_DEPTH_8U, 4, 4, IPL_DATA_ORDER_PLANE);
    TestImage two(2, IPL_DEPTH_8U, 4, 4), one(1, IPL_DEPTH_8U, 4, 4), s8(3, IPL_DEPTH_8S, 8, 8);
    TestImage f(1, IPL_DEPTH_32F, 4, 4);
    bottom.header->origin = IPL_ORIGIN_BL;
    ImageRoi coi2{2, 0, 0, 4, 4};
    const std::vector<std::pair<const char*, std::function<void()>>> failures = {
        {"origin", [&] { Decimate(a.header, bottom.header, 1, 2, 1, 2, IPL_INTER_SUPER); }},
        {"order", [&] { Decimate(a.header, plane.header, 1, 2, 1, 2, IPL_INTER_SUPER); }},
        {"channels", [&] { Decimate(a.header, two.header, 1, 2, 1, 2, IPL_INTER_SUPER); }},
        {"signed", [&] { Decimate(s8.header, s8.header, 1, 2, 1, 2, IPL_INTER_SUPER); }},
        {"coi", [&] {
             one.header->roi = &coi2;
             Decimate(a.header, one.header, 1, 2, 1, 2, IPL_INTER_SUPER);
         }},
        {"ySrc", [&] { Decimate(a.header, b.header, 1, 2, 1, 0, IPL_INTER_SUPER); }},
        {"yDst > ySrc", [&] { Decimate(a.header, b.header, 1, 2, 3, 2, IPL_INTER_SUPER); }},
        {"and 32F", [&] { iplAnd(f.header, f.header, f.header); }},
        {"and channels", [&] { iplAnd(a.header, a.header, one.header); }},
    };
    for (const auto& [name, call] : failures)
        EXPECT_EXIT(call(), testing::ExitedWithCode(1), "") << name;
}

}  // namespace
