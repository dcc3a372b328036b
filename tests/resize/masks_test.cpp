// Masks: resizing with source and destination masks leaves masked-out pixels
// untouched; the AND that combines masks, with bit offsets, regions and tiles.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/resize/TiledImage.h"

using resizetest::RecordRaises;
using resizetest::TestImage;
using resizetest::TiledImage;

namespace {

bool Bit(TestImage& img, int x, int y) { return (img.Row<uint8_t>(y)[x >> 3] >> (7 - (x & 7))) & 1; }

TEST(MaskedResize, MaskedOutPixelsStayUntouched)
{
    std::mt19937 rng(41);
    for (int method : {IPL_INTER_NN, IPL_INTER_LINEAR, IPL_INTER_CUBIC}) {
        TestImage src(3, IPL_DEPTH_8U, 16, 12);
        src.FillRandom(rng);
        TestImage srcMask(1, IPL_DEPTH_1U, 16, 12);
        TestImage dstMask(1, IPL_DEPTH_1U, 32, 24);
        srcMask.FillRandom(rng);
        dstMask.FillRandom(rng);
        TestImage plain(3, IPL_DEPTH_8U, 32, 24);
        iplResize(src.header, plain.header, 2, 1, 2, 1, method);
        // The source mask as the zoom scales it: nearest neighbour, factor 2.
        TestImage scaledMask(1, IPL_DEPTH_1U, 32, 24);
        iplResize(srcMask.header, scaledMask.header, 32, 16, 24, 12, IPL_INTER_NN);
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x)
                ASSERT_EQ(Bit(scaledMask, x, y), Bit(srcMask, x / 2, y / 2));

        TestImage masked(3, IPL_DEPTH_8U, 32, 24);
        masked.Fill(0x77);
        src.header->maskImage = srcMask.header;
        masked.header->maskImage = dstMask.header;
        iplResize(src.header, masked.header, 2, 1, 2, 1, method);
        src.header->maskImage = nullptr;
        masked.header->maskImage = nullptr;
        int written = 0;
        for (int y = 0; y < 24; ++y)
            for (int x = 0; x < 32; ++x) {
                const bool on = Bit(scaledMask, x, y) && Bit(dstMask, x, y);
                written += on;
                // Masked cubic rows truncate where unmasked ones round.
                const int slack = on && method == IPL_INTER_CUBIC ? 1 : 0;
                for (int c = 0; c < 3; ++c)
                    ASSERT_NEAR(masked.Row<uint8_t>(y)[3 * x + c],
                                on ? plain.Row<uint8_t>(y)[3 * x + c] : 0x77, slack)
                        << method << " at " << x << "," << y;
            }
        EXPECT_GT(written, 50);
        EXPECT_LT(written, 32 * 24 - 50);
    }
}

TEST(MaskedResize, AllZeroMaskLeavesTheDestinationUnchanged)
{
    std::mt19937 rng(42);
    TestImage src(1, IPL_DEPTH_16U, 20, 20);
    src.FillRandom(rng);
    TestImage dst(1, IPL_DEPTH_16U, 9, 9);
    dst.FillRandom(rng);
    const std::vector<char> before = dst.Bytes();
    TestImage mask(1, IPL_DEPTH_1U, 9, 9);
    mask.Fill(0);
    dst.header->maskImage = mask.header;
    iplResize(src.header, dst.header, 9, 20, 9, 20, IPL_INTER_CUBIC);
    dst.header->maskImage = nullptr;
    EXPECT_EQ(dst.Bytes(), before);
}

TEST(MaskAnd, OneBitRowsWithOffsetsThreeAndFiveIntoZeroMatchPreShiftedData)
{
    std::mt19937 rng(43);
    TestImage a(1, IPL_DEPTH_1U, 40, 3), b(1, IPL_DEPTH_1U, 40, 3), d(1, IPL_DEPTH_1U, 40, 3);
    a.FillRandom(rng);
    b.FillRandom(rng);
    d.FillRandom(rng);
    TestImage before(1, IPL_DEPTH_1U, 40, 3);
    std::memcpy(before.header->imageData, d.header->imageData, std::size_t(d.header->imageByteSize));
    a.roi = ImageRoi{0, 3, 0, 20, 3};
    b.roi = ImageRoi{0, 5, 0, 20, 3};
    d.roi = ImageRoi{0, 0, 0, 20, 3};
    a.header->roi = &a.roi;
    b.header->roi = &b.roi;
    d.header->roi = &d.roi;
    iplAnd(a.header, b.header, d.header);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 40; ++x)
            ASSERT_EQ(Bit(d, x, y), x < 20 ? (Bit(a, x + 3, y) && Bit(b, x + 5, y)) : Bit(before, x, y))
                << x << "," << y;
}

TEST(MaskAnd, ChannelsRegionsAndAlphaAreHonoured)
{
    std::mt19937 rng(44);
    TestImage a(4, IPL_DEPTH_16U, 9, 7, IPL_DATA_ORDER_PIXEL, 4, 4);
    TestImage b(4, IPL_DEPTH_16U, 9, 7, IPL_DATA_ORDER_PIXEL, 4, 4);
    TestImage d(4, IPL_DEPTH_16U, 9, 7, IPL_DATA_ORDER_PIXEL, 4, 4);
    for (TestImage* i : {&a, &b, &d})
        i->FillRandom(rng);
    const std::vector<char> before = d.Bytes();
    TestImage orig(4, IPL_DEPTH_16U, 9, 7);
    std::memcpy(orig.header->imageData, d.header->imageData, std::size_t(d.header->imageByteSize));
    iplAnd(a.header, b.header, d.header);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x)
            for (int c = 0; c < 4; ++c)
                ASSERT_EQ(d.Row<uint16_t>(y)[4 * x + c],
                          c == 3 ? orig.Row<uint16_t>(y)[4 * x + c]
                                 : uint16_t(a.Row<uint16_t>(y)[4 * x + c] & b.Row<uint16_t>(y)[4 * x + c]));

    // Channel of interest 2 of A and B into a one-channel region of D.
    TestImage one(1, IPL_DEPTH_16U, 9, 7);
    one.Fill(0xFF);
    a.roi = ImageRoi{2, 1, 1, 5, 5};
    b.roi = ImageRoi{2, 0, 0, 9, 7};
    one.roi = ImageRoi{0, 2, 0, 9, 7};
    a.header->roi = &a.roi;
    b.header->roi = &b.roi;
    one.header->roi = &one.roi;
    iplAnd(a.header, b.header, one.header);
    for (int y = 0; y < 7; ++y)
        for (int x = 0; x < 9; ++x) {
            const bool in = x >= 2 && x < 7 && y < 5;
            const uint16_t want = in ? uint16_t(a.Row<uint16_t>(y + 1)[4 * (x - 1) + 1] &
                                               b.Row<uint16_t>(y)[4 * (x - 2) + 1])
                                     : 0xFFFF;
            ASSERT_EQ(one.Row<uint16_t>(y)[x], want) << x << "," << y;
        }
}

TEST(MaskAnd, OperandMasksSelectWhatIsWrittenAndAnEmptyCommonRegionWritesNothing)
{
    std::mt19937 rng(45);
    TestImage a(1, IPL_DEPTH_8U, 24, 6), b(1, IPL_DEPTH_8U, 24, 6), d(1, IPL_DEPTH_8U, 24, 6);
    TestImage ma(1, IPL_DEPTH_1U, 24, 6), md(1, IPL_DEPTH_1U, 24, 6);
    for (TestImage* i : {&a, &b, &d, &ma, &md})
        i->FillRandom(rng);
    const std::vector<char> before = d.Bytes();
    TestImage orig(1, IPL_DEPTH_8U, 24, 6);
    std::memcpy(orig.header->imageData, d.header->imageData, std::size_t(d.header->imageByteSize));
    a.header->maskImage = ma.header;
    d.header->maskImage = md.header;
    iplAnd(a.header, b.header, d.header);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 24; ++x) {
            const bool on = Bit(ma, x, y) && Bit(md, x, y);
            ASSERT_EQ(d.Row<uint8_t>(y)[x], on ? uint8_t(a.Row<uint8_t>(y)[x] & b.Row<uint8_t>(y)[x])
                                               : orig.Row<uint8_t>(y)[x]);
        }
    std::memcpy(d.header->imageData, orig.header->imageData, std::size_t(d.header->imageByteSize));
    ma.roi = ImageRoi{0, 30, 0, 4, 4};  // clipped to nothing
    ma.header->roi = &ma.roi;
    RecordRaises record;
    iplAnd(a.header, b.header, d.header);
    EXPECT_TRUE(record.raises().empty());
    EXPECT_EQ(d.Bytes(), before);
    a.header->maskImage = nullptr;
    d.header->maskImage = nullptr;
}

TEST(MaskAnd, TiledOperandsGiveTheUntiledResult)
{
    std::mt19937 rng(46);
    TestImage a(3, IPL_DEPTH_8U, 30, 20), b(3, IPL_DEPTH_8U, 30, 20), d(3, IPL_DEPTH_8U, 30, 20);
    TestImage e(3, IPL_DEPTH_8U, 30, 20);
    for (TestImage* i : {&a, &b, &d})
        i->FillRandom(rng);
    std::memcpy(e.header->imageData, d.header->imageData, std::size_t(d.header->imageByteSize));
    a.roi = ImageRoi{0, 3, 1, 20, 15};
    b.roi = ImageRoi{0, 7, 4, 22, 16};
    d.roi = ImageRoi{0, 1, 2, 25, 17};
    e.roi = d.roi;
    a.header->roi = &a.roi;
    b.header->roi = &b.roi;
    d.header->roi = &d.roi;
    e.header->roi = &e.roi;
    iplAnd(a.header, b.header, e.header);
    TiledImage ta(a, 8, 8), td(d, 16, 8);
    iplAnd(ta.header(), b.header, td.header());
    EXPECT_EQ(d.Bytes(), e.Bytes());
    EXPECT_EQ(ta.acquires(), ta.releases());
    EXPECT_EQ(td.acquires(), td.releases());
    EXPECT_GT(td.acquires(), 1);
}

TEST(MaskAnd, ChecksRunInOrderAndFloatIsRefused)
{
    TestImage a(1, IPL_DEPTH_32F, 4, 4), b(1, IPL_DEPTH_32F, 4, 4), d(1, IPL_DEPTH_32F, 4, 4);
    TestImage e(1, IPL_DEPTH_8U, 4, 4), f(2, IPL_DEPTH_8U, 4, 4);
    RecordRaises record;
    iplAnd(a.header, b.header, d.header);
    iplAnd(e.header, b.header, d.header);
    iplAnd(a.header, e.header, d.header);
    iplAnd(e.header, e.header, f.header);
    iplAnd(a.header, nullptr, d.header);
    std::vector<std::string> contexts;
    for (const auto& r : record.raises())
        contexts.push_back(r.context);
    const std::vector<std::string> expected = {
        "This function does not support depth 32F", "(srcImageA->depth != dstImage->depth)",
        "(srcImageB->depth != dstImage->depth)", "(nChSrcA != nChDst)", "Incorrect Image"};
    EXPECT_EQ(contexts, expected);
    EXPECT_EQ(record.statuses(), (std::vector<int>{-5, -5, -5, -5, -9}));
}

}  // namespace

namespace {

TEST(MaskedResize, MaskRegionsOutsideTheMaskWriteNothing)
{
    std::mt19937 rng(47);
    TestImage src(1, IPL_DEPTH_8U, 12, 12);
    TestImage dst(1, IPL_DEPTH_8U, 12, 12);
    TestImage mask(1, IPL_DEPTH_1U, 12, 12);
    src.FillRandom(rng);
    dst.FillRandom(rng);
    mask.Fill(0xFF);
    const std::vector<char> before = dst.Bytes();
    mask.roi = ImageRoi{0, 40, 0, 12, 12};
    mask.header->roi = &mask.roi;
    dst.header->maskImage = mask.header;
    iplResize(src.header, dst.header, 1, 1, 1, 1, IPL_INTER_LINEAR);
    dst.header->maskImage = nullptr;
    EXPECT_EQ(dst.Bytes(), before);
}

}  // namespace
