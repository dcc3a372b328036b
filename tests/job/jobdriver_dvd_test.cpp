// DVD jobs through RunEncoding: an AVI with PCM audio becomes a VIDEO_TS folder
// that libdvdread, lsdvd and ffmpeg read.
#include <gtest/gtest.h>

#include <string>

#include "job/EncoderSettings.h"
#include "job/JobDriver.h"
#include "job/JobState.h"
#include "job/JobUtil.h"
#include "job/Preview.h"
#include "job/Profile.h"
#include "job/Report.h"
#include "job/RunState.h"
#include "mux/lib/DvdMuxEngine.h"
#include "platform/MessageBox.h"
#include "tests/support/DvdFolderCheck.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/SystemStreamCheck.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::TempDir;

namespace {

class DvdJobTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        for (const char* tool : {"ffmpeg", "ffprobe", "lsdvd"})
            if (!testsupport::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
        testsupport::ResetJobHooks();
        JobWindows.getMainTitle = [] { return std::string("Tessmar"); };
        JobWindows.setMainTitle = [](const std::string&) {};
    }
    void TearDown() override {
        SetMessagePumpHooks({});
        DvdMuxEngine::SetSplitBytesForTesting(0);
    }

    // A DVD job of `frames` pictures from an AVI made by ffmpeg, into dir_/title.vob.
    void DvdJob(int width, int height, const char* rate, int frameRateCode, int videoFormat, int frames) {
        const testsupport::TestAvi avi{width, height, rate, frames, 48000, 2};
        ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", avi), 0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", avi, frameRateCode, dir_.path(), "m2v"));
        EncoderSettingsRecord& e = EncoderSettings;
        e.suppressWarnings = 1;
        e.mpeg1 = 0;
        e.streamType = kStreamTypeMpeg2;
        e.applicationType = kApplicationDvd;
        e.createVob = 1;
        e.videoFormat = videoFormat;
        e.mpeg2AspectRatio = 2;
        e.bitRate = 5000000.0;
        e.audioBitRate = 224;
        e.outputFileName = (dir_ / "title.vob").string();
        e.deleteTempVideo = e.deleteTempAudio = 0;
    }

    TempDir dir_;
};

TEST_F(DvdJobTest, PalJobEndsInAVideoTsFolder) {
    ASSERT_NO_FATAL_FAILURE(DvdJob(720, 576, "25", 3, 1, 25));
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    EXPECT_EQ(MultiplexDone, 1);
    // The job names the title's first VOB afterwards.
    EXPECT_EQ(fs::path(EncoderSettings.outputFileName), dir_ / "VIDEO_TS" / "VTS_01_1.VOB");
    EXPECT_FALSE(fs::exists(dir_ / "title.vob"));
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {1, 25, "00:00:01.000"}));
}

TEST_F(DvdJobTest, NtscJobEndsInAVideoTsFolder) {
    ASSERT_NO_FATAL_FAILURE(DvdJob(720, 480, "30000/1001", 4, 2, 30));
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {1, 30, "00:00:01"}));
}

// A title split into several VOBs (the split size lowered for the test) is one title
// set: the job's size check counts every VOB, and the cells run on across the files.
TEST_F(DvdJobTest, SplitTitleCountsEveryVob) {
    ASSERT_NO_FATAL_FAILURE(DvdJob(720, 576, "25", 3, 1, 50));
    DvdMuxEngine::SetSplitBytesForTesting(300000);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    size_t files = 0;
    while (fs::exists(dir_ / "VIDEO_TS" / ("VTS_01_" + std::to_string(files + 1) + ".VOB"))) ++files;
    ASSERT_GE(files, 3u);
    EXPECT_LT(fs::file_size(dir_ / "VIDEO_TS" / "VTS_01_1.VOB"),
              fs::file_size(EncoderSettings.tempVideoFileName) + fs::file_size(EncoderSettings.tempAudioFileName));
    ASSERT_NO_FATAL_FAILURE(testsupport::CheckDvdFolder(dir_.path(), {files, 50, "00:00:02.000"}));
}

TEST_F(DvdJobTest, WithoutTheVobFolderOptionAJobEndsInAProgramStream) {
    ASSERT_NO_FATAL_FAILURE(DvdJob(720, 576, "25", 3, 1, 25));
    EncoderSettings.createVob = 0;
    const std::string out = EncoderSettings.outputFileName;
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << testing::PrintToString(boxes.Texts());
    EXPECT_EQ(EncoderSettings.outputFileName, out);
    EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS"));
    std::string errors, video;
    testsupport::RunCommand("ffmpeg -v error -xerror -i '" + out + "' -f null - 2>&1", &errors);
    EXPECT_EQ(errors, "");
    testsupport::RunCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                            "stream=codec_name,nb_read_frames -of default=nw=1:nk=1 '" + out + "'",
                            &video);
    EXPECT_EQ(video, "mpeg2video\n25\n");
    const streamcheck::Report report = streamcheck::CheckSystemStreamFile(out);
    EXPECT_TRUE(report.mpeg2);
    EXPECT_TRUE(report.Ok()) << report.Summary();
}

// An information file that cannot be written fails the job with the write failure's
// message (which names the job's output); the folder is not reported as a volume.
TEST_F(DvdJobTest, AnInformationFileThatCannotBeWrittenFailsTheJob) {
    ASSERT_NO_FATAL_FAILURE(DvdJob(720, 576, "25", 3, 1, 25));
    fs::create_directories(dir_ / "VIDEO_TS" / "VIDEO_TS.IFO");
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, -1);
    ASSERT_FALSE(boxes.Texts().empty());
    EXPECT_EQ(boxes.Texts().back(), "Fatal error during multiplexing.  Cannot write data to the file " +
                                        (dir_ / "title.vob").string() + ".\nFile or device is read only or out of space.");
    EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS" / "VIDEO_TS.BUP"));
}

TEST_F(DvdJobTest, UnsupportedPictureSizeFailsTheJob) {
    // 640 x 480 encodes, but DVD-Video has no code for it: the job fails and says why.
    ASSERT_NO_FATAL_FAILURE(DvdJob(640, 480, "30000/1001", 4, 2, 6));
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, -1);
    ASSERT_FALSE(boxes.Texts().empty());
    EXPECT_NE(boxes.Texts().back().find("multiplexing"), std::string::npos) << boxes.Texts().back();
    EXPECT_FALSE(fs::exists(dir_ / "VIDEO_TS"));
    EXPECT_FALSE(fs::exists(dir_ / "title.vob"));
}

}  // namespace
