// Image headers and the library core: row layout, the fixed order of the
// header checks, the raiser's rules, status texts, version and per-thread status.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <thread>

#include "tests/resize/ResizeTestUtil.h"

using resizetest::RecordRaises;

namespace {

ImageHeader* Create(int channels, int depth, int width, int height, int order = 0, int align = 4,
                    int alpha = 0, ImageHeader* mask = nullptr)
{
    return iplCreateImageHeader(channels, alpha, depth, "RGB", "BGR", order, IPL_ORIGIN_BL, align,
                                width, height, nullptr, mask, nullptr, nullptr);
}

struct CreateArgs {
    int channels = 3, alpha = 0, depth = IPL_DEPTH_8U;
    const char* model = "RGB";
    const char* order = "BGR";
    int dataOrder = 0, origin = 0, align = 4, width = 8, height = 8;
    ImageHeader* mask = nullptr;
    ImageHeader* Make() const
    {
        return iplCreateImageHeader(channels, alpha, depth, model, order, dataOrder, origin, align,
                                    width, height, nullptr, mask, nullptr, nullptr);
    }
};

// Each case breaks one check and every later one; only the first may be reported.
std::vector<std::pair<CreateArgs, int>> CreateFailures()
{
    std::vector<std::pair<CreateArgs, int>> cases;
    CreateArgs a;
    a.height = 0; a.channels = 0; a.depth = 1; a.model = nullptr; a.alpha = 7;
    a.dataOrder = 2; a.origin = 2; a.align = 3;
    cases.push_back({a, -10});
    a.height = 8; cases.push_back({a, -15});
    a.channels = 3; a.depth = 1; cases.push_back({a, -16});
    a.depth = 5; cases.push_back({a, -14});
    a.model = "RGB"; cases.push_back({a, -17});
    a.depth = 8; cases.push_back({a, -18});
    a.alpha = 3; cases.push_back({a, -19});
    a.dataOrder = 1; cases.push_back({a, -20});
    a.origin = 1; cases.push_back({a, -21});
    CreateArgs b;
    b.order = nullptr; cases.push_back({b, -14});
    b.order = "BGR"; b.width = -1; cases.push_back({b, -10});
    return cases;
}

TEST(ImageHeader, RowLayoutFollowsWidthDepthChannelsAndAlignment)
{
    struct Case { int ch, depth, width, height, order, align, step, size; };
    const Case cases[] = {
        {3, IPL_DEPTH_8U, 352, 288, 0, 4, 1056, 1056 * 288},
        {3, IPL_DEPTH_8U, 350, 2, 0, 4, 1052, 2104},
        {3, IPL_DEPTH_8U, 350, 1, 0, 32, 1056, 1056},
        {1, IPL_DEPTH_1U, 10, 3, 0, 4, 4, 12},
        {3, IPL_DEPTH_8U, 12, 10, 1, 4, 12, 360},
        {2, IPL_DEPTH_16U, 3, 2, 0, 8, 16, 32},
        {1, IPL_DEPTH_32F, 5, 1, 0, 16, 32, 32},
        {1, IPL_DEPTH_16S, 7, 1, 0, 4, 16, 16},
    };
    for (const Case& c : cases) {
        ImageHeader* h = Create(c.ch, c.depth, c.width, c.height, c.order, c.align);
        ASSERT_NE(h, nullptr);
        EXPECT_EQ(h->widthStep, c.step) << c.width << "x" << c.ch;
        EXPECT_EQ(h->imageByteSize, c.size) << c.width << "x" << c.ch;
        EXPECT_EQ(h->headerSize, 112);
        EXPECT_EQ(h->imageData, nullptr);
        EXPECT_EQ(h->rawDataPointer, nullptr);
        for (int side = 0; side < 4; ++side) {
            EXPECT_EQ(h->borderModes[side], IPL_BORDER_CONSTANT);
            EXPECT_EQ(h->borderConstants[side], 0);
        }
        iplDeallocate(h, IPL_IMAGE_HEADER);
    }
}

TEST(ImageHeader, NamesAreCopiedUpToFourBytesWithoutReadingPastTheirEnd)
{
    ImageHeader* h = iplCreateImageHeader(1, 0, IPL_DEPTH_8U, "GRAY", "G", 0, 0, 4, 4, 4, nullptr,
                                          nullptr, nullptr, nullptr);
    EXPECT_EQ(std::memcmp(h->colorModelName, "GRAY", 4), 0);
    EXPECT_EQ(std::memcmp(h->channelOrderName, "G\0\0\0", 4), 0);
    iplDeallocate(h, IPL_IMAGE_HEADER);
}

TEST(ImageHeader, CreationReportsOnlyTheFirstFailingCheck)
{
    for (const auto& [args, status] : CreateFailures()) {
        RecordRaises record;
        EXPECT_EQ(args.Make(), nullptr);
        ASSERT_EQ(record.statuses(), std::vector<int>{status});
        EXPECT_EQ(record.raises()[0].function, "iplCreateImageHeader");
        EXPECT_EQ(record.raises()[0].context, "Incorrect data-ins");
        EXPECT_EQ(record.raises()[0].file, "iplalloc");
        EXPECT_EQ(iplGetErrStatus(), status);
    }
}

TEST(ImageHeaderDeathTest, EveryCreationFailureEndsTheProcessWithExitCode1)
{
    for (const auto& [args, status] : CreateFailures())
        EXPECT_EXIT(args.Make(), testing::ExitedWithCode(1), "") << status;
}

TEST(ImageHeader, MaskImagesAreCheckedAndTheirStatusShifted)
{
    ImageHeader* mask8 = Create(1, IPL_DEPTH_8U, 8, 8);
    ImageHeader* mask1 = Create(1, IPL_DEPTH_1U, 8, 8);
    mask1->imageData = reinterpret_cast<char*>(mask1);  // any non-null data
    {
        RecordRaises record;
        EXPECT_EQ(Create(1, IPL_DEPTH_8U, 8, 8, 0, 4, 0, mask8), nullptr);
        EXPECT_EQ(record.statuses(), std::vector<int>{-117});
    }
    {
        RecordRaises record;
        mask1->width = 0;
        EXPECT_EQ(Create(1, IPL_DEPTH_8U, 8, 8, 0, 4, 0, mask1), nullptr);
        EXPECT_EQ(record.statuses(), std::vector<int>{-110});
        mask1->width = 8;
    }
    TileInfo tile{};
    {
        RecordRaises record;
        mask1->tileInfo = &tile;
        EXPECT_EQ(Create(1, IPL_DEPTH_8U, 8, 8, 0, 4, 0, mask1), nullptr);
        EXPECT_EQ(record.statuses(), std::vector<int>{-26});
        mask1->tileInfo = nullptr;
    }
    ImageHeader* ok = Create(1, IPL_DEPTH_8U, 8, 8, 0, 4, 0, mask1);
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->maskImage, mask1);
    iplDeallocate(ok, IPL_IMAGE_HEADER);
    iplDeallocate(mask1, IPL_IMAGE_HEADER);
    iplDeallocate(mask8, IPL_IMAGE_HEADER);
}

TEST(ImageHeader, AlphaChannelMustBeTheLastChannel)
{
    ImageHeader* h = Create(4, IPL_DEPTH_8U, 4, 4, 0, 4, 4);
    ASSERT_NE(h, nullptr);
    iplDeallocate(h, IPL_IMAGE_HEADER);
    RecordRaises record;
    EXPECT_EQ(Create(4, IPL_DEPTH_8U, 4, 4, 0, 4, 3), nullptr);
    EXPECT_EQ(record.statuses(), std::vector<int>{-18});
}

TEST(ImageHeader, SizesBeyondThirtyTwoBitsAreRefused)
{
    RecordRaises record;
    EXPECT_EQ(Create(4, IPL_DEPTH_32F, 1 << 20, 1 << 12), nullptr);
    EXPECT_EQ(Create(INT_MAX, IPL_DEPTH_8U, 2, 1), nullptr);
    EXPECT_EQ(record.statuses(), (std::vector<int>{-10, -10}));
}

TEST(ImageHeader, CheckFindsTheFirstProblemInItsFixedOrder)
{
    resizetest::TestImage img(3, IPL_DEPTH_8U, 16, 16);
    ImageHeader& h = *img.header;
    EXPECT_EQ(CheckImageHeader(nullptr), -9);
    EXPECT_EQ(CheckImageHeader(&h), 0);
    TileInfo tiles{};
    tiles.tileWidth = 12;
    tiles.tileHeight = 8;
    h.tileInfo = &tiles;
    EXPECT_EQ(CheckImageHeader(&h), -12);  // both data and tiles
    char* data = h.imageData;
    h.imageData = nullptr;
    EXPECT_EQ(CheckImageHeader(&h), -22);  // tiled without callback
    tiles.callBack = [](const ImageHeader*, int, int, int) {};
    EXPECT_EQ(CheckImageHeader(&h), -23);  // tile width 12
    tiles.tileWidth = 16;
    EXPECT_EQ(CheckImageHeader(&h), 0);
    h.tileInfo = nullptr;
    h.imageData = data;

    ImageRoi roi{4, 0, 0, 4, 4};
    h.roi = &roi;
    EXPECT_EQ(CheckImageHeader(&h), -24);
    roi.coi = 3;
    EXPECT_EQ(CheckImageHeader(&h), 0);
    roi.width = 0;
    roi.xOffset = -1;
    EXPECT_EQ(CheckImageHeader(&h), -25);
    roi.width = 4;
    EXPECT_EQ(CheckImageHeader(&h), -11);
    roi.xOffset = 100;  // beyond the image: clipped later, not refused
    EXPECT_EQ(CheckImageHeader(&h), 0);
    h.roi = nullptr;

    h.widthStep = 0;
    h.alphaChannelIndex = 2;
    EXPECT_EQ(CheckImageHeader(&h), -13);
    h.widthStep = 48;
    EXPECT_EQ(CheckImageHeader(&h), -18);
    h.alphaChannelIndex = 0;
    h.rowAlignment = 2;
    EXPECT_EQ(CheckImageHeader(&h), -21);
    EXPECT_EQ(iplGetErrStatus(), -21);  // a failed check stores its status
    h.rowAlignment = 4;
    GetIplContext()->status = 0;
}

TEST(ImageHeader, CheckRefusesRowStepsAndSizesTooSmallForTheImage)
{
    resizetest::TestImage img(3, IPL_DEPTH_8U, 16, 16);
    ImageHeader& h = *img.header;
    h.widthStep = 47;
    EXPECT_EQ(CheckImageHeader(&h), -13);
    h.widthStep = 48;
    h.imageByteSize = 48 * 16 - 1;
    EXPECT_EQ(CheckImageHeader(&h), -10);
    h.imageByteSize = 48 * 16;
    EXPECT_EQ(CheckImageHeader(&h), 0);
    GetIplContext()->status = 0;
}

TEST(ImageHeader, BorderConstantsAreClampedToTheDepth)
{
    struct Case { int depth, constant, stored; };
    const Case cases[] = {{IPL_DEPTH_8U, 300, 255}, {IPL_DEPTH_8S, -5, -5},
                          {IPL_DEPTH_8S, -200, -128}, {IPL_DEPTH_1U, 7, 1},
                          {IPL_DEPTH_16U, -3, 0}, {IPL_DEPTH_16S, 40000, 32767},
                          {IPL_DEPTH_32S, -70000, -70000}};
    for (const Case& c : cases) {
        ImageHeader* h = Create(1, c.depth, 4, 4);
        SetBorderMode(h, IPL_BORDER_WRAP, IPL_SIDE_TOP | IPL_SIDE_LEFT, c.constant);
        EXPECT_EQ(h->borderConstants[IPL_SIDE_TOP_INDEX], c.stored);
        EXPECT_EQ(h->borderConstants[IPL_SIDE_LEFT_INDEX], c.stored);
        EXPECT_EQ(h->borderModes[IPL_SIDE_TOP_INDEX], IPL_BORDER_WRAP);
        EXPECT_EQ(h->borderModes[IPL_SIDE_BOTTOM_INDEX], IPL_BORDER_CONSTANT);
        EXPECT_EQ(h->borderModes[IPL_SIDE_RIGHT_INDEX], IPL_BORDER_CONSTANT);
        EXPECT_EQ(h->borderConstants[IPL_SIDE_RIGHT_INDEX], 0);
        iplDeallocate(h, IPL_IMAGE_HEADER);
    }
}

TEST(ImageHeader, AllocatedDataIsAlignedFilledByDepthAndFreedByFlag)
{
    struct Case { int depth, fill; uint32_t word; };
    const Case cases[] = {{IPL_DEPTH_1U, 3, 0xffffffffu}, {IPL_DEPTH_1U, 2, 0},
                          {IPL_DEPTH_8U, 0x1234, 0x34343434u},
                          {IPL_DEPTH_16U, 0x12345678, 0x56785678u},
                          {IPL_DEPTH_32S, 0x12345678, 0x12345678u}};
    for (const Case& c : cases) {
        ImageHeader* h = Create(1, c.depth, 33, 3, 0, 16);
        iplAllocateImage(h, 1, c.fill);
        ASSERT_NE(h->imageData, nullptr);
        EXPECT_NE(h->rawDataPointer, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(h->imageData) % 16, 0u);
        for (int i = 0; i < h->imageByteSize; i += 4) {
            uint32_t w;
            std::memcpy(&w, h->imageData + i, 4);
            ASSERT_EQ(w, c.word) << c.depth;
        }
        iplDeallocate(h, IPL_IMAGE_DATA);
        EXPECT_EQ(h->imageData, nullptr);
        EXPECT_EQ(h->rawDataPointer, nullptr);
        iplDeallocate(h, IPL_IMAGE_HEADER);
    }
    RecordRaises record;
    ImageHeader* f = Create(1, IPL_DEPTH_32F, 4, 4);
    iplAllocateImage(f, 0, 0);
    iplAllocateImage(nullptr, 0, 0);
    char byte;
    f->depth = IPL_DEPTH_8U;
    f->imageData = &byte;
    iplAllocateImage(f, 0, 0);
    f->imageData = nullptr;
    f->rowAlignment = 3;
    iplAllocateImage(f, 0, 0);
    ASSERT_EQ(record.statuses(), (std::vector<int>{-5, -5, -5, -21}));
    EXPECT_EQ(record.raises()[0].context, "( image->depth == 32 )");
    EXPECT_EQ(record.raises()[1].context, "( image == ((void *)0) )");
    EXPECT_EQ(record.raises()[2].context, "( image->imageData != ((void *)0) )");
    EXPECT_EQ(record.raises()[3].context, "Incorrect data-ins");
    EXPECT_EQ(f->imageData, nullptr);
    iplDeallocate(f, IPL_IMAGE_HEADER);
}

TEST(ImageHeader, DeallocateFreesWhatItsFlagsName)
{
    auto* roi = static_cast<ImageRoi*>(AlignedMalloc(sizeof(ImageRoi)));
    auto* tile = static_cast<TileInfo*>(AlignedMalloc(sizeof(TileInfo)));
    ImageHeader* mask = Create(1, IPL_DEPTH_1U, 8, 8);
    iplAllocateImage(mask, 0, 0);
    ImageHeader* h = Create(1, IPL_DEPTH_8U, 8, 8, 0, 4, 0, mask);
    h->roi = roi;
    h->tileInfo = tile;
    iplDeallocate(h, IPL_IMAGE_ROI | IPL_IMAGE_MASK | IPL_IMAGE_TILE);
    EXPECT_EQ(h->roi, nullptr);
    EXPECT_EQ(h->maskImage, nullptr);
    EXPECT_EQ(h->tileInfo, nullptr);
    char own[4];
    h->imageData = own;  // not allocated by the library: bit 2 leaves it
    iplDeallocate(h, IPL_IMAGE_DATA);
    EXPECT_EQ(h->imageData, own);
    iplDeallocate(h, IPL_IMAGE_HEADER);
    iplDeallocate(nullptr, IPL_IMAGE_ALL);
}

TEST(LibraryCore, RaiseStoresStatusExceptForTraceCodesAndZeroReportsNothing)
{
    RecordRaises record;
    GetIplContext()->status = -7;
    EXPECT_EQ(RaiseIplError(0, "f", "c", "m", 1), 0);
    EXPECT_TRUE(record.raises().empty());
    EXPECT_EQ(iplGetErrStatus(), 0);
    GetIplContext()->status = -7;
    EXPECT_EQ(RaiseIplError(-1, "f", "c", "m", 1), -1);
    EXPECT_EQ(RaiseIplError(-8, "f", "c", "m", 1), -8);
    EXPECT_EQ(iplGetErrStatus(), -7);
    EXPECT_EQ(RaiseIplError(-5, "f", "c", "m", 1), -5);
    EXPECT_EQ(iplGetErrStatus(), -5);
    EXPECT_EQ(record.statuses(), (std::vector<int>{-1, -8, -5}));
}

TEST(LibraryCoreDeathTest, DefaultReportEndsTheProcessForEveryNonZeroRaise)
{
    EXPECT_EXIT(RaiseIplError(-5, "f", "c", "m", 1), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(RaiseIplError(-1, "f", "c", "m", 1), testing::ExitedWithCode(1), "");
    EXPECT_EXIT(RaiseIplError(-8, "f", "c", "m", 1), testing::ExitedWithCode(1), "");
}

TEST(LibraryCore, StatusIsPerThread)
{
    RecordRaises record;
    RaiseIplError(-5, "f", "c", "m", 1);
    int other = 1;
    std::thread([&] { other = iplGetErrStatus(); }).join();
    EXPECT_EQ(other, 0);
    EXPECT_EQ(iplGetErrStatus(), -5);
}

TEST(LibraryCore, StatusTexts)
{
    EXPECT_STREQ(ErrorStatusText(0), "No Error");
    EXPECT_STREQ(ErrorStatusText(-4), "Insufficient memory");
    EXPECT_STREQ(ErrorStatusText(-9), "Null pointer to an image header");
    EXPECT_STREQ(ErrorStatusText(-10), "Incorrect image size");
    EXPECT_STREQ(ErrorStatusText(-16), "Number of channels for 1U depth image must be one");
    EXPECT_STREQ(ErrorStatusText(-23), "Incorrect size of the tile");
    EXPECT_STREQ(ErrorStatusText(-25), "Incorrect size of ROI in the image header");
    EXPECT_STREQ(ErrorStatusText(-26), "Mask image is taled");
    EXPECT_STREQ(ErrorStatusText(-31), "Incorrect filter ofset value");
    EXPECT_STREQ(ErrorStatusText(-110), "Mask. Incorrect image size");
    EXPECT_STREQ(ErrorStatusText(-125), "Mask. Incorrect size of ROI in the image header");
    for (int unknown : {1, -2, -32, -109, -116, -122, -126})
        EXPECT_STREQ(ErrorStatusText(unknown), "Unknown error or status code") << unknown;
}

TEST(LibraryCore, VersionRecordIsStatic)
{
    const IplLibVersion* v = iplGetLibVersion();
    EXPECT_EQ(v, iplGetLibVersion());
    EXPECT_EQ(v->majorVersion, 2);
    EXPECT_EQ(v->minorVersion, 5);
    EXPECT_EQ(v->buildNumber, 2);
    EXPECT_STREQ(v->libraryName, "zrnrslibW7");
    EXPECT_STREQ(v->versionText, "2.5 Release");
    EXPECT_STREQ(v->internalVersionText, "[2.5.2.82, 09/05/2000]");
    EXPECT_STREQ(v->buildDateText, "Sep  7 2000");
    EXPECT_STREQ(v->callingConventionText, "Microsoft*");
    EXPECT_EQ(v->reserved1, nullptr);
    EXPECT_EQ(v->reserved2, nullptr);
}

}  // namespace
