// AVI frames into the frame store: conversion, palettes, size and format
// checks, black borders, preview-only reads, filters and padding.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "engine/Input.h"
#include "engine/Threads.h"
#include "job/AviSource.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/engine/input_test_frames.h"
#include "tests/support/TestSupport.h"

using inputtest::MakeBitmap;
using inputtest::SetPictureSize;
using inputtest::Store;
using inputtest::TestAviSource;

namespace {

class InputAviTest : public ::testing::Test {
protected:
    void SetUp() override {
        EncoderSettings.blackLevel = 16;
        EncoderSettings.inputType = 2;
        EncoderSettings.showInput = 0;
        EncoderSettings.topBorderLines = EncoderSettings.bottomBorderLines = 0;
        EncoderSettings.deinterlace = 0;
        EncoderSettings.medianFilter = EncoderSettings.lowPassFilter = 0;
        InputState.InputFilterOn = 0;
        InputState.InputPreviewOnly = 0;
        SelectEngineKernels(true, false);
        InitColorConversionTables();
        Use(37, 21);
    }
    void TearDown() override {
        FreeInputFrameCache();
        InputAvi = {};
        SelectEngineKernels(false, false);
        InputState.InputFilterOn = 0;
    }
    void Use(int w, int h) {
        SetPictureSize(w, h);
        TestAviSource::Install(0, 20);
        filterPlane.assign(static_cast<size_t>(Sequence.EncodeWidth) * Sequence.EncodeHeight + 32, 0);
        InputState.FilterPlane = filterPlane.data();
    }
    int Read(int frame, Store& s) {
        InputState.CurrentFrameNumber = frame;
        return ReadInputFrame("unused", s.planes);
    }
    // The store a frame's 24-bit bitmap converts to, padded to the coded size.
    static Store Expected(const std::vector<uint8_t>& bitmap) {
        Store s;
        const int w = EncoderSettings.horizontalSize, h = EncoderSettings.verticalSize;
        const InputKernels chosen = InputKernelSet;
        input_init(false, InputKernelSet);
        ConvertRgbFrameToYuv(bitmap.data() + 40, w, h, s.planes.y, Sequence.EncodeWidth, s.planes.cb, s.planes.cr,
                             Sequence.ChromaWidth, 16);
        InputKernelSet = chosen;
        PadFrameEdges(s.planes.y, w, h, Sequence.EncodeWidth, Sequence.EncodeHeight);
        PadFrameEdges(s.planes.cb, w / 2, h / 2, Sequence.ChromaWidth, Sequence.ChromaHeight);
        PadFrameEdges(s.planes.cr, w / 2, h / 2, Sequence.ChromaWidth, Sequence.ChromaHeight);
        return s;
    }
    std::vector<uint8_t> filterPlane;
};

}  // namespace

TEST_F(InputAviTest, FramesConvertAlikeWithAndWithoutSimd) {
    for (auto [w, h] : {std::pair{37, 21}, std::pair{350, 240}}) {
        Use(w, h);
        FrameRateConversion = {1, 0.5, 0, 20};
        Store simd, plain;
        Read(7, simd);
        EXPECT_EQ(CurrentPicture.CurrentInputFrame, 4);  // 7 * 0.5 + 0.5
        SelectEngineKernels(false, false);
        Read(7, plain);
        SelectEngineKernels(true, false);
        EXPECT_TRUE(simd == plain);
        EXPECT_TRUE(simd == Expected(inputtest::FrameBitmap(4, w, h)));
        FrameRateConversion = {};
    }
}

TEST_F(InputAviTest, PaletteFramesMatchTheirTrueColourTwin) {
    std::mt19937 rng(3);
    std::vector<uint32_t> palette(200);
    for (auto& e : palette) e = rng() & 0xFFFFFF;
    std::vector<uint8_t> indices(37 * 21);
    for (auto& i : indices) i = static_cast<uint8_t>(rng() % 200);
    auto at = [&](int x, int r) { return indices[r * 37 + x]; };
    TestAviSource::overrides[0] = MakeBitmap(37, 21, 8, palette, [&](int x, int r, int) { return at(x, r); });
    const auto twin = MakeBitmap(37, 21, 24, {}, [&](int x, int r, int c) {
        return static_cast<uint8_t>(palette[at(x, r)] >> (8 * c));
    });
    Store s;
    EXPECT_EQ(Read(0, s), 0);
    EXPECT_TRUE(s == Expected(twin));
}

TEST_F(InputAviTest, RefusedFramesAndMissingSource) {
    platform::ScriptedMessageBoxes boxes;
    Store s;
    TestAviSource::overrides[1] = inputtest::FrameBitmap(1, 37, 22);
    TestAviSource::overrides[2] = MakeBitmap(37, 21, 16, {}, [](int, int, int) { return uint8_t{0}; });
    TestAviSource::overrides[3] = MakeBitmap(37, 21, 8, {}, [](int, int, int) { return uint8_t{0}; });
    for (int f = 1; f <= 3; ++f) EXPECT_EQ(Read(f, s), -1);
    Read(25, s);  // past the end of the input
    InputAvi.isOpen = nullptr;
    Read(0, s);
    EXPECT_EQ(boxes.Texts(),
              (std::vector<std::string>{
                  "MPEG Image height greate then AVI file frame height.\n Size convertion not supported.",
                  " Cannot read image from AVI file. \n Unsupported image format. ",
                  " Cannot get image bitmap palette from AVI file. ",
                  "Failed to read frame 25 from AVI file.\n\nVFW file reader has exceeded the 2GB limitation\nthat "
                  "exists in AVI 1.0 file structure.\n\nPlease reduce the number of frames to encode.\n",
                  " AVI library has not been initialized "}));
    EXPECT_TRUE(s == Store());  // nothing was written
}

TEST_F(InputAviTest, BlackBordersAndPreviewOnlyReads) {
    TestAviSource::overrides[0] = MakeBitmap(37, 21, 24, {}, [](int, int, int) { return uint8_t{200}; });
    EncoderSettings.bottomBorderLines = 1;  // two lines at the bottom
    EncoderSettings.topBorderLines = 3;     // four at the top
    Store s;
    Read(0, s);
    for (int y = 0; y < 21; ++y) {
        const bool border = y < 4 || y >= 19;
        EXPECT_EQ(s.y[y * Sequence.EncodeWidth + 5], border ? 16 : 187) << y;  // 16 + ((219 * 200 + 128) >> 8)
    }

    EncoderSettings.showInput = 1;
    std::vector<uint8_t> previewBuffer(Sequence.EncodeWidth * Sequence.EncodeHeight * 3 + 32);
    PreviewPictures.InputPreviewBuffer = previewBuffer.data();
    InputState.InputPreviewOnly = 1;
    PreviewPictures.InputPreviewPixels = nullptr;
    Store untouched;
    Read(1, untouched);
    EXPECT_TRUE(untouched == Store());
    // The preview holds its own copy of the frame, borders included.
    auto shown = inputtest::FrameBitmap(1, 37, 21);
    ClearBorderRows(&shown[40], 112, 21, 1, 3, Sequence.EncodeHeight - 2);
    EXPECT_EQ(PreviewPictures.InputPreviewPixels, PreviewPictures.InputPreviewBuffer);
    EXPECT_TRUE(std::equal(shown.begin() + 40, shown.end(), previewBuffer.begin()));
    EXPECT_EQ(PreviewPictures.InputPreviewReady, 1);
    PreviewPictures.InputPreviewBuffer = nullptr;
    PreviewPictures.InputPreviewPixels = nullptr;
    EncoderSettings.showInput = 0;
}

TEST_F(InputAviTest, FiltersKeepAFlatPictureFlat) {
    TestAviSource::overrides[0] = MakeBitmap(37, 21, 24, {}, [](int, int, int) { return uint8_t{90}; });
    InputState.InputFilterOn = 1;
    for (int kind = 0; kind < 2; ++kind)
        for (int strength : {-5, 0, 30, 100, 140}) {
            EncoderSettings.medianFilter = kind == 0;
            EncoderSettings.lowPassFilter = kind == 1;
            EncoderSettings.medianFilterStrength = EncoderSettings.lowPassFilterStrength = strength;
            Store s;
            Read(0, s);
            const uint8_t flat = s.y[0];
            EXPECT_TRUE(std::all_of(s.y.begin(), s.y.begin() + Sequence.EncodeWidth * Sequence.EncodeHeight,
                                    [&](uint8_t v) { return v == flat; }))
                << kind << " " << strength;
            EXPECT_EQ(kind == 0 ? EncoderSettings.medianFilterStrength : EncoderSettings.lowPassFilterStrength,
                      std::clamp(strength, 0, 100));
        }
}

TEST(InputFilter, MedianAndLowPassValues) {
    // A lone bright sample: the full median removes it, the low-pass spreads it.
    const int line = 5;
    std::vector<uint8_t> src(line * 5, 10), out(line * 5, 0);
    src[2 * line + 2] = 250;
    MedianFilterPlane(src.data(), out.data(), 5, 5, line, 100);
    EXPECT_EQ(out[2 * line + 2], 10);
    MedianFilterPlane(src.data(), out.data(), 5, 5, line, 0);
    EXPECT_EQ(out[2 * line + 2], (10 * 28 + 250 * 100 + 64) >> 7);
    LowPassFilterPlane(src.data(), out.data(), 5, 5, line, 100);  // weights 113, 80, 252
    EXPECT_EQ(out[2 * line + 2], (113 * 40 + 80 * 40 + 4 * 63 * 250) >> 10);
    EXPECT_EQ(out[1 * line + 2], (113 * (30 + 250) + 80 * 40 + 4 * 63 * 10) >> 10);
    EXPECT_EQ(out[0 * line + 2], 10);

    // The median agrees with a sort on random pictures.
    std::mt19937 rng(9);
    std::vector<uint8_t> r(16 * 9);
    for (auto& v : r) v = static_cast<uint8_t>(rng());
    std::vector<uint8_t> m(r.size());
    MedianFilterPlane(r.data(), m.data(), 16, 9, 16, 100);
    for (int y = 1; y < 8; ++y)
        for (int x = 1; x < 15; ++x) {
            std::vector<int> n;
            for (int dy = -1; dy <= 1; ++dy)
                for (int dx = -1; dx <= 1; ++dx) n.push_back(r[(y + dy) * 16 + x + dx]);
            std::nth_element(n.begin(), n.begin() + 4, n.end());
            ASSERT_EQ(m[y * 16 + x], n[4]);
        }
}

// Through the job's AVI source: a file written by ffmpeg, read in coding
// order with read-ahead tasks on the pool, gives the frames the source hands
// out, converted.
TEST(InputAviSource, FfmpegFileThroughTheCache) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    testsupport::TempDir dir;
    const auto path = dir / "clip.avi";
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=25 -frames:v 9 "
                                      "-c:v rawvideo -pix_fmt bgr24 -y " + path.string()),
              0);
    platform::ScriptedMessageBoxes boxes;
    EncoderSettings = EncoderSettingsRecord();
    EncoderSettings.inputType = 2;
    EncoderSettings.blackLevel = 16;
    SetPictureSize(64, 48);
    ASSERT_NE(AviOpenInputFile(path.string().c_str()), 0);
    ASSERT_EQ(AviGetVideoEndFrame() - AviGetVideoStartFrame(), 9);
    std::vector<std::vector<uint8_t>> frames;
    for (int n = 0; n < 9; ++n) {
        const uint8_t* f = AviReadVideoFrame(AviInput.AviFrameGetter.get(), n);
        ASSERT_NE(f, nullptr);
        frames.emplace_back(f, f + 40 + 64 * 3 * 48);
    }
    FrameRateConversion = {};
    InputState.OldestNeededFrame = 0;
    WorkerPoolStopFlag = 0;
    AllocateInputFrameCache();
    ResetInputState();
    ASSERT_GE(StartWorkerThreads(), 2);
    struct PoolStop {
        ~PoolStop() {
            StopWorkerThreads();
            ThreadReadFlag = 0;
            FreeInputFrameCache();
            AviCloseInputFile();
        }
    } poolStop;
    ThreadReadFlag = 1;
    for (int n : {0, 3, 1, 2, 6, 4, 5, 8, 7}) {
        Store s;
        InputState.CurrentFrameNumber = n;
        ASSERT_EQ(ReadInputFrame("", s.planes), 0);
        Store expect;
        ConvertRgbFrameToYuv(frames[n].data() + 40, 64, 48, expect.planes.y, Sequence.EncodeWidth, expect.planes.cb,
                             expect.planes.cr, Sequence.ChromaWidth, 16);
        EXPECT_TRUE(s == expect) << n;
        InputState.OldestNeededFrame = std::max(0, n - 2);
        RunOnWorkerThread(InputReadAheadTask, &InputFrameCache);
    }
    EXPECT_TRUE(boxes.Texts().empty());
}
