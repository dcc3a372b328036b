// Whole MPEG-2 jobs through RunEncoding: our encoder's streams from an AVI with PCM
// audio, multiplexed by the library into program streams and SVCD streams that
// ffmpeg decodes without a complaint.
#include <gtest/gtest.h>

#include <string>

#include "job/Preview.h"
#include "job/EncoderSettings.h"
#include "job/JobDriver.h"
#include "job/JobState.h"
#include "job/JobUtil.h"
#include "job/Profile.h"
#include "job/Report.h"
#include "job/RunState.h"
#include "platform/MessageBox.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::RunCommand;

namespace {

class ProgramJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "ffmpeg is needed";
        testsupport::ResetJobHooks();
        JobWindows.getMainTitle = [] { return std::string("Tessmar"); };
        JobWindows.setMainTitle = [](const std::string&) {};
        JobWindows.showVideoCompleted = [] {};
    }

    // An AVI of `frames` pictures with stereo PCM, and settings for an MPEG-2 job on it.
    void Job(int width, int height, const std::string& rate, int frameRateCode, int frames, int sampleRate) {
        const testsupport::TestAvi avi{width, height, rate, frames, sampleRate, 2};
        ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", avi), 0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", avi, frameRateCode, dir_.path(), "m2v"));
        EncoderSettingsRecord& e = EncoderSettings;
        e.mpeg1 = 0;
        e.streamType = 2;
        e.mpegProfile = 4;
        e.mpegLevel = 8;
        e.constrainedParameters = 0;
        e.videoFormat = frameRateCode == 3 ? 1 : 2;
        e.bitRate = 6000000.0;
        e.audioSampleRate = sampleRate;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 0;
    }

    void RunAndCheck(int frames) {
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_EQ(JobResult, 0) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
        EXPECT_EQ(MultiplexDone, 1);
        const std::string out = EncoderSettings.outputFileName;
        std::string errors, video, audio, audioIn;
        RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &errors);
        EXPECT_EQ(errors, "");
        const std::string probe = "ffprobe -v error -count_frames -show_entries stream=codec_name,nb_read_frames "
                                  "-of default=nw=1:nk=1 -select_streams ";
        RunCommand(probe + "v '" + out + "'", &video);
        RunCommand(probe + "a '" + out + "'", &audio);
        RunCommand(probe + "a '" + EncoderSettings.tempAudioFileName + "'", &audioIn);
        EXPECT_EQ(video, "mpeg2video\n" + std::to_string(frames) + "\n");
        EXPECT_EQ(audio, audioIn);
        EXPECT_EQ(audio.substr(0, 4), "mp2\n");
        // No picture or audio frame reaches the decoder after its decoding time.
        const streamcheck::Report report = streamcheck::CheckSystemStreamFile(out);
        EXPECT_TRUE(report.Ok()) << report.Summary();
    }

    testsupport::TempDir dir_;
};

TEST_F(ProgramJobTest, Mpeg2JobsEndInProgramStreams) {
    Job(720, 576, "25", 3, 50, 48000);
    RunAndCheck(50);
    Job(720, 480, "30000/1001", 4, 60, 48000);
    RunAndCheck(60);
}

TEST_F(ProgramJobTest, SvcdJobsEndInSvcdStreams) {
    for (int height : {576, 480}) {
        SCOPED_TRACE(height);
        Job(480, height, height == 576 ? "25" : "30000/1001", height == 576 ? 3 : 4, 50, 44100);
        EncoderSettings.applicationType = 17;
        EncoderSettings.bitRate = 2500000.0;
        EncoderSettings.mpeg2AspectRatio = 2;
        RunAndCheck(50);
        const std::string bytes = testsupport::ReadFile(EncoderSettings.outputFileName);
        EXPECT_EQ(bytes.size() % 2324, 0u);
        EXPECT_EQ(bytes.find(std::string("\0\0\1\xB2\1\1\1\1", 8)), std::string::npos);
        EXPECT_NE(bytes.find(std::string("\0\0\1\xB2\x10\x0E", 6)), std::string::npos);
        if (testsupport::HaveTool("vcdimager")) {
            std::string authored;
            RunCommand("cd '" + dir_.path().string() + "' && rm -f image.bin image.cue && vcdimager -t svcd -c image.cue "
                       "-b image.bin '" + EncoderSettings.outputFileName + "' 2>&1",
                       &authored);
            EXPECT_EQ(authored.find("++ WARN"), std::string::npos) << authored;
        }
    }
}

}  // namespace
