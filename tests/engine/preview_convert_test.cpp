// Preview conversion: the colours of the 4:2:0 converter, plain and SSE2
// twins, odd and large sizes inside exact buffers, the dither converters and
// the routing of frames and fields.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/EngineState.h"
#include "engine/PreviewConvert.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"

namespace {

// Planes of exactly the encoding size, and the picture size inside them.
struct Picture {
    int width, height;
    std::vector<uint8_t> y, cb, cr;
    FramePlanes planes;
    Picture(int w, int h, int encodeWidth, int encodeHeight)
        : width(w),
          height(h),
          y(size_t(encodeWidth) * encodeHeight),
          cb(size_t(encodeWidth / 2) * (encodeHeight / 2)),
          cr(size_t(encodeWidth / 2) * (encodeHeight / 2)) {
        planes = {y.data(), cb.data(), cr.data()};
        Sequence.EncodeWidth = encodeWidth;
        Sequence.EncodeHeight = encodeHeight;
        Sequence.ChromaWidth = encodeWidth / 2;
        Sequence.ChromaHeight = encodeHeight / 2;
        EncoderSettings.horizontalSize = w;
        EncoderSettings.verticalSize = h;
    }
    void Fill(int luma, int blue, int red) {
        std::fill(y.begin(), y.end(), uint8_t(luma));
        std::fill(cb.begin(), cb.end(), uint8_t(blue));
        std::fill(cr.begin(), cr.end(), uint8_t(red));
    }
    void Randomise(unsigned seed) {
        std::mt19937 rng(seed);
        for (auto* p : {&y, &cb, &cr})
            for (auto& v : *p) v = uint8_t(rng());
    }
    size_t Rgb24Size() const { return size_t(4 * ((3 * width + 3) / 4)) * height; }
    size_t Index8Size() const { return size_t(4 * ((width + 3) / 4)) * height; }
};

class Preview : public ::testing::Test {
protected:
    void TearDown() override {
        preview_init(false, PreviewKernelSet);
        PreviewConversion = PreviewConversionState{};
        PreviewConverterSet = {ConvertFrameRgb24, ConvertFieldRgb24First, ConvertFieldRgb24Second};
        PreviewPictures.OutputPreviewBuffer = nullptr;
        EncoderSettings.horizontalSize = 352;
        EncoderSettings.verticalSize = 240;
    }
};

}  // namespace

TEST_F(Preview, BlackAndWhiteGiveTheStudioRangeColours) {
    for (bool simd : {false, true}) {
        preview_init(simd, PreviewKernelSet);
        Picture p(16, 2, 16, 16);
        std::vector<uint8_t> rgb(p.Rgb24Size());
        int done = 0;
        p.Fill(16, 128, 128);
        ConvertYuvToRgbPreview(p.planes, rgb.data(), &done);
        EXPECT_EQ(done, 1);
        for (int x = 0; x < 16; ++x) {
            EXPECT_EQ(rgb[3 * x], 0);
            EXPECT_EQ(rgb[3 * x + 1], 1);
            EXPECT_EQ(rgb[3 * x + 2], 0);
        }
        p.Fill(235, 128, 128);
        ConvertYuvToRgbPreview(p.planes, rgb.data(), &done);
        EXPECT_EQ(rgb[0], 254);
        EXPECT_EQ(rgb[1], 255);
        EXPECT_EQ(rgb[2], 254);
        EXPECT_EQ(PreviewPictures.PreviewPictureWidth, 16);
        EXPECT_EQ(PreviewPictures.PreviewPictureHeight, 2);
        // Extreme chroma saturates instead of wrapping.
        p.Fill(16, 255, 0);
        ConvertYuvToRgbPreview(p.planes, rgb.data(), &done);
        EXPECT_EQ(rgb[0], 255);
        EXPECT_EQ(rgb[2], 0);
    }
    Picture p(16, 2, 16, 16);
    int done = 7;
    ConvertYuvToRgbPreview(p.planes, nullptr, &done);
    EXPECT_EQ(done, 0);
    ConvertYuvToRgbPreview(FramePlanes{}, p.y.data(), &done);
    EXPECT_EQ(done, 0);
}

TEST_F(Preview, Sse2RowsMatchPlainRows) {
    PreviewKernels plain, simd;
    preview_init(false, plain);
    preview_init(true, simd);
    std::mt19937 rng(5);
    std::vector<uint8_t> y(400), cb(200), cr(200);
    for (int width = 1; width <= 360; width += (width < 40 ? 1 : 37)) {
        for (int round = 0; round < 4; ++round) {
            for (auto& v : y) v = uint8_t(rng());
            for (auto& v : cb) v = uint8_t(round == 3 ? (rng() & 1) * 255 : rng());
            for (auto& v : cr) v = uint8_t(round == 3 ? (rng() & 1) * 255 : rng());
            std::vector<uint8_t> a(3 * width), b(3 * width);
            plain.convertRow(y.data(), cb.data(), cr.data(), a.data(), width);
            simd.convertRow(y.data(), cb.data(), cr.data(), b.data(), width);
            ASSERT_EQ(a, b) << "width " << width;
        }
    }
}

TEST_F(Preview, OddAndLargePicturesStayInsideTheirBuffers) {
    // Exact-size buffers: the address sanitizer catches any access outside them.
    for (auto [w, h, ew, eh] : {std::tuple{350, 240, 352, 240}, std::tuple{1920, 1080, 1920, 1088},
                                std::tuple{17, 3, 32, 16}}) {
        Picture p(w, h, ew, eh);
        p.Randomise(w);
        std::vector<uint8_t> plainRgb(p.Rgb24Size()), simdRgb(p.Rgb24Size());
        int done = 0;
        preview_init(false, PreviewKernelSet);
        ConvertYuvToRgbPreview(p.planes, plainRgb.data(), &done);
        preview_init(true, PreviewKernelSet);
        ConvertYuvToRgbPreview(p.planes, simdRgb.data(), &done);
        EXPECT_EQ(done, 1);
        EXPECT_EQ(plainRgb, simdRgb) << w << "x" << h;
        // Bottom-up: the first picture line is the last bitmap row.
        const size_t row = size_t(4 * ((3 * w + 3) / 4));
        std::vector<uint8_t> line(3 * w);
        ConvertPreviewRowPlain(p.y.data(), p.cb.data(), p.cr.data(), line.data(), w);
        EXPECT_TRUE(std::equal(line.begin(), line.end(), plainRgb.begin() + (h - 1) * row));

        std::vector<uint8_t> fields[2] = {std::vector<uint8_t>(p.Rgb24Size()), std::vector<uint8_t>(p.Rgb24Size())};
        ConvertFieldRgb24First(p.planes, fields[0].data());
        ConvertFieldRgb24Second(p.planes, fields[1].data());
        std::vector<uint8_t> indices(p.Index8Size());
        PreviewConversion.bitmap = indices.data();
        ConvertFrameDither8(p.planes);
        PreviewConversion.bitmap = nullptr;
        ConvertFieldDither8First(p.planes, indices.data());
        ConvertFieldDither8Second(p.planes, indices.data());
        for (uint8_t v : indices) ASSERT_LT(v, 224);
    }
}

TEST_F(Preview, DitherLevels) {
    for (int secondLine = 0; secondLine < 2; ++secondLine)
        for (int column = 0; column < 4; ++column) {
            // Luma 0 and 255 are levels 1 and 14 whatever the offset.
            EXPECT_EQ(DitherIndex(0, 128, 128, column, secondLine) / 16, 0);
            EXPECT_EQ(DitherIndex(255, 128, 128, column, secondLine) / 16, 13);
            // Chroma halves of 137 and above are the top level; 0 the bottom one.
            EXPECT_EQ(DitherIndex(128, 255, 0, column, secondLine) % 16, 4 * 3 + 0);
            EXPECT_EQ(DitherIndex(128, 0, 255, column, secondLine) % 16, 3);
        }
    // The offsets dither a mid grey over neighbouring levels.
    const int first[4] = {DitherIndex(120, 128, 128, 0, false), DitherIndex(120, 128, 128, 1, false),
                          DitherIndex(120, 128, 128, 2, false), DitherIndex(120, 128, 128, 3, false)};
    EXPECT_EQ(first[0] / 16, 6);  // 120 - 8 = 112: level 7
    EXPECT_EQ(first[1] / 16, 6);  // 120: level 7
    EXPECT_EQ(first[2] / 16, 6);  // 114
    EXPECT_EQ(first[0] % 16, 4 * 1 + 1);  // chroma halves 64: level 1
    EXPECT_EQ(first[3] % 16, 4 * 2 + 2);  // 64 + 10: level 2
    EXPECT_EQ(DitherIndex(120, 128, 128, 0, true) / 16, 6);  // 124
    EXPECT_EQ(DitherIndex(126, 128, 128, 2, true) / 16, 7);  // 132: level 8

    // The frame converter: bottom-up, lines in pairs, one chroma line per pair.
    Picture p(6, 4, 16, 16);
    p.Fill(120, 128, 128);
    for (int x = 0; x < 16; ++x) p.y[16 + x] = 200;  // picture line 1
    p.cb[8] = 30;                                   // chroma line 1 (picture lines 2 and 3), first sample
    std::vector<uint8_t> indices(p.Index8Size());
    PreviewConversion.bitmap = indices.data();
    ConvertFrameDither8(p.planes);
    const int row = 8;
    for (int x = 0; x < 6; ++x) {
        EXPECT_EQ(indices[3 * row + x], DitherIndex(120, 128, 128, x, false)) << x;
        EXPECT_EQ(indices[2 * row + x], DitherIndex(200, 128, 128, x, true)) << x;
        EXPECT_EQ(indices[1 * row + x], DitherIndex(120, x < 2 ? 30 : 128, 128, x, false)) << x;
        EXPECT_EQ(indices[0 * row + x], DitherIndex(120, x < 2 ? 30 : 128, 128, x, true)) << x;
    }
}

TEST_F(Preview, FieldsGoToTheirBuffersInFieldOrder) {
    // Even lines dark, odd lines bright: each field converter shows one of them.
    Picture p(8, 8, 16, 16);
    p.Fill(128, 128, 128);
    for (int line = 0; line < 8; ++line)
        for (int x = 0; x < 16; ++x) p.y[line * 16 + x] = line % 2 ? 200 : 40;
    std::vector<uint8_t> a(p.Rgb24Size()), b(p.Rgb24Size());
    PreviewConversion.frameFlag = 0;
    PreviewConversion.fieldBuffers[0] = a.data();
    PreviewConversion.fieldBuffers[1] = b.data();
    const int dark = (298 * 40) >> 8, bright = (298 * 200) >> 8;

    PreviewConversion.pictureStructure = 2;
    ConvertPictureForPreview(p.planes);
    for (size_t i = 0; i < a.size(); i += 3) {
        ASSERT_EQ(a[i], dark) << i;
        ASSERT_EQ(b[i], bright) << i;
    }
    PreviewConversion.pictureStructure = 3;
    PreviewConversion.topFieldFirst = 0;
    ConvertPictureForPreview(p.planes);
    EXPECT_EQ(a[0], bright);
    EXPECT_EQ(b[0], dark);
    PreviewConversion.topFieldFirst = 1;
    ConvertPictureForPreview(p.planes);
    EXPECT_EQ(a[0], dark);

    // Between field lines the luma is their mean.
    for (int x = 0; x < 16; ++x) p.y[2 * 16 + x] = 140;
    ConvertFieldRgb24First(p.planes, a.data());
    const size_t row = 24;
    EXPECT_EQ(a[7 * row], dark);                  // picture row 0: line 0
    EXPECT_EQ(a[6 * row], (298 * 90) >> 8);       // row 1: (40 + 140) / 2
    EXPECT_EQ(a[5 * row], (298 * 140) >> 8);      // row 2: line 2
    EXPECT_EQ(a[0 * row], dark);                  // last row: lines 6 and 4
}

TEST_F(Preview, DisplayDepthChoosesTheConverters) {
    Picture p(8, 4, 16, 16);
    p.Fill(235, 128, 128);
    std::vector<uint8_t> bitmap(p.Rgb24Size());
    PreviewPictures.OutputPreviewBuffer = bitmap.data();
    PreviewPictures.OutputPreviewReady = 0;

    EXPECT_EQ(InitDisplayConversion(8), 256);
    ConvertPictureForPreview(p.planes);
    EXPECT_EQ(bitmap[0], DitherIndex(235, 128, 128, 0, true));

    EXPECT_EQ(InitDisplayConversion(24), 256);
    ConvertPictureForPreview(p.planes);
    EXPECT_EQ(bitmap[0], 254);
    EXPECT_EQ(PreviewPictures.OutputPreviewReady, 1);

    // An unsupported depth is reported and keeps working true-colour converters.
    platform::ScriptedMessageBoxes boxes;
    std::fill(bitmap.begin(), bitmap.end(), 0);
    EXPECT_EQ(InitDisplayConversion(16), 256);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_NE(boxes.Texts()[0].find("Unsupported dither type"), std::string::npos);
    ConvertPictureForPreview(p.planes);
    EXPECT_EQ(bitmap[0], 254);
}
