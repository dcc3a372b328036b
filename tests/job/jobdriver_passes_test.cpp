// The audio pass and multiplexing of a job from AVI input: the questions about
// existing temporary files, the channel-mode warnings, stops, and the MPEG-1
// system stream checked with ffprobe. The audio encoder is played by this
// test: it copies a Layer II stream that ffmpeg made from the same sound.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "engine/EngineState.h"
#include "job/JobDriver.h"
#include "job/JobMux.h"
#include "job/Profile.h"
#include "platform/Ini.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using platform::MbAnswer;
using testsupport::RunCommand;
using testsupport::TempDir;

namespace {

struct AudioCall {
    std::string path;
    int kbit = 0;
    char letter = 0;
    int64_t start = 0, end = 0;
};
std::vector<AudioCall> gAudioCalls;
std::function<int(const std::string&)> gAudioBehaviour;

}  // namespace

int EncodeAudioFile(const std::string& outputPath, int kbitPerSecond, char modeLetter) {
    gAudioCalls.push_back({outputPath, kbitPerSecond, modeLetter, AudioStartSample, AudioEndSample});
    return gAudioBehaviour ? gAudioBehaviour(outputPath) : -1;
}

namespace {

int gMuxCompleted = 0;
int64_t gMuxOutputKb = -1;

class PassesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
        gAudioCalls.clear();
        gMuxCompleted = 0;
        gMuxOutputKb = -1;
        testsupport::ResetJobHooks();
        JobWindows.showMultiplexCompleted = [](int64_t out, int64_t, int64_t, int) {
            ++gMuxCompleted;
            gMuxOutputKb = out;
        };
        mp2_ = (dir_ / "sound.mp2").string();
        gAudioBehaviour = [this](const std::string& path) {
            fs::copy_file(mp2_, path, fs::copy_options::overwrite_existing);
            return 0;
        };
    }
    void TearDown() override { gAudioBehaviour = nullptr; }

    // A 10-frame AVI with `channels` of PCM, the matching Layer II stream, and
    // settings for an MPEG-1 job with audio.
    void AviJob(int channels) {
        const testsupport::TestAvi avi{96, 64, "25", 10, 44100, channels};
        ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", avi), 0);
        ASSERT_EQ(RunCommand("ffmpeg -v error -y " + testsupport::TestAviTone(avi) + " -c:a mp2 -b:a 128k '" + mp2_ +
                             "'"),
                  0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", avi, 3, dir_.path()));
        EncoderSettings.framesToEncode = 8;
        EncoderSettings.audioBitRateIndex = 3;
    }

    std::string Probe(const std::string& file) {
        std::string out;
        RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + file + "'", &out);
        return out;
    }

    TempDir dir_;
    std::string mp2_;
};

TEST_F(PassesTest, AviJobEndsInADecodableSystemStream) {
    AviJob(2);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
    EXPECT_EQ(MultiplexDone, 1);
    ASSERT_EQ(gAudioCalls.size(), 1u);
    EXPECT_EQ(gAudioCalls[0].letter, 's');
    EXPECT_EQ(gAudioCalls[0].kbit, 128);
    EXPECT_EQ(gAudioCalls[0].start, 0);
    EXPECT_EQ(gAudioCalls[0].end, 44100 * 8 / 25);
    EXPECT_EQ(gMuxCompleted, 1);
    const std::string out = EncoderSettings.outputFileName;
    EXPECT_EQ(gMuxOutputKb, static_cast<int64_t>(fs::file_size(out)) / 1024);
    EXPECT_EQ(Probe(out), "mpeg1video\nmp2\n");
    std::string frames;
    RunCommand("ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames -of csv=p=0 '" +
                   out + "'",
               &frames);
    EXPECT_EQ(frames, "8\n");
    // The temporary streams go as the settings ask.
    EXPECT_FALSE(fs::exists(EncoderSettings.tempVideoFileName));
    EXPECT_FALSE(fs::exists(EncoderSettings.tempAudioFileName));
    EXPECT_EQ(RunState, 1);
}

TEST_F(PassesTest, AudioRangeFollowsTheVideoRange) {
    AviJob(2);
    EncoderSettings.firstFrame = 2;
    EncoderSettings.framesToEncode = 5;
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(gAudioCalls.size(), 1u);
    EXPECT_EQ(gAudioCalls[0].start, 2 * 1764);  // 1764 samples per frame at 25 frames/s
    EXPECT_EQ(gAudioCalls[0].end, 7 * 1764);
    // A range that reaches the end of the input takes the sound of its last frame too.
    EncoderSettings.framesToEncode = 8;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(gAudioCalls.size(), 2u);
    EXPECT_EQ(gAudioCalls[1].start, 2 * 1764);
    EXPECT_EQ(gAudioCalls[1].end, 10 * 1764);
}

TEST_F(PassesTest, ExistingTemporaryAudioIsKeptOrEncodedAgainAsAnswered) {
    AviJob(2);
    EncoderSettings.deleteTempAudio = 0;
    fs::copy_file(mp2_, EncoderSettings.tempAudioFileName);
    {
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::No);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_FALSE(boxes.Shown().empty());
        EXPECT_EQ(boxes.Shown()[0].text.substr(0, 30), "Warning: Temporary audio file ");
        EXPECT_EQ(boxes.Shown()[0].buttons, platform::MbButtons::YesNo);
        EXPECT_TRUE(gAudioCalls.empty());
        EXPECT_EQ(JobResult, 0);
        EXPECT_EQ(MultiplexDone, 1);
    }
    {
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::Yes);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(gAudioCalls.size(), 1u);
        EXPECT_EQ(JobResult, 0);
    }
    {
        // A kept file too small to be a stream ends the job before multiplexing.
        testsupport::WriteFile(EncoderSettings.tempAudioFileName, std::string(99, 'x'));
        fs::remove(EncoderSettings.outputFileName);
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::No);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, -1);
        ASSERT_EQ(boxes.Shown().size(), 2u);
        EXPECT_EQ(boxes.Shown()[1].text.substr(0, 46), "Fatal Error: Invalid temporary MPEG audio file");
        EXPECT_FALSE(fs::exists(EncoderSettings.outputFileName));
    }
}

TEST_F(PassesTest, ExistingTemporaryVideoKeptSkipsTheVideoPass) {
    AviJob(2);
    EncoderSettings.deleteTempVideo = 0;
    testsupport::WriteFile(EncoderSettings.tempVideoFileName, std::string(99, 'x'));
    {
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::No);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, -1);
        ASSERT_EQ(boxes.Shown().size(), 2u);
        EXPECT_EQ(boxes.Shown()[1].text.substr(0, 46), "Fatal Error: Invalid temporary MPEG video file");
        EXPECT_TRUE(gAudioCalls.empty());
    }
    {
        // Encode it for real, then keep it: no picture is encoded the second time.
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::Yes);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_EQ(JobResult, 0);
        const std::string video = testsupport::ReadFile(EncoderSettings.tempVideoFileName);
        Sequence.EncodedFrameCount = 0;
        boxes.Clear();
        boxes.Answer(MbAnswer::No);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, 0);
        EXPECT_EQ(Sequence.EncodedFrameCount, 0);
        EXPECT_EQ(testsupport::ReadFile(EncoderSettings.tempVideoFileName), video);
    }
}

TEST_F(PassesTest, ChannelModeFollowsTheSourceWithAWarning) {
    AviJob(1);
    SelectedAudioMode = 1;
    EncoderSettings.audioMode = 1;
    {
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_FALSE(boxes.Shown().empty());
        EXPECT_EQ(boxes.Shown()[0].text.substr(0, 41), "You are attempting to encode a mono audio");
        ASSERT_EQ(gAudioCalls.size(), 1u);
        EXPECT_EQ(gAudioCalls[0].letter, 'm');
        EXPECT_EQ(gAudioCalls[0].kbit, 64);  // index 3 of the mono rates
    }
    {
        EncoderSettings.suppressWarnings = 1;
        EncoderSettings.audioMode = 1;
        gAudioCalls.clear();
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_TRUE(boxes.Shown().empty()) << boxes.Texts()[0];
        ASSERT_EQ(gAudioCalls.size(), 1u);
        EXPECT_EQ(gAudioCalls[0].letter, 'm');
    }
}

TEST_F(PassesTest, StopOrFailureInTheAudioPassSkipsMultiplexing) {
    AviJob(2);
    gAudioBehaviour = [](const std::string&) {
        RequestStopEncoding();
        return 0;
    };
    {
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, -1);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "Audio stream encoding aborted by user.");
        EXPECT_FALSE(fs::exists(EncoderSettings.outputFileName));
    }
    gAudioBehaviour = [](const std::string& path) {
        testsupport::WriteFile(path, "short");
        return 0;
    };
    {
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, -1);
        ASSERT_EQ(boxes.Shown().size(), 1u);
        EXPECT_EQ(boxes.Shown()[0].text, "Fatal error: Output MPEG audio file is too small to access.");
        EXPECT_FALSE(fs::exists(EncoderSettings.outputFileName));
    }
}

TEST_F(PassesTest, TheIniKeySendsMpeg1ThroughTheLibrary) {
    AviJob(2);
    ASSERT_TRUE(platform::IniWriteInt("ZRN-MPEG", "Use_MPEG1_Stream_Mux", 1, platform::ConfigFile("ROZARAZ2.INI")));
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, 0);
    EXPECT_TRUE(boxes.Shown().empty());
    ASSERT_TRUE(fs::exists(EncoderSettings.outputFileName));
    EXPECT_GT(fs::file_size(EncoderSettings.outputFileName), 2048u);
}

TEST_F(PassesTest, QuietBatchLogsInsteadOfAsking) {
    AviJob(2);
    BatchMode = 2;
    BatchLogFileName = (dir_ / "message.log").string();
    EncoderSettings.deleteTempAudio = 0;
    fs::copy_file(mp2_, EncoderSettings.tempAudioFileName);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    BatchMode = 0;
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(gAudioCalls.size(), 1u);
    EXPECT_EQ(JobResult, 0);
    EXPECT_NE(testsupport::ReadFile(BatchLogFileName).find("\nDeleting temp file."), std::string::npos);
}

}  // namespace
