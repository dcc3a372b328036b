// The decimation path's other methods, reached through its internal entry:
// nearest with whole and fractional factors, linear and cubic along one or
// both axes, edges and clamping.
#include <gtest/gtest.h>

#include <cmath>

#include "tests/resize/ResizeTestUtil.h"

using resizetest::TestImage;

namespace {

TEST(Decimation, LinearWithWholeFactorsTakesEverySecondPixel)
{
    std::mt19937 rng(51);
    TestImage src(3, IPL_DEPTH_8U, 20, 14);
    TestImage dst(3, IPL_DEPTH_8U, 10, 7);
    src.FillRandom(rng);
    Decimate(src.header, dst.header, 1, 2, 1, 2, IPL_INTER_LINEAR);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 10; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(dst.Row<uint8_t>(y)[3 * x + c], src.Row<uint8_t>(2 * y)[6 * x + c]);
}

TEST(Decimation, NearestWithFractionalFactorStartsHalfASampleIn)
{
    TestImage src(1, IPL_DEPTH_16U, 20, 4);
    TestImage dst(1, IPL_DEPTH_16U, 8, 4);
    for (int x = 0; x < 20; ++x)
        for (int y = 0; y < 4; ++y)
            src.Row<uint16_t>(y)[x] = uint16_t(1000 + x);
    Decimate(src.header, dst.header, 2, 5, 1, 1, IPL_INTER_NN);
    const int expected[] = {0, 3, 5, 8, 10, 13, 15, 18};
    for (int j = 0; j < 8; ++j)
        EXPECT_EQ(dst.Row<uint16_t>(2)[j], 1000 + expected[j]) << j;
}

TEST(Decimation, LinearAlongOneAxisInterpolatesThatAxisOnly)
{
    std::mt19937 rng(52);
    TestImage src(1, IPL_DEPTH_8U, 12, 8);
    TestImage dst(1, IPL_DEPTH_8U, 8, 4);
    src.FillRandom(rng);
    Decimate(src.header, dst.header, 2, 3, 1, 2, IPL_INTER_LINEAR);  // x 1.5, y whole
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 8; ++j) {
            const float p = 1.5f * float(j);
            const int k = int(p);
            const float t = p - float(k);
            const uint8_t* row = src.Row<uint8_t>(2 * i);
            const int next = std::min(k + 1, 11);
            const int want = int(t * float(row[next]) + (1.0f - t) * float(row[k]));
            ASSERT_EQ(dst.Row<uint8_t>(i)[j], want) << j << "," << i;
        }
}

TEST(Decimation, CubicReproducesRampsAndClampsOvershoots)
{
    TestImage ramp(1, IPL_DEPTH_32F, 30, 30);
    for (int y = 0; y < 30; ++y)
        for (int x = 0; x < 30; ++x)
            ramp.Row<float>(y)[x] = float(2 * x + 3 * y);
    TestImage out(1, IPL_DEPTH_32F, 20, 20);
    Decimate(ramp.header, out.header, 2, 3, 2, 3, IPL_INTER_CUBIC);
    for (int i = 0; i < 20; ++i)
        for (int j = 0; j < 20; ++j)  // the last windows move back and extrapolate the ramp
            ASSERT_NEAR(out.Row<float>(i)[j], 2 * 1.5 * j + 3 * 1.5 * i, 1e-3) << j << "," << i;

    TestImage edge(1, IPL_DEPTH_8U, 16, 16);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x)
            edge.Row<uint8_t>(y)[x] = y < 8 ? 0 : 255;
    TestImage small(1, IPL_DEPTH_8U, 16, 10);
    Decimate(edge.header, small.header, 1, 1, 5, 8, IPL_INTER_CUBIC);  // along y only, 1.6
    // Position 6.4 undershoots (255 (t^3 - t) / 6 at t = 0.4) and is clamped to 0;
    // position 8 is the first bright row.
    EXPECT_EQ(small.Row<uint8_t>(4)[3], 0);
    EXPECT_EQ(small.Row<uint8_t>(5)[3], 255);
    EXPECT_EQ(small.Row<uint8_t>(9)[3], 255);  // last window moved back inside
}

TEST(Decimation, CubicAndLinearKeepConstantImagesInEveryDepth)
{
    for (int method : {IPL_INTER_LINEAR, IPL_INTER_CUBIC}) {
        for (int depth : {IPL_DEPTH_8U, IPL_DEPTH_16U}) {
            TestImage src(2, depth, 21, 17, IPL_DATA_ORDER_PLANE);
            src.Fill(0x5b);
            TestImage dst(2, depth, 15, 11, IPL_DATA_ORDER_PLANE);
            Decimate(src.header, dst.header, 5, 7, 2, 3, method);
            for (int p = 0; p < 2; ++p)
                for (int y = 0; y < 11; ++y)
                    for (int x = 0; x < 15 * depth / 8; ++x)
                        ASSERT_EQ(uint8_t(dst.Row<char>(y, p)[x]), 0x5b) << method << " " << depth;
        }
    }
}

TEST(Decimation, RegionsBeyondTheImageYieldNothing)
{
    TestImage src(1, IPL_DEPTH_8U, 8, 8);
    TestImage dst(1, IPL_DEPTH_8U, 4, 4);
    dst.Fill(3);
    src.roi = ImageRoi{0, 9, 0, 4, 4};
    src.header->roi = &src.roi;
    iplResize(src.header, dst.header, 1, 2, 1, 2, IPL_INTER_SUPER);
    for (int y = 0; y < 4; ++y)
        EXPECT_EQ(dst.Row<uint8_t>(y)[0], 3);
}

}  // namespace
