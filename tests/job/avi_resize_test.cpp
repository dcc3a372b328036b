// Frames of another size than the encoding: decoded, pre-filtered and scaled by
// the resize library, they keep the picture in place and close to ffmpeg's own
// scaling of the same source.
#include "job/AviSource.h"

#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/Report.h"
#include "tests/platform/avi_media_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

namespace {

// A textured red picture with a white marker in its top-left corner and a green
// block right of the middle: any flip, mirror or channel swap shows.
std::string Pattern(int width, int height) {
    return "-f lavfi -i color=size=" + std::to_string(width) + "x" + std::to_string(height) +
           ":rate=25,trim=end_frame=2,format=rgb24,"
           "geq=r='215+40*sin(X/9)*cos(Y/7)':g='25+20*sin(X/5+Y/8)':b='20+15*cos(X/6)',"
           "drawbox=x=0:y=0:w=iw/8:h=ih/8:color=white:t=fill,"
           "drawbox=x=iw*5/8:y=ih*3/8:w=iw/4:h=ih/4:color=0x00C000:t=fill";
}

struct Rgb {
    int b, g, r;
};

class AviResizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!avitest::HaveFfmpeg()) GTEST_SKIP() << "ffmpeg is not installed";
        EncoderSettings = EncoderSettingsRecord();
        EncoderSettings.inputType = 2;
        BatchMode = 0;
    }
    void TearDown() override { AviCloseInputFile(); }

    // Pixel (x, y), y counted from the top, of a bottom-up 24-bit picture.
    static Rgb PixelAt(const uint8_t* pixels, int width, int height, int x, int y) {
        const uint8_t* p = pixels + size_t(height - 1 - y) * ((size_t(width) * 3 + 3) / 4 * 4) + size_t(x) * 3;
        return {p[0], p[1], p[2]};
    }

    void CheckScaled(int sw, int sh, int dw, int dh, int mode) {
        SCOPED_TRACE(std::to_string(sw) + "x" + std::to_string(sh) + " to " + std::to_string(dw) + "x" +
                     std::to_string(dh));
        auto path = dir / "pattern.avi";
        ASSERT_TRUE(avitest::MakeMedia(path, Pattern(sw, sh) + " -c:v rawvideo -pix_fmt bgr24"));
        EncoderSettings.horizontalSize = dw;
        EncoderSettings.verticalSize = dh;
        ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
        EXPECT_EQ(AviInput.AviResizeMode, mode);
        uint8_t* dib = AviReadVideoFrame(AviInput.AviFrameGetter.get(), 1);
        ASSERT_TRUE(dib);
        platform::BitmapInfoHeader h = platform::BitmapInfoHeader::Load(dib);
        EXPECT_EQ(h.width, dw);
        EXPECT_EQ(h.height, dh);
        EXPECT_EQ(h.bitCount, 24);
        const uint8_t* pixels = dib + 40;

        // The marker stays top-left, the green block right of the middle, red stays red.
        Rgb corner = PixelAt(pixels, dw, dh, dw / 32, dh / 32);
        EXPECT_GT(corner.r, 230);
        EXPECT_GT(corner.g, 230);
        EXPECT_GT(corner.b, 230);
        Rgb mirrored = PixelAt(pixels, dw, dh, dw - 1 - dw / 32, dh - 1 - dh / 32);
        EXPECT_LT(mirrored.g, 100);
        Rgb green = PixelAt(pixels, dw, dh, dw * 3 / 4, dh / 2);
        EXPECT_GT(green.g, 150);
        EXPECT_LT(green.r, 60);
        Rgb red = PixelAt(pixels, dw, dh, dw / 3, dh * 3 / 4);
        EXPECT_GT(red.r, 150);
        EXPECT_LT(red.g, 70);
        EXPECT_LT(red.b, 70);

        // Close to ffmpeg's own scaling of the same frame.
        std::string ref = avitest::FfmpegOutput(
            path, "-vf select='eq(n\\,1)',scale=" + std::to_string(dw) + ":" + std::to_string(dh) +
                      ":flags=bicubic -frames:v 1 -f rawvideo -pix_fmt bgr24");
        ASSERT_EQ(ref.size(), size_t(dw) * dh * 3);
        auto expected = avitest::BottomUpRows(reinterpret_cast<const uint8_t*>(ref.data()), dw, dh);
        double squared = 0;
        size_t row = (size_t(dw) * 3 + 3) / 4 * 4;
        for (int y = 0; y < dh; ++y)
            for (int x = 0; x < dw * 3; ++x) {
                double d = double(pixels[size_t(y) * row + size_t(x)]) - expected[size_t(y) * row + size_t(x)];
                squared += d * d;
            }
        double mse = squared / (double(dw) * dh * 3);
        double psnr = mse > 0 ? 10 * std::log10(255.0 * 255.0 / mse) : 99;
        EXPECT_GT(psnr, 30.0);
        AviCloseInputFile();
    }

    testsupport::TempDir dir;
    platform::ScriptedMessageBoxes boxes;
};

TEST_F(AviResizeTest, HighDefinitionToPal) { CheckScaled(1920, 1080, 720, 576, 1); }
TEST_F(AviResizeTest, WidthOnlyToNtsc) { CheckScaled(640, 480, 720, 480, 2); }
TEST_F(AviResizeTest, SupersamplingBelowHalfSize) { CheckScaled(800, 600, 352, 240, 1); }

// With deinterlacing on, the reader blends the fields itself before scaling,
// and the engine is told so.
TEST_F(AviResizeTest, DeinterlacedBeforeScaling) {
    EncoderSettings.deinterlace = 1;
    CheckScaled(720, 576, 352, 288, 1);
    EncoderSettings.horizontalSize = 352;
    EncoderSettings.verticalSize = 576;
    auto path = dir / "pattern.avi";
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    EXPECT_EQ(AviInput.AviDeinterlacesFrames, 0);  // only the width is scaled
    AviCloseInputFile();
    EncoderSettings.verticalSize = 288;
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    EXPECT_EQ(AviInput.AviDeinterlacesFrames, 1);
}

// The read-ahead worker scales frames too: the same picture as on the engine thread.
TEST_F(AviResizeTest, WorkerScalesTheSame) {
    auto path = dir / "pattern.avi";
    ASSERT_TRUE(avitest::MakeMedia(path, Pattern(320, 240) + " -c:v rawvideo -pix_fmt bgr24"));
    EncoderSettings.horizontalSize = 352;
    EncoderSettings.verticalSize = 288;
    ASSERT_EQ(AviOpenInputFile(path.string().c_str()), 1);
    uint8_t* mine = AviReadVideoFrame(AviInput.AviFrameGetter.get(), 0);
    ASSERT_TRUE(mine);
    std::vector<uint8_t> copy(mine, mine + 40 + 352 * 3 * 288);
    uint8_t* theirs = nullptr;
    std::thread worker([&] { theirs = AviReadVideoFrame(AviInput.AviFrameGetter.get(), 0); });
    worker.join();
    ASSERT_TRUE(theirs);
    EXPECT_TRUE(std::equal(copy.begin(), copy.end(), theirs));
    EXPECT_EQ(AviTakeReadError(), "");
    EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
