// Whole jobs through RunEncoding: raw and AVI input, stops and failures,
// checked with ffmpeg's own decoding.
#include <gtest/gtest.h>

#include <string>

#include "engine/EngineState.h"
#include "job/JobDriver.h"
#include "job/Profile.h"
#include "platform/Format.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

std::string gTitle;
int gVideoCompleted = 0;

class JobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
        gTitle = "Tessmar";
        gVideoCompleted = 0;
        JobWindows = JobWindowHooks{};
        JobWindows.getMainTitle = [] { return gTitle; };
        JobWindows.setMainTitle = [](const std::string& t) { gTitle = t; };
        JobWindows.showVideoCompleted = [] { ++gVideoCompleted; };
        SetMessagePumpHooks({});
        BatchMode = 0;
    }
    void TearDown() override { SetMessagePumpHooks({}); }

    // Built-in settings for a small raw-YUV job into `output`.
    std::string RawJob(int frames) {
        const std::string cmd = platform::Format(
            "ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 -frames:v %d -pix_fmt yuv420p -c:v rawvideo "
            "-start_number 0 -f image2 '%s/frame%%d.yuv'",
            frames, dir_.path().c_str());
        EXPECT_EQ(RunCommand(cmd), 0);
        ReadProfile("+");
        EncoderSettingsRecord& e = EncoderSettings;
        e.inputType = 1;
        e.inputFileName = (dir_ / "frame%d").string();
        e.horizontalSize = 96;
        e.verticalSize = 64;
        e.framesToEncode = frames;
        e.firstFrame = 0;
        e.showInput = e.showOutput = 0;
        e.qualityStatisticsMode = 0;
        e.frameRateCode = 3;
        e.statisticsFileName = "-";
        e.inputHasAudio = 0;
        e.encodeAudio = 0;
        e.outputFileName = (dir_ / "out.m1v").string();
        e.tempVideoFileName = (dir_ / "tmp.m1v").string();
        e.tempAudioFileName = (dir_ / "tmp.mp2").string();
        JobFilesReady = 1;
        return e.outputFileName;
    }

    std::string Decode(const std::string& file, int* frames) {
        std::string errors, count;
        RunCommand("ffmpeg -v error -xerror -i '" + file + "' -f null - 2>&1", &errors);
        RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of "
                   "csv=p=0 '" + file + "'",
                   &count);
        *frames = std::atoi(count.c_str());
        return errors;
    }

    TempDir dir_;
};

TEST_F(JobTest, VideoOnlyJobWritesADecodableStreamAndRestoresTheTitle) {
    const std::string out = RawJob(6);
    EncoderSettings.writeVbvStatistics = 1;
    EncoderSettings.vbvStatisticsFileName = (dir_ / "vbv.txt").string();
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0);
    EXPECT_TRUE(boxes.Shown().empty()) << boxes.Texts()[0];
    EXPECT_EQ(gVideoCompleted, 1);
    EXPECT_EQ(gTitle, "Tessmar");
    EXPECT_EQ(RunState, 1);
    int frames = 0;
    EXPECT_EQ(Decode(out, &frames), "");
    EXPECT_EQ(frames, 6);
    EXPECT_FALSE(fs::exists(EncoderSettings.tempVideoFileName));
    // The statistics name the stream the user gets, not the pass's work file.
    EncoderSettings.writeVbvStatistics = 0;
    const std::string stats = testsupport::ReadFile((dir_ / "vbv.txt").string());
    EXPECT_EQ(stats.substr(0, stats.find('\n', 32) + 1),
              "VBV STAT FILE FORMAT VERSION 1\nencoding video file " + out + "\n");
    EXPECT_TRUE(stats.ends_with("VBV STAT FILE END\n")) << stats;
}

TEST_F(JobTest, TitleShowsDescriptionNameAndStreamTypeWhileRunning) {
    RawJob(2);
    EncoderSettings.profileDescription = "Small";
    std::string seen;
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [&seen](int, bool*) {
        if (seen.empty()) seen = gTitle;
        return 0;
    };
    SetMessagePumpHooks(hooks);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(seen, "Small - out.m1v - MPEG-1 Encoding in progress ");
    EXPECT_EQ(gTitle, "Tessmar");
}

TEST_F(JobTest, AudioWantedFromSilentInputWarnsEncodesVideoAndKeepsTheSetting) {
    const std::string out = RawJob(3);
    EncoderSettings.encodeAudio = 1;
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[0].text.substr(0, 39), "You are attempting to encode with audio");
    EXPECT_EQ(boxes.Shown()[0].caption, " Tessmar");
    EXPECT_NE(boxes.Shown()[1].text.find(out), std::string::npos);  // the video stream's file is named
    EXPECT_EQ(JobResult, 0);
    EXPECT_EQ(EncoderSettings.encodeAudio, 1);
    int frames = 0;
    EXPECT_EQ(Decode(out, &frames), "");
    EXPECT_EQ(frames, 3);
}

TEST_F(JobTest, RefusalsLeaveNothingBehind) {
    RawJob(2);
    platform::ScriptedMessageBoxes boxes;
    EncoderSettings.outputFileName.clear();
    EXPECT_EQ(RunEncoding(nullptr), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, " Error: Output file name not specified ");
    EXPECT_EQ(gTitle, "Tessmar");

    RawJob(2);
    EncoderSettings.inputHasAudio = EncoderSettings.encodeAudio = 1;
    EncoderSettings.tempAudioFileName = "a";
    boxes.Clear();
    EXPECT_EQ(RunEncoding(nullptr), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_NE(boxes.Shown()[0].text.find("audio stream is not valid"), std::string::npos);
    EXPECT_EQ(boxes.Shown()[0].caption, "Error");
    EXPECT_EQ(gTitle, "Tessmar");
    EXPECT_FALSE(fs::exists(EncoderSettings.outputFileName));

    JobFilesReady = 0;
    boxes.Clear();
    EXPECT_EQ(RunEncoding(nullptr), 0);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text.substr(0, 29), "Not all parameters specified.");
}

TEST_F(JobTest, StopDuringVideoPassEndsTheJobWithoutAudioOrMultiplexing) {
    RawJob(12);
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputHasAudio = e.encodeAudio = 1;
    e.deleteTempVideo = 1;
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [](int, bool*) {
        if (Sequence.EncodedFrameCount >= 3 && RunState == 2) RequestStopEncoding();
        return 0;
    };
    SetMessagePumpHooks(hooks);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, -1);
    EXPECT_EQ(UserStopFlag, 1);
    EXPECT_LT(Sequence.EncodedFrameCount, 12);
    EXPECT_EQ(AudioStreamReady, 0);
    EXPECT_EQ(MultiplexDone, 0);
    EXPECT_EQ(gVideoCompleted, 0);
    EXPECT_TRUE(boxes.Shown().empty()) << boxes.Texts()[0];
    EXPECT_FALSE(fs::exists(e.tempVideoFileName));
    EXPECT_FALSE(fs::exists(e.tempAudioFileName));
    EXPECT_FALSE(fs::exists(e.outputFileName));
    EXPECT_EQ(RunState, 1);
}

TEST_F(JobTest, PauseHoldsTheVideoPassUntilResumed) {
    const std::string out = RawJob(4);
    static int rounds = 0;
    rounds = 0;
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [](int, bool*) {
        if (Sequence.EncodedFrameCount == 2 && rounds == 0 && RunState == 2) PauseFlag = 1;
        if (PauseFlag && ++rounds >= 5) PauseFlag = 0;
        return 0;
    };
    SetMessagePumpHooks(hooks);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0);
    EXPECT_EQ(rounds, 5);
    int frames = 0;
    EXPECT_EQ(Decode(out, &frames), "");
    EXPECT_EQ(frames, 4);
}

TEST_F(JobTest, FailedVideoPassIsAFailureAndRemovesTheUnfinishedOutput) {
    RawJob(4);
    fs::remove(dir_ / "frame2.yuv");
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, -1);
    EXPECT_EQ(gVideoCompleted, 0);
    EXPECT_FALSE(boxes.Shown().empty());
    EXPECT_FALSE(fs::exists(EncoderSettings.outputFileName));
}

TEST_F(JobTest, AviJobRunsVideoAudioAndMultiplexing) {
    if (!testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "ffprobe is not installed";
    const fs::path avi = dir_ / "in.avi";
    ASSERT_EQ(RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=96x64:rate=25 -f lavfi -i "
                         "sine=frequency=440:sample_rate=44100 -t 0.4 -c:v mjpeg -c:a pcm_s16le -ac 2 '" +
                         avi.string() + "'"),
              0);
    RawJob(1);
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputType = 2;
    e.inputFileName = avi.string();
    e.framesToEncode = 8;
    e.encodeAudio = 1;
    e.outputFileName = (dir_ / "out.mpg").string();
    platform::ScriptedMessageBoxes boxes;
    AviInfoTexts info;
    ASSERT_EQ(ProbeAviInputFile(avi.string(), &info), 1);
    EXPECT_EQ(e.inputHasAudio, 1);
    EXPECT_EQ(InputFrameWidth, 96);
    EXPECT_EQ(info.frameSize, "96 x 64");
    e.audioMode = 1;
    SelectedAudioMode = 1;
    e.deleteTempVideo = e.deleteTempAudio = 0;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
    EXPECT_EQ(AudioStreamReady, 1);
    EXPECT_EQ(MultiplexDone, 1);
    int frames = 0;
    EXPECT_EQ(Decode(e.tempVideoFileName, &frames), "");
    EXPECT_EQ(frames, 8);
    EXPECT_EQ(Decode(e.tempAudioFileName, &frames), "");
    std::string streams;
    RunCommand("ffprobe -v error -show_entries stream=codec_name,channels -of csv=p=0 '" + e.outputFileName + "'",
               &streams);
    EXPECT_EQ(streams, "mpeg1video\nmp2,2\n");
    // The kept temporary streams are what was multiplexed.
    EXPECT_GT(fs::file_size(e.outputFileName), fs::file_size(e.tempVideoFileName) + fs::file_size(e.tempAudioFileName));
}

}  // namespace
