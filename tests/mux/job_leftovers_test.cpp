// Whole MPEG-1 jobs that cannot end well: an output folder that cannot take the
// output and multiplexer settings that would deliver the audio late fail before
// the video pass; video that needs more buffer than the system stream has fails at
// the multiplex; a job killed in any pass leaves work files that the next job
// removes, and the user's earlier output is never touched.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "job/JobDriver.h"
#include "mux/MuxInterfaces.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/RunState.h"
#include "tests/platform/FullDisk.h"
#include "tests/support/JobTestSupport.h"
#include "tests/support/TestSupport.h"

namespace fs = std::filesystem;
using testsupport::ReadFile;

namespace {

class JobLeftoversTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(InitEncoderLibrary(), 1); }

    void SetUp() override {
        if (!testsupport::HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg is needed";
        testsupport::ResetJobHooks();
        fs::create_directories(tmp_);
        setenv("TMPDIR", tmp_.c_str(), 1);
        ASSERT_EQ(testsupport::MakeTestAvi(dir_ / "in.avi", {96, 64, "25", 40, 44100, 2}), 0);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(dir_ / "in.avi", {96, 64, "25", 40, 44100, 2}, 3, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.streamType = kStreamTypeMpeg1;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 1;
        testsupport::WriteFile(e.outputFileName, earlier_);
    }
    void TearDown() override { unsetenv("TMPDIR"); }

    // Names in the job's folder and the temporary folder that carry `marker`.
    std::vector<std::string> FilesWith(const std::string& marker) const {
        std::vector<std::string> names;
        for (const fs::path& folder : {dir_.path(), tmp_})
            for (const auto& entry : fs::directory_iterator(folder))
                if (entry.path().filename().string().find(marker) != std::string::npos)
                    names.push_back(entry.path().filename().string());
        return names;
    }

    testsupport::TempDir dir_;
    fs::path tmp_ = dir_ / "tmp";
    const std::string earlier_ = "the user's earlier system stream";
};

TEST_F(JobLeftoversTest, UnusableFoldersAndLateDeliveringSettingsFailBeforeTheVideoPass) {
    struct Case {
        const char* name;
        std::string expected;  // in the message, lower case
    };
    fulldisk::SmallTmpfs disk;
    for (const Case& c : {Case{"missing folder", "can't create output file"}, Case{"read-only folder", "read-only"},
                          Case{"4096-byte packs, 4 kb audio buffer", "would deliver the streams late"},
                          // Measured: 9.8 + 0.128 Mbit/s left 20552 of 23250 pictures of a 15-minute title late.
                          Case{"DVD volume at 9800 Kbits/sec. with 128 kbit/s sound", "the video bit rate of 9800 kbits/sec."},
                          Case{"SVCD at 6000 Kbits/sec. with 128 kbit/s sound", "the video bit rate of 6000 kbits/sec."}}) {
        SCOPED_TRACE(c.name);
        EncoderSettingsRecord& e = EncoderSettings;
        const std::string name(c.name);
        e.outputFileName = (dir_ / "out.mpg").string();
        e.muxPackSize = 2048;
        if (name == "missing folder") e.outputFileName = (dir_ / "missing" / "out.mpg").string();
        if (name == "read-only folder") {
            if (!disk.mounted()) continue;
            ASSERT_EQ(::mount(nullptr, disk.root().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, "size=16k"), 0);
            e.outputFileName = (disk / "out.mpg").string();
        }
        if (name[0] == '4') e.muxPackSize = 4096;
        if (name[0] == 'D' || name[0] == 'S') {
            e.mpeg1 = 0;
            e.streamType = kStreamTypeMpeg2;
            e.applicationType = name[0] == 'D' ? kApplicationDvd : kApplicationSvcd;
            e.createVob = name[0] == 'D';
            e.bitRate = (name[0] == 'D' ? 9800 : 6000) * 1024.0;
        }
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        EXPECT_EQ(JobResult, -1);
        std::string shown;
        for (const std::string& t : boxes.Texts()) shown += t + "\n";
        for (char& ch : shown) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        EXPECT_NE(shown.find(c.expected), std::string::npos) << shown;
        // No video pass ran: nothing of the job's own was written.
        EXPECT_FALSE(fs::exists(e.tempVideoFileName));
        EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
        if (name[0] == 'D' || name[0] == 'S') {  // the figure offered is taken
            e.bitRate = std::stoi(shown.substr(shown.rfind("to ") + 3)) * 1024.0;
            EXPECT_EQ(DiscRateRefusal(), "");
        }
        e.createVob = 0;
    }
}

// Video whose 224 KiB buffer the pictures really use, at 600 kbit/s with vbv_delay
// 0xFFFF, against the system stream's 46 KiB: whether pictures come late depends on
// what the encoder made of the pictures, so the multiplex finds it and fails, naming
// the stream, the count and the lateness; the coded streams and the earlier output stay.
TEST_F(JobLeftoversTest, VideoNeedingMoreThanTheSystemBufferFailsAtTheMultiplexAndKeepsItsStreams) {
    const std::string avi = (dir_ / "noise.avi").string();
    ASSERT_EQ(testsupport::RunCommand("ffmpeg -v error -y -f lavfi -i testsrc2=size=352x288:rate=25:duration=3.98 -f lavfi "
                                      "-i sine=frequency=440:sample_rate=44100:duration=4 -ac 2 -vf noise=alls=60:allf=t "
                                      "-c:v mjpeg -q:v 3 -c:a pcm_s16le '" + avi + "'"),
              0);
    // The job's own MPEG-1 multiplexer and the library.
    for (int library : {0, 1}) {
        SCOPED_TRACE(library);
        ASSERT_NO_FATAL_FAILURE(testsupport::AviJobSettings(avi, {352, 288, "25", 100, 44100, 2}, 3, dir_.path()));
        EncoderSettingsRecord& e = EncoderSettings;
        e.streamType = kStreamTypeMpeg1;
        e.useNewMux = library;
        e.suppressWarnings = 1;
        e.deleteTempVideo = e.deleteTempAudio = 1;
        e.constrainedParameters = 0;
        e.rateControl = kRateVariable;
        e.vbrMode = kVbrConstantQuant;
        e.constantQuantScale = 8;
        e.bitRate = e.maxBitRate = 600000.0;
        fs::remove(e.tempVideoFileName);
        fs::remove(e.tempAudioFileName);
        platform::ScriptedMessageBoxes boxes;
        RunEncoding(nullptr);
        EXPECT_EQ(JobResult, -1);
        EXPECT_EQ(e.vbvBufferSize, 112);
        std::string shown;
        for (const std::string& t : boxes.Texts()) shown += t + "\n";
        EXPECT_NE(shown.find("video stream: "), std::string::npos) << shown;
        EXPECT_NE(shown.find("access units would reach the decoder late, by up to "), std::string::npos) << shown;
        EXPECT_GT(fs::file_size(e.tempVideoFileName), 0u);
        EXPECT_GT(fs::file_size(e.tempAudioFileName), 0u);
        EXPECT_EQ(ReadFile(e.outputFileName), earlier_);
    }
}

TEST_F(JobLeftoversTest, AJobKilledInEachPassLeavesNoWorkFileAfterTheNextRun) {
    enum Pass { Video, Audio, Multiplex };
    std::vector<pid_t> killed;
    for (Pass pass : {Video, Audio, Multiplex}) {
        SCOPED_TRACE(pass);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            MessagePumpHooks hooks;
            hooks.updateVideoProgress = [pass] {
                if (pass == Video) raise(SIGKILL);
            };
            hooks.dispatchMessages = [pass](int, bool*) {
                if ((pass == Audio && AudioPassActive) || (pass == Multiplex && MultiplexActive)) raise(SIGKILL);
                return 0;
            };
            SetMessagePumpHooks(hooks);
            RunEncoding(nullptr);
            _exit(3);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
        killed.push_back(child);
        // The killed job left its work files, and the user's output as it was.
        EXPECT_FALSE(FilesWith(".tmp-" + std::to_string(child) + "-").empty());
        EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
        // The passes before the killed one had finished their streams.
        EXPECT_EQ(fs::exists(dir_ / "tmp.m1v"), pass != Video);
        EXPECT_EQ(fs::exists(dir_ / "tmp.mp2"), pass == Multiplex);
    }
    // A job in another process that still runs keeps its work file.
    const std::string running = (dir_ / ("out.mpg.tmp-" + std::to_string(getppid()) + "-AbCdEf")).string();
    testsupport::WriteFile(running, "another job's stream");

    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, 0);
    for (pid_t pid : killed) EXPECT_EQ(FilesWith(".tmp-" + std::to_string(pid) + "-"), std::vector<std::string>());
    EXPECT_TRUE(fs::exists(running));
    EXPECT_GT(fs::file_size(dir_ / "out.mpg"), 10000u);
}

// A profile of stream type 5 names a transport stream, which the job does not write:
// the stream gets the name of its kind, beside the user's files, and the user is told.
TEST_F(JobLeftoversTest, AnOutputNamedAsATransportStreamGetsTheNameOfWhatIsWritten) {
    EncoderSettings.outputFileName = (dir_ / "out.ts").string();
    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, 0);
    EXPECT_FALSE(fs::exists(dir_ / "out.ts"));
    EXPECT_EQ(ReadFile(dir_ / "out.mpg"), earlier_);
    ASSERT_TRUE(fs::exists(dir_ / "out.ts.mpg"));
    std::string format;
    testsupport::RunCommand("ffprobe -v error -show_entries format=format_name -of csv=p=0 '" +
                                (dir_ / "out.ts.mpg").string() + "'",
                            &format);
    EXPECT_EQ(format, "mpeg\n");
    std::string shown;
    for (const std::string& t : boxes.Texts()) shown += t + "\n";
    EXPECT_NE(shown.find("written as an MPEG-1 system stream"), std::string::npos) << shown;
}

// An AVI cut in the middle of its pictures: the frames it still holds are encoded,
// and the user is told how many of the frames its headers name those were.
TEST_F(JobLeftoversTest, ACutAviSaysHowManyOfItsFramesWereRead) {
    const std::string avi = ReadFile(dir_ / "in.avi");
    testsupport::WriteFile(dir_ / "cut.avi", avi.substr(0, avi.size() / 2));
    EncoderSettingsRecord& e = EncoderSettings;
    e.inputFileName = (dir_ / "cut.avi").string();
    AviInfoTexts info;
    ASSERT_EQ(ProbeAviInputFile(e.inputFileName, &info), 1);
    e.framesToEncode = InputEndFrame - InputFirstFrame;
    ASSERT_GT(e.framesToEncode, 5);
    ASSERT_LT(e.framesToEncode, 40);
    platform::ScriptedMessageBoxes boxes;
    RunEncoding(nullptr);
    EXPECT_EQ(JobResult, 0);
    std::string shown;
    for (const std::string& t : boxes.Texts()) shown += t + "\n";
    EXPECT_NE(shown.find(std::to_string(e.framesToEncode) + " of the 40 frames"), std::string::npos) << shown;
}

}  // namespace
