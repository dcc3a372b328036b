// Reporting, run state and pumps, and the job utilities.
#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

#include "engine/EngineState.h"
#include "platform/MessageBox.h"
#include "platform/ResStrings.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/JobUtil.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

using platform::ScriptedMessageBoxes;
using testsupport::ReadFile;
using testsupport::TempDir;

namespace {
struct BatchModeScope {
    explicit BatchModeScope(int mode, const std::string& log) {
        BatchMode = mode;
        BatchLogFileName = log;
    }
    ~BatchModeScope() { BatchMode = 0; }
};
}  // namespace

TEST(Report, FatalErrorShowsBoxAndUnwindsOnlyTheArmingThread) {
    ScriptedMessageBoxes boxes;
    ReportFatalError("not armed");  // returns
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].caption, " Tessmar ");
    EXPECT_EQ(boxes.Shown()[0].icon, platform::MbIcon::Stop);

    int caught = 0;
    try {
        EncoderJumpArm arm;
        EXPECT_EQ(EncoderJumpArmed, 1);
        // A worker never unwinds to the step's target.
        std::thread([] { EXPECT_FALSE(EncoderJumpArmedHere()); }).join();
        ReportFatalError("armed");
        ADD_FAILURE() << "must not return";
    } catch (const EncoderJump& j) {
        caught = j.value;
    }
    EXPECT_EQ(caught, 2);
    EXPECT_EQ(EncoderJumpArmed, 0);  // disarmed on the way out
}

TEST(Report, NestedArmsRestoreTheOuterTarget) {
    EncoderJumpArm outer;
    { EncoderJumpArm inner; }
    EXPECT_TRUE(EncoderJumpArmedHere());
}

TEST(Report, BatchModeWritesTheLogNotBoxes) {
    TempDir dir;
    ScriptedMessageBoxes boxes;
    BatchModeScope batch(2, (dir / "message.log").string());
    EncoderSettings.inputFileName = "clip 50%.avi";
    testing::internal::CaptureStderr();
    ReportFatalError("Bad value 100%s");
    ShowWarningMessage("warn");
    LogConstrainedMessage("constrained");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Bad value 100%s\nwarn\n");
    EXPECT_TRUE(boxes.Shown().empty());
    EXPECT_EQ(ReadFile(dir / "message.log"),
              "Batch File clip 50%.avi message:\nBad value 100%s\n"
              "Batch File clip 50%.avi message:\nwarn\n"
              "Batch File clip 50%.avi Constrained message:\nconstrained\n");
    EncoderSettings.inputFileName.clear();
}

TEST(Report, AudioWriteErrorStopsTheRun) {
    ScriptedMessageBoxes boxes;
    RunState = 2;
    EncodeAbortFlag = 0;
    ReportAudioWriteError();
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(EncodeAbortFlag, 1);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text,
              "Program cannot write data to MPEG audio file.\nNo space left on device or system write error. ");
    ReportAudioWriteError();  // already stopped: no second box
    EXPECT_EQ(boxes.Shown().size(), 1u);
    RunState = 1;
    EncodeAbortFlag = 0;
}

TEST(RunStateTest, StopRequests) {
    int beeps = platform::BeepCount();
    RunState = 1;
    PauseFlag = 1;
    RequestStopEncoding();
    EXPECT_EQ(RunState, 1);
    EXPECT_EQ(PauseFlag, 0);
    EXPECT_EQ(platform::BeepCount(), beeps);

    VideoEngineStage = 2;  // output under examination: only that stage ends
    RunState = 2;
    RequestStopEncoding();
    EXPECT_EQ(VideoEngineStage, 0);
    EXPECT_EQ(RunState, 2);

    RequestStopEncoding();
    EXPECT_EQ(RunState, 3);
    EXPECT_EQ(UserStopFlag, 1);
    EXPECT_EQ(platform::BeepCount(), beeps + 1);
    RunState = 1;
    UserStopFlag = 0;
}

TEST(RunStateTest, FileReadyMask) {
    JobReadyMask = 0;
    JobFilesReady = 0;
    SetJobFileReady(1);
    EXPECT_EQ(JobFilesReady, 0);
    SetJobFileReady(2);
    EXPECT_EQ(JobFilesReady, 1);
    EXPECT_EQ(RunState, 1);
}

TEST(RunStateTest, MotionSearchPumpLeavesTheArmedStepOnStop) {
    RunState = 3;
    PumpMessagesDuringMotionSearch();  // not armed: returns
    int value = 0;
    try {
        EncoderJumpArm arm;
        PumpMessagesDuringMotionSearch();
    } catch (const EncoderJump& j) {
        value = j.value;
    }
    EXPECT_EQ(value, 1);
    RunState = 1;
}

TEST(RunStateTest, StopWhilePausedInTheAudioPass) {
    RunState = 2;
    PauseFlag = 1;
    AudioAbortFlag = 0;
    int dispatched = 0, refreshed = 0;
    MessagePumpHooks hooks;
    hooks.dispatchMessages = [&](int, bool*) {
        // The user presses Stop while the pump holds the pause.
        if (++dispatched == 3) RequestStopEncoding();
        return 1;
    };
    hooks.updateAudioProgress = [&] { ++refreshed; };
    SetMessagePumpHooks(hooks);
    AudioPassStartMs = GetElapsedMilliseconds();
    EXPECT_EQ(PumpMessagesDuringAudio(), 1);  // the pause loop ends with the stop
    EXPECT_EQ(dispatched, 3);
    EXPECT_EQ(refreshed, 1);
    EXPECT_EQ(PumpMessagesDuringAudio(), 0);  // the next call stops the pass
    MultiplexFinished = 0;
    EXPECT_EQ(PumpMessagesDuringMultiplex(), 0);

    RunState = 2;
    hooks.dispatchMessages = [](int, bool* quit) {
        *quit = true;
        return 1;
    };
    SetMessagePumpHooks(hooks);
    EXPECT_EQ(PumpMessagesDuringMultiplex(), 0);  // a quit request ends the pass
    SetMessagePumpHooks({});
    RunState = 1;
}

TEST(JobUtil, GuardedBlocks) {
    ScriptedMessageBoxes boxes;
    FreeAligned(nullptr);  // accepted quietly
    for (size_t n : {1u, 15u, 4096u}) {
        auto* p = static_cast<unsigned char*>(AllocAligned(n));
        ASSERT_NE(p, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 16, 0u);
        p[n - 1] = 1;
        int before = FreeCount;
        FreeAligned(p);
        EXPECT_EQ(FreeCount, before + 1);
    }
    EXPECT_TRUE(boxes.Shown().empty());

    auto* p = static_cast<uintptr_t*>(AllocAligned(64));
    uintptr_t saved = p[-1];
    p[-1] ^= 0x10;  // damage the complement word
    int before = FreeCount;
    FreeAligned(p);
    EXPECT_EQ(FreeCount, before);  // not freed through damaged words
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, "Low buffer margin is corrupted.");
    EXPECT_EQ(boxes.Shown()[0].caption, " Memory error detected. ");
    p[-1] = saved;
    FreeAligned(p);
    EXPECT_EQ(FreeCount, before + 1);
    EXPECT_EQ(boxes.Shown().size(), 1u);
}

TEST(JobUtil, FreeSpaceWatchInterval) {
    TempDir dir;
    std::string out = (dir / "out.m2v").string();
    EncoderSettings.noCheckSpace = 0;
    EncoderSettings.bitRate = 1550000.0;
    CheckOutputDiskSpace(out, 0);
    EXPECT_EQ(FreeSpaceWatchArmed, 1);
    EXPECT_EQ(FreeSpaceCheckInterval, 80);
    EXPECT_EQ(FreeSpaceWatchRoot, dir.path().string());
    EncoderSettings.bitRate = 124000000.0;
    CheckOutputDiskSpace(out, 1);
    EXPECT_EQ(FreeSpaceCheckInterval, 3);
    EncoderSettings.bitRate = 6000000.0;
    CheckOutputDiskSpace(out, 1);
    EXPECT_EQ(FreeSpaceCheckInterval, 20);
    CheckOutputDiskSpace(out, 2);
    EXPECT_EQ(FreeSpaceWatchArmed, 0);
    EncoderSettings.noCheckSpace = 1;
    CheckOutputDiskSpace(out, 0);
    EXPECT_EQ(FreeSpaceWatchArmed, 0);
    EncoderSettings.noCheckSpace = 0;
    EXPECT_GT(FreeDiskBytes(out), 0);
}

TEST(JobUtil, OutputCheckAfterVideoPass) {
    TempDir dir;
    ScriptedMessageBoxes boxes;
    VideoOutputPath = (dir / "missing.m2v").string();
    VideoStreamReady = 0;
    CheckOutputFileAfterEncoding();
    EXPECT_EQ(VideoEngineStage, 2);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].text, LoadResString(63599));

    testsupport::WriteFile(dir / "empty.m2v", "");
    VideoOutputPath = (dir / "empty.m2v").string();
    CheckOutputFileAfterEncoding();
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_EQ(boxes.Shown()[1].text, "Output MPEG video file has zero length.");

    testsupport::WriteFile(dir / "ok.m2v", std::string(101, 'x'));
    VideoOutputPath = (dir / "ok.m2v").string();
    VideoSequenceState = 2;
    EncodeAbortFlag = 0;
    CheckOutputFileAfterEncoding();
    EXPECT_EQ(VideoOutputSize, 101);
    EXPECT_EQ(VideoStreamReady, 1);
    EXPECT_EQ(boxes.Shown().size(), 2u);
    VideoSequenceState = 0;
    VideoEngineStage = 0;
    RunState = 1;
}

TEST(JobUtil, FileCreationDiagnosis) {
    std::string out;
    CheckPathDrive(out, "/no/such/folder/x.m2v", ENOENT);
    EXPECT_EQ(out, "\nIllegal directory or file name. \nPlease correct directory or file name. ");
    out = "prefix";
    CheckPathDrive(out, "/full/x.m2v", ENOSPC);
    EXPECT_EQ(out, "prefix\nNo space left on device or\nwrite permission denied.");
    out.clear();
    CheckPathDrive(out, "/ro/x.m2v", EACCES);
    EXPECT_EQ(out, "\nPermission denied. File or device is read only. ");
    out.clear();
    CheckPathDrive(out, "ab", ENOENT);  // too short to say anything
    EXPECT_EQ(out, "");
    // The real cause, not a CD-ROM or a network drive.
    out.clear();
    CheckPathDrive(out, "/mnt/ro/x.m2v", EROFS);
    EXPECT_EQ(out.substr(0, 23), "\nRead-only file system.");
    TempDir dir;
    const std::string longName = (dir / std::string(300, 'n')).string();
    ASSERT_EQ(std::fopen(longName.c_str(), "wb"), nullptr);
    const int error = errno;
    out.clear();
    CheckPathDrive(out, longName, error);
    EXPECT_EQ(out.substr(0, 20), "\nFile name too long.");
}

TEST(JobUtil, SmallHelpers) {
    int32_t m[64];
    for (int i = 0; i < 64; ++i) m[i] = i;
    Transpose8x8(m);
    EXPECT_EQ(m[1], 8);
    EXPECT_EQ(m[8 * 7 + 2], 2 * 8 + 7);
    Transpose8x8(m);
    for (int i = 0; i < 64; ++i) EXPECT_EQ(m[i], i);

    TempDir dir;
    testsupport::WriteFile(dir / "f", "12345");
    EXPECT_EQ(GetFileSizeByName((dir / "f").string()), 5);
    EXPECT_EQ(GetFileSizeByName((dir / "none").string()), -1);
    EXPECT_EQ(GetFileSizeByName(dir.path().string()), -1);  // a folder is no readable file
    EXPECT_EQ(DebugPrintf("%d-%s", 7, "x"), 3);
}
