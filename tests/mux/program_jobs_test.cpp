// Whole MPEG-2 jobs through RunEncoding: our encoder's streams from an AVI with PCM
// audio, multiplexed by the library into program streams, SVCD streams and transport
// streams that ffmpeg decodes without a complaint, with picture and sound together.
#include <gtest/gtest.h>

#include <string>

#include "job/JobDriver.h"
#include "job/Profile.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Preview.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/mux/JobStreamChecks.h"
#include "tests/muxlib/StreamLayoutChecks.h"
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
        e.streamType = kStreamTypeMpeg2;
        e.mpegProfile = 4;
        e.mpegLevel = 8;
        e.constrainedParameters = 0;
        e.videoFormat = frameRateCode == 3 ? 1 : 2;
        e.bitRate = 6000000.0;
        e.audioSampleRate = sampleRate;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 0;
    }

    // Runs the job; its output decodes with the AVI's pictures and the coded sound.
    void RunJob() {
        platform::ScriptedMessageBoxes boxes;
        ASSERT_EQ(RunEncoding(nullptr), 1);
        ASSERT_EQ(JobResult, 0) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
        EXPECT_EQ(MultiplexDone, 1);
    }

    void RunAndCheck(int frames, double pictureSeconds, double audioFrameSeconds) {
        ASSERT_NO_FATAL_FAILURE(RunJob());
        const EncoderSettingsRecord& e = EncoderSettings;
        EXPECT_EQ(jobcheck::Probe(e.outputFileName, "v"), "mpeg2video\n" + std::to_string(frames) + "\n");
        EXPECT_EQ(jobcheck::Probe(e.outputFileName, "a").substr(0, 4), "mp2\n");
        jobcheck::ExpectPlayableStream(e.outputFileName, e.tempVideoFileName, e.tempAudioFileName, frames, pictureSeconds,
                                       audioFrameSeconds);
    }

    testsupport::TempDir dir_;
};

TEST_F(ProgramJobTest, Mpeg2JobsEndInProgramStreams) {
    Job(720, 576, "25", 3, 50, 48000);
    RunAndCheck(50, 1 / 25.0, 1152 / 48000.0);
    Job(720, 480, "30000/1001", 4, 60, 48000);
    RunAndCheck(60, 1001 / 30000.0, 1152 / 48000.0);
}

TEST_F(ProgramJobTest, SvcdJobsEndInSvcdStreams) {
    for (int height : {576, 480}) {
        SCOPED_TRACE(height);
        Job(480, height, height == 576 ? "25" : "30000/1001", height == 576 ? 3 : 4, 50, 44100);
        EncoderSettings.applicationType = kApplicationSvcd;
        EncoderSettings.bitRate = 2500000.0;
        EncoderSettings.mpeg2AspectRatio = 2;
        RunAndCheck(50, height == 576 ? 1 / 25.0 : 1001 / 30000.0, 1152 / 44100.0);
        const std::string bytes = testsupport::ReadFile(EncoderSettings.outputFileName);
        EXPECT_EQ(bytes.size() % 2324, 0u);
        EXPECT_EQ(bytes.find(std::string("\0\0\1\xB2\1\1\1\1", 8)), std::string::npos);
        // Every I picture's scan information names the sectors of its neighbours.
        size_t iPictures = 0;
        EXPECT_EQ(muxtest::ScanInformationProblem(bytes, &iPictures), "");
        EXPECT_GE(iPictures, 3u);
        if (testsupport::HaveTool("vcdimager")) {
            std::string authored;
            RunCommand("cd '" + dir_.path().string() + "' && rm -f image.bin image.cue && vcdimager -t svcd -c image.cue "
                       "-b image.bin '" + EncoderSettings.outputFileName + "' 2>&1",
                       &authored);
            EXPECT_EQ(authored.find("++ WARN"), std::string::npos) << authored;
        }
    }
}

// Mux type 5: the transport stream decodes with the pictures and sound together, its
// tables at least every 0.5 s and a clock reference at least every 100 ms.
TEST_F(ProgramJobTest, TransportStreamJobsEndInTransportStreams) {
    Job(720, 576, "25", 3, 50, 48000);
    EncoderSettings.streamType = 5;
    ASSERT_NO_FATAL_FAILURE(RunJob());
    const std::string out = EncoderSettings.outputFileName;
    std::string errors;
    RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    // ffprobe lists the streams once in the program and once on their own.
    EXPECT_EQ(jobcheck::Probe(out, "v"), "mpeg2video\n50\nmpeg2video\n50\n");
    const std::string audio = jobcheck::Probe(EncoderSettings.tempAudioFileName, "a");
    EXPECT_EQ(jobcheck::Probe(out, "a"), audio + audio);
    const jobcheck::Span v = jobcheck::Times(out, "v"), a = jobcheck::Times(out, "a");
    EXPECT_NEAR(v.end - v.start, 2.0, 0.04);
    EXPECT_LE(std::abs(v.start - a.start), 0.024) << v.start << " " << a.start;
    EXPECT_LE(std::abs((v.end - v.start) - (a.end - a.start)), 0.024 + 0.04);
    const muxtest::TransportTiming t = muxtest::CheckTransportTiming(testsupport::ReadFile(out));
    EXPECT_EQ(t.error, "");
    EXPECT_GT(t.lastTable, 1.5);
    EXPECT_LE(t.maxTableGap, 0.5);
    EXPECT_GT(t.maxPcrGap, 0.0);
    EXPECT_LE(t.maxPcrGap, 0.1);
}

}  // namespace
