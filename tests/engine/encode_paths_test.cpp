// End-to-end paths of a video pass: the constant-rate budget and vbv_delay,
// the VBV statistics file, AVI input with frame-rate conversion, and the
// failures of the output and statistics files.
#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>

#include "engine/Encoder.h"
#include "engine/EngineState.h"
#include "engine/Threads.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/engine/encode_util.h"
#include "tests/support/TestSupport.h"

using namespace encodetest;
using testsupport::HaveTool;
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

// vbv_delay of every picture header, in stream order.
std::vector<int> VbvDelays(const std::string& s) {
    std::vector<int> delays;
    for (size_t i = 0; i + 8 < s.size(); ++i) {
        if (s[i] != 0 || s[i + 1] != 0 || s[i + 2] != 1 || s[i + 3] != 0) continue;
        const uint32_t w = (uint32_t(uint8_t(s[i + 4])) << 24) | (uint32_t(uint8_t(s[i + 5])) << 16) |
                           (uint32_t(uint8_t(s[i + 6])) << 8) | uint8_t(s[i + 7]);
        delays.push_back(static_cast<int>((w >> 3) & 0xFFFF));
    }
    return delays;
}

void Mpeg2Pal() {
    EncoderSettings.mpeg1 = 0;
    EncoderSettings.streamType = kStreamTypeMpeg2;
    EncoderSettings.videoFormat = 1;
    EncoderSettings.performanceMode = 1;
}

TEST(EncodePaths, ConstantRateKeepsTheBudgetAndValidVbvDelays) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const int frames = 50;
    const std::string pattern = MakeRawFrames(dir.path(), 352, 288, frames);
    EncodeResult r = Encode(pattern, dir / "cbr.m2v", 352, 288, frames, [] {
        Mpeg2Pal();
        EncoderSettings.bitRate = 1150000.0;
        EncoderSettings.writeVbvStatistics = 0;
    });
    ASSERT_EQ(r.begin, 0);
    const double expected = 1150000.0 * frames / 25.0;
    EXPECT_NEAR(r.bytes.size() * 8.0 / expected, 1.0, 0.02);
    auto delays = VbvDelays(r.bytes);
    ASSERT_EQ(static_cast<int>(delays.size()), frames);
    for (int d : delays) {
        EXPECT_GT(d, 0);
        EXPECT_LT(d, 0xFFFF);
    }
    EXPECT_EQ(DecodeErrors(dir / "cbr.m2v"), "");
}

TEST(EncodePaths, VariableRateMarksEveryPictureAndWritesVbvStatistics) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const int frames = 9;
    const std::string pattern = MakeRawFrames(dir.path(), 352, 288, frames);
    const auto stats = dir / "vbvstat.txt";
    EncodeResult r = Encode(pattern, dir / "vbr.m2v", 352, 288, frames, [&] {
        Mpeg2Pal();
        EncoderSettings.rateControl = kRateVariable;
        EncoderSettings.vbrMode = kVbrConstantQuant;
        EncoderSettings.constantQuantScale = 6;
        EncoderSettings.maxBitRate = 4000000.0;
        EncoderSettings.writeVbvStatistics = 1;
        EncoderSettings.vbvStatisticsFileName = stats.string();
    });
    ASSERT_EQ(r.begin, 0);
    EncoderSettings.writeVbvStatistics = 0;
    for (int d : VbvDelays(r.bytes)) EXPECT_EQ(d, 0xFFFF);
    std::istringstream in(ReadFile(stats));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    ASSERT_EQ(static_cast<int>(lines.size()), 2 + (frames - 1) + 1);
    EXPECT_EQ(lines[0], "VBV STAT FILE FORMAT VERSION 1");
    EXPECT_EQ(lines[1], "encoding video file " + (dir / "vbr.m2v").string());
    EXPECT_EQ(lines.back(), "VBV STAT FILE END");
    int index, display, input, type, skipped;
    ASSERT_EQ(std::sscanf(lines[2].c_str(), "%d %d %d %d %d", &index, &display, &input, &type, &skipped), 5);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(type, I_PICTURE);
}

// The average-rate mode without VBV control keeps its average on moving
// detail: the fractal's slow zoom and two pans over its first picture, 250
// pictures each.
TEST(EncodePaths, AverageRateWithoutVbvKeepsItsAverageOnMovingClips) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    for (const char* clip : {"mandelbrot=size=352x288", "mandelbrot=size=704x576,loop=-1:1,crop=352:288:n*1.2:n*0.6",
                             "mandelbrot=size=704x576:start_scale=0.3,loop=-1:1,crop=352:288:n*1.2:n*0.6"}) {
        ASSERT_EQ(RunCommand(std::string("ffmpeg -v error -y -f lavfi -i \"") + clip +
                             "\" -frames:v 250 -pix_fmt yuv420p -c:v rawvideo -f image2 -start_number 0 '" +
                             (dir / "frame%d.yuv").string() + "'"),
                  0);
        EncodeResult r = Encode((dir / "frame%d").string(), dir / "vbr.m2v", 352, 288, 250, [&] {
            Mpeg2Pal();
            EncoderSettings.rateControl = kRateVariable;
            EncoderSettings.vbrMode = kVbrAverageNoVbv;
            EncoderSettings.averageBitRate = 1500000.0;
            EncoderSettings.maxBitRate = 4000000.0;
        });
        ASSERT_EQ(r.pictures, 250) << clip;
        EXPECT_NEAR(r.bytes.size() * 8.0 / 10 / 1500000.0, 1.0, 0.03) << clip;  // 10 s
        EXPECT_EQ(DecodeErrors(dir / "vbr.m2v"), "") << clip;
    }
}

TEST(EncodePaths, AviInputConvertsTheFrameRateToTheEndOfTheFile) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    platform::ScriptedMessageBoxes boxes;
    const auto avi = dir / "in.avi";
    ASSERT_EQ(RunCommand("ffmpeg -v error -f lavfi -i testsrc2=size=352x288:rate=25 -frames:v 10 -c:v rawvideo "
                         "-pix_fmt bgr24 '" + avi.string() + "'"),
              0);
    EncodeResult r = Encode(avi.string(), dir / "conv.m2v", 352, 288, 1, [&] {
        Mpeg2Pal();
        EncoderSettings.inputType = 2;
        EncoderSettings.frameRateCode = 4;  // 30000/1001 from 25
        EncoderSettings.videoFormat = 2;
        EncoderSettings.verticalSize = 288;
        EncoderSettings.keepOriginalDuration = 1;
    });
    for (const auto& b : boxes.Shown())
        if (b.buttons != platform::MbButtons::YesNo) ADD_FAILURE() << b.text;
    ASSERT_EQ(r.begin, 0);
    // 10 input frames x (30000 / 1001) / 25 = 11.99 pictures, + 0.4 truncated: 12.
    EXPECT_EQ(Sequence.OutputFrameCount, 12);
    EXPECT_EQ(r.pictures, 12);
    EXPECT_EQ(ProbeFrameCount(dir / "conv.m2v"), 12);
    EXPECT_EQ(DecodeErrors(dir / "conv.m2v"), "");
}

TEST(EncodePaths, OutputAndStatisticsFileFailures) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    const std::string pattern = MakeRawFrames(dir.path(), 352, 288, 3);
    {
        platform::ScriptedMessageBoxes boxes;
        const auto out = dir / "no" / "such" / "out.m2v";
        EncodeResult r = Encode(pattern, out, 352, 288, 3, Mpeg2Pal);
        EXPECT_EQ(r.begin, -1);
        EXPECT_EQ(r.end, -1);
        ASSERT_FALSE(boxes.Shown().empty());
        EXPECT_EQ(boxes.Shown().front().text,
                  "Program can't create output file " + out.string() +
                      " \nIllegal directory or file name. \nPlease correct directory or file name. ");
    }
    {
        platform::ScriptedMessageBoxes boxes;
        const auto out = dir / "stats.m2v";
        EncodeResult r = Encode(pattern, out, 352, 288, 3, [&] {
            Mpeg2Pal();
            EncoderSettings.qualityStatisticsMode = 2;
            EncoderSettings.statisticsFileName = (dir / "missing" / "stats.txt").string();
        });
        EXPECT_EQ(r.begin, -1);
        EXPECT_TRUE(std::filesystem::exists(out));  // created, then closed by the end step
        ASSERT_FALSE(boxes.Shown().empty());
        EXPECT_EQ(boxes.Shown().front().text,
                  "Couldn't create statistics output file " + (dir / "missing" / "stats.txt").string());
    }
    {
        // A matrix file that cannot be read (named after the set-up's profile check) stops the set-up.
        platform::ScriptedMessageBoxes boxes;
        static void (*readProfile)(const char*) = EngineJob.readProfile;
        EngineJob.readProfile = [](const char* name) {
            readProfile(name);
            EncoderSettings.intraMatrixFileName = "/no/such/matrix.txt";
        };
        EXPECT_EQ(Encode(pattern, dir / "matrix.m2v", 352, 288, 3, Mpeg2Pal).begin, -1);
        EngineJob.readProfile = readProfile;
        EXPECT_FALSE(std::filesystem::exists(dir / "matrix.m2v"));
        EXPECT_EQ(boxes.Shown().back().text, "Couldn't open quant matrix file /no/such/matrix.txt");
    }
    {
        // No pictures at all is refused at set-up, not encoded as an empty stream.
        platform::ScriptedMessageBoxes boxes;
        EncodeResult r = Encode(pattern, dir / "empty.m2v", 352, 288, 0, Mpeg2Pal);
        EXPECT_EQ(r.begin, -1);
        ASSERT_FALSE(boxes.Shown().empty());
        EXPECT_NE(boxes.Shown().front().text.find("There are a maximum of 0 frames."), std::string::npos);
    }
    if (std::filesystem::exists("/dev/full")) {
        platform::ScriptedMessageBoxes boxes;
        EncodeAbortFlag = 0;
        EncodeResult r = Encode(pattern, "/dev/full", 352, 288, 3, Mpeg2Pal);
        EXPECT_EQ(EncodeAbortFlag, 1);
        EXPECT_EQ(r.end, -1);
        EXPECT_FALSE(boxes.Shown().empty());
        EncodeAbortFlag = 0;
    }
}

TEST(EncodePaths, AMissingOrShortFrameFailsAlikeWithAndWithoutThreads) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    TempDir dir;
    const int frames = 10;
    const std::string pattern = MakeRawFrames(dir.path(), 352, 288, frames);
    const std::string name4 = (dir / "frame4.yuv").string(), name5 = (dir / "frame5.yuv").string();
    ASSERT_TRUE(std::filesystem::exists(name4)) << pattern;
    const std::string frame5 = ReadFile(name5);
    // Frames 4 and 5 are read ahead, and searched ahead, while the pictures before them are coded.
    for (int damage = 0; damage < 2; ++damage) {
        if (damage == 0) std::filesystem::rename(name4, dir / "kept4");
        else testsupport::WriteFile(name5, frame5.substr(0, frame5.size() - 100));
        std::vector<std::string> texts[2];
        EncodeResult r[2];
        for (int threaded = 0; threaded < 2; ++threaded) {
            platform::ScriptedMessageBoxes boxes;
            r[threaded] = Encode(pattern, dir / "out.m2v", 352, 288, frames, [&] {
                Mpeg2Pal();
                EncoderSettings.ipDistance = 3;
                MeThreadCount = threaded ? 4 : 1;
                ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = threaded;
            });
            for (const auto& b : boxes.Shown()) texts[threaded].push_back(b.text);
        }
        MeThreadCount = 1;
        ThreadReadFlag = ThreadDrawFlag = ThreadEncodeFlag = ThreadTablesFlag = 0;
        ASSERT_FALSE(texts[0].empty());
        const std::string expected = damage == 0 ? "Couldn't open " + name4 + "\n" : "Couldn't read " + name5;
        EXPECT_EQ(texts[0].front().substr(0, expected.size()), expected);
        EXPECT_EQ(texts[1], texts[0]) << "damage " << damage;
        EXPECT_EQ(r[1].pictures, r[0].pictures);
        EXPECT_EQ(r[1].failedPictures, r[0].failedPictures);
        if (damage == 0) std::filesystem::rename(dir / "kept4", name4);
    }
}

}  // namespace
