// The batch run: what each kind of entry does, the log it leaves, the
// counts, stop requests and the closing summary.
#include <gtest/gtest.h>

#include <map>

#include "app/AppSettings.h"
#include "app/BatchList.h"
#include "app/BatchLog.h"
#include "app/BatchRunner.h"
#include "job/JobDriver.h"
#include "platform/MessageBox.h"
#include "settings/EncoderSettings.h"
#include "settings/JobState.h"
#include "settings/Report.h"
#include "settings/RunState.h"
#include "tests/support/TestSupport.h"

namespace {

struct FakeProfile {
    std::string description, input, output;
    int applicationType = kApplicationNone;
};

// Stands in for the program: profiles are records, jobs succeed unless their
// input is listed as failing.
class BatchRunnerTest : public ::testing::Test {
protected:
    void SetUp() override {
        EncoderSettings = EncoderSettingsRecord{};
        BatchStopRequested = 0;
        UserStopFlag = 0;
        BatchMode = 0;
        BatchLogFileName = (dir_ / "message.log").string();
        testsupport::WriteFile(BatchLogFileName, "");
        profiles_ = {{"Template", "/p/template.prf"}, {"Complete", "/p/complete.prf"}};
        files_["/p/template.prf"] = {"Template", "", "", 16};
        files_["/p/complete.prf"] = {"Complete", "/in/c.avi", "/out/c.mpg", 17};
        files_["/p/other.prf"] = {"Other", "/in/o.avi", "/out/o.mpg", 1};
        hooks_.loadProfile = [this](const std::string& path) {
            calls_.push_back("profile " + path);
            auto found = files_.find(path);
            if (found == files_.end()) return false;
            EncoderSettings.profileDescription = found->second.description;
            EncoderSettings.inputFileName = found->second.input;
            EncoderSettings.outputFileName = found->second.output;
            EncoderSettings.applicationType = found->second.applicationType;
            return true;
        };
        hooks_.loadInputFile = [this](const std::string& avi, const std::string& folder) {
            calls_.push_back("input " + avi + " -> " + folder);
            if (avi.find("unreadable") != std::string::npos) return false;
            EncoderSettings.inputFileName = avi;
            if (avi.find("mute") != std::string::npos) EncoderSettings.encodeAudio = 0;  // the form drops the sound
            EncoderSettings.applicationType = 99;  // the job may change it
            return true;
        };
        hooks_.runEntry = [this] {
            calls_.push_back("run " + EncoderSettings.inputFileName);
            bool fails = EncoderSettings.inputFileName.find("bad") != std::string::npos;
            if (stopAfterRuns_ > 0 && --stopAfterRuns_ == 0) BatchStopRequested = 1;
            FinishBatchEntry(true, fails ? 1 : 0);
        };
        hooks_.writeStatistics = [this] { calls_.push_back("stats"); };
    }
    void TearDown() override {
        BatchStopRequested = 0;
        BatchLogFileName = "message.log";
        BatchJobList.clear();
    }
    BatchCounts Run(const std::vector<std::string>& jobs) {
        return RunBatchJobList(jobs, profiles_, "/out/", hooks_);
    }
    std::string Log() const { return testsupport::ReadFile(BatchLogFileName); }

    testsupport::TempDir dir_;
    std::vector<BatchProfile> profiles_;
    std::map<std::string, FakeProfile> files_;
    BatchRunHooks hooks_;
    std::vector<std::string> calls_;
    int stopAfterRuns_ = 0;
};

TEST_F(BatchRunnerTest, TemplateProfileWithFourAviFiles) {
    // A job that fails after its passes names the streams it leaves (the sound's is gone).
    testsupport::WriteFile(EncoderSettings.tempVideoFileName = (dir_ / "t.m2v").string(), "stream");
    EncoderSettings.tempAudioFileName = (dir_ / "gone.mp2").string();
    TempVideoUsed = TempAudioUsed = 1;
    BatchCounts counts = Run({"*Template", "/in/a.avi", "/in/bad.avi", "/in/c.avi", "/in/mute.avi"});
    TempVideoUsed = TempAudioUsed = 0;
    EXPECT_EQ(counts.succeeded, 2);
    EXPECT_EQ(counts.failed, 1);  // bad.avi: no output, no statistics
    EXPECT_EQ(counts.withoutSound, 1);  // encoded, but without the sound the template asks for
    EXPECT_EQ(calls_, (std::vector<std::string>{"profile /p/template.prf", "input /in/a.avi -> /out/", "run /in/a.avi",
                                                "stats", "input /in/bad.avi -> /out/", "run /in/bad.avi",
                                                "input /in/c.avi -> /out/", "run /in/c.avi", "stats",
                                                "input /in/mute.avi -> /out/", "run /in/mute.avi", "stats"}));
    EXPECT_EQ(Log(),
              "\nLoaded profile:\nTemplate\n"
              "This profile will be used as a template \nfor the next AVI file(s) in the job list.\n\n"
              "AVI input file: /in/a.avi\n\n\nMPEG encoding completed successfully\n\n"
              "AVI input file: /in/bad.avi\n\n\nError encountered during batch encoding - this entry failed\n"
              "Please verify parameters of specified profile "
              "\nThe elementary streams encoded for this entry are left in place:\n " +
                  EncoderSettings.tempVideoFileName + "\n\n"
              "AVI input file: /in/c.avi\n\n\nMPEG encoding completed successfully\n\n"
              "AVI input file: /in/mute.avi\n\n\nMPEG encoding completed without sound: the AVI file has no sound, "
              "only the video stream was encoded, into \n\n");
    // Each AVI file starts from the template's application type.
    EXPECT_EQ(EncoderSettings.applicationType, kApplicationDvd);
}

TEST_F(BatchRunnerTest, CompleteProfilesRunThemselves) {
    // Followed by another profile file, and last in the list: each is a job.
    BatchCounts counts = Run({"/p/complete.prf", "/p/other.prf"});
    EXPECT_EQ(counts.succeeded, 2);
    EXPECT_EQ(counts.failed, 0);
    EXPECT_EQ(Log(),
              "\nLoaded profile:\n/p/complete.prf\nComplete\nInput file /in/c.avi\nOutput file /out/c.mpg\n"
              "\nMPEG encoding completed successfully\n\n"
              "\nLoaded profile:\n/p/other.prf\nOther\nInput file /in/o.avi\nOutput file /out/o.mpg\n"
              "\nMPEG encoding completed successfully\n\n");

    // Followed by an AVI file, a complete profile is only a template.
    calls_.clear();
    testsupport::WriteFile(BatchLogFileName, "");
    counts = Run({"*Complete", "/in/x.avi"});
    EXPECT_EQ(counts.succeeded, 1);
    EXPECT_EQ(calls_, (std::vector<std::string>{"profile /p/complete.prf", "input /in/x.avi -> /out/",
                                                "run /in/x.avi", "stats"}));
    EXPECT_EQ(Log().rfind("\nLoaded profile:\nComplete\nThis profile will be used as a template", 0), 0u);
}

TEST_F(BatchRunnerTest, ProfilesThatCannotBeUsed) {
    files_["/p/template.prf"].description = "";
    BatchCounts counts = Run({"*Missing", "/p/gone.prf", "/in/unreadable.avi", "/p/template.prf"});
    // Unknown and unreadable profiles are skipped, an AVI file that cannot be
    // taken counts as failed, a last incomplete profile is only a warning.
    EXPECT_EQ(counts.succeeded, 0);
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(Log(),
              "\nError\nCan't find required profile\n *Missing \nin the profile list\n\n"
              "Failure to read profile file: /p/gone.prf"
              "\n"
              "\nLoaded profile:\n/p/template.prf\n"
              "Warning: profile does not specify input \nand output file names. Profile is the last \n"
              "in the job list and can't be used \nas a template for the next AVI files.\n\n");
}

TEST_F(BatchRunnerTest, EntryKindsIgnoreCase) {
    profiles_.push_back({"T", "/p/template.prf"});
    // A one-letter description is looked up like any other; an unknown one is
    // skipped without a count, and upper-case extensions are recognised.
    BatchCounts counts = Run({"*x", "*T", "/in/X.AVI", "/P/COMPLETE.PRF"});
    EXPECT_EQ(counts.succeeded, 1);
    EXPECT_EQ(counts.failed, 0);  // the profile file the fake loader does not know is only logged
    EXPECT_EQ(calls_, (std::vector<std::string>{"profile /p/template.prf", "input /in/X.AVI -> /out/",
                                                "run /in/X.AVI", "stats", "profile /P/COMPLETE.PRF"}));
    EXPECT_EQ(Log().rfind("\nError\nCan't find required profile\n *x \nin the profile list\n\n", 0), 0u);
}

TEST_F(BatchRunnerTest, StopRequestEndsTheRun) {
    stopAfterRuns_ = 2;
    BatchCounts counts = Run({"*Template", "/in/a.avi", "/in/b.avi", "/in/c.avi", "/in/d.avi"});
    // The second job was stopped: no failure and no statistics; the rest never started.
    EXPECT_EQ(counts.succeeded, 1);
    EXPECT_EQ(counts.failed, 0);
    EXPECT_TRUE(counts.stopped);
    EXPECT_EQ(calls_.back(), "run /in/b.avi");
    EXPECT_EQ(std::count(calls_.begin(), calls_.end(), "stats"), 1);
    EXPECT_NE(Log().find("\nBatch MPEG encoding aborted by user.\n"), std::string::npos);

    BatchStopRequested = 0;
    UserStopFlag = 1;
    FinishBatchEntry(true, 0);
    EXPECT_EQ(BatchJobSucceeded, 0);
    EXPECT_NE(Log().find("\nBatch MPEG encoding aborted by user\n"), std::string::npos);
    UserStopFlag = 0;
    FinishBatchEntry(false, 0);
    EXPECT_EQ(BatchJobSucceeded, 0);
    FinishBatchEntry(true, 0);
    EXPECT_EQ(BatchJobSucceeded, 1);
}

TEST_F(BatchRunnerTest, WholeProcessWithSummary) {
    platform::ScriptedMessageBoxes boxes;
    boxes.Answer(platform::MbAnswer::Yes);
    BatchJobList = {"/in/a.avi", "/in/bad.avi"};
    BatchStartRequest request;
    request.selectedIndex = 0;
    request.selectedDescription = "Template";
    request.outputFolder = dir_.path().string();
    std::string opened;
    int modeDuringRun = -1;
    int ends = 0;
    BatchProcessHooks hooks{hooks_, [&](const std::string& log) { opened = log; }, [&] { ++ends; }};
    hooks.run.runEntry = [&] {
        modeDuringRun = BatchMode;
        hooks_.runEntry();
    };
    BatchCounts counts = RunBatchProcess(request, profiles_, hooks);
    EXPECT_EQ(counts.succeeded, 1);
    EXPECT_EQ(counts.failed, 1);
    EXPECT_EQ(modeDuringRun, 2);
    EXPECT_EQ(ends, 1);
    EXPECT_EQ(BatchMode, 0);
    EXPECT_EQ(BatchLogFileName, (dir_.path() / "message.log").string());
    EXPECT_EQ(opened, BatchLogFileName);
    EXPECT_EQ(calls_[1], "input /in/a.avi -> " + dir_.path().string() + "/");
    EXPECT_EQ(Log().rfind("Begin Batch Process Using Profile: \nTemplate\nOutput path: " + dir_.path().string() +
                          "\nAVI input file: /in/a.avi\n\n", 0),
              0u);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].buttons, platform::MbButtons::YesNo);
    EXPECT_EQ(boxes.Texts()[0],
              "Batch process completed.\n\n1 file encoded successfully.\n 1 file failed to encode.\n "
              "\nWould you like to view detail for\nbatch process?");

    // A relative folder names the folder below the current directory, made absolute before anything runs;
    // a list that begins with a profile of its own names that one first, not the start profile.
    {
        boxes.Clear();
        boxes.Answer(platform::MbAnswer::No);
        const std::filesystem::path previous = std::filesystem::current_path();
        std::filesystem::create_directory(dir_.path() / "rel");
        std::filesystem::current_path(dir_.path());
        request.outputFolder = "rel";
        BatchJobList = {"*Complete", "/in/a.avi"};
        RunBatchProcess(request, profiles_, hooks);
        std::filesystem::current_path(previous);
        EXPECT_EQ(BatchOutputFolder, (dir_.path() / "rel").string());
        EXPECT_EQ(BatchLogFileName, (dir_.path() / "rel" / "message.log").string());
        EXPECT_EQ(Log().find("Begin Batch Process Using Profile: \nComplete\nOutput path: " + BatchOutputFolder), 0u);
        request.outputFolder = dir_.path().string();
        BatchLogFileName = (dir_ / "message.log").string();
    }

    // A start profile that cannot be read is logged after the log's opening lines.
    boxes.Clear();
    boxes.Answer(platform::MbAnswer::No);
    opened.clear();
    files_.erase("/p/template.prf");
    BatchJobList.clear();
    RunBatchProcess(request, profiles_, hooks);
    EXPECT_TRUE(opened.empty());
    EXPECT_NE(Log().find("\nFailure to read profile file: /p/template.prf"), std::string::npos);

    // A selected description that does not hold the profile's: no start profile.
    boxes.Clear();
    calls_.clear();
    request.selectedDescription = "Something else";
    RunBatchProcess(request, profiles_, hooks);
    ASSERT_EQ(boxes.Texts().size(), 2u);
    EXPECT_EQ(boxes.Texts()[0], "Failed to find profile");
    EXPECT_TRUE(calls_.empty());
}

TEST_F(BatchRunnerTest, OneBatchJobThroughTheView) {
    platform::ScriptedMessageBoxes boxes;
    int encodingActive = 0;
    bool previewOpen = false, applies = true;
    int result = 0, statusText = -1, activeDuringJob = -1;
    BatchEntryHooks hooks;
    hooks.previewWindowOpen = [&] { return previewOpen; };
    hooks.encodingActive = &encodingActive;
    hooks.applyToParameters = [&] { return applies; };
    hooks.runEncoding = [&] {
        activeDuringJob = encodingActive;
        return result;
    };
    hooks.restoreViews = [&](int id) { statusText = id; };
    EncoderSettings.horizontalSize = 480;
    EncoderSettings.verticalSize = 576;

    RunBatchEntry(hooks);
    EXPECT_EQ(BatchJobSucceeded, 1);
    EXPECT_EQ(activeDuringJob, 1);
    EXPECT_EQ(encodingActive, 0);
    EXPECT_EQ(PreviewWidth, 480);
    EXPECT_EQ(PreviewHeight, 576);
    EXPECT_EQ(statusText, 64171);  // the form comes back after every job

    result = 3;
    RunBatchEntry(hooks);
    EXPECT_EQ(BatchJobSucceeded, 0);
    EXPECT_EQ(statusText, 64170);

    // A stop during the job brings the form back with the matching status.
    hooks.runEncoding = [&] {
        BatchStopRequested = 1;
        return 0;
    };
    RunBatchEntry(hooks);
    EXPECT_EQ(statusText, 64171);
    EXPECT_EQ(BatchJobSucceeded, 0);
    BatchStopRequested = 0;

    applies = false;
    activeDuringJob = -1;
    hooks.runEncoding = [&] { return activeDuringJob = 1; };
    RunBatchEntry(hooks);
    EXPECT_EQ(activeDuringJob, -1);
    EXPECT_EQ(BatchJobSucceeded, 0);

    applies = true;
    encodingActive = 1;
    RunBatchEntry(hooks);
    EXPECT_EQ(activeDuringJob, -1);
    encodingActive = 0;

    // A paused interactive encoding is released and the entry fails.
    RunState = 2;
    PauseFlag = 1;
    RunBatchEntry(hooks);
    EXPECT_EQ(PauseFlag, 0);
    EXPECT_EQ(activeDuringJob, -1);
    RunState = 1;

    previewOpen = true;
    RunBatchEntry(hooks);
    EXPECT_EQ(activeDuringJob, -1);
    EXPECT_EQ(boxes.Texts(), std::vector<std::string>{"Please close video preview windows\nbefore encoding MPEG file."});
    EXPECT_EQ(Log(),
              "\nMPEG encoding completed successfully\n"
              "\nError encountered during batch encoding - this entry failed\nPlease verify parameters of specified "
              "profile "
              "\nBatch MPEG encoding aborted by user.\n"
              "\nError encountered during batch encoding - this entry failed\nPlease verify parameters of specified "
              "profile ");
}

TEST_F(BatchRunnerTest, SummaryTexts) {
    EXPECT_EQ(BatchSummaryText(0, 2),
              "Batch process completed.\n\n0 files encoded successfully.\n 2 files failed to encode.\n "
              "\nWould you like to view detail for\nbatch process?");
    EXPECT_EQ(FindBatchProfileIndex({{"a", ""}, {"b", ""}, {"a", ""}}, "a", 0), 2);
    EXPECT_EQ(FindBatchProfileIndex({{"a", ""}}, "z", 0), 0);

    BatchProfileIndex = 0;
    BatchOutputFolder = "/last";
    BatchStartRequest request = InitialBatchRequest(profiles_, "Complete");
    EXPECT_EQ(request.selectedIndex, 1);
    EXPECT_EQ(BatchProfileIndex, 1);
    EXPECT_EQ(request.selectedDescription, "Complete");
    EXPECT_EQ(request.outputFolder, "/last");
    EXPECT_TRUE(request.suppressErrors);
    request = InitialBatchRequest(profiles_, "Unknown");
    EXPECT_EQ(request.selectedIndex, 1);  // the last batch's choice stays
    EXPECT_EQ(request.selectedDescription, "Template");
    BatchOutputFolder.clear();
    BatchProfileIndex = 0;
}

TEST_F(BatchRunnerTest, StatisticsReport) {
    EncoderSettingsRecord settings;
    settings.profileDescription = "Desc";
    settings.inputFileName = "/in/a.avi";
    settings.outputFileName = "/out/a.mpg";
    settings.rateControl = kRateConstant;
    settings.bitRate = 1500000.9;
    settings.performanceMode = 3;
    auto lines = StatisticsReportLines(settings, 320, 240, 87.456, 100.0);
    EXPECT_EQ(lines, (std::vector<std::string>{"\nEncoding statistics information:\n", "Input file /in/a.avi\n",
                                               "Input file frame format 320 x 240\n", "Output file /out/a.mpg\n",
                                               "Output file frame format 352 x 240\n",
                                               "Constant bit rate  1500000 bits/sec\n",
                                               "Encoder performance mode 3 \n", "Average quality      87.46\n"}));

    // Variable bit rate with limits: the limits are truncated like the rates.
    settings.rateControl = kRateVariable;
    settings.vbrMode = kVbrQuantWithinAverage;
    settings.maxBitRate = 2500000.7;
    settings.averageBitRateLower = 1000.9;
    settings.averageBitRateUpper = 2000.9;
    settings.constantQuantScale = 6;
    settings.profileDescription.clear();
    lines = StatisticsReportLines(settings, 1, 2, 0.0, 55.5);
    EXPECT_EQ(lines, (std::vector<std::string>{
                         "Input file /in/a.avi\n", "Input file frame format 1 x 2\n", "Output file /out/a.mpg\n",
                         "Output file frame format 352 x 240\n",
                         "Variable bit rate\n\tmaximum bit rate  2500000 bits/sec\n",
                         "Quntization scale 6 and limits of average bit rate \n\tlower limit of average bit rate "
                         "1000\n\tupper limit of average bit rate 2000\n",
                         "Encoder performance mode 3 \n", "Minimum quality      55.50\n"}));
}

}  // namespace
