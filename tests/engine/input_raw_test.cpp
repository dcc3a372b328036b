// Raw YUV pictures: files written here and by ffmpeg read back exactly, edge
// padding, short and missing files, raw names and frame-number mapping.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "engine/Input.h"
#include "platform/MessageBox.h"
#include "settings/Report.h"
#include "tests/engine/input_test_frames.h"
#include "tests/support/TestSupport.h"

using inputtest::SetPictureSize;
using inputtest::Store;
using testsupport::TempDir;

namespace {

// Checks that the plane holds `data` (width x height) and edge replication around it.
void ExpectPlane(const uint8_t* plane, const std::string& data, int w, int h, int line, int padded) {
    for (int y = 0; y < padded; ++y)
        for (int x = 0; x < line; ++x) {
            const int sy = std::min(y, h - 1), sx = std::min(x, w - 1);
            ASSERT_EQ(plane[y * line + x], static_cast<uint8_t>(data[sy * w + sx])) << x << "," << y;
        }
}

void ExpectPicture(const Store& s, const std::string& bytes, int w, int h) {
    const size_t ySize = static_cast<size_t>(w) * h, cSize = static_cast<size_t>(w / 2) * (h / 2);
    ASSERT_GE(bytes.size(), ySize + 2 * cSize);
    ExpectPlane(s.planes.y, bytes.substr(0, ySize), w, h, Sequence.EncodeWidth, Sequence.EncodeHeight);
    ExpectPlane(s.planes.cb, bytes.substr(ySize, cSize), w / 2, h / 2, Sequence.ChromaWidth, Sequence.ChromaHeight);
    ExpectPlane(s.planes.cr, bytes.substr(ySize + cSize, cSize), w / 2, h / 2, Sequence.ChromaWidth,
                Sequence.ChromaHeight);
}

std::string RandomBytes(size_t n, unsigned seed) {
    std::mt19937 rng(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(rng());
    return s;
}

}  // namespace

TEST(InputRaw, ThreeFilesAndOneFileReadBackWithPadding) {
    TempDir dir;
    for (auto [w, h] : {std::pair{352, 288}, std::pair{350, 240}, std::pair{33, 17}}) {
        SetPictureSize(w, h);
        const size_t ySize = static_cast<size_t>(w) * h, cSize = static_cast<size_t>(w / 2) * (h / 2);
        const std::string bytes = RandomBytes(ySize + 2 * cSize, w + h);
        const std::string base = (dir / "pic").string();
        testsupport::WriteFile(base + ".Y", bytes.substr(0, ySize));
        testsupport::WriteFile(base + ".U", bytes.substr(ySize, cSize));
        testsupport::WriteFile(base + ".V", bytes.substr(ySize + cSize));
        testsupport::WriteFile(base + ".yuv", bytes);
        for (int type : {0, 1}) {
            EncoderSettings.inputType = type;
            Store s;
            EXPECT_EQ(ReadInputFrame(base, s.planes), 0);
            ExpectPicture(s, bytes, w, h);
        }
    }
}

TEST(InputRaw, FfmpegPicturesReadBackExactly) {
    if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    for (auto [w, h] : {std::pair{352, 288}, std::pair{350, 240}}) {
        SetPictureSize(w, h);
        const std::string size = std::to_string(w) + "x" + std::to_string(h);
        const std::string src = "-v error -f lavfi -i testsrc=size=" + size + " -frames:v 3 -pix_fmt yuv420p ";
        ASSERT_EQ(testsupport::RunCommand("cd " + dir.path().string() + " && ffmpeg " + src + "-y -f rawvideo all.yuv && "
                                          "ffmpeg " + src + "-c:v rawvideo -y -f image2 frame%d.yuv"),
                  0);
        const std::string all = testsupport::ReadFile(dir / "all.yuv");
        const size_t pictureBytes = static_cast<size_t>(w) * h + 2 * static_cast<size_t>(w / 2) * (h / 2);
        ASSERT_EQ(all.size(), 3 * pictureBytes);
        EncoderSettings.inputType = 1;
        for (int n = 1; n <= 3; ++n) {
            Store s;
            ReadInputFrame(FormatRawInputName((dir / "frame%d").string(), n), s.planes);
            ExpectPicture(s, all.substr((n - 1) * pictureBytes, pictureBytes), w, h);
        }
    }
}

TEST(InputRaw, MissingAndShortFilesAreReported) {
    TempDir dir;
    SetPictureSize(32, 16);
    platform::ScriptedMessageBoxes boxes;
    const std::string base = (dir / "p").string();
    EncoderSettings.inputType = 1;
    Store s;
    EXPECT_EQ(ReadInputFrame(base, s.planes), -1);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_EQ(boxes.Texts()[0], "Couldn't open " + base + ".yuv\n");

    // One byte short of the last chroma line.
    testsupport::WriteFile(base + ".yuv", std::string(32 * 16 + 2 * 16 * 8 - 1, 'a'));
    boxes.Clear();
    EXPECT_EQ(ReadInputFrame(base, s.planes), -1);
    ASSERT_EQ(boxes.Texts().size(), 1u);
    EXPECT_NE(boxes.Texts()[0].find("Couldn't read " + base + ".yuv"), std::string::npos);

    EncoderSettings.inputType = 0;
    testsupport::WriteFile(base + ".Y", std::string(32 * 16, 'a'));
    testsupport::WriteFile(base + ".U", std::string(16 * 8, 'b'));
    boxes.Clear();
    EXPECT_EQ(ReadInputFrame(base, s.planes), -1);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Couldn't open " + base + ".V\n"});
}

TEST(InputRaw, RawNamesFillOneIntegerConversion) {
    EXPECT_EQ(FormatRawInputName("clip%d", 7), "clip7");
    EXPECT_EQ(FormatRawInputName("/a/b%05d.x", 42), "/a/b00042.x");
    EXPECT_EQ(FormatRawInputName("100%_%-3i|", 5), "100%_5  |");
    EXPECT_EQ(FormatRawInputName("%s%n%d%d", 3), "%s%n3%d");
    EXPECT_EQ(FormatRawInputName("%999d", 3), "%999d");
    EXPECT_EQ(FormatRawInputName("plain", 3), "plain");
    EXPECT_EQ(FormatRawInputName("end%", 3), "end%");
}

TEST(InputRaw, MapOutputToInputFrame) {
    FrameRateConversion = {};
    EXPECT_EQ(MapOutputToInputFrame(-4), -4);
    EXPECT_EQ(MapOutputToInputFrame(12345), 12345);
    FrameRateConversion = {1, 2.0, 0, 100};
    EXPECT_EQ(MapOutputToInputFrame(3), 6);
    FrameRateConversion.outputToInputRatio = 0.5;
    EXPECT_EQ(MapOutputToInputFrame(3), 2);
    // 25 frames/s input coded at 30000/1001: output-to-input = 25 * 1001 / 30000.
    FrameRateConversion = {1, 25.0 * 1001.0 / 30000.0, 10, 250};
    EXPECT_EQ(MapOutputToInputFrame(0), 10);   // before the first frame
    EXPECT_EQ(MapOutputToInputFrame(16), 13);  // 13.35 + 0.5
    EXPECT_EQ(MapOutputToInputFrame(17), 14);  // 14.18 + 0.5
    EXPECT_EQ(MapOutputToInputFrame(120), 100);  // 100.1 + 0.5
    EXPECT_EQ(MapOutputToInputFrame(298), 249);  // at the end frame: the last frame
    EXPECT_EQ(MapOutputToInputFrame(5000), 249);
    FrameRateConversion = {};
}
