// Whole jobs from an AVI with PCM sound that fail, stop or are refused: the
// user's earlier files and the source stay byte for byte as they were, the
// right message is shown, the job fails, and no file of the job's own is left.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "engine/EngineState.h"
#include "job/JobDriver.h"
#include "job/Profile.h"
#include "muxlib/MuxLib.h"
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
using testsupport::ReadFile;
using testsupport::RunCommand;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

class JobSafetyTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg") || !testsupport::HaveTool("ffprobe")) GTEST_SKIP() << "no ffmpeg";
        testsupport::ResetJobHooks();
    }
    void TearDown() override { SetMessagePumpHooks({}); }

    // A 96x64 AVI of `frames` pictures at 25/s with stereo PCM, and the settings
    // of a multiplexed MPEG-1 job whose output and temporary names already hold
    // files of the user's.
    void AviJob(int frames) {
        avi_ = (dir_ / "in.avi").string();
        const testsupport::TestAvi avi{96, 64, "25", frames, 44100, 2};
        ASSERT_EQ(testsupport::MakeTestAvi(avi_, avi), 0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(avi_, avi, 3, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.framesToEncode = 1;  // to the end of the input
        e.deleteTempVideo = e.deleteTempAudio = 1;
        WriteFile(e.outputFileName, "the user's earlier system stream");
        Remember();
    }

    // Contents of every file in the folder, to compare after the job.
    void Remember() {
        before_.clear();
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            if (entry.is_regular_file()) before_.push_back({entry.path().string(), ReadFile(entry.path())});
    }
    // Every file is as it was and no other file is left.
    void ExpectFolderUnchanged() {
        size_t files = 0;
        for (const auto& entry : fs::directory_iterator(dir_.path()))
            if (entry.is_regular_file()) ++files;
        EXPECT_EQ(files, before_.size());
        for (const auto& [path, bytes] : before_) {
            SCOPED_TRACE(path);
            ASSERT_TRUE(fs::exists(path));
            EXPECT_EQ(ReadFile(path), bytes);
        }
    }
    bool Shown(const platform::ScriptedMessageBoxes& boxes, const std::string& part) {
        for (const std::string& t : boxes.Texts())
            if (t.find(part) != std::string::npos) return true;
        return false;
    }

    TempDir dir_;
    std::string avi_;
    std::vector<std::pair<std::string, std::string>> before_;
};

struct FailureCase {
    const char* name;
    std::function<void()> setup;  // after AviJob and before the job
    const char* message;          // part of a box the job shows
    int started;                  // RunEncoding's result: 0 refused before encoding
};

TEST_F(JobSafetyTest, FailedStoppedOrRefusedJobsLoseNothingOfTheUser) {
    static int stopAt = 0;
    const auto stopWhen = [](std::function<bool()> when) {
        MessagePumpHooks hooks;
        hooks.dispatchMessages = [when](int, bool*) {
            if (RunState == 2 && when()) RequestStopEncoding();
            return 0;
        };
        SetMessagePumpHooks(hooks);
    };
    // A type the library does not write yet, while there is one.
    static int unbuilt = 0;
    unbuilt = 0;
    for (int type : {MuxTypeMpeg2Program, MuxTypeTransport})
        if (!unbuilt && !MuxTypeIsBuilt(type)) unbuilt = type;
    static std::string unbuiltText;
    unbuiltText = "cannot write the multiplexed stream type " + std::to_string(unbuilt);
    std::vector<FailureCase> cases = {
        {"parameter check refuses the job", [] { EncoderSettings.firstFrame = 50; }, "first frame number is greater",
         1},
        {"stop at picture 3",
         [&] {
             stopAt = 3;
             stopWhen([] { return Sequence.EncodedFrameCount >= stopAt; });
         },
         "", 1},
        // Each asked once: at the job's first pump (a close of the window that waited while a
        // batch went on to this job) and at the pump after the last picture.
        {"stop before the first picture", [&] { stopAt = 0, stopWhen([] { return stopAt++ == 0; }); }, "", 1},
        {"stop after the last picture",
         [&] { stopAt = 10, stopWhen([] { return Sequence.EncodedFrameCount == 10 && stopAt++ == 10; }); }, "", 1},
        {"stop while multiplexing", [&] { stopWhen([] { return MultiplexActive == 1; }); },
         "Multiplexing aborted by user.", 1},
        {"stop in the audio pass", [&] { stopWhen([] { return AudioPassActive == 1; }); },
         "Audio stream encoding aborted by user.", 1},
        {"mux type out of range", [] { EncoderSettings.streamType = 9; }, "multiplexed stream type 9 is not valid", 0},
        {"output is the input", [this] { EncoderSettings.outputFileName = avi_; }, "names the input AVI file", 0},
        {"output is the input through a hard link",
         [this] {
             fs::create_hard_link(avi_, dir_ / "hard.mpg");
             EncoderSettings.outputFileName = (dir_ / "hard.mpg").string();
             Remember();
         },
         "names the input AVI file", 0},
        {"temporary video is a link to the input",
         [this] {
             fs::create_symlink(avi_, dir_ / "link.m1v");
             EncoderSettings.tempVideoFileName = (dir_ / "link.m1v").string();
             Remember();
         },
         "names the input AVI file", 0},
        {"output is the input by another path",
         [this] { EncoderSettings.outputFileName = (dir_ / "." / "sub" / ".." / "in.avi").string(); },
         "names the input AVI file", 0},
        {"output is the temporary audio", [] { EncoderSettings.tempAudioFileName = EncoderSettings.outputFileName; },
         "name the same file", 0},
        // A 255-byte output name: the temporary names the form makes of it are a byte longer.
        {"255-byte output name",
         [this] {
             const std::string stem = (dir_ / std::string(251, 'o')).string();
             EncoderSettings.outputFileName = stem + ".mpg";
             EncoderSettings.tempVideoFileName = stem + "_.m1v";
             EncoderSettings.tempAudioFileName = stem + "_.mp2";
         },
         "File name too long", 0},
        {"256-byte output name of a video-only job",
         [this] {
             EncoderSettings.encodeAudio = 0;
             EncoderSettings.outputFileName = (dir_ / (std::string(252, 'o') + ".m1v")).string();
         },
         "File name too long", 0},
    };
    if (unbuilt)
        cases.push_back({"unbuilt mux type",
                         [] {
                             EncoderSettings.streamType = unbuilt;
                             EncoderSettings.mpeg1 = 0;
                         },
                         unbuiltText.c_str(), 0});
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        AviJob(10);
        fs::create_directory(dir_ / "sub");
        c.setup();
        Sequence.EncodedFrameCount = 0;
        platform::ScriptedMessageBoxes boxes;
        EXPECT_EQ(RunEncoding(nullptr), c.started);
        EXPECT_EQ(JobResult, -1);
        EXPECT_EQ(MultiplexDone, 0);
        if (*c.message) {
            EXPECT_TRUE(Shown(boxes, c.message)) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
        }
        if (!c.started) {
            EXPECT_EQ(Sequence.EncodedFrameCount, 0);  // refused before any picture
        }
        ExpectFolderUnchanged();
        SetMessagePumpHooks({});
        for (const char* extra : {"hard.mpg", "link.m1v"}) fs::remove(dir_ / extra);
        fs::remove(dir_ / "sub");
    }
}

TEST_F(JobSafetyTest, EarlierTemporaryFilesSurviveAFailedJobAndAKeptOneIsNeverDeleted) {
    AviJob(10);
    EncoderSettingsRecord& e = EncoderSettings;
    WriteFile(e.tempVideoFileName, "the user's earlier video");
    WriteFile(e.tempAudioFileName, "the user's earlier audio");
    Remember();
    {
        // Yes to both questions, then a stop while multiplexing.
        MessagePumpHooks hooks;
        hooks.dispatchMessages = [](int, bool*) {
            if (MultiplexActive && RunState == 2) RequestStopEncoding();
            return 0;
        };
        SetMessagePumpHooks(hooks);
        e.deleteTempVideo = e.deleteTempAudio = 0;
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::Yes);
        boxes.Answer(MbAnswer::Yes);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, -1);
        SetMessagePumpHooks({});
        EXPECT_EQ(ReadFile(e.outputFileName), "the user's earlier system stream");
        // The new temporary streams were the job's, made in full: they replaced the old ones as answered.
        EXPECT_NE(ReadFile(e.tempVideoFileName), "the user's earlier video");
    }
    {
        // No keeps the streams; the job multiplexes them and deletes neither,
        // though the settings ask for the temporary files to go.
        e.deleteTempVideo = e.deleteTempAudio = 1;
        const std::string video = ReadFile(e.tempVideoFileName), audio = ReadFile(e.tempAudioFileName);
        platform::ScriptedMessageBoxes boxes;
        boxes.Answer(MbAnswer::No);
        boxes.Answer(MbAnswer::No);
        ASSERT_EQ(RunEncoding(nullptr), 1);
        EXPECT_EQ(JobResult, 0) << boxes.Texts().back();
        EXPECT_EQ(ReadFile(e.tempVideoFileName), video);
        EXPECT_EQ(ReadFile(e.tempAudioFileName), audio);
        std::string streams;
        RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + e.outputFileName + "'", &streams);
        EXPECT_EQ(streams, "mpeg1video\nmp2\n");
    }
}

// A successful job replaces the output with an ordinary file and leaves no work
// record behind.
TEST_F(JobSafetyTest, ASuccessfulJobReplacesTheOutputWithAnOrdinaryFile) {
    // One frame of picture and sound is a valid input.
    AviJob(1);
    const std::string source = ReadFile(avi_);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    ASSERT_EQ(JobResult, 0) << (boxes.Shown().empty() ? "" : boxes.Texts()[0]);
    const std::string out = EncoderSettings.outputFileName;
    std::string streams;
    RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + out + "'", &streams);
    EXPECT_EQ(streams, "mpeg1video\nmp2\n");
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    ASSERT_EQ(stat(out.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666 & ~mask);
    // Only the input and the output remain: the temporary streams went as asked.
    size_t files = 0;
    for (const auto& entry : fs::directory_iterator(dir_.path())) files += entry.is_regular_file();
    EXPECT_EQ(files, 2u);
    EXPECT_EQ(ReadFile(avi_), source);
    EXPECT_FALSE(fs::exists(dir_ / "config" / "work-files"));
}

TEST_F(JobSafetyTest, MpegTwoVideoNeverGoesIntoAnMpegOneSystemStream) {
    AviJob(10);
    EncoderSettings.mpeg1 = 0;
    EncoderSettings.streamType = kStreamTypeMpeg1;
    platform::ScriptedMessageBoxes boxes;
    if (!MuxTypeIsBuilt(MuxTypeMpeg2Program)) {
        EXPECT_EQ(RunEncoding(nullptr), 0);
        EXPECT_TRUE(Shown(boxes, "MPEG-2 video cannot be multiplexed into an MPEG-1 system stream."));
        ExpectFolderUnchanged();
        return;
    }
    ASSERT_EQ(RunEncoding(nullptr), 1);
    std::string format;
    RunCommand("ffprobe -v error -show_entries stream=codec_name -of csv=p=0 '" + EncoderSettings.outputFileName + "'",
               &format);
    EXPECT_EQ(format.substr(0, 10), "mpeg2video");
    EXPECT_EQ(EncoderSettings.streamType, kStreamTypeMpeg1);
}

TEST_F(JobSafetyTest, AQuitDuringThePictureLoopEndsTheJobAndGoesBackToTheProgram) {
    AviJob(10);
    static int posted = 0;
    posted = 0;
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [](int, bool* quit) {
        if (Sequence.EncodedFrameCount == 3 && !QuitRequested) *quit = true;
        return 0;
    };
    hooks.postQuit = [] { ++posted; };
    SetMessagePumpHooks(hooks);
    platform::ScriptedMessageBoxes boxes;
    ASSERT_EQ(RunEncoding(nullptr), 1);
    EXPECT_EQ(JobResult, -1);
    EXPECT_LT(Sequence.EncodedFrameCount, 10);
    EXPECT_EQ(posted, 1);
    EXPECT_EQ(QuitRequested, 0);
    ExpectFolderUnchanged();
}

}  // namespace
