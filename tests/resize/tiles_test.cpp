// Tiled images: resizing through the tile callback gives the bytes of the
// untiled resize, with every acquire paired with a release; border modes fill
// rectangles that reach outside the image on every side.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/resize/TiledImage.h"

using resizetest::TestImage;
using resizetest::TiledImage;

namespace {

struct TileCase {
    int channels, depth, order;
    int sw, sh, dw, dh;
};

TEST(TiledResize, TiledSourceDestinationOrBothGiveTheUntiledBytes)
{
    std::mt19937 rng(31);
    const TileCase cases[] = {
        {3, IPL_DEPTH_8U, IPL_DATA_ORDER_PIXEL, 45, 37, 70, 52},
        {3, IPL_DEPTH_8U, IPL_DATA_ORDER_PIXEL, 90, 70, 41, 30},
        {2, IPL_DEPTH_16U, IPL_DATA_ORDER_PLANE, 33, 29, 50, 41},
        {1, IPL_DEPTH_32F, IPL_DATA_ORDER_PIXEL, 64, 40, 29, 19},
        {1, IPL_DEPTH_1U, IPL_DATA_ORDER_PIXEL, 50, 36, 77, 23},
    };
    for (const TileCase& c : cases) {
        for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC, IPL_INTER_SUPER}) {
            const bool shrink = c.dw < c.sw && c.dh < c.sh;
            if (method == IPL_INTER_SUPER && !shrink)
                continue;
            TestImage src(c.channels, c.depth, c.sw, c.sh, c.order);
            src.FillRandom(rng);
            TestImage expected(c.channels, c.depth, c.dw, c.dh, c.order);
            expected.FillRandom(rng);
            const std::vector<char> before = expected.Bytes();
            // A region inside both images, so tiles are crossed partly.
            src.roi = ImageRoi{0, 3, 2, c.sw - 5, c.sh - 4};
            expected.roi = ImageRoi{0, 2, 1, c.dw - 3, c.dh - 2};
            src.header->roi = &src.roi;
            expected.header->roi = &expected.roi;
            const int xs = c.sw - 5, ys = c.sh - 4, xd = c.dw - 3, yd = c.dh - 2;
            iplResize(src.header, expected.header, xd, xs, yd, ys, method);
            for (int which = 1; which <= 3; ++which) {
                TestImage dst(c.channels, c.depth, c.dw, c.dh, c.order);
                std::memcpy(dst.header->imageData, before.data() + (expected.header->imageData - expected.data.data()),
                            std::size_t(dst.header->imageByteSize));
                dst.roi = expected.roi;
                dst.header->roi = &dst.roi;
                TiledImage tiledSrc(src, 16, 8);
                TiledImage tiledDst(dst, 8, 16);
                ImageHeader* s = which & 1 ? tiledSrc.header() : src.header;
                ImageHeader* d = which & 2 ? tiledDst.header() : dst.header;
                iplResize(s, d, xd, xs, yd, ys, method);
                EXPECT_EQ(std::memcmp(dst.header->imageData, expected.header->imageData,
                                      std::size_t(dst.header->imageByteSize)),
                          0)
                    << "depth " << c.depth << " method " << method << " tiled " << which;
                EXPECT_EQ(tiledSrc.acquires(), tiledSrc.releases());
                EXPECT_EQ(tiledDst.acquires(), tiledDst.releases());
                EXPECT_EQ(tiledSrc.outstanding() + tiledDst.outstanding(), 0);
                if (which & 1) {
                    EXPECT_GT(tiledSrc.acquires(), 1);
                }
                if (which & 2) {
                    EXPECT_GT(tiledDst.acquires(), 1);
                }
            }
        }
    }
}

TEST(TiledResize, NullTileDataIsRaised)
{
    TestImage src(1, IPL_DEPTH_8U, 16, 16);
    TestImage dst(1, IPL_DEPTH_8U, 32, 32);
    TileInfo tiles{};
    tiles.callBack = [](const ImageHeader* image, int, int, int) {
        image->tileInfo->tileData = nullptr;
    };
    tiles.tileWidth = tiles.tileHeight = 8;
    ImageHeader tiledDst = *dst.header;
    tiledDst.imageData = nullptr;
    tiledDst.tileInfo = &tiles;
    resizetest::RecordRaises record;
    iplResize(src.header, &tiledDst, 2, 1, 2, 1, IPL_INTER_LINEAR);
    ASSERT_FALSE(record.raises().empty());
    EXPECT_EQ(record.raises()[0].status, -2);
    EXPECT_EQ(record.raises()[0].context, "Error get tile to write");
    record.clear();
    TestImage small(1, IPL_DEPTH_8U, 8, 8);
    iplResize(src.header, &tiledDst, 1, 2, 1, 2, IPL_INTER_SUPER);
    ASSERT_FALSE(record.raises().empty());
    EXPECT_EQ(record.raises()[0].status, -3);
    EXPECT_EQ(record.raises()[0].context, "dstImage->tileInfo->callBack crash");
    record.clear();
    ImageHeader tiledSrc = *src.header;
    tiledSrc.imageData = nullptr;
    tiledSrc.tileInfo = &tiles;
    iplResize(&tiledSrc, small.header, 1, 2, 1, 2, IPL_INTER_SUPER);
    ASSERT_FALSE(record.raises().empty());
    EXPECT_EQ(record.raises()[0].context, "srcImage->tileInfo->callBack crash");
}

// Expected image position of an outside position by a border mode.
int Expected(int p, int size, int mode)
{
    if (p >= 0 && p < size)
        return p;
    if (mode == IPL_BORDER_REPLICATE)
        return p < 0 ? 0 : size - 1;
    if (mode == IPL_BORDER_WRAP)
        return ((p % size) + size) % size;
    if (mode == IPL_BORDER_REFLECT) {
        // Mirror images of the image repeat with period 2 x size.
        int q = ((p % (2 * size)) + 2 * size) % (2 * size);
        return q < size ? q : 2 * size - 1 - q;
    }
    return -1;
}

TEST(Borders, RectanglesReachingOutsideEverySideFollowEachSidesMode)
{
    const int modes[][4] = {
        {IPL_BORDER_REPLICATE, IPL_BORDER_REFLECT, IPL_BORDER_WRAP, IPL_BORDER_CONSTANT},
        {IPL_BORDER_REFLECT, IPL_BORDER_WRAP, IPL_BORDER_CONSTANT, IPL_BORDER_REPLICATE},
        {IPL_BORDER_WRAP, IPL_BORDER_CONSTANT, IPL_BORDER_REPLICATE, IPL_BORDER_REFLECT},
        {IPL_BORDER_CONSTANT, IPL_BORDER_REPLICATE, IPL_BORDER_REFLECT, IPL_BORDER_WRAP},
    };
    std::mt19937 rng(32);
    for (bool tiled : {false, true}) {
        for (const auto& m : modes) {
            TestImage img(3, IPL_DEPTH_8U, 6, 5);
            img.FillRandom(rng);
            for (int side = 0; side < 4; ++side)
                SetBorderMode(img.header, m[side] | (side == 1 ? 4 : 0), 1 << side, 40 + side);
            TiledImage view(img, 8, 8);
            view.header()->borderModes[0] = img.header->borderModes[0];
            const ImageHeader* source = tiled ? view.header() : img.header;
            for (int side = 0; side < 4; ++side) {
                view.header()->borderModes[side] = img.header->borderModes[side];
                view.header()->borderConstants[side] = img.header->borderConstants[side];
            }
            const int x = -14, y = -13, w = 35, h = 31;
            int rowBytes = 0;
            char* rect = GetSourceRectWithBorder(source, x, y, w, h, &rowBytes);
            ASSERT_NE(rect, nullptr);
            EXPECT_EQ(rowBytes, 108);
            for (int r = 0; r < h; ++r) {
                const int py = y + r;
                for (int c = 0; c < w; ++c) {
                    const int px = x + c;
                    int side, ry, rx;
                    if (py < 0 || py >= 5) {
                        side = py < 0 ? 0 : 1;
                        ry = Expected(py, 5, m[side]);
                        rx = Expected(px, 6, m[side]);
                    } else {
                        side = px < 0 ? 2 : 3;
                        ry = py;
                        rx = Expected(px, 6, m[side]);
                    }
                    for (int ch = 0; ch < 3; ++ch) {
                        const uint8_t got = uint8_t(rect[r * rowBytes + 3 * c + ch]);
                        const uint8_t want = (ry < 0 || rx < 0) ? uint8_t(40 + side)
                                                                : img.Row<uint8_t>(ry)[3 * rx + ch];
                        ASSERT_EQ(got, want) << "tiled " << tiled << " at " << px << "," << py;
                    }
                }
            }
            FreeRectBuffer(rect);
            EXPECT_EQ(view.acquires(), view.releases());
            EXPECT_EQ(view.outstanding(), 0);
        }
    }
}

TEST(Borders, OneBitAndFloatConstantsAreSpreadByDepth)
{
    TestImage bits(1, IPL_DEPTH_1U, 10, 2);
    bits.Fill(0xFF);
    SetBorderMode(bits.header, IPL_BORDER_CONSTANT, IPL_SIDE_ALL, 0);
    SetBorderMode(bits.header, IPL_BORDER_CONSTANT, IPL_SIDE_RIGHT, 1);
    int rowBytes = 0;
    char* rect = GetSourceRectWithBorder(bits.header, -2, 0, 14, 2, &rowBytes);
    ASSERT_NE(rect, nullptr);
    EXPECT_EQ(rowBytes, 4);
    EXPECT_EQ(uint8_t(rect[0]), 0x3F);  // two left constant 0s, then ones
    EXPECT_EQ(uint8_t(rect[1]), 0xFC);  // image to column 9, then right constant 1s
    FreeRectBuffer(rect);

    TestImage floats(1, IPL_DEPTH_32F, 3, 3);
    SetBorderMode(floats.header, IPL_BORDER_CONSTANT, IPL_SIDE_TOP, -7);
    rect = GetSourceRectWithBorder(floats.header, 0, -1, 1, 1, &rowBytes);
    float v;
    std::memcpy(&v, rect, 4);
    EXPECT_EQ(v, -7.0f);
    FreeRectBuffer(rect);
}

}  // namespace
